#include "chmwriter/lzx_huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Kraft sum scaled by 2^16; a complete code sums to exactly 65536.
std::uint64_t Kraft(const std::vector<std::uint8_t>& lengths) {
    std::uint64_t sum = 0;
    for (auto l : lengths)
        if (l) sum += std::uint64_t{1} << (16 - l);
    return sum;
}

std::vector<std::uint8_t> Lengths(const std::vector<std::uint32_t>& freqs, unsigned limit) {
    std::vector<std::uint8_t> lengths(freqs.size());
    BuildLzxCodeLengths(freqs, limit, lengths);
    return lengths;
}

}  // namespace

TEST(LzxHuffman, SkewedFrequenciesStayWithinTheLimitAndComplete) {
    // Fibonacci weights would give a 39-bit code without the limit.
    std::vector<std::uint32_t> freqs(40);
    freqs[0] = freqs[1] = 1;
    for (std::size_t i = 2; i < freqs.size(); ++i) freqs[i] = freqs[i - 1] + freqs[i - 2];
    for (unsigned limit : {16u, 15u, 7u}) {
        SCOPED_TRACE(limit);
        const auto lengths = Lengths(freqs, limit);
        EXPECT_LE(*std::max_element(lengths.begin(), lengths.end()), limit);
        EXPECT_EQ(Kraft(lengths), 65536u);
        // More frequent symbols never get longer codes.
        for (std::size_t i = 1; i < lengths.size(); ++i) EXPECT_LE(lengths[i], lengths[i - 1]);
    }
}

TEST(LzxHuffman, FewSymbolsStillMakeACompleteTree) {
    EXPECT_EQ(Lengths({0, 0, 0, 0}, 16), (std::vector<std::uint8_t>{1, 1, 0, 0}));
    EXPECT_EQ(Lengths({0, 0, 9, 0}, 16), (std::vector<std::uint8_t>{1, 0, 1, 0}));
    EXPECT_EQ(Lengths({5, 0, 0, 5}, 16), (std::vector<std::uint8_t>{1, 0, 0, 1}));
    const auto flat = Lengths(std::vector<std::uint32_t>(8, 3), 7);
    EXPECT_EQ(flat, std::vector<std::uint8_t>(8, 3));
}

TEST(LzxHuffman, CanonicalCodesFollowLengthThenSymbolOrder) {
    const std::vector<std::uint8_t> lengths = {3, 3, 3, 3, 3, 2, 4, 4};
    std::vector<std::uint16_t> codes(lengths.size());
    BuildLzxCodes(lengths, codes);
    EXPECT_EQ(codes, (std::vector<std::uint16_t>{0b010, 0b011, 0b100, 0b101, 0b110, 0b00, 0b1110, 0b1111}));
}
