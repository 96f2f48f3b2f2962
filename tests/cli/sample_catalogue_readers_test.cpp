// The sample collection built by the program itself, read back by three
// independent decoders and python3-chm: every file the catalogue holds comes
// out the same through each, and every page is a topic with its title.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "chmwriter/chm_writer_test_util.h"
#include "output/chm_files.h"

namespace {

using namespace chmtest;

std::string BuiltExe() {
    const char* exe = std::getenv("ORVALIS_EXE");
    return exe && *exe ? exe : std::string(ORVALIS_BINARY_DIR) + "/orvalis";
}

// Every normal file of the catalogue with its bytes, through chmlib.
std::map<std::string, std::string> FilesThroughChmlib(const std::string& fileName) {
    return ReadChmFiles(fileName, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES);
}

std::string TitleOf(const std::string& page) {
    std::smatch m;
    static const std::regex title("<title>([^<]*)</title>", std::regex::icase);
    return std::regex_search(page, m, title) ? m[1].str() : std::string();
}

}  // namespace

TEST(SampleCatalogue, ThreeDecodersAndPythonAgreeOnEveryFile) {
    TScratch home;
    const std::string chm = home / "sample.chm";
    const std::string command = "HOME=" + ShellQuote(home.Path()) + " XDG_CONFIG_HOME=" + ShellQuote(home / "config") +
                                " XDG_RUNTIME_DIR=" + ShellQuote(home.Path()) + " " + ShellQuote(BuiltExe()) +
                                " build --force --out " + ShellQuote(chm) + " " +
                                ShellQuote(std::string(ORVALIS_SOURCE_DIR) + "/examples/music") + " 2>&1";
    int status = 0;
    const std::string log = RunCommand(command, status);
    ASSERT_EQ(status, 0) << log;

    const auto files = FilesThroughChmlib(chm);
    std::set<std::string> pages;
    for (const auto& [name, bytes] : files)
        if (name.ends_with(".htm") || name.ends_with(".html")) pages.insert(name);
    ASSERT_GT(pages.size(), 40u) << "four groupings of the sample collection";
    for (const char* shared : {"/main.html", "/style.css", "/logo.png", "/temp.hhc", "/temp.hhk"})
        EXPECT_TRUE(files.count(shared)) << shared;

    TMsPack mspack;
    ASSERT_NE(mspack.FastOpen(chm), nullptr) << "libmspack refuses the file: error " << mspack.LastError();
    for (const auto& [name, bytes] : files) {
        mschmd_file entry{};
        ASSERT_EQ(mspack.FastFind(name, entry), static_cast<long long>(bytes.size())) << name;
        EXPECT_EQ(mspack.Extract(&entry, home / "extracted"), bytes) << name;
    }

    if (HaveProgram("7z")) {
        const std::string listing = RunCommand("7z l " + ShellQuote(chm), status);
        ASSERT_EQ(status, 0) << listing;
        for (const auto& [name, bytes] : files) EXPECT_NE(listing.find(name.substr(1)), std::string::npos) << name;
    } else {
        ADD_FAILURE() << "7z is missing (package p7zip-full)";
    }

    TChmLib lib(chm);
    const auto titles = TopicTitles(lib);
    for (const std::string& page : pages) {
        ASSERT_TRUE(titles.count(page.substr(1))) << page << " has no topic";
        const std::string expected = TitleOf(files.at(page));
        EXPECT_FALSE(titles.at(page.substr(1)).empty()) << page;
        // Titles without references must come through letter for letter.
        if (expected.find('&') == std::string::npos) {
            EXPECT_EQ(titles.at(page.substr(1)), expected) << page;
        }
    }

    const std::string python = PythonWithChm();
    if (python.empty()) GTEST_SKIP() << "python3-chm is missing; the decoders agreed";
    const std::string script =
        "import chm.chm,sys\nf=chm.chm.CHMFile()\nf.LoadCHM(sys.argv[1])\n"
        "print(f.home.decode() if isinstance(f.home,bytes) else f.home)\n"
        "t=f.title\nprint(t.decode('cp1252') if isinstance(t,bytes) else t)\n";
    const std::string out = RunCommand(python + " -c " + ShellQuote(script) + " " + ShellQuote(chm), status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out.substr(0, out.find('\n')), "/main.html") << out;
    EXPECT_GT(out.size(), std::string("/main.html\n\n").size()) << "the catalogue has a title: " << out;
}
