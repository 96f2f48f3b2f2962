// Writes the committed seed corpus (fuzz/corpus/<target>/) from the shapes
// the audio tests build their files with. Run from the repository root:
//   g++ -std=c++20 -Itests/audio fuzz/make_seeds.cpp -o /tmp/make_seeds && /tmp/make_seeds fuzz/corpus
#include <filesystem>
#include <fstream>
#include <map>

#include "byte_builders.h"

using namespace bytes;
namespace fs = std::filesystem;

namespace {

std::string Text(const std::string& s) { return U8(0) + s; }

std::string Id3v2Seed() {
    return Id3Tag(3,
                  Id3Frame(3, "TIT2", Text("A title")) + Id3Frame(3, "TPE1", Text("An artist")) +
                      Id3Frame(3, "TRCK", Text("3/12")) + Id3Frame(3, "TCON", Text("(17)Rock")) +
                      Id3Frame(3, "COMM", U8(0) + "eng" + "desc" + U8(0) + "comment"),
                  16);
}
std::string Id3v24Seed() {
    return Id3Tag(4, Id3Frame(4, "TIT2", U8(1) + "\xFF\xFE" + Utf16(u"Wide", false)) +
                         Id3Frame(4, "TPE2", U8(3) + "Album artist") + Id3Frame(4, "TPOS", U8(3) + "1/2"));
}
std::string Id3v22Seed() { return Id3Tag(2, Id3Frame2("TT2", Text("Old")) + Id3Frame2("TP1", Text("Tag"))); }
std::string Id3v1Seed() { return Id3v1("Title", "Artist", "Album", "1999", "Comment", 7, 17); }

std::string M4aSeed() {
    std::string entry = SampleEntry("mp4a", 2, 44100, Esds(128000, 2));
    std::string items = DataItem("\xA9nam", 1, "Name") +
                        DataItem(
                            "\xA9"
                            "ART",
                            1, "Artist") +
                        DataItem("trkn", 0, U16BE(0) + U16BE(4) + U16BE(9) + U16BE(0)) + DataItem("gnre", 0, U16BE(18));
    return Ftyp("M4A ") + Atom("moov", Mvhd(1000, 5000) + AudioTrak(entry) + Udta(items)) + Atom("mdat", Zeros(64));
}
std::string WmaSeed() {
    return AsfFile({AsfFileProperties(128000), AsfStreamProperties(2, 44100, 16000),
                    AsfContentDescription(u"Title", u"Author", u"Text"),
                    AsfExtended({{u"WM/AlbumTitle", 0, WideZ(u"Album")}, {u"WM/TrackNumber", 3, U32LE(4)}})},
                   200);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const fs::path root = argv[1];
    std::map<std::string, std::map<std::string, std::string>> seeds;
    seeds["id3v2"] = {{"v23", Id3v2Seed()},
                      {"v24", Id3v24Seed()},
                      {"v22", Id3v22Seed()},
                      {"unsync", Id3Tag(3, Id3Frame(3, "TIT2", Text("x\xFF\x00y")), 0, 0x80)}};
    seeds["id3v1"] = {{"v11", MpegFrames(2) + Id3v1Seed()}, {"both", Id3v2Seed() + MpegFrames(1) + Id3v1Seed()}};
    seeds["mpeg"] = {{"cbr", MpegFrames(6)},
                     {"xing", XingFrame(15, 100, 41700) + MpegFrames(3)},
                     {"info", XingFrame(3, 5, 2085, 2, 3, "Info") + MpegFrames(2)},
                     {"vbri", VbriFrame(50, 20000) + MpegFrames(3)},
                     {"tagged", Id3v2Seed() + MpegFrames(3) + Id3v1Seed()}};
    seeds["flac"] = {{"plain", FlacFile(44100, 2, 441000, {"TITLE=t", "ARTIST=a", "TRACKNUMBER=2/9"})},
                     {"mono", FlacFile(8000, 1, 0, {}, 10)}};
    seeds["ogg"] = {{"plain", OggFile({"TITLE=t", "ARTIST=a", "DISCNUMBER=1"}, 441000)},
                    {"tagged", Id3v22Seed() + OggFile({"ALBUM=x"}, 0, 300, 1, 22050, 0)}};
    seeds["wma"] = {{"plain", WmaSeed()}};
    seeds["m4a"] = {{"plain", M4aSeed()}};
    seeds["audio_file"] = {{"mp3", U8(0) + Id3v2Seed() + MpegFrames(3)},
                           {"wma", U8(1) + WmaSeed()},
                           {"ogg", U8(2) + OggFile({"TITLE=t"}, 44100)},
                           {"flac", U8(3) + FlacFile(44100, 2, 44100, {"ARTIST=a"})},
                           {"m4a", U8(4) + M4aSeed()}};
    for (const auto& [target, files] : seeds) {
        fs::create_directories(root / target);
        for (const auto& [name, bytes] : files) std::ofstream(root / target / name, std::ios::binary) << bytes;
    }
    return 0;
}
