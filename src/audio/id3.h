#pragma once
// ID3 tags: the ID3v2 reader, the ID3v1 reader and the ID3v2 size probe.
// All three only read.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "audio/tag_fields.h"

class TBufferedFile;
class TBinaryReader;

// The ID3v1 genre list with the common extension: 148 names, numbered from 0.
constexpr int kID3GenreCount = 148;
const char* ID3GenreName(int index);  // nullptr outside 0 to 147

// The 10 bytes that open an ID3v2 tag: the one place that knows how large a
// tag is.
struct TID3v2Header {
    static constexpr std::size_t kSize = 10;
    static constexpr std::size_t kFooterSize = 10;
    static constexpr std::uint8_t kFooterFlag = 0x10;

    std::uint8_t Version = 0;  // the 3 of ID3v2.3
    std::uint8_t Revision = 0;
    std::uint8_t Flags = 0;
    // Bytes between header and footer, bit 7 of each size byte ignored.
    std::uint32_t BodySize = 0;
    // The size bytes as they stand: larger than BodySize when a size byte has
    // bit 7 set, so a broken size never makes a tag shorter than it claims.
    std::uint64_t StoredBodySize = 0;
    bool SyncSafe = true;  // no size byte has bit 7 set

    bool HasFooter() const { return (Flags & kFooterFlag) != 0; }
    // Header, body and footer, from the stored size.
    std::uint64_t TotalSize() const { return kSize + StoredBodySize + (HasFooter() ? kFooterSize : 0); }
};

// The header at the start of bytes; empty when there are fewer than 10 bytes
// or they do not begin with "ID3".
std::optional<TID3v2Header> ParseID3v2Header(const unsigned char* bytes, std::size_t count);
std::optional<TID3v2Header> ParseID3v2Header(std::string_view bytes);

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
    // The whole tag's size (footer included) when it has frames, else 0.
    std::int64_t TotalSize() const { return totalSize_; }

private:
    std::int64_t totalSize_ = 0;
};

// Decodes an ID3v2 text value: the encoding byte first (0 ISO-8859-1,
// 1 UTF-16 with byte-order mark, 2 UTF-16BE, 3 UTF-8), then the text; the
// result is UTF-8 without leading and trailing blanks and control characters.
std::string DecodeID3Text(std::string_view value);
