#pragma once
// The packets of one logical Ogg stream, read across page boundaries: a
// comment packet with a large picture or long lyrics runs over many pages.
#include <cstdint>
#include <string>

#include "audio/vorbis_comment.h"

class TBufferedFile;

class TOggPackets : public TByteSource {
public:
    // The stream whose first page starts at offset.
    TOggPackets(TBufferedFile& file, std::uint64_t offset);

    // Moves to the start of the next packet (the first one on the first
    // call); false when the stream ends or its pages are broken.
    bool NextPacket();
    // Within the current packet: fewer bytes only at its end.
    std::size_t Read(void* dst, std::size_t n) override;
    std::uint64_t Skip(std::uint64_t n) override;
    // Up to limit bytes of the current packet, from where the reading stands.
    std::string ReadPacket(std::size_t limit);

    std::uint32_t Serial() const { return serial_; }
    // Where the page after the one being read starts.
    std::uint64_t NextPageOffset() const { return nextPage_; }

private:
    bool LoadPage(std::uint64_t at);
    // Moves to the next segment of the packet; false at the packet's end.
    bool NextSegment();
    // Moves over up to n bytes of the packet, copying them to out unless it
    // is null; fewer only at the packet's end or the file's.
    std::uint64_t Advance(unsigned char* out, std::uint64_t n);

    TBufferedFile& file_;
    std::uint64_t nextPage_;
    std::uint32_t serial_ = 0;
    bool haveSerial_ = false;
    unsigned char lacing_[255] = {};
    unsigned segments_ = 0;
    unsigned segment_ = 0;    // index of the current segment
    std::uint64_t data_ = 0;  // file offset of the current segment's next byte
    unsigned left_ = 0;       // bytes left in the current segment
    bool started_ = false;
    bool ended_ = true;       // the current packet has ended
    int pages_ = 0;
};

// The granule position of the last page of the stream with this serial,
// found within the last bytes of the file; -1 when there is none.
std::int64_t LastGranule(TBufferedFile& file, std::uint32_t serial, std::uint64_t searchBytes = 1u << 16);
