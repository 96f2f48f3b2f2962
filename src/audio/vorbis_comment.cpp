// Parses Vorbis comment lists and picks the record's values from them.
#include "audio/vorbis_comment.h"

#include <algorithm>
#include <cstring>

#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "base/byte_order.h"
#include "base/shared_functions.h"

namespace {

// Names are short; a longer text before "=" is not a name worth reading.
constexpr std::size_t kNameLimit = 64;
constexpr std::size_t kVendorLimit = 4096;
// Ends the walk of a corrupt list whose entry count is absurd.
constexpr std::uint32_t kMaxEntries = 1u << 20;
// Ogg readers keep this many bytes of each entry, name included.
constexpr std::size_t kOggEntryLimit = 250;
constexpr std::uint32_t kOggTrackMask = 0xFF;

bool ReadU32(TByteSource& in, std::uint32_t& value) {
    unsigned char b[4];
    if (in.Read(b, sizeof b) != sizeof b) return false;
    value = GetU32LE(b);
    return true;
}

// Up to limit bytes of a string of the given length; the rest is skipped.
// False when the source ends inside it.
bool ReadString(TByteSource& in, std::uint32_t length, std::size_t limit, std::string& out) {
    out.resize(std::min<std::size_t>(length, limit));
    if (in.Read(out.data(), out.size()) != out.size()) return false;
    const std::uint64_t rest = length - out.size();
    return in.Skip(rest) == rest;
}

enum Name {
    nTitle,
    nArtist,
    nAlbum,
    nDate,
    nGenre,
    nComment,
    nTrack,
    nTrackNumber,
    nPerformer,
    nDescription,
    nAlbumArtist,
    nAlbumArtistSpaced,
    nDisc,
    nArtistSort,
    nAlbumArtistSort,
    nCompilation,
    nCount
};
const char* const kNames[nCount] = {"TITLE",       "ARTIST",       "ALBUM",      "DATE",        "GENRE",
                                    "COMMENT",     "TRACK",        "TRACKNUMBER", "PERFORMER",  "DESCRIPTION",
                                    "ALBUMARTIST", "ALBUM ARTIST", "DISCNUMBER", "ARTISTSORT", "ALBUMARTISTSORT",
                                    "COMPILATION"};

int NameOf(std::string_view name) {
    for (int n = 0; n < nCount; ++n)
        if (name == kNames[n]) return n;
    return -1;
}

// A value as FLAC keeps it: whole (up to the parser's limit).
std::string FlacValue(const TVorbisEntry& e) { return Utf8OrLatin1(e.value, e.cut); }

// A value as the Ogg readers keep it: the entry cut to 250 bytes and trimmed,
// the value trimmed and ended at a zero byte.
std::string OggValue(const TVorbisEntry& e) {
    const std::size_t room = kOggEntryLimit > e.name.size() + 1 ? kOggEntryLimit - e.name.size() - 1 : 0;
    const bool cut = e.cut || e.value.size() > room;
    std::string value = Trim(std::string_view(e.value).substr(0, room));
    value = std::string(CutAtZero(value));
    return Utf8OrLatin1(value, cut);
}

}  // namespace

std::size_t TFileRangeSource::Read(void* dst, std::size_t n) {
    const std::uint64_t end = std::min(end_, file_.Size());
    if (pos_ >= end) return 0;
    const std::size_t got = file_.ReadAt(pos_, dst, static_cast<std::size_t>(std::min<std::uint64_t>(n, end - pos_)));
    pos_ += got;
    return got;
}

std::uint64_t TFileRangeSource::Skip(std::uint64_t n) {
    const std::uint64_t end = std::min(end_, file_.Size());
    const std::uint64_t take = pos_ < end ? std::min(n, end - pos_) : 0;
    pos_ += take;
    return take;
}

std::size_t TMemorySource::Read(void* dst, std::size_t n) {
    const std::size_t take = std::min(n, bytes_.size() - pos_);
    if (take) std::memcpy(dst, bytes_.data() + pos_, take);
    pos_ += take;
    return take;
}

std::uint64_t TMemorySource::Skip(std::uint64_t n) {
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - pos_));
    pos_ += take;
    return take;
}

TVorbisComments ParseVorbisComments(TByteSource& in, std::size_t valueLimit) {
    TVorbisComments result;
    std::uint32_t length = 0, count = 0;
    if (!ReadU32(in, length) || !ReadString(in, length, kVendorLimit, result.vendor)) return result;
    if (!ReadU32(in, count)) return result;
    std::string entry;
    for (std::uint32_t i = 0; i < count && i < kMaxEntries; ++i) {
        if (!ReadU32(in, length)) break;
        // The name and "=" first, then as much of the value as is kept.
        const std::size_t headLength = std::min<std::size_t>(length, kNameLimit + 1);
        entry.resize(headLength);
        if (in.Read(entry.data(), entry.size()) != entry.size()) break;
        const std::size_t eq = entry.find('=');
        const bool last = i + 1 == count;
        // Nothing follows the last entry: a picture there is not walked past
        // (in Ogg that would mean reading the header of every page it spans).
        if (last && (eq == std::string::npos || NameOf(UpperCase(entry.substr(0, eq))) < 0)) break;
        if (eq == std::string::npos) {
            const std::uint64_t rest = length - headLength;
            if (in.Skip(rest) != rest) break;
            continue;
        }
        TVorbisEntry e;
        e.name = UpperCase(entry.substr(0, eq));
        const std::uint64_t valueLength = length - eq - 1;
        const bool wanted = NameOf(e.name) >= 0;
        const std::size_t keep = wanted ? static_cast<std::size_t>(std::min<std::uint64_t>(valueLength, valueLimit)) : 0;
        e.cut = valueLength > keep;
        e.value = entry.substr(eq + 1, keep);
        const std::size_t more = keep - std::min(keep, e.value.size());
        if (more) {
            const std::size_t had = e.value.size();
            e.value.resize(had + more);
            if (in.Read(e.value.data() + had, more) != more) break;
        }
        const std::uint64_t consumed = headLength + more;
        const std::uint64_t rest = length - std::min<std::uint64_t>(length, consumed);
        if (in.Skip(rest) != rest) {
            if (wanted) result.entries.push_back(std::move(e));  // what is there of the last one
            break;
        }
        if (wanted) result.entries.push_back(std::move(e));
    }
    return result;
}

void SelectVorbisTags(const TVorbisComments& comments, TVorbisRules rules, TTagFields& tags) {
    const bool flac = rules == TVorbisRules::Flac;
    std::string values[nCount];
    bool found[nCount] = {};
    for (const TVorbisEntry& e : comments.entries) {
        const int n = NameOf(e.name);
        if (n < 0 || (flac && found[n])) continue;
        found[n] = true;
        values[n] = flac ? FlacValue(e) : OggValue(e);
    }
    auto either = [&](int first, int second) { return values[values[first].empty() ? second : first]; };
    tags.Title = values[nTitle];
    tags.Album = values[nAlbum];
    tags.Year = values[nDate];
    tags.Genre = values[nGenre];
    tags.AlbumArtist = either(nAlbumArtist, nAlbumArtistSpaced);
    tags.Disc = ParseTrackNumber(values[nDisc]);
    tags.ArtistSort = values[nArtistSort];
    tags.AlbumArtistSort = values[nAlbumArtistSort];
    tags.Compilation = ParseTrackNumber(values[nCompilation]) > 0;
    if (flac) {
        tags.Artist = values[nArtist];
        tags.Comment = values[nComment];
        tags.Track = ParseTrackNumber(found[nTrack] && !values[nTrack].empty() ? values[nTrack] : values[nTrackNumber]);
    } else {
        tags.Artist = either(nArtist, nPerformer);
        tags.Comment = either(nComment, nDescription);
        tags.Track = static_cast<std::int32_t>(static_cast<std::uint32_t>(ParseTrackNumber(values[nTrackNumber])) &
                                               kOggTrackMask);
    }
}
