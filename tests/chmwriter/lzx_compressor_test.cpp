#include "chmwriter/lzx_compressor.h"
#include "chmwriter/lzx_matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "chmwriter/lzx_test_util.h"
#include "chmwriter/lzx_sample_html.h"

namespace {

std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

void ExpectDecodes(const char* decoder, const std::optional<std::vector<std::uint8_t>>& decoded,
                   const std::vector<std::uint8_t>& input, unsigned windowBits) {
    ASSERT_TRUE(decoded.has_value()) << decoder << " rejected " << input.size() << " bytes, window " << windowBits;
    ASSERT_EQ(decoded->size(), input.size()) << decoder;
    EXPECT_TRUE(*decoded == input) << decoder << ": first difference at "
                                   << std::mismatch(decoded->begin(), decoded->end(), input.begin()).first -
                                          decoded->begin();
}

// Decodes with libmspack and, where installed, with 7-Zip.
void ExpectRoundTrip(const std::vector<std::uint8_t>& input, unsigned windowBits) {
    const TLzxInterval interval = CompressLzxInterval(input, windowBits);
    const auto cab = MakeLzxCabinet(interval, input.size(), windowBits);
    ExpectDecodes("libmspack", DecodeCabinetWithMspack(cab), input, windowBits);
    if (Have7z()) ExpectDecodes("7-Zip", DecodeCabinetWith7z(cab), input, windowBits);
}

// Catalogue text with a random stretch in the middle, so one interval needs
// both compressed and stored blocks.
std::vector<std::uint8_t> Mixed(std::size_t n, std::uint64_t seed) {
    auto data = MakeCatalogueHtml(n, seed);
    const auto noise = RandomBytes(n / 3, seed);
    std::copy(noise.begin(), noise.end(), data.begin() + static_cast<std::ptrdiff_t>(n / 3));
    return data;
}

}  // namespace

TEST(LzxCompressor, EmptyInputIsEmptyInterval) {
    const TLzxInterval r = CompressLzxInterval({}, 16);
    EXPECT_TRUE(r.Bytes.empty());
    EXPECT_TRUE(r.FrameOffsets.empty());
}

TEST(LzxCompressor, RejectsUnsupportedWindow) {
    const auto data = Text("abc");
    EXPECT_THROW(CompressLzxInterval(data, 14), std::invalid_argument);
    EXPECT_THROW(CompressLzxInterval(data, 22), std::invalid_argument);
}

TEST(LzxCompressor, RoundTripsAroundFrameSizes) {
    for (std::size_t n :
         {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{300}, kLzxFrameSize - 1,
          kLzxFrameSize, kLzxFrameSize + 1, 2 * kLzxFrameSize, 3 * kLzxFrameSize + 17}) {
        SCOPED_TRACE(n);
        ExpectRoundTrip(MakeCatalogueHtml(n, n), 16);
        ExpectRoundTrip(Mixed(n, n + 1), 16);
    }
}

namespace {

// Block type of the first block: the stream opens with the translation bit,
// then three bits of block type, most significant first in a 16-bit word.
unsigned FirstBlockType(const TLzxInterval& r) {
    const unsigned word = r.Bytes.at(0) | (r.Bytes.at(1) << 8);
    EXPECT_EQ(word >> 15, 0u) << "call translation must be off";
    return (word >> 12) & 7;
}

std::size_t CompressedSize(const std::vector<std::uint8_t>& data, unsigned windowBits) {
    return CompressLzxInterval(data, windowBits).Bytes.size();
}

}  // namespace

TEST(LzxCompressor, SevenZipRejectsMisplacedFrameOffsets) {
    // Guards the oracle itself: the offsets are only checked if this fails.
    if (!Have7z()) GTEST_SKIP() << "7z is not installed";
    const auto data = MakeCatalogueHtml(3 * kLzxFrameSize, 81);
    TLzxInterval interval = CompressLzxInterval(data, 16);
    ASSERT_TRUE(DecodeCabinetWith7z(MakeLzxCabinet(interval, data.size(), 16)).has_value());
    interval.FrameOffsets[1] += 2;
    const auto decoded = DecodeCabinetWith7z(MakeLzxCabinet(interval, data.size(), 16));
    EXPECT_TRUE(!decoded || *decoded != data);
}

TEST(LzxCompressor, FrameOffsetsStartEveryFrameOnAWordBoundary) {
    const auto data = Mixed(5 * kLzxFrameSize + 999, 3);
    const TLzxInterval r = CompressLzxInterval(data, 16);
    ASSERT_EQ(r.FrameOffsets.size(), 6u);
    EXPECT_EQ(r.FrameOffsets[0], 0u);
    for (std::size_t i = 1; i < r.FrameOffsets.size(); ++i) {
        EXPECT_GT(r.FrameOffsets[i], r.FrameOffsets[i - 1]);
        EXPECT_EQ(r.FrameOffsets[i] % 2, 0u);
    }
    EXPECT_LT(r.FrameOffsets.back(), r.Bytes.size());
    EXPECT_EQ(r.Bytes.size() % 2, 0u);
}

TEST(LzxCompressor, EveryWindowSizeRoundTrips) {
    const auto data = Mixed(2 * kLzxFrameSize + 4321, 5);
    for (unsigned bits = 15; bits <= 21; ++bits) {
        SCOPED_TRACE(bits);
        ExpectRoundTrip(data, bits);
    }
}

TEST(LzxCompressor, MatchesStayInsideTheWindow) {
    // A block repeated 50 KiB later: out of reach of a 32 KiB window, in
    // reach of a 64 KiB one.
    auto data = RandomBytes(20000, 11);
    const auto filler = RandomBytes(30000, 12);
    data.insert(data.end(), filler.begin(), filler.end());
    data.insert(data.end(), data.begin(), data.begin() + 20000);
    ExpectRoundTrip(data, 15);
    ExpectRoundTrip(data, 16);
    EXPECT_LT(CompressedSize(data, 16) + 15000, CompressedSize(data, 15));
}

TEST(LzxCompressor, IncompressibleFramesAreStored) {
    const auto frame = RandomBytes(kLzxFrameSize, 21);
    const TLzxInterval one = CompressLzxInterval(frame, 16);
    EXPECT_EQ(FirstBlockType(one), 3u);
    EXPECT_LE(one.Bytes.size(), kLzxFrameSize + 20);
    ExpectRoundTrip(frame, 16);

    // The 5-byte tail goes out as a frame padded with zeros, which is cheap.
    const auto odd = RandomBytes(3 * kLzxFrameSize + 5, 22);
    const TLzxInterval r = CompressLzxInterval(odd, 16);
    ASSERT_EQ(r.FrameOffsets.size(), 4u);
    for (std::size_t f = 0; f < 3; ++f) EXPECT_LE(r.FrameOffsets[f + 1] - r.FrameOffsets[f], kLzxFrameSize + 20);
    EXPECT_LE(r.Bytes.size() - r.FrameOffsets[3], 150u);
    ExpectRoundTrip(odd, 16);
}

TEST(LzxCompressor, RepeatedFrameIsMatchedAcrossTheFrameBoundary) {
    // The first frame is stored, the second is one long run of matches into it.
    auto data = RandomBytes(kLzxFrameSize, 31);
    data.insert(data.end(), data.begin(), data.end());
    const TLzxInterval r = CompressLzxInterval(data, 16);
    ASSERT_EQ(r.FrameOffsets.size(), 2u);
    EXPECT_LT(r.Bytes.size() - r.FrameOffsets[1], 400u);
    ExpectRoundTrip(data, 16);
}

TEST(LzxCompressor, LongRunsShrinkToAlmostNothing) {
    const std::vector<std::uint8_t> zeros(6 * kLzxFrameSize + 3, 0);
    EXPECT_LT(CompressedSize(zeros, 16), 600u);
    ExpectRoundTrip(zeros, 16);

    std::vector<std::uint8_t> pattern;
    while (pattern.size() < 100000)
        for (char c : std::string("abcdefg")) pattern.push_back(static_cast<std::uint8_t>(c));
    EXPECT_LT(CompressedSize(pattern, 17), 800u);
    ExpectRoundTrip(pattern, 17);
}

TEST(LzxCompressor, RecordDataUsesAlignedOffsetBlocks) {
    // 8-byte records drawn from a small pool: match distances are multiples
    // of 8, so the low three offset bits are all alike.
    const auto pool = RandomBytes(8 * 700, 41);
    TSampleRandom rnd(42);
    std::vector<std::uint8_t> data;
    while (data.size() < 2 * kLzxFrameSize) {
        const std::size_t k = 8 * rnd.Below(700);
        data.insert(data.end(), pool.begin() + static_cast<std::ptrdiff_t>(k),
                    pool.begin() + static_cast<std::ptrdiff_t>(k + 8));
    }
    const TLzxInterval r = CompressLzxInterval(data, 16);
    EXPECT_EQ(FirstBlockType(r), 2u);
    ExpectRoundTrip(data, 16);
}

TEST(LzxCompressor, CatalogueHtmlUsesVerbatimBlocksAndCompressesWell) {
    const auto html = MakeCatalogueHtml(8 * 2 * kLzxFrameSize, 77);
    std::size_t total = 0;
    for (std::size_t i = 0; i < html.size(); i += 2 * kLzxFrameSize) {
        const std::vector<std::uint8_t> interval(html.begin() + static_cast<std::ptrdiff_t>(i),
                                                 html.begin() + static_cast<std::ptrdiff_t>(i + 2 * kLzxFrameSize));
        const TLzxInterval r = CompressLzxInterval(interval, 16);
        EXPECT_EQ(FirstBlockType(r), 1u);
        total += r.Bytes.size();
        if (i == 0) ExpectRoundTrip(interval, 16);
    }
    EXPECT_LT(total, html.size() * 12 / 100);
}

TEST(LzxCompressor, OutputIsDeterministicAcrossThreads) {
    const auto data = Mixed(2 * kLzxFrameSize, 51);
    const TLzxInterval first = CompressLzxInterval(data, 16);
    EXPECT_EQ(CompressLzxInterval(data, 16).Bytes, first.Bytes);
    std::vector<TLzxInterval> results(4);
    std::vector<std::thread> threads;
    for (auto& r : results) threads.emplace_back([&r, &data] { r = CompressLzxInterval(data, 16); });
    for (auto& t : threads) t.join();
    for (const auto& r : results) {
        EXPECT_EQ(r.Bytes, first.Bytes);
        EXPECT_EQ(r.FrameOffsets, first.FrameOffsets);
    }
}

TEST(LzxCompressor, RepeatedOffsetsSurviveAStoredFrame) {
    // Frame 0 repeats with period 1000, leaving R0 = 1000; frame 1 is noise
    // and stored; frame 2 opens with a new period-1000 block whose first
    // match is a repeat of R0 as the stored block's header restores it.
    const auto block = RandomBytes(1000, 61);
    std::vector<std::uint8_t> data;
    while (data.size() < kLzxFrameSize) data.insert(data.end(), block.begin(), block.end());
    data.resize(kLzxFrameSize);
    const auto noise = RandomBytes(kLzxFrameSize, 62);
    data.insert(data.end(), noise.begin(), noise.end());
    const auto other = RandomBytes(1000, 63);
    while (data.size() < 3 * kLzxFrameSize) data.insert(data.end(), other.begin(), other.end());
    ExpectRoundTrip(data, 16);
}

TEST(LzxCompressor, AllThreeRepeatedOffsetsAreUsedAndDecode) {
    // Pieces copied from three distances in a shuffled order, split by
    // random bytes, so the parse has to reach for R1 and R2 as well.
    std::vector<std::uint8_t> data = RandomBytes(3000, 71);
    TSampleRandom rnd(72);
    const std::size_t distances[3] = {997, 1999, 2903};
    const auto noise = RandomBytes(4000, 73);
    for (std::size_t k = 0; data.size() < 60000; ++k) {
        const std::size_t d = distances[rnd.Below(3)];
        for (int i = 0; i < 24; ++i) data.push_back(data[data.size() - d]);
        data.push_back(noise[k % noise.size()]);
    }
    const TLzxParse parse = ParseLzx(data, 16);
    bool used[3] = {};
    for (const auto& t : parse.Tokens)
        if (t.Length != 0 && t.Value < 3) used[t.Value] = true;
    EXPECT_TRUE(used[0] && used[1] && used[2]);
    ExpectRoundTrip(data, 16);
}

TEST(LzxCompressor, LargeWindowsReachFarBack) {
    // Repeats 700 KB back: position slots past 36, each with 17 footer bits.
    auto data = RandomBytes(300000, 91);
    const auto filler = RandomBytes(400000, 92);
    data.insert(data.end(), filler.begin(), filler.end());
    data.insert(data.end(), data.begin(), data.begin() + 300000);
    for (unsigned bits : {20u, 21u}) {
        SCOPED_TRACE(bits);
        EXPECT_LT(CompressedSize(data, bits), 720000u);
        ExpectRoundTrip(data, bits);
    }
}
