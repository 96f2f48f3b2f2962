// The rules all formats share for tag numbers and texts.
#include "audio/tag_fields.h"

#include <cstdint>

std::int32_t ParseTrackNumber(std::string_view text) {
    text = text.substr(0, text.find('/'));
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return 0;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return 0;
    }
    return static_cast<std::int32_t>(value);
}

std::string StripControlChars(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '\t')
            out += ' ';
        else if (code >= 0x20 && code != 0x7F)
            out += c;
    }
    return out;
}

void FillEmpty(TTagFields& into, const TTagFields& from) {
    for (std::string TTagFields::*f : {&TTagFields::Artist, &TTagFields::Title, &TTagFields::Album, &TTagFields::Year,
                                       &TTagFields::Comment, &TTagFields::Genre, &TTagFields::AlbumArtist,
                                       &TTagFields::ArtistSort, &TTagFields::AlbumArtistSort})
        if ((into.*f).empty()) into.*f = from.*f;
    if (into.Track == 0) into.Track = from.Track;
    if (into.Disc == 0) into.Disc = from.Disc;
    into.Compilation = into.Compilation || from.Compilation;
}
