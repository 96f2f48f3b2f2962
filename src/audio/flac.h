#pragma once
// FLAC: stream properties from STREAMINFO, tags from the Vorbis comment block.
#include <cstdint>
#include <string>

#include "audio/stream_props.h"
#include "audio/tag_fields.h"

class TBinaryReader;
class TBufferedFile;

// The tags (TTagFields, UTF-8) come from the Vorbis comment block; the
// stream values (TStreamProps) from STREAMINFO, the bit rate left unknown.
class TFlacFile : public TTagFields, public TStreamProps {
public:
    // True when the file starts with "fLaC" (the metadata blocks have then
    // been read); false otherwise, all values staying empty. Raises EOSError
    // "Cannot open file %s" when the file cannot be opened.
    bool ReadFromFile(const std::string& path);
    // The stream may start after a leading ID3v2 tag, at offset.
    bool ReadFrom(TBufferedFile& file, std::uint64_t offset = 0);

    bool HasComments = false;
    std::int32_t BitsPerSample = 0;
    std::uint64_t Samples = 0;  // total samples (36 bits)

private:
    void Reset();
    void ReadStreamInfo(TBinaryReader& in);
};
