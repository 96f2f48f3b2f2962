#include "chmwriter/lzx_compressor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "chmwriter/lzx_test_util.h"
#include "chmwriter/lzx_sample_html.h"

namespace {

std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

void ExpectRoundTrip(const std::vector<std::uint8_t>& input, unsigned windowBits) {
    const auto decoded = MspackRoundTrip(input, windowBits);
    ASSERT_TRUE(decoded.has_value()) << "libmspack rejected " << input.size() << " bytes, window " << windowBits;
    ASSERT_EQ(decoded->size(), input.size());
    EXPECT_TRUE(*decoded == input) << "first difference at "
                                   << std::mismatch(decoded->begin(), decoded->end(), input.begin()).first -
                                          decoded->begin();
}

// Catalogue text with a random stretch in the middle, so one interval needs
// both compressed and stored blocks.
std::vector<std::uint8_t> Mixed(std::size_t n, std::uint64_t seed) {
    auto data = MakeCatalogueHtml(n, seed);
    const auto noise = RandomBytes(n / 3, seed);
    std::copy(noise.begin(), noise.end(), data.begin() + static_cast<std::ptrdiff_t>(n / 3));
    return data;
}

} // namespace

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
    for (std::size_t n : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{300},
                          kLzxFrameSize - 1, kLzxFrameSize, kLzxFrameSize + 1, 2 * kLzxFrameSize,
                          3 * kLzxFrameSize + 17}) {
        SCOPED_TRACE(n);
        ExpectRoundTrip(MakeCatalogueHtml(n, n), 16);
        ExpectRoundTrip(Mixed(n, n + 1), 16);
    }
}
