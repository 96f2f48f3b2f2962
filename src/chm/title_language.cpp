#include "chm/title_language.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>

namespace {

struct TCandidate {
    const char* codePage;
    const char* language;
};

// English first: it wins every tie.
const TCandidate kCandidates[] = {
    {"CP1252", "0x409 English (United States)"}, {"CP1250", "0x405 Czech"},
    {"CP1251", "0x419 Russian"},                 {"CP1253", "0x408 Greek"},
    {"CP1254", "0x41F Turkish"},                 {"CP932", "0x411 Japanese"},
    {"CP936", "0x804 Chinese (PRC)"},            {"CP949", "0x412 Korean"},
};

// Code points of a UTF-8 text beyond ASCII, which is in every code page.
void AddNonAscii(std::string_view text, std::map<char32_t, std::size_t>& points) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t extra = c < 0xC0 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        if (extra == 0) {
            ++i;
            continue;
        }
        if (i + extra >= text.size()) break;  // a sequence cut at the end
        char32_t point = c & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra; ++k) point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        ++points[point];
        i += extra + 1;
    }
}

// Whether the code page has a character for the code point.
bool Writes(iconv_t converter, char32_t point) {
    std::array<char, 4> in{};
    std::size_t inLeft = 0;
    if (point < 0x800) {
        in[0] = static_cast<char>(0xC0 | (point >> 6));
        in[1] = static_cast<char>(0x80 | (point & 0x3F));
        inLeft = 2;
    } else if (point < 0x10000) {
        in[0] = static_cast<char>(0xE0 | (point >> 12));
        in[1] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        in[2] = static_cast<char>(0x80 | (point & 0x3F));
        inLeft = 3;
    } else {
        return false;
    }
    std::array<char, 8> out{};
    char* inPtr = in.data();
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
            if (&candidate == &kCandidates[0]) western.push_back(writes);
            else if (index < western.size() && western[index] && !writes) losesWestern = true;
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
