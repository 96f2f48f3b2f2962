// Page names made from group names, and the keys albums are grouped by.
#include "catalogue/page_names.h"

#include <climits>

#include "base/shared_functions.h"

std::string GroupPageName(std::string_view prefix, std::string_view name) {
    std::string page(prefix);
    page += '-';
    page += HexEncode(Md5Digest(name));
    page += ".htm";
    return page;
}

int LeadingYear(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) return 0;
    }
    if (!digits) return 0;
    return static_cast<int>(negative ? -value : value);
}

std::string AlbumGroupKey(std::string_view album, std::string_view albumArtist, std::string_view folder) {
    if (album.empty()) return {};
    std::string key(album);
    key += albumArtist.empty() ? "\x1F"
                                 "folder\x1F"
                               : "\x1F"
                                 "artist\x1F";
    key += albumArtist.empty() ? folder : albumArtist;
    return key;
}
