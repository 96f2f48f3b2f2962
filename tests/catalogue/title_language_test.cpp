#include "catalogue/title_language.h"

#include <gtest/gtest.h>

TEST(TitleLanguage, TheCodePageThatWritesMostNamesWins) {
    EXPECT_EQ(LanguageForTitles({}), "0x409 English (United States)");
    EXPECT_EQ(LanguageForTitles({"Plain ASCII", "Zo\xC3\xAB", "\xC3\x89milie"}), "0x409 English (United States)");
    // \xC5\x99 (r with caron) and \xC5\x81 (L with stroke) are not in the Western code page.
    EXPECT_EQ(LanguageForTitles({"Dvo\xC5\x99\xC3\xA1k", "\xC5\x81ukasz", "\xC5\xA0\xC3\xA1rka"}), "0x405 Czech");
    EXPECT_EQ(LanguageForTitles({"\xD0\x94\xD0\xBE\xD0\xBC", "Zoe"}), "0x419 Russian");
    // Kana and kanji: the Japanese code page also holds the Cyrillic letters.
    EXPECT_EQ(LanguageForTitles(
                  {"\xE5\x9D\x82\xE6\x9C\xAC \xE9\x81\xA5", "\xE3\x81\x8B\xE3\x81\xAA", "\xD0\x94\xD0\xBE\xD0\xBC"}),
              "0x411 Japanese");
    // A mixed collection keeps the Western code page rather than lose its accents.
    EXPECT_EQ(LanguageForTitles({"\xE5\x9D\x82\xE6\x9C\xAC \xE9\x81\xA5 \xE5\xAD\xA3\xE7\xAF\x80", "Zo\xC3\xAB"}),
              "0x409 English (United States)");
    // A cut sequence at the end is no letter and no crash.
    EXPECT_EQ(LanguageForTitles({"abc\xE5\x9D"}), "0x409 English (United States)");
}
