// The whole record for one file: the first byte picks the extension, so the
// reader choice, the tag merging and the text clean-up all take part.
#include <unistd.h>

#include <cstdio>

#include "audio/audio_info.h"
#include "fuzz_input.h"

namespace {

struct TShmFiles {
    std::vector<std::string> paths;
    TShmFiles() {
        const char* exts[] = {".mp3", ".wma", ".ogg", ".flac", ".m4a", ".opus", ".aiff", ".wav",
                              ".wv",  ".ape", ".mpc", ".tta",  ".dsf", ".mp2", ".m4b"};
        for (const char* e : exts) paths.push_back("/dev/shm/orvalis-fuzz-" + std::to_string(getpid()) + e);
    }
    ~TShmFiles() {
        for (const std::string& p : paths) std::remove(p.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TShmFiles files;
    if (size == 0) return 0;
    const std::string& path = files.paths[data[0] % files.paths.size()];
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    } else {
        std::abort();
    }
    TAudioInformer record;
    try {
        record.ReadFile(path);
    } catch (const Exception&) {
        // Unreadable files are left out by the collection.
    }
    return 0;
}
