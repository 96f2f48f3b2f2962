#pragma once
// Decodes LZX intervals with libmspack by wrapping them in a one-folder
// cabinet: a CAB folder resets the decoder only at its start, like a CHM
// reset interval, and each CFDATA block carries exactly one 32 KiB frame.
#include <mspack.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "chmwriter/lzx_compressor.h"

class TLzxTempDir {
public:
    TLzxTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orvalis-lzx-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) Path = tmpl;
    }
    ~TLzxTempDir() {
        std::error_code ec;
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
    TLzxTempDir(const TLzxTempDir&) = delete;
    TLzxTempDir& operator=(const TLzxTempDir&) = delete;
    std::filesystem::path Path;
};

inline void PutLe(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Cabinet with one folder of LZX type holding the interval and one file "data".
// Every block claims a whole frame, the last one too, as CHM readers expect
// it; the file covers the real input at the start of the folder.
inline std::vector<std::uint8_t> MakeLzxCabinet(const TLzxInterval& interval, std::size_t inputSize,
                                                unsigned windowBits) {
    const std::size_t frames = interval.FrameOffsets.size();
    const std::string name = "data";
    constexpr std::uint32_t kHeader = 36, kFolder = 8;
    const std::uint32_t fileEntry = 16 + static_cast<std::uint32_t>(name.size()) + 1;
    const std::uint32_t dataStart = kHeader + kFolder + fileEntry;
    const std::uint32_t total = dataStart + static_cast<std::uint32_t>(8 * frames + interval.Bytes.size());

    std::vector<std::uint8_t> cab;
    cab.reserve(total);
    PutLe(cab, 0x4643534D, 4);         // "MSCF"
    PutLe(cab, 0, 4);                  // reserved
    PutLe(cab, total, 4);              // cabinet size
    PutLe(cab, 0, 4);                  // reserved
    PutLe(cab, kHeader + kFolder, 4);  // first file entry
    PutLe(cab, 0, 4);                  // reserved
    cab.push_back(3);                  // version 1.3
    cab.push_back(1);
    PutLe(cab, 1, 2);       // folders
    PutLe(cab, 1, 2);       // files
    PutLe(cab, 0, 2);       // flags
    PutLe(cab, 0x4F52, 2);  // set id
    PutLe(cab, 0, 2);       // cabinet index

    PutLe(cab, dataStart, 4);
    PutLe(cab, static_cast<std::uint32_t>(frames), 2);
    PutLe(cab, 0x0003 | (windowBits << 8), 2);

    PutLe(cab, static_cast<std::uint32_t>(inputSize), 4);
    PutLe(cab, 0, 4);       // offset in folder
    PutLe(cab, 0, 2);       // folder index
    PutLe(cab, 0x5921, 2);  // date
    PutLe(cab, 0, 2);       // time
    PutLe(cab, 0x20, 2);    // archive attribute
    cab.insert(cab.end(), name.begin(), name.end());
    cab.push_back(0);

    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t from = interval.FrameOffsets[f];
        const std::size_t to = f + 1 < frames ? interval.FrameOffsets[f + 1] : interval.Bytes.size();
        PutLe(cab, 0, 4);  // no checksum
        PutLe(cab, static_cast<std::uint32_t>(to - from), 2);
        PutLe(cab, static_cast<std::uint32_t>(kLzxFrameSize), 2);
        cab.insert(cab.end(), interval.Bytes.begin() + static_cast<std::ptrdiff_t>(from),
                   interval.Bytes.begin() + static_cast<std::ptrdiff_t>(to));
    }
    return cab;
}

inline void WriteBinaryFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadBinaryFile(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The decoded file, or nothing when libmspack rejects the stream.
inline std::optional<std::vector<std::uint8_t>> DecodeCabinetWithMspack(std::span<const std::uint8_t> cab) {
    TLzxTempDir dir;
    // libmspack keeps the name pointer and reopens the cabinet to extract.
    const std::string cabPath = (dir.Path / "in.cab").string();
    const std::string outPath = (dir.Path / "out.bin").string();
    WriteBinaryFile(cabPath, cab);
    mscab_decompressor* cabd = mspack_create_cab_decompressor(nullptr);
    if (!cabd) return std::nullopt;
    std::optional<std::vector<std::uint8_t>> result;
    if (mscabd_cabinet* c = cabd->open(cabd, cabPath.c_str())) {
        if (c->files && cabd->extract(cabd, c->files, outPath.c_str()) == MSPACK_ERR_OK)
            result = ReadBinaryFile(outPath);
        cabd->close(cabd, c);
    }
    mspack_destroy_cab_decompressor(cabd);
    return result;
}

inline bool Have7z() {
    static const bool found = std::system("7z i >/dev/null 2>&1") == 0;
    return found;
}

// 7-Zip feeds its LZX decoder one CFDATA block at a time, so unlike libmspack
// it rejects a stream whose frame offsets are wrong.
inline std::optional<std::vector<std::uint8_t>> DecodeCabinetWith7z(std::span<const std::uint8_t> cab) {
    TLzxTempDir dir;
    const std::string cabPath = (dir.Path / "in.cab").string();
    const std::string outPath = (dir.Path / "out.bin").string();
    WriteBinaryFile(cabPath, cab);
    const std::string command = "7z x -so '" + cabPath + "' > '" + outPath + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return std::nullopt;
    return ReadBinaryFile(outPath);
}

inline std::optional<std::vector<std::uint8_t>> MspackRoundTrip(std::span<const std::uint8_t> input,
                                                                unsigned windowBits) {
    const TLzxInterval interval = CompressLzxInterval(input, windowBits);
    return DecodeCabinetWithMspack(MakeLzxCabinet(interval, input.size(), windowBits));
}

inline std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint64_t seed) {
    std::vector<std::uint8_t> out(n);
    std::uint64_t s = seed * 0x9E3779B97F4A7C15ull + 7;
    for (auto& b : out) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        b = static_cast<std::uint8_t>(s >> 32);
    }
    return out;
}
