// The list of formats and how a file's first bytes pick one of them.
#include "audio/format_registry.h"

#include <algorithm>
#include <cstring>

#include "audio/buffered_file.h"
#include "audio/id3.h"
#include "base/shared_functions.h"

namespace {

constexpr std::uint64_t kFirstBlock = 4096;
constexpr std::size_t kMinimumAfterTag = 512;
constexpr std::size_t kBeforeTagEnd = 2048;

// Size of the ID3v2 tag at the start of bytes, 0 when there is none that
// fits in the file.
std::uint64_t LeadingTagSize(std::string_view bytes, std::uint64_t fileSize) {
    const std::optional<TID3v2Header> tag = ParseID3v2Header(bytes);
    if (!tag || !tag->SyncSafe) return 0;
    return tag->TotalSize() <= fileSize ? tag->TotalSize() : 0;
}

std::vector<std::unique_ptr<TAudioFormat>> MakeFormats() {
    std::vector<std::unique_ptr<TAudioFormat>> formats;
    // Formats with a magic number first; MPEG audio, recognised by its frame
    // headers, last.
    formats.push_back(MakeFlacFormat());
    formats.push_back(MakeOggFormat());
    formats.push_back(MakeWmaFormat());
    formats.push_back(MakeMp4Format());
    formats.push_back(MakeAiffFormat());
    formats.push_back(MakeWavFormat());
    formats.push_back(MakeDsfFormat());
    formats.push_back(MakeWavPackFormat());
    formats.push_back(MakeMonkeysFormat());
    formats.push_back(MakeMusepackFormat());
    formats.push_back(MakeTrueAudioFormat());
    formats.push_back(MakeMpegFormat());
    return formats;
}

bool HasExtension(const TAudioFormat& format, std::string_view ext) {
    for (std::string_view e : format.Extensions())
        if (e == ext) return true;
    return false;
}

}  // namespace

TFileHead::TFileHead(TBufferedFile& file) : file_(&file), fileSize_(file.Size()) {
    std::string start(kStartSize, '\0');
    start.resize(file.ReadAt(0, start.data(), start.size()));
    tagSize_ = LeadingTagSize(start, fileSize_);
    start_ = std::move(start);
    // The rest of the first block when the tag is small. Else one block
    // around the tag's end: the tag reader's last frames and the stream
    // reader's first frames lie there, so they fetch nothing more.
    if (tagSize_ + kMinimumAfterTag < kFirstBlock) {
        const auto first = static_cast<std::size_t>(kFirstBlock - tagSize_);
        afterTag_.resize(first);
        afterTag_.resize(file.ReadAt(tagSize_, afterTag_.data(), afterTag_.size()));
        complete_ = afterTag_.size() < first;
    } else {
        std::string block(kFirstBlock, '\0');
        block.resize(file.ReadAt(tagSize_ - kBeforeTagEnd, block.data(), block.size()));
        afterTag_ = block.size() > kBeforeTagEnd ? block.substr(kBeforeTagEnd) : std::string();
        complete_ = block.size() < kFirstBlock;
    }
}

std::string_view TFileHead::AfterTag(std::size_t want) const {
    want = std::min(want, kHeadSize);
    if (!complete_ && file_ && afterTag_.size() < want) {
        const std::size_t had = afterTag_.size();
        afterTag_.resize(want);
        afterTag_.resize(had + file_->ReadAt(tagSize_ + had, afterTag_.data() + had, want - had));
        complete_ = afterTag_.size() < want || want == kHeadSize;
    }
    return std::string_view(afterTag_).substr(0, std::min(want, afterTag_.size()));
}

TFileHead::TFileHead(std::string bytes, std::uint64_t fileSize) : fileSize_(fileSize) { Split(bytes); }

void TFileHead::Split(std::string_view whole) {
    start_ = std::string(whole.substr(0, kStartSize));
    tagSize_ = LeadingTagSize(start_, fileSize_);
    afterTag_ = tagSize_ < whole.size() ? std::string(whole.substr(tagSize_, kHeadSize)) : std::string();
}

const std::vector<std::unique_ptr<TAudioFormat>>& AudioFormats() {
    static const std::vector<std::unique_ptr<TAudioFormat>> formats = MakeFormats();
    return formats;
}

bool IsAudioExtension(std::string_view name) {
    const std::string ext = UpperCase(ExtractFileExt(name));
    if (ext.size() < 2) return false;
    for (const auto& format : AudioFormats())
        if (HasExtension(*format, ext)) return true;
    return false;
}

const TAudioFormat* FormatOf(const TFileHead& head, std::string_view name) {
    const std::string ext = UpperCase(ExtractFileExt(name));
    const TAudioFormat* best = nullptr;
    int bestScore = 0;
    for (const auto& format : AudioFormats()) {
        const TMatch match = format->Recognise(head);
        if (match == TMatch::No) continue;
        const bool own = HasExtension(*format, ext);
        // A weak sign is only believed under the format's own name.
        if (match == TMatch::Weak && !own) continue;
        // A magic number under the format's own name settles it.
        if (match == TMatch::Magic && own) return format.get();
        const int score = static_cast<int>(match) * 2 + (own ? 1 : 0);
        if (score > bestScore) {
            best = format.get();
            bestScore = score;
        }
    }
    return best;
}

std::vector<std::int32_t> RecordNumbers(const TStreamProps& stream, std::uint64_t fileSize) {
    return {RoundHalfEven(stream.Seconds()), stream.SampleRate, RoundHalfEven(stream.BitRate / 1000.0),
            ChannelCodeOf(stream.Channels), static_cast<std::int32_t>(static_cast<std::uint32_t>(fileSize))};
}
