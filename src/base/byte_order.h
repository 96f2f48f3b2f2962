#pragma once
// Integers stored in a byte sequence, little- or big-endian, and the 28-bit
// "sync-safe" form of ID3v2 (seven bits from each of four bytes).
//
// The pointer forms read from p onwards and leave the bounds to the caller.
// The span forms take an offset and give 0 when the value does not lie
// wholly inside the span, so a parser working on a fixed buffer cannot read
// past it.
#include <cstddef>
#include <cstdint>
#include <span>

inline std::uint16_t GetU16LE(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint16_t GetU16BE(const unsigned char* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
inline std::uint32_t GetU24LE(const unsigned char* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16);
}
inline std::uint32_t GetU24BE(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | std::uint32_t(p[2]);
}
inline std::uint32_t GetU32LE(const unsigned char* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
inline std::uint32_t GetU32BE(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}
inline std::uint64_t GetU64LE(const unsigned char* p) {
    return std::uint64_t(GetU32LE(p)) | (std::uint64_t(GetU32LE(p + 4)) << 32);
}
inline std::uint64_t GetU64BE(const unsigned char* p) {
    return (std::uint64_t(GetU32BE(p)) << 32) | std::uint64_t(GetU32BE(p + 4));
}
// Bit 7 of each byte is ignored; callers that must refuse such bytes check first.
inline std::uint32_t GetSyncSafe28(const unsigned char* p) {
    return (std::uint32_t(p[0] & 0x7F) << 21) | (std::uint32_t(p[1] & 0x7F) << 14) | (std::uint32_t(p[2] & 0x7F) << 7) |
           std::uint32_t(p[3] & 0x7F);
}

namespace byte_order_detail {
inline bool Fits(std::span<const unsigned char> bytes, std::size_t at, std::size_t n) {
    return at <= bytes.size() && n <= bytes.size() - at;
}
}  // namespace byte_order_detail

inline std::uint16_t GetU16LE(std::span<const unsigned char> b, std::size_t at) {
    return byte_order_detail::Fits(b, at, 2) ? GetU16LE(b.data() + at) : 0;
}
inline std::uint16_t GetU16BE(std::span<const unsigned char> b, std::size_t at) {
    return byte_order_detail::Fits(b, at, 2) ? GetU16BE(b.data() + at) : 0;
}
inline std::uint32_t GetU24LE(std::span<const unsigned char> b, std::size_t at) {
    return byte_order_detail::Fits(b, at, 3) ? GetU24LE(b.data() + at) : 0;
}
inline std::uint32_t GetU24BE(std::span<const unsigned char> b, std::size_t at) {
    return byte_order_detail::Fits(b, at, 3) ? GetU24BE(b.data() + at) : 0;
}
inline std::uint32_t GetU32LE(std::span<const unsigned char> b, std::size_t at) {
    return byte_order_detail::Fits(b, at, 4) ? GetU32LE(b.data() + at) : 0;
}
inline std::uint32_t GetU32BE(std::span<const unsigned char> b, std::size_t at) {
    return byte_order_detail::Fits(b, at, 4) ? GetU32BE(b.data() + at) : 0;
}
inline std::uint64_t GetU64LE(std::span<const unsigned char> b, std::size_t at) {
    return byte_order_detail::Fits(b, at, 8) ? GetU64LE(b.data() + at) : 0;
}
inline std::uint64_t GetU64BE(std::span<const unsigned char> b, std::size_t at) {
    return byte_order_detail::Fits(b, at, 8) ? GetU64BE(b.data() + at) : 0;
}
inline std::uint32_t GetSyncSafe28(std::span<const unsigned char> b, std::size_t at) {
    return byte_order_detail::Fits(b, at, 4) ? GetSyncSafe28(b.data() + at) : 0;
}
