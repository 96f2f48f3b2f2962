// Checks of the place a catalogue file goes to, made before the scan.
#include "output/destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

#include "base/language.h"
#include "base/shared_functions.h"
#include "platform/special_folders.h"
#include "services/configer.h"

namespace {

// Creates and removes a file in folder; 0 or the errno of the failure.
int ProbeWritable(const std::string& folder) {
    std::string probe = JoinPath(folder, ".orvalis-probe-XXXXXX");
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return errno;
    ::close(fd);
    ::unlink(probe.c_str());
    return 0;
}

// Absolute, with links resolved as far as the path exists and the rest
// taken by name.
std::string CanonicalPath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path absolute = fs::absolute(fs::path(path), error).lexically_normal();
    fs::path existing = absolute, rest;
    while (!fs::exists(existing, error) && existing.has_relative_path()) {
        rest = existing.filename() / rest;
        existing = existing.parent_path();
    }
    fs::path resolved = fs::canonical(existing, error);
    if (error) resolved = existing;
    std::string result = (rest.empty() ? resolved : resolved / rest).lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

using TNodeId = std::pair<dev_t, ino_t>;

// The folders (and the entry itself) that a path lies in, by identity, so a
// folder reached through a bind mount is known under either name.
std::set<TNodeId> NodesAlong(std::string path) {
    std::set<TNodeId> nodes;
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) nodes.insert({st.st_dev, st.st_ino});
        if (path == "/" || path.empty()) break;
        path = ExtractFileDir(path);
        if (path.empty()) path = "/";
    }
    return nodes;
}

bool Within(const std::string& inner, const std::string& outer) {
    return inner == outer || outer == "/" ||
           (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 && inner[outer.size()] == '/');
}

}  // namespace

// Missing folders are created by the run; the nearest existing one must take files.
void CheckWritableFolder(TDestination& result) {
    struct stat st {};
    std::string folder = ExtractFileDir(result.Path);
    if (folder.empty()) folder = ".";
    while (::stat(folder.c_str(), &st) != 0 && errno == ENOENT && folder != "/" && folder != ".") {
        const std::string parent = ExtractFileDir(folder);
        folder = parent.empty() ? "." : parent;
    }
    int error = 0;
    if (::stat(folder.c_str(), &st) != 0)
        error = errno;
    else if (!S_ISDIR(st.st_mode))
        error = ENOTDIR;
    else
        error = ProbeWritable(folder);
    if (error != 0) {
        result.State = TDestinationState::Unwritable;
        result.Problem = Translate("Cannot write in the folder \"$1\": $2", Params({folder, std::strerror(error)}));
    }
}

std::string MusicOverlapProblem(const std::string& target, const std::vector<std::string>& catalogued) {
    if (catalogued.empty()) return {};
    const std::string place = CanonicalPath(target);
    const std::set<TNodeId> targetAlong = NodesAlong(place);
    struct stat targetSt {};
    const bool targetExists = ::stat(place.c_str(), &targetSt) == 0;
    for (const std::string& given : catalogued) {
        const std::string music = CanonicalPath(given);
        struct stat st {};
        bool overlaps = Within(place, music) || Within(music, place);
        if (!overlaps && ::stat(music.c_str(), &st) == 0) {
            overlaps = targetAlong.count({st.st_dev, st.st_ino}) > 0 ||
                       (targetExists && NodesAlong(music).count({targetSt.st_dev, targetSt.st_ino}) > 0);
        }
        if (overlaps)
            return Translate(
                "The catalogue cannot go to \"$1\": it would be, hold or lie inside \"$2\", which is being "
                "catalogued; choose a place outside the music",
                Params({target, given}));
    }
    return {};
}

std::string FileReplaceProblem(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};  // nothing there, or no folder to hold it
    // Read through a link, without waiting on a fifo or a device.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    char magic[4] = {};
    bool catalogue = false;
    if (fd >= 0) {
        catalogue = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::pread(fd, magic, 4, 0) == 4 &&
                    std::memcmp(magic, "ITSF", 4) == 0;
        ::close(fd);
    }
    if (catalogue) return {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return Translate("\"$1\" is a folder; choose another file name", Params({path}));
    return Translate("\"$1\" is not a catalogue made by Orvalis, so it is left as it is; choose another file name",
                     Params({path}));
}

std::string DatabaseDestination(const std::string& outputPath, int placeTo) {
    const std::string folder = PlaceFolder(placeTo);
    // Without a home folder there is no such place; the chosen name stands.
    if (folder.empty()) return outputPath;
    return JoinPath(folder, kPlacedDatabaseName);
}

int ConfiguredPlaceTo() {
    TConfiger* configer = AppConfiger();
    if (!configer) return 1;
    long long value = 0;
    if (!TryStrToInt(configer->ReadString("Session", "PlaceTo"), value) || value < INT_MIN || value > INT_MAX) return 1;
    return static_cast<int>(value);
}

std::string WithChmExtension(const std::string& fileName) {
    return UpperCase(ExtractFileExt(fileName)) == ".CHM" ? fileName : fileName + ".chm";
}

std::string OverwriteQuestion(const std::string& fileName) {
    return Translate("File") + " \"" + fileName + "\" " + Translate("already exists") + "." +
           Translate("Do you want to overwrite it ?");
}

TDestination ResolveDestination(const std::string& chosenName, int placeTo,
                                const std::vector<std::string>& catalogued) {
    TDestination result;
    result.Path = DatabaseDestination(chosenName, placeTo);
    result.Problem = MusicOverlapProblem(result.Path, catalogued);
    if (result.Problem.empty()) result.Problem = FileReplaceProblem(result.Path);
    if (!result.Problem.empty()) {
        result.State = TDestinationState::Refused;
        return result;
    }
    struct stat st {};
    if (::lstat(result.Path.c_str(), &st) == 0) result.State = TDestinationState::ExistingFile;
    CheckWritableFolder(result);
    return result;
}
