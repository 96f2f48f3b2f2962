#pragma once
// Vorbis comments, the tags of FLAC, Ogg Vorbis, Opus, Speex and Ogg FLAC:
// one parser for the list of NAME=value entries, and one short selection of
// the record's values per family of formats.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/tag_fields.h"

// Where the parser reads from: a FLAC metadata block, or an Ogg packet that
// may run over many pages.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    // Up to n bytes; fewer only at the end of the source.
    virtual std::size_t Read(void* dst, std::size_t n) = 0;
    // Skips up to n bytes and returns how many were skipped.
    virtual std::uint64_t Skip(std::uint64_t n) = 0;
};

struct TVorbisEntry {
    std::string name;      // upper case
    std::string value;     // raw bytes, at most the parser's value limit
    bool cut = false;      // the value was longer than the limit
};

struct TVorbisComments {
    std::string vendor;
    std::vector<TVorbisEntry> entries;  // in file order
};

// Reads the vendor string and the entries. Pictures
// (METADATA_BLOCK_PICTURE) and other huge values are skipped past, so the
// entries after them are read; a source that ends early keeps the entries
// read before.
constexpr std::size_t kVorbisValueLimit = 65536;
TVorbisComments ParseVorbisComments(TByteSource& in, std::size_t valueLimit = kVorbisValueLimit);

// The rules each family applies to the entries:
// - Flac: the first entry of a name counts; TRACK, else TRACKNUMBER.
// - Ogg (Vorbis, Opus, Speex and FLAC in Ogg): the last entry of a name
//   counts; each entry is cut to its first 250 bytes and trimmed, and a value
//   ends at a zero byte; PERFORMER stands in for an empty ARTIST and
//   DESCRIPTION for an empty COMMENT; the track number is kept below 256.
// Both: values that are not UTF-8 read as ISO-8859-1; ALBUMARTIST (or
// "ALBUM ARTIST"), DISCNUMBER, ARTISTSORT, ALBUMARTISTSORT and COMPILATION.
enum class TVorbisRules { Flac, Ogg };
void SelectVorbisTags(const TVorbisComments& comments, TVorbisRules rules, TTagFields& tags);

class TBufferedFile;

// A byte source over the bytes [begin, end) of a file.
class TFileRangeSource : public TByteSource {
public:
    TFileRangeSource(TBufferedFile& file, std::uint64_t begin, std::uint64_t end)
        : file_(file), pos_(begin), end_(end) {}
    std::size_t Read(void* dst, std::size_t n) override;
    std::uint64_t Skip(std::uint64_t n) override;

private:
    TBufferedFile& file_;
    std::uint64_t pos_;
    std::uint64_t end_;
};

// A byte source over a block of memory.
class TMemorySource : public TByteSource {
public:
    explicit TMemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::size_t Read(void* dst, std::size_t n) override;
    std::uint64_t Skip(std::uint64_t n) override;

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};
