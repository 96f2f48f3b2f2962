// Reads FLAC stream properties and Vorbis comments.
#include "audio/flac.h"

#include <algorithm>
#include <array>

#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/format_registry.h"
#include "audio/text_codec.h"
#include "audio/vorbis_comment.h"
#include "base/byte_order.h"
#include "base/shared_functions.h"

namespace {

// Far more metadata blocks than any encoder writes; a corrupt file of tiny
// blocks cannot keep the reader busy beyond this.
constexpr int kMaxBlocks = 4096;

constexpr std::size_t kBlockHeaderSize = 4;
constexpr unsigned char kLastBlock = 0x80;
constexpr unsigned char kBlockTypeMask = 0x7F;
constexpr int kStreamInfoBlock = 0;
constexpr int kVorbisCommentBlock = 4;
// STREAMINFO: block and frame size limits, then sample rate (20 bits),
// channels - 1 (3), bits per sample - 1 (5) and total samples (36) in 64 bits.
constexpr std::uint64_t kStreamInfoLimitsSize = 10;

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

bool TFlacFile::ReadFrom(TBufferedFile& file, std::uint64_t offset) {
    Reset();
    // Bytes beyond the end of the file read as zero.
    TBinaryReader in(file, TBinaryReader::TEndPolicy::ZeroFill);
    in.Seek(offset);
    if (in.ReadString(4) != "fLaC") return false;

    TVorbisComments comments;
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
        } else if (type == kVorbisCommentBlock && !HasComments) {
            HasComments = true;
            TFileRangeSource block(file, body, body + length);
            comments = ParseVorbisComments(block);
        }
        in.Seek(body);
        in.Skip(length);
        if (last) break;
    }
    SelectVorbisTags(comments, TVorbisRules::Flac, *this);
    return true;
}

namespace {

class TFlacFormat : public TAudioFormat {
public:
    std::string_view Name() const override { return "FLAC"; }
    std::vector<std::string_view> Extensions() const override { return {".FLAC", ".FLA"}; }
    TMatch Recognise(const TFileHead& head) const override {
        return head.AfterTag().substr(0, 4) == "fLaC" ? TMatch::Magic : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead& head) const override {
        TFlacFile flac;
        flac.ReadFrom(file, head.TagSize());
        TFormatRead r;
        r.tags = flac;
        r.numbers = RecordNumbers(flac, file.Size());
        // Whole seconds, cut, not rounded. The bit rate is an estimate: 5 % allowed
        // for the container, 1024 bits to the kilobit; an unknown playing time
        // leaves it unknown instead of dropping the file.
        const std::int64_t seconds = std::min<std::int64_t>(flac.Duration / 1000, INT32_MAX);
        const double size = static_cast<double>(file.Size());
        r.numbers[anPlayingTime] = static_cast<std::int32_t>(seconds);
        r.numbers[anBitRate] = seconds > 0 ? RoundHalfEven(size / double(seconds) * 8 * 0.95 / 1024) : 0;
        return r;
    }
    std::string Cover(TBufferedFile& file) const override { return FlacCover(file); }
};

}  // namespace

std::unique_ptr<TAudioFormat> MakeFlacFormat() { return std::make_unique<TFlacFormat>(); }
