#pragma once
// Small builders for the binary structures the audio readers take apart.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bytes {

inline std::string U8(unsigned v) { return std::string(1, static_cast<char>(v & 0xFF)); }
inline std::string U16BE(unsigned v) { return U8(v >> 8) + U8(v); }
inline std::string U16LE(unsigned v) { return U8(v) + U8(v >> 8); }
inline std::string U24BE(unsigned v) { return U8(v >> 16) + U8(v >> 8) + U8(v); }
inline std::string U32BE(std::uint32_t v) { return U16BE(v >> 16) + U16BE(v & 0xFFFF); }
inline std::string U32LE(std::uint32_t v) { return U16LE(v & 0xFFFF) + U16LE(v >> 16); }
inline std::string U64BE(std::uint64_t v) { return U32BE(std::uint32_t(v >> 32)) + U32BE(std::uint32_t(v)); }
inline std::string U64LE(std::uint64_t v) { return U32LE(std::uint32_t(v)) + U32LE(std::uint32_t(v >> 32)); }
inline std::string SyncSafe(std::uint32_t v) {
    return U8((v >> 21) & 0x7F) + U8((v >> 14) & 0x7F) + U8((v >> 7) & 0x7F) + U8(v & 0x7F);
}
inline std::string Zeros(std::size_t n) { return std::string(n, '\0'); }

// UTF-16 of an ASCII or Latin-1 text given as UTF-8 (enough for the tests),
// code units in the given byte order.
inline std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string out;
    for (char16_t c : text) out += bigEndian ? U16BE(c) : U16LE(c);
    return out;
}

// ---- ID3 ----

// A version 3 or 4 frame; version 4 sizes are sync-safe.
inline std::string Id3Frame(int version, std::string_view id, std::string_view body, unsigned flags = 0) {
    std::string size = version == 4 ? SyncSafe(std::uint32_t(body.size())) : U32BE(std::uint32_t(body.size()));
    return std::string(id) + size + U16BE(flags) + std::string(body);
}
inline std::string Id3Frame2(std::string_view id, std::string_view body) {
    return std::string(id) + U24BE(unsigned(body.size())) + std::string(body);
}
// The whole tag: header with sync-safe size, then the frames and padding.
inline std::string Id3Tag(int version, std::string_view frames, std::size_t padding = 0, unsigned flags = 0) {
    std::string body = std::string(frames) + Zeros(padding);
    return "ID3" + U8(version) + U8(0) + U8(flags) + SyncSafe(std::uint32_t(body.size())) + body;
}
// ID3v1(.1) tag of 128 bytes.
inline std::string Id3v1(std::string_view title, std::string_view artist, std::string_view album, std::string_view year,
                         std::string_view comment, int track, int genre) {
    auto field = [](std::string_view s, std::size_t n) {
        std::string f(s.substr(0, n));
        f.resize(n, '\0');
        return f;
    };
    std::string t = "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4);
    if (track > 0)
        t += field(comment, 28) + U8(0) + U8(unsigned(track));
    else
        t += field(comment, 30);
    return t + U8(unsigned(genre));
}

// ---- MPEG ----

// Frame header bytes: version 1, 2 or 3 (2.5), layer 1 to 3, bit-rate and
// sample-rate indexes, channel mode 0 to 3.
inline std::string MpegHeader(int version, int layer, int bitRateIndex, int sampleRateIndex, int mode,
                              bool padding = false) {
    unsigned v = version == 1 ? 3 : version == 2 ? 2 : 0;
    unsigned l = 4 - unsigned(layer);
    unsigned b1 = 0xE0 | (v << 3) | (l << 1) | 1;  // no CRC
    unsigned b2 = (unsigned(bitRateIndex) << 4) | (unsigned(sampleRateIndex) << 2) | (padding ? 2 : 0);
    unsigned b3 = unsigned(mode) << 6;
    return U8(0xFF) + U8(b1) + U8(b2) + U8(b3);
}
// count frames of MPEG-1 Layer III, 128 kbit/s, 44100 Hz, joint stereo (417 bytes each).
inline std::string MpegFrames(std::size_t count, int mode = 1) {
    std::string frame = MpegHeader(1, 3, 9, 0, mode) + std::string(413, '\x55');
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += frame;
    return out;
}
// A first frame carrying a Xing block at the side-information offset.
inline std::string XingFrame(std::uint32_t flags, std::uint32_t frames, std::uint32_t byteCount, int version = 1,
                             int mode = 1, const char* magic = "Xing") {
    std::string header = version == 1 ? MpegHeader(1, 3, 9, 0, mode) : MpegHeader(2, 3, 8, 0, mode);
    int side = version == 1 ? (mode == 3 ? 21 : 36) : (mode == 3 ? 13 : 21);
    std::string x = std::string(magic, 4) + U32BE(flags);
    if (flags & 1) x += U32BE(frames);
    if (flags & 2) x += U32BE(byteCount);
    if (flags & 4) x += std::string(100, '\x07');
    if (flags & 8) x += U32BE(50);
    std::string frame = header + Zeros(std::size_t(side) - 4) + x;
    int length = version == 1 ? 417 : 72 * 64000 / 22050;
    frame.resize(std::size_t(length), '\0');
    return frame;
}

// A first frame carrying a VBRI block 32 bytes after its header.
inline std::string VbriFrame(std::uint32_t frames, std::uint32_t byteCount) {
    std::string v = "VBRI" + U16BE(1) + U16BE(0) + U16BE(75) + U32BE(byteCount) + U32BE(frames) + U16BE(0) + U16BE(1) +
                    U16BE(2) + U16BE(1);
    std::string frame = MpegHeader(1, 3, 9, 0, 1) + Zeros(32) + v;
    frame.resize(417, '\0');
    return frame;
}

// ---- FLAC ----

inline std::string FlacBlock(int type, std::string_view body, bool last) {
    return U8((last ? 0x80 : 0) | unsigned(type)) + U24BE(unsigned(body.size())) + std::string(body);
}
inline std::string StreamInfo(std::uint32_t sampleRate, int channels, int bits, std::uint64_t samples) {
    std::uint64_t v = (std::uint64_t(sampleRate) << 44) | (std::uint64_t(channels - 1) << 41) |
                      (std::uint64_t(bits - 1) << 36) | (samples & 0xFFFFFFFFFULL);
    return U16BE(4096) + U16BE(4096) + U24BE(0) + U24BE(0) + U64BE(v) + Zeros(16);
}
inline std::string VorbisComments(const std::vector<std::string>& entries, std::string_view vendor = "test vendor") {
    std::string out = U32LE(std::uint32_t(vendor.size())) + std::string(vendor) + U32LE(std::uint32_t(entries.size()));
    for (const std::string& e : entries) out += U32LE(std::uint32_t(e.size())) + e;
    return out;
}
inline std::string FlacFile(std::uint32_t sampleRate, int channels, std::uint64_t samples,
                            const std::vector<std::string>& comments, std::size_t audioBytes = 100) {
    return "fLaC" + FlacBlock(0, StreamInfo(sampleRate, channels, 16, samples), false) +
           FlacBlock(4, VorbisComments(comments), false) + FlacBlock(1, Zeros(64), true) +
           std::string(audioBytes, '\x33');
}

// ---- Ogg Vorbis ----

inline std::string OggPage(std::string_view packet, std::uint64_t granule, std::uint32_t sequence,
                           unsigned headerType = 0) {
    std::string lacing;
    std::size_t left = packet.size();
    do {
        std::size_t n = left > 255 ? 255 : left;
        lacing += U8(unsigned(n));
        left -= n;
        if (n < 255) break;
    } while (true);
    return "OggS" + U8(0) + U8(headerType) + U64LE(granule) + U32LE(0x1234) + U32LE(sequence) + U32LE(0) +
           U8(unsigned(lacing.size())) + lacing + std::string(packet);
}
inline std::string VorbisIdent(int channels, std::uint32_t sampleRate, std::uint32_t nominal) {
    return "\x01vorbis" + U32LE(0) + U8(unsigned(channels)) + U32LE(sampleRate) + U32LE(0) + U32LE(nominal) + U32LE(0) +
           U8(0xB8) + U8(1);
}
inline std::string OggFile(const std::vector<std::string>& comments, std::uint64_t lastGranule,
                           std::size_t audioBytes = 2000, int channels = 2, std::uint32_t sampleRate = 44100,
                           std::uint32_t nominal = 128000) {
    std::string out = OggPage(VorbisIdent(channels, sampleRate, nominal), 0, 0, 2);
    out += OggPage("\x03vorbis" + VorbisComments(comments) + U8(1), 0, 1);
    out += OggPage(std::string(audioBytes, '\x44'), lastGranule, 2, 4);
    return out;
}

// ---- ASF (WMA) ----

// GUID in its stored form from the usual text groups.
inline std::string Guid(std::uint32_t a, std::uint16_t b, std::uint16_t c, std::uint64_t d) {
    std::string g = U32LE(a) + U16LE(b) + U16LE(c);
    for (int i = 7; i >= 0; --i) g += U8(unsigned(d >> (8 * i)));
    return g;
}
inline std::string AsfHeaderGuid() { return Guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6CULL); }
inline std::string AsfObject(const std::string& guid, std::string_view body) {
    return guid + U64LE(24 + body.size()) + std::string(body);
}
inline std::string AsfFileProperties(std::uint32_t maxBitRate) {
    std::string body = Zeros(76) + U32LE(maxBitRate);
    return AsfObject(Guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ULL), body);
}
inline std::string AsfStreamProperties(int channels, std::uint32_t sampleRate, std::uint32_t bytesPerSecond) {
    std::string body =
        Zeros(54) + U16LE(0x161) + U16LE(unsigned(channels)) + U32LE(sampleRate) + U32LE(bytesPerSecond) + Zeros(8);
    return AsfObject(Guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ULL), body);
}
inline std::string WideZ(std::u16string_view text) { return Utf16(text, false) + U16LE(0); }
inline std::string AsfContentDescription(std::u16string_view title, std::u16string_view author,
                                         std::u16string_view description) {
    std::string t = title.empty() ? "" : WideZ(title), a = author.empty() ? "" : WideZ(author);
    std::string c = WideZ(u"(c)"), d = description.empty() ? "" : WideZ(description);
    std::string body = U16LE(unsigned(t.size())) + U16LE(unsigned(a.size())) + U16LE(unsigned(c.size())) +
                       U16LE(unsigned(d.size())) + U16LE(0) + t + a + c + d;
    return AsfObject(Guid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6CULL), body);
}
struct AsfDescriptor {
    std::u16string name;
    int type;
    std::string value;  // raw value bytes
};
inline std::string AsfExtended(const std::vector<AsfDescriptor>& descriptors) {
    std::string body = U16LE(unsigned(descriptors.size()));
    for (const AsfDescriptor& d : descriptors) {
        std::string name = WideZ(d.name);
        body +=
            U16LE(unsigned(name.size())) + name + U16LE(unsigned(d.type)) + U16LE(unsigned(d.value.size())) + d.value;
    }
    return AsfObject(Guid(0xD2D0A440, 0xE307, 0x11D2, 0x97F000A0C95EA850ULL), body);
}
// Each string may hold several objects; the header counts them all.
inline std::string AsfFile(const std::vector<std::string>& objects, std::size_t dataBytes = 1000) {
    std::string body;
    for (const std::string& o : objects) body += o;
    std::uint32_t count = 0;
    for (std::size_t p = 0; p + 24 <= body.size(); ++count) {
        std::uint64_t size = 0;
        for (int i = 7; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(body[p + 16 + std::size_t(i)]);
        if (size < 24) break;
        p += size;
    }
    std::string header = AsfHeaderGuid() + U64LE(30 + body.size()) + U32LE(count) + U8(1) + U8(2) + body;
    return header + std::string(dataBytes, '\x66');
}

// ---- MP4 atoms ----

inline std::string Atom(std::string_view type, std::string_view body) {
    return U32BE(std::uint32_t(8 + body.size())) + std::string(type) + std::string(body);
}
inline std::string Mvhd(std::uint32_t timeScale, std::uint64_t duration, int version = 0) {
    if (version == 1)
        return Atom("mvhd", U8(1) + Zeros(3) + Zeros(16) + U32BE(timeScale) + U64BE(duration) + Zeros(80));
    return Atom("mvhd", U8(0) + Zeros(3) + Zeros(8) + U32BE(timeScale) + U32BE(std::uint32_t(duration)) + Zeros(80));
}
// channelConfig >= 0 adds the decoder's own configuration (AAC LC, 44100 Hz).
inline std::string Esds(std::uint32_t averageBitRate, int channelConfig = -1) {
    // Descriptor lengths in the four-byte form iTunes writes.
    std::string decoderConfig = U8(0x40) + U8(0x15) + U24BE(0) + U32BE(averageBitRate + 1000) + U32BE(averageBitRate);
    if (channelConfig >= 0)
        decoderConfig +=
            U8(0x05) + "\x80\x80\x80" + U8(2) + U16BE((2u << 11) | (4u << 7) | (unsigned(channelConfig) << 3));
    std::string es = U16BE(1) + U8(0) + U8(0x04) + "\x80\x80\x80" + U8(unsigned(decoderConfig.size())) + decoderConfig;
    return Atom("esds", Zeros(4) + U8(0x03) + "\x80\x80\x80" + U8(unsigned(es.size())) + es);
}
inline std::string SampleEntry(std::string_view type, int channels, unsigned sampleRate, std::string_view children) {
    return Atom(type, Zeros(6) + U16BE(1) + Zeros(8) + U16BE(unsigned(channels)) + U16BE(16) + Zeros(4) +
                          U16BE(sampleRate) + U16BE(0) + std::string(children));
}
inline std::string AudioTrak(std::string_view sampleEntry, std::string_view extraInTrak = "") {
    std::string stsd = Atom("stsd", Zeros(4) + U32BE(1) + std::string(sampleEntry));
    std::string stbl = Atom("stbl", stsd);
    std::string minf = Atom("minf", Atom("smhd", Zeros(8)) + Atom("dinf", Zeros(8)) + stbl);
    std::string mdia = Atom("mdia", Atom("mdhd", Zeros(24)) + Atom("hdlr", Zeros(25)) + minf);
    return Atom("trak", Atom("tkhd", Zeros(84)) + std::string(extraInTrak) + mdia);
}
// A track whose handler names its kind ("soun", "vide").
inline std::string MediaTrak(std::string_view handler, std::string_view sampleEntry) {
    std::string stsd = Atom("stsd", Zeros(4) + U32BE(1) + std::string(sampleEntry));
    std::string minf = Atom("minf", Atom("dinf", Zeros(8)) + Atom("stbl", stsd));
    std::string hdlr = Atom("hdlr", Zeros(8) + std::string(handler) + Zeros(13));
    return Atom("trak", Atom("tkhd", Zeros(84)) + Atom("mdia", Atom("mdhd", Zeros(24)) + hdlr + minf));
}
inline std::string DataItem(std::string_view type, int dataType, std::string_view value) {
    return Atom(type, Atom("data", U32BE(unsigned(dataType)) + Zeros(4) + std::string(value)));
}
inline std::string Udta(std::string_view items) {
    return Atom("udta", Atom("meta", Zeros(4) + Atom("hdlr", Zeros(25)) + Atom("ilst", items)));
}
inline std::string Ftyp(std::string_view brand, std::string_view compatible = "") {
    return Atom("ftyp", std::string(brand) + U32BE(0) + std::string(compatible));
}

}  // namespace bytes
