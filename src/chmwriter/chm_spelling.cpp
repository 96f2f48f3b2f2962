// The unaccented spelling of letters, for searches typed without accents.
#include "chmwriter/chm_spelling.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <utility>
#include <vector>

#include "base/utf8.h"

namespace {

// Letters that are no accented form of another and so do not decompose.
const std::pair<char32_t, const char*> kOwnLetters[] = {
    {0xC6, "AE"},   {0xD0, "D"},    {0xD8, "O"},   {0xDE, "TH"},   {0xDF, "ss"},   {0xE6, "ae"},  {0xF0, "d"},
    {0xF8, "o"},    {0xFE, "th"},   {0x110, "D"},  {0x111, "d"},   {0x126, "H"},   {0x127, "h"},  {0x131, "i"},
    {0x138, "q"},   {0x13F, "L"},   {0x140, "l"},  {0x141, "L"},   {0x142, "l"},   {0x14A, "NG"}, {0x14B, "ng"},
    {0x152, "OE"},  {0x153, "oe"},  {0x166, "T"},  {0x167, "t"},   {0x17F, "s"},   {0x180, "b"},  {0x181, "B"},
    {0x187, "C"},   {0x188, "c"},   {0x189, "D"},  {0x18A, "D"},   {0x191, "F"},   {0x192, "f"},  {0x193, "G"},
    {0x197, "I"},   {0x198, "K"},   {0x199, "k"},  {0x19A, "l"},   {0x19D, "N"},   {0x19E, "n"},  {0x19F, "O"},
    {0x1A4, "P"},   {0x1A5, "p"},   {0x1AB, "t"},  {0x1AC, "T"},   {0x1AD, "t"},   {0x1AE, "T"},  {0x1B2, "V"},
    {0x1B3, "Y"},   {0x1B4, "y"},   {0x1B5, "Z"},  {0x1B6, "z"},   {0x1E4, "G"},   {0x1E5, "g"},  {0x21C, "Y"},
    {0x21D, "y"},   {0x224, "Z"},   {0x225, "z"},  {0x23A, "A"},   {0x23B, "C"},   {0x23C, "c"},  {0x23D, "L"},
    {0x23E, "T"},   {0x243, "B"},   {0x244, "U"},  {0x246, "E"},   {0x247, "e"},   {0x248, "J"},  {0x249, "j"},
    {0x24C, "R"},   {0x24D, "r"},   {0x24E, "Y"},  {0x24F, "y"},   {0x1E9E, "SS"}, {0x2018, "'"}, {0x2019, "'"},
    {0x201C, "\""}, {0x201D, "\""}, {0x2013, "-"}, {0x2014, "-"},  {0x2026, "..."},
};

constexpr char32_t kLatinEnd = 0x250;
constexpr char32_t kExtendedFirst = 0x1E00;
constexpr char32_t kExtendedEnd = 0x1F00;

// The spelling of one character worked out from its compatibility
// decomposition: the ASCII letters of it once the marks are dropped.
std::string Decomposed(const icu::Normalizer2& nfkd, char32_t c) {
    icu::UnicodeString parts;
    if (!nfkd.getDecomposition(static_cast<UChar32>(c), parts)) return {};
    std::string spelled;
    for (int32_t i = 0; i < parts.length();) {
        const UChar32 part = parts.char32At(i);
        i += U16_LENGTH(part);
        if (part < 0x80) {
            spelled += static_cast<char>(part);
            continue;
        }
        const int8_t type = u_charType(part);
        if (type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_COMBINING_SPACING_MARK) continue;
        return {};
    }
    return spelled;
}

struct TSpellingTable {
    std::array<std::string, kLatinEnd - 0x80> latin;
    std::array<std::string, kExtendedEnd - kExtendedFirst> extended;
    std::vector<std::pair<char32_t, std::string>> other;

    TSpellingTable() {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
        if (U_SUCCESS(status) && nfkd) {
            for (char32_t c = 0xC0; c < kLatinEnd; ++c) latin[c - 0x80] = Decomposed(*nfkd, c);
            for (char32_t c = kExtendedFirst; c < kExtendedEnd; ++c)
                extended[c - kExtendedFirst] = Decomposed(*nfkd, c);
        }
        for (const auto& [c, spelled] : kOwnLetters) {
            if (c < kLatinEnd)
                latin[c - 0x80] = spelled;
            else if (c >= kExtendedFirst && c < kExtendedEnd)
                extended[c - kExtendedFirst] = spelled;
            else
                other.emplace_back(c, spelled);
        }
    }

    const std::string* Find(char32_t c) const {
        const std::string* found = nullptr;
        if (c >= 0x80 && c < kLatinEnd)
            found = &latin[c - 0x80];
        else if (c >= kExtendedFirst && c < kExtendedEnd)
            found = &extended[c - kExtendedFirst];
        else
            for (const auto& [letter, spelled] : other)
                if (letter == c) found = &spelled;
        return found && !found->empty() ? found : nullptr;
    }
};

const TSpellingTable& Table() {
    static const TSpellingTable table;
    return table;
}

}  // namespace

bool AppendAsciiSpelling(std::string& out, char32_t c) {
    if (c < 0x80) return false;
    const std::string* spelled = Table().Find(c);
    if (!spelled) return false;
    out += *spelled;
    return true;
}

std::string AsciiSpelling(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[at]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++at;
            continue;
        }
        const char32_t c = NextCodePoint(utf8, at);
        if (!AppendAsciiSpelling(out, c)) AppendUtf8(out, c);
    }
    return out;
}
