// Reads Ogg Vorbis stream properties, comments and sample count.
#include "audio/ogg_vorbis.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/id3.h"
#include "audio/ogg_packets.h"
#include "audio/text_codec.h"
#include "audio/vorbis_comment.h"
#include "base/byte_order.h"
#include "base/shared_functions.h"

namespace {

// An Ogg page header: "OggS", version, type, granule position (64 bits at 6),
// serial, sequence, checksum, segment count (at 26), then the lacing values.
constexpr std::size_t kGranuleOffset = 6;
constexpr std::size_t kGranuleEnd = kGranuleOffset + 4;  // the low 32 bits are enough
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

// Size of an ID3v2 tag in front of the stream, 0 when there is none that fits.
std::int64_t LeadingTagSize(TBinaryReader& in, std::int64_t fileSize) {
    unsigned char h[TID3v2Header::kSize];
    in.Seek(0);
    in.Read(h, sizeof h);
    const std::optional<TID3v2Header> tag = ParseID3v2Header(h, sizeof h);
    if (!tag) return 0;
    const auto size = static_cast<std::int64_t>(tag->TotalSize());
    return size <= fileSize ? size : 0;
}

// Granule position (low 32 bits) of the last page within the final 12 060
// bytes, searched backwards in overlapping windows; 0 when there is none.
std::int32_t LastGranuleLow32(TBufferedFile& file) {
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
    TOggPackets packets(file, static_cast<std::uint64_t>(tagSize));
    if (!packets.NextPacket()) return false;
    unsigned char ident[kIdentSize] = {};
    packets.Read(ident, sizeof ident);
    if (std::memcmp(ident, kIdentMarker, sizeof kIdentMarker) != 0) return false;

    ID3v2Size = tagSize;
    FileSize = fileSize;
    Channels = ident[kIdentChannels];
    SampleRate = static_cast<std::int32_t>(GetU32LE(ident + kIdentSampleRate));
    BitRateNominal = static_cast<std::uint16_t>(GetU32LE(ident + kIdentNominalBitRate) / 1000);
    ReadComments(packets);
    Samples = LastGranuleLow32(file);
    WorkOutStream();
    return true;
}

void TOggVorbis::ReadComments(TOggPackets& packets) {
    if (!packets.NextPacket()) return;
    char marker[sizeof kCommentMarker];
    if (packets.Read(marker, sizeof marker) != sizeof marker ||
        std::memcmp(marker, kCommentMarker, sizeof marker) != 0)
        return;
    const TVorbisComments comments = ParseVorbisComments(packets);
    Vendor = Utf8OrLatin1(comments.vendor);
    SelectVorbisTags(comments, TVorbisRules::Ogg, *this);
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

