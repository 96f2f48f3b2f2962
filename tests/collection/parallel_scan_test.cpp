// The scan reads ahead on threads of its own; whatever the number of readers,
// the collection, its problems and the events must be those of reading one
// file after the other.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "audio/byte_builders.h"
#include "base/shared_functions.h"
#include "collection/collection.h"
#include "services/configer.h"
#include "test_util.h"

using namespace bytes;

namespace {

// Everything a scan did, event by event: the path and the count at the time.
struct ScanTrace {
    std::vector<std::string> events;
    int cancelAtEvent = -1;   // progress event number that sets cancel
    int resumeAtEvent = -1;   // ... and the one that takes the cancel back
    int throwAtEvent = -1;    // ... or raises

    TScanEvent OnFolder() {
        return [this](TMP3Collection& c, const std::string& path, bool&) {
            events.push_back("folder " + path + " " + std::to_string(c.Count()));
        };
    }
    TScanEvent OnProgress() {
        return [this](TMP3Collection& c, const std::string& path, bool& cancel) {
            const int n = static_cast<int>(events.size());
            events.push_back(path + " " + std::to_string(c.Count()));
            if (n == cancelAtEvent) cancel = true;
            if (n == resumeAtEvent) cancel = false;
            if (n == throwAtEvent) throw std::runtime_error("stop");
        };
    }
};

// Every value of every record, and the problems, in order.
std::vector<std::string> Dump(const TMP3Collection& c) {
    std::vector<std::string> out;
    for (int i = 0; i < c.Count(); ++i) {
        const TAudioInformer& r = c.Items(i);
        std::string line = std::to_string(i);
        for (int t = 0; t < kAudioTextCount; ++t) (line += "|") += r.GetText(t);
        for (int n = 0; n < r.NumberCount(); ++n) line += "|" + std::to_string(r.GetNumber(n));
        for (std::string_view text : {r.AlbumArtist(), r.Disc(), r.ArtistSort(), r.AlbumArtistSort()})
            (line += "|") += text;
        line += std::string("|") + (r.Compilation() ? "c" : "-") + "|" + std::to_string(r.FileSize());
        out.push_back(line);
    }
    for (const auto& p : c.Problems()) out.push_back("problem " + p.Path + ": " + p.Reason);
    return out;
}

int ThreadCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

std::string Text(const std::string& s) { return U8(0) + s; }

class ParallelScanTest : public ::testing::Test {
protected:
    TempDir dir;
    int tracks = 0;

    // A tagged track of one of four formats, its values and size varying
    // with n so that records differ and reads take different times.
    void Track(const std::string& rel, int n) {
        const std::string artist = "Artist " + std::to_string(n % 7), title = "Title " + std::to_string(n);
        const std::string album = "Album " + std::to_string(n / 10), track = std::to_string(n % 10 + 1);
        switch (n % 4) {
            case 0:
                dir.Write(rel + ".mp3", Id3Tag(3,
                                               Id3Frame(3, "TPE1", Text(artist)) + Id3Frame(3, "TIT2", Text(title)) +
                                                   Id3Frame(3, "TALB", Text(album)) + Id3Frame(3, "TRCK", Text(track)),
                                               static_cast<std::size_t>(n % 5) * 3000) +
                                            MpegFrames(3 + n % 11));
                break;
            case 1:
                dir.Write(rel + ".flac", FlacFile(44100, 2, 44100u * static_cast<unsigned>(1 + n % 9),
                                                  {"ARTIST=" + artist, "TITLE=" + title, "ALBUM=" + album,
                                                   "TRACKNUMBER=" + track, "ALBUMARTIST=Various"}));
                break;
            case 2:
                dir.Write(rel + ".ogg", OggFile({"ARTIST=" + artist, "TITLE=" + title, "ALBUM=" + album},
                                                44100u * static_cast<unsigned>(1 + n % 13)));
                break;
            default:
                // Untagged: artist and title come from the name.
                dir.Write(rel + ".mp3", MpegFrames(2 + n % 7));
        }
        ++tracks;
    }

    // Albums in folders two levels deep, links, special and damaged files,
    // and a track nested past the path limit.
    void MakeTree() {
        int n = 0;
        for (int a = 0; a < 12; ++a)
            for (int t = 0; t < 12; ++t)
                Track("artist" + std::to_string(a % 4) + "/album" + std::to_string(a) + "/" + std::to_string(t) +
                          " - track",
                      n++);
        for (int t = 0; t < 30; ++t) Track("loose " + std::to_string(t), n++);
        Track("mixed/x", n++);
        dir.Write("mixed/cover.jpg", "not music");
        dir.Write("mixed/damaged.flac", "fLaC" + std::string(10, '\x7f'));
        dir.Write("mixed/text.ogg", "this is no Ogg stream");
        dir.Write("mixed/empty.mp3", "");
        ForceFolders("", dir / "empty", false);
        ASSERT_EQ(::mkfifo((dir / "mixed/pipe.mp3").c_str(), 0600), 0);
        ASSERT_EQ(::symlink((dir / "artist0").c_str(), (dir / "mixed/folder link").c_str()), 0);
        ASSERT_EQ(::symlink((dir / "loose 0.mp3").c_str(), (dir / "mixed/file link.mp3").c_str()), 0);
        ASSERT_EQ(::symlink("nowhere.mp3", (dir / "mixed/dangling.mp3").c_str()), 0);
        ASSERT_EQ(::symlink("loop2.mp3", (dir / "mixed/loop1.mp3").c_str()), 0);
        ASSERT_EQ(::symlink("loop1.mp3", (dir / "mixed/loop2.mp3").c_str()), 0);
        if (::geteuid() != 0) {
            // Root reads it all the same.
            dir.Write("mixed/locked.mp3", MpegFrames(3));
            ::chmod((dir / "mixed/locked.mp3").c_str(), 0);
        }
        MakeDeepTrack();
    }

    // Made with relative calls: no single path may be that long.
    void MakeDeepTrack() {
        const std::string part(200, 'd');
        int fd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        for (std::size_t length = dir.Path().size(); length < 4300; length += part.size() + 1) {
            ASSERT_EQ(::mkdirat(fd, part.c_str(), 0755), 0);
            const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
            ASSERT_GE(fd, 0);
        }
        const int track = ::openat(fd, "deep.mp3", O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(track, 0);
        const std::string frames = MpegFrames(3);
        ASSERT_EQ(::write(track, frames.data(), frames.size()), static_cast<ssize_t>(frames.size()));
        ::close(track);
        ::close(fd);
    }

    void TearDown() override {
        const int fd = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
        if (fd >= 0) {
            RemoveFolderContents(fd, MountIdAt(fd, ""));
            ::close(fd);
        }
    }

    // Scans with the given readers; the trace and the dump of the collection.
    // Eager readers take every file, as on a cold cache; otherwise a reader
    // per core does until reads wait on the device.
    std::vector<std::string> ScanWith(int readers, ScanTrace& trace, const std::string& path = {},
                                      bool eager = true) {
        TMP3Collection c;
        c.SetReaders(readers);
        c.SetEagerReaders(eager);
        c.Scan(path.empty() ? dir.Path() : path, trace.OnFolder(), trace.OnProgress());
        return Dump(c);
    }
};

}  // namespace

TEST_F(ParallelScanTest, SameCollectionAndEventsAsOneReader) {
    MakeTree();
    SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
    ScanTrace one;
    const std::vector<std::string> expected = ScanWith(1, one);
    SetAppConfiger(nullptr);
    // Every track was found, the file link too, and the odd entries named
    // (the damaged FLAC is the reader's to judge).
    ASSERT_EQ(static_cast<int>(std::count_if(expected.begin(), expected.end(),
                                             [](const std::string& s) {
                                                 return s.rfind("problem", 0) != 0 &&
                                                        s.find("damaged.flac") == std::string::npos;
                                             })),
              tracks + 1);
    for (const std::string& named : std::vector<std::string>{"text.ogg", "empty.mp3", "pipe.mp3", "dangling.mp3", "loop1.mp3",
                                    std::string(200, 'd') + "/" + std::string(200, 'd')}) {
        EXPECT_EQ(std::count_if(expected.begin(), expected.end(),
                                [&](const std::string& s) {
                                    return s.rfind("problem", 0) == 0 && s.find(named) != std::string::npos;
                                }),
                  1)
            << named;
    }

    for (bool eager : {true, false})
        for (int readers : {2, TMP3Collection::kDefaultReaders, 64}) {
            // Reading marks reach the configuration from the calling thread.
            SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
            const int threadsBefore = ThreadCount();
            ScanTrace many;
            EXPECT_EQ(ScanWith(readers, many, {}, eager), expected) << readers << (eager ? " eager" : "");
            EXPECT_EQ(many.events, one.events) << readers;
            EXPECT_EQ(ThreadCount(), threadsBefore);
            EXPECT_EQ(AppConfiger()->ReadString("Session", "EmptyTags"), "1");
            SetAppConfiger(nullptr);
        }

    // A single file given directly, and a missing path.
    ScanTrace fileOne, fileMany;
    EXPECT_EQ(ScanWith(1, fileOne, dir / "loose 1.flac"), ScanWith(8, fileMany, dir / "loose 1.flac"));
    EXPECT_EQ(fileMany.events, fileOne.events);
    ScanTrace goneOne, goneMany;
    EXPECT_EQ(ScanWith(1, goneOne, dir / "gone"), ScanWith(8, goneMany, dir / "gone"));
    EXPECT_EQ(goneMany.events, goneOne.events);
}

// A cancel stops the reading ahead at once; the events up to it, and the
// collection, are those of reading one by one.
TEST_F(ParallelScanTest, CancelAndRaisingEventsStopTheReaders) {
    for (int t = 0; t < 1500; ++t) Track("album" + std::to_string(t / 100) + "/" + std::to_string(t), t);
    ScanTrace full;
    ScanWith(1, full);
    const int threadsBefore = ThreadCount();

    for (int at : {1, 40, 700}) {
        ScanTrace one, many;
        one.cancelAtEvent = many.cancelAtEvent = at;
        const std::vector<std::string> expected = ScanWith(1, one);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ScanWith(TMP3Collection::kDefaultReaders, many), expected) << at;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(many.events, one.events) << at;
        EXPECT_LT(many.events.size(), full.events.size());
        EXPECT_LT(static_cast<int>(expected.size()), tracks);
        EXPECT_EQ(ThreadCount(), threadsBefore);
    }

    // A cancel taken back by the next event: the scan goes on, in order.
    {
        ScanTrace one, many;
        one.cancelAtEvent = many.cancelAtEvent = 50;
        one.resumeAtEvent = many.resumeAtEvent = 51;
        const std::vector<std::string> expected = ScanWith(1, one);
        EXPECT_EQ(ScanWith(TMP3Collection::kDefaultReaders, many), expected);
        EXPECT_EQ(many.events, one.events);
        EXPECT_GT(many.events.size(), 200u);
    }

    // An event that raises (a stop request) passes through, and no reader is left.
    TMP3Collection c;
    c.SetEagerReaders(true);
    ScanTrace raising;
    raising.throwAtEvent = 300;
    EXPECT_THROW(c.Scan(dir.Path(), raising.OnFolder(), raising.OnProgress()), std::runtime_error);
    EXPECT_EQ(ThreadCount(), threadsBefore);
    const int countAfterThrow = c.Count();
    EXPECT_GT(countAfterThrow, 0);
    c.Scan(dir.Path(), nullptr, nullptr);  // the collection is usable again
    EXPECT_EQ(c.Count(), countAfterThrow + tracks);
}
