// Failures and stops: a reason, false, and nothing half-written left behind.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "chm_writer_test_util.h"

using namespace chmtest;
using namespace std::string_literals;

namespace {

// Files in folder that a failed compilation could have left.
std::vector<std::string> Leftovers(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".chmwriter-") != std::string::npos || name.find(".chm") != std::string::npos)
            names.push_back(name);
    }
    return names;
}

// Bytes that do not compress, enough for several LZX frames.
std::string Noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string noise(size, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    return noise;
}

// How often a whole compilation of project asks whether to go on.
int Questions(const std::string& project, const std::string& output) {
    int questions = 0;
    EXPECT_TRUE(Compile(project, output, {}, [&] {
                    ++questions;
                    return true;
                }).Ok);
    return questions;
}

TProject SmallProject() {
    TProject p;
    p.Add("main.html", Page("Main"));
    p.Add("second.htm", Page("Second"));
    return p;
}

TEST(ChmWriterErrors, MissingPageIsNamedAndNothingIsWritten) {
    TScratch scratch;
    const std::string project = SmallProject().Write(scratch / "p");
    fs::remove(scratch / "p/second.htm");
    fs::create_directories(scratch / "out");
    const TCompileResult r = Compile(project, scratch / "out/help.chm");
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Error.find("\"second.htm\""), std::string::npos) << r.Error;
    EXPECT_NE(r.Error.find("does not exist"), std::string::npos) << r.Error;
    EXPECT_TRUE(Leftovers(scratch / "out").empty());
}

TEST(ChmWriterErrors, UnreadableProjectAndFolderInPlaceOfAFile) {
    TScratch scratch;
    TCompileResult r = Compile(scratch / "none.hhp", scratch / "help.chm");
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Error.find("Cannot read"), std::string::npos) << r.Error;
    EXPECT_NE(r.Error.find("No such file or directory"), std::string::npos) << r.Error;

    TProject p = SmallProject();
    const std::string project = p.Write(scratch / "p");
    fs::remove(scratch / "p/second.htm");
    fs::create_directories(scratch / "p/second.htm");
    r = Compile(project, scratch / "help.chm");
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Error.find("is not a file"), std::string::npos) << r.Error;
}

TEST(ChmWriterErrors, NamesDifferingOnlyInCaseAreRefused) {
    TScratch scratch;
    TProject p = SmallProject();
    p.Add("Second.htm", Page("Other"));
    const TCompileResult r = Compile(p.Write(scratch / "p"), scratch / "help.chm");
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Error.find("letter case"), std::string::npos) << r.Error;
}

TEST(ChmWriterErrors, StopKeepsTheEarlierFileAndLeavesNoPartialOne) {
    TScratch scratch;
    TProject p = SmallProject();
    p.Add("noise.bin", Noise(400000, 1));
    const std::string project = p.Write(scratch / "p");
    fs::create_directories(scratch / "out");
    const std::string output = scratch / "out/help.chm";
    WriteFile(output, "earlier file");

    // Stops at every point the writer asks, from the first question to the last.
    const int questions = Questions(project, scratch / "count.chm");
    ASSERT_GT(questions, 3);
    for (int stopAt = 0; stopAt < questions; ++stopAt) {
        int asked = 0;
        const TCompileResult r = Compile(project, output, {}, [&] { return asked++ < stopAt; });
        EXPECT_FALSE(r.Ok) << stopAt;
        EXPECT_EQ(r.Error, "Compilation stopped.");
        EXPECT_EQ(ReadFile(output), "earlier file");
        EXPECT_EQ(Leftovers(scratch / "out"), std::vector<std::string>{"help.chm"});
    }
}

// Every file under folder with its bytes, links as their targets.
std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> all;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).string();
        if (entry.is_symlink())
            all[name] = "-> " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            all[name] = "folder";
        else
            all[name] = ReadFile(entry.path().string());
    }
    return all;
}

// The compressed section waits in a file beside the output while it is
// written, nameless or named for a moment: music there stays as it was,
// whether the run ends or is stopped.
TEST(ChmWriterErrors, OutputBesideMusicTouchesNothingElse) {
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named spill file" : "nameless spill file");
        SetChmSpillWithoutTmpfileForTesting(named);
        TScratch scratch;
        TProject p = SmallProject();
        const std::string noise = Noise(600000, 3);
        p.Add("noise.bin", noise);
        const std::string project = p.Write(scratch / "p");
        const std::string out = scratch / "out";
        fs::create_directories(out + "/Music/Album");
        WriteFile(out + "/Music/Album/01 Song.mp3", "ID3 not really audio" + noise.substr(0, 5000));
        WriteFile(out + "/Music/Album/cover.jpg", "\xFF\xD8 picture");
        fs::create_symlink("Album/01 Song.mp3", out + "/Music/latest.mp3");
        WriteFile(out + "/help.chm", "earlier file");
        const std::map<std::string, std::string> before = Contents(out);

        const int questions = Questions(project, scratch / "count.chm");
        for (int stopAt = 0; stopAt < questions; stopAt += std::max(1, questions / 7)) {
            int asked = 0;
            EXPECT_FALSE(Compile(project, out + "/help.chm", {}, [&] { return asked++ < stopAt; }).Ok);
            EXPECT_EQ(Contents(out), before) << "stopped at question " << stopAt;
        }
        ASSERT_TRUE(Compile(project, out + "/help.chm").Ok);
        std::map<std::string, std::string> after = Contents(out);
        EXPECT_NE(after.at("help.chm"), "earlier file");
        after["help.chm"] = "earlier file";
        EXPECT_EQ(after, before);
    }
    SetChmSpillWithoutTmpfileForTesting(false);
}

TEST(ChmWriterErrors, FullDiskIsReportedAndTheTemporaryFileRemoved) {
    TScratch scratch;
    const std::string disk = scratch / "small";
    fs::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
    TProject p = SmallProject();
    p.Add("noise.bin", Noise(300000, 2));
    const TCompileResult r = Compile(p.Write(scratch / "p"), disk + "/help.chm");
    const std::vector<std::string> left = Leftovers(disk);
    ::umount(disk.c_str());
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Error.find("No space left on device"), std::string::npos) << r.Error;
    EXPECT_TRUE(left.empty());
}

}  // namespace

// Files the caller holds stand in for missing ones and win over what is on
// disk; once the writer says it has read them, the caller may let them go.
TEST(ChmWriterErrors, FilesHeldInMemoryNeedNoDiskCopy) {
    TScratch scratch;
    TProject p = SmallProject();
    p.Add("cover.jpg", "stale copy on disk");
    const std::string project = p.Write(scratch / "p");
    fs::remove(scratch / "p/second.htm");
    const std::string second = Page("Second", "<p>held in memory</p>");
    const std::string cover = "\xFF\xD8 picture bytes\0\x01"s;
    std::string heldSecond = second, heldCover = cover;
    const std::map<std::string, std::string_view> held = {{"second.htm", heldSecond}, {"cover.jpg", heldCover}};
    TChmWriteOptions options;
    options.MemoryFiles = &held;
    options.Timestamp = 1700000000;
    int filesRead = 0;
    TChmWriteCallbacks callbacks;
    callbacks.OnFilesRead = [&] {
        ++filesRead;
        std::fill(heldSecond.begin(), heldSecond.end(), 'x');  // what a freed buffer may hold
        std::fill(heldCover.begin(), heldCover.end(), 'x');
    };
    std::string error;
    callbacks.OnError = [&](const std::string& reason) { error = reason; };
    ASSERT_TRUE(WriteChmFromProject(project, scratch / "help.chm", options, callbacks)) << error;
    EXPECT_EQ(filesRead, 1);
    TChmLib chm(scratch / "help.chm");
    ASSERT_TRUE(chm.Open());
    EXPECT_EQ(chm.Read("/second.htm").value_or(""), second);
    EXPECT_EQ(chm.Read("/cover.jpg").value_or(""), cover);
    EXPECT_TRUE(chm.Read("/main.html"));
}
