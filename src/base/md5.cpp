#include "base/md5.h"

#include <algorithm>
#include <cstring>

namespace {

inline std::uint32_t Rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
                            14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
                            4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

}  // namespace

void TCrMD5::Reset() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    length_ = 0;
}

void TCrMD5::Transform(const unsigned char block[64]) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i)
        w[i] = static_cast<std::uint32_t>(block[i * 4]) | static_cast<std::uint32_t>(block[i * 4 + 1]) << 8 |
               static_cast<std::uint32_t>(block[i * 4 + 2]) << 16 | static_cast<std::uint32_t>(block[i * 4 + 3]) << 24;
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        std::uint32_t tmp = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kSine[i] + w[g], kShift[i]);
        a = tmp;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void TCrMD5::Update(const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t used = static_cast<std::size_t>(length_ % 64);
    length_ += length;
    if (used) {
        std::size_t take = std::min<std::size_t>(64 - used, length);
        std::memcpy(buffer_ + used, p, take);
        p += take;
        length -= take;
        if (used + take < 64) return;
        Transform(buffer_);
    }
    while (length >= 64) {
        Transform(p);
        p += 64;
        length -= 64;
    }
    if (length) std::memcpy(buffer_, p, length);
}

TCrMD5::TDigest TCrMD5::Final() {
    const std::uint64_t bits = length_ * 8;
    static const unsigned char pad[64] = {0x80};
    std::size_t used = static_cast<std::size_t>(length_ % 64);
    Update(pad, used < 56 ? 56 - used : 120 - used);
    unsigned char len[8];
    for (int i = 0; i < 8; ++i) len[i] = static_cast<unsigned char>(bits >> (8 * i));
    Update(len, 8);
    TDigest out;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[i * 4 + j] = static_cast<unsigned char>(state_[i] >> (8 * j));
    Reset();
    return out;
}

TCrMD5::TDigest TCrMD5::Digest(std::string_view text) {
    TCrMD5 md5;
    md5.Update(text.data(), text.size());
    return md5.Final();
}
