#include <gtest/gtest.h>

#include <cmath>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/mpeg.h"
#include "byte_builders.h"
#include "test_util.h"

using namespace bytes;

namespace {

TAudInfo Analyse(const std::string& content) {
    TempDir dir;
    TAudInfo info;
    info.ReadFromFile(dir.Write("s.mp3", content));
    return info;
}

TMpegFrameHdr Header(const std::string& b) {
    TMpegFrameHdr h;
    h.Parse(reinterpret_cast<const std::uint8_t*>(b.data()), 4);
    return h;
}

// An ID3v2 tag of exactly total bytes that holds a frame.
std::string TagOfSize(std::size_t total) {
    std::string frame = Id3Frame(3, "TIT2", U8(0) + "Title");
    return Id3Tag(3, frame, total - 10 - frame.size());
}

}  // namespace

TEST(MpegHeader, DecodesTablesAndFrameLengths) {
    TMpegFrameHdr h = Header(MpegHeader(1, 3, 9, 0, 1));
    EXPECT_TRUE(h.Valid);
    EXPECT_EQ(h.Version, 1);
    EXPECT_EQ(h.Layer, 3);
    EXPECT_EQ(h.BitRate, 128);
    EXPECT_EQ(h.SampleRate, 44100);
    EXPECT_EQ(h.FrameLength, 417);
    EXPECT_EQ(h.ChannelMode(), 1);
    EXPECT_EQ(Header(MpegHeader(1, 3, 9, 0, 1, true)).FrameLength, 418);
    EXPECT_EQ(Header(MpegHeader(1, 1, 12, 1, 0, true)).FrameLength, 48 * 384000 / 48000 + 4);
    EXPECT_EQ(Header(MpegHeader(1, 2, 8, 2, 0)).FrameLength, 144 * 128000 / 32000);
    TMpegFrameHdr lsf = Header(MpegHeader(2, 3, 8, 0, 3));
    EXPECT_EQ(lsf.SampleRate, 22050);
    EXPECT_EQ(lsf.BitRate, 64);
    EXPECT_EQ(lsf.FrameLength, 72 * 64000 / 22050);
    TMpegFrameHdr v25 = Header(MpegHeader(3, 3, 1, 2, 3));
    EXPECT_EQ(v25.Version, 3);
    EXPECT_EQ(v25.SampleRate, 8000);
    EXPECT_EQ(v25.BitRate, 8);
    EXPECT_EQ(Header(MpegHeader(2, 1, 14, 0, 0)).BitRate, 256);
    TMpegFrameHdr free = Header(MpegHeader(1, 3, 0, 0, 0));
    EXPECT_TRUE(free.Valid);
    EXPECT_EQ(free.FrameLength, 4);
}

TEST(MpegHeader, Validation) {
    EXPECT_FALSE(Header(MpegHeader(1, 2, 1, 0, 0)).Valid);   // Layer II 32 kbit/s stereo
    EXPECT_TRUE(Header(MpegHeader(1, 2, 1, 0, 3)).Valid);    // ... mono
    EXPECT_FALSE(Header(MpegHeader(1, 2, 14, 0, 3)).Valid);  // Layer II 384 kbit/s mono
    EXPECT_TRUE(Header(MpegHeader(2, 2, 4, 0, 0)).Valid);    // the rule is MPEG-1 only
    EXPECT_FALSE(Header(MpegHeader(1, 3, 9, 3, 0)).Valid);   // sample-rate index 3
    EXPECT_FALSE(Header(MpegHeader(1, 3, 15, 0, 0)).Valid);  // bit-rate index 15
    std::string reservedVersion = MpegHeader(1, 3, 9, 0, 0);
    reservedVersion[1] = static_cast<char>((reservedVersion[1] & ~0x18) | 0x08);
    EXPECT_FALSE(Header(reservedVersion).Valid);
    TMpegFrameHdr h;
    EXPECT_FALSE(h.Parse(reinterpret_cast<const std::uint8_t*>("\xFF\xFB\x90"), 3));
}

TEST(MpegStream, ConstantBitRateAfterTagWithId3v1) {
    std::string audio = MpegFrames(2400).substr(0, 1000000);
    std::string file = TagOfSize(4096) + audio + Id3v1("T", "A", "B", "2000", "", 1, 1);
    TAudInfo info = Analyse(file);
    const std::int64_t count = static_cast<std::int64_t>(file.size());
    EXPECT_EQ(info.FirstFrame, 4096);
    EXPECT_TRUE(info.ID3v1.Exists);
    EXPECT_EQ(info.AudioBytes, count - 4096 - 128);
    EXPECT_EQ(info.BitRate, 128000);
    EXPECT_EQ(info.Duration, RoundHalfEven(double(info.AudioBytes) * 8 / 128000 * 1000));
    EXPECT_EQ(info.FrameCount, info.AudioBytes / 417);
    EXPECT_FALSE(info.VBR);

    TAudInfo bare = Analyse(audio);
    EXPECT_EQ(bare.FirstFrame, 0);
    EXPECT_EQ(bare.AudioBytes, 1000000);
}

TEST(MpegStream, XingHeaderGivesDurationAndBitRate) {
    std::string rest = MpegFrames(1200).substr(0, 500000);
    TAudInfo info = Analyse(XingFrame(3, 1000, 500000) + rest);
    EXPECT_TRUE(info.VBR);
    EXPECT_EQ(info.XingFrames, 1000u);
    EXPECT_EQ(info.Duration, 26122);
    EXPECT_EQ(info.BitRate, 153128);
    EXPECT_EQ(info.AudioBytes, 500000);
    EXPECT_EQ(info.FrameCount, 1000);

    // MPEG-2 Layer III at 22050 Hz: half the samples at half the rate.
    std::string lsfRest;
    while (lsfRest.size() < 500000) lsfRest += MpegHeader(2, 3, 8, 0, 1) + std::string(204, '\x55');
    TAudInfo lsf = Analyse(XingFrame(3, 1000, 500000, 2) + lsfRest);
    EXPECT_TRUE(lsf.VBR);
    EXPECT_EQ(lsf.Duration, 26122);

    TAudInfo noBytes = Analyse(XingFrame(1, 1000, 0) + rest);
    EXPECT_EQ(noBytes.Duration, 26122);
    EXPECT_EQ(noBytes.BitRate, 0);
}

TEST(MpegStream, VbriHeaderGivesDurationAndBitRate) {
    std::string rest = MpegFrames(1200).substr(0, 500000);
    TAudInfo info = Analyse(VbriFrame(1000, 500000) + rest);
    EXPECT_TRUE(info.VBR);
    EXPECT_TRUE(info.VBRIFound);
    EXPECT_FALSE(info.XingFound);
    EXPECT_EQ(info.Duration, 26122);
    EXPECT_EQ(info.BitRate, 153128);
    EXPECT_EQ(info.AudioBytes, 500000);
    // Cut after half its bytes: half the playing time.
    TAudInfo cut = Analyse(VbriFrame(1000, 500000) + rest.substr(0, 250000 - 417));
    EXPECT_EQ(cut.Duration, 13061);
    EXPECT_EQ(cut.FrameCount, 500);
}

TEST(MpegStream, TruncatedXingFileIsScaled) {
    std::string first = XingFrame(3, 1000, 500000);
    std::string rest = MpegFrames(700).substr(0, 250000 - first.size());
    TAudInfo info = Analyse(first + rest);
    EXPECT_EQ(info.Duration, RoundHalfEven(0.5 * 26122));
    EXPECT_EQ(info.FrameCount, 500);
    EXPECT_EQ(info.AudioBytes, 250000);  // what is there after the first frame
}

TEST(MpegStream, InfoHeaderOfConstantBitRateFilesIsUsed) {
    // The first frame is written at a higher bit rate to hold the block;
    // the frame count, not that bit rate, gives the playing time.
    std::string first = XingFrame(3, 100, 100 * 417, 1, 1, "Info");
    first.replace(0, 4, MpegHeader(1, 3, 11, 0, 1));  // 192 kbit/s: 626 bytes
    first.resize(626, '\0');
    TAudInfo info = Analyse(first + MpegFrames(99));
    EXPECT_EQ(info.Header.BitRate, 192);
    EXPECT_FALSE(info.VBR);
    EXPECT_EQ(info.Duration, RoundHalfEven(1152.0 / 44100 * 100 * 1000));
}

TEST(MpegStream, InfoHeaderBitRateIsTheFramesRate) {
    // As encoders write it: the byte count includes the Info frame, the frame
    // count does not, so an average from the two comes out at 129 kbit/s.
    TAudInfo info = Analyse(XingFrame(3, 100, 101 * 417, 1, 1, "Info") + MpegFrames(100));
    EXPECT_TRUE(info.XingFound);
    EXPECT_EQ(info.BitRate, 128000);
    EXPECT_EQ(info.Duration, RoundHalfEven(1152.0 / 44100 * 100 * 1000));

    // An Info frame of a higher rate than the stream: the stream's counts.
    std::string first = XingFrame(3, 100, 100 * 417 + 626, 1, 1, "Info");
    first.replace(0, 4, MpegHeader(1, 3, 11, 0, 1));
    first.resize(626, '\0');
    EXPECT_EQ(Analyse(first + MpegFrames(100)).BitRate, 128000);
    // A lone Info frame: its own rate.
    EXPECT_EQ(Analyse(first + std::string(200, '\0')).BitRate, 192000);
}

TEST(MpegStream, SearchLimitsAndFalseSyncs) {
    TAudInfo far = Analyse(TagOfSize(2000) + std::string(10300, '\0') + MpegFrames(10));
    EXPECT_FALSE(far.Header.Valid);
    EXPECT_EQ(far.Duration, 0);
    EXPECT_EQ(far.BitRate, 0);

    // A sync pattern whose follower is no header is passed over, and the real
    // frame later in the same window is found.
    std::string junk = MpegHeader(1, 3, 9, 0, 1) + std::string(30, '\x11');
    TAudInfo skipped = Analyse(junk + MpegFrames(20));
    EXPECT_TRUE(skipped.Header.Valid);
    EXPECT_EQ(skipped.FirstFrame, static_cast<std::int64_t>(junk.size()));

    // A tag of nothing but padding is not skipped, the search runs through it.
    std::string padded = Id3Tag(3, "", 3000);
    TAudInfo throughPadding = Analyse(padded + MpegFrames(20));
    EXPECT_EQ(throughPadding.ID3v2.TotalSize(), 0);
    EXPECT_EQ(throughPadding.FirstFrame, static_cast<std::int64_t>(padded.size()));
}

TEST(MpegStream, EmptyAndTinyInputs) {
    TAudInfo empty = Analyse("");
    EXPECT_EQ(empty.FirstFrame, -1);
    EXPECT_EQ(empty.Duration, 0);
    TAudInfo single = Analyse(MpegFrames(1));
    EXPECT_TRUE(single.Header.Valid);  // a lone frame has no follower to confirm it
    EXPECT_EQ(single.FirstFrame, 0);
    TAudInfo blank;
    blank.ReadFromFile("  ");
    EXPECT_EQ(blank.Duration, 0);
    TempDir dir;
    EXPECT_THROW(TAudInfo().ReadFromFile(dir / "missing.mp3"), EOSError);
}
