#pragma once
// How groups become page names and year groups.
#include <string>
#include <string_view>

// Name of a group's page: prefix + "-" + the MD5 of the name in hex + ".htm".
std::string GroupPageName(std::string_view prefix, std::string_view name);

// The year a file is grouped under: the leading whole number of the year
// text ("1999-05-01" gives 1999), 0 when it does not start with one.
int LeadingYear(std::string_view text);

// What an album's page name is made of: the album name with its album
// artist, or, without one, with the folder that holds the files. Empty for
// files without an album name.
std::string AlbumGroupKey(std::string_view album, std::string_view albumArtist, std::string_view folder);
