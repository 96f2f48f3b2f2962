#pragma once
// Ogg Vorbis: stream properties from the identification header, tags from the
// comment header, the sample count from the last page.
#include <cstdint>
#include <string>

class TBufferedFile;

class TOggVorbis {
public:
    // True when the file (after a leading ID3v2 tag) starts with an Ogg page
    // holding the Vorbis identification header; false otherwise, all values
    // staying empty. Raises EOSError when the file cannot be opened.
    bool ReadFromFile(const std::string& path);
    bool ReadFrom(TBufferedFile& file);

    // Seconds: from the sample count, or estimated from the nominal bit rate.
    double Duration() const;
    // Average kbit/s over the whole file, tags included.
    std::int32_t BitRate() const;

    std::int64_t FileSize = 0;
    std::uint8_t Channels = 0;
    std::int32_t SampleRate = 0;
    std::uint16_t BitRateNominal = 0;  // kbit/s
    std::int32_t Samples = 0;          // low 32 bits of the last page's granule position
    std::int64_t ID3v2Size = 0;
    std::string Title, Artist, Album, Date, Genre, Comment, Vendor;  // UTF-8
    std::uint16_t Track = 0;  // 0 to 255

private:
    void Reset();
};
