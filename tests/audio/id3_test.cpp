#include <gtest/gtest.h>

#include "audio/buffered_file.h"
#include "audio/id3.h"
#include "byte_builders.h"
#include "test_util.h"

using namespace bytes;

namespace {

// A file holding the tag followed by some audio-like bytes.
TID3v2 ReadTag(const std::string& tag, const std::string& tail = std::string(300, '\x55')) {
    TempDir dir;
    TID3v2 v2;
    v2.ReadFromFile(dir.Write("t.mp3", tag + tail));
    return v2;
}

std::string Text(int encoding, const std::string& bytes) { return U8(unsigned(encoding)) + bytes; }

}  // namespace

TEST(ID3v2, TextEncodingsDecodeToUtf8) {
    struct Case {
        const char* what;
        std::string body;
        const char* expected;
    } cases[] = {
        {"latin-1", Text(0, "Song"), "Song"},
        {"latin-1 accents", Text(0, "\xC9t\xE9"), "\xC3\x89t\xC3\xA9"},
        {"utf-16 FF FE", Text(1, "\xFF\xFE" + Utf16(u"Song", false) + U16LE(0)), "Song"},
        {"utf-16 FE FF", Text(1, "\xFE\xFF" + Utf16(u"Song", true)), "Song"},
        {"utf-16 keeps U+00FF and U+01FF", Text(1, "\xFF\xFE" + Utf16(u"\u00FFa\u01FF", false)),
         "\xC3\xBF"
         "a"
         "\xC7\xBF"},
        {"utf-16 be", Text(2, Utf16(u"Caf\u00E9", true)), "Caf\xC3\xA9"},
        {"utf-8", Text(3, "\xE5\xA4\x8F\xE3\x81\xAE\xE6\xB5\xB7"), "\xE5\xA4\x8F\xE3\x81\xAE\xE6\xB5\xB7"},
        {"trimmed", Text(0, "  Song \n"), "Song"},
    };
    for (const Case& c : cases) {
        TID3v2 v2 = ReadTag(Id3Tag(3, Id3Frame(3, "TIT2", c.body), 20));
        EXPECT_TRUE(v2.Exists) << c.what;
        EXPECT_EQ(v2.Title, c.expected) << c.what;
    }
    TID3v2 v4 = ReadTag(Id3Tag(4, Id3Frame(4, "TIT2",
                                           Text(3,
                                                "Stra\xC3\x9F"
                                                "e"))));
    EXPECT_EQ(v4.Title,
              "Stra\xC3\x9F"
              "e");
}

TEST(ID3v2, FieldRulesAndFallbacks) {
    std::string frames = Id3Frame(3, "TPE1", Text(0, "First")) + Id3Frame(3, "TPE1", Text(0, "Second")) +
                         Id3Frame(3, "TIT2", Text(0, "")) + Id3Frame(3, "TIT1", Text(0, "Group")) +
                         Id3Frame(3, "TOAL", Text(0, "Original")) + Id3Frame(3, "TDRC", Text(0, "2004-05-01")) +
                         Id3Frame(3, "TRCK", Text(0, "3/12")) + Id3Frame(3, "TCON", Text(0, "(17)Rock")) +
                         Id3Frame(3, "TXXX", Text(0, "ignored")) +
                         Id3Frame(3, "COMM", Text(0, "engdesc") + '\0' + "Nice");
    TID3v2 v2 = ReadTag(Id3Tag(3, frames, 50));
    EXPECT_EQ(v2.Artist, "Second");
    EXPECT_EQ(v2.Title, "Group");
    EXPECT_EQ(v2.Album, "Original");
    EXPECT_EQ(v2.Year, "2004");
    EXPECT_EQ(v2.Track, 3);
    EXPECT_EQ(v2.Genre, "Rock");
    EXPECT_EQ(v2.Comment, "Nice");

    EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "TRCK", Text(0, "A3")))).Track, 0);
    EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "TCON", Text(0, "(13)")))).Genre, "Pop");
    // Only references at the start count: the rest is a name as it stands.
    for (const char* name : {"Rock (Live)", "Drum (and) Bass", "(Rock)"})
        EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "TCON", Text(0, name)))).Genre, name);
    EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "TCON", Text(0, "(17)(13)")))).Genre, "Rock");
    EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "TCON", Text(0, "((Live))")))).Genre, "(Live))");
    EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "TCON", Text(0, "Pop")))).Genre, "Pop");
    EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "TYER", Text(0, "1999")) + Id3Frame(3, "TDRC", Text(0, "2004")))).Year,
              "1999");
}

TEST(ID3v2, GenreNumbersNameTheGenre) {
    auto genre = [](int version, const std::string& value) {
        return ReadTag(Id3Tag(version, Id3Frame(version, "TCON", Text(0, value)))).Genre;
    };
    EXPECT_EQ(genre(4, "35"), "House");
    EXPECT_EQ(genre(3, "(35)"), "House");
    EXPECT_EQ(genre(3, "(35)(17)"), "House");
    EXPECT_EQ(genre(3, "(35)Trance Classics"), "Trance Classics");
    EXPECT_EQ(genre(4, "148"), "");  // beyond the list
    EXPECT_EQ(genre(3, "(999)"), "");
    EXPECT_EQ(genre(4, "2Pac"), "2Pac");
}

TEST(ID3v2, CommentDescriptionEndsOnUnitBoundaryInUtf16) {
    // Description "A" then the text: a byte-wise search would stop inside 'A'.
    std::string body = Text(1, "eng\xFF\xFE" + Utf16(u"A", false) + U16LE(0) + "\xFF\xFE" + Utf16(u"Hello", false));
    EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "COMM", body))).Comment, "Hello");
    std::string empty = Text(1, "eng\xFF\xFE" + U16LE(0) + "\xFF\xFE" + Utf16(u"Hi", false));
    EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "COMM", empty))).Comment, "Hi");
}

TEST(ID3v2, CommentWithoutDescriptionWinsOverITunesData) {
    auto comm = [](const std::string& description, const std::string& text) {
        return Id3Frame(3, "COMM", Text(0, "eng" + description) + '\0' + text);
    };
    const std::string norm = comm("iTunNORM", " 00000316 00000316 00002E9D");
    const std::string cddb = comm("iTunes_CDDB_1", "9D09130B+174405+11+150");
    EXPECT_EQ(
        ReadTag(Id3Tag(3, comm("", "Real one") + norm + cddb + comm("iTunSMPB", "x") + comm("ITUNPGAP", "0"))).Comment,
        "Real one");
    // Otherwise a described comment, never the housekeeping.
    EXPECT_EQ(ReadTag(Id3Tag(3, norm + comm("Notes", "Described") + cddb)).Comment, "Described");
    EXPECT_EQ(ReadTag(Id3Tag(3, norm + cddb)).Comment, "");
    // UTF-16 descriptions are compared decoded.
    std::string wide = Id3Frame(
        3, "COMM", Text(1, "eng\xFF\xFE" + Utf16(u"iTunNORM", false) + U16LE(0) + "\xFF\xFE" + Utf16(u"0000", false)));
    EXPECT_EQ(ReadTag(Id3Tag(3, comm("", "Plain") + wide)).Comment, "Plain");
}

TEST(ID3v2, Version2UsesShortFrames) {
    std::string frames = Id3Frame2("TT2", Text(0, "Old")) + Id3Frame2("TP1", Text(0, "Band")) +
                         Id3Frame2("TAL", Text(0, "Album")) + Id3Frame2("TYE", Text(0, "1990")) +
                         Id3Frame2("COM", Text(0, "eng") + '\0' + "Note");
    TID3v2 v2 = ReadTag(Id3Tag(2, frames, 10));
    EXPECT_EQ(v2.VersionID, 2);
    EXPECT_EQ(v2.Title, "Old");
    EXPECT_EQ(v2.Artist, "Band");
    EXPECT_EQ(v2.Album, "Album");
    EXPECT_EQ(v2.Year, "1990");
    EXPECT_EQ(v2.Comment, "Note");
}

TEST(ID3v2, UnknownVersionOrOversizedTagYieldsNoValues) {
    TID3v2 v5 = ReadTag(Id3Tag(5, Id3Frame(3, "TIT2", Text(0, "X"))));
    EXPECT_TRUE(v5.Exists);
    EXPECT_EQ(v5.Title, "");
    std::string tag = Id3Tag(3, Id3Frame(3, "TIT2", Text(0, "X")), 5000);
    TID3v2 cut = ReadTag(tag.substr(0, 100), "");
    EXPECT_TRUE(cut.Exists);
    EXPECT_EQ(cut.Size, 0);
    EXPECT_EQ(cut.Title, "X");  // a complete frame of a cut tag
    TID3v2 none = ReadTag("no tag here");
    EXPECT_FALSE(none.Exists);
    TempDir dir;
    TID3v2 tiny;
    EXPECT_FALSE(tiny.ReadFromFile(dir.Write("tiny.mp3", "ID3")));
    EXPECT_FALSE(tiny.ReadFromFile(dir / "missing.mp3"));
}

TEST(ID3v2, CutTagKeepsItsCompleteFrames) {
    for (int version : {2, 3, 4}) {
        auto frame = [&](const char* id3, const char* id2, const std::string& text) {
            return version == 2 ? Id3Frame2(id2, Text(0, text)) : Id3Frame(version, id3, Text(0, text));
        };
        std::string frames = frame("TIT2", "TT2", "Title") + frame("TPE1", "TP1", "Artist") +
                             frame("TALB", "TAL", std::string(400, 'a'));
        std::string tag = Id3Tag(version, frames, 20000);
        // The file ends inside the album frame.
        TID3v2 v2 = ReadTag(tag.substr(0, tag.size() - 20000 - 100), "");
        EXPECT_EQ(v2.Title, "Title") << version;
        EXPECT_EQ(v2.Artist, "Artist") << version;
        EXPECT_EQ(v2.Album, "") << version;
    }
    // Unsynchronised as a whole (version 3): the same.
    std::string frames = Id3Frame(3, "TIT2", Text(0, "T")) + Id3Frame(3, "TPE1", Text(0, std::string(300, 'x')));
    std::string tag = Id3Tag(3, frames, 5000, 0x80);
    TID3v2 unsynced = ReadTag(tag.substr(0, tag.size() - 5000 - 50), "");
    EXPECT_EQ(unsynced.Title, "T");
    EXPECT_EQ(unsynced.Artist, "");
}

TEST(ID3v2, LongValueIsCutTo499BytesAfterEncoding) {
    std::string longText(700, 'a');
    TID3v2 v2 = ReadTag(Id3Tag(3, Id3Frame(3, "TIT2", Text(0, longText)) + Id3Frame(3, "TPE1", Text(0, "Next"))));
    EXPECT_EQ(v2.Title, std::string(499, 'a'));
    EXPECT_EQ(v2.Artist, "Next");
}

TEST(ID3v2, Version4FrameSizesAreSyncSafe) {
    // 200 bytes: sync-safe 00 00 01 48, which read plainly would be 328.
    std::string body = Text(0, std::string(199, 'b'));
    std::string frames = Id3Frame(4, "TIT2", body) + Id3Frame(4, "TPE1", Text(0, "After"));
    TID3v2 v2 = ReadTag(Id3Tag(4, frames, 30));
    EXPECT_EQ(v2.Title, std::string(199, 'b'));
    EXPECT_EQ(v2.Artist, "After");
}

TEST(ID3v2, ExtendedHeaderIsSkipped) {
    std::string frames = Id3Frame(3, "TIT2", Text(0, "Title"));
    std::string ext3 = U32BE(6) + Zeros(6);
    EXPECT_EQ(ReadTag(Id3Tag(3, ext3 + frames, 0, 0x40)).Title, "Title");
    std::string ext4 = SyncSafe(6) + U8(1) + U8(0);
    EXPECT_EQ(ReadTag(Id3Tag(4, ext4 + Id3Frame(4, "TIT2", Text(0, "Four")), 0, 0x40)).Title, "Four");
}

TEST(ID3v2, UnsynchronisationIsUndone) {
    // Version 3: the whole tag, frame headers included, carries a zero after each 0xFF.
    std::string frame = Id3Frame(3, "TIT2",
                                 Text(0,
                                      "\xFF"
                                      "ab")) +
                        Id3Frame(3, "TPE1", Text(0, "Artist"));
    std::string unsynced;
    for (char c : frame) {
        unsynced += c;
        if (static_cast<unsigned char>(c) == 0xFF) unsynced += '\0';
    }
    TID3v2 v3 = ReadTag(Id3Tag(3, unsynced, 10, 0x80));
    EXPECT_EQ(v3.Title,
              "\xC3\xBF"
              "ab");
    EXPECT_EQ(v3.Artist, "Artist");

    // Version 4: per frame, the stored size counts the inserted zero.
    std::string body = Text(0, std::string("\xFF\x00"
                                           "cd",
                                           4));
    TID3v2 v4 = ReadTag(Id3Tag(4, Id3Frame(4, "TIT2", body, 0x0002) + Id3Frame(4, "TPE1", Text(0, "X"))));
    EXPECT_EQ(v4.Title,
              "\xC3\xBF"
              "cd");
    EXPECT_EQ(v4.Artist, "X");
}

TEST(ID3v2, CompressedOrEncryptedFramesAreNotStored) {
    EXPECT_EQ(ReadTag(Id3Tag(3, Id3Frame(3, "TIT2", Text(0, "Zip"), 0x0080))).Title, "");
    EXPECT_EQ(ReadTag(Id3Tag(4, Id3Frame(4, "TIT2", Text(0, "Zip"), 0x0008))).Title, "");
    // A data length indicator is skipped before the value.
    EXPECT_EQ(ReadTag(Id3Tag(4, Id3Frame(4, "TIT2", SyncSafe(4) + Text(0, "Dli"), 0x0001))).Title, "Dli");
}

TEST(ID3v1, ParsesFieldsTrackAndGenre) {
    TempDir dir;
    TID3v1Tag v1;
    v1.ReadFromFile(
        dir.Write("a.mp3", std::string(500, 'x') + Id3v1("Title", "Artist  ", "Alb\xE9", "1999", "Note", 7, 0)));
    EXPECT_TRUE(v1.Exists);
    EXPECT_EQ(v1.Title, "Title");
    EXPECT_EQ(v1.Artist, "Artist");
    EXPECT_EQ(v1.Album, "Alb\xC3\xA9");
    EXPECT_EQ(v1.Year, "1999");
    EXPECT_EQ(v1.Comment, "Note");
    EXPECT_EQ(v1.Track, 7);
    EXPECT_EQ(v1.Genre, "Blues");

    std::string tag = Id3v1("T", "A", "B", "2000", std::string(30, 'c'), 0, 147);
    tag[125] = 'x';
    v1.ReadFromFile(dir.Write("b.mp3", tag));
    EXPECT_EQ(v1.Track, 0);
    EXPECT_EQ(v1.Comment, std::string(28, 'c') + "x" + "c");
    EXPECT_EQ(v1.Genre, "Synthpop");

    v1.ReadFromFile(dir.Write("c.mp3", Id3v1("T", "A", "B", "2000", "", 0, 255)));
    EXPECT_EQ(v1.Genre, "");
    v1.ReadFromFile(dir.Write("d.mp3", Id3v1("T", "A", "B", "2000", "", 0, 1).substr(1)));
    EXPECT_FALSE(v1.Exists);
    EXPECT_THROW(v1.ReadFromFile(dir / "missing.mp3"), EOSError);
}

TEST(ID3v1, GenreListSpelling) {
    EXPECT_STREQ(ID3GenreName(0), "Blues");
    EXPECT_STREQ(ID3GenreName(67), "Psychedelic");
    EXPECT_STREQ(ID3GenreName(81), "Folk/Rock");
    EXPECT_STREQ(ID3GenreName(123), "Acapella");
    EXPECT_STREQ(ID3GenreName(147), "Synthpop");
    EXPECT_EQ(ID3GenreName(148), nullptr);
    EXPECT_EQ(ID3GenreName(-1), nullptr);
}

TEST(ID3v2Probe, CountsOnlyTagsWithFrames) {
    TempDir dir;
    auto probe = [&](const std::string& content) {
        TBufferedFile file(dir.Write("p.mp3", content));
        TBinaryReader in(file);
        TID3v2Tag tag;
        tag.ReadFromStream(in, file.Size());
        return tag.TotalSize();
    };
    std::string frames = Id3Frame(3, "TIT2", Text(0, "x"));
    std::string withFrames = Id3Tag(3, frames, 4096 - frames.size());
    EXPECT_EQ(probe(withFrames + "audio"), 4106);
    EXPECT_EQ(probe(Id3Tag(3, "", 4096) + "audio"), 0);  // padding only
    EXPECT_EQ(probe(Id3Tag(5, frames) + "audio"), 0);
    EXPECT_EQ(probe(withFrames.substr(0, 1000)), 0);  // larger than the file
    std::string badSize = withFrames;
    badSize[7] = '\x80';
    EXPECT_EQ(probe(badSize), 0);
}

namespace {

// A version 4 tag with the footer flag and its 10-byte footer ("3DI").
std::string TagWithFooter(const std::string& frames) {
    std::string tag = Id3Tag(4, frames, 0, 0x10);
    return tag + "3DI" + tag.substr(3, 7);
}

}  // namespace

// The footer belongs to the tag: what follows it is the stream.
TEST(ID3v2Header, FooterCountsInTheTagSize) {
    const std::string tag = TagWithFooter(Id3Frame(4, "TIT2", Text(0, "Song")));
    const auto header = ParseID3v2Header(tag);
    ASSERT_TRUE(header);
    EXPECT_TRUE(header->HasFooter());
    EXPECT_EQ(header->TotalSize(), tag.size());
    EXPECT_EQ(header->TotalSize(), ParseID3v2Header(Id3Tag(4, Id3Frame(4, "TIT2", Text(0, "Song"))))->TotalSize() + 10);

    TID3v2 v2 = ReadTag(tag);
    EXPECT_EQ(v2.Size, static_cast<std::int32_t>(tag.size()));
    EXPECT_EQ(v2.Title, "Song");

    TempDir dir;
    TBufferedFile file(dir.Write("p.mp3", tag + MpegFrames(3)));
    TBinaryReader in(file);
    TID3v2Tag probe;
    probe.ReadFromStream(in, file.Size());
    EXPECT_EQ(probe.TotalSize(), static_cast<std::int64_t>(tag.size()));
}

// Bit 7 in a size byte: the tag reader takes the bytes as they stand (a tag
// never shrinks), the stream probes refuse the tag, the picture reader drops the bit.
TEST(ID3v2Header, BrokenSizeByteAndShortHeader) {
    std::string tag = Id3Tag(3, Id3Frame(3, "TIT2", Text(0, "Song")), 30);
    ASSERT_LT(tag[9], 0x40);
    tag[9] = static_cast<char>(tag[9] | 0x80);
    const auto header = ParseID3v2Header(tag);
    ASSERT_TRUE(header);
    EXPECT_FALSE(header->SyncSafe);
    EXPECT_EQ(header->BodySize, tag.size() - 10);
    EXPECT_EQ(header->StoredBodySize, tag.size() - 10 + 0x80);
    EXPECT_EQ(header->TotalSize(), tag.size() + 0x80);
    TID3v2 v2 = ReadTag(tag);
    EXPECT_EQ(v2.Size, static_cast<std::int32_t>(tag.size() + 0x80));
    EXPECT_EQ(v2.Title, "Song");

    EXPECT_FALSE(ParseID3v2Header(tag.substr(0, 9)));
    EXPECT_FALSE(ParseID3v2Header("TAG" + tag.substr(3)));
    EXPECT_TRUE(ParseID3v2Header(tag.substr(0, 10)));
}
