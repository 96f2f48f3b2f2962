#include <gtest/gtest.h>

#include "text/pair_finder.h"

namespace {

// Every content the finder yields for text, in order.
std::vector<std::string> AllMatches(TPairFinder& finder, std::string_view text) {
    std::vector<std::string> found;
    if (finder.FindFirst(text)) {
        do found.push_back(finder.Content());
        while (finder.FindNext());
    }
    return found;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(KeywordScanner, LongestMatchAndPositions) {
    TKeywordScanner scanner;
    scanner.SetKeywords("<b,<br>,x y");
    scanner.SetText("a<BR x<b z x y");
    int pos = 0, len = 0;
    EXPECT_EQ(scanner.FindKeyword(1, pos, len), 1);  // "<BR" then a blank: only "<b" ends on the walk
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(len, 2);
    EXPECT_EQ(scanner.FindKeyword(pos + len, pos, len), 1);
    EXPECT_EQ(pos, 7);
    EXPECT_EQ(scanner.FindKeyword(pos + len, pos, len), 3);  // keywords may hold blanks
    EXPECT_EQ(pos, 12);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(scanner.FindKeyword(pos + len, pos, len), 0);

    scanner.SetText("<br>");
    EXPECT_EQ(scanner.FindKeyword(1, pos, len), 2);
    EXPECT_EQ(len, 4);
}

TEST(KeywordScanner, DuplicateKeywordIsRefused) {
    TKeywordScanner scanner;
    try {
        scanner.SetKeywords("abc,x,ABC");
        FAIL() << "no error";
    } catch (const EKeywordScanner& e) {
        EXPECT_EQ(e.Message(), "Keyword is pointed twice");
    }
    scanner.SetKeywords("");  // an empty list finds nothing
    scanner.SetText("abc");
    int pos = 0, len = 0;
    EXPECT_EQ(scanner.FindKeyword(1, pos, len), 0);
}

TEST(PairFinder, TitleIgnoresMarkerCaseKeepsContentCase) {
    TPairFinder finder;
    finder.AddPair("<title>", "</title>");
    ASSERT_TRUE(finder.FindFirst("<html><TITLE>Nova Harbor</Title></html>"));
    EXPECT_EQ(finder.Content(), "Nova Harbor");
    EXPECT_FALSE(finder.FindNext());
    EXPECT_EQ(finder.Content(), "Nova Harbor");  // kept after a failed call
}

TEST(PairFinder, RestartsAndMatchOrder) {
    TPairFinder finder;
    finder.AddPair("<b>", "</b>").Tag = 4;
    finder.AddPair("<b>", "</strong>").Tag = 99;  // same opening: never started
    finder.AddPair("<i>", "</i>").Tag = 5;
    EXPECT_EQ(AllMatches(finder, "<b>one<b>two</b> <i></i> x</b> <b>three</strong>"), (Strings{"two", ""}));
    ASSERT_TRUE(finder.FindFirst("<i>x</i>"));
    EXPECT_EQ(finder.Matched().Tag, 5);
    ASSERT_TRUE(finder.FindFirst("<b>y</b>"));
    EXPECT_EQ(finder.Matched().Tag, 4);

    // A closing marker with nothing open is passed over; overlapping markers
    // are found one character later.
    TPairFinder overlap;
    overlap.AddPair("zz", "ab");
    overlap.AddPair("bx", "y");
    EXPECT_EQ(AllMatches(overlap, "ab abx1y zz2ab"), (Strings{"1", "2"}));
}

TEST(PairFinder, IgnoreBlocks) {
    TPairFinder finder;
    finder.AddPair("<b>", "</b>");
    finder.AddIgnore("<!--", "-->");
    EXPECT_EQ(AllMatches(finder, "<!-- <b>no</b> --><b>yes</b>"), (Strings{"yes"}));
    // Never closed: hides everything after it.
    EXPECT_TRUE(AllMatches(finder, "<!-- <b>no</b>").empty());
    // A finder can scan one text after another.
    EXPECT_EQ(AllMatches(finder, "<b>again</b>"), (Strings{"again"}));
}

TEST(PairFinder, SecondMarkerBreakAndQuotes) {
    TPairFinder finder;
    finder.AddPair("<img \r\nsrc=\"", "\"", ">");
    finder.AddIgnore("\"", "\"");
    // Another quoted attribute before src: its quotes are passed over.
    EXPECT_EQ(AllMatches(finder, "<IMG alt=\"a > b\" SRC=\"pics/x.gif\" width=\"3\">"), (Strings{"pics/x.gif"}));
    // An unquoted src: the ">" ends the pair before anything matches.
    EXPECT_TRUE(AllMatches(finder, "<img src=x.gif> then \"quoted\"").empty());
    // Two elements in a row.
    EXPECT_EQ(AllMatches(finder, "<img src=\"a\"><img src=\"b\">"), (Strings{"a", "b"}));
}

TEST(PairFinder, MarkersMayHoldCommas) {
    TPairFinder finder;
    finder.AddPair("a,b[", "]");
    finder.AddPair("<x>", "</x>");
    EXPECT_EQ(AllMatches(finder, "A,B[1] <X>2</x> b[3]"), (Strings{"1", "2"}));
}

TEST(PairFinder, NothingToFind) {
    TPairFinder empty;
    EXPECT_FALSE(empty.FindFirst("<b>x</b>"));
    TPairFinder finder;
    finder.AddPair("<b>", "</b>");
    EXPECT_FALSE(finder.FindFirst("plain text"));
    EXPECT_FALSE(finder.FindFirst(""));
    EXPECT_FALSE(finder.FindFirst("<b>never closed"));
}

TEST(PairFinder, LongestMarkerWins) {
    TPairFinder finder;
    finder.AddPair("<h", "</h>");
    finder.AddPair("<head>", "</head>");
    // "<hea" followed by something else is the shorter marker.
    EXPECT_EQ(AllMatches(finder, "<heaX</h>"), (Strings{"eaX"}));
    EXPECT_EQ(AllMatches(finder, "<head>T</head>"), (Strings{"T"}));
}
