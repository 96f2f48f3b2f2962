// What the container cannot hold is refused with a reason before anything is
// written: names too long for a directory chunk, names of the file's own
// tables, and LZX window and reset pairs a reader would decode as nothing.
// What it accepts at those limits is read back by chmlib and libmspack.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "chm_writer_test_util.h"
#include "chmwriter/chm_directory.h"

using namespace chmtest;

namespace {

// A page address of length bytes in folders of 200 bytes (a file system's
// limit per name is 255).
std::string LongAddress(std::size_t length, char fill) {
    std::string address;
    while (address.size() + 201 < length - 4) address += std::string(200, fill) + "/";
    address += std::string(length - 4 - address.size(), fill);
    return address + ".htm";
}

std::string WriteWithFolders(const TProject& p, const std::string& folder) {
    for (const auto& [address, content] : p.Files)
        fs::create_directories(fs::path(folder + "/" + address).parent_path());
    return p.Write(folder);
}

std::uint32_t DirectoryDepth(const std::string& chm) { return U32At(ReadFile(chm), 0x78 + 0x18); }

TEST(ChmWriterLimits, NamesTooLongForAChunkAreRefusedNotLoopedOver) {
    // 2 040 bytes once made the index levels grow without end, 2 000 bytes
    // made directories of depth 10 and more, and 513 bytes hid every file
    // from chmlib.
    for (std::size_t length : {2040u, 2000u, 600u, kChmMaxNameBytes}) {
        TScratch scratch;
        TProject p;
        p.Add("main.html", Page("Main"));
        for (char fill : {'a', 'b', 'c', 'd', 'e', 'f'}) p.Add(LongAddress(length, fill), Page("Long"));
        const TCompileResult r = Compile(WriteWithFolders(p, scratch / "p"), scratch / "long.chm");
        EXPECT_FALSE(r.Ok) << length;
        EXPECT_NE(r.Error.find("bytes long; a help file holds names of up to " +
                               std::to_string(kChmMaxNameBytes - 1) + " bytes"),
                  std::string::npos)
            << r.Error;
        EXPECT_FALSE(fs::exists(scratch / "long.chm"));
    }
    std::vector<TChmDirectoryEntry> entries = {{"/" + std::string(kChmMaxNameBytes, 'x'), 1, 0, 1}};
    EXPECT_THROW(BuildChmDirectory(entries, 0x409), std::invalid_argument);
}

// The longest names accepted, many of them: a shallow directory every
// reader finds each name in (one byte more and chmlib finds none).
TEST(ChmWriterLimits, LongestNamesKeepTheDirectoryShallowAndFound) {
    TScratch scratch;
    TProject p;
    p.Add("main.html", Page("Main"));
    const std::size_t longest = kChmMaxNameBytes - 1;
    for (int i = 0; i < 300; ++i) {
        std::string address = LongAddress(longest, static_cast<char>('a' + i % 26));
        const std::string number = std::to_string(i);
        address.replace(address.size() - 4 - number.size(), number.size(), number);
        p.Add(address, Page("Page " + number));
    }
    const std::string output = scratch / "longest.chm";
    const TCompileResult r = Compile(WriteWithFolders(p, scratch / "p"), output);
    ASSERT_TRUE(r.Ok) << r.Error;
    // Seven names to a chunk at least: 300 names need 43 listing chunks at
    // most, so an index level of 7 chunks and the root.
    EXPECT_LE(DirectoryDepth(output), 3u);

    TChmLib chm(output);
    ASSERT_TRUE(chm.Open());
    TMsPack mspack;
    ASSERT_NE(mspack.FastOpen(output), nullptr);
    for (const auto& [address, content] : p.Files) {
        EXPECT_EQ(chm.Read("/" + address).value_or("(missing)"), content) << address.substr(address.size() > 12 ? address.size() - 12 : 0);
        mschmd_file found{};
        EXPECT_EQ(mspack.FastFind("/" + address, found), static_cast<long long>(content.size()));
    }
}

// Names of every length up to the longest, in random order: each index
// level holds at most a seventh of the chunks below it.
TEST(ChmWriterLimits, DirectoryDepthIsLogarithmicForAnyMixOfLengths) {
    std::mt19937 random(5);
    std::vector<TChmDirectoryEntry> entries;
    for (int i = 0; i < 5000; ++i) {
        const std::string number = "/" + std::to_string(i) + "-";
        const std::size_t length = number.size() + random() % (kChmMaxNameBytes - number.size() + 1);
        entries.push_back({number + std::string(length - number.size(), 'n'), 1, random(), random()});
    }
    const TChmDirectoryLayout layout = BuildChmDirectory(entries, 0x409);
    ASSERT_GT(layout.ListingChunks, 49u);
    const double bound = 1 + std::ceil(std::log(layout.ListingChunks) / std::log(7.0));
    EXPECT_LE(layout.Depth, static_cast<std::uint32_t>(bound)) << layout.ListingChunks << " listing chunks";
}

TEST(ChmWriterLimits, NamesOfTheFilesOwnTablesAreRefusedInAnyCase) {
    for (const char* name : {"#system", "#SYSTEM", "#Topics", "#urlstr", "#STRINGS", "$fiftimain", "$OBJINST",
                             "#idxhdr.html", "$WWKeywordLinks/BTree"}) {
        TScratch scratch;
        TProject p;
        p.Add("main.html", Page("Main"));
        p.Add(name, Page("Impostor"));
        const TCompileResult r = Compile(WriteWithFolders(p, scratch / "p"), scratch / "help.chm");
        EXPECT_FALSE(r.Ok) << name;
        EXPECT_NE(r.Error.find("\"" + std::string(name) + "\" is reserved"), std::string::npos) << r.Error;
    }
    // Deeper down such names are anybody's.
    TScratch scratch;
    TProject p;
    p.Add("main.html", Page("Main"));
    p.Add("pics/#system", "bytes");
    const std::string output = scratch / "help.chm";
    ASSERT_TRUE(Compile(WriteWithFolders(p, scratch / "p"), output).Ok);
    TChmLib chm(output);
    EXPECT_EQ(chm.Read("/pics/#system").value_or(""), "bytes");
    // The directory itself never holds two names a reader cannot tell apart.
    EXPECT_THROW(BuildChmDirectory({{"/#SYSTEM", 0, 0, 0}, {"/#system", 1, 0, 0}}, 0x409), std::invalid_argument);
}

// Every window with its shortest and longest reset interval reads back
// through both readers; one frame shorter, or one step longer, is refused.
TEST(ChmWriterLimits, OnlyWindowAndResetPairsEveryReaderDecodesAreAccepted) {
    TScratch scratch;
    TProject p;
    std::string body;
    for (int i = 0; body.size() < 150000; ++i) body += "<p>Track " + std::to_string(i * 7919 % 100003) + "</p>\n";
    p.Add("main.html", Page("Main", body));
    p.Add("second.htm", Page("Second"));
    const std::string project = p.Write(scratch / "p");
    for (unsigned bits = 16; bits <= 21; ++bits) {
        const unsigned shortest = 1u << (bits - 16);
        for (unsigned frames : {shortest, kMaxResetIntervalFrames}) {
            TChmWriteOptions options;
            options.WindowBits = bits;
            options.ResetIntervalFrames = frames;
            const std::string output = scratch / ("w" + std::to_string(bits) + "-" + std::to_string(frames) + ".chm");
            const TCompileResult r = Compile(project, output, options);
            ASSERT_TRUE(r.Ok) << bits << " " << frames << ": " << r.Error;
            TChmLib chm(output);
            TMsPack mspack;
            mschmd_header* header = mspack.Open(output);
            ASSERT_NE(header, nullptr);
            for (const auto& [address, content] : p.Files) {
                EXPECT_TRUE(chm.Read("/" + address) == content) << address << " chmlib, 2^" << bits << ", " << frames;
                mschmd_file* f = header->files;
                while (f && f->filename != "/" + address) f = f->next;
                ASSERT_NE(f, nullptr);
                EXPECT_TRUE(mspack.Extract(f, scratch / "x") == content)
                    << address << " libmspack, 2^" << bits << ", " << frames;
            }
        }
        for (unsigned frames : {shortest / 2, kMaxResetIntervalFrames * 2}) {
            if (frames == 0) continue;
            TChmWriteOptions options;
            options.WindowBits = bits;
            options.ResetIntervalFrames = frames;
            const TCompileResult r = Compile(project, scratch / "refused.chm", options);
            EXPECT_FALSE(r.Ok) << bits << " " << frames;
            EXPECT_NE(r.Error.find("reset interval must be"), std::string::npos) << r.Error;
            EXPECT_FALSE(fs::exists(scratch / "refused.chm"));
        }
    }
}

}  // namespace
