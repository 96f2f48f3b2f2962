// Uncompressed and DSD audio: AIFF/AIFC and WAV, made of chunks, and DSF.
// Their tags are an ID3v2 tag inside a chunk (DSF: at the end, named by the
// header); WAV files may carry a LIST/INFO chunk instead.
#include <cmath>
#include <cstring>

#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/format_registry.h"
#include "audio/id3.h"
#include "audio/text_codec.h"
#include "base/byte_order.h"

namespace {

constexpr std::size_t kChunkHeaderSize = 8;
// Far more chunks than any writer makes; a corrupt file stops here.
constexpr int kMaxChunks = 4096;
constexpr std::size_t kMaxInfoValue = 4096;

struct TChunk {
    char id[4];
    std::uint64_t body = 0;  // file offset of the data
    std::uint64_t size = 0;  // as the header says; may run past the end of a cut file
    bool Is(const char* name) const { return std::memcmp(id, name, 4) == 0; }
};

// Walks the chunks from `from` to the end of the file or of the container;
// the callback returns false to stop. Chunks are padded to an even length.
template <typename F>
void WalkChunks(TBufferedFile& file, std::uint64_t from, std::uint64_t end, bool bigEndian, F&& visit) {
    std::uint64_t at = from;
    end = std::min(end, file.Size());
    for (int n = 0; n < kMaxChunks && at + kChunkHeaderSize <= end; ++n) {
        unsigned char h[kChunkHeaderSize];
        if (file.ReadAt(at, h, sizeof h) != sizeof h) return;
        TChunk c;
        std::memcpy(c.id, h, 4);
        c.size = bigEndian ? GetU32BE(h + 4) : GetU32LE(h + 4);
        c.body = at + kChunkHeaderSize;
        if (!visit(c)) return;
        at = c.body + c.size + (c.size & 1);
    }
}

std::string ReadBytes(TBufferedFile& file, std::uint64_t at, std::size_t n) {
    std::string out(n, '\0');
    out.resize(file.ReadAt(at, out.data(), n));
    return out;
}

// The 80-bit extended float of the AIFF sample rate.
double Extended80(const unsigned char* b) {
    const int exponent = ((b[0] & 0x7F) << 8) | b[1];
    const std::uint64_t mantissa = GetU64BE(b + 2);
    if (exponent == 0 && mantissa == 0) return 0;
    if (exponent == 0x7FFF) return 0;
    const double value = std::ldexp(double(mantissa), exponent - 16383 - 63);
    return (b[0] & 0x80) ? -value : value;
}

TFormatRead Finish(const TTagFields& tags, const TStreamProps& stream, std::uint64_t fileSize) {
    TFormatRead r;
    r.tags = tags;
    r.numbers = RecordNumbers(stream, fileSize);
    return r;
}

void SetStream(TStreamProps& s, std::int32_t channels, double rate, std::uint64_t frames, std::uint64_t audioBytes) {
    s.Channels = channels;
    s.SampleRate = rate > 0 && rate < 1e9 ? static_cast<std::int32_t>(rate) : 0;
    if (rate > 0) s.SetPlayingTime(double(frames) / rate);
    const double seconds = s.Seconds();
    s.BitRate = seconds > 0 ? RoundHalfEven(double(audioBytes) * 8 / seconds) : 0;
}

// AIFF and AIFC: "FORM", size, "AIFF" or "AIFC", then big-endian chunks.
// COMM: channels, frame count, bits per sample, the rate as an 80-bit float.
class TAiffFormat : public TAudioFormat {
public:
    std::string_view Name() const override { return "AIFF"; }
    std::vector<std::string_view> Extensions() const override { return {".AIF", ".AIFF", ".AIFC"}; }
    TMatch Recognise(const TFileHead& head) const override {
        const std::string_view s = head.Start();
        return s.size() >= 12 && s.substr(0, 4) == "FORM" && (s.substr(8, 4) == "AIFF" || s.substr(8, 4) == "AIFC")
                   ? TMatch::Magic
                   : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead&) const override {
        TStreamProps s;
        TID3v2 tags;
        bool common = false;
        WalkChunks(file, 12, UINT64_MAX, true, [&](const TChunk& c) {
            if (c.Is("COMM") && !common) {
                unsigned char b[18];
                if (file.ReadAt(c.body, b, sizeof b) != sizeof b) return false;
                common = true;
                const std::uint64_t frames = GetU32BE(b + 2);
                const int bits = GetU16BE(b + 6);
                const double rate = Extended80(b + 8);
                SetStream(s, GetU16BE(b), rate, frames, frames * GetU16BE(b) * std::uint64_t((bits + 7) / 8));
            } else if ((c.Is("ID3 ") || c.Is("id3 ")) && !tags.Exists) {
                tags.ReadAt(file, c.body);
            }
            return true;
        });
        if (!common) throw EReadError("the AIFF file has no COMM chunk");
        return Finish(tags, s, file.Size());
    }
    std::string Cover(TBufferedFile& file) const override {
        std::string picture;
        WalkChunks(file, 12, UINT64_MAX, true, [&](const TChunk& c) {
            if (c.Is("ID3 ") || c.Is("id3 ")) picture = Id3CoverAt(file, c.body);
            return picture.empty();
        });
        return picture;
    }
};

// WAV: "RIFF", size, "WAVE", then little-endian chunks. "fmt ": format,
// channels, sample rate, bytes per second; "data": the samples.
class TWavFormat : public TAudioFormat {
public:
    std::string_view Name() const override { return "WAV"; }
    std::vector<std::string_view> Extensions() const override { return {".WAV", ".WAVE"}; }
    TMatch Recognise(const TFileHead& head) const override {
        const std::string_view s = head.Start();
        return s.size() >= 12 && (s.substr(0, 4) == "RIFF" || s.substr(0, 4) == "RF64") && s.substr(8, 4) == "WAVE"
                   ? TMatch::Magic
                   : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead&) const override {
        TStreamProps s;
        TID3v2 id3;
        TTagFields info;
        bool format = false;
        std::uint32_t bytesPerSecond = 0;
        std::uint64_t dataBytes = 0;
        // RF64 (WAV over 4 GiB): the "ds64" chunk holds the 64-bit data size
        // that the "data" chunk marks as 0xFFFFFFFF.
        std::uint64_t dataBytes64 = 0;
        WalkChunks(file, 12, UINT64_MAX, false, [&](const TChunk& c) {
            if (c.Is("ds64")) {
                unsigned char b[16];
                if (file.ReadAt(c.body, b, sizeof b) == sizeof b) dataBytes64 = GetU64LE(b + 8);
                return true;
            }
            if (c.Is("fmt ") && !format) {
                unsigned char b[12];
                if (file.ReadAt(c.body, b, sizeof b) != sizeof b) return false;
                format = true;
                s.Channels = GetU16LE(b + 2);
                s.SampleRate = static_cast<std::int32_t>(GetU32LE(b + 4) & 0x7FFFFFFF);
                bytesPerSecond = GetU32LE(b + 8);
            } else if (c.Is("data")) {
                // A cut file, or one still being written, has less than it says.
                const std::uint64_t size = c.size == 0xFFFFFFFFu && dataBytes64 > 0 ? dataBytes64 : c.size;
                dataBytes = std::min(size, file.Size() - std::min(file.Size(), c.body));
                if (c.size == 0xFFFFFFFFu) return false;  // the chunk runs to the end
            } else if ((c.Is("id3 ") || c.Is("ID3 ")) && !id3.Exists) {
                id3.ReadAt(file, c.body);
            } else if (c.Is("LIST") && ReadBytes(file, c.body, 4) == "INFO") {
                ReadInfo(file, c, info);
            }
            return true;
        });
        if (!format) throw EReadError("the WAV file has no fmt chunk");
        if (bytesPerSecond > 0) {
            s.SetPlayingTime(double(dataBytes) / bytesPerSecond);
            s.BitRate = static_cast<std::int32_t>(std::min<std::uint64_t>(std::uint64_t(bytesPerSecond) * 8, INT32_MAX));
        }
        TTagFields tags = id3;
        for (std::string TTagFields::*f : {&TTagFields::Artist, &TTagFields::Title, &TTagFields::Album,
                                           &TTagFields::Year, &TTagFields::Comment, &TTagFields::Genre})
            if ((tags.*f).empty()) tags.*f = info.*f;
        if (tags.Track == 0) tags.Track = info.Track;
        return Finish(tags, s, file.Size());
    }
    std::string Cover(TBufferedFile& file) const override {
        std::string picture;
        WalkChunks(file, 12, UINT64_MAX, false, [&](const TChunk& c) {
            if (c.Is("id3 ") || c.Is("ID3 ")) picture = Id3CoverAt(file, c.body);
            return picture.empty();
        });
        return picture;
    }

private:
    // LIST/INFO: sub-chunks of zero-ended texts in no stated encoding.
    static void ReadInfo(TBufferedFile& file, const TChunk& list, TTagFields& info) {
        struct TInfoId {
            const char* id;
            std::string TTagFields::*field;
        };
        static const TInfoId kIds[] = {{"INAM", &TTagFields::Title},   {"IART", &TTagFields::Artist},
                                       {"IPRD", &TTagFields::Album},   {"ICRD", &TTagFields::Year},
                                       {"ICMT", &TTagFields::Comment}, {"IGNR", &TTagFields::Genre}};
        WalkChunks(file, list.body + 4, list.body + list.size, false, [&](const TChunk& c) {
            const bool track = c.Is("ITRK") || c.Is("IPRT");
            for (const TInfoId& id : kIds) {
                if (!c.Is(id.id)) continue;
                const std::string raw = ReadBytes(file, c.body, static_cast<std::size_t>(std::min<std::uint64_t>(c.size, kMaxInfoValue)));
                info.*id.field = Utf8OrLatin1(CutAtZero(raw));
            }
            if (track) info.Track = ParseTrackNumber(CutAtZero(ReadBytes(file, c.body, static_cast<std::size_t>(std::min<std::uint64_t>(c.size, 16)))));
            return true;
        });
    }
};

// DSF: "DSD " chunk (size 28: total size, offset of the ID3v2 tag), then
// "fmt ": version, format, channel type, channels (at 24), the DSD sample
// rate (at 28), bits, samples per channel (64 bits at 36).
class TDsfFormat : public TAudioFormat {
public:
    std::string_view Name() const override { return "DSF"; }
    std::vector<std::string_view> Extensions() const override { return {".DSF"}; }
    TMatch Recognise(const TFileHead& head) const override {
        const std::string_view s = head.Start();
        return s.size() >= 32 && s.substr(0, 4) == "DSD " && s.substr(28, 4) == "fmt " ? TMatch::Magic : TMatch::No;
    }
    TFormatRead Read(TBufferedFile& file, const TFileHead&) const override {
        unsigned char b[80];
        if (file.ReadAt(0, b, sizeof b) != sizeof b) throw EReadError("the DSF header is cut short");
        const std::uint64_t metadata = GetU64LE(b + 20);
        const unsigned char* fmt = b + 28;
        TStreamProps s;
        const std::uint64_t samples = GetU64LE(fmt + 36);
        SetStream(s, static_cast<std::int32_t>(GetU32LE(fmt + 24)), double(GetU32LE(fmt + 28)), samples,
                  file.Size());
        TID3v2 tags;
        if (metadata > 0 && metadata < file.Size()) tags.ReadAt(file, metadata);
        return Finish(tags, s, file.Size());
    }
    std::string Cover(TBufferedFile& file) const override {
        unsigned char b[28];
        if (file.ReadAt(0, b, sizeof b) != sizeof b) return {};
        const std::uint64_t metadata = GetU64LE(b + 20);
        return metadata > 0 && metadata < file.Size() ? Id3CoverAt(file, metadata) : std::string();
    }
};

}  // namespace

std::unique_ptr<TAudioFormat> MakeAiffFormat() { return std::make_unique<TAiffFormat>(); }
std::unique_ptr<TAudioFormat> MakeWavFormat() { return std::make_unique<TWavFormat>(); }
std::unique_ptr<TAudioFormat> MakeDsfFormat() { return std::make_unique<TDsfFormat>(); }
