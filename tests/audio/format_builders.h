#pragma once
// Byte builders for the formats beyond the first five: APEv2 tags, WavPack,
// Monkey's Audio, Musepack, TrueAudio, AIFF, WAV, DSF, Opus, Speex and FLAC
// in Ogg. Only what the readers look at is filled in.
#include <string>
#include <vector>

#include "byte_builders.h"

namespace bytes {

// ---- builders for the formats beyond the first five ----

inline std::string ApeItem(std::string_view key, std::string_view value, std::uint32_t flags = 0) {
    return U32LE(std::uint32_t(value.size())) + U32LE(flags) + std::string(key) + '\0' + std::string(value);
}
inline std::string ApeTag(const std::vector<std::string>& items) {
    std::string body;
    for (const std::string& i : items) body += i;
    auto frame = [&](std::uint32_t flags) {
        return "APETAGEX" + U32LE(2000) + U32LE(std::uint32_t(body.size() + 32)) + U32LE(std::uint32_t(items.size())) +
               U32LE(flags) + Zeros(8);
    };
    return frame(0xA0000000u) + body + frame(0x80000000u);
}
inline std::vector<std::string> ApeTexts(std::string_view title) {
    return {ApeItem("Title", title), ApeItem("ARTIST", "Ape Artist"), ApeItem("Album", "Ape Album"),
            ApeItem("Track", "4/9"), ApeItem("Year", "2001")};
}

inline std::string WavPackFile(std::uint32_t samples, std::size_t audio = 4000) {
    // Rate index 9 (44 100 Hz) in bits 23 to 26 of the flags, stereo.
    std::string block = "wvpk" + U32LE(std::uint32_t(audio + 24)) + U16LE(0x410) + U8(0) + U8(0) + U32LE(samples) +
                        U32LE(0) + U32LE(samples) + U32LE(9u << 23) + U32LE(0);
    return block + std::string(audio, '\x11');
}
inline std::string MonkeysFile(std::uint32_t frames, std::uint32_t finalBlocks) {
    std::string descriptor = "MAC " + U16LE(3990) + U16LE(0) + U32LE(52) + U32LE(24) + Zeros(36);
    std::string header = U16LE(2000) + U16LE(0) + U32LE(73728 * 4) + U32LE(finalBlocks) + U32LE(frames) + U16LE(16) +
                         U16LE(2) + U32LE(44100);
    return descriptor + header + std::string(3000, '\x22');
}
inline std::string MusepackSv7File(std::uint32_t frames) {
    return "MP+" + U8(0x17) + U32LE(frames) + U32LE(1u << 16) + std::string(3000, '\x33');  // 48 kHz
}
inline std::string MusepackSv8File(std::uint8_t samples, std::uint8_t silence) {
    // "SH": size 11 (key, size byte, checksum, version, two counts, rate/bands, channels).
    std::string sh = "SH" + U8(11) + U32LE(0) + U8(8) + U8(samples) + U8(silence) + U8(0 << 5) + U8(0 << 4);
    return "MPCK" + sh + "SE" + U8(3) + std::string(2000, '\x33');
}
inline std::string TrueAudioFile(std::uint32_t samples) {
    return "TTA1" + U16LE(1) + U16LE(2) + U16LE(16) + U32LE(44100) + U32LE(samples) + U32LE(0) +
           std::string(3000, '\x44');
}

// An 80-bit extended float of a whole rate.
inline std::string Extended80(std::uint32_t rate) {
    int exponent = 16383 + 31;
    std::uint64_t mantissa = std::uint64_t(rate) << 32;
    while (!(mantissa & (1ULL << 63))) {
        mantissa <<= 1;
        --exponent;
    }
    return U16BE(unsigned(exponent)) + U64BE(mantissa);
}
inline std::string AiffFile(std::uint32_t frames, std::string_view id3, bool aifc = false) {
    std::string comm = U16BE(2) + U32BE(frames) + U16BE(16) + Extended80(44100);
    if (aifc) comm += "NONE" + U8(0) + U8(0);
    std::string chunks = "COMM" + U32BE(std::uint32_t(comm.size())) + comm;
    std::string ssnd = Zeros(8) + std::string(frames * 4, '\x01');
    chunks += "SSND" + U32BE(std::uint32_t(ssnd.size())) + ssnd;
    if (!id3.empty()) chunks += "ID3 " + U32BE(std::uint32_t(id3.size())) + std::string(id3) + (id3.size() % 2 ? U8(0) : "");
    return "FORM" + U32BE(std::uint32_t(chunks.size() + 4)) + (aifc ? "AIFC" : "AIFF") + chunks;
}
inline std::string RiffChunk(std::string_view id, std::string_view body) {
    return std::string(id) + U32LE(std::uint32_t(body.size())) + std::string(body) + (body.size() % 2 ? U8(0) : "");
}
inline std::string WavFile(std::uint32_t dataBytes, std::string_view extraChunks) {
    std::string fmt = U16LE(1) + U16LE(2) + U32LE(44100) + U32LE(176400) + U16LE(4) + U16LE(16);
    std::string chunks = RiffChunk("fmt ", fmt) + RiffChunk("data", std::string(dataBytes, '\x02')) +
                         std::string(extraChunks);
    return "RIFF" + U32LE(std::uint32_t(chunks.size() + 4)) + "WAVE" + chunks;
}
inline std::string DsfFile(std::uint64_t samples, std::string_view id3) {
    const std::string audio(4096, '\x69');
    const std::uint64_t fmtEnd = 28 + 52;
    const std::uint64_t dataSize = 12 + audio.size();
    const std::uint64_t tagAt = id3.empty() ? 0 : fmtEnd + dataSize;
    const std::uint64_t total = fmtEnd + dataSize + id3.size();
    std::string out = "DSD " + U64LE(28) + U64LE(total) + U64LE(tagAt);
    out += "fmt " + U64LE(52) + U32LE(1) + U32LE(0) + U32LE(2) + U32LE(2) + U32LE(2822400) + U32LE(1) +
           U64LE(samples) + U32LE(4096) + U32LE(0);
    out += "data" + U64LE(dataSize) + audio + std::string(id3);
    return out;
}
inline std::string OpusHead(int channels, unsigned preSkip) {
    return "OpusHead" + U8(1) + U8(unsigned(channels)) + U16LE(preSkip) + U32LE(44100) + U16LE(0) + U8(0);
}
inline std::string OggStream(const std::vector<std::string>& headers, std::uint64_t granule) {
    std::string out;
    std::uint32_t seq = 0;
    for (const std::string& h : headers) {
        out += OggPage(h, 0, seq, seq == 0 ? 2 : 0);
        ++seq;
    }
    return out + OggPage(std::string(3000, '\x55'), granule, seq, 4);
}
inline std::string OggFlacHead(std::uint32_t rate, std::uint64_t samples) {
    return "\x7F" "FLAC" + U8(1) + U8(0) + U16BE(1) + "fLaC" + FlacBlock(0, StreamInfo(rate, 2, 16, samples), false);
}
inline std::string Id3Texts(std::string_view title, std::string_view artist) {
    return Id3Tag(3, Id3Frame(3, "TIT2", U8(0) + std::string(title)) + Id3Frame(3, "TPE1", U8(0) + std::string(artist)));
}


}  // namespace bytes
