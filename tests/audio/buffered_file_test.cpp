#include <gtest/gtest.h>
#include <sys/stat.h>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "test_util.h"

TEST(BufferedFile, ReadsNeverPassTheEnd) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 20000; ++i) content += static_cast<char>(i * 7);
    TBufferedFile file(dir.Write("f.bin", content));
    EXPECT_EQ(file.Size(), content.size());
    char buf[9000];
    // Forward, backward, straddling blocks, larger than a block, at and past the end.
    for (std::uint64_t at : {0ull, 4090ull, 19990ull, 8000ull, 100ull, 12000ull, 19999ull}) {
        for (std::size_t n : {std::size_t(1), std::size_t(16), std::size_t(5000), std::size_t(9000)}) {
            std::size_t got = file.ReadAt(at, buf, n);
            ASSERT_EQ(got, std::min<std::uint64_t>(n, content.size() - at)) << at << " " << n;
            ASSERT_EQ(std::string(buf, got), content.substr(at, got)) << at << " " << n;
        }
    }
    EXPECT_EQ(file.ReadAt(20000, buf, 1), 0u);
    EXPECT_EQ(file.ReadAt(UINT64_MAX - 2, buf, 8), 0u);

    TBinaryReader raise(file);
    raise.Seek(19998);
    EXPECT_EQ(raise.U16LE(), static_cast<std::uint16_t>((content[19998] & 0xFF) | ((content[19999] & 0xFF) << 8)));
    EXPECT_THROW(raise.U8(), EReadError);
    TBinaryReader zeros(file, TBinaryReader::TEndPolicy::ZeroFill);
    zeros.Seek(19999);
    EXPECT_EQ(zeros.U32BE(), std::uint32_t(static_cast<unsigned char>(content[19999])) << 24);
    EXPECT_EQ(zeros.Position(), 20003u);
    zeros.Skip(UINT64_MAX);
    EXPECT_TRUE(zeros.AtEnd());
}

TEST(BufferedFile, SmallReadsAreServedFromFewBlocks) {
    TempDir dir;
    TBufferedFile file(dir.Write("f.bin", std::string(100000, 'x')));
    char buf[256];
    for (std::uint64_t at = 0; at < 3000; at += 128) file.ReadAt(at, buf, 128);
    for (int w = 1; w <= 50; ++w) file.ReadAt(100000 - 241 * w - 10, buf, 251);  // a backward search
    EXPECT_LE(file.FetchCount(), 6u);
    EXPECT_LE(file.BytesFetched(), 6u * TBufferedFile::kBlockSize);
}

TEST(BufferedFile, RefusesWhatIsNoRegularFile) {
    TempDir dir;
    EXPECT_THROW(TBufferedFile(dir / "missing"), EOSError);
    EXPECT_THROW(TBufferedFile(dir.Path()), EOSError);
    std::string fifo = dir / "fifo.mp3";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(TBufferedFile{fifo}, EOSError);  // and does not block
    try {
        TBufferedFile f(dir / "missing");
    } catch (const EOSError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + dir / "missing");
    }
}
