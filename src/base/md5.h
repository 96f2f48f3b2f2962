#pragma once
// MD5 digest (RFC 1321).
#include <array>
#include <cstdint>
#include <string_view>

class TCrMD5 {
public:
    using TDigest = std::array<unsigned char, 16>;

    TCrMD5() { Reset(); }
    void Reset();
    void Update(const void* data, std::size_t length);
    TDigest Final();

    // Digest of the text's bytes in the standard byte order.
    static TDigest Digest(std::string_view text);

private:
    void Transform(const unsigned char block[64]);

    std::uint32_t state_[4];
    std::uint64_t length_ = 0;
    unsigned char buffer_[64];
};
