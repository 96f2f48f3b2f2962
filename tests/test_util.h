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

// Flips one byte of a zip member's packed data, `into` bytes after its start:
// the archive still opens, the member no longer matches its checksum.
inline bool DamageZipMember(const std::string& archive, const std::string& member, std::size_t into) {
    std::string bytes = LoadTextFile(archive);
    const std::size_t name = bytes.find(member);
    if (name == std::string::npos || name < 30) return false;
    const std::size_t header = name - 30;
    if (bytes.compare(header, 4, "PK\x03\x04") != 0) return false;
    const std::size_t extra = static_cast<unsigned char>(bytes[header + 28]) +
                              256 * static_cast<std::size_t>(static_cast<unsigned char>(bytes[header + 29]));
    const std::size_t at = name + member.size() + extra + into;
    if (at >= bytes.size()) return false;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x55);
    SaveTextFile(bytes, archive);
    return true;
}
