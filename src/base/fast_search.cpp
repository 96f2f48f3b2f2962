#include "base/fast_search.h"

#include <cstring>

#include "base/exceptions.h"

const std::array<unsigned char, 256>& FoldTable() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        for (int b = 0; b < 256; ++b) t[b] = static_cast<unsigned char>((b >= 'a' && b <= 'z') ? b - 'a' + 'A' : b);
        return t;
    }();
    return table;
}

void BuildSkipTable(std::string_view pattern, bool ignoreCase, TSkipTable& table) {
    const auto m = static_cast<std::int32_t>(pattern.size());
    if (m == 0) throw Exception("BufferLen is 0");
    table.fill(m);
    const auto& fold = FoldTable();
    for (std::int32_t i = 0; i + 1 < m; ++i) {
        auto b = static_cast<unsigned char>(pattern[static_cast<std::size_t>(i)]);
        table[ignoreCase ? fold[b] : b] = m - 1 - i;
    }
}

namespace {

// 0-based index of the first occurrence in text[from..n), or -1.
long FindWithTable(const char* text, long n, long from, std::string_view pattern, bool ignoreCase,
                   const TSkipTable& table) {
    const long m = static_cast<long>(pattern.size());
    const auto& fold = FoldTable();
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    const auto* p = reinterpret_cast<const unsigned char*>(pattern.data());
    long end = from + m - 1;  // index of the byte under the pattern's last byte
    while (end < n) {
        long k = 0;
        if (ignoreCase) {
            while (k < m && fold[t[end - k]] == fold[p[m - 1 - k]]) ++k;
        } else {
            while (k < m && t[end - k] == p[m - 1 - k]) ++k;
        }
        if (k == m) return end - m + 1;
        end += table[ignoreCase ? fold[t[end]] : t[end]];
    }
    return -1;
}

}  // namespace

int SearchNoCase(const char* source, const char* find, int sourceLength, int startPos, int findLength) {
    if (findLength < 1 || findLength > sourceLength || startPos < 1) return 0;
    std::string_view pattern(find, static_cast<std::size_t>(findLength));
    TSkipTable table;
    BuildSkipTable(pattern, true, table);
    long at = FindWithTable(source, sourceLength, startPos - 1, pattern, true, table);
    return at < 0 ? 0 : static_cast<int>(at + 1);
}

std::string ReplaceEvery(std::string_view source, std::string_view find, std::string_view replacement,
                         bool caseSensitive) {
    if (source.empty()) return std::string(source);
    if (find.empty()) return std::string(source);
    std::size_t reserve =
        replacement.size() > find.size() ? source.size() * replacement.size() / find.size() : source.size();
    if (reserve == 0) reserve = (source.size() + replacement.size()) * 3 / 2;
    std::string result;
    result.reserve(reserve);

    TSkipTable table;
    BuildSkipTable(find, !caseSensitive, table);
    const long n = static_cast<long>(source.size());
    long pos = 0;
    while (n - pos >= static_cast<long>(find.size())) {
        long at = FindWithTable(source.data(), n, pos, find, !caseSensitive, table);
        if (at < 0) break;
        result.append(source.data() + pos, static_cast<std::size_t>(at - pos));
        result.append(replacement);
        pos = at + static_cast<long>(find.size());
    }
    result.append(source.data() + pos, static_cast<std::size_t>(n - pos));
    return result;
}
