#pragma once
// Letters spelled without their accents, the way people type a name on a
// keyboard that lacks them: é -> e, ø -> o, ł -> l, ß -> ss, þ -> th.
#include <string>
#include <string_view>

// Appends the ASCII spelling of a letter beyond ASCII and answers true; false
// (nothing appended) for a character that has none, such as a Cyrillic or
// CJK letter, or for ASCII itself.
bool AppendAsciiSpelling(std::string& out, char32_t c);

// The UTF-8 text with every letter that has an ASCII spelling written that
// way; other characters stay as they are.
std::string AsciiSpelling(std::string_view utf8);
