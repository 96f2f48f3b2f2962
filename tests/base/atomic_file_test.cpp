#include "base/atomic_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "base/exceptions.h"
#include "base/shared_functions.h"
#include "test_util.h"

namespace {

TStringList Entries(const std::string& folder) {
    TStringList names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(AtomicFileTest, CopyIsAtomicAndCreatesTheFolder) {
    TempDir dir;
    const std::string source = dir.Write("compiled.chm", "new database");
    const std::string target = dir / "deep/er/Orvalis.chm";
    ASSERT_NO_THROW(CopyFileAtomic(source, target));
    EXPECT_EQ(LoadTextFile(target), "new database");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "a catalogue gets the mode of any new document";

    // A failed copy leaves the old file and no temporary behind.
    SaveTextFile("old database", target);
    EXPECT_THROW(CopyFileAtomic(dir / "missing.chm", target), EOSError);
    EXPECT_EQ(LoadTextFile(target), "old database");

    ForceFolders("", dir / "folder/x", true);
    EXPECT_THROW(CopyFileAtomic(source, dir / "folder"), EOSError);
    EXPECT_TRUE(DirectoryExists(dir / "folder"));
    EXPECT_EQ(Entries(dir.Path()), (TStringList{"compiled.chm", "deep", "folder"}));
    EXPECT_EQ(Entries(dir / "deep/er"), (TStringList{"Orvalis.chm"}));
}

TEST(AtomicFileTest, UncommittedWriteLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const std::string target = dir.Write("store.xml", "old");
    ::chmod(target.c_str(), 0600);
    {
        TAtomicFile file(target);
        file.Write("half of the new");
        EXPECT_EQ(Entries(dir.Path()).size(), 2u) << "the temporary lives beside the target";
    }
    EXPECT_EQ(LoadTextFile(target), "old");
    EXPECT_EQ(Entries(dir.Path()), (TStringList{"store.xml"}));

    TAtomicFile file(target);
    file.Write("new");
    file.Commit();
    EXPECT_EQ(LoadTextFile(target), "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a replaced file keeps its mode";
}

TEST(AtomicFileTest, FailuresNameTheFile) {
    TempDir dir;
    const std::string plainFile = dir.Write("plain", "x");
    try {
        TAtomicFile file(plainFile + "/inside.chm");
        FAIL() << "a file cannot hold another";
    } catch (const EOSError& e) {
        EXPECT_NE(std::string(e.what()).find(plainFile), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("Not a directory"), std::string::npos) << e.what();
    }
    EXPECT_THROW(TAtomicFile(dir / "missing/x"), EOSError);
    EXPECT_THROW(TAtomicFile(""), EOSError);
}
