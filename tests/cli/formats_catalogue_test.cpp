// End to end: a collection with one file of every format the program reads
// becomes web pages, and each file is on its album's page.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include "audio/format_builders.h"
#include "test_util.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace bytes;

std::string BuiltExe() {
    const char* exe = std::getenv("ORVALIS_EXE");
    return exe && *exe ? exe : std::string(ORVALIS_BINARY_DIR) + "/orvalis";
}

// The program and its data files in a folder of the test's own, so its
// configuration is written there and not beside the build.
std::string ProgramIn(const TempDir& dir) {
    const fs::path built = BuiltExe();
    const fs::path bin = fs::path(dir.Path()) / "bin";
    fs::create_directories(bin);
    fs::copy_file(built, bin / "orvalis");
    for (const char* name : {"data", "steps.txt", "fnametemplates.txt", "default.lng"})
        fs::copy_file(built.parent_path() / name, bin / name);
    return (bin / "orvalis").string();
}

int RunProgram(const std::string& exe, const std::vector<std::string>& args, const TempDir& home, std::string& err) {
    std::vector<std::string> env = {"HOME=" + home.Path(), "XDG_RUNTIME_DIR=" + (home / "run"),
                                    "XDG_CONFIG_HOME=" + (home / "config"), "LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"};
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    const std::string errFile = home / "stderr.txt";
    std::string command = "'" + exe + "'";
    for (const std::string& a : args) command += " '" + a + "'";
    command += " >/dev/null 2>'" + errFile + "' </dev/null";
    std::vector<char*> envp, argv;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string sh = "/bin/sh", c = "-c";
    argv = {sh.data(), c.data(), command.data(), nullptr};
    pid_t pid;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    err = LoadTextFile(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(FormatsCatalogue, OneFileOfEveryFormatIsOnItsAlbumPage) {
    TempDir home;
    const std::string exe = ProgramIn(home);
    const std::string music = home / "music";
    fs::create_directories(music);
    const std::string examples = std::string(ORVALIS_SOURCE_DIR) + "/examples/music/";
    auto id3 = [](const std::string& title) {
        return Id3Tag(3, Id3Frame(3, "TIT2", U8(0) + title) + Id3Frame(3, "TPE1", U8(0) + "Band") +
                      Id3Frame(3, "TALB", U8(0) + "Album " + title));
    };
    auto ape = [](const std::string& title) {
        return ApeTag({ApeItem("Title", title), ApeItem("Artist", "Band"), ApeItem("Album", "Album " + title)});
    };
    auto comments = [](const std::string& title) {
        return VorbisComments({"TITLE=" + title, "ARTIST=Band", "ALBUM=Album " + title});
    };
    const std::vector<std::pair<std::string, std::string>> files = {
        {"mp3 title.mp3", LoadTextFile(examples + "Aurora Quartet - Morning Light.mp3")},
        {"mp2 title.mp2", id3("Mp2Song") + MpegFrames(30)},
        {"flac.flac", LoadTextFile(examples + "Nordlys - Fjord.flac")},
        {"ogg.ogg", LoadTextFile(examples + "Aurora Quartet - Evening Tide.ogg")},
        {"wma.wma", LoadTextFile(examples + "Grey Skies - Rainfall.wma")},
        {"m4a.m4a", LoadTextFile(examples + "Aurora Quartet - Midnight Blue.m4a")},
        {"opus.opus", OggStream({OpusHead(2, 312), "OpusTags" + comments("OpusSong")}, 48000 * 3)},
        {"speex.spx",
         OggStream({"Speex   " + Zeros(20) + U32LE(1) + U32LE(80) + U32LE(16000) + U32LE(1) + U32LE(4) + U32LE(1) +
                        U32LE(0) + Zeros(28),
                    comments("SpeexSong")},
                   16000 * 3)},
        {"oggflac.oga", OggStream({OggFlacHead(44100, 44100 * 3), FlacBlock(4, comments("OggFlacSong"), true)}, 0)},
        {"aiff.aiff", AiffFile(44100, id3("AiffSong"))},
        {"wav.wav", WavFile(176400, RiffChunk("id3 ", id3("WavSong")))},
        {"wavpack.wv", WavPackFile(44100 * 3) + ape("WavPackSong")},
        {"monkey.ape", MonkeysFile(2, 14388) + ape("MonkeySong")},
        {"musepack.mpc", MusepackSv7File(500) + ape("MusepackSong")},
        {"tta.tta", TrueAudioFile(88200) + ape("TtaSong")},
        {"dsf.dsf", DsfFile(2822400 * 2, id3("DsfSong"))},
        {"book.m4b", Ftyp("M4B ") + Atom("moov", Mvhd(1000, 5000) +
                                                    AudioTrak(SampleEntry("mp4a", 2, 44100, Esds(128000))) +
                                                    Udta(DataItem("\xA9nam", 1, "BookSong") +
                                                         DataItem("\xA9" "alb", 1, "Album BookSong")))},
        {"notes.mp3", "not music at all, only text\n"},
    };
    for (const auto& [name, content] : files) SaveTextFile(content, music + "/" + name);

    const std::string site = home / "site";
    std::string err;
    ASSERT_EQ(RunProgram(exe, {"build", "--html", site, music}, home, err), 0) << err;
    EXPECT_NE(err.find("1 files could not be read"), std::string::npos) << err;
    EXPECT_NE(err.find("notes.mp3"), std::string::npos) << err;

    std::vector<std::string> albumPages;
    for (const auto& e : fs::directory_iterator(site))
        if (e.path().filename().string().rfind("alb-", 0) == 0) albumPages.push_back(LoadTextFile(e.path().string()));
    for (const char* title : {"Morning Light", "Mp2Song", "Fjord", "Evening Tide", "Rainfall", "Midnight Blue",
                              "OpusSong", "SpeexSong", "OggFlacSong", "AiffSong", "WavSong", "WavPackSong",
                              "MonkeySong", "MusepackSong", "TtaSong", "DsfSong", "BookSong"}) {
        const bool found = std::any_of(albumPages.begin(), albumPages.end(), [&](const std::string& page) {
            return page.find(std::string(">") + title + "<") != std::string::npos;
        });
        EXPECT_TRUE(found) << title;
    }
}
