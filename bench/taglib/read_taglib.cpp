// The same rounds as bench_read_formats, reading each file's tags and audio
// properties with TagLib instead, so the two can run side by side through
// bench/read_formats_vs.sh. Built by bench/read_vs_taglib.sh, outside the
// project's build: TagLib is a benchmark comparison, not a dependency.
//
//   read_taglib FOLDER [ROUNDS]
#include <dirent.h>
#include <sys/stat.h>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The extensions the catalogue takes, so both sides read the same files.
bool IsAudioName(std::string name) {
    static const char* const kExtensions[] = {".mp3", ".mp2", ".wma", ".ogg", ".oga", ".opus", ".spx", ".flac",
                                              ".m4a", ".m4b", ".mp4", ".aif", ".aiff", ".aifc", ".wav", ".wv",
                                              ".ape", ".mpc", ".tta", ".dsf"};
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return std::find(std::begin(kExtensions), std::end(kExtensions), ext) != std::end(kExtensions);
}

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
        else if (S_ISREG(st.st_mode) && IsAudioName(name))
            out.push_back(path);
    }
    ::closedir(dir);
}

double Round(const std::vector<std::string>& files, int& read, int& refused) {
    read = refused = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& f : files) {
        // TagLib's quickest way to the audio properties: no more work than ours.
        TagLib::FileRef file(f.c_str(), true, TagLib::AudioProperties::Fast);
        if (file.isNull() || !file.tag()) {
            ++refused;
            continue;
        }
        // What the catalogue takes of every file.
        const TagLib::Tag* tag = file.tag();
        volatile std::size_t sink = tag->artist().size() + tag->title().size() + tag->album().size() +
                                    tag->genre().size() + tag->comment().size() + tag->year() + tag->track();
        if (const TagLib::AudioProperties* p = file.audioProperties())
            sink = sink + static_cast<std::size_t>(p->lengthInMilliseconds() + p->bitrate() + p->sampleRate() +
                                                   p->channels());
        (void)sink;
        ++read;
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
