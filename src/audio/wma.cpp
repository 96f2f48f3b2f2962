// Walks the ASF header objects of WMA files for stream values and tags.
#include "audio/wma.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/format_registry.h"
#include "audio/text_codec.h"
#include "base/shared_functions.h"

namespace {

using TGuid = std::array<unsigned char, 16>;

// GUIDs as stored: the first three groups little-endian, the rest as written.
constexpr TGuid Guid(std::uint32_t a, std::uint16_t b, std::uint16_t c, std::uint64_t d) {
    TGuid g{};
    for (int i = 0; i < 4; ++i) g[i] = static_cast<unsigned char>(a >> (8 * i));
    for (int i = 0; i < 2; ++i) g[4 + i] = static_cast<unsigned char>(b >> (8 * i));
    for (int i = 0; i < 2; ++i) g[6 + i] = static_cast<unsigned char>(c >> (8 * i));
    for (int i = 0; i < 8; ++i) g[8 + i] = static_cast<unsigned char>(d >> (8 * (7 - i)));
    return g;
}

constexpr TGuid kHeader = Guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6CULL);
constexpr TGuid kFileProperties = Guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ULL);
constexpr TGuid kStreamProperties = Guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ULL);
constexpr TGuid kContentDescription = Guid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6CULL);
constexpr TGuid kExtendedContentDescription = Guid(0xD2D0A440, 0xE307, 0x11D2, 0x97F000A0C95EA850ULL);

// Every object starts with its GUID and its 64-bit size; offsets below count
// from the object's first byte.
constexpr std::uint64_t kObjectHeaderSize = 24;
// The header object: object count (32 bits) and two reserved bytes.
constexpr std::uint64_t kHeaderObjectSize = kObjectHeaderSize + 6;
// File properties: the maximum bit rate after the file id, sizes, dates,
// durations, flags and packet sizes.
constexpr std::uint64_t kMaxBitRateOffset = 100;
constexpr std::uint64_t kPlayDurationOffset = 64;
constexpr std::uint64_t kPrerollOffset = 80;  // then the flags
constexpr std::uint32_t kBroadcastFlag = 1;
constexpr double kHundredNanoseconds = 1e7;
// Stream properties: the type-specific data (for audio a WAVEFORMATEX) after
// two GUIDs, the time offset, two lengths, flags and a reserved field; its
// channel count, sample rate and average byte rate follow the format tag.
constexpr std::uint64_t kWaveFormatChannelsOffset = 80;
// Content description: five 16-bit byte lengths, then the strings.
constexpr std::uint64_t kContentLengthsOffset = 24;
// Extended content description: the descriptor count, then the descriptors.
constexpr std::uint64_t kDescriptorCountOffset = 24;
constexpr std::uint16_t kUnicodeValue = 0;
constexpr std::uint16_t kDwordValue = 3;

constexpr std::size_t kMaxChars = 250;  // characters kept of each string

enum Slot {
    sTitle,
    sArtist,
    sAlbum,
    sTrack,
    sYear,
    sGenre,
    sComment,
    sTrackNumber,
    sAlbumArtist,
    sDisc,
    sArtistSort,
    sAlbumArtistSort,
    sCompilation,
    sCount
};
const char* const kNames[sCount] = {"WM/TITLE",          "WM/AUTHOR",   "WM/ALBUMTITLE",  "WM/TRACK",
                                    "WM/YEAR",           "WM/GENRE",    "WM/DESCRIPTION", "WM/TRACKNUMBER",
                                    "WM/ALBUMARTIST",    "WM/PARTOFSET", "WM/ARTISTSORTORDER",
                                    "WM/ALBUMARTISTSORTORDER", "WM/ISCOMPILATION"};
constexpr std::uint16_t kBoolValue = 2;

// What the header walk collects.
struct THeaderValues {
    std::uint32_t maxBitRate = 0, sampleRate = 0, bytesPerSecond = 0;
    // From the file properties: 100-ns units, milliseconds; the flags say
    // whether the durations are known (not for a live broadcast).
    std::uint64_t playDuration = 0, preroll = 0;
    std::uint32_t fileFlags = 0;
    std::uint16_t channels = 0;
    std::array<std::string, sCount> slots;
    std::array<bool, sCount> seen{};

    void Store(int slot, std::string text) {
        slots[slot] = std::move(text);
        seen[slot] = true;
    }
};

// Channel count, sample rate and byte rate that can belong to one audio
// stream: up to 7.1 channels, rates from 8 to 192 kHz, and no more bytes than
// uncompressed 32-bit samples would take (lossless streams come close).
constexpr std::uint16_t kMaxChannels = 8;
constexpr std::uint32_t kMinSampleRate = 8000;
constexpr std::uint32_t kMaxSampleRate = 192000;
constexpr std::uint64_t kMaxBytesPerSample = 4;

bool StreamValuesFit(const THeaderValues& v) {
    return v.channels >= 1 && v.channels <= kMaxChannels && v.sampleRate >= kMinSampleRate &&
           v.sampleRate <= kMaxSampleRate && v.bytesPerSecond > 0 &&
           v.bytesPerSecond <= std::uint64_t(v.sampleRate) * v.channels * kMaxBytesPerSample;
}

std::string ReadWideString(TBinaryReader& in, std::uint16_t bytes) {
    const std::size_t keep = std::min<std::size_t>(bytes, 2 * kMaxChars);
    std::string raw = in.ReadString(keep);
    in.Skip(bytes - keep);
    return Utf16ToUtf8(raw, false, false);
}

void ReadContentDescription(TBinaryReader& in, std::uint64_t object, THeaderValues& values) {
    in.Seek(object + kContentLengthsOffset);
    std::uint16_t lengths[5];  // title, author, copyright, description, rating
    for (auto& l : lengths) l = in.U16LE();
    const int targets[5] = {sTitle, sArtist, -1, sComment, -1};
    for (int i = 0; i < 5; ++i) {
        if (lengths[i] == 0) continue;
        std::string text = ReadWideString(in, lengths[i]);
        if (targets[i] >= 0) values.Store(targets[i], std::move(text));
    }
}

void ReadExtendedContentDescription(TBinaryReader& in, std::uint64_t object, THeaderValues& values) {
    in.Seek(object + kDescriptorCountOffset);
    const std::uint16_t count = in.U16LE();
    for (std::uint16_t d = 0; d < count; ++d) {
        const std::string name = UpperCase(Trim(ReadWideString(in, in.U16LE())));
        const std::uint16_t type = in.U16LE();
        const std::uint16_t length = in.U16LE();
        int slot = -1;
        for (int s = 0; s < sCount; ++s)
            if (name == kNames[s]) slot = s;
        if (slot >= 0 && type == kUnicodeValue)
            values.Store(slot, ReadWideString(in, length));
        else if ((slot == sTrackNumber || slot == sCompilation) && (type == kDwordValue || type == kBoolValue) &&
                 length == 4)
            values.Store(slot, std::to_string(in.U32LE()));
        else
            in.Skip(length);
    }
}

// Walks the objects of the header object; raises EReadError when the file
// ends inside what is read.
void WalkHeader(TBinaryReader& in, std::uint64_t fileSize, THeaderValues& values) {
    TGuid guid;
    in.Read(guid.data(), guid.size());
    if (guid != kHeader) return;
    const std::uint64_t headerEnd = std::min<std::uint64_t>(in.U64LE(), fileSize);
    const std::uint32_t objects = in.U32LE();
    in.Seek(kHeaderObjectSize);
    for (std::uint32_t o = 0; o < objects; ++o) {
        const std::uint64_t p = in.Position();
        // Objects beyond the header object (a count larger than the objects
        // present) are not part of it.
        if (p + kObjectHeaderSize > headerEnd) break;
        in.Read(guid.data(), guid.size());
        const std::uint64_t size = in.U64LE();
        if (guid == kFileProperties) {
            in.Seek(p + kPlayDurationOffset);
            values.playDuration = in.U64LE();
            in.Seek(p + kPrerollOffset);
            values.preroll = in.U64LE();
            values.fileFlags = in.U32LE();
            in.Seek(p + kMaxBitRateOffset);
            values.maxBitRate = in.U32LE();
        } else if (guid == kStreamProperties) {
            in.Seek(p + kWaveFormatChannelsOffset);
            values.channels = in.U16LE();
            values.sampleRate = in.U32LE();
            values.bytesPerSecond = in.U32LE();
        } else if (guid == kContentDescription) {
            ReadContentDescription(in, p, values);
        } else if (guid == kExtendedContentDescription) {
            ReadExtendedContentDescription(in, p, values);
        }
        // An object too small to hold its own header ends the walk, and so
        // does one running past the header: a 64-bit size could otherwise
        // wrap round to an earlier object and loop.
        if (size < kObjectHeaderSize || size > headerEnd - p) break;
        in.Seek(p + size);
    }
}

void AssignTags(const THeaderValues& values, TTagFields& tags) {
    tags.Title = Trim(values.slots[sTitle]);
    tags.Artist = Trim(values.slots[sArtist]);
    tags.Album = Trim(values.slots[sAlbum]);
    tags.Year = Trim(values.slots[sYear]);
    tags.Genre = Trim(values.slots[sGenre]);
    tags.Comment = Trim(values.slots[sComment]);
    // "WM/TrackNumber" is what current writers use; the older "WM/Track" wins
    // when both are there.
    tags.Track = ParseTrackNumber(Trim(values.seen[sTrack] ? values.slots[sTrack] : values.slots[sTrackNumber]));
    tags.AlbumArtist = Trim(values.slots[sAlbumArtist]);
    tags.Disc = ParseTrackNumber(Trim(values.slots[sDisc]));
    tags.ArtistSort = Trim(values.slots[sArtistSort]);
    tags.AlbumArtistSort = Trim(values.slots[sAlbumArtistSort]);
    const std::string compilation = UpperCase(Trim(values.slots[sCompilation]));
    tags.Compilation = compilation == "TRUE" || ParseTrackNumber(compilation) > 0;
}

}  // namespace

void TWMAfile::Reset() {
    ClearTags();
    ClearStream();
    Valid = false;
    FileSize = 0;
}

bool TWMAfile::ReadFromFile(const std::string& path) {
    Reset();
    try {
        TBufferedFile file(path);
        return ReadFrom(file);
    } catch (const Exception&) {
        return false;
    }
}

bool TWMAfile::ReadFrom(TBufferedFile& file) {
    Reset();
    THeaderValues values;
    bool walked = true;
    try {
        TBinaryReader in(file);
        WalkHeader(in, file.Size(), values);
    } catch (const Exception&) {
        walked = false;  // what was read before the end still counts
    }
    FileSize = static_cast<std::int64_t>(file.Size());
    AssignTags(values, *this);
    if (StreamValuesFit(values)) {
        Valid = true;
        Channels = values.channels;
        SampleRate = static_cast<std::int32_t>(values.sampleRate);
        BitRate = static_cast<std::int32_t>(std::uint64_t(values.bytesPerSecond) * 8);
        // The play duration counts the preroll as well. Without one (a live
        // stream), an estimate: the maximum bit rate is the file's, not the
        // stream's, and a large picture makes it far too long.
        const double played = double(values.playDuration) / kHundredNanoseconds - double(values.preroll) / 1000;
        if (!(values.fileFlags & kBroadcastFlag) && values.playDuration > 0 && played > 0)
            SetPlayingTime(played);
        else if (values.maxBitRate > 0)
            SetPlayingTime(double(FileSize) * 8 / values.maxBitRate);
    }
    return walked;
}

namespace {

const unsigned char kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

class TWmaFormat : public TAudioFormat {
public:
    std::string_view Name() const override { return "WMA"; }
    std::vector<std::string_view> Extensions() const override { return {".WMA", ".ASF"}; }
    TMatch Recognise(const TFileHead& head) const override {
        const std::string_view s = head.Start();
        return s.size() >= 16 && std::memcmp(s.data(), kAsfHeaderGuid, 16) == 0 ? TMatch::Magic : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead&) const override {
        TWMAfile wma;
        wma.ReadFrom(file);  // absorbs every failure and delivers empty values
        TFormatRead r;
        r.tags = wma;
        r.numbers = RecordNumbers(wma, file.Size());
        return r;
    }
    std::string Cover(TBufferedFile& file) const override { return WmaCover(file); }
};

}  // namespace

std::unique_ptr<TAudioFormat> MakeWmaFormat() { return std::make_unique<TWmaFormat>(); }
