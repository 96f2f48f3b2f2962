// Walks the atom tree of MPEG-4 audio files for stream values and tags.
#include "audio/m4a.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/format_registry.h"
#include "audio/id3.h"
#include "audio/text_codec.h"
#include "services/configer.h"

namespace {

// Children visited per container at most: a corrupt file made of tiny atoms
// cannot keep the reader busy.
constexpr int kMaxChildren = 4096;
constexpr std::size_t kMaxText = 255;

constexpr std::uint64_t kAtomHeaderSize = 8;
constexpr std::uint64_t kLargeAtomHeaderSize = 16;  // size 1: a 64-bit size follows the type
constexpr std::uint64_t kFullAtomFlagsSize = 4;     // version and flags in front of a full atom's body

// "stsd": version, flags and entry count before the first sample entry.
constexpr std::uint64_t kSampleTableHeaderSize = 8;
// Audio sample entry, from the entry's first byte: the sound description
// version, channel count and 16.16 sample rate, and where the entry's own
// atoms start for each version (version 2 stores the rate as a double and
// the channel count as 32 bits instead).
constexpr std::uint64_t kEntrySoundVersion = 16;
constexpr std::uint64_t kEntryChannels = 24;
constexpr std::uint64_t kEntrySampleRate = 32;
constexpr std::uint64_t kEntryChildrenV0 = 36;
constexpr std::uint64_t kEntryChildrenV1 = 52;
constexpr std::uint64_t kEntryChildrenV2 = 72;
constexpr std::uint64_t kEntryV2SampleRate = 40;
// The Apple Lossless "alac" atom inside its sample entry, from its first
// byte: channel count (8 bits), average bit rate and sample rate (32 bits).
constexpr std::uint64_t kAlacCookieSize = 36;
constexpr std::uint64_t kAlacChannels = 21;
constexpr std::uint64_t kAlacAverageBitRate = 28;
// "dfLa": version and flags, then FLAC metadata blocks, STREAMINFO first;
// its sample rate and channel count start 10 bytes in.
constexpr std::uint64_t kFlacBlockHeaderSize = 4;
constexpr std::uint64_t kFlacRateOffset = 10;
// Where the audio coding mode starts, in bits: "dac3" after sample rate code,
// stream id and mode; "dec3" after data rate, substream count and the first
// substream's rate code, stream id, reserved bit, flag and mode.
constexpr std::uint64_t kDac3ModeBit = 10;
constexpr std::uint64_t kDec3ModeBit = 28;
// "btrt": buffer size, maximum and average bit rate.
constexpr std::uint64_t kBtrtAverage = 8;
// "hdlr": version and flags, a predefined field, then the handler type.
constexpr std::uint64_t kHandlerType = 8;
// "esds" descriptor tags.
constexpr std::uint8_t kEsDescriptor = 0x03;
constexpr std::uint8_t kDecoderConfigDescriptor = 0x04;
constexpr std::uint8_t kDecoderSpecificInfo = 0x05;
// ES descriptor: the stream id, then flags announcing optional fields.
constexpr std::uint64_t kEsIdSize = 2;
constexpr std::uint8_t kEsDependsOn = 0x80, kEsUrl = 0x40, kEsOcrStream = 0x20;
// Decoder configuration: object type, stream type, buffer size (24 bits) and
// maximum bit rate before the average bit rate.
constexpr std::uint64_t kDecoderConfigBeforeAverage = 1 + 1 + 3 + 4;
// "mvhd": after the version byte and the flags, the creation and
// modification times (32 or 64 bits each), then time scale and duration.
constexpr std::uint64_t kMvhdTimesV0 = 11;
constexpr std::uint64_t kMvhdTimesV1 = 19;
// "data" atom: version and flags (the last byte the data type), locale, value.
constexpr std::uint64_t kDataHeaderSize = 8;
constexpr std::uint8_t kUtf8Data = 1;

struct TAtom {
    std::uint64_t start = 0;
    std::uint64_t body = 0;  // first byte after the header
    std::uint64_t end = 0;
    char type[4] = {};

    bool Is(const char* t) const { return std::memcmp(type, t, 4) == 0; }
};

// The atom whose header starts at pos inside [pos, limit); its end is clamped
// to limit. Empty when no complete, sane header fits.
std::optional<TAtom> AtomAt(TBinaryReader& in, std::uint64_t pos, std::uint64_t limit) {
    if (pos >= limit || limit - pos < kAtomHeaderSize) return std::nullopt;
    in.Seek(pos);
    TAtom a;
    a.start = pos;
    std::uint64_t size = in.U32BE();
    in.Read(a.type, 4);
    a.body = pos + kAtomHeaderSize;
    if (size == 1) {
        if (limit - pos < kLargeAtomHeaderSize) return std::nullopt;
        size = in.U64BE();
        a.body = pos + kLargeAtomHeaderSize;
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

std::optional<TAtom> FindChild(TBinaryReader& in, const TAtom& parent, const char* type) {
    return FindChild(in, parent.body, parent.end, type);
}

// The atom reached from parent through the given child types, each the first of its kind.
std::optional<TAtom> FindPath(TBinaryReader& in, const TAtom& parent, std::initializer_list<const char*> types) {
    std::optional<TAtom> a = parent;
    for (const char* t : types) {
        a = FindChild(in, *a, t);
        if (!a) break;
    }
    return a;
}

bool AcceptedBrand(const char* brand) {
    static const char* const kBrands[] = {"M4A ", "M4B ", "mp42", "isom"};
    for (const char* b : kBrands)
        if (std::memcmp(brand, b, 4) == 0) return true;
    return false;
}

// The major brand or one of the compatible brands is one of ours.
bool HasAcceptedBrand(TBinaryReader& in, const TAtom& ftyp) {
    if (ftyp.end - ftyp.body < 4) return false;
    for (std::uint64_t p = ftyp.body; p + 4 <= ftyp.end; p += 4) {
        if (p == ftyp.body + 4) continue;  // minor version
        char brand[4];
        in.Seek(p);
        in.Read(brand, 4);
        if (AcceptedBrand(brand)) return true;
    }
    return false;
}

struct TTopLevel {
    std::optional<TAtom> moov;
    std::uint64_t mediaBytes = 0;  // inside all "mdat" atoms
};

// "moov" may come before or after the media data, with anything between.
TTopLevel ReadTopLevel(TBinaryReader& in, std::uint64_t from, std::uint64_t fileSize) {
    TTopLevel top;
    std::uint64_t pos = from;
    for (int n = 0; n < kMaxChildren; ++n) {
        std::optional<TAtom> a = AtomAt(in, pos, fileSize);
        if (!a) break;
        if (a->Is("moov") && !top.moov) top.moov = a;
        if (a->Is("mdat")) top.mediaBytes += a->end - a->body;
        pos = a->end;
    }
    return top;
}

// Playing time in seconds from "mvhd", 0 when unknown.
double ReadMovieHeader(TBinaryReader& in, const TAtom& moov) {
    std::optional<TAtom> mvhd = FindChild(in, moov, "mvhd");
    if (!mvhd) return 0;
    in.Seek(mvhd->body);
    const std::uint8_t version = in.U8();
    std::uint32_t timeScale;
    std::uint64_t duration;
    if (version == 1) {
        in.Skip(kMvhdTimesV1);
        timeScale = in.U32BE();
        duration = in.U64BE();
    } else {
        in.Skip(kMvhdTimesV0);
        timeScale = in.U32BE();
        duration = in.U32BE();
    }
    return timeScale > 0 ? double(duration) / timeScale : 0;
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

// Channel count of an AAC audio specific configuration (its first 40 bits):
// object type (5 bits, escaped into 6 more), frequency index (4 bits, escaped
// into 24 bits of rate), channel configuration (4 bits). 0 when it does not say.
int AacChannels(std::uint64_t bits) {
    constexpr std::uint64_t kEscapedObjectType = 31, kExplicitFrequency = 15;
    int shift = 40 - 5;
    if (((bits >> shift) & 0x1F) == kEscapedObjectType) shift -= 6;
    shift -= 4;
    if (((bits >> shift) & 0xF) == kExplicitFrequency) shift -= 24;
    shift -= 4;
    if (shift < 0) return 0;
    const int config = static_cast<int>((bits >> shift) & 0xF);
    if (config >= 1 && config <= 6) return config;
    return config == 7 ? 8 : 0;
}

// The average bit rate and the channel configuration of an "esds" atom. The
// sample entry's channel count is often a plain 2 whatever the stream holds.
TEsdsValues ReadEsds(TBinaryReader& in, const TAtom& esds) {
    TEsdsValues values;
    in.Seek(esds.body + kFullAtomFlagsSize);
    if (in.Position() + 2 > esds.end || in.U8() != kEsDescriptor) return values;
    DescriptorLength(in);
    in.Skip(kEsIdSize);
    const std::uint8_t flags = in.U8();
    if (flags & kEsDependsOn) in.Skip(kEsIdSize);
    if (flags & kEsUrl) in.Skip(in.U8());
    if (flags & kEsOcrStream) in.Skip(kEsIdSize);
    if (in.Position() >= esds.end || in.U8() != kDecoderConfigDescriptor) return values;
    DescriptorLength(in);
    in.Skip(kDecoderConfigBeforeAverage);
    if (in.Position() + 4 > esds.end) return values;
    values.averageBitRate = in.U32BE();
    if (in.Position() + 3 > esds.end || in.U8() != kDecoderSpecificInfo) return values;
    DescriptorLength(in);
    std::uint64_t bits = 0;
    const std::uint64_t available = std::min<std::uint64_t>(esds.end - std::min(esds.end, in.Position()), 5);
    for (std::uint64_t i = 0; i < 5; ++i) bits = (bits << 8) | (i < available ? in.U8() : 0);
    values.channels = AacChannels(bits);
    return values;
}

bool IsAudioEntryType(const TAtom& entry) {
    static const char* const kTypes[] = {"mp4a", "alac", "ac-3", "ec-3", "ac-4", "fLaC", "Opus", ".mp3", "samr", "sawb",
                                         "mha1", "mhm1", "dtsc", "dtsh", "dtsl", "dtse", "lpcm", "sowt", "twos", "ipcm",
                                         "fpcm", "in24", "in32", "fl32", "fl64", "ulaw", "alaw", "raw "};
    for (const char* t : kTypes)
        if (entry.Is(t)) return true;
    return false;
}

// A sound track says so in its handler; writers that leave the handler
// empty are recognised by the sample entry.
bool IsAudioTrack(TBinaryReader& in, const TAtom& trak, const TAtom& entry) {
    if (std::optional<TAtom> hdlr = FindPath(in, trak, {"mdia", "hdlr"});
        hdlr && hdlr->end - hdlr->body >= kHandlerType + 4) {
        char type[4];
        in.Seek(hdlr->body + kHandlerType);
        in.Read(type, sizeof type);
        if (std::memcmp(type, "soun", 4) == 0) return true;
    }
    return IsAudioEntryType(entry);
}

// A video track: a film with a sound track is not music.
bool HasVideoTrack(TBinaryReader& in, const TAtom& moov) {
    std::uint64_t trakPos = moov.body;
    for (int n = 0; n < kMaxChildren; ++n) {
        std::optional<TAtom> trak = FindChild(in, trakPos, moov.end, "trak");
        if (!trak) break;
        trakPos = trak->end;
        std::optional<TAtom> hdlr = FindPath(in, *trak, {"mdia", "hdlr"});
        if (!hdlr || hdlr->end - hdlr->body < kHandlerType + 4) continue;
        char type[4];
        in.Seek(hdlr->body + kHandlerType);
        in.Read(type, sizeof type);
        if (std::memcmp(type, "vide", 4) == 0) return true;
    }
    return false;
}

// The first sample entry of the first audio track.
std::optional<TAtom> FindAudioSampleEntry(TBinaryReader& in, const TAtom& moov) {
    std::uint64_t trakPos = moov.body;
    for (int n = 0; n < kMaxChildren; ++n) {
        std::optional<TAtom> trak = FindChild(in, trakPos, moov.end, "trak");
        if (!trak) break;
        trakPos = trak->end;
        std::optional<TAtom> stsd = FindPath(in, *trak, {"mdia", "minf", "stbl", "stsd"});
        if (!stsd) continue;
        std::optional<TAtom> entry = AtomAt(in, stsd->body + kSampleTableHeaderSize, stsd->end);
        if (entry && IsAudioTrack(in, *trak, *entry)) return entry;
    }
    return std::nullopt;
}

// The FLAC STREAMINFO in "dfLa": the sample entry's 16-bit rate cannot hold
// rates above 65 535 Hz.
void ReadFlacConfig(TBinaryReader& in, const TAtom& dfla, TStreamProps& stream) {
    const std::uint64_t at = dfla.body + kFullAtomFlagsSize + kFlacBlockHeaderSize + kFlacRateOffset;
    if (at + 8 > dfla.end) return;
    in.Seek(at);
    const std::uint64_t v = in.U64BE();
    if (const auto rate = static_cast<std::int32_t>(v >> 44); rate > 0) stream.SampleRate = rate;
    stream.Channels = static_cast<std::int32_t>((v >> 41) & 7) + 1;
}

// Dolby streams: the sample entry's channel count is fixed at 2; the coding
// mode and the LFE bit in "dac3" (after 10 bits) or, for the first
// substream, "dec3" (after 28 bits) tell the real one.
int DolbyChannels(std::uint32_t acmod, bool lfe) {
    static const int kByMode[8] = {2, 1, 2, 3, 3, 4, 4, 5};
    return kByMode[acmod & 7] + (lfe ? 1 : 0);
}

void ReadDolbyConfig(TBinaryReader& in, const TAtom& config, std::uint64_t modeBit, TStreamProps& stream) {
    const std::uint64_t bytes = (modeBit + 4 + 7) / 8;  // through the LFE bit
    if (config.end - config.body < bytes) return;
    in.Seek(config.body);
    std::uint64_t bits = 0;
    for (std::uint64_t i = 0; i < bytes; ++i) bits = (bits << 8) | in.U8();
    const std::uint64_t afterLfe = bytes * 8 - modeBit - 4;
    stream.Channels = DolbyChannels(static_cast<std::uint32_t>(bits >> (afterLfe + 1)), (bits >> afterLfe) & 1);
}

// The average of a "btrt" atom, which any sample entry may carry; 0 when absent.
std::uint32_t BitRateBoxAverage(TBinaryReader& in, std::uint64_t children, std::uint64_t end) {
    std::optional<TAtom> btrt = FindChild(in, children, end, "btrt");
    if (!btrt || btrt->end - btrt->body < kBtrtAverage + 4) return 0;
    in.Seek(btrt->body + kBtrtAverage);
    return in.U32BE();
}

// Channels, sample rate and bit rate from an audio sample entry; the media
// data over the playing time gives the bit rate where the entry has none.
void ReadSampleEntry(TBinaryReader& in, const TAtom& entry, double seconds, std::uint64_t mediaBytes,
                     TStreamProps& stream) {
    in.Seek(entry.start + kEntrySoundVersion);
    const std::uint16_t soundVersion = in.U16BE();
    in.Seek(entry.start + kEntryChannels);
    stream.Channels = in.U16BE();
    in.Seek(entry.start + kEntrySampleRate);
    stream.SampleRate = in.U16BE();  // the integer part
    std::uint64_t childOffset = kEntryChildrenV0;
    if (soundVersion == 1) {
        childOffset = kEntryChildrenV1;
    } else if (soundVersion == 2) {
        childOffset = kEntryChildrenV2;
        in.Seek(entry.start + kEntryV2SampleRate);
        const std::uint64_t bits = in.U64BE();
        double rate;
        std::memcpy(&rate, &bits, sizeof rate);
        stream.SampleRate = RoundHalfEven(rate);
        stream.Channels = static_cast<std::int32_t>(in.U32BE());
    }
    const std::uint64_t children = entry.start + childOffset;
    std::uint32_t average = 0;
    if (entry.Is("mp4a")) {
        std::optional<TAtom> esds = FindChild(in, children, entry.end, "esds");
        if (!esds) {
            if (std::optional<TAtom> wave = FindChild(in, children, entry.end, "wave"))
                esds = FindChild(in, *wave, "esds");
        }
        if (esds) {
            const TEsdsValues values = ReadEsds(in, *esds);
            average = values.averageBitRate;
            if (values.channels > 0) stream.Channels = values.channels;
        }
    } else if (entry.Is("alac")) {
        std::optional<TAtom> cookie = FindChild(in, children, entry.end, "alac");
        if (cookie && cookie->end - cookie->start >= kAlacCookieSize) {
            in.Seek(cookie->start + kAlacChannels);
            stream.Channels = in.U8();
            in.Seek(cookie->start + kAlacAverageBitRate);
            average = in.U32BE();
            const std::uint32_t rate = in.U32BE();
            if (rate > 0) stream.SampleRate = static_cast<std::int32_t>(rate);
        }
    } else if (entry.Is("ac-3") || entry.Is("ec-3")) {
        const bool ac3 = entry.Is("ac-3");
        if (std::optional<TAtom> config = FindChild(in, children, entry.end, ac3 ? "dac3" : "dec3"))
            ReadDolbyConfig(in, *config, ac3 ? kDac3ModeBit : kDec3ModeBit, stream);
    } else if (entry.Is("fLaC")) {
        if (std::optional<TAtom> dfla = FindChild(in, children, entry.end, "dfLa")) ReadFlacConfig(in, *dfla, stream);
    }
    if (average == 0) average = BitRateBoxAverage(in, children, entry.end);
    stream.BitRate = static_cast<std::int32_t>(std::min<std::uint32_t>(average, INT32_MAX));
    // Lossless and some encoders leave the average out.
    if (stream.BitRate == 0 && seconds > 0 && mediaBytes > 0)
        stream.BitRate = RoundHalfEven(double(mediaBytes) * 8 / seconds);
}

// "ilst" below "udta"/"meta" (iTunes) or "meta" right in "moov".
std::optional<TAtom> FindItemList(TBinaryReader& in, const TAtom& moov) {
    std::optional<TAtom> meta;
    if (std::optional<TAtom> udta = FindChild(in, moov, "udta")) meta = FindChild(in, *udta, "meta");
    if (!meta) meta = FindChild(in, moov, "meta");
    if (!meta) return std::nullopt;
    // A full atom (version and flags first) as written by iTunes; QuickTime
    // writers start the children right away.
    in.Seek(meta->body);
    const bool full = meta->end - meta->body >= kFullAtomFlagsSize && in.U32BE() == 0;
    return FindChild(in, full ? meta->body + kFullAtomFlagsSize : meta->body, meta->end, "ilst");
}

enum TItemKind {
    kTitle,
    kArtist,
    kComment,
    kAlbum,
    kYear,
    kGenreNumber,
    kTrack,
    kTrackText,
    kGenreText,
    kAlbumArtist,
    kDisc,
    kArtistSort,
    kAlbumArtistSort,
    kCompilation,
    kItemCount
};
const char* const kItemTypes[kItemCount] = {"\xA9nam",
                                            "\xA9"
                                            "ART",
                                            "\xA9"
                                            "cmt",
                                            "\xA9"
                                            "alb",
                                            "\xA9"
                                            "day",
                                            "gnre",
                                            "trkn",
                                            "trck",
                                            "\xA9gen",
                                            "aART",
                                            "disk",
                                            "soar",
                                            "soaa",
                                            "cpil"};

void ReadItemList(TBinaryReader& in, const TAtom& ilst, TTagFields& tags) {
    std::string genreNumber, genreText;
    std::uint64_t itemPos = ilst.body;
    for (int n = 0; n < kMaxChildren; ++n) {
        std::optional<TAtom> item = AtomAt(in, itemPos, ilst.end);
        if (!item) break;
        itemPos = item->end;
        int kind = -1;
        for (int k = 0; k < kItemCount; ++k)
            if (item->Is(kItemTypes[k])) kind = k;
        if (kind < 0) continue;
        std::optional<TAtom> data = FindChild(in, *item, "data");
        if (!data || data->end - data->body < kDataHeaderSize) continue;
        in.Seek(data->body);
        const std::uint8_t dataType = static_cast<std::uint8_t>(in.U32BE() & 0xFF);
        const std::uint64_t value = data->body + kDataHeaderSize;
        const std::uint64_t valueSize = data->end - value;
        auto text = [&] {
            in.Seek(value);
            std::string raw = in.ReadString(static_cast<std::size_t>(std::min<std::uint64_t>(valueSize, kMaxText)));
            return SanitizeUtf8(CutAtZero(raw));
        };
        auto number16 = [&]() -> std::int32_t {
            in.Seek(value);
            return valueSize >= 4 ? static_cast<std::int32_t>(in.U32BE() & 0xFFFF) : -1;
        };
        switch (kind) {
            case kTitle: tags.Title = text(); break;
            case kArtist: tags.Artist = text(); break;
            case kComment: tags.Comment = text(); break;
            case kAlbum: tags.Album = text(); break;
            case kYear: tags.Year = text(); break;
            case kGenreNumber:
                if (dataType == kUtf8Data) {
                    genreNumber = text();
                } else if (valueSize >= 2) {
                    in.Seek(value);
                    const char* name = M4AGenreName(int(in.U16BE()) - 1);
                    genreNumber = name ? name : "";
                } else {
                    genreNumber.clear();
                }
                break;
            case kTrack:
                if (const std::int32_t track = number16(); track >= 0) tags.Track = track;
                break;
            case kGenreText: genreText = text(); break;
            case kAlbumArtist: tags.AlbumArtist = text(); break;
            case kDisc:
                if (const std::int32_t disc = number16(); disc >= 0) tags.Disc = disc;
                break;
            case kArtistSort: tags.ArtistSort = text(); break;
            case kAlbumArtistSort: tags.AlbumArtistSort = text(); break;
            case kCompilation:
                if (valueSize >= 1) {
                    in.Seek(value);
                    tags.Compilation = in.U8() != 0;
                }
                break;
            default: break;  // "trck" is known but carries nothing we keep
        }
    }
    tags.Genre = !genreNumber.empty() ? genreNumber : genreText;
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
    ClearTags();
}

void TM4AFile::ReadFromFile(const std::string& path) {
    if (path.size() < 2) return;
    TBufferedFile file(path);
    ReadFrom(file);
}

void TM4AFile::ReadFrom(TBufferedFile& file) {
    TBinaryReader in(file);
    SetHasTags(false);
    ClearStream();

    hasVideo_ = false;
    std::optional<TAtom> ftyp = AtomAt(in, 0, file.Size());
    if (!ftyp || !ftyp->Is("ftyp")) return;
    const TTopLevel top = ReadTopLevel(in, ftyp->end, file.Size());
    if (!top.moov) return;
    hasVideo_ = HasVideoTrack(in, *top.moov);
    // Any brand will do for a file that holds an audio track.
    const std::optional<TAtom> entry = FindAudioSampleEntry(in, *top.moov);
    if (!entry && !HasAcceptedBrand(in, *ftyp)) return;

    const double seconds = ReadMovieHeader(in, *top.moov);
    SetPlayingTime(seconds);
    if (entry) ReadSampleEntry(in, *entry, seconds, top.mediaBytes, *this);

    std::optional<TAtom> ilst = FindItemList(in, *top.moov);
    if (!ilst) return;
    SetHasTags(true);
    ReadItemList(in, *ilst, *this);
}

namespace {

class TMp4Format : public TAudioFormat {
public:
    std::string_view Name() const override { return "MPEG-4 audio"; }
    std::vector<std::string_view> Extensions() const override { return {".M4A", ".M4B", ".MP4", ".M4P"}; }
    TMatch Recognise(const TFileHead& head) const override {
        const std::string_view s = head.Start();
        return s.size() >= 8 && s.substr(4, 4) == "ftyp" ? TMatch::Magic : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead&) const override {
        MarkSetting("iTunesInstalled");
        TM4AFile m4a;
        m4a.ReadFrom(file);
        if (m4a.HasVideo()) throw EUnknownFormat("a video file, not audio");
        TFormatRead r;
        r.tags = m4a;
        r.numbers = RecordNumbers(m4a, file.Size());
        return r;
    }
    std::string Cover(TBufferedFile& file) const override { return M4aCover(file); }
};

}  // namespace

std::unique_ptr<TAudioFormat> MakeMp4Format() { return std::make_unique<TMp4Format>(); }
