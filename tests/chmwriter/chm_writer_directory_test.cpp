// Directory layout: the name order readers binary-search in, several
// listing chunks and index levels, and lookups of every name.
#include <gtest/gtest.h>

#include "chm_writer_test_util.h"
#include "chmwriter/chm_directory.h"

using namespace chmtest;

namespace {

TEST(ChmDirectory, NamesSortWithAsciiLettersFolded) {
    // '_' and '[' lie between the upper and the lower letters, so the fold
    // direction decides where they go; bytes past ASCII sort last.
    EXPECT_TRUE(ChmNameLess("/_x", "/a"));
    EXPECT_TRUE(ChmNameLess("/_x", "/A"));
    EXPECT_TRUE(ChmNameLess("/[", "/b"));
    EXPECT_TRUE(ChmNameLess("/Zebra", "/~"));
    EXPECT_TRUE(ChmNameLess("/abc", "/ABCD"));
    EXPECT_TRUE(ChmNameLess("/z", "/\xC3\xA9"));
    EXPECT_TRUE(ChmNameLess("::DataSpace/NameList", "::DataSpace/Storage"));
    EXPECT_TRUE(ChmNameLess("/#SYSTEM", "/$OBJINST"));
    // Case-only twins are ordered, not equal.
    EXPECT_TRUE(ChmNameLess("/A", "/a"));
    EXPECT_FALSE(ChmNameLess("/a", "/A"));
}

TEST(ChmDirectory, OneChunkHasNoIndexAndAQuickrefCount) {
    std::vector<TChmDirectoryEntry> entries;
    for (int i = 0; i < 12; ++i)
        entries.push_back({"/f" + std::to_string(i), 1, std::uint64_t(i), 1});  // one-byte ENCINTs
    const TChmDirectoryLayout layout = BuildChmDirectory(entries, 0x407);
    EXPECT_EQ(layout.ListingChunks, 1u);
    EXPECT_EQ(layout.Depth, 1u);
    EXPECT_EQ(layout.RootIndexChunk, -1);
    const std::string bytes(layout.Bytes.begin(), layout.Bytes.end());
    ASSERT_EQ(bytes.size(), kChmDirectoryHeaderSize + kChmChunkSize);
    EXPECT_EQ(U32At(bytes, 0x1C), 0xFFFFFFFFu);
    EXPECT_EQ(U32At(bytes, 0x2C), 1u);
    EXPECT_EQ(U32At(bytes, 0x30), 0x407u);
    const std::size_t chunk = kChmDirectoryHeaderSize;
    EXPECT_EQ(U16At(bytes, chunk + kChmChunkSize - 2), 12);
    // Entry 5 (the first quickref slot) sits where the slot says.
    std::size_t at = chunk + 0x14;
    for (int i = 0; i < 5; ++i) at += 1 + static_cast<unsigned char>(bytes[at]) + 3;
    EXPECT_EQ(U16At(bytes, chunk + kChmChunkSize - 4), at - (chunk + 0x14));
    EXPECT_THROW(BuildChmDirectory({{"/a", 0, 0, 0}, {"/a", 0, 0, 0}}, 0x409), std::invalid_argument);
}

// 20 000 pages with long names: hundreds of listing chunks, so two index
// levels, names spread over the awkward places of the order, topic tables
// longer than one 4096 byte block.
TEST(ChmDirectory, TwentyThousandFilesAreAllFoundByEveryReader) {
    TScratch scratch;
    TProject project;
    const char* const starts[] = {"_", "a", "A", "[", "~", "Z", "m", "\xC3\xA9", "0", "caf\xC3\xA9 #"};
    const std::string padding(80, 'x');
    for (int i = 0; i < 20000; ++i) {
        const std::string name = std::string(starts[i % 10]) + padding + (i % 3 == 0 ? "_" : "Q") + std::to_string(i) +
                                 (i % 2 ? ".htm" : ".HTM");
        project.Add(name, Page("Page " + std::to_string(i)));
    }
    project.Add("main.html", Page("Main"));
    const std::string output = scratch / "many.chm";
    TCompileResult r = Compile(project.Write(scratch / "p"), output);
    ASSERT_TRUE(r.Ok) << r.Error;

    const std::string file = ReadFile(output);
    const std::size_t itsp = 0x78;
    const std::uint32_t depth = U32At(file, itsp + 0x18);
    const std::uint32_t root = U32At(file, itsp + 0x1C);
    const std::uint32_t chunks = U32At(file, itsp + 0x2C);
    EXPECT_EQ(depth, 3u);
    EXPECT_EQ(U32At(file, itsp + 0x20), 0u);
    EXPECT_LT(root, chunks);
    EXPECT_EQ(file.substr(itsp + 0x54 + std::size_t(root) * kChmChunkSize, 4), "PMGI");

    TChmLib chm(output);
    ASSERT_TRUE(chm.Open());
    TMsPack mspack;
    ASSERT_NE(mspack.FastOpen(output), nullptr);
    int chmlibMisses = 0, mspackMisses = 0;
    for (const auto& [address, content] : project.Files) {
        chmUnitInfo ui{};
        if (!chm.Resolve("/" + address, ui) || ui.length != content.size()) ++chmlibMisses;
        mschmd_file found{};
        if (mspack.FastFind("/" + address, found) != static_cast<long long>(content.size())) ++mspackMisses;
    }
    EXPECT_EQ(chmlibMisses, 0);
    EXPECT_EQ(mspackMisses, 0);
    EXPECT_EQ(chm.Names(CHM_ENUMERATE_NORMAL).size(), project.Files.size() + 3);  // and the sitemaps, self.chmprj

    const auto titles = TopicTitles(chm);
    ASSERT_EQ(titles.size(), project.Files.size());
    EXPECT_EQ(titles.at(project.Files[19999].first), "Page 19999");
    EXPECT_EQ(titles.at(project.Files[341].first), "Page 341");
    // A page read back from the far end of the section.
    EXPECT_EQ(chm.Read("/" + project.Files[12345].first), project.Files[12345].second);
}

}  // namespace
