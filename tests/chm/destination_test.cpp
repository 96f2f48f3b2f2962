#include "chm/destination.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

    dir.Write("old.chm", "x");
    EXPECT_EQ(ResolveDestination(dir / "old.chm", 0).State, TDestinationState::ExistingFile);
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling.chm").c_str()), 0);
    EXPECT_EQ(ResolveDestination(dir / "dangling.chm", 0).State, TDestinationState::ExistingFile);

    ForceFolders("", dir / "folder.chm/x", true);
    d = ResolveDestination(dir / "folder.chm", 0);
    EXPECT_EQ(d.State, TDestinationState::Folder);
    EXPECT_EQ(d.Problem, "\"" + dir / "folder.chm" + "\" is a folder; choose another file name");
    // The probe leaves nothing behind.
    EXPECT_EQ(LoadTextFile(dir / "old.chm"), "x");
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
