// The lossless archive formats tagged with APEv2 (or ID3): WavPack, Monkey's
// Audio, Musepack and TrueAudio. One unit each; the tag rules are shared.
#include <cstring>

#include "audio/apev2.h"
#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/format_registry.h"
#include "audio/id3.h"
#include "base/byte_order.h"

namespace {

std::uint32_t U32At(std::string_view b, std::size_t at) {
    return at + 4 <= b.size() ? GetU32LE(reinterpret_cast<const unsigned char*>(b.data()) + at) : 0;
}
std::uint16_t U16At(std::string_view b, std::size_t at) {
    return at + 2 <= b.size() ? GetU16LE(reinterpret_cast<const unsigned char*>(b.data()) + at) : 0;
}

// APEv2 first; an ID3v2 tag in front and an ID3v1 tag at the end fill what
// it leaves empty.
TTagFields TrailingTags(TBufferedFile& file) {
    TApeTag ape;
    ape.ReadTrailing(file);
    TTagFields tags = ape;
    TID3v2 v2;
    v2.ReadFrom(file);
    FillEmpty(tags, v2);
    TID3v1Tag v1;
    v1.ReadFrom(file);
    if (v1.Exists) FillEmpty(tags, v1);
    return tags;
}

// The stream values every unit works out, and the record from them.
struct TStream : TStreamProps {
    void FromSamples(std::uint64_t samples, std::uint64_t audioBytes) {
        if (SampleRate <= 0) return;
        SetPlayingTime(double(samples) / SampleRate);
        const double seconds = Seconds();
        BitRate = seconds > 0 ? RoundHalfEven(double(audioBytes) * 8 / seconds) : 0;
    }
};

TFormatRead Record(TBufferedFile& file, const TStream& stream) {
    TFormatRead r;
    r.tags = TrailingTags(file);
    r.numbers = RecordNumbers(stream, file.Size());
    return r;
}

class TApeTaggedFormat : public TAudioFormat {
public:
    std::string Cover(TBufferedFile& file) const override {
        std::string picture = ApeCover(file);
        return !picture.empty() ? picture : Id3Cover(file);
    }
};

// WavPack: blocks of "wvpk", size, version (2), two bytes, total samples
// (at 12), block index, block samples, flags (at 24), checksum.
class TWavPackFormat : public TApeTaggedFormat {
public:
    std::string_view Name() const override { return "WavPack"; }
    std::vector<std::string_view> Extensions() const override { return {".WV"}; }
    TMatch Recognise(const TFileHead& head) const override {
        return head.AfterTag().substr(0, 4) == "wvpk" ? TMatch::Magic : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead& head) const override {
        static const std::int32_t kRates[15] = {6000,  8000,  9600,  11025, 12000, 16000, 22050, 24000,
                                                32000, 44100, 48000, 64000, 88200, 96000, 192000};
        const std::string_view b = head.AfterTag();
        if (b.size() < 32) throw EReadError("the WavPack block header is cut short");
        const std::uint32_t flags = U32At(b, 24);
        TStream s;
        const unsigned rateIndex = (flags >> 23) & 0xF;
        s.SampleRate = rateIndex < 15 ? kRates[rateIndex] : 0;  // 15: a rate of its own, in a sub-block
        s.Channels = (flags & 4) ? 1 : 2;
        std::uint64_t samples = U32At(b, 12);
        // Newer writers keep bits 32 to 39 of the count in byte 11; a
        // stream written without knowing its length ends where its last
        // block does.
        if (samples != 0xFFFFFFFFu)
            samples |= std::uint64_t(static_cast<unsigned char>(b[11])) << 32;
        else
            samples = SamplesToLastBlock(file);
        s.FromSamples(samples, file.Size() - head.TagSize());
        return Record(file, s);
    }

private:
    // The index of the last block's first sample plus its sample count,
    // from the last block header in the final bytes of the file; 0 when
    // there is none.
    static std::uint64_t SamplesToLastBlock(TBufferedFile& file) {
        constexpr std::uint64_t kSearch = 1u << 20;
        const std::uint64_t from = file.Size() > kSearch ? file.Size() - kSearch : 0;
        std::string tail(static_cast<std::size_t>(file.Size() - from), '\0');
        tail.resize(file.ReadAt(from, tail.data(), tail.size()));
        for (std::size_t at = tail.rfind("wvpk"); at != std::string::npos && at > 0; at = tail.rfind("wvpk", at - 1)) {
            if (at + 32 > tail.size()) continue;
            const std::uint32_t samples = U32At(tail, at + 20);
            if (samples == 0) continue;  // a block of metadata only
            return std::uint64_t(U32At(tail, at + 16)) + samples;
        }
        return 0;
    }
};

// Monkey's Audio: "MAC ", version; from version 3.98 a descriptor, then the
// header: compression level, flags, blocks per frame, blocks in the last
// frame, frame count, bits, channels, sample rate. Older files have one
// header with the fields in another order.
class TMonkeysFormat : public TApeTaggedFormat {
public:
    std::string_view Name() const override { return "Monkey's Audio"; }
    std::vector<std::string_view> Extensions() const override { return {".APE"}; }
    TMatch Recognise(const TFileHead& head) const override {
        return head.AfterTag().substr(0, 4) == "MAC " ? TMatch::Magic : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead& head) const override {
        const std::string_view b = head.AfterTag();
        if (b.size() < 32) throw EReadError("the Monkey's Audio header is cut short");
        const unsigned version = U16At(b, 4);
        std::uint32_t blocksPerFrame, finalBlocks, frames;
        TStream s;
        if (version >= 3980) {
            const std::size_t h = U32At(b, 8);
            if (h > b.size() || b.size() - h < 24) throw EReadError("the Monkey's Audio header is cut short");
            blocksPerFrame = U32At(b, h + 4);
            finalBlocks = U32At(b, h + 8);
            frames = U32At(b, h + 12);
            s.Channels = U16At(b, h + 18);
            s.SampleRate = static_cast<std::int32_t>(U32At(b, h + 20));
        } else {
            const unsigned compression = U16At(b, 6);
            s.Channels = U16At(b, 10);
            s.SampleRate = static_cast<std::int32_t>(U32At(b, 12));
            frames = U32At(b, 24);
            finalBlocks = U32At(b, 28);
            blocksPerFrame = version >= 3950                                       ? 73728 * 4
                             : version >= 3900 || (version >= 3800 && compression == 4000) ? 73728
                                                                                          : 9216;
        }
        if (frames > 0) s.FromSamples(std::uint64_t(frames - 1) * blocksPerFrame + finalBlocks, file.Size());
        return Record(file, s);
    }
};

// Musepack: "MP+" with stream version 7 (frame count, then the sample rate
// index in the flags), or "MPCK" with packets, the stream header "SH"
// holding the sample count and rate.
class TMusepackFormat : public TApeTaggedFormat {
public:
    std::string_view Name() const override { return "Musepack"; }
    std::vector<std::string_view> Extensions() const override { return {".MPC", ".MP+", ".MPP"}; }
    TMatch Recognise(const TFileHead& head) const override {
        const std::string_view b = head.AfterTag();
        if (b.substr(0, 4) == "MPCK") return TMatch::Magic;
        if (b.size() >= 4 && b.substr(0, 3) == "MP+" && (b[3] & 0x0F) == 7) return TMatch::Magic;
        return TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead& head) const override {
        static const std::int32_t kRates[4] = {44100, 48000, 37800, 32000};
        const std::string_view b = head.AfterTag();
        TStream s;
        if (b.substr(0, 3) == "MP+") {
            if (b.size() < 12) throw EReadError("the Musepack header is cut short");
            s.SampleRate = kRates[(U32At(b, 8) >> 16) & 3];
            s.Channels = 2;
            s.FromSamples(std::uint64_t(U32At(b, 4)) * 1152, file.Size() - head.TagSize());
        } else {
            ReadStreamHeader(b, s, file.Size() - head.TagSize());
        }
        return Record(file, s);
    }

private:
    // Sizes and counts are big-endian base-128 numbers, 7 bits a byte.
    static bool Varint(std::string_view b, std::size_t& at, std::uint64_t& value) {
        value = 0;
        for (int i = 0; i < 9 && at < b.size(); ++i) {
            const auto c = static_cast<unsigned char>(b[at++]);
            value = (value << 7) | (c & 0x7F);
            if (!(c & 0x80)) return true;
        }
        return false;
    }
    static void ReadStreamHeader(std::string_view b, TStream& s, std::uint64_t audioBytes) {
        static const std::int32_t kRates[4] = {44100, 48000, 37800, 32000};
        std::size_t at = 4;
        for (int packets = 0; packets < 64 && at + 2 < b.size(); ++packets) {
            const std::size_t start = at;
            const std::string_view key = b.substr(at, 2);
            at += 2;
            std::uint64_t size;
            if (!Varint(b, at, size) || size < at - start) return;
            if (key == "SH") {
                std::size_t p = at + 4 + 1;  // checksum, stream version
                std::uint64_t samples, silence;
                if (!Varint(b, p, samples) || !Varint(b, p, silence) || p + 2 > b.size()) return;
                const auto rateByte = static_cast<unsigned char>(b[p]);
                const auto channelByte = static_cast<unsigned char>(b[p + 1]);
                s.SampleRate = kRates[(rateByte >> 5) & 3];
                s.Channels = (channelByte >> 4) + 1;
                s.FromSamples(samples > silence ? samples - silence : 0, audioBytes);
                return;
            }
            if (size > b.size() - start) return;
            at = start + static_cast<std::size_t>(size);
        }
    }
};

// TrueAudio: "TTA1", format, channels, bits, sample rate, sample count.
class TTrueAudioFormat : public TApeTaggedFormat {
public:
    std::string_view Name() const override { return "TrueAudio"; }
    std::vector<std::string_view> Extensions() const override { return {".TTA"}; }
    TMatch Recognise(const TFileHead& head) const override {
        return head.AfterTag().substr(0, 4) == "TTA1" ? TMatch::Magic : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead& head) const override {
        const std::string_view b = head.AfterTag();
        if (b.size() < 18) throw EReadError("the TrueAudio header is cut short");
        TStream s;
        s.Channels = U16At(b, 6);
        s.SampleRate = static_cast<std::int32_t>(U32At(b, 10));
        s.FromSamples(U32At(b, 14), file.Size() - head.TagSize());
        return Record(file, s);
    }
};

}  // namespace

std::unique_ptr<TAudioFormat> MakeWavPackFormat() { return std::make_unique<TWavPackFormat>(); }
std::unique_ptr<TAudioFormat> MakeMonkeysFormat() { return std::make_unique<TMonkeysFormat>(); }
std::unique_ptr<TAudioFormat> MakeMusepackFormat() { return std::make_unique<TMusepackFormat>(); }
std::unique_ptr<TAudioFormat> MakeTrueAudioFormat() { return std::make_unique<TTrueAudioFormat>(); }
