// Our help compiler against chmcmd on one generated catalogue of ~6000
// pages: median times over several runs, file sizes, and how far the
// compressed section shrank.
//
//   bench_chm_writer [pages] [runs] [threads]
#include <chm_lib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "chmwriter/chm_writer.h"

namespace fs = std::filesystem;

namespace {

void Save(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

std::string Hex(unsigned value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08X%08X%08X%08X", value * 2654435761u, value ^ 0x5bd1e995u, value * 40503u,
                  value + 0x9E3779B9u);
    return buffer;
}

// Pages shaped like the program's: a banner, a table of tracks with
// artists, times, rates and file names, links between pages.
void Generate(const fs::path& folder, int pages) {
    fs::create_directories(folder);
    const char* const names[] = {"Aurora Quartet", "Grey Skies",         "K&#333;ji Tanaka",      "Nordlys",
                                 "Old Timer",      "Zo&#235; Marchetti", "&#1044;&#1086;&#1084;", "&#22338;&#26412;"};
    std::string files;
    std::string hhc = "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\r\n<HTML><BODY>\r\n<UL>\r\n";
    for (int p = 0; p < pages; ++p) {
        const std::string address = std::string(p % 3 == 0   ? "art-"
                                                : p % 3 == 1 ? "alb-"
                                                             : "gen-") +
                                    Hex(static_cast<unsigned>(p)) + ".htm";
        const std::string title =
            std::string(p % 3 == 0 ? "Artist: " : "Album: ") + names[p % 8] + " " + std::to_string(p);
        std::string page =
            "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n<html>\r\n<head>\r\n"
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n<title>" +
            title +
            "</title>\r\n<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\">\r\n</head>\r\n"
            "<body>\r\n<table class=\"banner\"><tr><td class=\"logo\"><img src=\"logo.png\"></td><td><h1>" +
            title + "</h1></td></tr></table>\r\n<table class=\"list\">\r\n";
        for (int t = 0; t < 4 + p % 9; ++t) {
            page += "<tr class=\"" + std::string(t % 2 ? "even" : "odd") +
                    "\">\r\n<td class=\"track\"><span class=\"title\">Track " + std::to_string(p * 31 + t) +
                    "</span><br>\r\n<a class=\"artist\" href=\"art-" + Hex(static_cast<unsigned>(p - p % 3)) +
                    ".htm\">" + names[(p + t) % 8] + "</a></td>\r\n<td class=\"time\">" + std::to_string(2 + t % 5) +
                    ":" + std::to_string(10 + p % 50) + "</td>\r\n<td class=\"rate\">" +
                    std::to_string(128 + 32 * (t % 4)) + "Kbit</td>\r\n<td class=\"file\">/music/" + names[p % 8] +
                    "/" + std::to_string(t) + ".mp3</td>\r\n</tr>\r\n";
        }
        page += "</table>\r\n</body>\r\n</html>\r\n";
        Save(folder / address, page);
        files += address + "\r\n";
        hhc += "<LI> <OBJECT type=\"text/sitemap\">\r\n<param name=\"Name\" value=\"" + title +
               "\">\r\n<param name=\"Local\" value=\"" + address + "\">\r\n</OBJECT>\r\n";
    }
    hhc += "</UL>\r\n</BODY></HTML>\r\n";
    Save(folder / "main.html", "<html><head><title>Catalogue</title></head><body>Main</body></html>\r\n");
    Save(folder / "style.css", "body { font-family: sans-serif; }\r\n");
    Save(folder / "temp.hhc", hhc);
    Save(folder / "temp.hhk", "<HTML><BODY><UL></UL></BODY></HTML>\r\n");
    const std::string options =
        "[Options]\r\nCompatibility=1.1 or later\r\nContents file=temp.hhc\r\nIndex file=temp.hhk\r\n"
        "Display compile progress=Yes\r\nDefault Window=Main\r\nDefault topic=main.html\r\n"
        "Language=0x409 English (United States)\r\n";
    const std::string list = "\r\n[Files]\r\n" + files + "main.html\r\nstyle.css\r\n";
    Save(folder / "temp500000.hhp", "\r\n" + options + list);
    Save(folder / "chmcmd.hhp", "\r\n" + options + "Compiled file=chmcmd.chm\r\n" + list);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

template <typename F>
double Seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Uncompressed and compressed length of section 1, from its reset table.
std::pair<unsigned long long, unsigned long long> SectionSizes(const fs::path& file) {
    chmFile* h = chm_open(file.c_str());
    if (!h) return {0, 0};
    chmUnitInfo ui{};
    unsigned char table[0x28] = {};
    const char* name =
        "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";
    if (chm_resolve_object(h, name, &ui) == CHM_RESOLVE_SUCCESS) chm_retrieve_object(h, &ui, table, 0, sizeof table);
    chm_close(h);
    auto u64 = [&](int at) {
        unsigned long long v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | table[at + i];
        return v;
    };
    return {u64(0x10), u64(0x18)};
}

void Report(const char* who, const std::vector<double>& times, const fs::path& file) {
    const auto [plain, packed] = SectionSizes(file);
    std::printf("%-8s median %7.3f s over %zu runs, file %10llu bytes, section %llu -> %llu bytes (%.1f %%)\n", who,
                Median(times), times.size(), static_cast<unsigned long long>(fs::file_size(file)), plain, packed,
                plain ? 100.0 * static_cast<double>(packed) / static_cast<double>(plain) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const int pages = argc > 1 ? std::atoi(argv[1]) : 6000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    TChmWriteOptions options;
    options.Threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 0;

    char pattern[] = "/tmp/bench-chm-writer-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const fs::path folder = pattern;
    Generate(folder / "project", pages);
    std::printf("%d pages, %d runs, %u threads\n", pages, runs,
                options.Threads ? options.Threads : std::max(1u, std::thread::hardware_concurrency()));

    std::vector<double> ours;
    const fs::path ourFile = folder / "ours.chm";
    for (int r = 0; r < runs; ++r) {
        bool ok = false;
        ours.push_back(Seconds([&] {
            ok = WriteChmFromProject((folder / "project/temp500000.hhp").string(), ourFile.string(), options);
        }));
        if (!ok) {
            std::fprintf(stderr, "our writer failed\n");
            return 1;
        }
    }
    Report("ours", ours, ourFile);

    std::vector<double> theirs;
    const std::string command =
        "cd '" + (folder / "project").string() + "' && chmcmd --no-html-scan chmcmd.hhp >/dev/null 2>&1";
    for (int r = 0; r < runs; ++r) {
        int rc = 0;
        theirs.push_back(Seconds([&] { rc = std::system(command.c_str()); }));
        if (rc != 0) {
            std::printf("chmcmd  not run (missing or failed)\n");
            theirs.clear();
            break;
        }
    }
    if (!theirs.empty()) Report("chmcmd", theirs, folder / "project/chmcmd.chm");
    fs::remove_all(folder);
    return 0;
}
