// Peak memory of a collection of 100 000 tagged records.
// Usage: bench_collection_memory [records]
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "collection/collection.h"
#include "base/shared_functions.h"

namespace {

long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

// A minimal MPEG file: silent frames and an ID3v1 tag with typical texts.
std::string TaggedFile(int n) {
    std::string data(417, '\0');
    data[0] = '\xFF';
    data[1] = '\xFB';
    data[2] = '\x90';
    data[3] = '\x64';
    std::string tag = "TAG";
    auto field = [&](std::string text, std::size_t width) {
        text.resize(width, '\0');
        tag += text;
    };
    field("Title of track number " + std::to_string(n), 30);
    field("Artist " + std::to_string(n % 500), 30);
    field("Album " + std::to_string(n % 2000), 30);
    field(std::to_string(1960 + n % 60), 4);
    field("comment", 30);
    tag += static_cast<char>(n % 80);
    // A few frames in a row, as a file is only taken for MPEG when they follow each other.
    return data + data + data + data + tag;
}

}  // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int distinct = 1000;
    std::string root = "/tmp/orvalis-bench-XXXXXX";
    if (!::mkdtemp(root.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    // Typical path lengths: a music folder, artist and album folders, a file name.
    std::vector<std::string> files;
    for (int i = 0; i < distinct; ++i) {
        std::string folder =
            root + "/home/user/Music/Artist " + std::to_string(i % 100) + "/Album " + std::to_string(i % 300);
        ForceFolders("", folder, false);
        files.push_back(folder + "/" + std::to_string(i) + " - Title of the track.mp3");
        SaveTextFile(TaggedFile(i), files.back());
    }

    long before = StatusKb("VmRSS:");
    {
        TMP3Collection collection;
        for (int i = 0; i < records; ++i) collection.AddFile(files[static_cast<std::size_t>(i % distinct)]);
        long peak = StatusKb("VmHWM:");
        std::printf("records: %d (capacity %d)\n", collection.Count(), collection.Capacity());
        std::printf("RSS before: %ld KiB, peak (VmHWM): %ld KiB, growth: %.1f MB (target <= 100 MB)\n", before, peak,
                    static_cast<double>(peak - before) / 1024.0);
        std::printf("per record: %.0f bytes\n", static_cast<double>(peak - before) * 1024.0 / records);
        const std::string artist(collection.Items(1).GetText(atArtist)), title(collection.Items(1).GetText(atTitle));
        std::printf("sample: artist \"%s\", title \"%s\", %d s\n", artist.c_str(), title.c_str(),
                    collection.Items(1).GetNumber(anPlayingTime));
    }
    DeleteTree(root, false);
    return 0;
}
