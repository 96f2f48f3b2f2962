#pragma once
// Ogg Vorbis: stream properties from the identification header, tags from the
// comment header, the sample count from the last page.
#include <cstdint>
#include <string>

#include "audio/stream_props.h"
#include "audio/tag_fields.h"

class TBufferedFile;
class TOggPackets;

// The tags (TTagFields, UTF-8, each cut at its first zero byte) come from the
// comment header. Of the stream values (TStreamProps), the playing time comes
// from the sample count or, without one, from the nominal bit rate; the bit
// rate is the average over the whole file, tags included.
class TOggVorbis : public TTagFields, public TStreamProps {
public:
    // True when the file (after a leading ID3v2 tag) starts with an Ogg page
    // holding the Vorbis identification header; false otherwise, all values
    // staying empty. Raises EOSError when the file cannot be opened.
    bool ReadFromFile(const std::string& path);
    bool ReadFrom(TBufferedFile& file);

    std::int64_t FileSize = 0;
    std::uint16_t BitRateNominal = 0;  // kbit/s, as the identification header gives it
    std::int32_t Samples = 0;          // low 32 bits of the last page's granule position
    std::int64_t ID3v2Size = 0;
    std::string Vendor;

private:
    void Reset();
    void ReadComments(TOggPackets& packets);
    void WorkOutStream();
};
