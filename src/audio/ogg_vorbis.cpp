#include "audio/ogg_vorbis.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "audio/cover_art.h"
#include "audio/format_registry.h"
#include "base/byte_order.h"
#include "base/shared_functions.h"

namespace {

constexpr std::size_t kCommentLimit = 250;  // bytes kept of each comment
// Ends the comment walk of a corrupt header whose entry count is absurd.
constexpr std::uint32_t kMaxComments = 65536;

// An Ogg page header: "OggS", version, type, granule position (64 bits at 6),
// serial, sequence, checksum, segment count (at 26), then the lacing values.
constexpr std::size_t kPageHeaderSize = 27;
constexpr std::size_t kGranuleOffset = 6;
constexpr std::size_t kGranuleEnd = kGranuleOffset + 4;  // the low 32 bits are enough
constexpr std::size_t kSegmentCountOffset = 26;
// The identification header: marker, version, channels (at 11), sample rate
// (at 12), maximum, nominal (at 20) and minimum bit rate, block sizes, framing.
constexpr std::size_t kIdentSize = 30;
constexpr std::size_t kIdentChannels = 11;
constexpr std::size_t kIdentSampleRate = 12;
constexpr std::size_t kIdentNominalBitRate = 20;
const char kIdentMarker[7] = {1, 'v', 'o', 'r', 'b', 'i', 's'};
const char kCommentMarker[7] = {3, 'v', 'o', 'r', 'b', 'i', 's'};

// The last page is sought in windows of 251 bytes, 241 apart, backwards from
// the end, over at most this many windows (the last 12 060 bytes).
constexpr int kLastPageWindows = 50;
constexpr std::int64_t kWindowStep = 241;
constexpr std::int64_t kWindowSize = 251;
constexpr std::int64_t kWindowEndGap = 10;

enum Name {
    nTitle,
    nArtist,
    nAlbum,
    nTrackNumber,
    nDate,
    nGenre,
    nComment,
    nPerformer,
    nDescription,
    nAlbumArtist,
    nAlbumArtistSpaced,
    nDisc,
    nCount
};
const char* const kNames[nCount] = {"TITLE",   "ARTIST",    "ALBUM",       "TRACKNUMBER", "DATE",         "GENRE",
                                    "COMMENT", "PERFORMER", "DESCRIPTION", "ALBUMARTIST", "ALBUM ARTIST", "DISCNUMBER"};

constexpr unsigned char kTagFooterFlag = 0x10;

// Size of an ID3v2 tag in front of the stream, 0 when there is none that fits.
std::int64_t LeadingTagSize(TBinaryReader& in, std::int64_t fileSize) {
    unsigned char h[10];
    in.Seek(0);
    in.Read(h, sizeof h);
    if (std::memcmp(h, "ID3", 3) != 0) return 0;
    std::int64_t size = (std::int64_t(h[6]) << 21) + (std::int64_t(h[7]) << 14) + (std::int64_t(h[8]) << 7) + h[9];
    size += (h[5] & kTagFooterFlag) ? 20 : 10;  // header, and footer when there is one
    return size <= fileSize ? size : 0;
}

bool AtPage(TBinaryReader& in) {
    const std::uint64_t page = in.Position();
    char magic[4];
    in.Read(magic, sizeof magic);
    in.Seek(page);
    return std::memcmp(magic, "OggS", 4) == 0;
}

// Moves the reader from a page header to the page's first packet.
void EnterPage(TBinaryReader& in) {
    const std::uint64_t page = in.Position();
    unsigned char h[kPageHeaderSize];
    in.Read(h, sizeof h);
    in.Seek(page + kPageHeaderSize + h[kSegmentCountOffset]);
}

// Granule position (low 32 bits) of the last page within the final 12 060
// bytes, searched backwards in overlapping windows; 0 when there is none.
std::int32_t LastGranule(TBufferedFile& file) {
    const std::int64_t size = static_cast<std::int64_t>(file.Size());
    unsigned char buf[kWindowSize];
    for (int w = 1; w <= kLastPageWindows; ++w) {
        std::int64_t from = size - kWindowStep * w - kWindowEndGap;
        const bool first = from <= 0;
        if (first) from = 0;
        const std::size_t got = file.ReadAt(static_cast<std::uint64_t>(from), buf, sizeof buf);
        if (got >= kGranuleEnd) {
            const std::int64_t lastStart =
                std::min<std::int64_t>(kWindowStep, static_cast<std::int64_t>(got - kGranuleEnd));
            for (std::int64_t i = lastStart; i >= 0; --i)
                if (std::memcmp(buf + i, "OggS", 4) == 0)
                    return static_cast<std::int32_t>(GetU32LE(buf + i + kGranuleOffset));
        }
        if (first) break;
    }
    return 0;
}

}  // namespace

void TOggVorbis::Reset() {
    ClearTags();
    ClearStream();
    FileSize = 0;
    BitRateNominal = 0;
    Samples = 0;
    ID3v2Size = 0;
    Vendor.clear();
}

bool TOggVorbis::ReadFromFile(const std::string& path) {
    TBufferedFile file(path);
    return ReadFrom(file);
}

bool TOggVorbis::ReadFrom(TBufferedFile& file) {
    Reset();
    TBinaryReader in(file, TBinaryReader::TEndPolicy::ZeroFill);
    const std::int64_t fileSize = static_cast<std::int64_t>(file.Size());

    const std::int64_t tagSize = LeadingTagSize(in, fileSize);
    in.Seek(static_cast<std::uint64_t>(tagSize));
    if (!AtPage(in)) return false;
    EnterPage(in);
    unsigned char ident[kIdentSize];
    in.Read(ident, sizeof ident);
    if (std::memcmp(ident, kIdentMarker, sizeof kIdentMarker) != 0) return false;

    ID3v2Size = tagSize;
    FileSize = fileSize;
    Channels = ident[kIdentChannels];
    SampleRate = static_cast<std::int32_t>(GetU32LE(ident + kIdentSampleRate));
    BitRateNominal = static_cast<std::uint16_t>(GetU32LE(ident + kIdentNominalBitRate) / 1000);
    ReadComments(in);
    Samples = LastGranule(file);
    WorkOutStream();
    return true;
}

void TOggVorbis::ReadComments(TBinaryReader& in) {
    EnterPage(in);
    char marker[sizeof kCommentMarker];
    in.Read(marker, sizeof marker);
    if (std::memcmp(marker, kCommentMarker, sizeof marker) != 0) return;

    std::array<std::string, nCount> values;
    // The vendor string first, then the entries; the count follows the vendor.
    std::uint64_t strings = 1;
    for (std::uint64_t s = 0; s < strings && s <= kMaxComments && !in.AtEnd(); ++s) {
        const std::uint32_t length = in.U32LE();
        const std::uint64_t begin = in.Position();
        const std::string text = Trim(in.ReadString(std::min<std::size_t>(length, kCommentLimit)));
        const std::size_t eq = text.find('=');
        if (eq != std::string::npos) {
            const std::string name = UpperCase(text.substr(0, eq));
            for (int n = 0; n < nCount; ++n)
                if (name == kNames[n]) values[n] = Utf8UntilMalformed(Trim(text.substr(eq + 1)));
        } else if (Vendor.empty()) {
            Vendor = Utf8UntilMalformed(text);
        }
        in.Seek(begin);
        in.Skip(length);
        if (s == 0) strings += in.U32LE();
    }

    auto value = [&](int n) { return std::string(CutAtZero(values[n])); };
    auto withFallback = [&](int first, int second) { return value(values[first].empty() ? second : first); };
    Title = value(nTitle);
    Artist = withFallback(nArtist, nPerformer);
    Album = value(nAlbum);
    Year = value(nDate);
    Genre = value(nGenre);
    Comment = withFallback(nComment, nDescription);
    Track = ParseTrackNumber(values[nTrackNumber]) & 0xFF;
    AlbumArtist = withFallback(nAlbumArtist, nAlbumArtistSpaced);
    Disc = ParseTrackNumber(values[nDisc]);
}

void TOggVorbis::WorkOutStream() {
    const double audioBytes = double(FileSize - ID3v2Size);
    double seconds = 0;
    if (Samples > 0)
        seconds = SampleRate > 0 ? double(Samples) / SampleRate : 0.0;
    else if (BitRateNominal > 0 && Channels > 0)
        seconds = audioBytes / BitRateNominal / Channels / 125 * 2;
    SetPlayingTime(seconds);
    BitRate = seconds > 0 ? RoundHalfEven(audioBytes * 8 / seconds) : 0;
}

namespace {

class TOggFormat : public TAudioFormat {
public:
    std::string_view Name() const override { return "Ogg"; }
    std::vector<std::string_view> Extensions() const override { return {".OGG"}; }
    TMatch Recognise(const TFileHead& head) const override {
        return head.AfterTag().substr(0, 4) == "OggS" ? TMatch::Magic : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead&) const override {
        TOggVorbis ogg;
        if (!ogg.ReadFrom(file)) throw EUnknownFormat("an Ogg stream of an unknown kind");
        TFormatRead r;
        r.tags = ogg;
        r.numbers = RecordNumbers(ogg, file.Size());
        r.numbers[anBitRate] &= 0xFFFF;
        return r;
    }
    std::string Cover(TBufferedFile& file) const override { return VorbisCover(file); }
};

}  // namespace

std::unique_ptr<TAudioFormat> MakeOggFormat() { return std::make_unique<TOggFormat>(); }
