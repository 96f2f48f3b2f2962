#pragma once
// Skip-table (Horspool) substring search and replace, with or without regard
// to letter case. Page generation runs these over whole page texts.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Entry b is the upper-case form of byte b. Our text is UTF-8, so only the
// ASCII letters fold; every other byte maps to itself.
const std::array<unsigned char, 256>& FoldTable();

using TSkipTable = std::array<std::int32_t, 256>;
// Raises Exception("BufferLen is 0") for an empty pattern.
void BuildSkipTable(std::string_view pattern, bool ignoreCase, TSkipTable& table);

// 1-based position of the first occurrence of find in source[0..sourceLength)
// at or after startPos, comparing folded bytes; 0 when there is none, when
// findLength < 1 or when findLength > sourceLength.
int SearchNoCase(const char* source, const char* find, int sourceLength, int startPos, int findLength);

// Every non-overlapping occurrence of find replaced, left to right; inserted
// text is never searched again.
std::string ReplaceEvery(std::string_view source, std::string_view find, std::string_view replacement,
                         bool caseSensitive);
