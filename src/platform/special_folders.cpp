#include "platform/special_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "base/shared_functions.h"

namespace {

std::string EnvOrEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Reads XDG_<name>_DIR from user-dirs.dirs. The file holds shell assignments
// whose value is either "$HOME/sub/path" or an absolute "/path"; other forms
// are not allowed there and are ignored.
std::string UserDirFromConfig(const std::string& name, const std::string& home) {
    std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') {
        if (home.empty()) return {};
        config = JoinPath(home, ".config");
    }
    std::ifstream in(JoinPath(config, "user-dirs.dirs"));
    if (!in) return {};
    const std::string prefix = "XDG_" + name + "_DIR=";
    std::string line, found;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.rfind(prefix, 0) != 0) continue;
        std::string value = t.substr(prefix.size());
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
        value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) {
            if (home.empty()) continue;
            std::string rest = value.substr(5);
            if (!rest.empty() && rest[0] != '/') continue;
            value = home + rest;
        } else if (value.empty() || value[0] != '/') {
            continue;
        }
        found = StripTrailingSlashes(value);  // the last assignment wins, as in the shell
    }
    return found;
}

std::string UserDir(const std::string& name, const char* fallback) {
    std::string home = HomeFolder();
    std::string dir = UserDirFromConfig(name, home);
    if (!dir.empty()) return dir;
    return home.empty() ? std::string() : JoinPath(home, fallback);
}

}  // namespace

std::string HomeFolder() {
    std::string home = EnvOrEmpty("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
    }
    return StripTrailingSlashes(home);
}

std::string DesktopFolder() { return UserDir("DESKTOP", "Desktop"); }

std::string DocumentsFolder() { return UserDir("DOCUMENTS", "Documents"); }

std::string UserDataFolder() {
    std::string data = EnvOrEmpty("XDG_DATA_HOME");
    if (data.empty() || data[0] != '/') {
        std::string home = HomeFolder();
        if (home.empty()) return {};
        data = JoinPath(home, ".local/share");
    }
    return JoinPath(StripTrailingSlashes(data), "orvalis");
}

std::string QuickLaunchFolder() {
    const std::string data = UserDataFolder();
    return data.empty() ? std::string() : JoinPath(data, "quicklaunch");
}

std::string PlaceFolder(int placeTo) {
    switch (placeTo) {
        case 1: return DesktopFolder();
        case 2: return DocumentsFolder();
        case 3: return QuickLaunchFolder();
        default: return {};
    }
}
