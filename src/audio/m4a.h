#pragma once
// M4A: the atom tree of an MPEG-4 audio file, searched for the movie header,
// the first audio track's sample entry and the iTunes-style tag list.
#include <cstdint>
#include <string>

class TBufferedFile;

// The genre list of the "gnre" item: 126 names numbered from 0.
constexpr int kM4AGenreCount = 126;
const char* M4AGenreName(int index);  // nullptr outside 0 to 125

class TM4AFile {
public:
    // Nothing happens for a path of fewer than 2 characters. Raises EOSError
    // when the file cannot be opened and EReadError when a value the walk
    // needs lies past the end of the file.
    void ReadFromFile(const std::string& path);
    void ReadFrom(TBufferedFile& file);

    bool HasTags() const { return hasTags_; }
    // Setting it either way empties the tags; the stream values stay.
    void SetHasTags(bool value);

    std::int32_t Duration = 0;  // whole seconds, rounded
    std::int32_t BitRate = 0;   // kbit/s
    std::int32_t Channels = 0;
    std::int32_t SampleRate = 0;  // Hz
    std::string Title, Artist, Album, Comment, Year, Genre;  // UTF-8
    std::uint16_t Track = 0;

private:
    bool hasTags_ = false;
};
