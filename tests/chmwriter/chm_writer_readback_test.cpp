// A project with awkward files, written and read back by every decoder at hand.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "chm_writer_test_util.h"

using namespace chmtest;

namespace {

std::string Noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(random() & 0xFF);
    return s;
}

// Text that compresses, longer than a window and than a reset interval.
std::string LongCatalogue(std::size_t size) {
    std::string s;
    for (int i = 0; s.size() < size; ++i)
        s += "<tr class=\"odd\"><td class=\"track\">Track " + std::to_string(i) + "</td><td>0:0" +
             std::to_string(i % 10) + "</td></tr>\r\n";
    s.resize(size);
    return s;
}

TProject AwkwardProject() {
    TProject p;
    p.Add("main.html", Page("Music &amp; more"));
    p.Add("caf\xC3\xA9 #1.html", Page("Caf&#233; &#x23;1 &eacute;"));
    p.Add("100% pure.htm", Page("100&#37; &#1044;&#1086;&#1084; &#22338;&#26412;"));
    p.Add("Zo\xC3\xAB/\xD0\x94\xD0\xBE\xD0\xBC.htm", Page("Zo&#235; &mdash; Nested"));
    p.Add("empty.txt", "");
    p.Add("long.htm", Page("Long", LongCatalogue(300000)));
    p.Add("noise.htm", Page("Noise") + Noise(100000, 7));
    p.Add("style.css", "body { font-family: sans-serif; }\r\n");
    p.Add("logo.png", Noise(269, 3));
    return p;
}

class ChmWriterReadBack : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        project_ = AwkwardProject();
        projectFile_ = project_.Write(scratch_ / "project");
        output_ = scratch_ / "out.chm";
        TCompileResult r = Compile(projectFile_, output_);
        ASSERT_TRUE(r.Ok) << r.Error;
        expected_["/temp.hhc"] = ReadFile(scratch_ / "project/temp.hhc");
        expected_["/temp.hhk"] = ReadFile(scratch_ / "project/temp.hhk");
        expected_["/self.chmprj"] = ReadFile(scratch_ / "project/self.chmprj");
        for (const auto& [address, content] : project_.Files) expected_["/" + address] = content;
    }

    TScratch scratch_;
    TProject project_;
    std::string projectFile_, output_;
    std::map<std::string, std::string> expected_;
};

TEST_F(ChmWriterReadBack, ChmlibListsResolvesAndReadsEveryFile) {
    TChmLib chm(output_);
    ASSERT_TRUE(chm.Open());
    const std::vector<std::string> names = chm.Names();
    const std::set<std::string> listed(names.begin(), names.end());
    for (const auto& [name, content] : expected_) {
        EXPECT_TRUE(listed.count(name)) << name << " not enumerated";
        const auto bytes = chm.Read(name);
        ASSERT_TRUE(bytes) << name << " not resolved";
        EXPECT_EQ(*bytes, content) << name;
    }
    for (const char* internal : {"/#SYSTEM", "/#TOPICS", "/#URLTBL", "/#URLSTR", "/#STRINGS", "/#IDXHDR", "/#ITBITS",
                                 "::DataSpace/NameList", "::DataSpace/Storage/MSCompressed/ControlData"})
        EXPECT_TRUE(listed.count(internal)) << internal;
    // Every enumerated name is found again by lookup, including in another letter case.
    for (const auto& name : names) {
        chmUnitInfo ui{};
        EXPECT_TRUE(chm.Resolve(name, ui)) << name;
    }
    chmUnitInfo ui{};
    EXPECT_TRUE(chm.Resolve("/MAIN.HTML", ui));
    EXPECT_FALSE(chm.Resolve("/missing.html", ui));
}

TEST_F(ChmWriterReadBack, HeaderCarriesBothGuidsAndTheFirstListingChunkIsZero) {
    const std::string file = ReadFile(output_);
    ASSERT_GT(file.size(), 0xD0u);
    EXPECT_EQ(file.substr(0, 4), "ITSF");
    EXPECT_EQ(U32At(file, 4), 3u);
    EXPECT_EQ(U32At(file, 0x14), 0x409u);
    const unsigned char guid1[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                     0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    unsigned char guid2[16];
    std::copy(std::begin(guid1), std::end(guid1), guid2);
    guid2[0] = 0x11;
    EXPECT_EQ(file.compare(0x18, 16, reinterpret_cast<const char*>(guid1), 16), 0);
    EXPECT_EQ(file.compare(0x28, 16, reinterpret_cast<const char*>(guid2), 16), 0);
    // The file size in header section 0 is the real one.
    EXPECT_EQ(U32At(file, 0x60 + 8), file.size());
    const std::size_t itsp = 0x78;
    EXPECT_EQ(file.substr(itsp, 4), "ITSP");
    EXPECT_EQ(U32At(file, itsp + 0x20), 0u);  // first PMGL
    EXPECT_EQ(file.substr(itsp + 0x54, 4), "PMGL");
}

TEST_F(ChmWriterReadBack, LibmspackOpensFindsAndExtractsEveryFile) {
    TMsPack mspack;
    mschmd_header* chm = mspack.Open(output_);
    ASSERT_NE(chm, nullptr) << "libmspack error " << mspack.LastError();
    EXPECT_EQ(chm->version, 3u);
    EXPECT_EQ(chm->language, 0x409u);
    EXPECT_EQ(chm->first_pmgl, 0u);
    std::set<std::string> seen;
    for (mschmd_file* f = chm->files; f; f = f->next) {
        seen.insert(f->filename);
        auto it = expected_.find(f->filename);
        if (it == expected_.end()) continue;
        const auto bytes = mspack.Extract(f, scratch_ / "extracted");
        ASSERT_TRUE(bytes) << f->filename;
        EXPECT_EQ(*bytes, it->second) << f->filename;
    }
    ASSERT_NE(mspack.FastOpen(output_), nullptr);
    for (const auto& [name, content] : expected_) {
        EXPECT_TRUE(seen.count(name)) << name << " not listed";
        mschmd_file found{};
        EXPECT_EQ(mspack.FastFind(name, found), static_cast<long long>(content.size())) << name;
    }
    mschmd_file found{};
    EXPECT_EQ(mspack.FastFind("/missing.html", found), -1);
}

TEST_F(ChmWriterReadBack, SevenZipListsAndExtractsEveryFile) {
    if (!HaveProgram("7z")) GTEST_SKIP() << "7z is not installed (package p7zip-full)";
    int status = 0;
    const std::string list = RunCommand("7z l -ba " + ShellQuote(output_) + " 2>&1", status);
    EXPECT_EQ(status, 0) << list;
    const std::string folder = scratch_ / "7z";
    const std::string log = RunCommand("7z x -y -o" + ShellQuote(folder) + " " + ShellQuote(output_) + " 2>&1", status);
    ASSERT_EQ(status, 0) << log;
    for (const auto& [name, content] : expected_) {
        EXPECT_NE(list.find(name.substr(1)), std::string::npos) << name << " not listed";
        EXPECT_EQ(ReadFile(folder + name), content) << name;
    }
}

TEST_F(ChmWriterReadBack, PythonChmSeesHomeTitleAndOneTitledTopicPerPage) {
    const std::string python = PythonWithChm();
    if (python.empty()) GTEST_SKIP() << "python3-chm is not installed";
    const std::string script =
        "import chm.chm, sys\n"
        "f = chm.chm.CHMFile()\n"
        "assert f.LoadCHM(sys.argv[1])\n"
        "print(f.home.decode()); print(f.title.decode())\n";
    WriteFile(scratch_ / "probe.py", script);
    int status = 0;
    const std::string out =
        RunCommand(python + " " + ShellQuote(scratch_ / "probe.py") + " " + ShellQuote(output_), status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out, "/main.html\nMusic Catalogue\n");

    TChmLib chm(output_);
    const auto titles = TopicTitles(chm);
    std::map<std::string, std::string> pages;
    for (const auto& [address, content] : project_.Files)
        if (address.find(".htm") != std::string::npos) pages[address] = "";
    EXPECT_EQ(titles.size(), pages.size());
    // Titles are decoded and then written in code page 1252 for language 0x409.
    EXPECT_EQ(titles.at("main.html"), "Music & more");
    EXPECT_EQ(titles.at("caf\xC3\xA9 #1.html"), "Caf\xE9 #1 \xE9");
    EXPECT_EQ(titles.at("100% pure.htm"), "100% Dom ban ben");
    EXPECT_EQ(titles.at("Zo\xC3\xAB/\xD0\x94\xD0\xBE\xD0\xBC.htm"), "Zo\xEB \x97 Nested");
    EXPECT_EQ(titles.at("noise.htm"), "Noise");
}

TEST_F(ChmWriterReadBack, OutputIsTheSameForAnyThreadCount) {
    const std::string reference = ReadFile(output_);
    for (unsigned threads : {1u, 2u, 5u}) {
        TChmWriteOptions options;
        options.Threads = threads;
        // Same file name: the name goes into #SYSTEM.
        const std::string other = scratch_ / ("threads" + std::to_string(threads) + "/out.chm");
        std::filesystem::create_directories(std::filesystem::path(other).parent_path());
        ASSERT_TRUE(Compile(projectFile_, other, options).Ok);
        EXPECT_TRUE(ReadFile(other) == reference) << threads << " threads";
    }
}

TEST_F(ChmWriterReadBack, ProgressRisesToOneAndEveryFileIsReported) {
    const TCompileResult r = Compile(projectFile_, scratch_ / "again.chm");
    ASSERT_TRUE(r.Ok);
    ASSERT_FALSE(r.Progress.empty());
    for (std::size_t i = 1; i < r.Progress.size(); ++i) EXPECT_GE(r.Progress[i], r.Progress[i - 1]);
    EXPECT_EQ(r.Progress.back(), 1.0);
    for (const auto& [address, content] : project_.Files) {
        bool reported = false;
        for (const auto& line : r.Messages) reported = reported || line == "Adding " + address;
        EXPECT_TRUE(reported) << address;
    }
}

}  // namespace

namespace {

// Other windows and reset intervals than the usual 64 KiB each still decode.
TEST(ChmWriterWindows, LargerWindowAndLongerIntervalReadBack) {
    TScratch scratch;
    TProject p;
    p.Add("main.html", Page("Main", LongCatalogue(200000)));
    p.Add("noise.bin", Noise(150000, 11));
    const std::string project = p.Write(scratch / "p");
    for (auto [bits, frames] : {std::pair{16u, 1u}, std::pair{16u, 4u}, std::pair{17u, 4u}, std::pair{18u, 8u}}) {
        TChmWriteOptions options;
        options.WindowBits = bits;
        options.ResetIntervalFrames = frames;
        const std::string output = scratch / ("w" + std::to_string(bits) + "-" + std::to_string(frames) + ".chm");
        ASSERT_TRUE(Compile(project, output, options).Ok);
        TChmLib chm(output);
        TMsPack mspack;
        mschmd_header* header = mspack.Open(output);
        ASSERT_NE(header, nullptr);
        for (const auto& [address, content] : p.Files) {
            EXPECT_TRUE(chm.Read("/" + address) == content)
                << address << " chmlib, window 2^" << bits << ", " << frames;
            for (mschmd_file* f = header->files; f; f = f->next) {
                if (f->filename != "/" + address) continue;
                EXPECT_TRUE(mspack.Extract(f, scratch / "x") == content)
                    << address << " libmspack, window 2^" << bits << ", " << frames;
            }
        }
    }
    TChmWriteOptions tooSmall;
    tooSmall.WindowBits = 15;
    const TCompileResult r = Compile(project, scratch / "w15.chm", tooSmall);
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Error.find("64 KiB"), std::string::npos) << r.Error;
}

}  // namespace
