// Adds a million keys shaped like catalogue values to a string index and lists
// them; then groups a million records, and indexes page paths like the file
// set does. Run: build/bench/bench_string_index [count]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "collection/string_index.h"

namespace {

const char* const kWords[] = {"Nova",    "Harbor",   "Silver", "Night", "Echo",   "River",    "Blue",     "Stone",
                              "Light",   "Dream",    "Fire",   "Ocean", "Wild",   "Heart",    "Shadow",   "Golden",
                              "Rain",    "Summer",   "Winter", "City",  "Love",   "Black",    "White",    "Sky",
                              "Road",    "Moon",     "Sun",    "Glass", "Iron",   "Paper",    "Velvet",   "Crystal",
                              "Morning", "Electric", "Broken", "Lost",  "Hidden", "Northern", "Southern", "Empty"};
constexpr int kWordCount = sizeof(kWords) / sizeof(kWords[0]);

std::string Phrase(std::mt19937& rng, int words) {
    std::uniform_int_distribution<int> pick(0, kWordCount - 1);
    std::string s;
    for (int i = 0; i < words; ++i) {
        if (i) s += ' ';
        s += kWords[pick(rng)];
    }
    return s;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

// Process CPU seconds: the machine may be shared, so wall time alone says little.
double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

struct TTimer {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    void Report(const char* what) const {
        std::printf("  %-34s %.3f s CPU, %.3f s wall\n", what, CpuSeconds() - cpu, Seconds(wall));
    }
};

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
    std::mt19937 rng(2024);

    // Artist names ("The " + two words, or a word and a number), album names
    // and track titles: the values a collection is grouped by. Many share
    // prefixes; titles are mostly distinct.
    std::vector<std::string> artists;
    for (int i = 0; i < 20000; ++i)
        artists.push_back(i % 3 == 0 ? "The " + Phrase(rng, 2) : Phrase(rng, 1) + " " + std::to_string(i));
    std::uniform_int_distribution<int> artistPick(0, static_cast<int>(artists.size()) - 1);
    std::uniform_int_distribution<int> shape(0, 2), words(1, 4);

    std::vector<std::string> keys;
    keys.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        switch (shape(rng)) {
            case 0: keys.push_back(artists[static_cast<std::size_t>(artistPick(rng))]); break;
            case 1:
                keys.push_back(Phrase(rng, 2) + (i % 5 == 0 ? " (Live)" : "") + " " + std::to_string(i % 5000));
                break;
            default: keys.push_back(Phrase(rng, words(rng)) + " " + std::to_string(i)); break;
        }
    }
    std::size_t bytes = 0;
    for (const auto& k : keys) bytes += k.size();
    std::printf("%d keys of catalogue values, avg %.1f bytes\n", count, static_cast<double>(bytes) / count);

    {
        TCustomStrFinder index;
        index.IgnoreCase = false;
        TTimer add;
        for (int i = 0; i < count; ++i) index.Add(keys[static_cast<std::size_t>(i)], i);
        add.Report("Add");

        TTimer list;
        const std::string all = index.AllKeys("\r\n");
        list.Report("AllKeys");
        std::size_t distinct = 0;
        for (char c : all) distinct += c == '\n';
        std::printf("  %zu distinct keys, %.1f MB listed\n", distinct, all.size() / 1e6);
        std::printf("  key structure %.1f MB (ids not counted)\n", index.StructureBytes() / 1e6);

        TTimer lookup;
        long long found = 0;
        for (int i = 0; i < count; ++i) found += index.Lookup(keys[static_cast<std::size_t>(i)]) >= 0;
        lookup.Report("Lookup of every key");
        if (found != count) std::printf("  MISSING KEYS: %lld found\n", found);
    }

    {
        // The page generator's shape: a million records grouped by 20 000
        // artist values, then every group selected.
        TCustomStrFinder index;
        index.IgnoreCase = false;
        TTimer add;
        for (int i = 0; i < count; ++i) index.Add(artists[static_cast<std::size_t>(artistPick(rng))], i);
        std::printf("grouping %d records by artist\n", count);
        add.Report("Add");
        TTimer list;
        const std::string all = index.AllKeys("\r\n");
        std::size_t selected = 0;
        for (std::size_t at = 0; at < all.size();) {
            std::size_t end = all.find("\r\n", at);
            if (index.Select(std::string_view(all).substr(at, end - at)) > 0) selected += index.SelectedIDs().size();
            at = end + 2;
        }
        list.Report("AllKeys + Select + SelectedIDs");
        if (selected != static_cast<std::size_t>(count)) std::printf("  WRONG: %zu ids selected\n", selected);
    }

    {
        // The file set's shape: page files named by 32 hex digits in one
        // working folder, letter case folded.
        const int pages = std::max(1, count / 16);
        std::uniform_int_distribution<int> hex(0, 15);
        std::vector<std::string> paths;
        for (int i = 0; i < pages; ++i) {
            std::string p = "/run/user/1000/orvalis/";
            for (int d = 0; d < 32; ++d) p += "0123456789abcdef"[hex(rng)];
            paths.push_back(p + ".html");
        }
        TCustomStrFinder index;
        TTimer add;
        for (int i = 0; i < pages; ++i) index.Add(paths[static_cast<std::size_t>(i)], i);
        std::printf("%d page paths of %zu bytes\n", pages, paths[0].size());
        add.Report("Add");
        TTimer lookup;
        long long found = 0;
        for (int i = 0; i < pages; ++i) found += index.Lookup(paths[static_cast<std::size_t>(i)]) == i;
        lookup.Report("Lookup of every path");
        if (found != pages) std::printf("  WRONG: %lld found\n", found);
        std::printf("  key structure %.0f bytes per path (ids not counted)\n",
                    static_cast<double>(index.StructureBytes()) / pages);
    }
    return 0;
}
