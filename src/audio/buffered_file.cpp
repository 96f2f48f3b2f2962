// Bounded, block-cached reads of one file for the audio readers.
#include "audio/buffered_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "audio/audio_info.h"
#include "base/byte_order.h"
#include "base/language.h"

namespace {

[[noreturn]] void RaiseCannotOpen(const std::string& path) {
    std::string message = Translate("Cannot open file %s");
    std::size_t at = message.find("%s");
    if (at != std::string::npos) message.replace(at, 2, path);
    throw EOSError(message);
}

}  // namespace

TBufferedFile::TBufferedFile(const std::string& path) : path_(path) {
    // Non-blocking open so that a fifo given by name cannot hang the reader;
    // anything but a regular file is refused right after.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) RaiseCannotOpen(path);
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        RaiseCannotOpen(path);
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
}

TBufferedFile::~TBufferedFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::size_t TBufferedFile::Fetch(std::uint64_t offset, void* dst, std::size_t n) {
    auto* out = static_cast<unsigned char*>(dst);
    std::size_t done = 0;
    ++fetchCount_;
    while (done < n) {
        ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // end of file or an I/O error: deliver what we have
        done += static_cast<std::size_t>(got);
    }
    bytesFetched_ += done;
    return done;
}

TBufferedFile::Block& TBufferedFile::Load(std::uint64_t offset, std::size_t n) {
    // An empty block first, otherwise the least recently used one.
    Block* victim = &blocks_[0];
    Block* latest = nullptr;
    for (Block& b : blocks_) {
        if (b.lastUse < victim->lastUse) victim = &b;
        if (b.length != 0 && (!latest || b.lastUse > latest->lastUse)) latest = &b;
    }
    // Place the block in the direction the reader is moving: forward from the
    // request, backward (ending at the request) when it walks toward the
    // start, and always within the file.
    std::uint64_t start = offset;
    if (latest && offset < latest->start) start = (offset + n > kBlockSize) ? offset + n - kBlockSize : 0;
    if (start + kBlockSize > size_) start = size_ > kBlockSize ? size_ - kBlockSize : 0;
    if (start > offset) start = offset;
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, size_ - start));
    victim->start = start;
    victim->length = Fetch(start, victim->data.data(), want);
    return *victim;
}

std::size_t TBufferedFile::ReadAt(std::uint64_t offset, void* dst, std::size_t n) {
    if (offset >= size_ || n == 0) return 0;
    if (n > size_ - offset) n = static_cast<std::size_t>(size_ - offset);
    for (Block& b : blocks_) {
        if (b.length != 0 && offset >= b.start && offset + n <= b.start + b.length) {
            b.lastUse = ++useClock_;
            std::memcpy(dst, b.data.data() + (offset - b.start), n);
            return n;
        }
    }
    if (n > kBlockSize) return Fetch(offset, dst, n);
    Block& b = Load(offset, n);
    b.lastUse = ++useClock_;
    if (offset < b.start || offset >= b.start + b.length) return 0;
    std::size_t avail = static_cast<std::size_t>(b.start + b.length - offset);
    if (n > avail) n = avail;  // the file shrank or failed under us
    std::memcpy(dst, b.data.data() + (offset - b.start), n);
    return n;
}

std::size_t TBinaryReader::ReadSome(void* dst, std::size_t n) {
    std::size_t got = file_.ReadAt(pos_, dst, n);
    pos_ += got;
    return got;
}

void TBinaryReader::Read(void* dst, std::size_t n) {
    std::size_t got = file_.ReadAt(pos_, dst, n);
    if (got < n) {
        if (policy_ == TEndPolicy::Raise) throw EReadError(Translate("Read beyond end of file"));
        std::memset(static_cast<unsigned char*>(dst) + got, 0, n - got);
    }
    Skip(n);
}

std::string TBinaryReader::ReadString(std::size_t n) {
    std::string s(n, '\0');
    if (n) Read(s.data(), n);
    return s;
}

std::uint8_t TBinaryReader::U8() {
    unsigned char b[1];
    Read(b, 1);
    return b[0];
}

std::uint16_t TBinaryReader::U16LE() {
    unsigned char b[2];
    Read(b, 2);
    return GetU16LE(b);
}

std::uint16_t TBinaryReader::U16BE() {
    unsigned char b[2];
    Read(b, 2);
    return GetU16BE(b);
}

std::uint32_t TBinaryReader::U32LE() {
    unsigned char b[4];
    Read(b, 4);
    return GetU32LE(b);
}

std::uint32_t TBinaryReader::U32BE() {
    unsigned char b[4];
    Read(b, 4);
    return GetU32BE(b);
}

std::uint64_t TBinaryReader::U64LE() {
    unsigned char b[8];
    Read(b, 8);
    return GetU64LE(b);
}

std::uint64_t TBinaryReader::U64BE() {
    unsigned char b[8];
    Read(b, 8);
    return GetU64BE(b);
}
