#include "base/utf8.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char32_t NextCodePoint(std::string_view s, std::size_t& at) {
    const auto b0 = static_cast<unsigned char>(s[at++]);
    if (b0 < 0x80) return b0;
    const int extra = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC0 ? 1 : -1;
    if (extra < 0 || b0 > 0xF4) return kReplacement;
    char32_t c = b0 & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (at >= s.size() || (static_cast<unsigned char>(s[at]) & 0xC0) != 0x80) return kReplacement;
        c = (c << 6) | (static_cast<unsigned char>(s[at++]) & 0x3F);
    }
    return c;
}

bool IsValidUtf8(std::string_view s) {
    for (std::size_t at = 0; at < s.size();) {
        const auto b0 = static_cast<unsigned char>(s[at]);
        if (b0 < 0x80) {
            ++at;
            continue;
        }
        const std::size_t start = at;
        const char32_t c = NextCodePoint(s, at);
        const std::size_t length = at - start;
        const std::size_t expected = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (c < 0x80 || length != expected || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
        if (c == kReplacement && s.substr(start, 3) != "\xEF\xBF\xBD") return false;
    }
    return true;
}
