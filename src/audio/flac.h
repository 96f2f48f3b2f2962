#pragma once
// FLAC: stream properties from STREAMINFO, tags from the Vorbis comment block.
#include <cstdint>
#include <string>

class TBufferedFile;

class TFlacFile {
public:
    // True when the file starts with "fLaC" (the metadata blocks have then
    // been read); false otherwise, all values staying empty. Raises EOSError
    // "Cannot open file %s" when the file cannot be opened.
    bool ReadFromFile(const std::string& path);
    bool ReadFrom(TBufferedFile& file);

    bool HasComments = false;
    std::string Title, Artist, Album, Date, Genre, Comment;  // UTF-8
    std::int32_t Track = 0;
    std::int32_t Duration = 0;  // whole seconds, 0 when unknown
    std::int32_t BitsPerSample = 0;
    std::int32_t SampleRate = 0;
    std::int32_t Channels = 0;
    std::uint64_t Samples = 0;  // total samples (36 bits)

private:
    void Reset();
};
