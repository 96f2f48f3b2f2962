#include <gtest/gtest.h>

#include <climits>

#include "audio/tag_fields.h"

TEST(TagFields, TrackNumbers) {
    struct Case {
        const char* text;
        std::int32_t number;
    } cases[] = {
        {"6", 6},
        {"6/15", 6},
        {" 6 / 15", 6},
        {"\t06", 6},
        {"+3", 3},
        {"", 0},
        {"/15", 0},
        {"six", 0},
        {"6 of 15", 0},
        {"-3", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", 0},
        {"18446744073709551622", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseTrackNumber(c.text), c.number) << '"' << c.text << '"';
}

TEST(TagFields, ControlCharactersAreRemoved) {
    EXPECT_EQ(StripControlChars(std::string("a\tb\0c\x01"
                                            "d\x1B[31me\x7F"
                                            "f\n",
                                            16)),
              "a bcd[31mef");
    // Bytes of UTF-8 sequences are no control characters.
    EXPECT_EQ(StripControlChars("Caf\xC3\xA9 \xE2\x80\x94 ok"), "Caf\xC3\xA9 \xE2\x80\x94 ok");
}
