#include "base/exe_dir.h"

#include <unistd.h>

#include <climits>

namespace {

struct ExeLocation {
    std::string path;
    std::string dir;
    ExeLocation() {
        char buf[PATH_MAX];
        ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n > 0) path.assign(buf, static_cast<std::size_t>(n));
        std::size_t slash = path.rfind('/');
        dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    }
};

ExeLocation& Location() {
    static ExeLocation loc;
    return loc;
}

}  // namespace

const std::string& ExeDir() { return Location().dir; }
const std::string& ExePath() { return Location().path; }
void SetExeDirForTesting(const std::string& folder) { Location().dir = folder; }
