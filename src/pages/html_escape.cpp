// Text made safe for HTML pages.
#include "pages/html_escape.h"

#include <cstdint>

namespace {

// Length of the valid UTF-8 sequence starting at text[i] and its code point;
// 0 when the bytes there do not form one (overlong forms and surrogates
// included).
std::size_t DecodeUtf8(std::string_view text, std::size_t i, std::uint32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    std::size_t len;
    std::uint32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1Fu;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0Fu;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07u;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

void AppendUtf8Point(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t i = 0;
    while (i < text.size()) {
        // Plain ASCII goes over in one piece: this runs for every text of
        // every page, and appending byte by byte showed in profiles.
        std::size_t plain = i;
        while (plain < text.size()) {
            const auto b = static_cast<unsigned char>(text[plain]);
            if (b >= 0x80 || b == '&' || b == '<' || b == '>' || b == '"') break;
            ++plain;
        }
        out.append(text.data() + i, plain - i);
        i = plain;
        if (i == text.size()) break;
        const char c = text[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            std::uint32_t cp = 0;
            const std::size_t len = DecodeUtf8(text, i, cp);
            if (len == 0) {
                AppendUtf8Point(out, static_cast<unsigned char>(c));
                ++i;
            } else {
                out.append(text.substr(i, len));
                i += len;
            }
            continue;
        }
        ++i;
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += "&quot;"; break;  // nothing else ends a plain run
        }
    }
    return out;
}
