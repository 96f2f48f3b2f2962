// Reads every audio file of a collection the way the scan does (the record
// of each file, by the format its bytes show) and prints the time of each
// round, for side-by-side runs against another build (see
// bench/read_formats_vs.sh).
//
//   bench_read_formats FOLDER [ROUNDS]
//
// The files are listed once, before the timing; one warm-up round fills the
// cache.
#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/audio_info.h"

namespace {

void List(const std::string& folder, std::vector<std::string>& out) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            List(path, out);
        else if (S_ISREG(st.st_mode) && TAudioInformer::IsAudioFile(name))
            out.push_back(path);
    }
    ::closedir(dir);
}

// Seconds for one round; counts the files read and refused.
double Round(const std::vector<std::string>& files, int& read, int& refused) {
    read = refused = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& f : files) {
        TAudioInformer record;
        try {
            record.ReadFile(f);
            ++read;
        } catch (const std::exception&) {
            ++refused;
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<std::string> files;
    List(argv[1], files);
    int read = 0, refused = 0;
    Round(files, read, refused);  // warm-up
    for (int r = 0; r < rounds; ++r) {
        const double seconds = Round(files, read, refused);
        std::printf("round %d: %d files read, %d refused, %.3f s, %.0f files/s\n", r + 1, read, refused, seconds,
                    seconds > 0 ? files.size() / seconds : 0.0);
    }
    return 0;
}
