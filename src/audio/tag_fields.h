#pragma once
// The tag values every format reader delivers, in one shape, and the rules
// all formats share for the numbers and texts inside tags.
#include <cstdint>
#include <string>
#include <string_view>

struct TTagFields {
    std::string Title, Artist, Album, Year, Genre, Comment, AlbumArtist;  // UTF-8
    std::int32_t Track = 0;                                               // 0 when absent
    std::int32_t Disc = 0;                                                // 0 when absent
    std::string ArtistSort, AlbumArtistSort;  // the names to sort by ("Beatles, The"), UTF-8
    bool Compilation = false;                 // a various-artists album

    void ClearTags() { *this = TTagFields(); }
};

// Fills what into lacks from a second tag of the same file (ID3v1 or APEv2
// beside ID3v2); what into has stays.
void FillEmpty(TTagFields& into, const TTagFields& from);

// A track or disc number as tags hold it: "6", " 6 ", "6/15" (the part
// before "/" counts). 0 when that part is no whole number from 0 to
// 2147483647.
std::int32_t ParseTrackNumber(std::string_view text);

// The text without control characters (codes below 32, and 127), a tab
// turned into a blank: tag texts end up in pages, index files and terminals.
std::string StripControlChars(std::string_view text);
