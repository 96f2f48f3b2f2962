#pragma once
// Viewers decode the titles of a compiled help file in the ANSI code page of
// its language id, and no code page holds every script. A catalogue without
// a configured language takes the one whose code page writes most of its
// names, so a Czech, Russian or Japanese collection reads right in the
// viewers' title lists.
#include <string>
#include <string_view>
#include <vector>

// The project's "Language" value ("0x409 English (United States)" and the
// like) for the given UTF-8 texts; English when nothing does better.
std::string LanguageForTitles(const std::vector<std::string_view>& texts);
