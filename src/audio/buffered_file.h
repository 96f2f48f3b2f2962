#pragma once
// The one way the audio readers touch a file: opened once, read through a few
// small cached blocks (head, tail, one moving block), never past its end.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TBufferedFile {
public:
    static constexpr std::size_t kBlockSize = 4096;

    // Opens the file read-only; raises EOSError "Cannot open file %s" when it
    // cannot be opened or is not a regular file.
    explicit TBufferedFile(const std::string& path);
    ~TBufferedFile();
    TBufferedFile(const TBufferedFile&) = delete;
    TBufferedFile& operator=(const TBufferedFile&) = delete;

    const std::string& Path() const { return path_; }
    std::uint64_t Size() const { return size_; }

    // Copies up to n bytes from offset into dst and returns how many were
    // copied: fewer at the end of the file, 0 at or after it.
    std::size_t ReadAt(std::uint64_t offset, void* dst, std::size_t n);

    // What was fetched from the operating system so far.
    std::uint64_t BytesFetched() const { return bytesFetched_; }
    std::uint64_t FetchCount() const { return fetchCount_; }

private:
    struct Block {
        std::uint64_t start = 0;
        std::size_t length = 0;  // 0: empty
        std::uint64_t lastUse = 0;
        std::array<unsigned char, kBlockSize> data;
    };

    std::size_t Fetch(std::uint64_t offset, void* dst, std::size_t n);
    Block& Load(std::uint64_t offset, std::size_t n);

    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t useClock_ = 0;
    std::uint64_t bytesFetched_ = 0;
    std::uint64_t fetchCount_ = 0;
    std::array<Block, 3> blocks_;
};

// A cursor over a TBufferedFile with little- and big-endian integer reads.
// Whether a read that meets the end of the file raises EReadError or yields
// zero bytes for the missing part is chosen per reader, as the formats differ.
class TBinaryReader {
public:
    enum class TEndPolicy { Raise, ZeroFill };

    explicit TBinaryReader(TBufferedFile& file, TEndPolicy policy = TEndPolicy::Raise) : file_(file), policy_(policy) {}

    TBufferedFile& File() { return file_; }
    std::uint64_t Size() const { return file_.Size(); }
    std::uint64_t Position() const { return pos_; }
    std::uint64_t Remaining() const { return pos_ < file_.Size() ? file_.Size() - pos_ : 0; }
    bool AtEnd() const { return pos_ >= file_.Size(); }
    void Seek(std::uint64_t pos) { pos_ = pos; }
    // Saturates instead of wrapping, so a huge size just moves past the end.
    void Skip(std::uint64_t n) { pos_ = (n > UINT64_MAX - pos_) ? UINT64_MAX : pos_ + n; }

    // Up to n bytes, fewer at the end; the position advances by the count read.
    std::size_t ReadSome(void* dst, std::size_t n);
    // Exactly n bytes under the reader's end policy; the position advances by n.
    void Read(void* dst, std::size_t n);
    std::string ReadString(std::size_t n);

    std::uint8_t U8();
    std::uint16_t U16LE();
    std::uint16_t U16BE();
    std::uint32_t U32LE();
    std::uint32_t U32BE();
    std::uint64_t U64LE();
    std::uint64_t U64BE();

private:
    TBufferedFile& file_;
    TEndPolicy policy_;
    std::uint64_t pos_ = 0;
};
