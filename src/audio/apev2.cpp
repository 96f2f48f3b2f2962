// Finds and reads an APEv2 tag at the end of a file.
#include "audio/apev2.h"

#include <algorithm>
#include <cstring>

#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/text_codec.h"
#include "base/byte_order.h"
#include "base/shared_functions.h"

namespace {

// Header and footer: "APETAGEX", version, size (items and footer), item
// count, flags, 8 reserved bytes.
constexpr std::size_t kFooterSize = 32;
constexpr std::size_t kSizeOffset = 12, kCountOffset = 16, kFlagsOffset = 20;
constexpr std::uint32_t kHasHeader = 0x80000000u;
constexpr std::size_t kID3v1Size = 128;
// Items: value size, flags, a key ended by a zero byte, the value.
constexpr std::size_t kItemHeaderSize = 8;
constexpr std::uint32_t kKindMask = 0x6, kBinaryKind = 0x2;
constexpr std::size_t kMaxKey = 255;
constexpr std::size_t kMaxText = 65536;
// A tag larger than this is broken.
constexpr std::uint64_t kMaxTagSize = std::uint64_t{64} << 20;
constexpr std::uint32_t kMaxItems = 1u << 16;

enum Key { kTitle, kArtist, kAlbum, kYear, kComment, kTrack, kGenre, kAlbumArtist, kAlbumArtistSpaced, kDisc,
           kArtistSort, kAlbumArtistSort, kCompilation, kKeyCount };
const char* const kKeys[kKeyCount] = {"TITLE", "ARTIST", "ALBUM", "YEAR", "COMMENT", "TRACK", "GENRE", "ALBUMARTIST",
                                      "ALBUM ARTIST", "DISC", "ARTISTSORT", "ALBUMARTISTSORT", "COMPILATION"};

// Where the footer is: at the end, or before an ID3v1 tag.
bool FindFooter(TBufferedFile& file, std::uint64_t& at, unsigned char* footer) {
    const std::uint64_t size = file.Size();
    for (std::uint64_t end : {size, size >= kID3v1Size ? size - kID3v1Size : 0}) {
        if (end < kFooterSize) continue;
        if (file.ReadAt(end - kFooterSize, footer, kFooterSize) == kFooterSize &&
            std::memcmp(footer, "APETAGEX", 8) == 0) {
            at = end - kFooterSize;
            return true;
        }
    }
    return false;
}

// The first of the zero-separated values of a text item.
std::string FirstValue(std::string_view value, bool cut) {
    return Utf8OrLatin1(CutAtZero(value), cut && value.find('\0') == std::string_view::npos);
}

}  // namespace

bool TApeTag::ReadTrailing(TBufferedFile& file) {
    ClearTags();
    Exists = false;
    Offset = Size = 0;
    CoverFront.clear();
    unsigned char footer[kFooterSize];
    std::uint64_t footerAt = 0;
    if (!FindFooter(file, footerAt, footer)) return false;
    const std::uint64_t tagSize = GetU32LE(footer + kSizeOffset);
    const std::uint32_t count = GetU32LE(footer + kCountOffset);
    const std::uint32_t flags = GetU32LE(footer + kFlagsOffset);
    if (tagSize < kFooterSize || tagSize > kMaxTagSize || tagSize > footerAt + kFooterSize) return false;
    const std::uint64_t itemsAt = footerAt + kFooterSize - tagSize;
    Exists = true;
    // A header the flags announce but the file has no room for is not there.
    const bool header = (flags & kHasHeader) && tagSize + kFooterSize <= footerAt + kFooterSize;
    Size = tagSize + (header ? kFooterSize : 0);
    Offset = footerAt + kFooterSize - Size;

    std::string values[kKeyCount];
    std::string otherCover;
    std::uint64_t at = itemsAt;
    for (std::uint32_t i = 0; i < count && i < kMaxItems && at + kItemHeaderSize < footerAt; ++i) {
        unsigned char h[kItemHeaderSize];
        if (file.ReadAt(at, h, sizeof h) != sizeof h) break;
        const std::uint32_t valueSize = GetU32LE(h);
        const std::uint32_t itemFlags = GetU32LE(h + 4);
        char keyBytes[kMaxKey + 1];
        const std::size_t got = file.ReadAt(at + kItemHeaderSize, keyBytes, sizeof keyBytes);
        const void* zero = std::memchr(keyBytes, 0, got);
        if (!zero) break;
        const std::size_t keyLength = static_cast<std::size_t>(static_cast<const char*>(zero) - keyBytes);
        const std::string key = UpperCase(std::string(keyBytes, keyLength));
        const std::uint64_t valueAt = at + kItemHeaderSize + keyLength + 1;
        if (valueSize > footerAt - std::min(footerAt, valueAt)) break;  // runs into the footer
        at = valueAt + valueSize;
        const bool binary = (itemFlags & kKindMask) == kBinaryKind;
        if (binary && key.rfind("COVER ART", 0) == 0) {
            if (valueSize > kMaxCoverBytes + kMaxKey) continue;
            std::string value(valueSize, '\0');
            if (file.ReadAt(valueAt, value.data(), value.size()) != value.size()) break;
            // A file name ended by a zero byte, then the picture.
            const std::size_t z = value.find('\0');
            std::string picture = z == std::string::npos ? std::string() : value.substr(z + 1);
            if (key == "COVER ART (FRONT)" && CoverFront.empty())
                CoverFront = std::move(picture);
            else if (otherCover.empty())
                otherCover = std::move(picture);
            continue;
        }
        if ((itemFlags & kKindMask) != 0) continue;
        for (int k = 0; k < kKeyCount; ++k) {
            if (key != kKeys[k]) continue;
            std::string value(std::min<std::size_t>(valueSize, kMaxText), '\0');
            value.resize(file.ReadAt(valueAt, value.data(), value.size()));
            values[k] = FirstValue(value, valueSize > value.size());
        }
    }
    if (CoverFront.empty()) CoverFront = std::move(otherCover);

    Title = values[kTitle];
    Artist = values[kArtist];
    Album = values[kAlbum];
    Year = values[kYear];
    Comment = values[kComment];
    Track = ParseTrackNumber(values[kTrack]);
    Genre = values[kGenre];
    AlbumArtist = !values[kAlbumArtist].empty() ? values[kAlbumArtist] : values[kAlbumArtistSpaced];
    Disc = ParseTrackNumber(values[kDisc]);
    ArtistSort = values[kArtistSort];
    AlbumArtistSort = values[kAlbumArtistSort];
    Compilation = ParseTrackNumber(values[kCompilation]) > 0;
    return true;
}

std::string ApeCover(TBufferedFile& file) {
    TApeTag tag;
    tag.ReadTrailing(file);
    return tag.CoverFront;
}
