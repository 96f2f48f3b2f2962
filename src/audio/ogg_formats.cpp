// The Ogg family: Vorbis, Opus, Speex and FLAC in Ogg. The first packet of
// the stream names the codec; all of them carry Vorbis comments and follow
// the Ogg rules for them.
#include <cstring>

#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/format_registry.h"
#include "audio/ogg_packets.h"
#include "audio/ogg_vorbis.h"
#include "audio/text_codec.h"
#include "audio/vorbis_comment.h"
#include "base/byte_order.h"

namespace {

enum class TOggCodec { Unknown, Vorbis, Opus, Speex, Flac };

constexpr std::size_t kPageHeaderSize = 27;
constexpr std::size_t kSegmentCountOffset = 26;
constexpr std::size_t kFirstPacketLimit = 256;
// Header packets of FLAC in Ogg are metadata blocks; more than this is no
// real file.
constexpr int kMaxFlacHeaders = 64;

// Opus: "OpusHead", version, channels (at 9), pre-skip (16 bits at 10), the
// input sample rate; the stream always runs at 48 kHz.
constexpr std::size_t kOpusChannels = 9, kOpusPreSkip = 10, kOpusHeadSize = 19;
constexpr std::int32_t kOpusRate = 48000;
// Speex: "Speex   ", version text, then 32-bit fields: rate (at 36),
// channels (at 48), bit rate (at 52).
constexpr std::size_t kSpeexRate = 36, kSpeexChannels = 48, kSpeexHeadSize = 80;
// FLAC in Ogg: 0x7F "FLAC", version (2 bytes), header count (16 bits BE),
// "fLaC", then the STREAMINFO block with its 4-byte header.
constexpr std::size_t kOggFlacStreamInfo = 13 + 4;
constexpr std::size_t kOggFlacHeadSize = kOggFlacStreamInfo + 34;
constexpr int kFlacCommentBlock = 4;
constexpr int kFlacPictureBlock = 6;

TOggCodec CodecOf(std::string_view packet) {
    auto starts = [&](std::string_view magic) { return packet.substr(0, magic.size()) == magic; };
    if (starts(std::string_view("\x01vorbis", 7))) return TOggCodec::Vorbis;
    if (starts("OpusHead")) return TOggCodec::Opus;
    if (starts("Speex   ")) return TOggCodec::Speex;
    if (starts("\x7F" "FLAC")) return TOggCodec::Flac;
    return TOggCodec::Unknown;
}

// The codec from the head bytes alone: the first packet starts right after
// the first page's lacing values.
TOggCodec CodecOfHead(std::string_view bytes) {
    if (bytes.size() < kPageHeaderSize || bytes.substr(0, 4) != "OggS") return TOggCodec::Unknown;
    const std::size_t data = kPageHeaderSize + static_cast<unsigned char>(bytes[kSegmentCountOffset]);
    if (data >= bytes.size()) return TOggCodec::Unknown;
    return CodecOf(bytes.substr(data));
}

// Average bit rate over the whole file (tags included), as for Vorbis.
void AverageBitRate(TStreamProps& stream, std::uint64_t bytes) {
    const double seconds = stream.Seconds();
    stream.BitRate = seconds > 0 ? RoundHalfEven(double(bytes) * 8 / seconds) : 0;
}

void PlayingTimeFromGranule(TBufferedFile& file, std::uint32_t serial, std::int64_t skip, TStreamProps& stream) {
    const std::int64_t granule = LastGranule(file, serial);
    if (granule > skip && stream.SampleRate > 0) stream.SetPlayingTime(double(granule - skip) / stream.SampleRate);
}

// A FLAC metadata block of a header packet: its type, and the packet
// positioned at its body.
int FlacBlockType(TOggPackets& packets) {
    unsigned char header[4];
    if (packets.Read(header, sizeof header) != sizeof header) return -1;
    return header[0] & 0x7F;
}

struct TOggRead : TTagFields, TStreamProps {};

// Opus, Speex and FLAC in Ogg; Vorbis keeps its own reader.
void ReadOtherCodec(TBufferedFile& file, const TFileHead& head, TOggCodec codec, TOggRead& out) {
    TOggPackets packets(file, head.TagSize());
    if (!packets.NextPacket()) throw EReadError("the Ogg stream has no first packet");
    const std::string first = packets.ReadPacket(kFirstPacketLimit);
    const auto* b = reinterpret_cast<const unsigned char*>(first.data());
    TVorbisComments comments;
    std::int64_t skip = 0;
    switch (codec) {
        case TOggCodec::Opus:
            if (first.size() < kOpusHeadSize) throw EReadError("the Opus header is cut short");
            out.Channels = b[kOpusChannels];
            out.SampleRate = kOpusRate;
            skip = GetU16LE(b + kOpusPreSkip);
            if (packets.NextPacket()) {
                char magic[8];
                if (packets.Read(magic, 8) == 8 && std::memcmp(magic, "OpusTags", 8) == 0)
                    comments = ParseVorbisComments(packets);
            }
            break;
        case TOggCodec::Speex:
            if (first.size() < kSpeexHeadSize) throw EReadError("the Speex header is cut short");
            out.SampleRate = static_cast<std::int32_t>(GetU32LE(b + kSpeexRate));
            out.Channels = static_cast<std::int32_t>(GetU32LE(b + kSpeexChannels));
            if (packets.NextPacket()) comments = ParseVorbisComments(packets);
            break;
        case TOggCodec::Flac: {
            if (first.size() < kOggFlacHeadSize) throw EReadError("the FLAC header is cut short");
            const std::uint64_t v = GetU64BE(b + kOggFlacStreamInfo + 10);
            out.SampleRate = static_cast<std::int32_t>(v >> 44);
            out.Channels = static_cast<std::int32_t>((v >> 41) & 7) + 1;
            for (int i = 0; i < kMaxFlacHeaders && packets.NextPacket(); ++i) {
                const int type = FlacBlockType(packets);
                if (type == kFlacCommentBlock) {
                    comments = ParseVorbisComments(packets);
                    break;
                }
                if (type < 0 || type >= 127) break;  // audio frames start with 0xFF
            }
            const std::uint64_t samples = v & 0xFFFFFFFFFULL;
            if (samples > 0 && out.SampleRate > 0) out.SetPlayingTime(double(samples) / out.SampleRate);
            break;
        }
        default: throw EUnknownFormat("an Ogg stream of an unknown kind");
    }
    SelectVorbisTags(comments, TVorbisRules::Ogg, out);
    if (out.ExactSeconds <= 0) PlayingTimeFromGranule(file, packets.Serial(), skip, out);
    AverageBitRate(out, file.Size() - head.TagSize());
}

class TOggFormat : public TAudioFormat {
public:
    std::string_view Name() const override { return "Ogg"; }
    std::vector<std::string_view> Extensions() const override { return {".OGG", ".OGA", ".OPUS", ".SPX"}; }
    TMatch Recognise(const TFileHead& head) const override {
        return CodecOfHead(head.AfterTag()) != TOggCodec::Unknown ? TMatch::Magic : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead& head) const override {
        TFormatRead r;
        const TOggCodec codec = CodecOfHead(head.AfterTag());
        if (codec == TOggCodec::Vorbis) {
            TOggVorbis ogg;
            if (!ogg.ReadFrom(file)) throw EUnknownFormat("not an Ogg Vorbis stream");
            r.tags = ogg;
            r.numbers = RecordNumbers(ogg, file.Size());
        } else {
            TOggRead ogg;
            ReadOtherCodec(file, head, codec, ogg);
            r.tags = ogg;
            r.numbers = RecordNumbers(ogg, file.Size());
        }
        r.numbers[anBitRate] &= 0xFFFF;
        return r;
    }
    std::string Cover(TBufferedFile& file) const override { return VorbisCover(file); }
};

}  // namespace

std::string VorbisCover(TBufferedFile& file) {
    const TFileHead head(file);
    const TOggCodec codec = CodecOfHead(head.AfterTag());
    if (codec == TOggCodec::Unknown) return {};
    TOggPackets packets(file, head.TagSize());
    if (!packets.NextPacket()) return {};
    if (codec == TOggCodec::Flac) {
        // PICTURE blocks, and pictures among the comments.
        std::string picture;
        for (int i = 0; i < kMaxFlacHeaders && packets.NextPacket(); ++i) {
            const int type = FlacBlockType(packets);
            if (type == kFlacPictureBlock) {
                bool front = false;
                std::string p = FlacPictureBlock(packets.ReadPacket(kMaxCoverBytes + 4096), front);
                if (front) return p;
                if (picture.empty()) picture = std::move(p);
            } else if (type == kFlacCommentBlock) {
                std::string p = PictureFromVorbisComments(packets);
                if (picture.empty()) picture = std::move(p);
            } else if (type < 0 || type >= 127) {
                break;
            }
        }
        return picture;
    }
    if (!packets.NextPacket()) return {};
    const std::size_t marker = codec == TOggCodec::Vorbis ? 7 : codec == TOggCodec::Opus ? 8 : 0;
    if (packets.Skip(marker) != marker) return {};
    return PictureFromVorbisComments(packets);
}

std::unique_ptr<TAudioFormat> MakeOggFormat() { return std::make_unique<TOggFormat>(); }
