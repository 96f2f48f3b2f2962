// Runs the built program: `orvalis info` on the sample collection.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "audio/byte_builders.h"
#include "audio/samples.h"
#include "test_util.h"

namespace {

struct RunResult {
    int status = -1;
    std::string out;
};

RunResult RunOrvalis(const std::string& arguments) {
    const char* exe = std::getenv("ORVALIS_EXE");
    std::string command =
        "'" + std::string(exe ? exe : ORVALIS_BINARY_DIR "/orvalis") + "' " + arguments + " 2>/dev/null";
    RunResult r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    int raw = ::pclose(pipe);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

std::string Json(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

const std::string kMusic = std::string(ORVALIS_SOURCE_DIR) + "/examples/music";

}  // namespace

TEST(InfoCommand, JsonOfTheSampleCollection) {
    RunResult r = RunOrvalis("info --json '" + kMusic + "'/*");
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(r.out.front(), '[');
    EXPECT_EQ(r.out.find("\"error\""), std::string::npos);
    for (const SampleFile& s : kSamples) {
        const std::string path = kMusic + "/" + s.name;
        std::string expected = "{\"file\": " + Json(path) + ", \"texts\": [";
        for (const char* t : s.texts) expected += Json(t) + ", ";
        expected += Json(path) + "], \"numbers\": [" + std::to_string(s.seconds) + ", ";
        if (s.sampleRate) expected += std::to_string(s.sampleRate) + ", ";
        EXPECT_NE(r.out.find(expected), std::string::npos) << "missing: " << expected << "\nin:\n" << r.out;
    }
}

TEST(InfoCommand, ErrorsAndPlainOutput) {
    TempDir dir;
    std::string bad = dir.Write("broken.flac", "");
    dir.Write("notes.txt", "hello");
    RunResult r = RunOrvalis("info --json '" + dir / "missing.mp3" + "' '" + dir / "notes.txt" + "' '" + bad + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("{\"file\": " + Json(dir / "missing.mp3") +
                         ", \"texts\": [\"\", \"\", \"\", \"\", \"\", \"\", "
                         "\"\", " +
                         Json(dir / "missing.mp3") + "], \"numbers\": [], \"error\": \"Cannot open file "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"error\": \"Not an audio file"), std::string::npos) << r.out;
    // An empty file is no audio of any kind, whatever its name.
    EXPECT_NE(r.out.find(Json(bad) + "], \"numbers\": [], \"error\": \"not an audio file of a known kind\""),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(nlohmann::json::accept(r.out)) << r.out;

    RunResult plain = RunOrvalis("info '" + kMusic + "/Aurora Quartet - Morning Light.mp3'");
    EXPECT_EQ(plain.status, 0);
    EXPECT_NE(plain.out.find("  Artist:       Aurora Quartet\n"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("  Playing time: 0:04\n"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("  Sample rate:  22050 Hz\n"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("  Bit rate:     32 kbit/s\n"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("  Channels:     mono\n"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("  MPEG version: MPEG-2\n"), std::string::npos) << plain.out;

    EXPECT_EQ(RunOrvalis("info").status, 2);
    EXPECT_EQ(RunOrvalis("info --bogus x.mp3").status, 2);
}

TEST(InfoCommand, AlbumArtistAndDisc) {
    using namespace bytes;
    TempDir dir;
    std::string frames = Id3Frame(3, "TIT2", U8(0) + "Song") + Id3Frame(3, "TPE2", U8(0) + "Various \"Artists\"") +
                         Id3Frame(3, "TPOS", U8(0) + "2/3");
    std::string path = dir.Write("a.mp3", Id3Tag(3, frames) + MpegFrames(10));
    RunResult json = RunOrvalis("info --json '" + path + "'");
    EXPECT_EQ(json.status, 0);
    const nlohmann::json parsed = nlohmann::json::parse(json.out);
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0]["album_artist"], "Various \"Artists\"");
    EXPECT_EQ(parsed[0]["disc"], "2");
    EXPECT_EQ(parsed[0]["mpeg_layer"], parsed[0]["numbers"][6]);
    EXPECT_EQ(parsed[0]["seconds"], parsed[0]["numbers"][0]);
    RunResult plain = RunOrvalis("info '" + path + "'");
    EXPECT_NE(plain.out.find("  Genre:        \n  Album artist: Various \"Artists\"\n  Disc:         2\n  File name:"),
              std::string::npos)
        << plain.out;
}

// Every refusal names what it refuses: no message keeps an unfilled "$1".
TEST(InfoCommand, ErrorMessagesFillEveryPlaceholder) {
    TempDir dir;
    dir.Write("notes.txt", "hello");
    dir.Write("folder.mp3/x", "");
    ASSERT_EQ(::mkfifo((dir / "pipe.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((dir / "nowhere.mp3").c_str(), (dir / "gone.mp3").c_str()), 0);
    const std::string quoted = "'" + dir.Path() + "/";
    for (const std::string& args :
         {std::string("info ''"), "info " + quoted + "missing.mp3'", "info " + quoted + "notes.txt'",
          "info " + quoted + "folder.mp3'", "info " + quoted + "pipe.mp3'", "info " + quoted + "gone.mp3'",
          std::string("info --bogus x.mp3"), std::string("info"), "info --json " + quoted + "notes.txt'"}) {
        const RunResult r = RunOrvalis(args + " 2>&1");
        EXPECT_NE(r.status, 0) << args;
        EXPECT_FALSE(std::regex_search(r.out, std::regex("\\$[0-9]"))) << args << "\n" << r.out;
    }
}
