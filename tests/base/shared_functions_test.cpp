#include "base/atomic_file.h"
#include "base/shared_functions.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cstdlib>
#include <gtest/gtest.h>

#include "test_util.h"

namespace {

TEST(TextFunctions, ExtractSection) {
    std::string text = "A-------B";
    EXPECT_EQ(ExtractSection(text, "-------", 2), "B");
    EXPECT_EQ(ExtractSection(text, "-------", 3), "");
    EXPECT_EQ(ExtractSection(text, "-------", 0), "A");
    EXPECT_EQ(ExtractSection(text, "-------", 1), "A");
    EXPECT_EQ(ExtractSection(text, "", 1), "");
}

TEST(TextFunctions, SplitFirstAndSplitToList) {
    std::string h, t;
    SplitFirst("a=b=c", "=", h, t);
    EXPECT_EQ(h, "a");
    EXPECT_EQ(t, "b=c");
    SplitFirst("abc", "=", h, t);
    EXPECT_EQ(h, "abc");
    EXPECT_EQ(t, "");
    TStringList list{"old"};
    SplitToList("a,b,", ",", list);
    EXPECT_EQ(list, (TStringList{"a", "b"}));
    SplitToList("a,,b", ",", list);
    EXPECT_EQ(list, (TStringList{"a", "", "b"}));
    SplitToList("", ",", list);
    EXPECT_TRUE(list.empty());
}

TEST(TextFunctions, GetIntField) {
    EXPECT_EQ(GetIntField("370,538,,,0,", ",", 3, 7), 7);
    EXPECT_EQ(GetIntField("370,538,,,0,", ",", 5, 7), 0);
    EXPECT_EQ(GetIntField("370,538,,,0,", ",", 6, 7), 7);
    EXPECT_EQ(GetIntField("370,538,,,0,", ",", 1, 7), 370);
    EXPECT_EQ(GetIntField("x,1", ",", 1, 7), 7);
}

TEST(TextFunctions, NumbersTooLargeAreNoNumbers) {
    long long v = 0;
    EXPECT_TRUE(TryStrToInt("9223372036854775807", v));
    EXPECT_EQ(v, 9223372036854775807LL);
    EXPECT_TRUE(TryStrToInt("0x7FFFFFFFFFFFFFFF", v));
    EXPECT_FALSE(TryStrToInt("9223372036854775808", v));
    // These wrap around 2^64 to small values when the limit is checked late.
    EXPECT_FALSE(TryStrToInt("18446744073709551620", v));
    EXPECT_FALSE(TryStrToInt("0x10000000000000005", v));
    EXPECT_EQ(StrToIntDef("18446744073709551620", 7), 7);
}

TEST(TextFunctions, ReplaceAllAndTrimChar) {
    std::string s = "Hello $NAME, $name!";
    ReplaceAll(s, "$name", "Ann", false);
    EXPECT_EQ(s, "Hello Ann, Ann!");
    s = "aAa";
    ReplaceAll(s, "a", "b", true);
    EXPECT_EQ(s, "bAb");
    s = "abc";
    ReplaceAll(s, "", "x", true);
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(TrimChar("---", '-'), "");
    EXPECT_EQ(TrimChar("-a-", '-'), "a");
    EXPECT_EQ(TrimChar("a", '-'), "a");
    EXPECT_EQ(TrimChar("..a.b..", '.'), "a.b");
}

TEST(TextFunctions, Positions) {
    EXPECT_EQ(FindCharFrom("abc def", " ", 1, true), 4);
    EXPECT_EQ(FindCharFrom("   x", " ", 1, false), 4);
    EXPECT_EQ(FindCharFrom("a b c", " ", -2, true), 4);
    EXPECT_EQ(FindCharFrom("abc", " ", 1, true), 0);
    EXPECT_EQ(PosFrom("ab", "abab", 2), 3);
    EXPECT_EQ(PosFrom("ab", "abab", -2), 3);
    EXPECT_EQ(PosFrom("", "abab", 1), 0);
    EXPECT_EQ(PosFrom("AB", "abab", 1), 0);
    EXPECT_EQ(PosFromNoCase("AB", "xxab", 1), 3);
    EXPECT_EQ(PosFromNoCase("abc", "ab", 1), 0);
    EXPECT_EQ(LastPosBefore("ab", "abab", 4), 3);
    EXPECT_EQ(LastPosBefore("ab", "abab", 3), 1);
    EXPECT_EQ(LastPosBefore("ab", "abab", 0), 3);
    EXPECT_EQ(LastPosBefore("ab", "abab", 1), 0);
    EXPECT_EQ(LastPosBefore("ab", "abab", -2), 1);
}

TEST(TextFunctions, HexSubstituteDuration) {
    EXPECT_EQ(HexEncode(std::string("\x0F\xA0", 2)), "0FA0");
    std::string t = "$2-$1";
    SubstituteParams(t, "x\r\ny");
    EXPECT_EQ(t, "y-x");
    t = "$1|$2|$3";
    SubstituteParams(t, "a\r\n\r\nc");  // an empty middle line keeps its number
    EXPECT_EQ(t, "a||c");
    t = "$1";
    SubstituteParams(t, "");
    EXPECT_EQ(t, "$1");
    // A value holding "$2" is put in as it stands.
    t = "File \"$1\" at $2";
    SubstituteParams(t, "/music/$2 tracks\r\n3:4");
    EXPECT_EQ(t, "File \"/music/$2 tracks\" at 3:4");
    t = "$10 $3";  // "$10" is the first parameter and "0"; a missing line leaves its mark
    SubstituteParams(t, "a\r\nb");
    EXPECT_EQ(t, "a0 $3");
    EXPECT_EQ(FormatDuration(5), "0:05");
    EXPECT_EQ(FormatDuration(65), "1:05");
    EXPECT_EQ(FormatDuration(3599), "59:59");
    EXPECT_EQ(FormatDuration(3600), "1:00:00");
    EXPECT_EQ(FormatDuration(3605), "1:00:05");
    EXPECT_EQ(FormatDuration(45296), "12:34:56");
}

TEST(TextFunctions, LineColumnOf) {
    int col, line;
    LineColumnOf("", 3, col, false, line);
    EXPECT_EQ(line, 0);
    EXPECT_EQ(col, 0);
    LineColumnOf("abc", 2, col, false, line);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(col, 2);
    LineColumnOf("ab\r\ncde", 6, col, false, line);
    EXPECT_EQ(line, 2);
    EXPECT_EQ(col, 2);
    // On a line break, moving backward lands on the end of the previous line.
    LineColumnOf("ab\r\ncde", 4, col, false, line);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(col, 2);
}

TEST(TextFunctions, RemoveExtensionAndRelativePath) {
    EXPECT_EQ(RemoveExtension("song.mp3"), "song");
    EXPECT_EQ(RemoveExtension("a.b."), "a.b");
    EXPECT_EQ(RemoveExtension("/x.y/file"), "/x.y/file");
    EXPECT_EQ(RelativePath("/A/B/f.htm", "/A/C/"), "../B/f.htm");
    EXPECT_EQ(RelativePath("/A/B/f.htm", "/A/C"), "../B/f.htm");
    EXPECT_EQ(RelativePath("/A/C/x.htm", "/A/C/"), "x.htm");
    EXPECT_EQ(RelativePath("", "/A"), "");
}

TEST(Files, LoadAndSave) {
    TempDir dir;
    EXPECT_EQ(LoadTextFile(dir / "missing"), "");
    EXPECT_EQ(LoadTextFile(dir.Path()), "");  // a folder cannot be read as a file
    std::string bytes("a\0b\r\n", 5);
    SaveTextFile(bytes, dir / "f");
    EXPECT_EQ(LoadTextFile(dir / "f"), bytes);
    EXPECT_EQ(FileSize32(dir / "f"), 5u);
    EXPECT_EQ(FileSize32(dir / "missing"), 0u);
    EXPECT_THROW(SaveTextFile("x", dir / "no/such/folder/f"), EOSError);
    SaveTextFileAtomic("new", dir / "f");
    EXPECT_EQ(LoadTextFile(dir / "f"), "new");
    EXPECT_THROW(SaveTextFileAtomic("x", dir / "nofolder/f"), EOSError);
}

TEST(Files, UnreadableFileLoadsEmpty) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempDir dir;
    SaveTextFile("secret", dir / "f");
    ::chmod((dir / "f").c_str(), 0);
    EXPECT_EQ(LoadTextFile(dir / "f"), "");
}

TEST(Files, ForceFoldersAndDeleteTree) {
    TempDir dir;
    EXPECT_TRUE(ForceFolders(dir.Path(), "a/b\\c/file.htm", true));
    EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
    EXPECT_FALSE(DirectoryExists(dir / "a/b/c/file.htm"));
    SaveTextFile("x", dir / "a/b/c/file.htm");
    EXPECT_FALSE(ForceFolders(dir.Path(), "a/b/c/file.htm/sub", false));
    DeleteTree(dir / "a", true);
    EXPECT_TRUE(DirectoryExists(dir / "a"));
    EXPECT_FALSE(DirectoryExists(dir / "a/b"));
    DeleteTree(dir / "a", false);
    EXPECT_FALSE(DirectoryExists(dir / "a"));
    DeleteTree("", false);  // does nothing
}

TEST(Files, DeleteTreeRemovesLinksNotTargets) {
    TempDir dir;
    dir.Write("target/keep.txt", "keep");
    dir.Write("work/own.txt", "x");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "work/link").c_str()), 0);
    DeleteTree(dir / "work", false);
    EXPECT_FALSE(DirectoryExists(dir / "work"));
    EXPECT_EQ(LoadTextFile(dir / "target/keep.txt"), "keep");
    // A link given as the folder itself is removed, not followed.
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "alias").c_str()), 0);
    DeleteTree(dir / "alias", false);
    EXPECT_EQ(LoadTextFile(dir / "target/keep.txt"), "keep");
}

class AppTempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        saved_ = old ? old : "";
        had_ = old != nullptr;
        ::setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
    }
    void TearDown() override {
        if (had_)
            ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }
    TempDir dir_;
    std::string saved_;
    bool had_ = false;
};

TEST_F(AppTempFolder, IsCreatedPrivate) {
    std::string folder = GetAppTempFolder();
    EXPECT_EQ(folder, dir_ / "orvalis");
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(GetAppTempFolder(), folder);  // a second call reuses it
}

TEST_F(AppTempFolder, PlantedLinkIsRefused) {
    TempDir elsewhere;
    elsewhere.Write("victim.txt", "v");
    ASSERT_EQ(::symlink(elsewhere.Path().c_str(), (dir_ / "orvalis").c_str()), 0);
    EXPECT_THROW(GetAppTempFolder(), EOSError);
    EXPECT_EQ(LoadTextFile(elsewhere / "victim.txt"), "v");
}

std::string ReadMember(const std::string& archive, const std::string& name, int* compression = nullptr) {
    int err = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &err);
    if (!za) return "<no archive>";
    zip_stat_t st;
    std::string out = "<no member>";
    if (zip_stat(za, name.c_str(), 0, &st) == 0) {
        if (compression) *compression = st.comp_method;
        zip_file_t* f = zip_fopen(za, name.c_str(), 0);
        out.assign(st.size, '\0');
        zip_fread(f, out.data(), st.size);
        zip_fclose(f);
    }
    zip_close(za);
    return out;
}

TEST(Files, ZipBufferAddsReplacesAndKeeps) {
    TempDir dir;
    std::string archive = dir / "error.history";
    ZipBuffer(archive, "ONE", std::string(2000, 'a'));
    ZipBuffer(archive, "TWO", "second");
    ZipBuffer(archive, "ONE", "replaced");
    int method = -1;
    EXPECT_EQ(ReadMember(archive, "ONE", &method), "replaced");
    EXPECT_EQ(method, ZIP_CM_DEFLATE);
    EXPECT_EQ(ReadMember(archive, "TWO"), "second");
    int err = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &err);
    ASSERT_NE(za, nullptr);
    EXPECT_EQ(zip_get_num_entries(za, 0), 2);
    zip_close(za);
    EXPECT_THROW(ZipBuffer(dir / "missing/a.zip", "X", "y"), EOSError);
}

TEST(Files, ZipBufferLeavesDamagedArchiveAlone) {
    TempDir dir;
    std::string archive = dir / "bad.zip";
    SaveTextFile("this is not a zip archive", archive);
    EXPECT_THROW(ZipBuffer(archive, "X", "y"), EOSError);
    EXPECT_EQ(LoadTextFile(archive), "this is not a zip archive");
}

}  // namespace
