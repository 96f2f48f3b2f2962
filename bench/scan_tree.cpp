// Folder scan speed over a tree of 100 000 non-audio entries, warm cache.
// Usage: bench_scan_tree [entries]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "collection/collection.h"
#include "base/shared_functions.h"

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int perFolder = 1000;
    std::string root = "/tmp/orvalis-bench-XXXXXX";
    if (!::mkdtemp(root.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    // Folders of 1000 files, two levels deep, so the scan recurses as well.
    int made = 0;
    for (int f = 0; made < entries; ++f) {
        std::string folder = root + "/group" + std::to_string(f / 10) + "/folder" + std::to_string(f);
        ForceFolders("", folder, false);
        for (int i = 0; i < perFolder && made < entries; ++i, ++made) {
            std::string name = folder + "/track" + std::to_string(i) + ".txt";
            int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) ::close(fd);
        }
    }

    long long events = 0;
    TScanEvent count = [&](TMP3Collection&, const std::string&, bool&) { ++events; };
    TMP3Collection collection;
    collection.Scan(root, nullptr, count);  // warm the cache

    std::vector<double> rates;
    for (int run = 0; run < 5; ++run) {
        events = 0;
        auto start = std::chrono::steady_clock::now();
        collection.Scan(root, nullptr, count);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        rates.push_back(static_cast<double>(events) / seconds);
        std::printf("run %d: %lld entries in %.3f s = %.0f entries/s\n", run + 1, events, seconds, rates.back());
    }
    std::sort(rates.begin(), rates.end());
    std::printf("median: %.0f entries/s (target >= 200000)\n", rates[rates.size() / 2]);
    DeleteTree(root, false);
    return 0;
}
