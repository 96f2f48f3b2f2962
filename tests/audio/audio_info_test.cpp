#include <gtest/gtest.h>

#include <cmath>

#include "audio/audio_info.h"
#include "audio/format_registry.h"
#include "audio/tag_fields.h"
#include "byte_builders.h"
#include "samples.h"
#include "services/configer.h"
#include "test_util.h"

using namespace bytes;

namespace {

class AudioRecord : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
        SetFileNameTemplates({"(.*) - (.*)\\.mp3", "1", "2"});
    }
    void TearDown() override {
        SetAppConfiger(nullptr);
        SetFileNameTemplates({});
    }
    std::string EmptyTagsMark() { return AppConfiger()->ReadString("Session", "EmptyTags"); }

    TempDir dir;
};

std::string Text(const std::string& s) { return U8(0) + s; }

TAudioInformer Read(const std::string& path) {
    TAudioInformer record;
    record.ReadFile(path);
    return record;
}

}  // namespace

TEST(AudioInfo, IsAudioFile) {
    for (const char* yes : {"Song.Flac", ".mp3", "/a/b.c/x.MP3", "x.wma", "x.ogg", "x.m4a"})
        EXPECT_TRUE(TAudioInformer::IsAudioFile(yes)) << yes;
    for (const char* no : {"song.mp3.bak", "song", "/dir.mp3/song", "x.txt", "x.jpg", ""})
        EXPECT_FALSE(TAudioInformer::IsAudioFile(no)) << no;
}

TEST(AudioInfo, TextsAndNumbersByIndex) {
    TAudioInformer r;
    EXPECT_EQ(r.GetText(0), "");
    r.SetText(atTitle, "Line one\r\nLine two");
    EXPECT_EQ(r.GetText(atTitle), "Line one");
    r.SetText(atAlbum, "a\nb");
    EXPECT_EQ(r.GetText(atAlbum), "a\nb");  // a line feed alone is no line end here
    r.SetText(8, "ignored");
    EXPECT_EQ(r.GetText(8), "");
    EXPECT_EQ(r.GetText(-1), "");
    r.SetText(atYear, " -1999");
    EXPECT_EQ(r.GetTextAsNumber(atYear), -1999);
    r.SetText(atYear, "1999-05-01");
    EXPECT_EQ(r.GetTextAsNumber(atYear), 0);
    r.SetText(atYear, "18446744073709551620");  // 2^64 + 4: out of range, not 4
    EXPECT_EQ(r.GetTextAsNumber(atYear), 0);
    EXPECT_EQ(r.GetNumber(0), 0);
    EXPECT_EQ(r.GetNumber(255), 0);
}

// The texts share one block: changing one, even to a piece of another,
// leaves the rest as they were, and copies own their texts.
TEST(AudioInfo, TextsKeptApartInOneBlock) {
    TTagFields tags;
    tags.Artist = "Artist";
    tags.Title = std::string(70000, 't');  // longer than 16-bit offsets reach
    tags.Album = "Album";
    tags.Genre = "Genre";
    tags.Track = 7;
    tags.Disc = 2;
    tags.AlbumArtist = "Various";
    tags.AlbumArtistSort = "Various, The";
    TAudioInformer r;
    r.SetTags(tags);
    r.SetText(atFileName, "/music/a.mp3");
    r.SetText(atComment, r.GetText(atArtist).substr(1, 3));  // a view into the block itself
    r.SetText(atArtist, r.GetText(atArtist));
    r.SetText(atYear, "");
    r.SetNumbers({1, 2, 3, 4, 5, 6, 7, 8});

    TAudioInformer copy(r);
    r.SetText(atAlbum, "Changed");
    for (const TAudioInformer* x : {&r, &copy}) {
        EXPECT_EQ(x->GetText(atArtist), "Artist");
        EXPECT_EQ(x->GetText(atComment), "rti");
        EXPECT_EQ(x->GetText(atTitle).size(), 70000u);
        EXPECT_EQ(x->GetText(atGenre), "Genre");
        EXPECT_EQ(x->GetText(atTrack), "7");
        EXPECT_EQ(x->GetText(atYear), "");
        EXPECT_EQ(x->GetText(atFileName), "/music/a.mp3");
        EXPECT_EQ(x->Disc(), "2");
        EXPECT_EQ(x->AlbumArtist(), "Various");
        EXPECT_EQ(x->ArtistSort(), "");
        EXPECT_EQ(x->AlbumArtistSort(), "Various, The");
        EXPECT_EQ(x->NumberCount(), kMpegNumberCount);
        EXPECT_EQ(x->GetNumber(6), 7);
    }
    EXPECT_EQ(r.GetText(atAlbum), "Changed");
    EXPECT_EQ(copy.GetText(atAlbum), "Album");
    copy = TAudioInformer();
    EXPECT_EQ(copy.GetText(atArtist), "");
    EXPECT_EQ(copy.NumberCount(), 0);
}

TEST(AudioInfo, RoundingAndChannelCodes) {
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(-0.001), 0);
    EXPECT_EQ(RoundHalfEven(1e20), INT32_MAX);
    EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
    EXPECT_EQ(ChannelCodeOf(0), ccUnknown);
    EXPECT_EQ(ChannelCodeOf(1), ccMono);
    EXPECT_EQ(ChannelCodeOf(2), ccStereo);
    EXPECT_EQ(ChannelCodeOf(6), ccUnknown);
}

TEST_F(AudioRecord, Id3v2TakesPrecedenceFieldByField) {
    std::string v2 = Id3Tag(3, Id3Frame(3, "TPE1", Text("V2 Artist")) + Id3Frame(3, "TIT2", Text("Title")) +
                                   Id3Frame(3, "TYER", Text("2001")) + Id3Frame(3, "TCON", Text("Pop")) +
                                   Id3Frame(3, "COMM", Text("eng") + '\0' + "c") + Id3Frame(3, "TRCK", Text("2")));
    std::string path = dir.Write("a.mp3", v2 + MpegFrames(30) + Id3v1("T1", "V1 Artist", "X", "1990", "", 4, 0));
    TAudioInformer r = Read(path);
    EXPECT_EQ(r.GetText(atArtist), "V2 Artist");
    EXPECT_EQ(r.GetText(atAlbum), "X");
    EXPECT_EQ(r.GetText(atTrack), "2");
    EXPECT_EQ(r.GetText(atFileName), path);
    ASSERT_EQ(r.NumberCount(), kMpegNumberCount);
    EXPECT_EQ(r.GetNumber(anSampleRate), 44100);
    EXPECT_EQ(r.GetNumber(anBitRate), 128);
    EXPECT_EQ(r.GetNumber(anChannelCode), ccJointStereo);
    EXPECT_EQ(r.GetNumber(anFileSize), static_cast<std::int32_t>(FileSize32(path)));
    EXPECT_EQ(r.GetNumber(anMpegVersion), 1);
    EXPECT_EQ(r.GetNumber(anMpegLayer), 3);
    EXPECT_EQ(EmptyTagsMark(), "");
}

TEST_F(AudioRecord, Id3v1OnlyFillsEverythingIncludingTrack) {
    TAudioInformer r =
        Read(dir.Write("b.mp3", MpegFrames(30) + Id3v1("Title", "Artist", "Album", "1980", "Hi", 7, 17)));
    EXPECT_EQ(r.GetText(atArtist), "Artist");
    EXPECT_EQ(r.GetText(atTitle), "Title");
    EXPECT_EQ(r.GetText(atAlbum), "Album");
    EXPECT_EQ(r.GetText(atYear), "1980");
    EXPECT_EQ(r.GetText(atComment), "Hi");
    EXPECT_EQ(r.GetText(atGenre), "Rock");
    EXPECT_EQ(r.GetText(atTrack), "7");  // the ID3v1.1 track is not lost
    EXPECT_EQ(EmptyTagsMark(), "");
}

TEST_F(AudioRecord, UntaggedFilesUseTheTemplates) {
    std::string path = dir.Write("My_Music/Some_Artist - Some_Title.mp3", MpegFrames(10));
    TAudioInformer r = Read(path);
    // The search starts at the beginning of the path.
    EXPECT_EQ(r.GetText(atArtist), dir.Path() + "/My Music/Some Artist");
    EXPECT_EQ(r.GetText(atTitle), "Some Title");
    EXPECT_EQ(r.GetText(atTrack), "0");
    EXPECT_EQ(r.NumberCount(), kMpegNumberCount);
    EXPECT_EQ(EmptyTagsMark(), "1");

    SetFileNameTemplates({"nomatch", "1", "2", "/([^/]+) - ([^/]+)\\.MP3", "0", "2", "(.*)", "1", "1"});
    TAudioInformer second = Read(path);
    EXPECT_EQ(second.GetText(atArtist), "");
    EXPECT_EQ(second.GetText(atTitle), "Some Title");

    // A broken expression is passed over; a group that took no part gives
    // nothing; a group number that is not a whole number counts as 0.
    std::string odd = dir.Write("x__a___b.mp3", MpegFrames(10));
    SetFileNameTemplates({"([", "1", "2", "/x(y)?_+(a___b)\\.mp3", "1", "2"});
    TAudioInformer third = Read(odd);
    EXPECT_EQ(third.GetText(atArtist), "");
    EXPECT_EQ(third.GetText(atTitle), "a  b");
    SetFileNameTemplates({"/x(y)?_+(a___b)\\.mp3", "1", "2 "});
    EXPECT_EQ(Read(odd).GetText(atTitle), "");
}

TEST_F(AudioRecord, TemplateGroupBeyondItsExpressionGivesNothing) {
    // The second expression has no groups: its numbers 1 and 2 must not pick
    // up what the first expression's match on an earlier, longer name left.
    SetFileNameTemplates({"^(.*)/long_name_of_an_artist - (.*)\\.mp3$", "1", "2", "short\\.mp3$", "1", "2"});
    TAudioInformer first = Read(dir.Write("long_name_of_an_artist - and_a_longer_title.mp3", MpegFrames(5)));
    EXPECT_EQ(first.GetText(atTitle), "and a longer title");
    for (int i = 0; i < 3; ++i) {
        TAudioInformer second = Read(dir.Write("short.mp3", MpegFrames(5)));
        EXPECT_EQ(second.GetText(atArtist), "");
        EXPECT_EQ(second.GetText(atTitle), "");
        EXPECT_EQ(second.NumberCount(), kMpegNumberCount);
        Read(dir / "long_name_of_an_artist - and_a_longer_title.mp3");
    }
}

TEST_F(AudioRecord, TemplateCleanupAndMissingFiles) {
    SetFileNameTemplates({"/([^/]+)\\.mp3$", "0", "1"});
    TAudioInformer spaced = Read(dir.Write("_a___b_.mp3", MpegFrames(5)));
    EXPECT_EQ(spaced.GetText(atTitle), "a  b");

    AppConfiger()->WriteString("Session", "EmptyTags", "0");
    SetFileNameTemplates({"nothing matches", "1", "2"});
    TAudioInformer missing = Read(dir / "gone.MP3");
    EXPECT_EQ(missing.GetText(atFileName), dir / "gone.MP3");
    EXPECT_EQ(missing.NumberCount(), 0);
    EXPECT_EQ(EmptyTagsMark(), "1");

    SetFileNameTemplates({"/([^/]+)\\.mp3$", "0", "1"});
    TAudioInformer deleted = Read(dir / "x.MP3");  // letter case is ignored
    EXPECT_EQ(deleted.GetText(atTitle), "x");
    EXPECT_EQ(deleted.GetText(atFileName), dir / "x.MP3");
    EXPECT_EQ(deleted.NumberCount(), 0);
}

TEST_F(AudioRecord, ZeroBytesAreRemovedFromTagTexts) {
    std::string v2 = Id3Tag(3, Id3Frame(3, "TPE1", Text(std::string("A\0B\x01", 4) + "C")));
    std::string path = dir.Write("z.mp3", v2 + MpegFrames(5));
    TAudioInformer r = Read(path);
    EXPECT_EQ(r.GetText(atArtist), "ABC");
    EXPECT_EQ(r.GetText(atFileName), path);
}

TEST_F(AudioRecord, ControlCharactersNeverReachTheTexts) {
    const std::string raw = "Bad\tname\x1B[2J\x07\x7F";
    const std::string clean = "Bad name[2J";
    std::string mp3 = Id3Tag(3, Id3Frame(3, "TIT2", Text(raw)) + Id3Frame(3, "TPE1", Text("A\nB\rC"))) + MpegFrames(5);
    std::string items = DataItem("\xA9nam", 1, raw);
    std::string m4a = Ftyp("M4A ") + Atom("moov", Mvhd(1000, 1000) + Udta(items));
    std::string wma = AsfFile({AsfFileProperties(128000), AsfStreamProperties(2, 44100, 16000),
                               AsfExtended({{u"WM/Title", 0, WideZ(u"Bad\tname\x1B[2J\x07\x7F")}})});
    for (const auto& [name, content] : {std::pair<std::string, std::string>{"c.mp3", mp3},
                                        {"c.flac", FlacFile(44100, 2, 44100, {"TITLE=" + raw})},
                                        {"c.ogg", OggFile({"TITLE=" + raw}, 44100)},
                                        {"c.m4a", m4a},
                                        {"c.wma", wma}}) {
        TAudioInformer r = Read(dir.Write(name, content));
        EXPECT_EQ(r.GetText(atTitle), clean) << name;
        EXPECT_EQ(r.GetText(atFileName), dir / name);
    }
    // Line breaks of any kind become blanks, as players show them.
    EXPECT_EQ(Read(dir / "c.mp3").GetText(atArtist), "A B C");
    EXPECT_EQ(Read(dir.Write("d.ogg", OggFile({"TITLE=Line one\r\nLine two"}, 44100))).GetText(atTitle),
              "Line one Line two");
    // Texts from the file-name templates as well.
    TAudioInformer untagged = Read(dir.Write("Art\x01ist - Ti\ttle.mp3", MpegFrames(5)));
    EXPECT_EQ(untagged.GetText(atTitle), "Ti tle");
    EXPECT_EQ(untagged.GetText(atArtist), dir.Path() + "/Artist");
}

TEST_F(AudioRecord, AlbumArtistAndDiscFromEveryFormat) {
    std::string id3 =
        Id3Tag(3, Id3Frame(3, "TPE2", Text("The Band")) + Id3Frame(3, "TPOS", Text("2/3"))) + MpegFrames(5);
    std::string id3v2 = Id3Tag(2, Id3Frame2("TP2", Text("The Band")) + Id3Frame2("TPA", Text("2"))) + MpegFrames(5);
    std::string m4a =
        Ftyp("M4A ") + Atom("moov", Mvhd(1000, 1000) + Udta(DataItem("aART", 1, "The Band") +
                                                            DataItem("disk", 0, U16BE(0) + U16BE(2) + U16BE(3))));
    std::string wma =
        AsfFile({AsfFileProperties(128000), AsfStreamProperties(2, 44100, 16000),
                 AsfExtended({{u"WM/AlbumArtist", 0, WideZ(u"The Band")}, {u"WM/PartOfSet", 0, WideZ(u"2/3")}})});
    for (const auto& [name, content] :
         {std::pair<std::string, std::string>{"a.mp3", id3},
          {"b.mp3", id3v2},
          {"c.m4a", m4a},
          {"d.wma", wma},
          {"e.flac", FlacFile(44100, 2, 44100, {"ALBUMARTIST=The Band", "DISCNUMBER=2/3"})},
          {"f.flac", FlacFile(44100, 2, 44100, {"ALBUM ARTIST=The Band", "DISCNUMBER=2"})},
          {"g.ogg", OggFile({"albumartist=The Band", "DISCNUMBER=2/3"}, 44100)},
          {"h.ogg", OggFile({"ALBUM ARTIST=The Band", "DISCNUMBER= 2"}, 44100)}}) {
        TAudioInformer r = Read(dir.Write(name, content));
        EXPECT_EQ(r.AlbumArtist(), "The Band") << name;
        EXPECT_EQ(r.Disc(), "2") << name;
        EXPECT_EQ(r.GetText(8), "") << name;  // the numbered texts stay eight
    }
    // None given: both empty, and a record read again forgets them.
    TAudioInformer r = Read(dir / "a.mp3");
    r.ReadFile(dir.Write("none.ogg", OggFile({"TITLE=T"}, 44100)));
    EXPECT_EQ(r.AlbumArtist(), "");
    EXPECT_EQ(r.Disc(), "");
}

TEST_F(AudioRecord, OtherFormatsHaveFiveNumbers) {
    TAudioInformer ogg = Read(dir.Write("a.ogg", OggFile({"TITLE=T\r\nsecond"}, 441000)));
    EXPECT_EQ(ogg.GetText(atTitle), "T second");
    EXPECT_EQ(ogg.NumberCount(), kAudioNumberCount);
    EXPECT_EQ(ogg.GetNumber(anMpegVersion), 0);
    EXPECT_EQ(ogg.GetNumber(anPlayingTime), 10);
    EXPECT_EQ(ogg.GetNumber(anChannelCode), ccStereo);

    // 2 000 000 bytes over 10 seconds, 5 % overhead, 1024 bits to the kilobit.
    std::string flac = FlacFile(44100, 1, 441000, {"TRACK=x"});
    flac.resize(2000000, '\0');
    TAudioInformer f = Read(dir.Write("a.flac", flac));
    EXPECT_EQ(f.GetNumber(anBitRate), 1484);
    EXPECT_EQ(f.GetNumber(anChannelCode), ccMono);
    EXPECT_EQ(f.GetText(atTrack), "0");

    // No playing time: the file stays, with bit rate 0.
    TAudioInformer unknown = Read(dir.Write("b.flac", FlacFile(44100, 2, 0, {"TITLE=Q"})));
    EXPECT_EQ(unknown.GetText(atTitle), "Q");
    EXPECT_EQ(unknown.GetNumber(anBitRate), 0);

    // Bytes no format recognises are refused, whatever the name says.
    TAudioInformer other;
    EXPECT_THROW(other.ReadFile(dir.Write("a.txt", "hello")), EUnknownFormat);
    EXPECT_THROW(other.ReadFile(dir.Write("bad.wma", "not asf")), EUnknownFormat);
    EXPECT_THROW(other.ReadFile(dir.Write("text.mp3", std::string(5000, 'x'))), EUnknownFormat);
    EXPECT_EQ(other.NumberCount(), 0);

    AppConfiger()->WriteString("Session", "iTunesInstalled", "");
    EXPECT_THROW(Read(dir / "missing.m4a"), EOSError);
    EXPECT_EQ(AppConfiger()->ReadString("Session", "iTunesInstalled"), "1");
    EXPECT_THROW(Read(dir / "missing.ogg"), EOSError);
    EXPECT_THROW(Read(dir / "missing.flac"), EOSError);
}

TEST_F(AudioRecord, SampleCollection) {
    LoadFileNameTemplates(std::string(ORVALIS_SOURCE_DIR) + "/data/fnametemplates.txt");
    ASSERT_GE(FileNameTemplates().size(), 6u);
    for (const SampleFile& s : kSamples) {
        std::string path = std::string(ORVALIS_SOURCE_DIR) + "/examples/music/" + s.name;
        TAudioInformer r;
        ASSERT_NO_THROW(r.ReadFile(path)) << s.name;
        for (int i = 0; i < 7; ++i) EXPECT_EQ(r.GetText(i), s.texts[std::size_t(i)]) << s.name << " text " << i;
        EXPECT_EQ(r.NumberCount(), s.mpeg ? kMpegNumberCount : kAudioNumberCount) << s.name;
        EXPECT_EQ(r.GetNumber(anPlayingTime), s.seconds) << s.name;
        if (s.sampleRate) {
            EXPECT_EQ(r.GetNumber(anSampleRate), s.sampleRate) << s.name;
        }
        EXPECT_EQ(r.GetNumber(anChannelCode), s.channelCode) << s.name;
        EXPECT_GT(r.GetNumber(anBitRate), 0) << s.name;
        EXPECT_EQ(static_cast<std::uint32_t>(r.GetNumber(anFileSize)), FileSize32(path)) << s.name;
        EXPECT_LE(FileSize32(path), 50u * 1024) << s.name;
    }
}

TEST(FileNameTemplates, ShippedTemplatesCoverCommonNames) {
    LoadFileNameTemplates(std::string(ORVALIS_SOURCE_DIR) + "/data/fnametemplates.txt");
    struct Case {
        const char* path;
        const char* artist;
        const char* title;
    } cases[] = {
        {"/m/Queen/A Night/01 - Queen - Love of My Life.mp3", "Queen", "Love of My Life"},
        {"/m/Queen/A Night/07. Seaside Rendezvous.mp3", "A Night", "Seaside Rendezvous"},
        {"/m/misc/Nina_Simone - Sinnerman.mp3", "Nina Simone", "Sinnerman"},
        {"/m/misc/just a title.mp3", "", "just a title"},
    };
    struct Record : TAudioInformer {
        void Apply(const std::string& p) {
            ResetFor(p);
            ApplyFileNameTemplates(p);
        }
    };
    for (const Case& c : cases) {
        Record r;
        r.Apply(c.path);
        EXPECT_EQ(r.GetText(atArtist), c.artist) << c.path;
        EXPECT_EQ(r.GetText(atTitle), c.title) << c.path;
    }
    SetFileNameTemplates({});
}
