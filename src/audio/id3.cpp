#include "audio/id3.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "base/byte_order.h"
#include "services/shared_functions.h"

namespace {

const char* const kGenres[kID3GenreCount] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychedelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock", "Folk", "Folk/Rock", "National Folk", "Swing", "Fast Fusion", "Bebob",
    "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock",
    "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "Acapella", "Euro-House", "Dance Hall",
    "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk",
    "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover", "Contemporary Christian",
    "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "JPop", "Synthpop",
};

// Frames the reader keeps, in the order of the slots below.
enum Slot { sTitle, sTitleAlt, sArtist, sArtistAlt, sAlbum, sAlbumAlt, sYear, sDate, sTrack, sGenre, sComment, sCount };
const char* const kFrameIds34[sCount] = {"TIT2", "TIT1", "TPE1", "TOPE", "TALB", "TOAL",
                                         "TYER", "TDRC", "TRCK", "TCON", "COMM"};
const char* const kFrameIds2[sCount] = {"TT2", "TT1", "TP1", "TOA", "TAL", "TOT", "TYE", "TOR", "TRK", "TCO", "COM"};

// The value kept of a frame is at most this many bytes, encoding byte included.
constexpr std::size_t kValueLimit = 500;

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

    void Skip(std::uint64_t n) {
        if (!unsync_) {
            pos_ = (n > end_ - std::min(pos_, end_)) ? std::max(pos_, end_) : pos_ + n;
            return;
        }
        unsigned char sink[256];
        while (n > 0 && pos_ < end_) {
            std::size_t got = Read(sink, static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof sink)));
            if (got == 0) break;
            n -= got;
        }
    }

private:
    TBufferedFile& file_;
    std::uint64_t pos_;
    std::uint64_t end_;
    bool unsync_;
    bool afterFF_ = false;
};

std::string FirstChars(const std::string& text, std::size_t count) {
    std::size_t p = 0;
    while (p < text.size() && count > 0) {
        ++p;
        while (p < text.size() && (static_cast<unsigned char>(text[p]) & 0xC0) == 0x80) ++p;
        --count;
    }
    return text.substr(0, p);
}

std::string DecodeComment(std::string_view value) {
    if (value.empty()) return {};
    char encoding = value[0];
    std::string_view rest = value.substr(std::min<std::size_t>(4, value.size()));  // language code
    bool wide = encoding == 1 || encoding == 2;
    std::size_t skip = 0;
    if (wide) {
        // The description ends with a zero code unit, on a unit boundary.
        for (std::size_t i = 0; i + 1 < rest.size(); i += 2)
            if (rest[i] == 0 && rest[i + 1] == 0) {
                skip = i + 2;
                break;
            }
    } else {
        std::size_t z = rest.find('\0');
        if (z != std::string_view::npos) skip = z + 1;
    }
    std::string text(1, encoding);
    text.append(rest.substr(skip));
    return DecodeID3Text(text);
}

}  // namespace

const char* ID3GenreName(int index) {
    return index >= 0 && index < kID3GenreCount ? kGenres[index] : nullptr;
}

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
        default:
            out = Latin1ToUtf8(text);
            break;
    }
    return Trim(out);
}

void TID3v2::Reset() {
    Exists = false;
    VersionID = 0;
    Size = 0;
    Title.clear();
    Artist.clear();
    Album.clear();
    Year.clear();
    Genre.clear();
    Comment.clear();
    Track = 0;
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

bool TID3v2::ReadFrom(TBufferedFile& file) {
    Reset();
    unsigned char h[10];
    if (file.ReadAt(0, h, 10) < 10) return false;
    if (std::memcmp(h, "ID3", 3) != 0) return true;
    Exists = true;
    VersionID = h[3];
    const unsigned char flags = h[5];
    // The size bytes are taken as they stand, so a broken size cannot shrink.
    std::int64_t size = (std::int64_t(h[6]) << 21) + (std::int64_t(h[7]) << 14) + (std::int64_t(h[8]) << 7) + h[9];
    size += (flags & 0x10) ? 20 : 10;
    Size = static_cast<std::uint64_t>(size) > file.Size() ? 0 : static_cast<std::int32_t>(size);
    if (VersionID < 2 || VersionID > 4 || Size == 0) return true;
    if (VersionID == 2 && (flags & 0x40)) return true;  // compressed tag: no scheme was ever defined

    const std::uint64_t fileSize = file.Size();
    const std::uint64_t tagEnd = static_cast<std::uint64_t>(Size);
    const bool tagUnsync = (flags & 0x80) != 0;
    // Versions 2 and 3 unsynchronise the whole tag, frame headers included;
    // version 4 does it per frame.
    const bool streamUnsync = tagUnsync && VersionID < 4;
    TTagBody body(file, 10, streamUnsync ? std::min(tagEnd, fileSize) : fileSize, streamUnsync);

    if (VersionID >= 3 && (flags & 0x40)) {
        unsigned char ext[4];
        if (body.Read(ext, 4) < 4) return true;
        if (VersionID == 3) body.Skip(GetU32BE(ext));
        else body.Skip(std::max<std::uint32_t>(GetSyncSafe28(ext), 4) - 4);
    }

    std::array<std::string, sCount> values;
    std::array<bool, sCount> present{};
    const char* const* ids = VersionID == 2 ? kFrameIds2 : kFrameIds34;
    const std::size_t idLength = VersionID == 2 ? 3 : 4;
    const std::size_t headerLength = VersionID == 2 ? 6 : 10;

    while (body.RawPosition() < tagEnd && body.RawPosition() < fileSize) {
        unsigned char fh[10];
        if (body.Read(fh, headerLength) < headerLength) break;
        if (fh[0] < 'A' || fh[0] > 'Z') break;
        std::uint64_t bodySize;
        unsigned char format = 0, status = 0;
        if (VersionID == 2) {
            bodySize = (std::uint32_t(fh[3]) << 16) | (std::uint32_t(fh[4]) << 8) | fh[5];
        } else if (VersionID == 3) {
            bodySize = GetU32BE(fh + 4);
            status = fh[9];
        } else {
            // Sync-safe; some writers put plain numbers here, which show
            // themselves by a byte with bit 7 set.
            bool plain = (fh[4] | fh[5] | fh[6] | fh[7]) & 0x80;
            bodySize = plain ? GetU32BE(fh + 4) : GetSyncSafe28(fh + 4);
            format = fh[9];
        }
        std::string_view id(reinterpret_cast<const char*>(fh), idLength);
        int slot = -1;
        for (int s = 0; s < sCount; ++s)
            if (id == ids[s]) slot = s;

        bool keep = slot >= 0;
        std::size_t extra = 0;  // bytes in front of the frame data
        bool frameUnsync = false;
        if (VersionID == 3) {
            if (status & 0xC0) keep = false;  // compressed or encrypted
            if (status & 0x20) extra += 1;    // group id
        } else if (VersionID == 4) {
            if (format & 0x0C) keep = false;  // compressed or encrypted
            if (format & 0x40) extra += 1;
            if (format & 0x01) extra += 4;  // data length indicator
            frameUnsync = (format & 0x02) || tagUnsync;
        }

        std::uint64_t consumed = 0;
        if (keep) {
            // Unsynchronisation can double the stored size of the value.
            std::size_t want = std::min<std::uint64_t>(bodySize, extra + (frameUnsync ? 2 : 1) * kValueLimit);
            std::string raw(want, '\0');
            std::size_t got = body.Read(reinterpret_cast<unsigned char*>(raw.data()), want);
            raw.resize(got);
            consumed = got;
            std::string value = raw.substr(std::min(extra, raw.size()));
            if (frameUnsync) value = Resync(value);
            if (value.size() > kValueLimit) value.resize(kValueLimit);
            if (!value.empty() && static_cast<unsigned char>(value[0]) <= 3) {
                values[slot] = std::move(value);
                present[slot] = true;
            }
            if (got < want) break;
        }
        body.Skip(bodySize - consumed);
    }

    auto decoded = [&](int s) { return present[s] ? DecodeID3Text(values[s]) : std::string(); };
    auto withFallback = [&](int first, int second) {
        std::string v = decoded(first);
        return v.empty() ? decoded(second) : v;
    };
    Title = withFallback(sTitle, sTitleAlt);
    Artist = withFallback(sArtist, sArtistAlt);
    Album = withFallback(sAlbum, sAlbumAlt);
    Year = decoded(sYear);
    if (Year.empty()) Year = FirstChars(decoded(sDate), 4);

    std::string track = decoded(sTrack);
    std::size_t slash = track.find('/');
    if (slash != std::string::npos) track.resize(slash);
    long long number;
    Track = ParseWholeNumber(track, number) ? static_cast<std::uint16_t>(number) : 0;

    Genre = decoded(sGenre);
    std::size_t close = Genre.rfind(')');
    if (close != std::string::npos) Genre.erase(0, close + 1);

    if (present[sComment]) Comment = DecodeComment(values[sComment]);
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
    if (count < 128) return;
    unsigned char t[128];
    stream.Seek(stream.Position() + count - 128);
    stream.Read(t, 128);
    if (std::memcmp(t, "TAG", 3) != 0) return;
    Exists = true;
    auto field = [&](int from, int length) {
        std::string_view raw(reinterpret_cast<const char*>(t + from), static_cast<std::size_t>(length));
        return Latin1ToUtf8(TrimRightControls(CutAtZero(raw)));
    };
    Title = field(3, 30);
    Artist = field(33, 30);
    Album = field(63, 30);
    Year = field(93, 4);
    Comment = field(97, 30);
    Track = (t[125] == 0 && t[126] != 0) ? t[126] : 0;
    GenreID = t[127];
    const char* genre = ID3GenreName(GenreID);
    Genre = genre ? genre : "";
}

void TID3v2Tag::ReadFromStream(TBinaryReader& stream, std::uint64_t count) {
    totalSize_ = 0;
    if (count < 11) return;  // a header and at least one body byte
    unsigned char h[10];
    stream.Read(h, 10);
    if (std::memcmp(h, "ID3", 3) != 0 || h[3] == 0xFF || h[4] == 0xFF) return;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return;
    std::uint32_t size = GetSyncSafe28(h + 6);
    if (h[3] > 4 || size > count || size <= 9) return;
    // Only whether the body starts with a frame matters; a tag of nothing but
    // padding counts as absent.
    if (stream.U8() == 0) return;
    totalSize_ = std::int64_t(size) + 10;
}
