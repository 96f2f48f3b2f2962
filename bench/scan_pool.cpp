// One folder scan of a collection with a given number of readers; prints
// the seconds it took and the tracks found. bench/cold_scan.sh runs it
// between drops of the page cache.
// Usage: bench_scan_pool FOLDER [READERS [eager]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "collection/collection.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [READERS [eager]]\n", argv[0]);
        return 2;
    }
    TMP3Collection collection;
    collection.SetReaders(argc > 2 ? std::atoi(argv[2]) : TMP3Collection::kDefaultReaders);
    collection.SetEagerReaders(argc > 3 && std::string(argv[3]) == "eager");
    long long events = 0;
    TScanEvent count = [&](TMP3Collection&, const std::string&, bool&) { ++events; };
    const auto start = std::chrono::steady_clock::now();
    collection.Scan(argv[1], nullptr, count);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f %d %zu %lld\n", seconds, collection.Count(), collection.Problems().size(), events);
    return 0;
}
