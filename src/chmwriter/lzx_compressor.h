#pragma once
// LZX compression of the content section of a compiled help file. The
// section is cut into reset intervals that decode independently, so each
// interval is compressed on its own (and may be compressed on any thread).
//
// Help compilers commonly use a 64 KiB window (windowBits 16) and reset
// every 2 frames (64 KiB); the LZXC control data records both in units of
// 32 KiB. Within an interval, matches reach back into earlier frames up to
// the window size; no match crosses a frame boundary.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Uncompressed bytes per LZX frame; every frame ends on a 16-bit boundary of
// the stream and the reset table names where each one starts.
inline constexpr std::size_t kLzxFrameSize = 0x8000;

struct TLzxInterval {
    std::vector<std::uint8_t> Bytes;          // the compressed stream of this interval, of even length
    std::vector<std::uint64_t> FrameOffsets;  // start of each input frame within Bytes; the first is 0
};

// Compresses one reset interval starting from a fresh encoder state (empty
// window, repeated offsets 1, 1, 1, zeroed tree lengths). The stream opens
// with the call-translation bit cleared. Every frame of the input but the
// last is kLzxFrameSize bytes long; a shorter last frame (the end of the
// section) is encoded as a whole frame padded with zero bytes, as CHM readers
// decode whole frames and cut at the section length. windowBits is 15 to 21,
// anything else throws std::invalid_argument. Empty input gives an empty
// interval.
// The result depends only on the input and windowBits; calls on different
// threads do not interfere.
TLzxInterval CompressLzxInterval(std::span<const std::uint8_t> input, unsigned windowBits);
