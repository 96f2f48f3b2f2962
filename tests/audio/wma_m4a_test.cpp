#include <gtest/gtest.h>

#include <chrono>

#include "audio/audio_info.h"
#include "audio/m4a.h"
#include "audio/wma.h"
#include "byte_builders.h"
#include "test_util.h"

using namespace bytes;

namespace {

TWMAfile ReadWma(const std::string& content) {
    TempDir dir;
    TWMAfile wma;
    EXPECT_TRUE(wma.ReadFromFile(dir.Write("w.wma", content)));
    return wma;
}

std::string StreamObjects(std::uint32_t maxBitRate = 128000, int channels = 2) {
    return AsfFileProperties(maxBitRate) + AsfStreamProperties(channels, 44100, 16000);
}

TM4AFile ReadM4a(const std::string& content) {
    TempDir dir;
    TM4AFile m4a;
    m4a.ReadFromFile(dir.Write("m.m4a", content));
    return m4a;
}

std::string AacTrak(int channels = 2, unsigned rate = 44100, std::uint32_t bitRate = 128000) {
    return AudioTrak(SampleEntry("mp4a", channels, rate, Esds(bitRate)));
}

std::string Items() {
    return DataItem("\xA9nam", 1, "Title") +
           DataItem(
               "\xA9"
               "ART",
               1, "Art\xC3\xA9") +
           DataItem(
               "\xA9"
               "alb",
               1, "Album") +
           DataItem(
               "\xA9"
               "cmt",
               1, "Comment") +
           DataItem(
               "\xA9"
               "day",
               1, "2007") +
           DataItem("gnre", 0, U16BE(18)) + DataItem("trkn", 0, U32BE(4) + U16BE(12) + U16BE(0)) +
           DataItem("trck", 1, "x");
}

}  // namespace

TEST(Wma, ReadsPropertiesAndTags) {
    std::string file = AsfFile({StreamObjects(), AsfContentDescription(u"Title", u"Author", u"Description"),
                                AsfExtended({{u"WM/AlbumTitle", 0, WideZ(u"Album")},
                                             {u"WM/TrackNumber", 3, U32LE(9)},
                                             {u"WM/Year", 0, WideZ(u"2003")},
                                             {u" wm/genre ", 0, WideZ(u"Pop")},
                                             {u"WM/Track", 0, WideZ(u"7")}})});
    TWMAfile w = ReadWma(file);
    ASSERT_TRUE(w.Valid);
    EXPECT_EQ(w.Channels, 2);
    EXPECT_EQ(w.SampleRate, 44100);
    EXPECT_EQ(w.BitRate, 128000);
    EXPECT_EQ(w.Duration, MillisecondsOf(double(file.size()) * 8 / 128000));
    EXPECT_EQ(w.Title, "Title");
    EXPECT_EQ(w.Artist, "Author");
    EXPECT_EQ(w.Comment, "Description");
    EXPECT_EQ(w.Album, "Album");
    EXPECT_EQ(w.Year, "2003");
    EXPECT_EQ(w.Genre, "Pop");
    EXPECT_EQ(w.Track, 7);  // "WM/Track" wins over "WM/TrackNumber"

    TWMAfile numberOnly = ReadWma(AsfFile({StreamObjects(), AsfExtended({{u"WM/TrackNumber", 3, U32LE(9)}})}));
    EXPECT_EQ(numberOnly.Track, 9);
}

TEST(Wma, TagsAlwaysStreamValuesWhenTheyFitTogether) {
    // Above the old limits of 320 kbit/s and 40 000 bytes/s, as WMA Pro and
    // WMA Lossless files are.
    std::string pro = AsfFile(
        {AsfFileProperties(384000), AsfStreamProperties(6, 48000, 48000), AsfContentDescription(u"T", u"A", u"")});
    TWMAfile fast = ReadWma(pro);
    EXPECT_TRUE(fast.Valid);
    EXPECT_EQ(fast.Title, "T");
    EXPECT_EQ(fast.Channels, 6);
    EXPECT_EQ(fast.SampleRate, 48000);
    EXPECT_EQ(fast.BitRate, 384000);
    EXPECT_EQ(fast.Duration, MillisecondsOf(double(pro.size()) * 8 / 384000));
    TWMAfile lossless = ReadWma(AsfFile({AsfFileProperties(192426), AsfStreamProperties(2, 44100, 144000)}));
    EXPECT_TRUE(lossless.Valid);
    EXPECT_EQ(lossless.BitRate, 1152000);

    // Values that cannot describe one stream: no stream values, tags kept.
    for (const std::string& stream :
         {AsfStreamProperties(0, 44100, 16000), AsfStreamProperties(2, 1000, 16000),
          AsfStreamProperties(2, 8000, 8000 * 2 * 4 + 1), AsfStreamProperties(2, 44100, 0)}) {
        TWMAfile w = ReadWma(AsfFile({AsfFileProperties(128000), stream, AsfContentDescription(u"Kept", u"", u"")}));
        EXPECT_FALSE(w.Valid);
        EXPECT_EQ(w.SampleRate, 0);
        EXPECT_EQ(w.Duration, 0);
        EXPECT_EQ(w.Title, "Kept");
    }
    // Without a maximum bit rate the playing time is unknown, the rest stays.
    TWMAfile noMax = ReadWma(AsfFile({AsfFileProperties(0), AsfStreamProperties(2, 44100, 16000)}));
    EXPECT_TRUE(noMax.Valid);
    EXPECT_EQ(noMax.Duration, 0);
    EXPECT_EQ(noMax.SampleRate, 44100);
}

TEST(Wma, TrackNumberWithTotal) {
    auto track = [](const std::string& value) {
        return ReadWma(AsfFile({StreamObjects(), AsfExtended({{u"WM/TrackNumber", 0, value}})})).Track;
    };
    EXPECT_EQ(track(WideZ(u"6/15")), 6);
    EXPECT_EQ(track(WideZ(u" 6 ")), 6);
    EXPECT_EQ(track(WideZ(u"six")), 0);
    EXPECT_EQ(track(WideZ(u"99999999999")), 0);
}

TEST(Wma, DurationTitleLimitAndCorruptHeaders) {
    std::u16string longTitle(300, u'x');
    std::string file = AsfFile({StreamObjects(), AsfContentDescription(longTitle, u"A", u"")}, 0);
    file += std::string(4000000 - file.size(), '\0');
    TWMAfile w = ReadWma(file);
    EXPECT_EQ(w.Duration, 250000);
    EXPECT_EQ(w.Title, std::string(250, 'x'));

    // An object count beyond the objects present ends at the header's end.
    std::string extraCount = AsfFile({StreamObjects()});
    extraCount[24] = '\x50';
    EXPECT_TRUE(ReadWma(extraCount).Valid);
    // A zero-sized object cannot hold the walk.
    std::string zeroSize = AsfFile({AsfObject(Guid(1, 2, 3, 4), ""), StreamObjects()});
    zeroSize.replace(30 + 16, 8, U64LE(0));
    ReadWma(zeroSize);

    // A size that wraps round to an earlier object cannot send the walk in
    // circles through a count of four billion objects.
    std::string loop = AsfHeaderGuid() + U64LE(1000) + U32LE(0xFFFFFFFF) + U8(1) + U8(2) +
                       AsfObject(Guid(1, 2, 3, 4), "") + Guid(5, 6, 7, 8) + U64LE(0 - 24ULL);
    loop.resize(1000, '\0');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadWma(loop).Valid);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);

    TempDir dir;
    TWMAfile cut;
    EXPECT_FALSE(cut.ReadFromFile(dir.Write("cut.wma", AsfFile({StreamObjects()}).substr(0, 60))));
    EXPECT_FALSE(cut.ReadFromFile(dir / "missing.wma"));
}

TEST(M4a, WalksTheAtomTreeWhereverThingsAre) {
    std::string moov = Atom("moov", Mvhd(44100, 44100 * 30) + AacTrak() + Udta(Items()));
    std::string mdat = Atom("mdat", std::string(5000, '\x21'));
    for (const std::string& file : {Ftyp("M4A ") + moov + mdat, Ftyp("M4A ") + Atom("free", "") + mdat + moov}) {
        TM4AFile m = ReadM4a(file);
        EXPECT_EQ(m.Duration, 30000);
        EXPECT_EQ(m.Channels, 2);
        EXPECT_EQ(m.SampleRate, 44100);
        EXPECT_EQ(m.BitRate, 128000);
        EXPECT_TRUE(m.HasTags());
        EXPECT_EQ(m.Title, "Title");
        EXPECT_EQ(m.Artist, "Art\xC3\xA9");
        EXPECT_EQ(m.Album, "Album");
        EXPECT_EQ(m.Comment, "Comment");
        EXPECT_EQ(m.Year, "2007");
        EXPECT_EQ(m.Genre, "Rock");
        EXPECT_EQ(m.Track, 4);
    }
    // edts inside trak, other brands.
    std::string withEdts =
        Atom("moov", Mvhd(1000, 5000) + AudioTrak(SampleEntry("mp4a", 1, 22050, Esds(64000)), Atom("edts", Zeros(20))));
    for (const char* brand : {"M4B ", "mp42", "isom"}) {
        TM4AFile m = ReadM4a(Ftyp(brand) + withEdts);
        EXPECT_EQ(m.SampleRate, 22050) << brand;
        EXPECT_EQ(m.Channels, 1) << brand;
        EXPECT_EQ(m.BitRate, 64000) << brand;
        EXPECT_FALSE(m.HasTags());
    }
    // The decoder configuration tells the real channel count.
    std::string mono = Atom("moov", Mvhd(1000, 5000) + AudioTrak(SampleEntry("mp4a", 2, 44100, Esds(64000, 1))));
    EXPECT_EQ(ReadM4a(Ftyp("M4A ") + mono).Channels, 1);
    // Any brand, for a file with an audio track.
    TM4AFile quickTime = ReadM4a(Ftyp("qt  ") + withEdts);
    EXPECT_EQ(quickTime.Duration, 5000);
    EXPECT_EQ(quickTime.SampleRate, 22050);
}

TEST(M4a, AnyAudioSampleEntryGivesChannelsAndRate) {
    const std::string mdat = Atom("mdat", std::string(10000, '\x21'));
    auto read = [&](const std::string& brand, const std::string& traks) {
        return ReadM4a(Ftyp(brand) + mdat + Atom("moov", Mvhd(1000, 4000) + traks));
    };
    const std::string btrt = Atom("btrt", U32BE(0) + U32BE(448000) + U32BE(384000));
    TM4AFile ac3 = read("isom", MediaTrak("soun", SampleEntry("ac-3", 2, 48000, Atom("dac3", "\x10\x11\x00") + btrt)));
    EXPECT_EQ(ac3.Channels, 2);
    EXPECT_EQ(ac3.SampleRate, 48000);
    EXPECT_EQ(ac3.BitRate, 384000);

    // Dolby entries say 2 channels whatever they hold; their configuration tells.
    auto dolby = [&](const char* type, const char* config, const std::string& bits) {
        return read("mp41", MediaTrak("soun", SampleEntry(type, 1, 48000, Atom(config, bits)))).Channels;
    };
    EXPECT_EQ(dolby("ac-3", "dac3", "\x50\x3D\x40"), 6);  // mode 7 (3/2) and LFE
    EXPECT_EQ(dolby("ec-3", "dec3", std::string("\x06\x00\x20\x04\x00", 5)), 2);
    EXPECT_EQ(dolby("ec-3", "dec3", std::string("\x06\x00\x20\x02\x00", 5)), 1);
    EXPECT_EQ(dolby("ec-3", "dec3", "\x06"), 1);  // too short to say: the entry's count

    // No bit rate stated: the media data over the playing time.
    TM4AFile opus = read("iso6", MediaTrak("soun", SampleEntry("Opus", 1, 48000, Atom("dOps", Zeros(11)))));
    EXPECT_EQ(opus.Channels, 1);
    EXPECT_EQ(opus.SampleRate, 48000);
    EXPECT_EQ(opus.BitRate, 20000);

    // FLAC above 65 535 Hz: the rate comes from the STREAMINFO in "dfLa".
    std::string dfla = Atom("dfLa", Zeros(4) + U8(0x80) + U24BE(34) + StreamInfo(96000, 6, 24, 96000));
    TM4AFile flac = read("isom", MediaTrak("soun", SampleEntry("fLaC", 2, 0, dfla)));
    EXPECT_EQ(flac.SampleRate, 96000);
    EXPECT_EQ(flac.Channels, 6);

    // The first audio track counts, after a video track; a handler that says
    // sound is enough for an unknown entry type.
    std::string video = MediaTrak("vide", SampleEntry("avc1", 0, 0, ""));
    TM4AFile second = read("mp42", video + MediaTrak("soun", SampleEntry("ec-3", 2, 44100, "")));
    EXPECT_EQ(second.SampleRate, 44100);
    EXPECT_EQ(read("isom", MediaTrak("soun", SampleEntry("newc", 1, 32000, ""))).SampleRate, 32000);

    // A brand not ours and no audio track: nothing is read.
    TM4AFile film = read("qt  ", video);
    EXPECT_EQ(film.Duration, 0);
    EXPECT_EQ(film.SampleRate, 0);
}

TEST(M4a, AppleLosslessAndGenres) {
    std::string cookie = Atom("alac", Zeros(4) + U32BE(4096) + U8(0) + U8(16) + U8(40) + U8(10) + U8(14) + U8(2) +
                                          U16BE(255) + U32BE(0) + U32BE(900000) + U32BE(96000));
    TM4AFile alac =
        ReadM4a(Ftyp("M4A ") + Atom("moov", Mvhd(96000, 96000 * 10) + AudioTrak(SampleEntry("alac", 2, 0, cookie))));
    EXPECT_EQ(alac.Channels, 2);
    EXPECT_EQ(alac.SampleRate, 96000);
    EXPECT_EQ(alac.BitRate, 900000);

    auto genreOf = [](const std::string& items) {
        return ReadM4a(Ftyp("M4A ") + Atom("moov", Mvhd(1, 1) + Udta(items))).Genre;
    };
    EXPECT_EQ(genreOf(DataItem("gnre", 1, "Shoegaze")), "Shoegaze");
    EXPECT_EQ(genreOf(DataItem("\xA9gen", 1, "Dream Pop")), "Dream Pop");
    EXPECT_EQ(genreOf(DataItem("\xA9gen", 1, "Text") + DataItem("gnre", 0, U16BE(1))), "Blues");
    EXPECT_EQ(genreOf(DataItem("gnre", 0, U16BE(68))), "Psychadelic");
    EXPECT_EQ(genreOf(DataItem("gnre", 0, U16BE(0))), "");
    EXPECT_EQ(genreOf(DataItem("gnre", 0, U16BE(127))), "");
    EXPECT_STREQ(M4AGenreName(81), "Folk-Rock");
    EXPECT_STREQ(M4AGenreName(125), "Dance Hall");
    EXPECT_EQ(M4AGenreName(126), nullptr);
}

TEST(M4a, LongTextAndVersionOneHeader) {
    std::string items = DataItem("\xA9nam", 1, std::string(300, 'n')) + DataItem(
                                                                            "\xA9"
                                                                            "ART",
                                                                            1, "Next");
    TM4AFile m = ReadM4a(Ftyp("M4A ") + Atom("moov", Mvhd(44100, 13230000, 1) + Udta(items)));
    EXPECT_EQ(m.Duration, 300000);
    EXPECT_EQ(m.Title, std::string(255, 'n'));
    EXPECT_EQ(m.Artist, "Next");
}

TEST(M4a, TruncatedFileRaisesAndOddSizesEnd) {
    std::string file = Ftyp("M4A ") + Atom("moov", Mvhd(44100, 44100) + AacTrak() + Udta(Items()));
    TempDir dir;
    TM4AFile m;
    // Cut inside the movie header: a value lies past the end.
    EXPECT_THROW(m.ReadFromFile(dir.Write("cut.m4a", file.substr(0, 40))), EAudioError);
    EXPECT_THROW(m.ReadFromFile(dir / "missing.m4a"), EOSError);
    m.ReadFromFile("x");  // too short a name: nothing happens
    // An atom of size 0 runs to the end; one smaller than its header ends the walk.
    std::string zero = Ftyp("M4A ") + U32BE(0) + "moov" + Mvhd(10, 100);
    EXPECT_EQ(ReadM4a(zero).Duration, 10000);
    std::string tiny = Ftyp("M4A ") + U32BE(4) + "moov" + Mvhd(10, 100);
    EXPECT_EQ(ReadM4a(tiny).Duration, 0);
}
