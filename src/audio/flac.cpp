#include "audio/flac.h"

#include <algorithm>
#include <array>

#include "audio/buffered_file.h"
#include "audio/text_codec.h"
#include "base/byte_order.h"
#include "base/shared_functions.h"

namespace {

// Far more metadata blocks than any encoder writes; a corrupt file of tiny
// blocks cannot keep the reader busy beyond this.
constexpr int kMaxBlocks = 4096;
// Longest comment value kept; longer ones are cut.
constexpr std::size_t kMaxValue = 65536;

constexpr std::size_t kBlockHeaderSize = 4;
constexpr unsigned char kLastBlock = 0x80;
constexpr unsigned char kBlockTypeMask = 0x7F;
constexpr int kStreamInfoBlock = 0;
constexpr int kVorbisCommentBlock = 4;
// STREAMINFO: block and frame size limits, then sample rate (20 bits),
// channels - 1 (3), bits per sample - 1 (5) and total samples (36) in 64 bits.
constexpr std::uint64_t kStreamInfoLimitsSize = 10;

enum Name {
    nTitle,
    nArtist,
    nAlbum,
    nDate,
    nGenre,
    nComment,
    nTrack,
    nTrackNumber,
    nAlbumArtist,
    nAlbumArtistSpaced,
    nDisc,
    nCount
};
const char* const kNames[nCount] = {"TITLE", "ARTIST",      "ALBUM",       "DATE",         "GENRE",     "COMMENT",
                                    "TRACK", "TRACKNUMBER", "ALBUMARTIST", "ALBUM ARTIST", "DISCNUMBER"};

// The first value of each known name, in [start of the block, blockEnd).
void ReadVorbisComment(TBinaryReader& in, std::uint64_t blockEnd, std::array<std::string, nCount>& values,
                       std::array<bool, nCount>& found) {
    in.Skip(in.U32LE());  // vendor string
    const std::uint32_t entries = in.U32LE();
    for (std::uint32_t e = 0; e < entries; ++e) {
        if (in.Position() >= blockEnd || in.AtEnd()) break;
        const std::uint32_t entryLength = in.U32LE();
        const std::uint64_t entryStart = in.Position();
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>({entryLength, kMaxValue + 32, in.Remaining()}));
        std::string entry(take, '\0');
        in.Read(entry.data(), take);
        const std::size_t eq = entry.find('=');
        if (eq != std::string::npos) {
            const std::string name = UpperCase(entry.substr(0, eq));
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

}  // namespace

void TFlacFile::Reset() {
    ClearTags();
    ClearStream();
    HasComments = false;
    BitsPerSample = 0;
    Samples = 0;
}

bool TFlacFile::ReadFromFile(const std::string& path) {
    TBufferedFile file(path);
    return ReadFrom(file);
}

void TFlacFile::ReadStreamInfo(TBinaryReader& in) {
    in.Skip(kStreamInfoLimitsSize);
    const std::uint64_t v = in.U64BE();
    SampleRate = static_cast<std::int32_t>(v >> 44);
    Channels = static_cast<std::int32_t>((v >> 41) & 7) + 1;
    BitsPerSample = static_cast<std::int32_t>((v >> 36) & 31) + 1;
    Samples = v & 0xFFFFFFFFFULL;
    // A sample rate of 0 means the stream does not say; the playing time is
    // then unknown rather than an error.
    Duration = SampleRate > 0 ? static_cast<std::int64_t>(Samples * 1000 / static_cast<std::uint64_t>(SampleRate)) : 0;
}

bool TFlacFile::ReadFrom(TBufferedFile& file) {
    Reset();
    // Bytes beyond the end of the file read as zero.
    TBinaryReader in(file, TBinaryReader::TEndPolicy::ZeroFill);
    if (in.ReadString(4) != "fLaC") return false;

    std::array<std::string, nCount> values;
    std::array<bool, nCount> found{};
    bool streamInfoSeen = false;
    for (int blocks = 0; blocks < kMaxBlocks; ++blocks) {
        unsigned char header[kBlockHeaderSize];
        if (in.ReadSome(header, sizeof header) < sizeof header) break;
        const bool last = header[0] & kLastBlock;
        const int type = header[0] & kBlockTypeMask;
        const std::uint32_t length = GetU24BE(header + 1);
        const std::uint64_t body = in.Position();
        // A length past the end of the file means the walk has left the
        // metadata (a block that understated its length put it inside the
        // block's data), and so does a second STREAMINFO.
        if (length > in.Size() - body) break;
        if (type == kStreamInfoBlock) {
            if (streamInfoSeen) break;
            streamInfoSeen = true;
            ReadStreamInfo(in);
        } else if (type == kVorbisCommentBlock) {
            HasComments = true;
            ReadVorbisComment(in, body + length, values, found);
        }
        in.Seek(body);
        in.Skip(length);
        if (last) break;
    }

    Title = values[nTitle];
    Artist = values[nArtist];
    Album = values[nAlbum];
    Year = values[nDate];
    Genre = values[nGenre];
    Comment = values[nComment];
    Track = ParseTrackNumber(!values[nTrack].empty() ? values[nTrack] : values[nTrackNumber]);
    AlbumArtist = !values[nAlbumArtist].empty() ? values[nAlbumArtist] : values[nAlbumArtistSpaced];
    Disc = ParseTrackNumber(values[nDisc]);
    return true;
}
