#pragma once
// Helpers shared by the test suites.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
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
