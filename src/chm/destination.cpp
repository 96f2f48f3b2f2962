#include "chm/destination.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "base/language.h"
#include "base/shared_functions.h"
#include "chm/web_site.h"
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

}  // namespace

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

TDestination ResolveDestination(const std::string& chosenName, int placeTo) {
    TDestination result;
    result.Path = DatabaseDestination(chosenName, placeTo);
    struct stat st {};
    if (::stat(result.Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        result.State = TDestinationState::Folder;
        result.Problem = Translate("\"$1\" is a folder; choose another file name", Params({result.Path}));
        return result;
    }
    if (::lstat(result.Path.c_str(), &st) == 0) result.State = TDestinationState::ExistingFile;
    CheckWritableFolder(result);
    return result;
}

TDestination ResolveSiteDestination(const std::string& chosenFolder, int placeTo) {
    TDestination result;
    result.Path = SiteDestination(chosenFolder, placeTo);
    while (result.Path.size() > 1 && result.Path.back() == '/') result.Path.pop_back();
    struct stat st {};
    if (::lstat(result.Path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            result.State = TDestinationState::Folder;
            result.Problem = Translate("\"$1\" is not a folder; choose another folder for the web pages",
                                       Params({result.Path}));
            return result;
        }
        std::error_code error;
        if (IsOurSite(result.Path)) {
            result.State = TDestinationState::ExistingFile;
        } else if (!std::filesystem::is_empty(result.Path, error) || error) {
            result.State = TDestinationState::Folder;
            result.Problem = Translate(
                "The folder \"$1\" is not empty and holds no web site made by Orvalis; choose an empty or new folder",
                Params({result.Path}));
            return result;
        }
    }
    // The site is built beside its folder, so the folder above must take files.
    CheckWritableFolder(result);
    return result;
}

std::string SiteOverwriteQuestion(const std::string& folder) {
    return Translate("The web site \"$1\" already exists. Do you want to replace it?", Params({folder}));
}
