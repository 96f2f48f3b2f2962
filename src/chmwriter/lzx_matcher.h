#pragma once
// LZ77 parse of one reset interval for LZX: hash chains with a bounded walk,
// lazy evaluation one and two bytes ahead, and the three repeated offsets
// R0..R2 of the format. Candidates are ranked by rough fixed bit prices.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct TLzxToken {
    std::uint32_t Length;  // 0 for a literal, else 2..257
    std::uint32_t Value;   // the literal byte, or the formatted offset (0..2 repeat R0..R2, else distance + 2)
};

struct TLzxParse {
    std::vector<TLzxToken> Tokens;
    std::vector<std::size_t> FrameTokenEnd;                     // tokens of frame i end before this index
    std::vector<std::array<std::uint32_t, 3>> FrameEndRepeats;  // R0, R1, R2 once frame i is done
};

struct TLzxMatcherParams {
    unsigned MaxChain = 32;     // chain entries walked per search; 128 saved 0.2 % of the size for 20 % more time
    unsigned NiceLength = 257;  // a match this long ends the search
    unsigned LazyLength = 64;   // a match this long is taken without looking further
    unsigned GoodLength = 32;   // the look-ahead walks a quarter of the chain past this length
};

// No match crosses a frame boundary; matches reach back at most the window.
TLzxParse ParseLzx(std::span<const std::uint8_t> input, unsigned windowBits, const TLzxMatcherParams& params = {});
// The same into an existing parse, reusing its storage.
void ParseLzx(std::span<const std::uint8_t> input, unsigned windowBits, TLzxParse& out,
              const TLzxMatcherParams& params = {});
