#pragma once
// Helpers shared by the test suites.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <vector>
#include <string>

#include "base/shared_functions.h"

// A fresh folder below /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string tmpl = "/tmp/orvalis-test-XXXXXX";
        path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~TempDir() { DeleteTree(path_, false); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return JoinPath(path_, name); }
    // Writes a file below the folder, creating subfolders; returns its path.
    std::string Write(const std::string& relative, const std::string& content) const {
        std::string full = JoinPath(path_, relative);
        ForceFolders("", full, true);
        SaveTextFile(content, full);
        return full;
    }

private:
    std::string path_;
};

// A digest of everything below folder: each entry's path, kind and bytes (a
// link's target, not what it points to), so any change to a tree shows.
inline std::string TreeDigest(const std::string& folder) {
    namespace fs = std::filesystem;
    std::string all;
    std::error_code error;
    std::vector<std::string> lines;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const fs::path& p = it->path();
        const std::string relative = fs::relative(p, folder).string();
        if (it->is_symlink())
            lines.push_back("L " + relative + " " + fs::read_symlink(p).string());
        else if (it->is_directory())
            lines.push_back("D " + relative);
        else
            lines.push_back("F " + relative + " " + HexEncode(Md5Digest(LoadTextFile(p.string()))));
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) all += line + "\n";
    return error ? "unreadable: " + error.message() : HexEncode(Md5Digest(all)) + " (" + std::to_string(lines.size()) + " entries)";
}
