// Speed and memory of a build run over a generated collection.
// Usage:
//   bench_build_run pages [tracks]   page generation alone, records in memory
//                                    (default 10 000 tracks); prints time and peak memory
//   bench_build_run full [tracks]    the whole run on small tagged files: scan, pages,
//                                    chmcmd, placement (default 10 000 tracks)
//   bench_build_run search [tracks] [rounds]
//                                    the database stage with and without full-text
//                                    search, alternating, rounds times each (default 3);
//                                    medians, ratios and file sizes; BENCH_KEEP=FILE
//                                    keeps the searchable catalogue
// Tracks are spread over tracks / 5 artists and tracks * 2 / 5 albums.
// Work files go below $BENCH_TMP (default /tmp); on a desktop the working
// folder lives in $XDG_RUNTIME_DIR, which is usually a tmpfs, so
// BENCH_TMP=/dev/shm measures that case and /tmp the disk case.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_info.h"
#include "run/build_run.h"
#include "output/chm/chm_preparer.h"
#include "collection/collection.h"
#include "base/exe_dir.h"
#include "services/configer.h"
#include "base/shared_functions.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

struct TTrack {
    std::string artist, title, album, year, genre;
};

const char* const kGenres[] = {"Rock",    "Pop",    "Jazz",  "Blues", "Classical", "Folk",    "Electronic", "Hip-Hop",
                               "Country", "Reggae", "Metal", "Soul",  "Latin",     "Ambient", "Chanson"};

// Artist a has albums 2a and 2a + 1; a few names carry accents, like a real shelf.
TTrack TrackOf(int n, int tracks) {
    const int artists = std::max(1, tracks / 5);
    const int albums = std::max(1, tracks * 2 / 5);
    const int album = n % albums;
    const int artist = (album / 2) % artists;
    TTrack t;
    t.artist = (artist % 7 == 0 ? "S\xC3\xB8ren " : "Artist ") + std::to_string(artist);
    t.album = "Album " + std::to_string(album) + (album % 11 == 0 ? " \xC3\xA9t\xC3\xA9" : "");
    t.title = "Track " + std::to_string(n) + " & more";
    t.year = std::to_string(1950 + album % 75);
    t.genre = kGenres[album % (sizeof kGenres / sizeof kGenres[0])];
    return t;
}

std::vector<std::unique_ptr<TAudioInformer>> MemoryRecords(int tracks) {
    std::vector<std::unique_ptr<TAudioInformer>> records;
    records.reserve(static_cast<std::size_t>(tracks));
    for (int n = 0; n < tracks; ++n) {
        const TTrack t = TrackOf(n, tracks);
        auto r = std::make_unique<TAudioInformer>();
        r->SetText(atArtist, t.artist);
        r->SetText(atTitle, t.title);
        r->SetText(atAlbum, t.album);
        r->SetText(atYear, t.year);
        r->SetText(atGenre, t.genre);
        r->SetText(atFileName, "/music/" + t.artist + "/" + t.album + "/" + std::to_string(n) + ".mp3");
        r->SetNumbers({200 + n % 200, 44100, 192, ccJointStereo, 4000000});
        records.push_back(std::move(r));
    }
    return records;
}

// One silent MPEG frame and an ID3v2.3 tag with UTF-8 frames.
std::string TaggedFile(const TTrack& t) {
    std::string frames;
    auto frame = [&](const char* id, const std::string& text) {
        const std::string body = "\x03" + text;
        const auto size = static_cast<std::uint32_t>(body.size());
        frames += id;
        frames += static_cast<char>(size >> 24);
        frames += static_cast<char>(size >> 16);
        frames += static_cast<char>(size >> 8);
        frames += static_cast<char>(size);
        frames += std::string(2, '\0');
        frames += body;
    };
    frame("TPE1", t.artist);
    frame("TIT2", t.title);
    frame("TALB", t.album);
    frame("TYER", t.year);
    frame("TCON", t.genre);
    const auto size = static_cast<std::uint32_t>(frames.size());
    std::string tag = "ID3\x03";
    tag += std::string(2, '\0');
    tag += static_cast<char>((size >> 21) & 0x7F);
    tag += static_cast<char>((size >> 14) & 0x7F);
    tag += static_cast<char>((size >> 7) & 0x7F);
    tag += static_cast<char>(size & 0x7F);
    std::string frame0(417, '\0');
    frame0[0] = '\xFF';
    frame0[1] = '\xFB';
    frame0[2] = '\x90';
    frame0[3] = '\x64';
    return tag + frames + frame0;
}

std::string MakeTempFolder(const char* prefix) {
    const char* base = std::getenv("BENCH_TMP");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    return ::mkdtemp(tmpl.data()) ? tmpl : std::string();
}

int BenchPages(int tracks) {
    const auto records = MemoryRecords(tracks);
    std::vector<const TAudioInfo*> files;
    for (const auto& r : records) files.push_back(r.get());
    std::printf("records in memory: %d tracks, peak %ld kB\n", tracks, StatusKb("VmHWM:"));

    const Clock::time_point start = Clock::now();
    int pages = 0;
    {
        TChmPreparer preparer;
        int lastStage = -1;
        preparer.OnStage = [&](const TPageProgress& progress) {
            const bool done = progress.Step == progress.Steps;
            pages += !done;
            const int stage = done ? 0 : progress.Step + 1;
            if (stage == lastStage) return;
            // Memory in use when each grouping starts, and when all are done.
            std::printf("  stage %d at %.3f s: %ld kB in use\n", stage, SecondsSince(start), StatusKb("VmRSS:"));
            lastStage = stage;
        };
        preparer.GeneratePages(files);
        std::printf("page generation: %d group pages in %.3f s\n", pages, SecondsSince(start));
        std::printf("peak memory with the project: %ld kB\n", StatusKb("VmHWM:"));
    }
    std::printf("including removal of the working folder: %.3f s\n", SecondsSince(start));
    return 0;
}

// Small tagged files, 500 to a folder, in a fresh folder.
std::string WriteBenchCollection(int tracks) {
    const std::string music = MakeTempFolder("orvalis-bench-music");
    for (int n = 0; n < tracks; ++n) {
        const TTrack t = TrackOf(n, tracks);
        const std::string folder = JoinPath(music, std::to_string(n / 500));
        if (n % 500 == 0) ForceFolders("", folder, false);
        SaveTextFile(TaggedFile(t), JoinPath(folder, std::to_string(n) + ".mp3"));
    }
    return music;
}

int BenchFull(int tracks) {
    const std::string music = WriteBenchCollection(tracks);
    const std::string out = MakeTempFolder("orvalis-bench-out");

    TMP3Collection collection;
    Clock::time_point start = Clock::now();
    RunSearchStage(collection, {music}, nullptr);
    const double scan = SecondsSince(start);
    std::printf("scan: %d tracks in %.3f s\n", collection.Count(), scan);

    TDatabaseRequest request;
    request.TargetPath = JoinPath(out, "bench.chm");
    double pagesDone = 0;
    request.OnStage = [&](const TPageProgress& progress) {
        if (progress.Step == progress.Steps) pagesDone = SecondsSince(start);
    };
    start = Clock::now();
    const TDatabaseResult result = RunDatabaseStage(collection, request);
    const double total = SecondsSince(start);
    std::printf("database stage: pages %.3f s, compile and place %.3f s, total %.3f s\n", pagesDone, total - pagesDone,
                total);
    std::printf("whole run: %.3f s; database %s, %u bytes\n", scan + total, result.Done ? "in place" : "missing",
                FileSize32(result.DatabasePath));
    if (!result.Done) std::printf("reason: %s\n", result.Message.c_str());
    std::printf("peak memory: %ld kB\n", StatusKb("VmHWM:"));
    DeleteTree(music, false);
    DeleteTree(out, false);
    return result.Done ? 0 : 1;
}

// User and system time of the whole process, threads included: steadier than
// the wall clock on a shared machine.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

int BenchSearch(int tracks, int rounds) {
    const std::string music = WriteBenchCollection(tracks);
    const std::string out = MakeTempFolder("orvalis-bench-out");
    TMP3Collection collection;
    Clock::time_point start = Clock::now();
    RunSearchStage(collection, {music}, nullptr);
    const double scan = SecondsSince(start);
    std::printf("scan: %d tracks in %.3f s\n", collection.Count(), scan);

    std::vector<double> times[2];
    std::vector<double> cpu[2];
    unsigned sizes[2] = {0, 0};
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        // Alternating which goes first keeps warm caches from favouring one side.
        for (int step = 0; step < 2; ++step) {
            const int search = (round + step) % 2;
            TDatabaseRequest request;
            request.TargetPath = JoinPath(out, search ? "search.chm" : "plain.chm");
            request.FullTextSearch = search == 1;
            start = Clock::now();
            const double cpuStart = CpuSeconds();
            const TDatabaseResult result = RunDatabaseStage(collection, request);
            times[search].push_back(SecondsSince(start));
            cpu[search].push_back(CpuSeconds() - cpuStart);
            sizes[search] = FileSize32(result.DatabasePath);
            ok = ok && result.Done;
            if (!result.Done) {
                std::printf("reason: %s\n", result.Message.c_str());
                for (const auto& line : result.CompilerLines) std::printf("  %s\n", line.c_str());
            }
            std::printf("round %d, search %s: %.3f s (cpu %.3f s), %u bytes\n", round + 1, search ? "on " : "off",
                        times[search].back(), cpu[search].back(), sizes[search]);
        }
    }
    const double with = Median(times[1]), without = Median(times[0]);
    std::printf("median database stage: %.3f s with search, %.3f s without, ratio %.3f\n", with, without,
                without > 0 ? with / without : 0);
    std::printf("median cpu time: %.3f s with search, %.3f s without, ratio %.3f\n", Median(cpu[1]), Median(cpu[0]),
                Median(cpu[0]) > 0 ? Median(cpu[1]) / Median(cpu[0]) : 0);
    std::printf("whole build (scan %.3f s + database): %.3f s vs %.3f s, ratio %.3f\n", scan, scan + with,
                scan + without, (scan + with) / (scan + without));
    std::printf("file: %u bytes with search, %u without, ratio %.3f\n", sizes[1], sizes[0],
                sizes[0] ? static_cast<double>(sizes[1]) / sizes[0] : 0);
    // BENCH_KEEP=FILE keeps the searchable catalogue, e.g. to look at it in a viewer.
    if (const char* keep = std::getenv("BENCH_KEEP")) std::rename(JoinPath(out, "search.chm").c_str(), keep);
    DeleteTree(music, false);
    DeleteTree(out, false);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "pages";
    const int tracks = argc > 2 ? std::atoi(argv[2]) : 10000;
    // The data archive lives beside the program, one folder up from the benchmarks.
    if (!FileExists(JoinPath(ExeDir(), "data"))) SetExeDirForTesting(ExtractFileDir(ExeDir()));
    const std::string runtime = MakeTempFolder("orvalis-bench-run");
    std::printf("working folder below %s\n", runtime.c_str());
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));

    int status = 2;
    if (mode == "pages")
        status = BenchPages(tracks);
    else if (mode == "full")
        status = BenchFull(tracks);
    else if (mode == "search")
        status = BenchSearch(tracks, argc > 3 ? std::max(1, std::atoi(argv[3])) : 3);
    else
        std::fprintf(stderr, "usage: bench_build_run pages|full|search [tracks] [rounds]\n");

    SetAppConfiger(nullptr);
    DeleteTree(runtime, false);
    return status;
}
