#include "base/fast_search.h"

#include <gtest/gtest.h>

#include "base/shared_functions.h"
#include "base/md5.h"

namespace {

int Search(const std::string& source, const std::string& find, int start = 1) {
    return SearchNoCase(source.data(), find.data(), static_cast<int>(source.size()), start,
                        static_cast<int>(find.size()));
}

TEST(SearchNoCase, FindsCapitalsInSmallLetters) {
    EXPECT_EQ(Search("the quick brown fox", "BROWN"), 11);
    EXPECT_EQ(Search("abc", "ABC"), 1);
    EXPECT_EQ(Search("xxabcabc", "abc", 4), 6);
    EXPECT_EQ(Search("xxabcabc", "abc", 7), 0);  // start beyond the last occurrence
}

TEST(SearchNoCase, LengthLimits) {
    EXPECT_EQ(Search("abc", ""), 0);
    EXPECT_EQ(Search("ab", "abc"), 0);
    EXPECT_EQ(Search("", "a"), 0);
    // Pattern longer than the rest of the window but not the whole text.
    EXPECT_EQ(Search("abcd", "cde", 2), 0);
}

TEST(SearchNoCase, SkipsOverRepeatedPrefixes) {
    EXPECT_EQ(Search("aaaaaaab", "AAB"), 6);
    EXPECT_EQ(Search("$Item$ITEM$item", "$item", 2), 6);
}

TEST(ReplaceEvery, OccurrencesDoNotOverlap) {
    EXPECT_EQ(ReplaceEvery("aaa", "aa", "b", true), "ba");
    EXPECT_EQ(ReplaceEvery("aXa", "x", "-", false), "a-a");
    EXPECT_EQ(ReplaceEvery("aXa", "x", "-", true), "aXa");
}

TEST(ReplaceEvery, InsertedTextIsNotSearchedAgain) {
    EXPECT_EQ(ReplaceEvery("a.a", "a", "aa", true), "aa.aa");
    EXPECT_EQ(ReplaceEvery("$Title $title", "$TITLE", "$Title!", false), "$Title! $Title!");
}

TEST(ReplaceEvery, EmptyAndGrowingResults) {
    EXPECT_EQ(ReplaceEvery("", "a", "b", true), "");
    EXPECT_EQ(ReplaceEvery("ab", "ab", "", true), "");
    std::string big(10000, 'x'), expected;
    for (int i = 0; i < 10000; ++i) expected += "yz";
    EXPECT_EQ(ReplaceEvery(big, "x", "yz", true), expected);
}

TEST(SkipTable, EmptyPatternRaises) {
    TSkipTable t;
    try {
        BuildSkipTable("", false, t);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "BufferLen is 0");
    }
}

TEST(Md5, Rfc1321Vectors) {
    auto hex = [](const std::string& s) { return LowerCase(HexEncode(Md5Digest(s))); };
    EXPECT_EQ(hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, IncrementalUpdatesMatchOneShot) {
    std::string text(1000, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7);
    for (std::size_t split : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 500u}) {
        TCrMD5 md5;
        md5.Update(text.data(), split);
        md5.Update(text.data() + split, text.size() - split);
        EXPECT_EQ(md5.Final(), TCrMD5::Digest(text)) << split;
    }
}

}  // namespace
