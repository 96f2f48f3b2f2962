#include "app/check_rules.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

void MakeFolder(const std::string& path) { ASSERT_TRUE(ForceFolders("", path, false)) << path; }

// Music (Rock: a.mp3 c.mp3 | Jazz: b.mp3 | Pop), Only (X, Y), Mixed (X, song.mp3)
class CheckRules : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.Path().empty());
        dir.Write("Music/Rock/a.mp3", "a");
        dir.Write("Music/Rock/c.mp3", "c");
        dir.Write("Music/Jazz/b.mp3", "b");
        MakeFolder(dir / "Music/Pop");
        MakeFolder(dir / "Only/X");
        MakeFolder(dir / "Only/Y");
        MakeFolder(dir / "Mixed/X");
        dir.Write("Mixed/song.mp3", "s");
    }

    TCheckNode* Node(const std::string& relative) {
        TCheckNode* n = rules.Locate(dir / relative, true);
        EXPECT_NE(n, nullptr) << relative;
        return n;
    }
    TCheckNode* Top() { return rules.Locate(dir.Path(), true); }

    TempDir dir;
    TCheckRules rules;
};

TEST_F(CheckRules, TickingAnUnopenedFolderStoresItAloneAndItsChildrenFollowOnOpening) {
    TCheckNode* music = Node("Music");
    rules.SetCheck(music, TCheckState::Checked);
    EXPECT_FALSE(music->Loaded()) << "ticking must not list the folder";
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "Music"});
    EXPECT_EQ(Top()->State(), TCheckState::Mixed);
    EXPECT_EQ(rules.Root()->State(), TCheckState::Mixed);

    rules.LoadChildren(music);
    ASSERT_EQ(music->Count(), 3);
    for (int i = 0; i < music->Count(); ++i) EXPECT_EQ(music->Child(i)->State(), TCheckState::Checked);
    rules.LoadChildren(Node("Music/Rock"));
    EXPECT_EQ(Node("Music/Rock/a.mp3")->State(), TCheckState::Checked);
    // Everything below the folder is stored now, but the list stays minimal.
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "Music"});

    rules.SetCheck(music, TCheckState::Unchecked);
    EXPECT_EQ(Node("Music/Rock/a.mp3")->State(), TCheckState::Unchecked);
    EXPECT_EQ(rules.Root()->State(), TCheckState::Unchecked);
    EXPECT_TRUE(rules.Store().empty());
}

TEST_F(CheckRules, OneTickedSubfolderMakesEveryAncestorMixed) {
    TCheckNode* music = Node("Music");
    rules.LoadChildren(music);
    rules.SetCheck(Node("Music/Rock"), TCheckState::Checked);
    EXPECT_EQ(music->State(), TCheckState::Mixed);
    for (TCheckNode* n = music->Parent(); n; n = n->Parent()) EXPECT_EQ(n->State(), TCheckState::Mixed) << n->Path();
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "Music/Rock"});

    // A tick below a mixed folder keeps it mixed; the untick of the last one clears it.
    rules.SetCheck(Node("Music/Jazz"), TCheckState::Checked);
    EXPECT_EQ(music->State(), TCheckState::Mixed);
    EXPECT_EQ(rules.ResolvedPaths(), (TStringList{dir / "Music/Jazz", dir / "Music/Rock"}));
    rules.SetCheck(Node("Music/Jazz"), TCheckState::Unchecked);
    rules.SetCheck(Node("Music/Rock"), TCheckState::Unchecked);
    EXPECT_EQ(music->State(), TCheckState::Unchecked);
    EXPECT_EQ(rules.Root()->State(), TCheckState::Unchecked);
}

TEST_F(CheckRules, AllSubfoldersTickedChecksAFolderOnlyWhenItHoldsNoFiles) {
    rules.LoadChildren(Node("Only"));
    rules.SetCheck(Node("Only/X"), TCheckState::Checked);
    EXPECT_EQ(Node("Only")->State(), TCheckState::Mixed);
    rules.SetCheck(Node("Only/Y"), TCheckState::Checked);
    EXPECT_EQ(Node("Only")->State(), TCheckState::Checked);
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "Only"});

    // The file is an unticked child even though the tree never shows it.
    rules.LoadChildren(Node("Mixed"));
    rules.SetCheck(Node("Mixed/X"), TCheckState::Checked);
    EXPECT_EQ(Node("Mixed")->State(), TCheckState::Mixed);
    EXPECT_EQ(rules.ResolvedPaths(), (TStringList{dir / "Mixed/X", dir / "Only"}));
}

TEST_F(CheckRules, ASingleTickedFileResolvesToTheFile) {
    rules.SetCheck(Node("Music/Rock/a.mp3"), TCheckState::Checked);
    EXPECT_EQ(Node("Music/Rock")->State(), TCheckState::Mixed);
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "Music/Rock/a.mp3"});
    // Both files ticked: the folder stands for them.
    rules.SetCheck(Node("Music/Rock/c.mp3"), TCheckState::Checked);
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "Music/Rock"});
}

TEST_F(CheckRules, SetPathsClearsOldTicksAndSkipsWhatIsGone) {
    rules.SetCheck(Node("Music"), TCheckState::Checked);
    MakeFolder(dir / "Gone");
    ASSERT_NE(Node("Gone"), nullptr);  // listed while it still existed
    ASSERT_EQ(::rmdir((dir / "Gone").c_str()), 0);
    MakeFolder(dir / "Late");  // made after its folder was listed

    rules.SetPaths({dir / "Gone", dir / "Never/There", "relative/path", "", dir / "Only/X", dir / "Late"});
    EXPECT_EQ(Node("Music")->State(), TCheckState::Unchecked);
    EXPECT_EQ(rules.ResolvedPaths(), (TStringList{dir / "Late", dir / "Only/X"}));

    // A ticked folder deleted afterwards drops out of the list as well.
    ASSERT_EQ(::rmdir((dir / "Late").c_str()), 0);
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "Only/X"});
}

TEST_F(CheckRules, SetPathsFindsNamesThatDifferInLetterCasePreferringTheExactOne) {
    rules.SetPaths({dir / "music/ROCK", dir / "MIXED/song.MP3"});
    EXPECT_EQ(rules.ResolvedPaths(), (TStringList{dir / "Mixed/song.mp3", dir / "Music/Rock"}));

    MakeFolder(dir / "Case");
    MakeFolder(dir / "case");
    rules.SetPaths({dir / "case"});
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "case"});
    rules.SetPaths({dir / "Case"});
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "Case"});
}

TEST_F(CheckRules, PruningLeavesOutEntriesBelowAnyKeptFolder) {
    MakeFolder(dir / "A/B");
    MakeFolder(dir / "A B");
    rules.LoadChildren(Node("A"));
    rules.SetCheck(Node("A"), TCheckState::Checked);  // A/B is loaded and ticked with it
    rules.SetCheck(Node("A B"), TCheckState::Checked);
    EXPECT_EQ(Node("A/B")->State(), TCheckState::Checked);
    // " " sorts before "/", so A B comes between A and A/B; A/B is still left
    // out, or its files would be scanned twice.
    EXPECT_EQ(rules.ResolvedPaths(), (TStringList{dir / "A", dir / "A B"}));
}

TEST_F(CheckRules, TickingTheComputerResolvesToTheRoot) {
    rules.SetCheck(Node("Only/X"), TCheckState::Checked);
    rules.SetCheck(rules.Root(), TCheckState::Checked);
    EXPECT_EQ(Node("Only/X")->State(), TCheckState::Checked);
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{"/"});
}

TEST_F(CheckRules, RefreshKeepsStatesAndRederivesAMixedFolder) {
    TCheckNode* music = Node("Music");
    rules.LoadChildren(music);
    rules.SetCheck(music, TCheckState::Checked);
    TCheckNode* rock = Node("Music/Rock");
    rules.LoadChildren(rock);

    MakeFolder(dir / "Music/New");
    ASSERT_EQ(::rmdir((dir / "Music/Pop").c_str()), 0);
    rules.Refresh(music);
    EXPECT_EQ(rules.FindChild(music, "Pop"), nullptr);
    ASSERT_NE(rules.FindChild(music, "New"), nullptr);
    EXPECT_EQ(rules.FindChild(music, "New")->State(), TCheckState::Checked);
    EXPECT_EQ(Node("Music/Rock"), rock) << "a surviving folder keeps its node and subtree";
    EXPECT_TRUE(rock->Loaded());

    // A ticked item that went away is forgotten when its folder is cleared,
    // so it does not come back ticked if it reappears.
    rules.SetCheck(music, TCheckState::Unchecked);
    MakeFolder(dir / "Music/Pop");
    EXPECT_TRUE(rules.ResolvedPaths().empty());

    rules.LoadChildren(Node("Only"));
    rules.SetCheck(Node("Only/X"), TCheckState::Checked);
    ASSERT_EQ(::rmdir((dir / "Only/Y").c_str()), 0);
    rules.Refresh(Node("Only"));
    EXPECT_EQ(Node("Only")->State(), TCheckState::Checked);
    EXPECT_EQ(rules.ResolvedPaths(), TStringList{dir / "Only"});
}

TEST_F(CheckRules, SubfolderProbeDoesNotLoadTheFolder) {
    TCheckNode* music = Node("Music");
    EXPECT_TRUE(rules.HasSubfolders(music));
    EXPECT_FALSE(music->Loaded());
    EXPECT_FALSE(rules.HasSubfolders(Node("Music/Rock")));
    EXPECT_FALSE(rules.HasSubfolders(Node("Music/Rock/a.mp3")));
}

TEST(FolderEntries, ListsFilesFoldersAndDotNamesButNoSpecialFiles) {
    TempDir dir;
    dir.Write("b.mp3", "12345");
    dir.Write(".hidden", "");
    dir.Write("Zeta/x", "");
    MakeFolder(dir / "alpha");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("alpha", (dir / "to-alpha").c_str()), 0);
    ASSERT_EQ(::symlink("b.mp3", (dir / "to-b").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink(".", (dir / "loop").c_str()), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sockPath = dir / "sock";
    ASSERT_LT(sockPath.size(), sizeof(addr.sun_path));
    std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);

    auto entries = ListFolderEntries(dir.Path());
    ::close(sock);
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    // Folders first, then files, each sorted with letter case ignored.
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "loop", "to-alpha", "Zeta", ".hidden", "b.mp3", "to-b"}));
    EXPECT_TRUE(entries[1].isLink && entries[1].isFolder);
    EXPECT_EQ(entries[5].size, 5);
    EXPECT_TRUE(entries[6].isLink && !entries[6].isFolder);

    // A link to a folder shows but never opens, so a loop cannot be walked.
    TCheckRules rules;
    TCheckNode* loop = rules.Locate(dir / "loop", true);
    ASSERT_NE(loop, nullptr);
    EXPECT_FALSE(loop->CanExpand());
    rules.LoadChildren(loop);
    EXPECT_EQ(loop->Count(), 0);
    EXPECT_EQ(rules.Locate(dir / "loop/alpha", true), nullptr);
    EXPECT_TRUE(FolderHasSubfolders(dir.Path()));
    EXPECT_FALSE(FolderHasSubfolders(dir / "alpha"));
    EXPECT_TRUE(ListFolderEntries(dir / "missing").empty());
}

TEST(FolderEntries, SplitAbsolutePath) {
    TStringList parts;
    EXPECT_TRUE(SplitAbsolutePath("/a//b/", parts));
    EXPECT_EQ(parts, (TStringList{"a", "b"}));
    EXPECT_TRUE(SplitAbsolutePath("/", parts));
    EXPECT_TRUE(parts.empty());
    EXPECT_FALSE(SplitAbsolutePath("a/b", parts));
}

}  // namespace
