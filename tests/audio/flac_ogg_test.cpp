#include <gtest/gtest.h>

#include "audio/audio_info.h"
#include "audio/flac.h"
#include "audio/ogg_vorbis.h"
#include "byte_builders.h"
#include "test_util.h"

using namespace bytes;

namespace {

TFlacFile ReadFlac(const std::string& content) {
    TempDir dir;
    TFlacFile flac;
    flac.ReadFromFile(dir.Write("f.flac", content));
    return flac;
}

TOggVorbis ReadOgg(const std::string& content) {
    TempDir dir;
    TOggVorbis ogg;
    ogg.ReadFromFile(dir.Write("o.ogg", content));
    return ogg;
}

}  // namespace

TEST(Flac, StreamInfoAndComments) {
    TFlacFile f = ReadFlac(FlacFile(44100, 2, 441000,
                                    {"artist=Foo", "ARTIST=Bar", "Title=Caf\xC3\xA9", "ALBUM=Al", "DATE=2001-02-03",
                                     "GENRE=Jazz", "COMMENT=Nice", "TRACK=5", "OTHER=x"}));
    EXPECT_TRUE(f.HasComments);
    EXPECT_EQ(f.SampleRate, 44100);
    EXPECT_EQ(f.Channels, 2);
    EXPECT_EQ(f.BitsPerSample, 16);
    EXPECT_EQ(f.Samples, 441000u);
    EXPECT_EQ(f.Duration, 10000);
    EXPECT_EQ(f.Artist, "Foo");  // the first of two, names in any case
    EXPECT_EQ(f.Title, "Caf\xC3\xA9");
    EXPECT_EQ(f.Album, "Al");
    EXPECT_EQ(f.Year, "2001-02-03");
    EXPECT_EQ(f.Genre, "Jazz");
    EXPECT_EQ(f.Comment, "Nice");
    EXPECT_EQ(f.Track, 5);
    EXPECT_EQ(ReadFlac(FlacFile(44100, 2, 440999, {})).Duration, 9999);
}

TEST(Flac, TrackNumbersNeverFailTheFile) {
    EXPECT_EQ(ReadFlac(FlacFile(44100, 2, 100, {"TRACKNUMBER=5"})).Track, 5);
    EXPECT_EQ(ReadFlac(FlacFile(44100, 2, 100, {"TRACK=7", "TRACKNUMBER=5"})).Track, 7);
    EXPECT_EQ(ReadFlac(FlacFile(44100, 2, 100, {"TRACK=5/12"})).Track, 5);
    EXPECT_EQ(ReadFlac(FlacFile(44100, 2, 100, {"TRACK=five"})).Track, 0);
    EXPECT_EQ(ReadFlac(FlacFile(0, 2, 100, {})).Duration, 0);  // sample rate 0: unknown
}

TEST(Flac, NotFlacAndCorruptComments) {
    TempDir dir;
    TFlacFile f;
    EXPECT_FALSE(f.ReadFromFile(dir.Write("x.flac", "RIFF....")));
    EXPECT_EQ(f.SampleRate, 0);
    EXPECT_THROW(f.ReadFromFile(dir / "missing.flac"), EOSError);

    // An entry count far beyond the block, and an entry longer than the file.
    std::string comments = U32LE(0) + U32LE(0xFFFFFFFF) + U32LE(9) + "TITLE=One" + U32LE(0x7FFFFFFF) + "ARTIST=x";
    std::string file = "fLaC" + FlacBlock(0, StreamInfo(8000, 1, 16, 8000), false) + FlacBlock(4, comments, true);
    TFlacFile corrupt = ReadFlac(file);
    EXPECT_EQ(corrupt.Title, "One");
    EXPECT_EQ(corrupt.Duration, 1000);
}

TEST(Flac, WalkEndsWhereBlocksStopMakingSense) {
    const std::string streamInfo = FlacBlock(0, StreamInfo(44100, 2, 16, 441000), false);
    // A picture block that declares no data while its data follows: the next
    // header read lies inside the picture, where a STREAMINFO may appear.
    std::string picture = FlacBlock(0, StreamInfo(300164, 1, 16, 0xFFFFFFFFFULL), false) + std::string(300, '\x7F');
    TFlacFile f = ReadFlac("fLaC" + streamInfo + U8(6) + U24BE(0) + picture +
                           FlacBlock(4, VorbisComments({"TITLE=Late"}), true) + std::string(100, '\x33'));
    EXPECT_EQ(f.SampleRate, 44100);
    EXPECT_EQ(f.Channels, 2);
    EXPECT_EQ(f.Duration, 10000);

    // A block longer than the rest of the file ends the metadata.
    std::string tooLong = "fLaC" + streamInfo + U8(0x84) + U24BE(0xFFFFFF) + VorbisComments({"TITLE=Cut"});
    TFlacFile cut = ReadFlac(tooLong);
    EXPECT_EQ(cut.SampleRate, 44100);
    EXPECT_FALSE(cut.HasComments);
    EXPECT_EQ(cut.Title, "");
}

TEST(Ogg, IdentificationCommentsAndLastPage) {
    TOggVorbis o = ReadOgg(OggFile({"TITLE=Song", "artist=Band", "ALBUM=Record", "DATE=2012", "GENRE=Folk",
                                    "COMMENT=Fine", "TRACKNUMBER=3/12", "PERFORMER=Other"},
                                   441000));
    EXPECT_EQ(o.Channels, 2);
    EXPECT_EQ(o.SampleRate, 44100);
    EXPECT_EQ(o.BitRateNominal, 128);
    EXPECT_EQ(o.Samples, 441000);
    EXPECT_EQ(o.Duration, 10000);
    EXPECT_EQ(o.BitRate, RoundHalfEven(double(o.FileSize) * 8 / 10));
    EXPECT_EQ(o.Title, "Song");
    EXPECT_EQ(o.Artist, "Band");
    EXPECT_EQ(o.Album, "Record");
    EXPECT_EQ(o.Year, "2012");
    EXPECT_EQ(o.Genre, "Folk");
    EXPECT_EQ(o.Comment, "Fine");
    EXPECT_EQ(o.Track, 3);
    EXPECT_EQ(o.Vendor, "test vendor");

    EXPECT_EQ(ReadOgg(OggFile({"PERFORMER=A"}, 1)).Artist, "A");
    EXPECT_EQ(ReadOgg(OggFile({"DESCRIPTION=D"}, 1)).Comment, "D");
    EXPECT_EQ(ReadOgg(OggFile({"TRACKNUMBER=300"}, 1)).Track, 44);
}

TEST(Ogg, LongCommentIsCutAndNextStillRead) {
    std::string longValue = "TITLE=" + std::string(394, 't');
    TOggVorbis o = ReadOgg(OggFile({longValue, "ARTIST=After"}, 1));
    EXPECT_EQ(o.Title, std::string(244, 't'));  // 250 bytes, name included
    EXPECT_EQ(o.Artist, "After");
    // A value that is not UTF-8 is ISO-8859-1, as older taggers wrote it.
    EXPECT_EQ(ReadOgg(OggFile({"ALBUM=ab\xC3(cd"}, 1)).Album, "ab\xC3\x83(cd");
    EXPECT_EQ(ReadOgg(OggFile({"ARTIST=Beyonc\xE9"}, 1)).Artist, "Beyonc\xC3\xA9");
    // A UTF-8 sequence cut by the 250-byte limit is dropped, not misread.
    const std::string accents = "TITLE=" + std::string(243, 'a') + "\xC3\xA9";
    EXPECT_EQ(ReadOgg(OggFile({accents}, 1)).Title, std::string(243, 'a'));
}

TEST(Ogg, LeadingId3TagWithFooter) {
    std::string tag = Id3Tag(4, Id3Frame(4, "TIT2", U8(0) + "X"), 100, 0x10);
    tag += "3DI" + tag.substr(3, 7);
    TOggVorbis o = ReadOgg(tag + OggFile({"TITLE=T"}, 88200, 2000));
    EXPECT_EQ(o.ID3v2Size, static_cast<std::int64_t>(tag.size()));
    EXPECT_EQ(o.Title, "T");
}

TEST(Ogg, LeadingId3TagAndFallbackDuration) {
    std::string frame = Id3Frame(3, "TIT2", U8(0) + "X");
    std::string tag = Id3Tag(3, frame, 1024 - 10 - frame.size());
    ASSERT_EQ(tag.size(), 1024u);
    std::string stream = OggFile({"TITLE=T"}, 88200, 2000);
    TOggVorbis o = ReadOgg(tag + stream);
    EXPECT_EQ(o.ID3v2Size, 1024);
    EXPECT_EQ(o.Title, "T");
    EXPECT_EQ(o.BitRate, RoundHalfEven(double(stream.size()) * 8 / 2));

    // The last page more than 12 060 bytes before the end: estimate from the
    // nominal bit rate.
    std::string far = OggFile({"TITLE=T"}, 88200, 100) + std::string(13000, '\x01');
    TOggVorbis f = ReadOgg(far);
    EXPECT_EQ(f.Samples, 0);
    EXPECT_EQ(f.Duration, MillisecondsOf(double(far.size()) / 128 / 2 / 125 * 2));

    TOggVorbis tiny = ReadOgg(OggFile({}, 5, 0));
    EXPECT_EQ(tiny.Samples, 5);
}

TEST(Ogg, NotOgg) {
    TempDir dir;
    TOggVorbis o;
    EXPECT_FALSE(o.ReadFromFile(dir.Write("a.ogg", "OggS but nothing else")));
    EXPECT_FALSE(o.ReadFromFile(dir.Write("b.ogg", "")));
    std::string noIdent = OggFile({}, 1);
    noIdent[29] = 'X';
    EXPECT_FALSE(o.ReadFromFile(dir.Write("c.ogg", noIdent)));
    EXPECT_EQ(o.SampleRate, 0);
    EXPECT_THROW(o.ReadFromFile(dir / "missing.ogg"), EOSError);
}
