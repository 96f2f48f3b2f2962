#pragma once
// What the files of examples/music/ were tagged with (examples/make-samples.sh).
#include <array>
#include <string>

struct SampleFile {
    const char* name;
    std::array<const char*, 7> texts;  // artist, title, album, year, comment, track, genre
    int seconds;
    int sampleRate;  // 0: not checked
    int channelCode;
    bool mpeg;
};

inline const SampleFile kSamples[] = {
    {"Aurora Quartet - Evening Tide.ogg",
     {"Aurora Quartet", "Evening Tide", "First Light", "2001", "Recorded at dusk", "2", "Jazz"},
     4,
     22050,
     4,
     false},
    {"Aurora Quartet - Midnight Blue.m4a",
     {"Aurora Quartet", "Midnight Blue", "First Light", "2001", "Late set", "3", "Jazz"},
     4,
     22050,
     4,
     false},
    {"Aurora Quartet - Morning Light.mp3",
     {"Aurora Quartet", "Morning Light", "First Light", "2001", "Recorded at dawn", "1", "Jazz"},
     4,
     22050,
     4,
     true},
    {"Grey Skies - Rainfall.wma",
     {"Grey Skies", "Rainfall", "Weather Report", "2003", "Light drizzle", "4", "Electronic"},
     4,  // the play duration less the preroll: 4.04 s
     22050,
     4,
     false},
    {"K\xC5\x8Dji Tanaka - Lossless Dream.m4a",
     {"K\xC5\x8Dji Tanaka", "Lossless Dream", "Clear Water", "2020", "", "1", "Electronic"},
     1,
     8000,
     4,
     false},
    {"Nobody Special - Lost_Song.mp3", {"Nobody Special", "Lost Song", "", "", "", "0", ""}, 3, 22050, 4, true},
    {"Nordlys - Fjord.flac",
     {"Nordlys", "Fjord", "Arktis", "2010", "Northern lights", "3", "Ambient"},
     2,
     8000,
     4,
     false},
    {"Old Timer - Dusty Road.mp3",
     {"Old Timer", "Dusty Road", "Classics", "1975", "", "9", "Country"},
     3,
     22050,
     4,
     true},
    {"Salt & Pepper <Live> - Rock & Roll <Demo>.mp3",
     {"Salt & Pepper <Live>", "Rock & Roll <Demo>", "Greatest \"Hits\"", "1987", "a < b & c > d", "5", "Rock & Roll"},
     3,
     22050,
     4,
     true},
    {"Zo\xC3\xAB Marchetti - Pioggia d'autunno.wma",
     {"Zo\xC3\xAB Marchetti", "Pioggia d'autunno", "Tempo", "2008", "", "6", "Classical"},
     4,  // the play duration less the preroll: 4.04 s
     22050,
     4,
     false},
    {"\xC3\x89milie Duval - Chanson d'\xC3\xA9t\xC3\xA9.mp3",
     {"\xC3\x89milie Duval", "Chanson d'\xC3\xA9t\xC3\xA9", "\xC3\x89t\xC3\xA9 \xC3\xA0 Paris", "1998", "", "2",
      "Chanson"},
     4,
     22050,
     4,
     true},
    {"\xC3\x91"
     "and\xC3\xBA Orquesta - Canci\xC3\xB3n N\xC3\xBAmero Uno.flac",
     {"\xC3\x91"
      "and\xC3\xBA Orquesta",
      "Canci\xC3\xB3n N\xC3\xBAmero Uno", "Pampa", "2005", "", "1", "Latin"},
     2,
     8000,
     4,
     false},
    {"\xC3\x98lstue Band - Sm\xC3\xB8rrebr\xC3\xB8"
     "d.ogg",
     {"\xC3\x98lstue Band",
      "Sm\xC3\xB8rrebr\xC3\xB8"
      "d",
      "Nordisk", "2012-06-21", "", "4", "Folk"},
     4,
     22050,
     4,
     false},
    {"\xE5\x9D\x82\xE6\x9C\xAC \xE9\x81\xA5 - \xE5\xA4\x8F\xE3\x81\xAE\xE6\xB5\xB7.mp3",
     {"\xE5\x9D\x82\xE6\x9C\xAC \xE9\x81\xA5", "\xE5\xA4\x8F\xE3\x81\xAE\xE6\xB5\xB7", "\xE5\xAD\xA3\xE7\xAF\x80",
      "2015", "", "7", "JPop"},
     3,
     0,
     2,
     true},
};
