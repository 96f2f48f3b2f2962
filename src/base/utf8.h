#pragma once
// UTF-8, the program's text encoding, one code point at a time.
#include <cstddef>
#include <string>
#include <string_view>

// Appends c; surrogates and values beyond U+10FFFF become U+FFFD.
void AppendUtf8(std::string& out, char32_t c);
// The code point at s[at], moving at past it; malformed or cut sequences
// give U+FFFD. at must be below s.size().
char32_t NextCodePoint(std::string_view s, std::size_t& at);
// Whether s is well-formed UTF-8 (no overlong forms, surrogates or cut sequences).
bool IsValidUtf8(std::string_view s);
