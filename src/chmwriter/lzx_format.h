#pragma once
// Constants and position-slot arithmetic of the LZX bit stream.
#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr unsigned kLzxMinWindowBits = 15;
inline constexpr unsigned kLzxMaxWindowBits = 21;
inline constexpr unsigned kLzxMinMatch = 2;
inline constexpr unsigned kLzxMaxMatch = 257;
inline constexpr unsigned kLzxNumChars = 256;
inline constexpr unsigned kLzxNumPrimaryLengths = 7;  // length header 7 means "see the length tree"
inline constexpr unsigned kLzxNumSecondaryLengths = 249;
inline constexpr unsigned kLzxPretreeSize = 20;
inline constexpr unsigned kLzxAlignedSize = 8;
inline constexpr unsigned kLzxMaxPositionSlots = 50;
inline constexpr unsigned kLzxMaxMainSize = kLzxNumChars + kLzxMaxPositionSlots * 8;
inline constexpr unsigned kLzxMaxCodeLength = 16;     // main and length trees
inline constexpr unsigned kLzxMaxPretreeLength = 15;  // sent in 4 bits
inline constexpr unsigned kLzxMaxAlignedLength = 7;   // sent in 3 bits

enum class TLzxBlockType : unsigned { Verbatim = 1, Aligned = 2, Uncompressed = 3 };

// Position slots a window of 2^windowBits bytes needs.
constexpr unsigned LzxPositionSlots(unsigned windowBits) {
    switch (windowBits) {
        case 15: return 30;
        case 16: return 32;
        case 17: return 34;
        case 18: return 36;
        case 19: return 38;
        case 20: return 42;
        default: return 50;
    }
}

// Largest match distance the decoder accepts for a window.
constexpr std::uint32_t LzxMaxDistance(unsigned windowBits) { return (std::uint32_t{1} << windowBits) - 3; }

constexpr unsigned LzxFooterBits(unsigned slot) { return slot < 4 ? 0 : slot >= 36 ? 17 : (slot - 2) / 2; }

constexpr std::uint32_t LzxSlotBase(unsigned slot) {
    if (slot < 4) return slot;
    if (slot >= 36) return 262144 + (slot - 36) * 131072u;
    const unsigned bits = LzxFooterBits(slot);
    return (std::uint32_t{2} | (slot & 1)) << bits;
}

// Slot of a formatted offset (0..2 are the repeated offsets, otherwise
// distance + 2).
inline unsigned LzxPositionSlot(std::uint32_t formatted) {
    if (formatted < 4) return formatted;
    if (formatted >= 262144) return 34 + (formatted >> 17);
    const unsigned high = 31 - static_cast<unsigned>(__builtin_clz(formatted));
    return 2 * high + ((formatted >> (high - 1)) & 1);
}
