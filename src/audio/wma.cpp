#include "audio/wma.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "base/shared_functions.h"

namespace {

using TGuid = std::array<unsigned char, 16>;

// GUIDs as stored: the first three groups little-endian, the rest as written.
constexpr TGuid Guid(std::uint32_t a, std::uint16_t b, std::uint16_t c, std::uint64_t d) {
    TGuid g{};
    for (int i = 0; i < 4; ++i) g[i] = static_cast<unsigned char>(a >> (8 * i));
    for (int i = 0; i < 2; ++i) g[4 + i] = static_cast<unsigned char>(b >> (8 * i));
    for (int i = 0; i < 2; ++i) g[6 + i] = static_cast<unsigned char>(c >> (8 * i));
    for (int i = 0; i < 8; ++i) g[8 + i] = static_cast<unsigned char>(d >> (8 * (7 - i)));
    return g;
}

constexpr TGuid kHeader = Guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6CULL);
constexpr TGuid kFileProperties = Guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ULL);
constexpr TGuid kStreamProperties = Guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ULL);
constexpr TGuid kContentDescription = Guid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6CULL);
constexpr TGuid kExtendedContentDescription = Guid(0xD2D0A440, 0xE307, 0x11D2, 0x97F000A0C95EA850ULL);

constexpr std::size_t kMaxChars = 250;  // characters kept of each string

enum Slot { sTitle, sArtist, sAlbum, sTrack, sYear, sGenre, sComment, sTrackNumber, sCount };
const char* const kNames[sCount] = {"WM/TITLE", "WM/AUTHOR", "WM/ALBUMTITLE", "WM/TRACK",
                                    "WM/YEAR",  "WM/GENRE",  "WM/DESCRIPTION", "WM/TRACKNUMBER"};

std::string ReadWideString(TBinaryReader& in, std::uint16_t bytes) {
    const std::size_t keep = std::min<std::size_t>(bytes, 2 * kMaxChars);
    std::string raw = in.ReadString(keep);
    in.Skip(bytes - keep);
    return Utf16ToUtf8(raw, false, false);
}

}  // namespace

void TWMAfile::Reset() {
    Valid = false;
    FileSize = 0;
    Channels = 0;
    SampleRate = 0;
    Duration = 0;
    BitRate = 0;
    Title.clear();
    Artist.clear();
    Album.clear();
    Year.clear();
    Genre.clear();
    Comment.clear();
    Track = 0;
}

bool TWMAfile::ReadFromFile(const std::string& path) {
    Reset();
    try {
        TBufferedFile file(path);
        return ReadFrom(file);
    } catch (const Exception&) {
        return false;
    }
}

bool TWMAfile::ReadFrom(TBufferedFile& file) {
    Reset();
    std::uint32_t maxBitRate = 0, sampleRate = 0, bytesPerSecond = 0;
    std::uint16_t channels = 0;
    std::array<std::string, sCount> slots;
    std::array<bool, sCount> seen{};
    try {
        TBinaryReader in(file);
        TGuid guid;
        in.Read(guid.data(), 16);
        if (guid == kHeader) {
            const std::uint64_t headerEnd = std::min<std::uint64_t>(in.U64LE(), file.Size());
            const std::uint32_t objects = in.U32LE();
            in.Skip(2);
            for (std::uint32_t o = 0; o < objects; ++o) {
                const std::uint64_t p = in.Position();
                // Objects beyond the header object (a count larger than the
                // objects present) are not part of it.
                if (p + 24 > headerEnd) break;
                in.Read(guid.data(), 16);
                const std::uint64_t size = in.U64LE();
                in.Seek(p + 20);
                if (guid == kFileProperties) {
                    in.Skip(80);
                    maxBitRate = in.U32LE();
                } else if (guid == kStreamProperties) {
                    in.Skip(60);
                    channels = in.U16LE();
                    sampleRate = in.U32LE();
                    bytesPerSecond = in.U32LE();
                } else if (guid == kContentDescription) {
                    in.Skip(4);
                    std::uint16_t lengths[5];
                    for (auto& l : lengths) l = in.U16LE();
                    const int targets[5] = {sTitle, sArtist, -1, sComment, -1};
                    for (int i = 0; i < 5; ++i) {
                        if (lengths[i] == 0) continue;
                        std::string text = ReadWideString(in, lengths[i]);
                        if (targets[i] >= 0) {
                            slots[targets[i]] = std::move(text);
                            seen[targets[i]] = true;
                        }
                    }
                } else if (guid == kExtendedContentDescription) {
                    in.Skip(4);
                    const std::uint16_t count = in.U16LE();
                    for (std::uint16_t d = 0; d < count; ++d) {
                        std::string name = UpperCase(Trim(ReadWideString(in, in.U16LE())));
                        const std::uint16_t type = in.U16LE();
                        const std::uint16_t length = in.U16LE();
                        int slot = -1;
                        for (int s = 0; s < sCount; ++s)
                            if (name == kNames[s]) slot = s;
                        if (slot >= 0 && type == 0) {
                            slots[slot] = ReadWideString(in, length);
                            seen[slot] = true;
                        } else if (slot == sTrackNumber && type == 3 && length == 4) {
                            slots[slot] = std::to_string(in.U32LE());
                            seen[slot] = true;
                        } else {
                            in.Skip(length);
                        }
                    }
                }
                // An object too small to hold its own header ends the walk, and
                // so does one running past the header: a 64-bit size could
                // otherwise wrap round to an earlier object and loop.
                if (size < 24 || size > headerEnd - p) break;
                in.Seek(p + size);
            }
        }
    } catch (const Exception&) {
        return false;
    }

    const bool passes = maxBitRate > 0 && maxBitRate < 320000 && (channels == 1 || channels == 2) &&
                        sampleRate >= 8000 && sampleRate <= 96000 && bytesPerSecond > 0 && bytesPerSecond < 40000;
    if (!passes) return true;

    Valid = true;
    FileSize = static_cast<std::int64_t>(file.Size());
    Channels = static_cast<std::uint8_t>(channels);
    SampleRate = static_cast<std::int32_t>(sampleRate);
    Duration = double(FileSize) * 8 / maxBitRate;
    BitRate = static_cast<std::int32_t>(std::uint64_t(bytesPerSecond) * 8 / 1000);
    Title = Trim(slots[sTitle]);
    Artist = Trim(slots[sArtist]);
    Album = Trim(slots[sAlbum]);
    Year = Trim(slots[sYear]);
    Genre = Trim(slots[sGenre]);
    Comment = Trim(slots[sComment]);
    // "WM/TrackNumber" is what current writers use; the older "WM/Track" wins
    // when both are there.
    std::string track = Trim(seen[sTrack] ? slots[sTrack] : slots[sTrackNumber]);
    long long number;
    Track = ParseWholeNumber(track, number) && number >= INT32_MIN && number <= INT32_MAX
                ? static_cast<std::int32_t>(number) : 0;
    return true;
}
