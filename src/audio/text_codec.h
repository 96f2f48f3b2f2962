#pragma once
// Conversions of tag text into the program's UTF-8 strings.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/utf8.h"

// ISO-8859-1 bytes to UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);
// UTF-16 code units to UTF-8; stops at the first zero unit when stopAtZero.
// Surrogate pairs are joined; a lone surrogate becomes U+FFFD; an odd last
// byte is ignored.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian, bool stopAtZero);
// Valid UTF-8 as it is; each malformed sequence becomes U+FFFD, and an
// incomplete sequence at the very end (a value cut to a byte limit) is dropped.
std::string SanitizeUtf8(std::string_view bytes);
// Tag text whose encoding nobody wrote down: UTF-8 when it is valid UTF-8,
// else ISO-8859-1 (older taggers wrote the local code page). When the value
// was cut to a byte limit (cut), an incomplete sequence at its very end does
// not count against UTF-8 and is dropped.
std::string Utf8OrLatin1(std::string_view bytes, bool cut = false);
// Decodes UTF-8 up to the first malformed or truncated sequence and returns
// the part before it, re-encoded.
std::string Utf8UntilMalformed(std::string_view bytes);

// Blanks and control characters (codes up to 32) removed at the end only.
std::string TrimRightControls(std::string_view text);
// The part before the first zero byte.
std::string_view CutAtZero(std::string_view text);

// A whole decimal number: optional leading blanks, an optional sign, digits,
// nothing after them, within 64 bits.
bool ParseWholeNumber(std::string_view text, long long& value);
