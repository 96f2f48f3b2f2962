#pragma once
// ID3 tags: the ID3v2 reader, the ID3v1 reader and the ID3v2 size probe.
// All three only read.
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/tag_fields.h"

class TBufferedFile;
class TBinaryReader;

// The ID3v1 genre list with the common extension: 148 names, numbered from 0.
constexpr int kID3GenreCount = 148;
const char* ID3GenreName(int index);  // nullptr outside 0 to 147

// The tag values (TTagFields) are UTF-8.
class TID3v2 : public TTagFields {
public:
    // Reads the tag at the start of the file; true when its first 10 bytes
    // could be read. Never raises.
    bool ReadFromFile(const std::string& path);
    bool ReadFrom(TBufferedFile& file);
    // The same for a tag at offset (the ID3 chunk of AIFF, WAV or DSF files).
    bool ReadAt(TBufferedFile& file, std::uint64_t offset);

    bool Exists = false;
    std::uint8_t VersionID = 0;
    std::int32_t Size = 0;  // total tag size, 0 when the file is shorter

private:
    void Reset();
};

class TID3v1Tag : public TTagFields {
public:
    // Reads the tag in the last 128 bytes of the file; raises EOSError when the
    // file cannot be opened.
    void ReadFromFile(const std::string& path);
    void ReadFrom(TBufferedFile& file);
    // The tag in the last 128 of the count bytes from the reader's position.
    void ReadFromStream(TBinaryReader& stream, std::uint64_t count);

    bool Exists = false;
    std::uint8_t GenreID = 0;
};

class TID3v2Tag {
public:
    // Probes count bytes from the reader's position for an ID3v2 tag that
    // holds frames; the position after the call is unspecified.
    void ReadFromStream(TBinaryReader& stream, std::uint64_t count);
    void Clear() { totalSize_ = 0; }
    // Header size plus 10 when the tag has frames, else 0.
    std::int64_t TotalSize() const { return totalSize_; }

private:
    std::int64_t totalSize_ = 0;
};

// Decodes an ID3v2 text value: the encoding byte first (0 ISO-8859-1,
// 1 UTF-16 with byte-order mark, 2 UTF-16BE, 3 UTF-8), then the text; the
// result is UTF-8 without leading and trailing blanks and control characters.
std::string DecodeID3Text(std::string_view value);
