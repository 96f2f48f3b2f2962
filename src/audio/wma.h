#pragma once
// WMA: the objects of the ASF header, walked for stream properties and tags.
#include <cstdint>
#include <string>

class TBufferedFile;

class TWMAfile {
public:
    // True when the header could be walked through (whether or not the file
    // passed the checks); false when it could not be opened or read. The
    // values are set only when Valid. Never raises.
    bool ReadFromFile(const std::string& path);
    bool ReadFrom(TBufferedFile& file);

    bool Valid = false;
    std::int64_t FileSize = 0;
    std::uint8_t Channels = 0;
    std::int32_t SampleRate = 0;
    double Duration = 0;  // seconds
    std::int32_t BitRate = 0;  // kbit/s
    std::string Title, Artist, Album, Year, Genre, Comment;  // UTF-8, trimmed
    std::int32_t Track = 0;

private:
    void Reset();
};
