#pragma once
// Length-limited canonical Huffman codes as LZX decoders rebuild them: codes
// are handed out in order of (length, symbol), most significant bit first.
#include <cstdint>
#include <span>

// Fills lengths[i] for every symbol. The result is always a complete code with
// at least two symbols, even when fewer than two have a non-zero frequency:
// decoders reject incomplete trees, so unused symbols are drafted in.
void BuildLzxCodeLengths(std::span<const std::uint32_t> freqs, unsigned maxLength, std::span<std::uint8_t> lengths);

// Canonical codes for the given lengths (lengths of 0 get no code).
void BuildLzxCodes(std::span<const std::uint8_t> lengths, std::span<std::uint16_t> codes);
