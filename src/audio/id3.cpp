// Reads ID3v2 and ID3v1 tags and probes the size of an ID3v2 tag.
#include "audio/id3.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "base/byte_order.h"
#include "base/shared_functions.h"

namespace {

const char* const kGenres[kID3GenreCount] = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "AlternRock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychedelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    "Folk",
    "Folk/Rock",
    "National Folk",
    "Swing",
    "Fast Fusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic Soul",
    "Freestyle",
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "Acapella",
    "Euro-House",
    "Dance Hall",
    "Goa",
    "Drum & Bass",
    "Club-House",
    "Hardcore",
    "Terror",
    "Indie",
    "BritPop",
    "Negerpunk",
    "Polsk Punk",
    "Beat",
    "Christian Gangsta Rap",
    "Heavy Metal",
    "Black Metal",
    "Crossover",
    "Contemporary Christian",
    "Christian Rock",
    "Merengue",
    "Salsa",
    "Thrash Metal",
    "Anime",
    "JPop",
    "Synthpop",
};

// ---- ID3v2 layout ----

constexpr std::size_t kTagHeaderSize = TID3v2Header::kSize;
// Tag header flags (byte 5).
constexpr unsigned char kTagUnsync = 0x80;
constexpr unsigned char kTagExtendedHeader = 0x40;  // versions 3 and 4
constexpr unsigned char kTagCompressedV2 = 0x40;    // version 2; no scheme was ever defined
// Frame flags: version 3 in the status byte, version 4 in the format byte.
constexpr unsigned char kV3Compressed = 0x80, kV3Encrypted = 0x40, kV3Grouped = 0x20;
constexpr unsigned char kV4Grouped = 0x40, kV4Compressed = 0x08, kV4Encrypted = 0x04, kV4Unsync = 0x02,
                        kV4DataLength = 0x01;
constexpr std::size_t kGroupIdSize = 1;
constexpr std::size_t kDataLengthSize = 4;
constexpr std::size_t kLanguageSize = 3;
constexpr unsigned char kLastTextEncoding = 3;  // UTF-8

// Frames the reader keeps, in the order of the slots below.
enum Slot {
    sTitle,
    sTitleAlt,
    sArtist,
    sArtistAlt,
    sAlbum,
    sAlbumAlt,
    sYear,
    sDate,
    sTrack,
    sGenre,
    sComment,
    sAlbumArtist,
    sDisc,
    sArtistSort,
    sAlbumArtistSort,
    sCompilation,
    sCount
};
const char* const kFrameIds34[sCount] = {"TIT2", "TIT1", "TPE1", "TOPE", "TALB", "TOAL", "TYER", "TDRC",
                                         "TRCK", "TCON", "COMM", "TPE2", "TPOS", "TSOP", "TSO2", "TCMP"};
const char* const kFrameIds2[sCount] = {"TT2", "TT1", "TP1", "TOA", "TAL", "TOT", "TYE", "TOR",
                                        "TRK", "TCO", "COM", "TP2", "TPA", "TSP", "TS2", "TCP"};

// The value kept of a frame is at most this many bytes, encoding byte included.
constexpr std::size_t kValueLimit = 500;

// Versions 2 and 3 unsynchronise the whole tag, frame headers included;
// version 4 does it per frame.
bool WholeTagUnsync(const TID3v2Header& tag) { return (tag.Flags & kTagUnsync) && tag.Version < 4; }

// Removes the zero byte that unsynchronisation puts after every 0xFF.
std::string Resync(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    bool afterFF = false;
    for (char c : raw) {
        auto b = static_cast<unsigned char>(c);
        if (!(afterFF && b == 0)) out += c;
        afterFF = b == 0xFF;
    }
    return out;
}

// The tag body as a sequence of bytes: straight from the file, or with the
// whole-tag unsynchronisation of versions 2 and 3 undone on the fly.
class TTagBody {
public:
    TTagBody(TBufferedFile& file, std::uint64_t start, std::uint64_t end, bool unsync)
        : file_(file), pos_(start), end_(end), unsync_(unsync) {}

    std::uint64_t RawPosition() const { return pos_; }

    std::size_t Read(unsigned char* dst, std::size_t n) {
        if (!unsync_) {
            std::size_t avail = pos_ < end_ ? static_cast<std::size_t>(std::min<std::uint64_t>(n, end_ - pos_)) : 0;
            std::size_t got = file_.ReadAt(pos_, dst, avail);
            pos_ += got;
            return got;
        }
        std::size_t done = 0;
        unsigned char chunk[256];
        while (done < n && pos_ < end_) {
            // Never take more raw bytes than could become output, so the raw
            // position stays exact for the caller.
            std::size_t want = std::min<std::uint64_t>({sizeof chunk, n - done, end_ - pos_});
            std::size_t got = file_.ReadAt(pos_, chunk, want);
            if (got == 0) break;
            for (std::size_t i = 0; i < got; ++i) {
                unsigned char b = chunk[i];
                if (!(afterFF_ && b == 0)) dst[done++] = b;
                afterFF_ = b == 0xFF;
            }
            pos_ += got;
        }
        return done;
    }

    // Returns how many bytes were skipped: fewer than n where the body ends.
    std::uint64_t Skip(std::uint64_t n) {
        if (!unsync_) {
            const std::uint64_t left = end_ - std::min(pos_, end_);
            const std::uint64_t skipped = std::min(n, left);
            pos_ += skipped;
            return skipped;
        }
        unsigned char sink[256];
        std::uint64_t skipped = 0;
        while (skipped < n && pos_ < end_) {
            std::size_t got = Read(sink, static_cast<std::size_t>(std::min<std::uint64_t>(n - skipped, sizeof sink)));
            if (got == 0) break;
            skipped += got;
        }
        return skipped;
    }

private:
    TBufferedFile& file_;
    std::uint64_t pos_;
    std::uint64_t end_;
    bool unsync_;
    bool afterFF_ = false;
};

// Moves past an extended header; false when the tag ends inside it.
bool SkipExtendedHeader(TTagBody& body, const TID3v2Header& tag) {
    if (tag.Version < 3 || !(tag.Flags & kTagExtendedHeader)) return true;
    unsigned char size[4];
    if (body.Read(size, sizeof size) < sizeof size) return false;
    // Version 3 counts the bytes after the size field, version 4 the whole header.
    if (tag.Version == 3)
        body.Skip(GetU32BE(size));
    else
        body.Skip(std::max<std::uint32_t>(GetSyncSafe28(size), sizeof size) - sizeof size);
    return true;
}

struct TFrameHeader {
    char id[4] = {};
    std::size_t idLength = 4;
    std::uint64_t bodySize = 0;
    std::size_t prefix = 0;  // bytes in front of the value: group id, data length
    bool readable = true;    // neither compressed nor encrypted
    bool unsync = false;     // the value itself is unsynchronised

    std::string_view Id() const { return {id, idLength}; }
};

// The next frame header; false where the frames end (padding, or bytes that
// cannot start a frame).
bool ReadFrameHeader(TTagBody& body, const TID3v2Header& tag, TFrameHeader& frame) {
    const std::size_t headerLength = tag.Version == 2 ? 6 : 10;
    unsigned char fh[10];
    if (body.Read(fh, headerLength) < headerLength) return false;
    if (fh[0] < 'A' || fh[0] > 'Z') return false;
    frame = TFrameHeader();
    frame.idLength = tag.Version == 2 ? 3 : 4;
    std::memcpy(frame.id, fh, frame.idLength);
    if (tag.Version == 2) {
        frame.bodySize = GetU24BE(fh + 3);
    } else if (tag.Version == 3) {
        frame.bodySize = GetU32BE(fh + 4);
        const unsigned char status = fh[9];
        frame.readable = !(status & (kV3Compressed | kV3Encrypted));
        if (status & kV3Grouped) frame.prefix += kGroupIdSize;
    } else {
        // Sync-safe; some writers put plain numbers here, which show
        // themselves by a byte with bit 7 set.
        const bool plain = (fh[4] | fh[5] | fh[6] | fh[7]) & 0x80;
        frame.bodySize = plain ? GetU32BE(fh + 4) : GetSyncSafe28(fh + 4);
        const unsigned char format = fh[9];
        frame.readable = !(format & (kV4Compressed | kV4Encrypted));
        if (format & kV4Grouped) frame.prefix += kGroupIdSize;
        if (format & kV4DataLength) frame.prefix += kDataLengthSize;
        frame.unsync = (format & kV4Unsync) || (tag.Flags & kTagUnsync);
    }
    return true;
}

struct TFrameValue {
    std::string value;           // encoding byte first, at most kValueLimit bytes
    std::uint64_t consumed = 0;  // body bytes read
};

TFrameValue ReadFrameValue(TTagBody& body, const TFrameHeader& frame) {
    // Unsynchronisation can double the stored size of the value.
    const std::size_t want =
        std::min<std::uint64_t>(frame.bodySize, frame.prefix + (frame.unsync ? 2 : 1) * kValueLimit);
    std::string raw(want, '\0');
    const std::size_t got = body.Read(reinterpret_cast<unsigned char*>(raw.data()), want);
    raw.resize(got);
    TFrameValue result;
    result.consumed = got;
    result.value = raw.substr(std::min(frame.prefix, raw.size()));
    if (frame.unsync) result.value = Resync(result.value);
    if (result.value.size() > kValueLimit) result.value.resize(kValueLimit);
    return result;
}

bool IsTextValue(std::string_view value) {
    return !value.empty() && static_cast<unsigned char>(value[0]) <= kLastTextEncoding;
}

// The kept frames' values, encoding byte first: the last of each kind, and
// every comment.
struct TFrameValues {
    std::array<std::string, sCount> raw;
    std::array<bool, sCount> present{};
    std::vector<std::string> comments;

    std::string Decoded(int slot) const { return present[slot] ? DecodeID3Text(raw[slot]) : std::string(); }
    std::string WithFallback(int first, int second) const {
        std::string v = Decoded(first);
        return v.empty() ? Decoded(second) : v;
    }
};

int SlotOf(std::string_view id, const char* const* ids) {
    int slot = -1;
    for (int s = 0; s < sCount; ++s)
        if (id == ids[s]) slot = s;
    return slot;
}

// Walks the frames of a tag of version 2 to 4; the last frame of a kind wins.
TFrameValues ReadFrames(TBufferedFile& file, std::uint64_t offset, const TID3v2Header& tag) {
    TFrameValues values;
    const std::uint64_t fileSize = file.Size();
    const std::uint64_t tagEnd = offset + tag.TotalSize();
    const bool unsync = WholeTagUnsync(tag);
    TTagBody body(file, offset + kTagHeaderSize, unsync ? std::min(tagEnd, fileSize) : fileSize, unsync);
    if (!SkipExtendedHeader(body, tag)) return values;

    const char* const* ids = tag.Version == 2 ? kFrameIds2 : kFrameIds34;
    TFrameHeader frame;
    while (body.RawPosition() < tagEnd && body.RawPosition() < fileSize && ReadFrameHeader(body, tag, frame)) {
        const int slot = SlotOf(frame.Id(), ids);
        const bool keep = slot >= 0 && frame.readable;
        TFrameValue read;
        if (keep) read = ReadFrameValue(body, frame);
        // A frame cut off by the end of the file (or of an unsynchronised
        // tag) is incomplete and ends the walk; the frames before it count.
        const std::uint64_t rest = frame.bodySize - read.consumed;
        if (body.Skip(rest) < rest) break;
        if (!keep || !IsTextValue(read.value)) continue;
        if (slot == sComment) {
            values.comments.push_back(std::move(read.value));
        } else {
            values.raw[slot] = std::move(read.value);
            values.present[slot] = true;
        }
    }
    return values;
}

std::string FirstChars(const std::string& text, std::size_t count) {
    std::size_t p = 0;
    while (p < text.size() && count > 0) {
        ++p;
        while (p < text.size() && (static_cast<unsigned char>(text[p]) & 0xC0) == 0x80) ++p;
        --count;
    }
    return text.substr(0, p);
}

struct TComment {
    std::string description, text;  // decoded
};

// A comment frame: encoding, language, a description ended by a zero
// character, then the text.
TComment DecodeComment(std::string_view value) {
    if (value.empty()) return {};
    const char encoding = value[0];
    const std::string_view rest = value.substr(std::min<std::size_t>(1 + kLanguageSize, value.size()));
    const bool wide = encoding == 1 || encoding == 2;
    std::size_t end = 0, skip = 0;
    if (wide) {
        // The description ends with a zero code unit, on a unit boundary.
        for (std::size_t i = 0; i + 1 < rest.size(); i += 2)
            if (rest[i] == 0 && rest[i + 1] == 0) {
                end = i;
                skip = i + 2;
                break;
            }
    } else {
        const std::size_t z = rest.find('\0');
        if (z != std::string_view::npos) {
            end = z;
            skip = z + 1;
        }
    }
    const std::string mark(1, encoding);
    return {DecodeID3Text(mark + std::string(rest.substr(0, end))),
            DecodeID3Text(mark + std::string(rest.substr(skip)))};
}

// iTunes keeps volume, gapless and CD database data in comments.
bool IsHousekeepingComment(const std::string& description) {
    const std::string d = LowerCase(description);
    return d == "itunnorm" || d == "itunsmpb" || d == "itunpgap" || d.rfind("itunes_cddb_", 0) == 0;
}

// The last comment without a description, else the last one that is not
// iTunes housekeeping.
std::string ChooseComment(const std::vector<std::string>& comments) {
    std::string plain, described;
    for (const std::string& raw : comments) {
        TComment c = DecodeComment(raw);
        if (c.description.empty())
            plain = std::move(c.text);
        else if (!IsHousekeepingComment(c.description))
            described = std::move(c.text);
    }
    return !plain.empty() ? plain : described;
}

bool IsDecimal(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The genre list's name for a decimal number; empty outside the list.
std::string GenreName(std::string_view number) {
    if (!IsDecimal(number) || number.size() > 3) return {};
    int n = 0;
    for (char c : number) n = n * 10 + (c - '0');
    const char* name = ID3GenreName(n);
    return name ? name : "";
}

// TCON holds a name, a reference to the genre list ("(17)", or "17" as
// version 4 writes it), or both ("(17)Rock", the name winning). Only
// references at the very start count: "Rock (live)" is a name, and "((" at
// the start stands for a literal "(".
std::string GenreOf(std::string text) {
    if (IsDecimal(text)) return GenreName(text);
    std::string firstReference;
    std::size_t at = 0;
    while (at < text.size() && text[at] == '(' && !(at + 1 < text.size() && text[at + 1] == '(')) {
        const std::size_t close = text.find(')', at);
        if (close == std::string::npos) break;
        const std::string_view reference = std::string_view(text).substr(at + 1, close - at - 1);
        if (!IsDecimal(reference) && reference != "RX" && reference != "CR") break;
        if (firstReference.empty() && IsDecimal(reference)) firstReference = GenreName(reference);
        at = close + 1;
    }
    if (at == 0) return text.rfind("((", 0) == 0 ? text.substr(1) : text;
    if (at < text.size()) return text.rfind("((", at) == at ? text.substr(at + 1) : text.substr(at);
    return firstReference;
}

void AssignFields(const TFrameValues& frames, TTagFields& tags) {
    tags.Title = frames.WithFallback(sTitle, sTitleAlt);
    tags.Artist = frames.WithFallback(sArtist, sArtistAlt);
    tags.Album = frames.WithFallback(sAlbum, sAlbumAlt);
    tags.Year = frames.Decoded(sYear);
    if (tags.Year.empty()) tags.Year = FirstChars(frames.Decoded(sDate), 4);
    tags.Track = ParseTrackNumber(frames.Decoded(sTrack));
    tags.Genre = GenreOf(frames.Decoded(sGenre));
    tags.AlbumArtist = frames.Decoded(sAlbumArtist);
    tags.Disc = ParseTrackNumber(frames.Decoded(sDisc));
    tags.Comment = ChooseComment(frames.comments);
    tags.ArtistSort = frames.Decoded(sArtistSort);
    tags.AlbumArtistSort = frames.Decoded(sAlbumArtistSort);
    tags.Compilation = ParseTrackNumber(frames.Decoded(sCompilation)) > 0;
}

// ---- ID3v1 layout: fixed fields in the last 128 bytes ----

constexpr std::size_t kV1Size = 128;
struct TV1Field {
    std::size_t offset, length;
};
constexpr TV1Field kV1Title{3, 30}, kV1Artist{33, 30}, kV1Album{63, 30}, kV1Year{93, 4}, kV1Comment{97, 30};
constexpr std::size_t kV1TrackMarker = 125;  // zero in ID3v1.1, the track follows
constexpr std::size_t kV1Track = 126;
constexpr std::size_t kV1Genre = 127;

// ---- the size probe ----

constexpr std::uint64_t kProbeMinimum = kTagHeaderSize + 1;  // a header and at least one body byte
constexpr std::uint32_t kProbeMinimumSize = 10;

}  // namespace

std::optional<TID3v2Header> ParseID3v2Header(const unsigned char* h, std::size_t count) {
    if (count < TID3v2Header::kSize || std::memcmp(h, "ID3", 3) != 0) return std::nullopt;
    TID3v2Header tag;
    tag.Version = h[3];
    tag.Revision = h[4];
    tag.Flags = h[5];
    tag.SyncSafe = ((h[6] | h[7] | h[8] | h[9]) & 0x80) == 0;
    tag.BodySize = GetSyncSafe28(h + 6);
    tag.StoredBodySize = (std::uint64_t(h[6]) << 21) + (std::uint64_t(h[7]) << 14) + (std::uint64_t(h[8]) << 7) + h[9];
    return tag;
}

std::optional<TID3v2Header> ParseID3v2Header(std::string_view bytes) {
    return ParseID3v2Header(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

const char* ID3GenreName(int index) { return index >= 0 && index < kID3GenreCount ? kGenres[index] : nullptr; }

std::string DecodeID3Text(std::string_view value) {
    if (value.empty()) return {};
    unsigned char encoding = static_cast<unsigned char>(value[0]);
    std::string_view text = value.substr(1);
    std::string out;
    switch (encoding) {
        case 1:
        case 2: {
            bool bigEndian = encoding == 2;
            if (text.size() >= 2) {
                auto b0 = static_cast<unsigned char>(text[0]), b1 = static_cast<unsigned char>(text[1]);
                if (b0 == 0xFF && b1 == 0xFE) {
                    bigEndian = false;
                    text.remove_prefix(2);
                } else if (b0 == 0xFE && b1 == 0xFF) {
                    bigEndian = true;
                    text.remove_prefix(2);
                }
            }
            out = Utf16ToUtf8(text, bigEndian, true);
            break;
        }
        case 3:
            if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
            out = SanitizeUtf8(text);
            break;
        default: out = Latin1ToUtf8(text); break;
    }
    return Trim(out);
}

void TID3v2::Reset() {
    ClearTags();
    Exists = false;
    VersionID = 0;
    Size = 0;
}

bool TID3v2::ReadFromFile(const std::string& path) {
    Reset();
    try {
        TBufferedFile file(path);
        return ReadFrom(file);
    } catch (const Exception&) {
        return false;
    }
}

bool TID3v2::ReadFrom(TBufferedFile& file) { return ReadAt(file, 0); }

bool TID3v2::ReadAt(TBufferedFile& file, std::uint64_t offset) {
    Reset();
    unsigned char h[kTagHeaderSize];
    if (file.ReadAt(offset, h, sizeof h) < sizeof h) return false;
    const std::optional<TID3v2Header> header = ParseID3v2Header(h, sizeof h);
    if (!header) return true;
    const TID3v2Header& tag = *header;
    Exists = true;
    VersionID = tag.Version;
    // A tag larger than the file (a cut download, a wrong size) keeps the
    // frames that are there in full.
    Size = tag.TotalSize() > file.Size() - offset ? 0 : static_cast<std::int32_t>(tag.TotalSize());
    if (VersionID < 2 || VersionID > 4) return true;
    if (VersionID == 2 && (tag.Flags & kTagCompressedV2)) return true;
    AssignFields(ReadFrames(file, offset, tag), *this);
    return true;
}

void TID3v1Tag::ReadFromFile(const std::string& path) {
    TBufferedFile file(path);
    ReadFrom(file);
}

void TID3v1Tag::ReadFrom(TBufferedFile& file) {
    TBinaryReader reader(file);
    ReadFromStream(reader, file.Size());
}

void TID3v1Tag::ReadFromStream(TBinaryReader& stream, std::uint64_t count) {
    Exists = false;
    if (count < kV1Size) return;
    unsigned char t[kV1Size];
    stream.Seek(stream.Position() + count - kV1Size);
    stream.Read(t, kV1Size);
    if (std::memcmp(t, "TAG", 3) != 0) return;
    Exists = true;
    auto field = [&](TV1Field f) {
        std::string_view raw(reinterpret_cast<const char*>(t + f.offset), f.length);
        return Latin1ToUtf8(TrimRightControls(CutAtZero(raw)));
    };
    Title = field(kV1Title);
    Artist = field(kV1Artist);
    Album = field(kV1Album);
    Year = field(kV1Year);
    Comment = field(kV1Comment);
    Track = (t[kV1TrackMarker] == 0 && t[kV1Track] != 0) ? t[kV1Track] : 0;
    GenreID = t[kV1Genre];
    const char* genre = ID3GenreName(GenreID);
    Genre = genre ? genre : "";
}

void TID3v2Tag::ReadFromStream(TBinaryReader& stream, std::uint64_t count) {
    totalSize_ = 0;
    if (count < kProbeMinimum) return;
    unsigned char h[kTagHeaderSize];
    stream.Read(h, sizeof h);
    const std::optional<TID3v2Header> tag = ParseID3v2Header(h, sizeof h);
    if (!tag || !tag->SyncSafe || tag->Version > 4 || tag->Revision == 0xFF) return;
    if (tag->BodySize > count || tag->BodySize < kProbeMinimumSize) return;
    // Only whether the body starts with a frame matters; a tag of nothing but
    // padding counts as absent.
    if (stream.U8() == 0) return;
    totalSize_ = static_cast<std::int64_t>(tag->TotalSize());
}
