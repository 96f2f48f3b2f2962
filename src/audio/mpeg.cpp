// Finds the first MPEG frame and works out playing time and bit rate.
#include "audio/mpeg.h"

#include <algorithm>
#include <cstring>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "base/byte_order.h"
#include "base/shared_functions.h"

namespace {

// kbit/s by bit-rate index 1 to 14.
const std::int32_t kBitRates[5][14] = {
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 Layer I
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 Layer II
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 Layer III
    {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2/2.5 Layer I
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG-2/2.5 Layers II, III
};

const std::int32_t kSampleRates[3][3] = {
    {44100, 48000, 32000},  // MPEG-1
    {22050, 24000, 16000},  // MPEG-2
    {11025, 12000, 8000},   // MPEG-2.5
};

// The first frame's Xing or Info block follows the side information.
constexpr std::int64_t kFrameHeaderSize = 4;
std::int64_t SideInfoSize(const TMpegFrameHdr& h) {
    if (h.Version == 1) return h.Mono() ? 17 : 32;
    return h.Mono() ? 9 : 17;
}
constexpr std::size_t kXingBlockSize = 120;  // magic, flags, frames, bytes, table, quality
constexpr std::uint32_t kXingHasFrames = 1, kXingHasBytes = 2, kXingHasToc = 4, kXingHasQuality = 8;
constexpr std::size_t kXingTocSize = 100;
// Fraunhofer encoders write a VBRI block instead, at a fixed place: 32 bytes
// after the frame header. Version, delay and quality come first, then the
// byte and frame counts.
constexpr std::int64_t kVbriOffset = kFrameHeaderSize + 32;
constexpr std::size_t kVbriBlockSize = 18;
constexpr std::size_t kVbriBytes = 10;
constexpr std::size_t kVbriFrames = 14;

// The search for the first frame reads windows of this size, each starting
// with the last bytes of the one before so no header is cut in two.
constexpr int kWindowSize = 128;
constexpr int kWindowOverlap = 4;

constexpr std::int64_t kID3v1Size = 128;
constexpr std::int64_t kTagProbeMinimum = 11;  // an ID3v2 header and one body byte

}  // namespace

int TMpegFrameHdr::SamplesPerFrame() const {
    if (Layer == 1) return 384;
    if (Layer == 2) return 1152;
    if (Layer == 3) return Version == 1 ? 1152 : 576;
    return 0;
}

bool TMpegFrameHdr::Parse(const std::uint8_t* bytes, std::int64_t available) {
    if (available < 4) return false;
    std::memcpy(Bytes.data(), bytes, 4);
    const std::uint8_t b1 = Bytes[1];
    switch ((b1 >> 3) & 3) {
        case 3: Version = 1; break;
        case 2: Version = 2; break;
        case 0: Version = 3; break;
        default: Version = 0; break;
    }
    Layer = (4 - ((b1 >> 1) & 3)) & 3;

    const int bitRateIndex = BitRateIndex();
    if (Version == 0 || Layer == 0) {
        BitRate = -1;
    } else if (bitRateIndex == 0) {
        BitRate = 0;  // free format
    } else if (bitRateIndex == 15) {
        BitRate = -1;
    } else {
        int row = Version == 1 ? Layer - 1 : (Layer == 1 ? 3 : 4);
        BitRate = kBitRates[row][bitRateIndex - 1];
    }

    const int sampleRateIndex = SampleRateIndex();
    SampleRate = (Version == 0 || sampleRateIndex == 3) ? -1 : kSampleRates[Version - 1][sampleRateIndex];

    const std::int64_t bps = std::int64_t(BitRate) * 1000;
    if (SampleRate <= 0 || bps <= 0) {
        FrameLength = 4;
    } else if (Layer == 1) {
        FrameLength = static_cast<std::int32_t>(48 * bps / SampleRate + 4 * Padding());
    } else if (Layer == 2 || Version == 1) {
        FrameLength = static_cast<std::int32_t>(144 * bps / SampleRate + Padding());
    } else {
        FrameLength = static_cast<std::int32_t>(72 * bps / SampleRate + Padding());
    }

    Valid = Bytes[0] == 0xFF && (b1 & 0xE0) == 0xE0 && Version != 0 && Layer != 0 && BitRate != -1 && SampleRate != -1;
    // MPEG-1 Layer II allows some bit rates only in mono and others only in
    // the two-channel modes; the lower sampling frequencies have no such rule.
    if (Valid && Layer == 2 && Version == 1) {
        const bool mono = ChannelMode() == 3;
        switch (BitRate) {
            case 32:
            case 48:
            case 56:
            case 80: Valid = mono; break;
            case 224:
            case 256:
            case 320:
            case 384: Valid = !mono; break;
            default: break;
        }
    }
    return Valid;
}

int TMpegFrameHdr::Find(const std::uint8_t* buffer, int count, int from) {
    for (int i = std::max(from, 0); i <= count - 4; ++i) {
        if (buffer[i] == 0xFF && (buffer[i + 1] & 0xE0) == 0xE0 && Parse(buffer + i, count - i)) return i;
    }
    return -1;
}

void TAudInfo::Reset() {
    ClearStream();
    Header = TMpegFrameHdr();
    FirstFrame = -1;
    VBR = false;
    XingFound = false;
    XingFlags = XingFrames = XingBytes = XingQuality = 0;
    XingTOC.fill(0);
    VBRIFound = false;
    VBRIFrames = VBRIBytes = 0;
    FrameCount = -1;
    AudioBytes = -1;
    ID3v1.Exists = false;
    ID3v2.Clear();
}

void TAudInfo::ReadFromFile(const std::string& path) {
    Reset();
    if (Trim(path).empty()) return;
    TBufferedFile file(path);
    ReadFrom(file);
}

void TAudInfo::ReadFrom(TBufferedFile& file) {
    TBinaryReader reader(file);
    Analyse(reader, file.Size());
}

void TAudInfo::Analyse(TBinaryReader& stream, std::uint64_t count) {
    Reset();
    const TRange range{stream.File(), stream.Position(),
                       static_cast<std::int64_t>(std::min(count, stream.Remaining()))};
    if (range.count < 1) return;

    std::int64_t tagSize = 0;
    if (range.count >= kTagProbeMinimum) {
        ID3v2.ReadFromStream(stream, static_cast<std::uint64_t>(range.count));
        tagSize = ID3v2.TotalSize();
    }
    FindFirstFrame(range, tagSize);
    if (Header.Valid) {
        if (ReadXingHeader(range))
            FromFrameCount(range, XingFrames, XingBytes);
        else if (ReadVbriHeader(range))
            FromFrameCount(range, VBRIFrames, VBRIBytes);
    }
    ReadTrailingTag(stream, range);
    if (AudioBytes < 0) AudioBytes = range.count - FirstFrame - (ID3v1.Exists ? kID3v1Size : 0);
    if (Header.Valid && !XingFound && !VBRIFound) FromConstantBitRate();
    if (Header.Valid) {
        SampleRate = Header.SampleRate;
        Channels = Header.Mono() ? 1 : 2;
    }
}

void TAudInfo::FindFirstFrame(const TRange& range, std::int64_t from) {
    // A header only counts when another valid header follows it one frame
    // length later; every candidate is tried, not just the first of a window.
    auto nextIsValid = [&](std::int64_t q) {
        if (q + kFrameHeaderSize >= range.count) return false;
        std::uint8_t b[kFrameHeaderSize];
        if (range.file.ReadAt(range.start + static_cast<std::uint64_t>(q), b, sizeof b) < sizeof b) return false;
        TMpegFrameHdr next;
        return next.Parse(b, sizeof b);
    };

    std::uint8_t window[kWindowSize];
    std::int64_t pos = from;
    int carry = 0;
    TMpegFrameHdr firstCandidate;
    std::int64_t firstCandidateAt = -1;
    while (pos - from < MaxScan && pos < range.count) {
        std::int64_t n = kWindowSize - carry;
        if (pos + n >= range.count) n = range.count - pos;
        const std::size_t got = range.file.ReadAt(range.start + static_cast<std::uint64_t>(pos), window + carry,
                                                  static_cast<std::size_t>(n));
        if (static_cast<std::int64_t>(got) < n) break;  // the file shrank under us
        const int filled = carry + static_cast<int>(n);
        TMpegFrameHdr candidate;
        for (int i = candidate.Find(window, filled); i >= 0; i = candidate.Find(window, filled, i + 1)) {
            const std::int64_t at = pos + i - carry;
            if (firstCandidateAt < 0) {
                firstCandidate = candidate;
                firstCandidateAt = at;
            }
            if (nextIsValid(at + candidate.FrameLength)) {
                Header = candidate;
                FirstFrame = at;
                return;
            }
        }
        pos += n;
        if (filled >= kWindowOverlap) {
            std::memmove(window, window + filled - kWindowOverlap, kWindowOverlap);
            carry = kWindowOverlap;
        }
    }
    if (firstCandidateAt >= 0) {
        // A stream of a single frame has no follower to confirm it.
        Header = firstCandidate;
        FirstFrame = firstCandidateAt;
    }
}

bool TAudInfo::ReadXingHeader(const TRange& range) {
    const std::int64_t at = FirstFrame + kFrameHeaderSize + SideInfoSize(Header);
    if (at + static_cast<std::int64_t>(kXingBlockSize) >= range.count) return false;
    std::uint8_t x[kXingBlockSize];
    if (range.file.ReadAt(range.start + static_cast<std::uint64_t>(at), x, sizeof x) < sizeof x) return false;
    if (std::memcmp(x, "Xing", 4) != 0 && std::memcmp(x, "Info", 4) != 0) return false;
    // Encoders write the same block as "Info" in constant-bit-rate files,
    // often in a first frame of a higher bit rate than the rest; its frame
    // count is the reliable measure there too.
    VBR = x[0] == 'X';
    XingFound = true;
    XingFlags = GetU32BE(x + 4);
    std::size_t p = 8;
    if (XingFlags & kXingHasFrames) {
        XingFrames = GetU32BE(x + p);
        p += 4;
    }
    if (XingFlags & kXingHasBytes) {
        XingBytes = GetU32BE(x + p);
        p += 4;
    }
    if (XingFlags & kXingHasToc) {
        std::memcpy(XingTOC.data(), x + p, kXingTocSize);
        p += kXingTocSize;
    }
    if (XingFlags & kXingHasQuality) XingQuality = GetU32BE(x + p);
    return true;
}

bool TAudInfo::ReadVbriHeader(const TRange& range) {
    const std::int64_t at = FirstFrame + kVbriOffset;
    if (at + static_cast<std::int64_t>(kVbriBlockSize) > range.count) return false;
    std::uint8_t v[kVbriBlockSize];
    if (range.file.ReadAt(range.start + static_cast<std::uint64_t>(at), v, sizeof v) < sizeof v) return false;
    if (std::memcmp(v, "VBRI", 4) != 0) return false;
    VBR = true;
    VBRIFound = true;
    VBRIBytes = GetU32BE(v + kVbriBytes);
    VBRIFrames = GetU32BE(v + kVbriFrames);
    return true;
}

void TAudInfo::FromFrameCount(const TRange& range, std::uint32_t frames, std::uint32_t bytes) {
    if (Header.SampleRate > 0) SetPlayingTime(double(Header.SamplesPerFrame()) / Header.SampleRate * frames);
    FrameCount = frames;
    // The byte count includes the block's own frame, which the frame count
    // leaves out: an average from them comes out high. A constant bit rate is
    // the one its frames state.
    if (!VBR) BitRate = ConstantBitRate(range) * 1000;
    if (bytes == 0) return;
    if (VBR && Duration != 0) BitRate = RoundHalfEven(double(bytes) * 8 * 1000 / double(Duration));
    const std::int64_t available = range.count - FirstFrame;
    if (available < std::int64_t(bytes)) {
        // A cut file: the part that is there.
        const double share = double(available) / bytes;
        SetPlayingTime(share * Seconds());
        FrameCount = RoundCount(share * static_cast<double>(FrameCount));
    } else {
        AudioBytes = bytes;
    }
}

std::int32_t TAudInfo::ConstantBitRate(const TRange& range) const {
    // The first frame may be written at a higher rate to hold the block; the
    // frame after it has the stream's.
    const std::int64_t next = FirstFrame + Header.FrameLength;
    std::uint8_t b[kFrameHeaderSize];
    TMpegFrameHdr h;
    if (next + kFrameHeaderSize <= range.count &&
        range.file.ReadAt(range.start + static_cast<std::uint64_t>(next), b, sizeof b) == sizeof b &&
        h.Parse(b, sizeof b) && h.BitRate > 0)
        return h.BitRate;
    return std::max(Header.BitRate, 0);
}

void TAudInfo::ReadTrailingTag(TBinaryReader& stream, const TRange& range) {
    const std::int64_t tail = Header.Valid ? FirstFrame + Header.FrameLength : 0;
    if (tail >= range.count) return;
    stream.Seek(range.start + static_cast<std::uint64_t>(tail));
    ID3v1.ReadFromStream(stream, static_cast<std::uint64_t>(range.count - tail));
}

void TAudInfo::FromConstantBitRate() {
    FrameCount = Header.FrameLength > 0 ? AudioBytes / Header.FrameLength : 0;
    const std::int64_t bps = std::int64_t(Header.BitRate) * 1000;
    BitRate = static_cast<std::int32_t>(bps);
    SetPlayingTime(bps <= 0 ? 0 : double(AudioBytes) * 8 / double(bps));
}
