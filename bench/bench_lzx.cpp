// LZX compression of catalogue-like HTML in 64 KiB reset intervals (64 KiB
// window), against zlib deflate level 6 on the same independent 64 KiB
// chunks. Prints medians of CPU-time throughput and the size ratios, then
// one run each on data that is hard for a match finder.
// Build: cmake --build build --target bench_bench_lzx
// Run: build/bench/bench_bench_lzx [megabytes] [runs] [windowBits]
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "../tests/chmwriter/lzx_sample_html.h"
#include "chmwriter/lzx_compressor.h"

namespace {

constexpr std::size_t kInterval = 2 * kLzxFrameSize;

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double WallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::size_t LzxAll(const std::vector<std::uint8_t>& data, unsigned windowBits, std::size_t from, std::size_t step) {
    std::size_t total = 0;
    for (std::size_t i = from * kInterval; i < data.size(); i += step * kInterval) {
        const std::size_t n = std::min(kInterval, data.size() - i);
        total += CompressLzxInterval(std::span(data.data() + i, n), windowBits).Bytes.size();
    }
    return total;
}

std::size_t DeflateAll(const std::vector<std::uint8_t>& data) {
    std::size_t total = 0;
    std::vector<std::uint8_t> out(kInterval * 2);
    for (std::size_t i = 0; i < data.size(); i += kInterval) {
        const std::size_t n = std::min(kInterval, data.size() - i);
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);  // raw stream, no header
        z.next_in = const_cast<Bytef*>(data.data() + i);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_FINISH);
        total += z.total_out;
        deflateEnd(&z);
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 32;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const unsigned windowBits = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 16;
    const auto data = MakeCatalogueHtml(static_cast<std::size_t>(megabytes * 1024 * 1024), 7);
    const double mb = static_cast<double>(data.size()) / 1e6;

    std::vector<double> lzxTimes, zlibTimes, pairTimes;
    std::size_t lzxSize = 0, zlibSize = 0;
    for (int r = 0; r < runs; ++r) {
        double t = CpuSeconds();
        lzxSize = LzxAll(data, windowBits, 0, 1);
        lzxTimes.push_back(CpuSeconds() - t);

        t = CpuSeconds();
        zlibSize = DeflateAll(data);
        zlibTimes.push_back(CpuSeconds() - t);

        // Two threads splitting the intervals, as the help compiler does.
        t = WallSeconds();
        std::size_t a = 0, b = 0;
        std::thread other([&] { b = LzxAll(data, windowBits, 1, 2); });
        a = LzxAll(data, windowBits, 0, 2);
        other.join();
        pairTimes.push_back(WallSeconds() - t);
        if (a + b != lzxSize) std::fprintf(stderr, "threaded output differs in size\n");
    }
    std::printf("input: %.1f MB catalogue HTML, 64 KiB intervals, window 2^%u, %d runs (medians)\n", mb, windowBits,
                runs);
    std::printf("  LZX        %7.1f MB/s per core   ratio %.2f %%   (%zu bytes)\n", mb / Median(lzxTimes),
                100.0 * static_cast<double>(lzxSize) / static_cast<double>(data.size()), lzxSize);
    std::printf("  deflate-6  %7.1f MB/s per core   ratio %.2f %%   (%zu bytes)\n", mb / Median(zlibTimes),
                100.0 * static_cast<double>(zlibSize) / static_cast<double>(data.size()), zlibSize);
    std::printf("  LZX on 2 threads: %.3f s wall for the whole input (%.1f MB/s)\n", Median(pairTimes),
                mb / Median(pairTimes));

    const std::size_t otherSize = 8 << 20;
    TSampleRandom rnd(99);
    std::vector<std::uint8_t> noise(otherSize), acgt(otherSize), zeros(otherSize, 0);
    for (std::size_t i = 0; i < otherSize; ++i) {
        noise[i] = static_cast<std::uint8_t>(rnd.Next());
        acgt[i] = static_cast<std::uint8_t>("ACGT"[rnd.Next() & 3]);
    }
    const std::pair<const char*, const std::vector<std::uint8_t>*> others[] = {
        {"random bytes", &noise}, {"4-letter text", &acgt}, {"zeros", &zeros}};
    for (const auto& [name, set] : others) {
        const double t = CpuSeconds();
        const std::size_t size = LzxAll(*set, windowBits, 0, 1);
        const double seconds = CpuSeconds() - t;
        std::printf("  %-14s LZX %7.1f MB/s  ratio %6.2f %%   deflate-6 ratio %6.2f %%\n", name,
                    static_cast<double>(set->size()) / 1e6 / seconds,
                    100.0 * static_cast<double>(size) / static_cast<double>(set->size()),
                    100.0 * static_cast<double>(DeflateAll(*set)) / static_cast<double>(set->size()));
    }
    return 0;
}
