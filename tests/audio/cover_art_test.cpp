#include "audio/cover_art.h"

#include <gtest/gtest.h>

#include "audio/buffered_file.h"
#include "audio/byte_builders.h"
#include "test_util.h"

namespace {

using namespace bytes;

// Stand-ins for picture bytes: the readers only hand them on.
const std::string kFront = "\xFF\xD8 front cover bytes";
const std::string kBack = "\xFF\xD8 back cover bytes";

std::string Apic(unsigned encoding, std::string_view description, unsigned type, std::string_view data) {
    std::string terminator = encoding == 1 || encoding == 2 ? std::string(2, '\0') : std::string(1, '\0');
    return U8(encoding) + "image/jpeg" + U8(0) + U8(type) + std::string(description) + terminator + std::string(data);
}

std::string FlacPicture(unsigned type, std::string_view data) {
    return U32BE(type) + U32BE(10) + "image/jpeg" + U32BE(3) + "art" + U32BE(300) + U32BE(300) + U32BE(24) + U32BE(0) +
           U32BE(std::uint32_t(data.size())) + std::string(data);
}

std::string Base64(std::string_view in) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
        out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], k[v & 63]};
    }
    if (in.size() - i == 1) {
        const unsigned v = (unsigned char)in[i] << 16;
        out += {k[v >> 18], k[(v >> 12) & 63], '=', '='};
    } else if (in.size() - i == 2) {
        const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
        out += {k[v >> 18], k[(v >> 12) & 63], k[(v >> 6) & 63], '='};
    }
    return out;
}

std::string AsfPicture(unsigned type, std::string_view data) {
    return U8(type) + U32LE(std::uint32_t(data.size())) + WideZ(u"image/jpeg") + WideZ(u"") + std::string(data);
}

class CoverArtTest : public ::testing::Test {
protected:
    std::string CoverOf(const std::string& name, const std::string& bytes) {
        return EmbeddedCover(dir_.Write(name, bytes));
    }
    TempDir dir_;
};

}  // namespace

TEST_F(CoverArtTest, Id3FrontCoverWinsOverTheFirstPicture) {
    // v2.3: back cover first, front cover (UTF-16 description) second.
    std::string frames = Id3Frame(3, "TIT2", U8(0) + "Song") + Id3Frame(3, "APIC", Apic(0, "back", 4, kBack)) +
                         Id3Frame(3, "APIC",
                                  Apic(1,
                                       std::string("\xFF\xFE"
                                                   "a\0",
                                                   4),
                                       3, kFront));
    EXPECT_EQ(CoverOf("a.mp3", Id3Tag(3, frames, 20) + MpegFrames(3)), kFront);
    // Only another picture: that one.
    EXPECT_EQ(CoverOf("b.mp3", Id3Tag(4, Id3Frame(4, "APIC", Apic(3 /*UTF-8*/, "x", 0, kBack))) + MpegFrames(3)),
              kBack);
    // v2.2 PIC frame.
    EXPECT_EQ(CoverOf("c.mp3", Id3Tag(2, Id3Frame2("PIC", U8(0) + "JPG" + U8(3) + "d" + U8(0) + kFront))), kFront);
    // No picture, no tag, a frame size running past the tag: nothing, no error.
    EXPECT_EQ(CoverOf("d.mp3", Id3Tag(3, Id3Frame(3, "TIT2", U8(0) + "Song")) + MpegFrames(3)), "");
    EXPECT_EQ(CoverOf("e.mp3", MpegFrames(3)), "");
    std::string broken = Id3Tag(3, Id3Frame(3, "APIC", Apic(0, "", 3, kFront)));
    broken[10 + 7] = '\x7F';  // frame size far beyond the tag
    EXPECT_EQ(CoverOf("f.mp3", broken), "");
    EXPECT_EQ(CoverOf("g.mp3", "ID3"), "");
}

TEST_F(CoverArtTest, Id3UnsynchronisedTagIsResynced) {
    // 0xFF 0xD8 stuffed as 0xFF 0x00 0xD8 in a v2.3 tag with the unsync flag.
    std::string body = Apic(0, "", 3, kFront);
    std::string stuffed;
    for (char c : body) {
        stuffed += c;
        if (static_cast<unsigned char>(c) == 0xFF) stuffed += '\0';
    }
    std::string frame = "APIC" + U32BE(std::uint32_t(body.size())) + U16BE(0) + stuffed;
    EXPECT_EQ(CoverOf("u.mp3", Id3Tag(3, frame, 0, 0x80) + MpegFrames(2)), kFront);
}

// A leading tag's footer is skipped before the FLAC stream; a picture in a
// tag whose size has bit 7 set in a byte is still read, without that bit.
TEST_F(CoverArtTest, LeadingTagFooterAndBrokenSizeByte) {
    const std::string flac = "fLaC" + FlacBlock(0, StreamInfo(44100, 2, 16, 44100), false) +
                             FlacBlock(6, FlacPicture(3, kFront), true) + std::string(100, '\x33');
    std::string footed = Id3Tag(4, Id3Frame(4, "TIT2", U8(0) + "Song"), 0, 0x10);
    footed += "3DI" + footed.substr(3, 7);
    EXPECT_EQ(CoverOf("footer.flac", footed + flac), kFront);

    std::string tag = Id3Tag(3, Id3Frame(3, "APIC", Apic(0, "", 3, kFront)));
    ASSERT_LT(tag[9], 0x40);
    tag[9] = static_cast<char>(tag[9] | 0x80);
    EXPECT_EQ(CoverOf("bit7.mp3", tag + MpegFrames(3)), kFront);
}

TEST_F(CoverArtTest, FlacAndVorbisPictures) {
    const std::string flac = "fLaC" + FlacBlock(0, StreamInfo(44100, 2, 16, 44100), false) +
                             FlacBlock(6, FlacPicture(0, kBack), false) + FlacBlock(6, FlacPicture(3, kFront), true) +
                             std::string(100, '\x33');
    EXPECT_EQ(CoverOf("a.flac", flac), kFront);
    // A picture block whose data length runs past the block is skipped.
    std::string bad = FlacPicture(3, kFront);
    bad[bad.size() - kFront.size() - 1] = '\x7F';
    EXPECT_EQ(CoverOf("b.flac", "fLaC" + FlacBlock(6, bad, true)), "");
    EXPECT_EQ(CoverOf("c.flac", FlacFile(44100, 2, 44100, {"TITLE=x"})), "");

    // A comment packet of many lacing segments.
    const std::string big(30000, 'p');
    const std::string comment = "METADATA_BLOCK_PICTURE=" + Base64(FlacPicture(3, big));
    EXPECT_EQ(CoverOf("a.ogg", OggFile({"TITLE=x", comment}, 44100)), big);
    EXPECT_EQ(CoverOf("b.ogg", OggFile({"TITLE=x"}, 44100)), "");
    EXPECT_EQ(CoverOf("c.ogg", OggFile({"METADATA_BLOCK_PICTURE=not base64!"}, 44100)), "");
}

TEST_F(CoverArtTest, M4aAndWmaPictures) {
    const std::string covr = Atom("covr", Atom("data", U32BE(13) + U32BE(0) + kFront));
    const std::string meta = Atom("meta", U32BE(0) + Atom("hdlr", Zeros(25)) + Atom("ilst", covr));
    EXPECT_EQ(CoverOf("a.m4a", Atom("ftyp", "M4A mp42") + Atom("moov", Atom("udta", meta))), kFront);
    EXPECT_EQ(CoverOf("b.m4a", Atom("ftyp", "M4A mp42") + Atom("moov", Atom("udta", ""))), "");

    const std::string wma = AsfFile({AsfExtended({{u"WM/Picture", 1, AsfPicture(4, kBack)},
                                                  {u"WM/Picture", 1, AsfPicture(3, kFront)},
                                                  {u"WM/AlbumTitle", 0, WideZ(u"x")}})});
    EXPECT_EQ(CoverOf("a.wma", wma), kFront);
    EXPECT_EQ(CoverOf("b.wma", AsfFile({AsfExtended({{u"WM/AlbumTitle", 0, WideZ(u"x")}})})), "");
    // The bytes decide, not the name; a missing file has no cover.
    EXPECT_EQ(CoverOf("a.wav", wma), kFront);
    EXPECT_EQ(EmbeddedCover(dir_ / "missing.mp3"), "");
}

TEST_F(CoverArtTest, FolderCoverByNameThenTheOnlyImage) {
    dir_.Write("one/Folder.JPG", "x");
    dir_.Write("one/back.jpg", "x");
    dir_.Write("one/COVER.png", "x");
    EXPECT_EQ(FolderCoverFile(dir_ / "one"), dir_ / "one/COVER.png");
    dir_.Write("two/scan 1.jpeg", "x");
    dir_.Write("two/notes.txt", "x");
    EXPECT_EQ(FolderCoverFile(dir_ / "two"), dir_ / "two/scan 1.jpeg");
    dir_.Write("three/a.jpg", "x");
    dir_.Write("three/b.png", "x");
    EXPECT_EQ(FolderCoverFile(dir_ / "three"), "");
    EXPECT_EQ(FolderCoverFile(dir_ / "none"), "");
}

TEST(Base64Test, DecodesPaddedTextAndRefusesOtherBytes) {
    EXPECT_EQ(DecodeBase64("aGVsbG8="), "hello");
    EXPECT_EQ(DecodeBase64("aGVsbG8h"), "hello!");
    EXPECT_EQ(DecodeBase64("aGVs\nbG8="), "hello");
    EXPECT_EQ(DecodeBase64("aGV$bG8="), "");
    EXPECT_EQ(DecodeBase64("aG=Vs"), "");
}
