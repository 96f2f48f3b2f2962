// The language (and so code page) that writes a set of titles best.
#include "catalogue/title_language.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>

#include "base/utf8.h"

namespace {

struct TCandidate {
    const char* codePage;
    const char* language;
};

// English first: it wins every tie.
const TCandidate kCandidates[] = {
    {"CP1252", "0x409 English (United States)"},
    {"CP1250", "0x405 Czech"},
    {"CP1251", "0x419 Russian"},
    {"CP1253", "0x408 Greek"},
    {"CP1254", "0x41F Turkish"},
    {"CP932", "0x411 Japanese"},
    {"CP936", "0x804 Chinese (PRC)"},
    {"CP949", "0x412 Korean"},
};

// Code points of a UTF-8 text beyond ASCII, which is in every code page.
void AddNonAscii(std::string_view text, std::map<char32_t, std::size_t>& points) {
    for (std::size_t at = 0; at < text.size();) {
        const char32_t point = NextCodePoint(text, at);
        if (point >= 0x80 && point != 0xFFFD) ++points[point];
    }
}

// Whether the code page has a character for the code point.
bool Writes(iconv_t converter, char32_t point) {
    std::string in;
    AppendUtf8(in, point);
    std::array<char, 8> out{};
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    return iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
}

}  // namespace

std::string LanguageForTitles(const std::vector<std::string_view>& texts) {
    // Each distinct letter once, weighed by how often it occurs.
    std::map<char32_t, std::size_t> points;
    for (std::string_view text : texts) AddNonAscii(text, points);
    // Another code page takes over only when it loses none of the letters
    // the Western one writes, so a mostly Western collection stays readable.
    std::vector<bool> western;
    const TCandidate* best = &kCandidates[0];
    std::size_t bestCount = 0;
    for (const TCandidate& candidate : kCandidates) {
        const iconv_t converter = iconv_open(candidate.codePage, "UTF-8");
        if (converter == reinterpret_cast<iconv_t>(-1)) continue;
        std::size_t count = 0;
        bool losesWestern = false;
        std::size_t index = 0;
        for (const auto& [point, times] : points) {
            const bool writes = Writes(converter, point);
            if (&candidate == &kCandidates[0])
                western.push_back(writes);
            else if (index < western.size() && western[index] && !writes)
                losesWestern = true;
            count += writes ? times : 0;
            ++index;
        }
        iconv_close(converter);
        if (&candidate == &kCandidates[0] || (!losesWestern && count > bestCount)) {
            if (&candidate != &kCandidates[0] || count > bestCount) best = &candidate;
            bestCount = std::max(bestCount, count);
        }
    }
    return best->language;
}
