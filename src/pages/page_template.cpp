// Cutting the page template into its parts and filling its placeholders.
#include "pages/page_template.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/language.h"
#include "base/shared_functions.h"

namespace {

const char* const kItemBegin = "<!--Item.Begin-->";
const char* const kItemEnd = "<!--Item.End-->";
const char* const kGroupBegin = "<!--GroupBegin-->";
const char* const kGroupEnd = "<!--GroupEnd-->";
const char* const kSectionBegin = "<!--Album.Begin-->";
const char* const kSectionEnd = "<!--Album.End-->";
constexpr long long kBeginLength = 17;
constexpr long long kEndLength = 15;

// Part of text from the 1-based position start, count characters long.
std::string CopyPart(std::string_view text, long long start, long long count) {
    if (start < 1) start = 1;
    const auto size = static_cast<long long>(text.size());
    if (count <= 0 || start > size) return {};
    return std::string(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

// 1-based position of marker in text, 0 when absent.
long long PosOf(std::string_view marker, std::string_view text) {
    const std::size_t at = text.find(marker);
    return at == std::string_view::npos ? 0 : static_cast<long long>(at) + 1;
}

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix) {
    return text.size() - at >= prefix.size() && SameText(text.substr(at, prefix.size()), prefix);
}

}  // namespace

TPageTemplates CutPageTemplate(std::string_view text) {
    const long long ib = PosOf(kItemBegin, text);
    const long long ie = PosOf(kItemEnd, text);
    const long long gb = PosOf(kGroupBegin, text);
    const long long ge = PosOf(kGroupEnd, text);
    TPageTemplates parts;
    parts.Item = CopyPart(text, ib + kBeginLength, ie - ib - kBeginLength);
    parts.Group = CopyPart(text, gb + kBeginLength, ge - gb - kBeginLength);
    long long first = std::min(ib, gb);
    long long tailStart = std::max(ie, ge) + kEndLength;
    const long long sb = PosOf(kSectionBegin, text);
    const long long se = sb > 0 ? PosOf(kSectionEnd, text.substr(static_cast<std::size_t>(sb - 1))) : 0;
    if (sb > 0 && se > 0) {
        const auto beginLength = static_cast<long long>(std::strlen(kSectionBegin));
        const long long end = sb - 1 + se;  // 1-based position of the end marker
        parts.Section = CopyPart(text, sb + beginLength, end - sb - beginLength);
        if (first > 0) first = std::min(first, sb);
        tailStart = std::max(tailStart, end + static_cast<long long>(std::strlen(kSectionEnd)));
    }
    const std::string head = CopyPart(text, 1, first - 1);
    const std::string tail = CopyPart(text, tailStart, LLONG_MAX);
    parts.Page = head + "$Item" + tail;
    return parts;
}

std::string FillPlaceholders(std::string_view text, const TPlaceholders& values) {
    std::string out;
    out.reserve(text.size() + 256);
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t dollar = text.find('$', i);
        if (dollar == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, dollar - i));
        i = dollar + 1;
        bool matched = false;
        for (const auto& [name, value] : values) {
            if (StartsWithNoCase(text, dollar, name)) {
                out.append(value);
                i = dollar + name.size();
                matched = true;
                break;
            }
        }
        if (!matched) out.push_back('$');
    }
    return out;
}

std::string TranslatePageText(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t open = html.find(kPageTextBegin, pos);
        if (open == std::string_view::npos) break;
        const std::size_t start = open + std::strlen(kPageTextBegin);
        const std::size_t close = html.find(kPageTextEnd, start);
        // An unclosed marker leaves the rest as it stands.
        if (close == std::string_view::npos) break;
        out.append(html.substr(pos, open - pos));
        out += Translate(PageTextKey(html.substr(start, close - start)));
        pos = close + std::strlen(kPageTextEnd);
    }
    out.append(html.substr(pos));
    return out;
}

std::string PageTextKey(std::string_view text) {
    std::string key;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            blank = !key.empty();
            continue;
        }
        if (blank) key += ' ';
        blank = false;
        key += c;
    }
    return key;
}
