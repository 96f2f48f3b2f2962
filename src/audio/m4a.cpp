#include "audio/m4a.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/id3.h"
#include "audio/text_codec.h"

namespace {

// Children visited per container at most: a corrupt file made of tiny atoms
// cannot keep the reader busy.
constexpr int kMaxChildren = 4096;
constexpr std::size_t kMaxText = 255;

struct TAtom {
    std::uint64_t start = 0;
    std::uint64_t body = 0;  // first byte after the header
    std::uint64_t end = 0;
    char type[4] = {};

    bool Is(const char* t) const { return std::memcmp(type, t, 4) == 0; }
    std::uint64_t Size() const { return end - start; }
};

// The atom whose header starts at pos inside [pos, limit); its end is clamped
// to limit. Empty when no complete, sane header fits.
std::optional<TAtom> AtomAt(TBinaryReader& in, std::uint64_t pos, std::uint64_t limit) {
    if (pos >= limit || limit - pos < 8) return std::nullopt;
    in.Seek(pos);
    TAtom a;
    a.start = pos;
    std::uint64_t size = in.U32BE();
    in.Read(a.type, 4);
    a.body = pos + 8;
    if (size == 1) {
        if (limit - pos < 16) return std::nullopt;
        size = in.U64BE();
        a.body = pos + 16;
    } else if (size == 0) {
        size = limit - pos;  // runs to the end of its container
    }
    if (size < a.body - pos) return std::nullopt;
    a.end = size > limit - pos ? limit : pos + size;
    return a;
}

// The first child of the given type in [from, to).
std::optional<TAtom> FindChild(TBinaryReader& in, std::uint64_t from, std::uint64_t to, const char* type) {
    std::uint64_t pos = from;
    for (int n = 0; n < kMaxChildren; ++n) {
        std::optional<TAtom> a = AtomAt(in, pos, to);
        if (!a) return std::nullopt;
        if (a->Is(type)) return a;
        pos = a->end;
    }
    return std::nullopt;
}

std::optional<TAtom> FindChild(TBinaryReader& in, const TAtom& parent, const char* type, std::uint64_t skip = 0) {
    return FindChild(in, parent.body + skip, parent.end, type);
}

bool AcceptedBrand(const char* brand) {
    static const char* const kBrands[] = {"M4A ", "M4B ", "mp42", "isom"};
    for (const char* b : kBrands)
        if (std::memcmp(brand, b, 4) == 0) return true;
    return false;
}

// Length of an MPEG-4 descriptor: up to four bytes of seven bits each.
std::uint32_t DescriptorLength(TBinaryReader& in) {
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t b = in.U8();
        length = (length << 7) | (b & 0x7F);
        if (!(b & 0x80)) break;
    }
    return length;
}

struct TEsdsValues {
    std::uint32_t averageBitRate = 0;  // bit/s, 0 when not given
    int channels = 0;                  // from the decoder's own configuration, 0 when not given
};

// The average bit rate and the channel configuration of an "esds" atom. The
// sample entry's channel count is often a plain 2 whatever the stream holds.
TEsdsValues ReadEsds(TBinaryReader& in, const TAtom& esds) {
    TEsdsValues values;
    in.Seek(esds.body + 4);  // version and flags
    if (in.Position() + 2 > esds.end || in.U8() != 0x03) return values;
    DescriptorLength(in);
    in.Skip(2);  // ES id
    const std::uint8_t flags = in.U8();
    if (flags & 0x80) in.Skip(2);
    if (flags & 0x40) in.Skip(in.U8());
    if (flags & 0x20) in.Skip(2);
    if (in.Position() >= esds.end || in.U8() != 0x04) return values;
    DescriptorLength(in);
    in.Skip(1 + 1 + 3 + 4);  // object type, stream type, buffer size, maximum bit rate
    if (in.Position() + 4 > esds.end) return values;
    values.averageBitRate = in.U32BE();
    if (in.Position() + 3 > esds.end || in.U8() != 0x05) return values;
    DescriptorLength(in);
    // Audio specific configuration: object type (5 bits), frequency index
    // (4 bits, plus 24 bits of rate when 15), channel configuration (4 bits).
    std::uint64_t bits = 0;
    const std::uint64_t available = std::min<std::uint64_t>(esds.end - std::min(esds.end, in.Position()), 5);
    for (std::uint64_t i = 0; i < 5; ++i) bits = (bits << 8) | (i < available ? in.U8() : 0);
    int shift = 40 - 5;
    if (((bits >> shift) & 0x1F) == 31) shift -= 6;  // escaped object type
    shift -= 4;
    if (((bits >> shift) & 0xF) == 15) shift -= 24;
    shift -= 4;
    if (shift >= 0) {
        const int config = static_cast<int>((bits >> shift) & 0xF);
        if (config >= 1 && config <= 6) values.channels = config;
        else if (config == 7) values.channels = 8;
    }
    return values;
}

}  // namespace

const char* M4AGenreName(int index) {
    if (index < 0 || index >= kM4AGenreCount) return nullptr;
    if (index == 67) return "Psychadelic";
    if (index == 81) return "Folk-Rock";
    return ID3GenreName(index);
}

void TM4AFile::SetHasTags(bool value) {
    hasTags_ = value;
    Title.clear();
    Artist.clear();
    Album.clear();
    Comment.clear();
    Year.clear();
    Genre.clear();
    Track = 0;
}

void TM4AFile::ReadFromFile(const std::string& path) {
    if (path.size() < 2) return;
    TBufferedFile file(path);
    ReadFrom(file);
}

void TM4AFile::ReadFrom(TBufferedFile& file) {
    TBinaryReader in(file);
    const std::uint64_t fileSize = file.Size();
    SetHasTags(false);

    std::optional<TAtom> ftyp = AtomAt(in, 0, fileSize);
    if (!ftyp || !ftyp->Is("ftyp") || ftyp->end - ftyp->body < 4) return;
    bool accepted = false;
    for (std::uint64_t p = ftyp->body; p + 4 <= ftyp->end && !accepted; p += 4) {
        if (p == ftyp->body + 4) continue;  // minor version
        char brand[4];
        in.Seek(p);
        in.Read(brand, 4);
        accepted = AcceptedBrand(brand);
    }
    if (!accepted) return;

    // "moov" may come before or after the media data, with anything between.
    std::optional<TAtom> moov;
    std::uint64_t mediaBytes = 0;
    std::uint64_t pos = ftyp->end;
    for (int n = 0; n < kMaxChildren; ++n) {
        std::optional<TAtom> a = AtomAt(in, pos, fileSize);
        if (!a) break;
        if (a->Is("moov") && !moov) moov = a;
        if (a->Is("mdat")) mediaBytes += a->end - a->body;
        pos = a->end;
    }
    if (!moov) return;

    double seconds = 0;
    if (std::optional<TAtom> mvhd = FindChild(in, *moov, "mvhd")) {
        in.Seek(mvhd->body);
        const std::uint8_t version = in.U8();
        std::uint32_t timeScale;
        std::uint64_t duration;
        if (version == 1) {
            in.Skip(19);
            timeScale = in.U32BE();
            duration = in.U64BE();
        } else {
            in.Skip(11);
            timeScale = in.U32BE();
            duration = in.U32BE();
        }
        if (timeScale > 0) {
            seconds = double(duration) / timeScale;
            Duration = RoundHalfEven(seconds);
        }
    }

    // The first track whose first sample entry is AAC or Apple Lossless.
    std::uint64_t trakPos = moov->body;
    for (int n = 0; n < kMaxChildren; ++n) {
        std::optional<TAtom> trak = FindChild(in, trakPos, moov->end, "trak");
        if (!trak) break;
        trakPos = trak->end;
        std::optional<TAtom> mdia = FindChild(in, *trak, "mdia");
        std::optional<TAtom> minf = mdia ? FindChild(in, *mdia, "minf") : std::nullopt;
        std::optional<TAtom> stbl = minf ? FindChild(in, *minf, "stbl") : std::nullopt;
        std::optional<TAtom> stsd = stbl ? FindChild(in, *stbl, "stsd") : std::nullopt;
        if (!stsd) continue;
        std::optional<TAtom> entry = AtomAt(in, stsd->body + 8, stsd->end);  // after version, flags, count
        if (!entry || !(entry->Is("mp4a") || entry->Is("alac"))) continue;

        in.Seek(entry->start + 16);
        const std::uint16_t soundVersion = in.U16BE();
        in.Seek(entry->start + 24);
        Channels = in.U16BE();
        in.Seek(entry->start + 32);
        SampleRate = in.U16BE();
        // Children follow the sample description, which grows with its version.
        std::uint64_t childOffset = 36;
        if (soundVersion == 1) {
            childOffset = 52;
        } else if (soundVersion == 2) {
            childOffset = 72;
            in.Seek(entry->start + 40);
            std::uint64_t bits = in.U64BE();
            double rate;
            std::memcpy(&rate, &bits, sizeof rate);
            SampleRate = RoundHalfEven(rate);
            Channels = static_cast<std::int32_t>(in.U32BE());
        }
        const std::uint64_t children = entry->start + childOffset;
        std::uint32_t average = 0;
        if (entry->Is("mp4a")) {
            std::optional<TAtom> esds = FindChild(in, children, entry->end, "esds");
            if (!esds) {
                if (std::optional<TAtom> wave = FindChild(in, children, entry->end, "wave"))
                    esds = FindChild(in, *wave, "esds");
            }
            if (esds) {
                const TEsdsValues values = ReadEsds(in, *esds);
                average = values.averageBitRate;
                if (values.channels > 0) Channels = values.channels;
            }
        } else if (std::optional<TAtom> cookie = FindChild(in, children, entry->end, "alac")) {
            if (cookie->end - cookie->start >= 36) {
                in.Seek(cookie->start + 21);
                Channels = in.U8();
                in.Seek(cookie->start + 28);
                average = in.U32BE();
                const std::uint32_t rate = in.U32BE();
                if (rate > 0) SampleRate = static_cast<std::int32_t>(rate);
            }
        }
        BitRate = static_cast<std::int32_t>(average / 1000);
        // Lossless and some encoders leave the average out; the media data
        // over the playing time gives it.
        if (BitRate == 0 && seconds > 0 && mediaBytes > 0) BitRate = RoundHalfEven(double(mediaBytes) * 8 / seconds / 1000);
        break;
    }

    std::optional<TAtom> meta;
    if (std::optional<TAtom> udta = FindChild(in, *moov, "udta")) meta = FindChild(in, *udta, "meta");
    if (!meta) meta = FindChild(in, *moov, "meta");
    if (!meta) return;
    // A full atom (version and flags first) as written by iTunes; QuickTime
    // writers start the children right away.
    in.Seek(meta->body);
    const std::uint64_t metaChildren = (meta->end - meta->body >= 4 && in.U32BE() == 0) ? meta->body + 4 : meta->body;
    std::optional<TAtom> ilst = FindChild(in, metaChildren, meta->end, "ilst");
    if (!ilst) return;
    SetHasTags(true);

    std::string genreNumber, genreText;
    std::uint64_t itemPos = ilst->body;
    for (int n = 0; n < kMaxChildren; ++n) {
        std::optional<TAtom> item = AtomAt(in, itemPos, ilst->end);
        if (!item) break;
        itemPos = item->end;
        static const char* const kItems[] = {"\xA9nam", "\xA9" "ART", "\xA9" "cmt", "\xA9" "alb", "\xA9" "day",
                                             "gnre", "trkn", "trck", "\xA9gen"};
        int kind = -1;
        for (int k = 0; k < static_cast<int>(std::size(kItems)); ++k)
            if (item->Is(kItems[k])) kind = k;
        if (kind < 0) continue;
        std::optional<TAtom> data = FindChild(in, *item, "data");
        if (!data || data->end - data->body < 8) continue;
        in.Seek(data->body);
        const std::uint32_t versionAndFlags = in.U32BE();
        const std::uint8_t dataType = static_cast<std::uint8_t>(versionAndFlags & 0xFF);
        const std::uint64_t value = data->body + 8;
        const std::uint64_t valueSize = data->end - value;
        auto text = [&] {
            in.Seek(value);
            std::string raw = in.ReadString(static_cast<std::size_t>(std::min<std::uint64_t>(valueSize, kMaxText)));
            return SanitizeUtf8(CutAtZero(raw));
        };
        switch (kind) {
            case 0: Title = text(); break;
            case 1: Artist = text(); break;
            case 2: Comment = text(); break;
            case 3: Album = text(); break;
            case 4: Year = text(); break;
            case 5:
                if (dataType == 1) {
                    genreNumber = text();
                } else if (valueSize >= 2) {
                    in.Seek(value);
                    const char* name = M4AGenreName(int(in.U16BE()) - 1);
                    genreNumber = name ? name : "";
                } else {
                    genreNumber.clear();
                }
                break;
            case 6:
                if (valueSize >= 4) {
                    in.Seek(value);
                    Track = static_cast<std::uint16_t>(in.U32BE() & 0xFFFF);
                }
                break;
            case 8: genreText = text(); break;
            default: break;  // "trck" is known but carries nothing we keep
        }
    }
    Genre = !genreNumber.empty() ? genreNumber : genreText;
}
