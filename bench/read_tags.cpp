// Reads the tags and stream values of 10 000 distinct MP3 files of about
// 100 KB each, laid out as artist/album folders, from a warm cache on one
// thread, and reports files per second and the memory used.
//
//   bench_read_tags [--files N] [--size BYTES] [--dir FOLDER] [--samples FOLDER] [--keep]
//
// The sample MP3s come from examples/music of the source tree, found above
// the folder of the executable unless --samples names it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/mpeg.h"
#include "base/exe_dir.h"
#include "base/shared_functions.h"

namespace {

long MaxRssKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A sample MP3 split into what precedes its first frame and its audio
// frames; its ID3v1 tag is left out, as every made file gets its own.
struct Sample {
    std::string tag, audio;
};

std::string FindSampleFolder() {
    std::string dir = ExeDir();
    for (int up = 0; up < 5 && !dir.empty(); ++up) {
        if (DirectoryExists(dir + "/examples/music")) return dir + "/examples/music";
        dir = ExtractFileDir(dir);
    }
    return "examples/music";
}

std::vector<Sample> LoadSamples(const std::string& folder) {
    std::vector<Sample> samples;
    for (const char* name :
         {"Aurora Quartet - Morning Light.mp3", "Old Timer - Dusty Road.mp3",
          "Salt & Pepper <Live> - Rock & Roll <Demo>.mp3", "\xC3\x89milie Duval - Chanson d'\xC3\xA9t\xC3\xA9.mp3",
          "\xE5\x9D\x82\xE6\x9C\xAC \xE9\x81\xA5 - \xE5\xA4\x8F\xE3\x81\xAE\xE6\xB5\xB7.mp3"}) {
        const std::string path = folder + "/" + name;
        std::string bytes = LoadTextFile(path);
        TAudInfo info;
        try {
            info.ReadFromFile(path);
        } catch (const Exception&) {
            continue;
        }
        if (bytes.empty() || info.FirstFrame < 0) continue;
        std::size_t end = bytes.size() - (info.ID3v1.Exists ? 128 : 0);
        samples.push_back({bytes.substr(0, std::size_t(info.FirstFrame)),
                           bytes.substr(std::size_t(info.FirstFrame), end - std::size_t(info.FirstFrame))});
    }
    return samples;
}

std::string Id3v1(const std::string& title, const std::string& artist, int track) {
    std::string t = "TAG";
    auto field = [&](std::string s, std::size_t n) {
        s.resize(n, '\0');
        t += s;
    };
    field(title, 30);
    field(artist, 30);
    field("Bench Album", 30);
    field("2024", 4);
    field("", 28);
    t += '\0';
    t += static_cast<char>(track);
    t += static_cast<char>(13);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    int files = 10000;
    std::size_t size = 100 * 1024;
    std::string base = GetTempFolder();
    bool keep = false;
    std::string sampleFolder;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--files" && i + 1 < argc)
            files = std::atoi(argv[++i]);
        else if (a == "--size" && i + 1 < argc)
            size = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--dir" && i + 1 < argc)
            base = argv[++i];
        else if (a == "--samples" && i + 1 < argc)
            sampleFolder = argv[++i];
        else if (a == "--keep")
            keep = true;
        else {
            std::fprintf(stderr, "usage: %s [--files N] [--size BYTES] [--dir FOLDER] [--samples FOLDER] [--keep]\n",
                         argv[0]);
            return 2;
        }
    }

    if (sampleFolder.empty()) sampleFolder = FindSampleFolder();
    std::vector<Sample> samples = LoadSamples(sampleFolder);
    if (samples.empty()) {
        std::fprintf(stderr, "no sample MP3 files found in %s\n", sampleFolder.c_str());
        return 1;
    }
    std::string tmpl = JoinPath(base, "orvalis-bench-XXXXXX");
    if (!::mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string root = tmpl;

    // Distinct files: every one carries its own ID3v1 tag, and the audio of
    // its sample is repeated up to the wanted size. A child process makes
    // them, so the memory figures below are those of reading alone.
    std::vector<std::string> paths;
    paths.reserve(std::size_t(files));
    for (int i = 0; i < files; ++i) {
        const int artist = i / 100, album = (i / 10) % 10, track = i % 10 + 1;
        paths.push_back(root + "/Artist " + std::to_string(artist) + "/Album " + std::to_string(album) + "/" +
                        std::to_string(track) + " - Song " + std::to_string(i) + ".mp3");
    }
    const auto makeStart = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        std::uint64_t totalBytes = 0;
        for (int i = 0; i < files; ++i) {
            const Sample& s = samples[std::size_t(i) % samples.size()];
            const int artist = i / 100, track = i % 10 + 1;
            if (i % 10 == 0) ForceFolders("", ExtractFileDir(paths[std::size_t(i)]), false);
            std::string content = s.tag;
            while (content.size() + s.audio.size() + 128 <= size) content += s.audio;
            content += Id3v1("Song " + std::to_string(i), "Artist " + std::to_string(artist), track);
            SaveTextFile(content, paths[std::size_t(i)]);
            totalBytes += content.size();
        }
        std::printf("made %d files, %.1f MB, average %.1f KB", files, totalBytes / 1e6, totalBytes / 1024.0 / files);
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "making the files failed\n");
        DeleteTree(root, false);
        return 1;
    }
    const double makeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - makeStart).count();
    std::printf(", in %.1f s (%s)\n", makeSeconds, root.c_str());

    // Warm the cache with one full pass, then time the next passes.
    long checksum = 0;
    auto pass = [&] {
        for (const std::string& p : paths) {
            TAudioInformer record;
            record.ReadFile(p);
            checksum += record.GetNumber(anPlayingTime) + static_cast<long>(record.GetText(atTitle).size());
        }
    };
    pass();
    const long rssBefore = MaxRssKb();
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        pass();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const long rssAfter = MaxRssKb();

    // What one file costs in reads from the system.
    TBufferedFile probe(paths.front());
    {
        TID3v2 v2;
        v2.ReadFrom(probe);
        TID3v1Tag v1;
        v1.ReadFrom(probe);
        TAudInfo info;
        info.ReadFrom(probe);
    }

    std::printf("read %d files in %.3f s (best of 3): %.0f files/s, one thread\n", files, best, files / best);
    std::printf("bytes fetched per file: %llu in %llu reads (file size %llu)\n",
                static_cast<unsigned long long>(probe.BytesFetched()),
                static_cast<unsigned long long>(probe.FetchCount()), static_cast<unsigned long long>(probe.Size()));
    std::printf("max resident memory: %ld KB after warm-up, %ld KB after the timed passes (checksum %ld)\n", rssBefore,
                rssAfter, checksum);
    if (!keep) DeleteTree(root, false);
    return 0;
}
