// Converts tag text in Latin-1 and UTF-16 into UTF-8.
#include "audio/text_codec.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the UTF-8 sequence at p (1 to 4) and its code point; 0 when the
// sequence is malformed, -1 when it is cut off by the end of the text.
int DecodeUtf8At(std::string_view s, std::size_t p, char32_t& cp) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b0 = byte(p);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    int len;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    for (int k = 1; k < len; ++k) {
        if (p + k >= s.size()) return -1;
        unsigned char b = byte(p + k);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) AppendUtf8(out, static_cast<unsigned char>(ch));
    return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian, bool stopAtZero) {
    std::string out;
    out.reserve(bytes.size() / 2);
    std::size_t units = bytes.size() / 2;
    auto unit = [&](std::size_t i) -> char32_t {
        auto lo = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
        auto hi = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
        return static_cast<char32_t>(hi << 8 | lo);
    };
    for (std::size_t i = 0; i < units; ++i) {
        char32_t u = unit(i);
        if (u == 0 && stopAtZero) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            char32_t v = unit(i + 1);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, u);  // a lone surrogate turns into U+FFFD there
    }
    return out;
}

std::string SanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t p = 0;
    while (p < bytes.size()) {
        char32_t cp;
        int len = DecodeUtf8At(bytes, p, cp);
        if (len > 0) {
            out.append(bytes.substr(p, static_cast<std::size_t>(len)));
            p += static_cast<std::size_t>(len);
        } else if (len < 0) {
            break;
        } else {
            AppendUtf8(out, kReplacement);
            ++p;
        }
    }
    return out;
}

std::string Utf8UntilMalformed(std::string_view bytes) {
    std::size_t p = 0;
    while (p < bytes.size()) {
        char32_t cp;
        int len = DecodeUtf8At(bytes, p, cp);
        if (len <= 0) break;
        p += static_cast<std::size_t>(len);
    }
    return std::string(bytes.substr(0, p));
}

std::string TrimRightControls(std::string_view text) {
    std::size_t e = text.size();
    while (e > 0 && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return std::string(text.substr(0, e));
}

std::string_view CutAtZero(std::string_view text) {
    std::size_t z = text.find('\0');
    return z == std::string_view::npos ? text : text.substr(0, z);
}

bool ParseWholeNumber(std::string_view text, long long& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size()) return false;
    unsigned long long v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        const unsigned digit = static_cast<unsigned>(c - '0');
        // Checked before multiplying: a wrapped value could look small again.
        if (v > (9223372036854775807ULL - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
    return true;
}

std::string Utf8OrLatin1(std::string_view bytes, bool cut) {
    std::size_t p = 0;
    while (p < bytes.size()) {
        char32_t cp;
        const int len = DecodeUtf8At(bytes, p, cp);
        if (len > 0) {
            p += static_cast<std::size_t>(len);
        } else if (len < 0 && cut) {
            return std::string(bytes.substr(0, p));
        } else {
            return Latin1ToUtf8(bytes);
        }
    }
    return std::string(bytes);
}
