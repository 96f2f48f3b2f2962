#pragma once
// Compiles a help project (.hhp with its sitemaps, pages and shared files,
// all below the project's folder) into a compiled help file (.chm) in
// process: pages and files LZX-compressed in section 1, the topic tables
// and settings the viewers read, the directory they look names up in. With
// "Full-text search=Yes" the pages' words go into a full-text index; an index
// sitemap is also written as the binary keyword index.
//
// Errors are reported as a message plus false: the function never throws
// for a bad project, an unreadable file, a full disk or a stop; it calls
// OnError once with the reason and answers false. The output file is then
// left as it was before the call (a partial result is never kept; the new
// file is written under a temporary name beside it and renamed at the end).
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// 1 GiB; libmspack reads nothing at 2 GiB.
inline constexpr unsigned kMaxResetIntervalFrames = 1u << 15;

// Project files kept outside the project's folder, by their address in the
// project's [Files] list: which they are, each one's size and its bytes.
struct TChmKeptFiles {
    std::vector<std::string> Addresses;
    std::function<std::optional<std::uint64_t>(const std::string& address)> SizeOf;
    std::function<std::string(const std::string& address)> Read;
};

struct TChmWriteOptions {
    // Compression workers; 0 means one per hardware thread. The result is
    // the same for every count.
    unsigned Threads = 0;
    // LZX window as a power of two (16 to 21; chmlib cannot describe a 32 KiB
    // window) and frames of 32 KiB per reset interval: a power of two from
    // half the window (2^(WindowBits - 16), which chmlib needs) up to
    // kMaxResetIntervalFrames; other pairs are refused. 64 KiB each is what
    // help compilers commonly write.
    unsigned WindowBits = 16;
    unsigned ResetIntervalFrames = 2;
    // Time stamp written into the file (seconds since 1970); the current
    // time when empty. Fix it to get byte-identical files.
    std::optional<std::uint32_t> Timestamp;
    // Code page of the titles in #SYSTEM, #STRINGS and #WINDOWS; 0 means the
    // ANSI code page of the project's language, which is what viewers decode
    // them with. 65001 keeps UTF-8.
    unsigned TitleCodePage = 0;
    // Files the caller holds in memory rather than on disk, by their address
    // in the project's [Files] list; every other file is read from disk. The
    // bytes stay the caller's and must outlive the call.
    const std::map<std::string, std::string_view>* MemoryFiles = nullptr;
    // Files the caller keeps elsewhere (not in memory, not in the project's
    // folder), read when they are needed.
    const TChmKeptFiles* KeptFiles = nullptr;
};

struct TChmWriteCallbacks {
    // One line per phase and per file added.
    std::function<void(const std::string& line)> OnMessage;
    // Fraction 0..1 of the bytes compressed so far; ends with 1 on success.
    std::function<void(double fraction)> OnProgress;
    // Asked between files and compression steps; false stops the
    // compilation (OnError then gets "Compilation stopped.").
    std::function<bool()> KeepGoing;
    // The reason, once, when the function answers false.
    std::function<void(const std::string& reason)> OnError;
    // Once every project file is read: the memory files are not read after
    // it, so their holder may let them go before the tables are built.
    std::function<void()> OnFilesRead;
};

// projectFile: the .hhp; every file it names is relative to its folder.
// outputFile: the .chm to write ("Compiled file" of the project is not
// consulted; the caller decides where the result goes). Answers true only
// when the complete file is in place.
bool WriteChmFromProject(const std::string& projectFile, const std::string& outputFile,
                         const TChmWriteOptions& options = {}, const TChmWriteCallbacks& callbacks = {});

// Tests: the compressed section waits in a named, at once unlinked file, as
// on file systems without O_TMPFILE.
void SetChmSpillWithoutTmpfileForTesting(bool named);
