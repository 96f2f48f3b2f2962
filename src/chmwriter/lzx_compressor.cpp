// Stored-block fallback: every frame becomes one LZX uncompressed block, so
// the stream is valid LZX without any compression. Replaced by the real
// compressor once it lands.
#include "chmwriter/lzx_compressor.h"

#include <algorithm>
#include <stdexcept>

namespace {

// LZX reads its bit stream as 16-bit little-endian words, most significant
// bit first.
class TBitWriter {
public:
    explicit TBitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void Bits(std::uint32_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;) {
            word_ = static_cast<std::uint16_t>((word_ << 1) | ((value >> i) & 1u));
            if (++used_ == 16) Flush();
        }
    }
    // Stored blocks need 1 to 16 zero bits to reach the word boundary.
    void PadToWordForStoredBlock() { Bits(0, 16 - used_); }
    bool Aligned() const { return used_ == 0; }

private:
    void Flush() {
        out_.push_back(static_cast<std::uint8_t>(word_ & 0xFF));
        out_.push_back(static_cast<std::uint8_t>(word_ >> 8));
        word_ = 0;
        used_ = 0;
    }

    std::vector<std::uint8_t>& out_;
    std::uint16_t word_ = 0;
    unsigned used_ = 0;
};

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

TLzxInterval CompressLzxInterval(std::span<const std::uint8_t> input, unsigned windowBits) {
    if (windowBits < 15 || windowBits > 21) throw std::invalid_argument("LZX window bits must be 15 to 21");
    TLzxInterval result;
    result.Bytes.reserve(input.size() + input.size() / kLzxFrameSize * 20 + 20);
    TBitWriter bits(result.Bytes);
    for (std::size_t start = 0; start < input.size(); start += kLzxFrameSize) {
        const std::size_t length = std::min(kLzxFrameSize, input.size() - start);
        result.FrameOffsets.push_back(result.Bytes.size());
        if (start == 0) bits.Bits(0, 1);  // no E8 translation
        bits.Bits(3, 3);                  // uncompressed block
        bits.Bits(static_cast<std::uint32_t>(length), 24);
        bits.PadToWordForStoredBlock();
        if (!bits.Aligned()) throw std::logic_error("stored block not aligned");
        for (int r = 0; r < 3; ++r) PutU32(result.Bytes, 1);  // R0, R1, R2 as after a reset
        result.Bytes.insert(result.Bytes.end(), input.begin() + static_cast<std::ptrdiff_t>(start),
                            input.begin() + static_cast<std::ptrdiff_t>(start + length));
        if (length % 2 != 0) result.Bytes.push_back(0);
    }
    return result;
}
