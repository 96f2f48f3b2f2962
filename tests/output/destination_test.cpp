#include "output/destination.h"
#include "output/site/site_destination.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/shared_functions.h"
#include "test_util.h"

TEST(DestinationTest, ResolvesWhatStandsAtTheTarget) {
    TempDir dir;
    TDestination d = ResolveDestination(dir / "new.chm", 0);
    EXPECT_EQ(d.Path, dir / "new.chm");
    EXPECT_EQ(d.State, TDestinationState::Free);
    EXPECT_TRUE(d.Problem.empty());

    // Missing folders are created by the run, so they are no problem.
    EXPECT_EQ(ResolveDestination(dir / "a/b/new.chm", 0).State, TDestinationState::Free);

    // Only a compiled help file is replaced; anything else at the name stays.
    dir.Write("old.chm", "ITSF and the rest");
    EXPECT_EQ(ResolveDestination(dir / "old.chm", 0).State, TDestinationState::ExistingFile);
    dir.Write("notes.chm", "x");
    d = ResolveDestination(dir / "notes.chm", 0);
    EXPECT_EQ(d.State, TDestinationState::Refused);
    EXPECT_NE(d.Problem.find("not a catalogue"), std::string::npos) << d.Problem;
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling.chm").c_str()), 0);
    EXPECT_EQ(ResolveDestination(dir / "dangling.chm", 0).State, TDestinationState::Refused);
    ASSERT_EQ(::mkfifo((dir / "pipe.chm").c_str(), 0600), 0);
    EXPECT_EQ(ResolveDestination(dir / "pipe.chm", 0).State, TDestinationState::Refused) << "and nothing waits";
    EXPECT_EQ(LoadTextFile(dir / "notes.chm"), "x");

    ForceFolders("", dir / "folder.chm/x", true);
    d = ResolveDestination(dir / "folder.chm", 0);
    EXPECT_EQ(d.State, TDestinationState::Refused);
    EXPECT_EQ(d.Problem, "\"" + dir / "folder.chm" + "\" is a folder; choose another file name");
    // The probe leaves nothing behind.
    EXPECT_EQ(LoadTextFile(dir / "old.chm"), "ITSF and the rest");
}

TEST(DestinationTest, FolderThatCannotTakeFilesIsRefused) {
    TempDir dir;
    const std::string plain = dir.Write("plain", "x");
    TDestination d = ResolveDestination(plain + "/sub/x.chm", 0);
    EXPECT_EQ(d.State, TDestinationState::Unwritable);
    EXPECT_NE(d.Problem.find(plain), std::string::npos) << d.Problem;
    EXPECT_NE(d.Problem.find("Not a directory"), std::string::npos) << d.Problem;
}

TEST(DestinationTest, FolderWithoutWritePermissionIsRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes in every folder";
    TempDir dir;
    ForceFolders("", dir / "locked/x", true);
    ::chmod((dir / "locked").c_str(), 0555);
    const TDestination d = ResolveDestination(dir / "locked/x.chm", 0);
    ::chmod((dir / "locked").c_str(), 0755);
    EXPECT_EQ(d.State, TDestinationState::Unwritable);
    EXPECT_NE(d.Problem.find("Permission denied"), std::string::npos) << d.Problem;
}

// A catalogue may not be, hold or lie inside what is being catalogued, by
// whatever name it is reached.
TEST(DestinationTest, TheMusicIsNeverAPlaceForTheCatalogue) {
    TempDir dir;
    const std::string music = dir.Write("Music/Album/t1.mp3", "ID3");
    const std::vector<std::string> catalogued = {dir / "Music"};
    EXPECT_EQ(MusicOverlapProblem(dir / "elsewhere.chm", catalogued), "");
    EXPECT_EQ(MusicOverlapProblem(dir / "Musical", catalogued), "") << "a name that only begins alike";
    for (const std::string& target :
         {dir / "Music", dir / "Music/Album/t1.mp3.chm", dir / "Music/new/deeper.chm", dir.Path(), dir / "Music/../Music"})
        EXPECT_NE(MusicOverlapProblem(target, catalogued), "") << target;
    ASSERT_EQ(::symlink((dir / "Music").c_str(), (dir / "link").c_str()), 0);
    EXPECT_NE(MusicOverlapProblem(dir / "link/Album", catalogued), "");
    EXPECT_NE(MusicOverlapProblem(dir / "Music", {dir / "link"}), "");
    // A single file given to catalogue.
    EXPECT_NE(MusicOverlapProblem(music, {music}), "");
    EXPECT_NE(MusicOverlapProblem(dir / "Music/Album", {music}), "");
    const TDestination d = ResolveDestination(dir / "Music/Album/t1.mp3", 0, catalogued);
    EXPECT_EQ(d.State, TDestinationState::Refused);
    EXPECT_EQ(ResolveSiteDestination(dir / "Music/site", 0, catalogued).State, TDestinationState::Refused);
    EXPECT_EQ(LoadTextFile(music), "ID3");
}
