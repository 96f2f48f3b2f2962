#include "audio/ogg_vorbis.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "base/byte_order.h"
#include "services/shared_functions.h"

namespace {

constexpr std::size_t kCommentLimit = 250;  // bytes kept of each comment
// Ends the comment walk of a corrupt header whose entry count is absurd.
constexpr std::uint32_t kMaxComments = 65536;
constexpr int kLastPageWindows = 50;

enum Name { nTitle, nArtist, nAlbum, nTrackNumber, nDate, nGenre, nComment, nPerformer, nDescription, nCount };
const char* const kNames[nCount] = {"TITLE", "ARTIST", "ALBUM", "TRACKNUMBER", "DATE",
                                    "GENRE", "COMMENT", "PERFORMER", "DESCRIPTION"};

const char kIdentMarker[7] = {1, 'v', 'o', 'r', 'b', 'i', 's'};
const char kCommentMarker[7] = {3, 'v', 'o', 'r', 'b', 'i', 's'};

// Granule position (low 32 bits) of the last page within the final 12 060
// bytes, searched backwards in overlapping windows; 0 when there is none.
std::int32_t LastGranule(TBufferedFile& file) {
    const std::int64_t size = static_cast<std::int64_t>(file.Size());
    unsigned char buf[251];
    for (int w = 1; w <= kLastPageWindows; ++w) {
        std::int64_t from = size - 241 * w - 10;
        const bool first = from <= 0;
        if (first) from = 0;
        const std::size_t got = file.ReadAt(static_cast<std::uint64_t>(from), buf, sizeof buf);
        if (got >= 10) {
            for (std::int64_t i = std::min<std::int64_t>(241, static_cast<std::int64_t>(got) - 10); i >= 0; --i)
                if (std::memcmp(buf + i, "OggS", 4) == 0) return static_cast<std::int32_t>(GetU32LE(buf + i + 6));
        }
        if (first) break;
    }
    return 0;
}

}  // namespace

void TOggVorbis::Reset() {
    FileSize = 0;
    Channels = 0;
    SampleRate = 0;
    BitRateNominal = 0;
    Samples = 0;
    ID3v2Size = 0;
    Title.clear();
    Artist.clear();
    Album.clear();
    Date.clear();
    Genre.clear();
    Comment.clear();
    Vendor.clear();
    Track = 0;
}

bool TOggVorbis::ReadFromFile(const std::string& path) {
    TBufferedFile file(path);
    return ReadFrom(file);
}

bool TOggVorbis::ReadFrom(TBufferedFile& file) {
    Reset();
    TBinaryReader in(file, TBinaryReader::TEndPolicy::ZeroFill);
    const std::int64_t fileSize = static_cast<std::int64_t>(file.Size());

    unsigned char h[27];
    in.Read(h, 10);
    if (std::memcmp(h, "ID3", 3) == 0) {
        std::int64_t size = (std::int64_t(h[6]) << 21) + (std::int64_t(h[7]) << 14) + (std::int64_t(h[8]) << 7) + h[9];
        size += (h[5] & 0x10) ? 20 : 10;
        if (size <= fileSize) ID3v2Size = size;
    }

    in.Seek(static_cast<std::uint64_t>(ID3v2Size));
    in.Read(h, 27);
    if (std::memcmp(h, "OggS", 4) != 0) {
        ID3v2Size = 0;
        return false;
    }
    unsigned char ident[30];
    in.Seek(static_cast<std::uint64_t>(ID3v2Size) + 27 + h[26]);
    in.Read(ident, 30);
    if (std::memcmp(ident, kIdentMarker, 7) != 0) {
        ID3v2Size = 0;
        return false;
    }
    const std::uint8_t channels = ident[11];
    const std::int32_t sampleRate = static_cast<std::int32_t>(GetU32LE(ident + 12));
    const std::uint32_t nominal = GetU32LE(ident + 20);
    const std::uint64_t q = in.Position();

    std::array<std::string, nCount> values;
    in.Seek(q);
    in.Read(h, 27);
    in.Seek(q + 27 + h[26]);
    char marker[7];
    in.Read(marker, 7);
    if (std::memcmp(marker, kCommentMarker, 7) == 0) {
        // The vendor string first, then the entries; the count follows the vendor.
        std::uint64_t strings = 1;
        for (std::uint64_t s = 0; s < strings && s <= kMaxComments && !in.AtEnd(); ++s) {
            const std::uint32_t length = in.U32LE();
            const std::uint64_t begin = in.Position();
            std::string text = in.ReadString(std::min<std::size_t>(length, kCommentLimit));
            text = Trim(text);
            std::size_t eq = text.find('=');
            if (eq != std::string::npos) {
                std::string name = UpperCase(text.substr(0, eq));
                for (int n = 0; n < nCount; ++n)
                    if (name == kNames[n]) values[n] = Utf8UntilMalformed(Trim(text.substr(eq + 1)));
            } else if (Vendor.empty()) {
                Vendor = Utf8UntilMalformed(text);
            }
            in.Seek(begin);
            in.Skip(length);
            if (s == 0) strings += in.U32LE();
        }
    }

    FileSize = fileSize;
    Channels = channels;
    SampleRate = sampleRate;
    Samples = LastGranule(file);
    Title = values[nTitle];
    Artist = values[nArtist].empty() ? values[nPerformer] : values[nArtist];
    Album = values[nAlbum];
    Date = values[nDate];
    Genre = values[nGenre];
    Comment = values[nComment].empty() ? values[nDescription] : values[nComment];
    std::string track = values[nTrackNumber];
    track = track.substr(0, track.find('/'));
    long long number;
    Track = ParseWholeNumber(track, number) ? static_cast<std::uint16_t>(number & 0xFF) : 0;
    BitRateNominal = static_cast<std::uint16_t>(nominal / 1000);
    return true;
}

double TOggVorbis::Duration() const {
    if (Samples > 0) return SampleRate > 0 ? double(Samples) / SampleRate : 0.0;
    if (BitRateNominal > 0 && Channels > 0)
        return double(FileSize - ID3v2Size) / BitRateNominal / Channels / 125 * 2;
    return 0.0;
}

std::int32_t TOggVorbis::BitRate() const {
    const double duration = Duration();
    if (duration <= 0) return 0;
    return RoundHalfEven(double(FileSize - ID3v2Size) / duration / 125);
}
