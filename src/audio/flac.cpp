#include "audio/flac.h"

#include <algorithm>
#include <array>
#include <climits>

#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "base/shared_functions.h"

namespace {

// Far more metadata blocks than any encoder writes; a corrupt file of tiny
// blocks cannot keep the reader busy beyond this.
constexpr int kMaxBlocks = 4096;
// Longest comment value kept; longer ones are cut.
constexpr std::size_t kMaxValue = 65536;

enum Name { nTitle, nArtist, nAlbum, nDate, nGenre, nComment, nTrack, nTrackNumber, nCount };
const char* const kNames[nCount] = {"TITLE", "ARTIST", "ALBUM", "DATE", "GENRE", "COMMENT", "TRACK", "TRACKNUMBER"};

// A track number such as "5" or "5/12"; 0 when it is none.
std::int32_t TrackNumber(const std::string& value) {
    std::string head = value.substr(0, value.find('/'));
    long long n;
    if (!ParseWholeNumber(Trim(head), n) || n < INT32_MIN || n > INT32_MAX) return 0;
    return static_cast<std::int32_t>(n);
}

}  // namespace

void TFlacFile::Reset() {
    HasComments = false;
    Title.clear();
    Artist.clear();
    Album.clear();
    Date.clear();
    Genre.clear();
    Comment.clear();
    Track = Duration = BitsPerSample = SampleRate = Channels = 0;
    Samples = 0;
}

bool TFlacFile::ReadFromFile(const std::string& path) {
    TBufferedFile file(path);
    return ReadFrom(file);
}

bool TFlacFile::ReadFrom(TBufferedFile& file) {
    Reset();
    // Bytes beyond the end of the file read as zero.
    TBinaryReader in(file, TBinaryReader::TEndPolicy::ZeroFill);
    if (in.ReadString(4) != "fLaC") return false;

    std::array<std::string, nCount> values;
    std::array<bool, nCount> found{};
    for (int blocks = 0; blocks < kMaxBlocks; ++blocks) {
        unsigned char header[4];
        if (in.ReadSome(header, 4) < 4) break;
        const bool last = header[0] & 0x80;
        const int type = header[0] & 0x7F;
        const std::uint32_t length = (std::uint32_t(header[1]) << 16) | (std::uint32_t(header[2]) << 8) | header[3];
        const std::uint64_t p = in.Position();
        const std::uint64_t blockEnd = p + length;
        if (type == 0) {
            in.Skip(10);
            const std::uint64_t v = in.U64BE();
            SampleRate = static_cast<std::int32_t>(v >> 44);
            Channels = static_cast<std::int32_t>((v >> 41) & 7) + 1;
            BitsPerSample = static_cast<std::int32_t>((v >> 36) & 31) + 1;
            Samples = v & 0xFFFFFFFFFULL;
            // A sample rate of 0 means the stream does not say; the playing
            // time is then unknown rather than an error.
            Duration = SampleRate > 0 ? static_cast<std::int32_t>(std::min<std::uint64_t>(Samples / SampleRate, INT32_MAX)) : 0;
        } else if (type == 4) {
            HasComments = true;
            in.Skip(in.U32LE());  // vendor string
            const std::uint32_t entries = in.U32LE();
            for (std::uint32_t e = 0; e < entries; ++e) {
                if (in.Position() >= blockEnd || in.AtEnd()) break;
                const std::uint32_t entryLength = in.U32LE();
                const std::uint64_t entryStart = in.Position();
                const std::size_t take = static_cast<std::size_t>(
                    std::min<std::uint64_t>({entryLength, kMaxValue + 32, in.Remaining()}));
                std::string entry(take, '\0');
                in.Read(entry.data(), take);
                std::size_t eq = entry.find('=');
                if (eq != std::string::npos) {
                    std::string name = UpperCase(entry.substr(0, eq));
                    for (int n = 0; n < nCount; ++n) {
                        if (!found[n] && name == kNames[n]) {
                            found[n] = true;
                            values[n] = SanitizeUtf8(std::string_view(entry).substr(eq + 1, kMaxValue));
                        }
                    }
                }
                in.Seek(entryStart);
                in.Skip(entryLength);
            }
        }
        in.Seek(p);
        in.Skip(length);
        if (last) break;
    }

    Title = values[nTitle];
    Artist = values[nArtist];
    Album = values[nAlbum];
    Date = values[nDate];
    Genre = values[nGenre];
    Comment = values[nComment];
    Track = !values[nTrack].empty() ? TrackNumber(values[nTrack]) : TrackNumber(values[nTrackNumber]);
    return true;
}
