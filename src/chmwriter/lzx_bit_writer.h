#pragma once
// LZX packs bits most significant first into little-endian 16-bit words.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class TLzxBitWriter {
public:
    // count is at most 32; value must fit in count bits.
    void Put(std::uint32_t value, unsigned count) {
        Acc = (Acc << count) | value;
        Pending += count;
        while (Pending >= 16) {
            Pending -= 16;
            const auto word = static_cast<std::uint16_t>(Acc >> Pending);
            Out.push_back(static_cast<std::uint8_t>(word));
            Out.push_back(static_cast<std::uint8_t>(word >> 8));
        }
        Acc &= (std::uint64_t{1} << Pending) - 1;
    }

    bool Aligned() const { return Pending == 0; }

    // Zero bits up to the next word boundary (none when already there).
    void Align() {
        if (Pending != 0) Put(0, 16 - Pending);
    }

    // Raw bytes of an uncompressed block; only on a word boundary.
    void PutBytes(std::span<const std::uint8_t> bytes) { Out.insert(Out.end(), bytes.begin(), bytes.end()); }

    void PutLe32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) Out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }

    void PutByte(std::uint8_t b) { Out.push_back(b); }

    std::size_t ByteSize() const { return Out.size(); }
    std::uint64_t BitSize() const { return Out.size() * 8 + Pending; }

    std::vector<std::uint8_t> Take() { return std::move(Out); }

    void Reserve(std::size_t n) { Out.reserve(n); }

private:
    std::vector<std::uint8_t> Out;
    std::uint64_t Acc = 0;
    unsigned Pending = 0;
};
