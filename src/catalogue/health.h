#pragma once
// What may be wrong with a collection: duplicate tracks, files without
// tags, albums without track numbers or covers, lossy files at a low bit
// rate and files that could not be read. Plain lists for the health page.
#include <cstddef>
#include <string>
#include <vector>

class TCatalogue;
class TMP3Collection;

// Lossy files below this many kbit/s are listed.
inline constexpr int kLowBitRate = 96;

struct THealthUnreadable {
    std::string path;
    std::string reason;
};

struct TCatalogueHealth {
    // Files of one artist and title (letter case aside) lasting within 2 s
    // of each other; each run of ids is one such set, by artist and title.
    std::vector<std::vector<std::size_t>> duplicates;
    std::vector<std::size_t> untagged;           // no artist, title or album
    std::vector<std::size_t> albumsWithoutNumbers;  // album positions with a track lacking its number
    std::vector<std::size_t> lowBitRate;         // lossy files below kLowBitRate
    std::vector<THealthUnreadable> unreadable;
    std::size_t DuplicateFiles() const;
};

// The findings of catalogue and of the files the scan could not read.
TCatalogueHealth CheckHealth(const TCatalogue& catalogue, std::vector<THealthUnreadable> unreadable);

// Whether a file's format keeps every sample (FLAC, WAV, AIFF, APE, WavPack...);
// its bit rate says nothing about its quality.
bool IsLosslessFile(std::string_view path);

// The files and folders the scan of collection could not read.
std::vector<THealthUnreadable> UnreadableFiles(const TMP3Collection& collection);
