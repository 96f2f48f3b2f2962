#pragma once
// MPEG audio stream properties: the frame header and the analyser that finds
// the first frame and works out playing time and bit rate.
#include <array>
#include <cstdint>
#include <string>

#include "audio/id3.h"
#include "audio/stream_props.h"

class TBinaryReader;
class TBufferedFile;

struct TMpegFrameHdr {
    std::array<std::uint8_t, 4> Bytes{};
    bool Valid = false;
    std::int32_t Version = 0;      // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5, 0 reserved
    std::int32_t Layer = 0;        // 1, 2, 3, 0 reserved
    std::int32_t BitRate = 0;      // the header's table value in kbit/s, -1 when not available, 0 free format
    std::int32_t SampleRate = 0;   // Hz, -1 when not available
    std::int32_t FrameLength = 0;  // bytes, padding included

    int ChannelMode() const { return Bytes[3] >> 6; }  // 0 stereo, 1 joint, 2 dual, 3 mono
    bool Mono() const { return ChannelMode() == 3; }
    int Padding() const { return (Bytes[2] >> 1) & 1; }
    int BitRateIndex() const { return Bytes[2] >> 4; }
    int SampleRateIndex() const { return (Bytes[2] >> 2) & 3; }
    int SamplesPerFrame() const;

    // Decodes 4 bytes; false when fewer are available or the header is not valid.
    bool Parse(const std::uint8_t* bytes, std::int64_t available);
    // Smallest position from `from` on where a valid header with its sync
    // bytes starts; -1 when there is none.
    int Find(const std::uint8_t* buffer, int count, int from = 0);
};

// The stream values (TStreamProps) come from the first frame header and,
// when the first frame carries one, the Xing/Info or VBRI block: playing
// time from its frame count, bit rate from its byte count (Xing, VBRI) or
// from the frames (Info, constant bit rate).
class TAudInfo : public TStreamProps {
public:
    // Analyses the whole file; raises EOSError when it cannot be opened. A
    // blank path only resets the values.
    void ReadFromFile(const std::string& path);
    void ReadFrom(TBufferedFile& file);
    // Analyses count bytes from the reader's position (at most what is left).
    void Analyse(TBinaryReader& stream, std::uint64_t count);

    TMpegFrameHdr Header;
    std::int64_t FirstFrame = -1;  // from the start of the analysed range
    bool VBR = false;              // a "Xing" or "VBRI" header was found
    bool XingFound = false;        // a "Xing" or "Info" header was found
    std::uint32_t XingFlags = 0, XingFrames = 0, XingBytes = 0, XingQuality = 0;
    std::array<std::uint8_t, 100> XingTOC{};
    bool VBRIFound = false;  // a "VBRI" header was found, and no Xing header
    std::uint32_t VBRIFrames = 0, VBRIBytes = 0;
    std::int64_t FrameCount = -1;
    std::int64_t AudioBytes = -1;
    std::int32_t MaxScan = 10240;  // bytes after the ID3v2 tag searched for the first frame

    TID3v1Tag ID3v1;
    TID3v2Tag ID3v2;

private:
    // The bytes analysed: count of them from start in the file.
    struct TRange {
        TBufferedFile& file;
        std::uint64_t start;
        std::int64_t count;
    };

    void Reset();
    void FindFirstFrame(const TRange& range, std::int64_t from);
    bool ReadXingHeader(const TRange& range);
    bool ReadVbriHeader(const TRange& range);
    // Playing time and bit rate from a frame and a byte count.
    void FromFrameCount(const TRange& range, std::uint32_t frames, std::uint32_t bytes);
    std::int32_t ConstantBitRate(const TRange& range) const;  // kbit/s
    void ReadTrailingTag(TBinaryReader& stream, const TRange& range);
    void FromConstantBitRate();
};
