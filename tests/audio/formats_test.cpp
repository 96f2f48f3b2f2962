#include <gtest/gtest.h>

#include "audio/apev2.h"
#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/flac.h"
#include "audio/format_registry.h"
#include "audio/ogg_vorbis.h"
#include "byte_builders.h"
#include "format_builders.h"
#include "test_util.h"

namespace {

using namespace bytes;

class Formats : public ::testing::Test {
protected:
    TAudioInformer Read(const std::string& name, const std::string& content) {
        TAudioInformer r;
        r.ReadFile(dir.Write(name, content));
        return r;
    }
    TempDir dir;
};

struct TCase {
    const char* name;
    std::string content;
    const char* title;
    int seconds;
    int sampleRate;
    int channelCode;
};

}  // namespace

// Every new format: tags, stream values, and the same bytes under another
// format's extension read the same.
TEST_F(Formats, EveryFormatReadsItsTagsAndStreamValues) {
    const std::string id3 = Id3Texts("Chunk Title", "Chunk Artist");
    const std::vector<TCase> cases = {
        {"a.wv", WavPackFile(441000) + ApeTag(ApeTexts("WavPack Title")), "WavPack Title", 10, 44100, ccStereo},
        {"a.ape", MonkeysFile(2, 14388) + ApeTag(ApeTexts("Monkey Title")), "Monkey Title", 7, 44100, ccStereo},
        {"a.mpc", MusepackSv7File(1250) + ApeTag(ApeTexts("Sv7 Title")), "Sv7 Title", 30, 48000, ccStereo},
        {"b.mpc", MusepackSv8File(100, 0) + ApeTag(ApeTexts("Sv8 Title")), "Sv8 Title", 0, 44100, ccMono},
        {"a.tta", Id3Texts("Tta Title", "Ape Artist") + TrueAudioFile(88200), "Tta Title", 2, 44100, ccStereo},
        {"a.aiff", AiffFile(44100 * 3, id3), "Chunk Title", 3, 44100, ccStereo},
        {"a.aifc", AiffFile(44100, id3, true), "Chunk Title", 1, 44100, ccStereo},
        {"a.wav", WavFile(176400 * 2, RiffChunk("id3 ", id3)), "Chunk Title", 2, 44100, ccStereo},
        {"a.dsf", DsfFile(2822400 * 5, id3), "Chunk Title", 5, 2822400, ccStereo},
        {"a.opus", OggStream({OpusHead(2, 312), "OpusTags" + VorbisComments({"TITLE=Opus Title"})}, 48000 * 4 + 312),
         "Opus Title", 4, 48000, ccStereo},
        {"a.spx",
         OggStream({"Speex   " + Zeros(20) + U32LE(1) + U32LE(80) + U32LE(16000) + U32LE(1) + U32LE(4) + U32LE(1) +
                        U32LE(0) + Zeros(28),
                    VorbisComments({"TITLE=Speex Title"})},
                   16000 * 6),
         "Speex Title", 6, 16000, ccMono},
        {"a.oga", OggStream({OggFlacHead(44100, 44100 * 7), FlacBlock(4, VorbisComments({"TITLE=OggFlac"}), true)}, 0),
         "OggFlac", 7, 44100, ccStereo},
    };
    for (const TCase& c : cases) {
        for (const std::string& name : {std::string(c.name), "renamed-" + std::string(c.name) + ".mp3"}) {
            SCOPED_TRACE(name);
            TAudioInformer r = Read(name, c.content);
            EXPECT_EQ(r.GetText(atTitle), c.title);
            EXPECT_EQ(r.NumberCount(), kAudioNumberCount);
            EXPECT_EQ(r.GetNumber(anPlayingTime), c.seconds);
            EXPECT_EQ(r.GetNumber(anSampleRate), c.sampleRate);
            EXPECT_EQ(r.GetNumber(anChannelCode), c.channelCode);
            EXPECT_EQ(r.FileSize(), c.content.size());
        }
        EXPECT_TRUE(TAudioInformer::IsAudioFile(c.name)) << c.name;
    }
    // APEv2 fields beyond the title, and the ID3 chunk's artist.
    TAudioInformer wv = Read("b.wv", cases[0].content);
    EXPECT_EQ(wv.GetText(atArtist), "Ape Artist");
    EXPECT_EQ(wv.GetText(atTrack), "4");
    EXPECT_EQ(wv.GetText(atYear), "2001");
    EXPECT_EQ(Read("b.dsf", cases[8].content).GetText(atArtist), "Chunk Artist");
}

// Cut files are read with what is there or refused with an error, never
// read past their end.
TEST_F(Formats, TruncatedFilesAreReadOrRefused) {
    const std::vector<std::pair<const char*, std::string>> files = {
        {"a.wv", WavPackFile(441000)},        {"a.ape", MonkeysFile(2, 44100)},
        {"a.mpc", MusepackSv7File(1250)},     {"b.mpc", MusepackSv8File(100, 0)},
        {"a.tta", TrueAudioFile(88200)},      {"a.aiff", AiffFile(4410, Id3Texts("T", "A"))},
        {"a.wav", WavFile(17640, "")},        {"a.dsf", DsfFile(28224, Id3Texts("T", "A"))},
        {"a.opus", OggStream({OpusHead(2, 312), "OpusTags" + VorbisComments({"TITLE=x"})}, 48000)}};
    for (const auto& [name, content] : files) {
        for (std::size_t cut : {std::size_t(5), std::size_t(20), std::size_t(40), content.size() / 2}) {
            SCOPED_TRACE(std::string(name) + " cut to " + std::to_string(cut));
            TAudioInformer r;
            try {
                r.ReadFile(dir.Write(name, content.substr(0, cut)));
                EXPECT_LE(r.NumberCount(), kAudioNumberCount);
            } catch (const Exception&) {
                // Refused: the collection names it among the unreadable files.
            }
        }
    }
    // The WAV data chunk says more than the file holds: the playing time is
    // that of the bytes present.
    std::string wav = WavFile(176400 * 4, "");
    wav.resize(wav.size() - 176400 * 2);
    EXPECT_EQ(Read("cut.wav", wav).GetNumber(anPlayingTime), 2);
}

TEST_F(Formats, WavInfoChunkAndId3ChunkTogether) {
    const std::string info = RiffChunk("LIST", "INFO" + RiffChunk("INAM", std::string("Info Title\0", 11)) +
                                                   RiffChunk("IART", "Beyonc\xE9") + RiffChunk("ITRK", "7"));
    TAudioInformer r = Read("i.wav", WavFile(17640, info));
    EXPECT_EQ(r.GetText(atTitle), "Info Title");
    EXPECT_EQ(r.GetText(atArtist), "Beyonc\xC3\xA9");
    EXPECT_EQ(r.GetText(atTrack), "7");
    // The ID3 chunk wins where it has a value.
    TAudioInformer both = Read("j.wav", WavFile(17640, info + RiffChunk("id3 ", Id3Texts("Id3 Title", ""))));
    EXPECT_EQ(both.GetText(atTitle), "Id3 Title");
    EXPECT_EQ(both.GetText(atArtist), "Beyonc\xC3\xA9");
}

TEST_F(Formats, ApeTagOnMp3FillsWhatId3Leaves) {
    const std::string mp3 = Id3Tag(3, Id3Frame(3, "TIT2", U8(0) + "Id3 Title")) + MpegFrames(20) +
                            ApeTag({ApeItem("Title", "Ape Title"), ApeItem("Artist", "Ape Artist"),
                                    ApeItem("Cover Art (Front)", std::string("c.jpg\0", 6) + "\xFF\xD8jpeg", 2)});
    TAudioInformer r = Read("a.mp3", mp3);
    EXPECT_EQ(r.GetText(atTitle), "Id3 Title");
    EXPECT_EQ(r.GetText(atArtist), "Ape Artist");
    EXPECT_EQ(r.NumberCount(), kMpegNumberCount);
    // Also before an ID3v1 tag, and its picture is the cover.
    const std::string withV1 = MpegFrames(20) + ApeTag({ApeItem("Artist", "Ape Artist"),
                                                        ApeItem("Cover Art (Front)", std::string("c.jpg\0", 6) + "\xFF\xD8jpeg", 2)}) +
                               Id3v1("V1 Title", "V1 Artist", "", "", "", 0, 0);
    EXPECT_EQ(Read("b.mp3", withV1).GetText(atArtist), "V1 Artist");
    EXPECT_EQ(Read("b.mp3", withV1).GetText(atTitle), "V1 Title");
    EXPECT_EQ(EmbeddedCover(dir / "b.mp3"), "\xFF\xD8jpeg");
    // A large picture in the APEv2 tag is not audio: the playing time stays.
    const std::string frames = MpegFrames(400);
    const std::string cover = ApeItem("Cover Art (Front)", std::string("c.jpg\0", 6) + std::string(400000, 'j'), 2);
    EXPECT_EQ(Read("big.mp3", frames + ApeTag({cover}) + Id3v1("T", "A", "", "", "", 0, 0)).GetNumber(anPlayingTime),
              Read("plain.mp3", frames).GetNumber(anPlayingTime));
}

TEST_F(Formats, ContentDecidesNotTheName) {
    // A FLAC named .mp3 is read as FLAC; text named .mp3 is refused.
    TAudioInformer flac = Read("song.mp3", FlacFile(44100, 2, 441000, {"TITLE=Flac"}));
    EXPECT_EQ(flac.GetText(atTitle), "Flac");
    EXPECT_EQ(flac.NumberCount(), kAudioNumberCount);
    TAudioInformer r;
    EXPECT_THROW(r.ReadFile(dir.Write("notes.mp3", "These are my notes, not music.\n")), EUnknownFormat);
    EXPECT_THROW(r.ReadFile(dir.Write("empty.flac", "")), EUnknownFormat);
    // A video track in an MP4 is no music.
    const std::string video = Ftyp("isom") + Atom("moov", Mvhd(1000, 5000) + MediaTrak("vide", "") +
                                                              AudioTrak(SampleEntry("mp4a", 2, 44100, Esds(128000))));
    EXPECT_THROW(r.ReadFile(dir.Write("film.mp4", video)), EUnknownFormat);
    const std::string m4b = Ftyp("M4B ") + Atom("moov", Mvhd(1000, 5000) +
                                                            AudioTrak(SampleEntry("mp4a", 2, 44100, Esds(128000))));
    EXPECT_EQ(Read("book.m4b", m4b).GetNumber(anPlayingTime), 5);
    // An ID3v2 tag alone counts for an MP3 under its own name only.
    const std::string tagOnly = Id3Tag(3, Id3Frame(3, "TIT2", U8(0) + "Only"), 100);
    EXPECT_EQ(Read("tag.mp3", tagOnly).GetText(atTitle), "Only");
    EXPECT_THROW(r.ReadFile(dir.Write("tag.wav", tagOnly)), EUnknownFormat);
}

// The comment packet of an Ogg file over three pages: tags after the page
// boundaries, and after a picture, are read.
TEST_F(Formats, OggCommentPacketOverThreePages) {
    const std::string lyrics = "LYRICS=" + std::string(100000, 'l');
    const std::string packet = "\x03vorbis" +
                               VorbisComments({"METADATA_BLOCK_PICTURE=" + std::string(40000, 'A'), lyrics,
                                               "ARTIST=Late Artist", "TITLE=Late Title"}) +
                               U8(1);
    // Pages of at most 255 segments (65 025 bytes): three of them.
    std::string file = OggPage(VorbisIdent(2, 44100, 128000), 0, 0, 2);
    std::uint32_t seq = 1;
    for (std::size_t at = 0; at < packet.size(); at += 255 * 255) {
        const std::string part = packet.substr(at, 255 * 255);
        std::string lacing;
        for (std::size_t left = part.size(); lacing.size() < 255;) {
            const std::size_t n = std::min<std::size_t>(left, 255);
            lacing += U8(unsigned(n));
            left -= n;
            if (n < 255 || left == 0) {
                if (n == 255 && at + part.size() >= packet.size()) lacing += U8(0);
                break;
            }
        }
        file += "OggS" + U8(0) + U8(at ? 1 : 0) + U64LE(at + part.size() >= packet.size() ? 0 : ~0ULL) +
                U32LE(0x1234) + U32LE(seq++) + U32LE(0) + U8(unsigned(lacing.size())) + lacing + part;
    }
    ASSERT_EQ(seq, 4u);
    file += OggPage(std::string(1000, '\x44'), 441000, seq, 4);
    TAudioInformer r = Read("long.ogg", file);
    EXPECT_EQ(r.GetText(atArtist), "Late Artist");
    EXPECT_EQ(r.GetText(atTitle), "Late Title");
    EXPECT_EQ(r.GetNumber(anPlayingTime), 10);
}

// Two ARTIST fields: FLAC keeps the first, the Ogg family the last.
TEST_F(Formats, TwoArtistFieldsByFamily) {
    const std::vector<std::string> two = {"ARTIST=First", "ARTIST=Last"};
    EXPECT_EQ(Read("a.flac", FlacFile(44100, 2, 44100, two)).GetText(atArtist), "First");
    EXPECT_EQ(Read("a.ogg", OggFile(two, 44100)).GetText(atArtist), "Last");
    const std::string opus = OggStream({OpusHead(2, 0), "OpusTags" + VorbisComments(two)}, 48000);
    EXPECT_EQ(Read("a.opus", opus).GetText(atArtist), "Last");
    // TRACK is FLAC's alone.
    EXPECT_EQ(Read("b.flac", FlacFile(44100, 2, 44100, {"TRACK=5"})).GetText(atTrack), "5");
    EXPECT_EQ(Read("b.ogg", OggFile({"TRACK=5"}, 44100)).GetText(atTrack), "0");
    // Latin-1 values in either.
    EXPECT_EQ(Read("c.flac", FlacFile(44100, 2, 44100, {"ARTIST=Beyonc\xE9"})).GetText(atArtist),
              "Beyonc\xC3\xA9");
}

TEST_F(Formats, SortNamesAndCompilationFromEveryTagKind) {
    const std::string id3 = Id3Tag(3, Id3Frame(3, "TPE1", U8(0) + "The Beatles") +
                                          Id3Frame(3, "TSOP", U8(0) + "Beatles, The") +
                                          Id3Frame(3, "TSO2", U8(0) + "Various") + Id3Frame(3, "TCMP", U8(0) + "1")) +
                            MpegFrames(5);
    const std::string flac =
        FlacFile(44100, 2, 44100, {"ARTISTSORT=Beatles, The", "ALBUMARTISTSORT=Various", "COMPILATION=1"});
    const std::string m4a = Ftyp("M4A ") + Atom("moov", Mvhd(1000, 1000) +
                                                            Udta(DataItem("soar", 1, "Beatles, The") +
                                                                 DataItem("soaa", 1, "Various") + DataItem("cpil", 21, U8(1))));
    const std::string wma = AsfFile({AsfFileProperties(128000), AsfStreamProperties(2, 44100, 16000),
                                     AsfExtended({{u"WM/ArtistSortOrder", 0, WideZ(u"Beatles, The")},
                                                  {u"WM/AlbumArtistSortOrder", 0, WideZ(u"Various")},
                                                  {u"WM/IsCompilation", 2, U32LE(1)}})});
    const std::string wv = WavPackFile(44100) + ApeTag({ApeItem("ArtistSort", "Beatles, The"),
                                                        ApeItem("AlbumArtistSort", "Various"),
                                                        ApeItem("Compilation", "1")});
    for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
             {"s.mp3", id3}, {"s.flac", flac}, {"s.m4a", m4a}, {"s.wma", wma}, {"s.wv", wv}}) {
        SCOPED_TRACE(name);
        TAudioInformer r = Read(name, content);
        EXPECT_EQ(r.ArtistSort(), "Beatles, The");
        EXPECT_EQ(r.AlbumArtistSort(), "Various");
        EXPECT_TRUE(r.Compilation());
    }
    EXPECT_FALSE(Read("n.flac", FlacFile(44100, 2, 44100, {"COMPILATION=0"})).Compilation());
}

// The ASF play duration less the preroll, not the file size over the bit
// rate: a large picture does not lengthen the track.
TEST_F(Formats, AsfDurationWithALargePicture) {
    const std::string fileProps = AsfObject(Guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ULL),
                                            Zeros(40) + U64LE(15000000 + 30000000) + U64LE(0) + U64LE(3000) +
                                                U32LE(2) + U32LE(0) + U32LE(0) + U32LE(128000));
    const std::string picture = std::string(5u << 20, '\x7E');
    const std::string wma = AsfFile({fileProps, AsfStreamProperties(2, 44100, 16000),
                                     AsfExtended({{u"WM/Picture", 1, picture}})});
    TAudioInformer r = Read("big.wma", wma);
    EXPECT_EQ(r.GetNumber(anPlayingTime), 2);  // 4.5 s played, 3 s of preroll: 1.5 s, rounded to even
    // Flagged as a broadcast: no duration, the estimate stands.
    const std::string live = AsfObject(Guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ULL),
                                       Zeros(40) + U64LE(45000000) + U64LE(0) + U64LE(3000) + U32LE(1) + U32LE(0) +
                                           U32LE(0) + U32LE(128000));
    const std::string liveWma = AsfFile({live, AsfStreamProperties(2, 44100, 16000)}, 160000);
    EXPECT_EQ(Read("live.wma", liveWma).GetNumber(anPlayingTime),
              RoundHalfEven(double(liveWma.size()) * 8 / 128000));
}

// Playing times are rounded once, from the exact value.
TEST_F(Formats, PlayingTimeIsRoundedOnce) {
    // 11.4996 s: once rounded, 11; through milliseconds (11 500) it would be 12.
    const std::string wav = WavFile(static_cast<std::uint32_t>(176400 * 11.4996), "");
    EXPECT_EQ(Read("r.wav", wav).GetNumber(anPlayingTime), 11);
    const std::string ogg = OggFile({}, static_cast<std::uint64_t>(44100 * 11.4996), 2000);
    EXPECT_EQ(Read("r.ogg", ogg).GetNumber(anPlayingTime), 11);
}

// A footer that announces a header the file has no room for (a fuzzing find).
TEST_F(Formats, ApeTagNeverClaimsMoreThanTheFile) {
    const std::string footer =
        "APETAGEX" + U32LE(2000) + U32LE(32) + U32LE(0) + U32LE(0x80000000u) + Zeros(8);
    for (const std::string& content : {footer, std::string(10, 'x') + footer}) {
        TBufferedFile file(dir.Write("a.ape", content));
        TApeTag tag;
        EXPECT_TRUE(tag.ReadTrailing(file));
        EXPECT_LE(tag.Offset + tag.Size, file.Size());
    }
}

TEST(FormatRegistry, EveryFormatHasAnExtensionAndNoExtensionTwoFormats) {
    std::vector<std::string_view> seen;
    for (const auto& format : AudioFormats()) {
        EXPECT_FALSE(format->Extensions().empty()) << format->Name();
        for (std::string_view e : format->Extensions()) {
            EXPECT_EQ(std::count(seen.begin(), seen.end(), e), 0) << e;
            seen.push_back(e);
        }
    }
    for (const char* name : {"a.opus", "b.SPX", "c.oga", "d.aif", "e.aiff", "f.aifc", "g.wav", "h.wv", "i.ape",
                             "j.mpc", "k.tta", "l.dsf", "m.m4b", "n.mp4", "o.mp2"})
        EXPECT_TRUE(IsAudioExtension(name)) << name;
}
