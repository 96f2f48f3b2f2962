#include "collection/collection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <map>
#include <set>

#include "audio/byte_builders.h"
#include "base/shared_functions.h"
#include "test_util.h"

namespace {

// Everything a scan reported, in order.
struct ScanLog {
    std::vector<std::string> folders;
    std::vector<std::string> progress;
    std::string cancelAt;        // progress path that sets Cancel
    std::string cancelAtFolder;  // folder path that sets Cancel

    TScanEvent OnFolder() {
        return [this](TMP3Collection&, const std::string& path, bool& cancel) {
            folders.push_back(path);
            if (path == cancelAtFolder) cancel = true;
        };
    }
    TScanEvent OnProgress() {
        return [this](TMP3Collection&, const std::string& path, bool& cancel) {
            progress.push_back(path);
            if (path == cancelAt) cancel = true;
        };
    }
    int IndexOf(const std::string& path) const {
        auto it = std::find(progress.begin(), progress.end(), path);
        return it == progress.end() ? -1 : static_cast<int>(it - progress.begin());
    }
};

std::vector<std::string> Paths(const TMP3Collection& c) {
    std::vector<std::string> out;
    for (int i = 0; i < c.Count(); ++i) out.emplace_back(c.Items(i).GetText(atFileName));
    return out;
}

std::string Relative(const TempDir& dir, const std::string& path) { return path.substr(dir.Path().size()); }

class CollectionTest : public ::testing::Test {
protected:
    TempDir dir;
    // The smallest file each format recognises; files are read by their
    // bytes, and bytes no format knows are refused.
    void Audio(const std::string& rel) {
        using namespace bytes;
        const std::string ext = LowerCase(ExtractFileExt(rel));
        if (ext == ".ogg")
            dir.Write(rel, OggFile({}, 1));
        else if (ext == ".flac")
            dir.Write(rel, FlacFile(44100, 2, 44100, {}));
        else if (ext == ".m4a")
            dir.Write(rel, Ftyp("M4A ") + Atom("moov", Mvhd(1000, 1000)));
        else if (ext == ".wma")
            dir.Write(rel, AsfFile({}));
        else
            dir.Write(rel, MpegFrames(3));
    }
};

}  // namespace

TEST_F(CollectionTest, ScanFindsAudioFilesDepthFirst) {
    Audio("a.mp3");
    Audio("b.Mp3");
    Audio("c.MP3");
    dir.Write("d.mp2", "");
    dir.Write("notes.txt", "");
    Audio(".hidden.mp3");
    Audio("e.mp3/f.mp3");  // a folder with an audio extension is entered, not added
    Audio("sub/deeper/g.mp3");
    Audio("sub/h.mp3");

    TMP3Collection c;
    ScanLog log;
    c.Scan(dir.Path(), log.OnFolder(), log.OnProgress());

    std::set<std::string> found;
    for (const std::string& p : Paths(c)) found.insert(Relative(dir, p));
    EXPECT_EQ(found, (std::set<std::string>{"/a.mp3", "/b.Mp3", "/c.MP3", "/.hidden.mp3", "/e.mp3/f.mp3",
                                            "/sub/deeper/g.mp3", "/sub/h.mp3"}));
    EXPECT_EQ(c.Count(), 7);

    // Records are in the order the scan met them.
    std::vector<int> order;
    for (const std::string& p : Paths(c)) order.push_back(log.IndexOf(p));
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(std::count(order.begin(), order.end(), -1), 0);

    // Every folder is announced once; every entry, "." and ".." included, is
    // reported once; a folder's own entry comes after everything inside it.
    EXPECT_EQ(log.folders.size(), 4u);
    EXPECT_EQ(log.folders.front(), dir.Path());
    std::set<std::string> unique(log.progress.begin(), log.progress.end());
    EXPECT_EQ(unique.size(), log.progress.size());
    for (const std::string& folder :
         {std::string(), std::string("/sub"), std::string("/sub/deeper"), std::string("/e.mp3")}) {
        std::string f = dir.Path() + folder;
        int dot = log.IndexOf(f + "/."), dotdot = log.IndexOf(f + "/..");
        ASSERT_GE(dot, 0) << folder;
        EXPECT_EQ(dotdot, dot + 1) << folder;
        for (std::size_t i = 0; i < log.progress.size(); ++i)
            if (log.progress[i].rfind(f + "/", 0) == 0) {
                EXPECT_GE(static_cast<int>(i), dot) << log.progress[i];
            }
        if (!folder.empty()) {
            EXPECT_GT(log.IndexOf(f), log.IndexOf(f + "/.")) << folder;
        }
    }
    EXPECT_GT(log.IndexOf(dir / "sub"), log.IndexOf(dir / "sub/deeper/g.mp3"));
    EXPECT_GE(log.IndexOf(dir / "d.mp2"), 0);
    EXPECT_EQ(log.progress.size(), 10u + 3u + 4u + 3u);  // root, e.mp3, sub, deeper

    // A trailing "/" changes nothing.
    TMP3Collection again;
    ScanLog log2;
    again.Scan(dir.Path() + "/", log2.OnFolder(), log2.OnProgress());
    EXPECT_EQ(log2.progress, log.progress);
    EXPECT_EQ(log2.folders, log.folders);
    EXPECT_EQ(Paths(again), Paths(c));
}

// Files that cannot be read when the scan reaches them (here: removed after
// the listing was taken) are left out, and the scan goes on with the next.
TEST_F(CollectionTest, UnreadableFilesAreLeftOut) {
    for (const char* name : {"gone.ogg", "gone.flac", "gone.m4a"}) Audio(name);
    Audio("kept1.mp3");
    Audio("kept2.ogg");
    TMP3Collection c;
    // Read ahead, the files would be read before they go.
    c.SetReaders(1);
    ScanLog log;
    TScanEvent removeAtStart = [&](TMP3Collection& sender, const std::string& path, bool& cancel) {
        EXPECT_EQ(&sender, &c);
        if (path == dir / ".")
            for (const char* name : {"gone.ogg", "gone.flac", "gone.m4a"}) ::unlink((dir / name).c_str());
        log.OnProgress()(sender, path, cancel);
    };
    c.Scan(dir.Path(), nullptr, removeAtStart);
    std::vector<std::string> paths = Paths(c);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{dir / "kept1.mp3", dir / "kept2.ogg"}));
    EXPECT_GE(log.IndexOf(dir / "gone.ogg"), 0);  // still reported as an entry

    EXPECT_FALSE(c.AddFile(dir / "missing.flac"));
    EXPECT_EQ(c.Count(), 2);
    EXPECT_TRUE(c.AddFile(dir / "kept1.mp3"));
    EXPECT_EQ(c.Count(), 3);
}

// A cancel deep in the tree unwinds level by level: each enclosing level
// reports the folder it was scanning once more, then stops.
TEST_F(CollectionTest, CancelUnwinds) {
    Audio("A/B/x1.mp3");
    Audio("A/B/x2.mp3");
    Audio("A/B/x3.mp3");
    Audio("A/y1.mp3");
    Audio("A/y2.mp3");
    Audio("z1.mp3");
    Audio("z2.mp3");
    const std::string a = dir / "A", b = dir / "A/B";

    // Cancel while a file in B is handled.
    {
        TMP3Collection c;
        ScanLog probe;
        c.Scan(dir.Path(), nullptr, probe.OnProgress());
        std::string firstFileInB;
        for (const std::string& p : probe.progress)
            if (p.rfind(b + "/x", 0) == 0) {
                firstFileInB = p;
                break;
            }
        ASSERT_FALSE(firstFileInB.empty());

        TMP3Collection cut;
        ScanLog log;
        log.cancelAt = firstFileInB;
        cut.Scan(dir.Path(), log.OnFolder(), log.OnProgress());
        int at = log.IndexOf(firstFileInB);
        ASSERT_GE(at, 0);
        EXPECT_EQ(std::vector<std::string>(log.progress.begin() + at + 1, log.progress.end()),
                  (std::vector<std::string>{b, a}));
        // Nothing after the cancelled file is added; the file itself is.
        EXPECT_EQ(Paths(cut).back(), firstFileInB);
        for (const std::string& p : Paths(cut)) EXPECT_LE(log.IndexOf(p), at);
    }

    // Cancel when the scan of B is announced: B lists nothing.
    {
        TMP3Collection c;
        ScanLog log;
        log.cancelAtFolder = b;
        c.Scan(dir.Path(), log.OnFolder(), log.OnProgress());
        EXPECT_EQ(log.folders.back(), b);
        EXPECT_EQ(log.IndexOf(b + "/."), -1);
        ASSERT_GE(log.progress.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(log.progress.end() - 2, log.progress.end()),
                  (std::vector<std::string>{b, a}));
    }

    // Cancel at "." of the top folder: one entry reported, nothing more.
    {
        TMP3Collection c;
        ScanLog log;
        log.cancelAt = dir / ".";
        c.Scan(dir.Path(), log.OnFolder(), log.OnProgress());
        EXPECT_EQ(log.progress, std::vector<std::string>{dir / "."});
        EXPECT_EQ(c.Count(), 0);
    }
}

TEST_F(CollectionTest, LinksAndSpecialFiles) {
    Audio("music/a.mp3");
    ASSERT_EQ(::symlink(dir.Path().c_str(), (dir / "music/loop").c_str()), 0);
    ASSERT_EQ(::symlink("../music", (dir / "music/up").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "music/a.mp3").c_str(), (dir / "music/linked.mp3").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere.mp3", (dir / "music/dangling.mp3").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "music/pipe.mp3").c_str(), 0600), 0);  // reading it would block

    TMP3Collection c;
    ScanLog log;
    c.Scan(dir / "music", log.OnFolder(), log.OnProgress());
    std::vector<std::string> paths = Paths(c);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{dir / "music/a.mp3", dir / "music/linked.mp3"}));
    EXPECT_EQ(log.folders, std::vector<std::string>{dir / "music"});  // links are not entered
    EXPECT_GE(log.IndexOf(dir / "music/loop"), 0);
    EXPECT_GE(log.IndexOf(dir / "music/dangling.mp3"), 0);
    EXPECT_EQ(log.IndexOf(dir / "music/pipe.mp3"), -1);  // fifos are not listed
    // ... but one named like a track is said to be unreadable, like the dangling link.
    std::set<std::string> named;
    for (const auto& problem : c.Problems()) named.insert(Relative(dir, problem.Path) + ": " + problem.Reason);
    EXPECT_EQ(named, (std::set<std::string>{"/music/dangling.mp3: the link points to a missing file",
                                            "/music/pipe.mp3: not a regular file"}));

    // A link given directly is followed.
    TMP3Collection viaLink;
    viaLink.Scan(dir / "music/up", nullptr, nullptr);
    EXPECT_EQ(viaLink.Count(), 2);
}

TEST_F(CollectionTest, PathsGivenDirectly) {
    Audio("song.MP3");
    dir.Write("cover.jpg", "");

    TMP3Collection c;
    ScanLog log;
    c.Scan(dir / "song.MP3", log.OnFolder(), log.OnProgress());
    EXPECT_EQ(Paths(c), std::vector<std::string>{dir / "song.MP3"});
    EXPECT_EQ(log.folders, std::vector<std::string>{dir / "song.MP3"});
    EXPECT_EQ(log.progress, std::vector<std::string>{dir / "song.MP3"});

    ScanLog other;
    c.Scan(dir / "cover.jpg", other.OnFolder(), other.OnProgress());
    EXPECT_EQ(c.Count(), 1);  // appended to, nothing new
    EXPECT_EQ(other.progress, std::vector<std::string>{dir / "cover.jpg"});

    ScanLog missing;
    c.Scan(dir / "no/such/folder", missing.OnFolder(), missing.OnProgress());
    EXPECT_EQ(missing.folders, std::vector<std::string>{dir / "no/such/folder"});
    EXPECT_TRUE(missing.progress.empty());

    // The root keeps its "/" (cancelled at once: not a whole-disk scan here).
    ScanLog root;
    root.cancelAtFolder = "/";
    c.Scan("/", root.OnFolder(), root.OnProgress());
    EXPECT_EQ(root.folders, std::vector<std::string>{"/"});
    EXPECT_TRUE(root.progress.empty());
}

TEST_F(CollectionTest, GrowthClearAndSettings) {
    Audio("one.mp3");
    TMP3Collection c;
    EXPECT_EQ(c.Capacity(), 0);
    EXPECT_EQ(c.ArtistBound(), 0);
    EXPECT_EQ(c.TitleBound(), 0);
    EXPECT_EQ(c.Combine(), 3);
    c.SetCombine(259);
    EXPECT_EQ(c.Combine(), 3);
    c.SetCombine(-1);
    EXPECT_EQ(c.Combine(), 255);
    c.SetArtistBound(90);
    c.SetTitleBound(85);
    EXPECT_EQ(c.ArtistBound(), 90);
    EXPECT_EQ(c.TitleBound(), 85);

    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(c.AddFile(dir / "one.mp3"));
    EXPECT_EQ(c.Capacity(), 1000);
    EXPECT_FALSE(c.AddFile(dir / "missing.flac"));  // the slots grow, the count does not
    EXPECT_EQ(c.Capacity(), 2000);
    EXPECT_EQ(c.Count(), 1000);
    EXPECT_TRUE(c.AddFile(dir / "one.mp3"));
    EXPECT_EQ(c.Count(), 1001);
    EXPECT_EQ(c.Capacity(), 2000);

    EXPECT_THROW(c.Items(-1), EListError);
    EXPECT_THROW(c.Items(1001), EListError);

    c.Clear();
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(c.Capacity(), 0);
    c.Scan(dir.Path(), nullptr, nullptr);
    ASSERT_EQ(c.Count(), 1);
    EXPECT_EQ(c.Items(0).GetText(atFileName), dir / "one.mp3");
}

TEST(CollectionRoots, OnlyDiskAndNetworkFileSystems) {
    std::vector<std::string> roots = TMP3Collection::ScanRoots();
    std::set<std::string> unique(roots.begin(), roots.end());
    EXPECT_EQ(unique.size(), roots.size());
    for (const std::string& root : roots) {
        EXPECT_TRUE(DirectoryExists(root)) << root;
        for (const char* pseudo : {"/proc", "/sys", "/dev", "/dev/shm", "/run"}) EXPECT_NE(root, pseudo);
    }
}

// A track swapped for a fifo after the listing must not hold the scan: the
// probe never waits, and the file is named as unreadable.
TEST_F(CollectionTest, FifoInPlaceOfATrackDoesNotBlock) {
    ASSERT_EQ(::mkfifo((dir / "swapped.mp3").c_str(), 0600), 0);
    std::atomic<bool> done{false};
    // Should the open ever wait, a writer after 2 s releases it and the test fails.
    std::thread watchdog([&] {
        for (int i = 0; i < 200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done) {
            const int fd = ::open((dir / "swapped.mp3").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    TMP3Collection c;
    const bool added = c.AddFile(dir / "swapped.mp3");
    done = true;
    watchdog.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(added);
    ASSERT_EQ(c.Problems().size(), 1u);
    EXPECT_EQ(c.Problems()[0].Path, dir / "swapped.mp3");
    EXPECT_EQ(c.Problems()[0].Reason, "not a regular file");
}

// Entries too deep for a path are named, not passed over.
TEST_F(CollectionTest, MusicNestedPastThePathLimitIsNamed) {
    std::string deep = dir.Path();
    const std::string part(200, 'd');
    int fd = ::open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    // Made with relative calls: no single path may be that long.
    while (deep.size() < 4300) {
        ASSERT_EQ(::mkdirat(fd, part.c_str(), 0755), 0);
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        ASSERT_GE(fd, 0);
        deep += "/" + part;
    }
    const int track = ::openat(fd, "deep.mp3", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(track, 0);
    ::close(track);
    ::close(fd);
    TMP3Collection c;
    c.Scan(dir.Path(), nullptr, nullptr);
    EXPECT_EQ(c.Count(), 0);
    ASSERT_FALSE(c.Problems().empty());
    EXPECT_EQ(c.Problems().back().Path.find(dir.Path()), 0u);
    EXPECT_FALSE(c.Problems().back().Reason.empty());
    // Removed the same way, since the tree is too deep for one path.
    fd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    RemoveFolderContents(fd, MountIdAt(fd, ""));
    ::close(fd);
}
