#pragma once
// Figures of a whole catalogue: totals, formats, decades, and the genres and
// artists with most tracks. Plain numbers for the statistics page.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TCatalogue;

struct TStatisticsCount {
    std::string name;
    std::size_t tracks = 0;
};

struct TFormatFigures {
    std::string format;  // the file name's extension, in capitals ("MP3")
    std::size_t tracks = 0;
    std::int64_t bitRateSum = 0;    // kbit/s, over the tracks that tell one
    std::size_t bitRateTracks = 0;  // tracks that tell a bit rate
    // Whole kbit/s; 0 when no track tells one.
    std::int64_t AverageBitRate() const;
};

struct TCatalogueStatistics {
    std::size_t tracks = 0;
    std::size_t albums = 0;   // without the group of files without an album
    std::size_t artists = 0;  // likewise
    std::size_t genres = 0;   // likewise
    std::int64_t seconds = 0;
    std::uint64_t bytes = 0;
    std::vector<TFormatFigures> formats;       // most tracks first
    std::vector<TStatisticsCount> decades;     // "1990s", in time order
    std::size_t withoutYear = 0;
    std::vector<TStatisticsCount> topGenres;   // most tracks first
    std::vector<TStatisticsCount> topArtists;  // most tracks first
};

// The figures of catalogue; at most top genres and artists.
TCatalogueStatistics CollectStatistics(const TCatalogue& catalogue, std::size_t top = 20);

// The format a file is counted under: its extension in capitals, "?" without one.
std::string FormatOfFile(std::string_view path);
