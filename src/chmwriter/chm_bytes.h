#pragma once
// Little-endian integers, GUIDs and ENCINT numbers in byte buffers. Every
// write at a fixed position is checked against the buffer, so a layout
// mistake raises instead of writing past the end.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using TBytes = std::vector<std::uint8_t>;

// A GUID as the file stores it: one 32-bit, two 16-bit little-endian
// numbers and eight single bytes.
struct TGuid {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

class TByteWriter {
public:
    explicit TByteWriter(TBytes& target) : bytes_(target) {}

    std::size_t Size() const { return bytes_.size(); }

    void U8(std::uint8_t value) { bytes_.push_back(value); }
    void U16(std::uint16_t value) { Append(value, 2); }
    void U32(std::uint32_t value) { Append(value, 4); }
    void U64(std::uint64_t value) { Append(value, 8); }
    void U32BigEndian(std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    void Guid(const TGuid& guid) {
        U32(guid.Data1);
        U16(guid.Data2);
        U16(guid.Data3);
        for (std::uint8_t b : guid.Data4) U8(b);
    }
    void Text(std::string_view text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
    // Text followed by a terminating zero byte.
    void TextZ(std::string_view text) {
        Text(text);
        U8(0);
    }
    void Raw(std::span<const std::uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    void Zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    // ENCINT: seven bits a byte, most significant group first, the high bit
    // set on every byte but the last.
    void EncInt(std::uint64_t value) {
        std::uint8_t groups[10];
        int n = 0;
        do {
            groups[n++] = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (n > 1) bytes_.push_back(static_cast<std::uint8_t>(groups[--n] | 0x80));
        bytes_.push_back(groups[0]);
    }

    // Overwrites bytes already in the buffer.
    void PutU16At(std::size_t offset, std::uint16_t value) { PutAt(offset, value, 2); }
    void PutU32At(std::size_t offset, std::uint32_t value) { PutAt(offset, value, 4); }
    void PutU64At(std::size_t offset, std::uint64_t value) { PutAt(offset, value, 8); }

private:
    void Append(std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    void PutAt(std::size_t offset, std::uint64_t value, std::size_t bytes) {
        if (offset > bytes_.size() || bytes > bytes_.size() - offset)
            throw std::out_of_range("write of " + std::to_string(bytes) + " bytes at " + std::to_string(offset) +
                                    " outside a buffer of " + std::to_string(bytes_.size()));
        for (std::size_t i = 0; i < bytes; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }

    TBytes& bytes_;
};

// Number of bytes EncInt writes for value.
inline std::size_t EncIntSize(std::uint64_t value) {
    std::size_t n = 1;
    while (value >>= 7) ++n;
    return n;
}

// Checked little-endian reads, for the tests and for reading back what was written.
inline std::uint64_t ReadLittleEndian(std::span<const std::uint8_t> data, std::size_t offset, std::size_t bytes) {
    if (offset > data.size() || bytes > data.size() - offset)
        throw std::out_of_range("read of " + std::to_string(bytes) + " bytes at " + std::to_string(offset) +
                                " outside " + std::to_string(data.size()) + " bytes");
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(data[offset + i]) << (8 * i);
    return value;
}
inline std::uint16_t ReadU16(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint16_t>(ReadLittleEndian(data, offset, 2));
}
inline std::uint32_t ReadU32(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint32_t>(ReadLittleEndian(data, offset, 4));
}
inline std::uint64_t ReadU64(std::span<const std::uint8_t> data, std::size_t offset) {
    return ReadLittleEndian(data, offset, 8);
}
