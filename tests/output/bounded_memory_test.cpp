// A large collection's pages and thumbnails leave memory beyond a budget:
// what goes to files instead must be exactly what memory would have held.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "audio/audio_info.h"
#include "audio/tag_fields.h"
#include "base/exe_dir.h"
#include "catalogue/catalogue.h"
#include "output/chm/chm_preparer.h"
#include "output/chm_files.h"
#include "pages/contents_tree.h"
#include "pages/page_writer.h"
#include "picture_builders.h"
#include "services/configer.h"
#include "test_util.h"

namespace {

int CountOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// The pages of a compiled file.
std::map<std::string, std::string> Pages(const std::string& fileName) {
    std::map<std::string, std::string> pages;
    for (auto& [path, bytes] : ReadChmFiles(fileName))
        if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".htm") == 0) pages.emplace(path, std::move(bytes));
    return pages;
}

class BoundedMemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetExeDirForTesting(exeDir_.Path());
        const std::string source = std::string(ORVALIS_SOURCE_DIR) + "/data/archive/";
        ZipBuffer(exeDir_ / "data", "template.html", LoadTextFile(source + "template.html"));
        ZipBuffer(exeDir_ / "data", "Need/main.html", LoadTextFile(source + "Need/main.html"));
        SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
        // Three albums, each with a picture in its folder; names that need
        // the Western code page.
        for (int a = 0; a < 3; ++a) {
            const std::string folder = music_ / ("Caf\xC3\xA9 " + std::to_string(a));
            ForceFolders("", folder + "/x", true);
            SaveTextFile(Jpeg(300 + a * 10, 300, a), folder + "/cover.jpg");
            for (int t = 1; t <= 2; ++t) {
                auto r = std::make_unique<TAudioInformer>();
                TTagFields tags;
                tags.Artist = "\xC3\x89milie " + std::to_string(a);
                tags.Title = "Chanson " + std::to_string(t);
                tags.Album = "Caf\xC3\xA9 " + std::to_string(a);
                tags.Track = t;
                r->SetTags(tags);
                r->SetText(atFileName, folder + "/" + std::to_string(t) + ".mp3");
                r->SetNumbers({100, 44100, 128, ccStereo, 1000});
                records_.push_back(std::move(r));
            }
        }
    }
    void TearDown() override { SetAppConfiger(nullptr); }

    std::vector<const TAudioInfo*> Files() const {
        std::vector<const TAudioInfo*> files;
        for (const auto& r : records_) files.push_back(r.get());
        return files;
    }

    TempDir exeDir_;
    TempDir music_;
    std::vector<std::unique_ptr<TAudioInformer>> records_;
};

TEST_F(BoundedMemoryTest, ThumbnailsBeyondTheBudgetAreWrittenToTheirFilesUnchanged) {
    const TCatalogue catalogue(Files());
    TempDir held, written, spilledDir;
    const auto write = [&](const std::string& folder, std::size_t budget, TSpillStore* store = nullptr) {
        TFiles files;
        files.CheckExistence = false;
        TChmTree tree(nullptr, &files);
        TPageWriter writer(catalogue, CutPageTemplate(LoadTextFile(std::string(ORVALIS_SOURCE_DIR) +
                                                                   "/data/archive/template.html")));
        writer.HeldThumbnailBytes = budget;
        writer.Spill = store;
        return writer.Write(folder, tree);
    };
    const TWrittenPages inMemory = write(held.Path(), std::size_t{32} << 20);
    const TWrittenPages onDisk = write(written.Path(), 0);
    // With a spill store they go there instead of into files.
    TSpillStore store(spilledDir.Path());
    const TWrittenPages spilled = write(spilledDir.Path(), 0, &store);

    ASSERT_EQ(inMemory.CoverFiles.size(), 6u);  // a large and a small one per album
    ASSERT_EQ(onDisk.CoverFiles.size(), 6u);
    ASSERT_EQ(spilled.CoverFiles.size(), 6u);
    EXPECT_TRUE(onDisk.MemoryFiles.empty());
    for (std::size_t i = 0; i < 6; ++i) {
        const std::string name = ExtractFileName(inMemory.CoverFiles[i]);
        EXPECT_EQ(name, ExtractFileName(onDisk.CoverFiles[i]));
        EXPECT_FALSE(FileExists(inMemory.CoverFiles[i])) << "held in memory only";
        EXPECT_EQ(LoadTextFile(onDisk.CoverFiles[i]), inMemory.MemoryFiles.at(inMemory.CoverFiles[i])) << name;
        EXPECT_FALSE(FileExists(spilled.CoverFiles[i])) << "in the store only";
        EXPECT_EQ(store.Read(spilled.CoverFiles[i]), inMemory.MemoryFiles.at(inMemory.CoverFiles[i])) << name;
    }
    // The pages show the covers either way.
    EXPECT_EQ(LoadTextFile(held / "albums.htm"), LoadTextFile(written / "albums.htm"));
    EXPECT_NE(LoadTextFile(written / "albums.htm").find("cov-"), std::string::npos);
}

// Pages held up to a budget, the rest in files: together they are the pages
// written all to files, also where a broken cover made the writer take it out
// of pages already written.
TEST_F(BoundedMemoryTest, PagesHeldUpToTheBudgetAreThoseWrittenToFiles) {
    const std::string broken = Jpeg(320, 300, 7);
    SaveTextFile(broken.substr(0, broken.size() / 2), music_ / "Caf\xC3\xA9 1/cover.jpg");
    const TCatalogue catalogue(Files());
    // The rest go to files, or into a spill store when there is one.
    const auto write = [&](const std::string& folder, std::size_t budget, bool spill) {
        TFiles files;
        files.CheckExistence = false;
        TChmTree tree(nullptr, &files);
        TPageWriter writer(catalogue, CutPageTemplate(LoadTextFile(std::string(ORVALIS_SOURCE_DIR) +
                                                                   "/data/archive/template.html")));
        writer.HeldPageBytes = budget;
        std::unique_ptr<TSpillStore> store = spill ? std::make_unique<TSpillStore>(folder) : nullptr;
        writer.Spill = store.get();
        std::map<std::string, std::string> pages;
        TWrittenPages written = writer.Write(folder, tree);
        std::size_t held = 0, spilled = 0;
        for (const auto& file : files.Items) {
            const std::string& name = file->FileName;
            if (ExtractFileExt(name) != ".htm") continue;
            const auto inMemory = written.MemoryFiles.find(name);
            if (inMemory != written.MemoryFiles.end()) {
                EXPECT_FALSE(FileExists(name)) << name;
                held += inMemory->second.size();
                pages[ExtractFileName(name)] = inMemory->second;
            } else if (spill) {
                EXPECT_FALSE(FileExists(name)) << name;
                ++spilled;
                pages[ExtractFileName(name)] = store->Read(name);
            } else {
                pages[ExtractFileName(name)] = LoadTextFile(name);
            }
        }
        EXPECT_LE(held, budget);
        if (spill) {
            EXPECT_GT(spilled, 0u);
        }
        return std::make_pair(pages, held);
    };
    TempDir none, some, all, spilled;
    const auto [onDisk, noneHeld] = write(none.Path(), 0, false);
    const auto [everything, allHeld] = write(all.Path(), std::size_t{32} << 20, false);
    const auto [part, partHeld] = write(some.Path(), allHeld / 2, false);
    const auto [partSpilled, spilledHeld] = write(spilled.Path(), allHeld / 2, true);
    ASSERT_GE(onDisk.size(), 10u);
    EXPECT_EQ(noneHeld, 0u);
    EXPECT_GT(partHeld, 0u);
    EXPECT_LT(partHeld, allHeld);
    EXPECT_EQ(part, onDisk);
    EXPECT_EQ(everything, onDisk);
    EXPECT_EQ(partSpilled, onDisk);
    // The broken cover is gone from the pages; the others stay.
    const std::string& albums = onDisk.at("albums.htm");
    EXPECT_EQ(CountOf(albums, "nocover"), 1);
    EXPECT_EQ(CountOf(albums, "cov-"), 2);
}

// Beyond the budget, pages and thumbnails wait in the spill store, where
// the pages are converted too; the music is not touched either way.
TEST_F(BoundedMemoryTest, PagesBeyondTheBudgetAreConvertedInTheSpillStoreToTheSameBytes) {
    const std::string music = TreeDigest(music_.Path());
    const auto compile = [&](const std::string& target, std::size_t budget) {
        TChmPreparer preparer;
        preparer.OutputPath = target;
        preparer.Compiler->Engine = THelpEngine::Native;
        preparer.Compiler->HeldPageBytes = budget;
        preparer.Run(Files());
        EXPECT_TRUE(preparer.Placed()) << preparer.FailureReason();
    };
    TempDir out;
    compile(out / "held.chm", std::size_t{48} << 20);
    compile(out / "written.chm", 0);
    const auto held = Pages(out / "held.chm");
    const auto written = Pages(out / "written.chm");
    ASSERT_GE(held.size(), 8u);
    EXPECT_EQ(held, written);
    EXPECT_EQ(TreeDigest(music_.Path()), music);
    // In the Western code page, not UTF-8, either way.
    const std::string& artists = written.at("/artists.htm");
    EXPECT_NE(artists.find("\xC9milie"), std::string::npos);
}

}  // namespace
