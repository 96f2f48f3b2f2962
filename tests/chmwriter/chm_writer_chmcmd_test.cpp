// The same project through chmcmd (as a black box) and through our writer:
// the same pages come out with the same bytes.
#include <gtest/gtest.h>

#include <random>

#include "chm_writer_test_util.h"

using namespace chmtest;

namespace {

// User files as 7-Zip extracts them, without the compilers' own ("#...",
// "$...", chmcmd's read-me). chmcmd numbers its first listing chunk 1, so
// chmlib's enumeration misses the names of chunk 0; 7-Zip reads every chunk.
std::map<std::string, std::string> UserFiles(const std::string& chmFile, const std::string& folder) {
    std::map<std::string, std::string> files;
    int status = 0;
    RunCommand("7z x -y -o" + ShellQuote(folder) + " " + ShellQuote(chmFile) + " >/dev/null 2>&1", status);
    if (status != 0) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = "/" + fs::relative(entry.path(), folder).string();
        if (name[1] == '#' || name[1] == '$' || name == "/_#_README_#_") continue;
        files[name] = ReadFile(entry.path().string());
    }
    return files;
}

TEST(ChmWriterAgainstChmcmd, SamePagesWithTheSameBytes) {
    if (!HaveProgram("chmcmd")) GTEST_SKIP() << "chmcmd is not installed (package fp-utils)";
    if (!HaveProgram("7z")) GTEST_SKIP() << "7z is not installed (package p7zip-full)";
    TScratch scratch;
    TProject p;
    p.Add("main.html", Page("Main &amp; more"));
    for (int i = 0; i < 300; ++i)
        p.Add("art-" + std::to_string(i * 7919) + ".htm",
              Page("Artist " + std::to_string(i), std::string(static_cast<std::size_t>(200 + i * 13), 'a' + i % 26)));
    p.Add("with blank.htm", Page("Blank"));
    std::mt19937 random(5);
    std::string noise(90000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    p.Add("logo.png", noise);
    p.Add("style.css", "td { color: black; }\r\n");
    const std::string folder = scratch / "p";
    const std::string project = p.Write(folder);

    // chmcmd wants the output name in the project.
    std::string hhp = ReadFile(project);
    hhp.replace(hhp.find("[Options]\r\n"), 11, "[Options]\r\nCompiled file=cmd.chm\r\n");
    WriteFile(folder + "/cmd.hhp", hhp);
    int status = 0;
    const std::string log = RunCommand("cd " + ShellQuote(folder) + " && chmcmd --no-html-scan cmd.hhp 2>&1", status);
    ASSERT_EQ(status, 0) << log;

    const std::string ours = scratch / "ours.chm";
    const TCompileResult r = Compile(project, ours);
    ASSERT_TRUE(r.Ok) << r.Error;

    const auto theirs = UserFiles(folder + "/cmd.chm", scratch / "theirs");
    const auto mine = UserFiles(ours, scratch / "mine");
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(mine.size(), theirs.size());
    for (const auto& [name, bytes] : theirs) {
        auto it = mine.find(name);
        ASSERT_NE(it, mine.end()) << name << " missing from ours";
        EXPECT_TRUE(it->second == bytes) << name << " differs";
    }
}

}  // namespace
