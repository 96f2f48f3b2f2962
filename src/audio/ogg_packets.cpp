// Reassembles the packets of one Ogg stream across pages.
#include "audio/ogg_packets.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/buffered_file.h"
#include "base/byte_order.h"

namespace {

constexpr std::size_t kPageHeaderSize = 27;
constexpr std::size_t kGranuleOffset = 6;
constexpr std::size_t kSerialOffset = 14;
constexpr std::size_t kSegmentCountOffset = 26;
// A packet over this many pages is a broken or hostile file.
constexpr int kMaxPages = 1 << 16;

}  // namespace

TOggPackets::TOggPackets(TBufferedFile& file, std::uint64_t offset) : file_(file), nextPage_(offset) {}

bool TOggPackets::LoadPage(std::uint64_t at) {
    // Pages of other streams in a multiplexed file are passed over.
    for (; pages_ < kMaxPages; ++pages_) {
        unsigned char h[kPageHeaderSize];
        if (file_.ReadAt(at, h, sizeof h) != sizeof h || std::memcmp(h, "OggS", 4) != 0) return false;
        const unsigned count = h[kSegmentCountOffset];
        if (file_.ReadAt(at + kPageHeaderSize, lacing_, count) != count) return false;
        std::uint64_t body = 0;
        for (unsigned i = 0; i < count; ++i) body += lacing_[i];
        const std::uint32_t serial = GetU32LE(h + kSerialOffset);
        const std::uint64_t data = at + kPageHeaderSize + count;
        if (!haveSerial_) {
            serial_ = serial;
            haveSerial_ = true;
        }
        if (serial == serial_) {
            segments_ = count;
            segment_ = 0;
            data_ = data;
            left_ = count ? lacing_[0] : 0;
            nextPage_ = data + body;
            ++pages_;
            return true;
        }
        at = data + body;
    }
    return false;
}

bool TOggPackets::NextSegment() {
    if (segment_ < segments_ && lacing_[segment_] < 255) return false;  // the packet ended here
    ++segment_;
    while (segment_ >= segments_) {
        if (!LoadPage(nextPage_)) return false;
        if (segments_ > 0) break;
    }
    left_ = lacing_[segment_];
    return true;
}

bool TOggPackets::NextPacket() {
    if (!started_) {
        started_ = true;
        if (!LoadPage(nextPage_)) return false;
        while (segments_ == 0)
            if (!LoadPage(nextPage_)) return false;
        ended_ = false;
        return true;
    }
    Skip(UINT64_MAX);
    // The next packet starts with the segment after the one that ended
    // this one.
    ++segment_;
    while (segment_ >= segments_) {
        if (!LoadPage(nextPage_)) {
            ended_ = true;
            return false;
        }
        if (segments_ > 0) break;
    }
    left_ = lacing_[segment_];
    ended_ = false;
    return true;
}

std::uint64_t TOggPackets::Advance(unsigned char* out, std::uint64_t n) {
    std::uint64_t done = 0;
    while (done < n && !ended_) {
        if (left_ == 0) {
            if (!NextSegment()) {
                ended_ = true;
                break;
            }
            continue;
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, left_));
        const std::size_t got = out ? file_.ReadAt(data_, out + done, take) : take;
        done += got;
        data_ += got;
        left_ -= static_cast<unsigned>(got);
        if (got < take) {
            ended_ = true;  // the file ends inside the page
            break;
        }
    }
    return done;
}

std::size_t TOggPackets::Read(void* dst, std::size_t n) {
    return static_cast<std::size_t>(Advance(static_cast<unsigned char*>(dst), n));
}

std::uint64_t TOggPackets::Skip(std::uint64_t n) { return Advance(nullptr, n); }

std::string TOggPackets::ReadPacket(std::size_t limit) {
    std::string packet;
    char chunk[4096];
    while (packet.size() < limit) {
        const std::size_t got = Read(chunk, std::min(sizeof chunk, limit - packet.size()));
        if (got == 0) break;
        packet.append(chunk, got);
    }
    return packet;
}

std::int64_t LastGranule(TBufferedFile& file, std::uint32_t serial, std::uint64_t searchBytes) {
    const std::uint64_t size = file.Size();
    const std::uint64_t from = size > searchBytes ? size - searchBytes : 0;
    std::vector<unsigned char> tail(static_cast<std::size_t>(size - from));
    tail.resize(file.ReadAt(from, tail.data(), tail.size()));
    for (std::size_t i = tail.size() >= kPageHeaderSize ? tail.size() - kPageHeaderSize + 1 : 0; i-- > 0;) {
        if (std::memcmp(tail.data() + i, "OggS", 4) != 0) continue;
        if (GetU32LE(tail.data() + i + kSerialOffset) != serial) continue;
        const std::uint64_t granule = GetU64LE(tail.data() + i + kGranuleOffset);
        // -1 marks a page on which no packet ends.
        if (granule == UINT64_MAX) continue;
        return static_cast<std::int64_t>(granule & 0x7FFFFFFFFFFFFFFFULL);
    }
    return -1;
}
