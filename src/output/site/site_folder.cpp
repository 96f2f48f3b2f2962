// Site folders: the manifest, replacing and removing only our own files.
#include "output/site/site_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>
#include <vector>

#include "base/exceptions.h"
#include "base/language.h"
#include "base/shared_functions.h"

namespace {

constexpr std::string_view kManifestHeader = "orvalis-manifest 1";
// Far above any site's list; a bigger file is not one of ours.
constexpr std::int64_t kLargestManifest = std::int64_t{256} << 20;

EOSError OsError(const std::string& path, int error) {
    return EOSError(Translate("Cannot write \"$1\": $2", Params({path, std::strerror(error)})));
}

bool IsOwnFileName(std::string_view name) {
    return name == kSiteMarkerName || name == kSiteManifestName || name == kClaimFileName;
}

// What a folder holds: its files and folders by relative path, on its own
// mount, links not followed; the first entry of any other kind.
struct TContents {
    std::set<std::string> files, folders;
    std::string foreign;
};

void Walk(int dirFd, const std::string& prefix, const TMountId& mount, TContents& out) {
    const int listFd = ::dup(dirFd);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0) ::close(listFd);
        if (out.foreign.empty()) out.foreign = prefix.empty() ? "." : prefix;
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string relative = prefix + name;
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (prefix.empty() && IsOwnFileName(name) && S_ISREG(st.st_mode)) continue;
        if (S_ISREG(st.st_mode) && name.find('\n') == std::string::npos) {
            out.files.insert(relative);
        } else if (S_ISDIR(st.st_mode) && MountIdAt(dirFd, name.c_str()) == mount) {
            out.folders.insert(relative);
            const int sub = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                if (out.foreign.empty()) out.foreign = relative;
                continue;
            }
            Walk(sub, relative + "/", mount, out);
            ::close(sub);
        } else if (out.foreign.empty()) {
            out.foreign = relative;
        }
    }
}

// The folders that hold a path: "a/b/c" gives "a" and "a/b".
void AddHoldingFolders(const std::string& path, std::set<std::string>& folders) {
    for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1))
        folders.insert(path.substr(0, at));
}

bool IsListablePath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.back() == '/') return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return path.find('\0') == std::string_view::npos;
}

// The paths the manifest in the open folder lists; false without one.
bool ReadManifest(int folderFd, std::vector<std::string>& paths) {
    const int fd = ::openat(folderFd, kSiteManifestName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    std::string text;
    ReadSmallRegularFile(fd, kLargestManifest, text);
    ::close(fd);
    std::size_t at = text.find('\n');
    if (at == std::string::npos || std::string_view(text).substr(0, at) != kManifestHeader) return false;
    paths.clear();
    for (std::size_t start = at + 1; start < text.size(); start = at + 1) {
        at = text.find('\n', start);
        if (at == std::string::npos) at = text.size();
        const std::string line = text.substr(start, at - start);
        if (IsListablePath(line)) paths.push_back(line);
    }
    return true;
}

int OpenFolder(const std::string& folder) {
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The folder that holds relative inside root, reached one name at a time
// without following a link or leaving root's mount; -1 when it cannot be.
int OpenHoldingFolder(int rootFd, const std::string& relative, const TMountId& mount, std::string& last) {
    int fd = ::dup(rootFd);
    std::size_t start = 0;
    for (std::size_t slash = relative.find('/'); fd >= 0 && slash != std::string::npos;
         slash = relative.find('/', start)) {
        const std::string part = relative.substr(start, slash - start);
        const int next = MountIdAt(fd, part.c_str()) == mount
                             ? ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                             : -1;
        ::close(fd);
        fd = next;
        start = slash + 1;
    }
    last = relative.substr(start);
    return fd;
}

}  // namespace

bool IsOurSite(const std::string& folder) {
    struct stat st {};
    return ::lstat(JoinPath(folder, kSiteMarkerName).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string SiteReplaceProblem(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return Translate("Cannot read \"$1\": $2", Params({folder, std::strerror(errno)}));
    }
    if (!S_ISDIR(st.st_mode))
        return Translate("\"$1\" is not a folder; choose another folder for the web pages", Params({folder}));
    const int fd = OpenFolder(folder);
    if (fd < 0) return Translate("Cannot read \"$1\": $2", Params({folder, std::strerror(errno)}));
    TContents contents;
    Walk(fd, "", MountIdAt(fd, ""), contents);
    std::vector<std::string> listed;
    const bool hasManifest = ReadManifest(fd, listed);
    ::close(fd);
    const bool empty = contents.files.empty() && contents.folders.empty() && contents.foreign.empty();
    if (!IsOurSite(folder)) {
        if (empty) return {};
        return Translate(
            "The folder \"$1\" is not empty and holds no web site made by Orvalis; choose an empty or new folder",
            Params({folder}));
    }
    if (!hasManifest)
        return Translate(
            "The folder \"$1\" holds a web site of an earlier Orvalis that does not list its files, so it cannot "
            "tell them from yours; delete it yourself or choose another folder",
            Params({folder}));
    std::string foreign = contents.foreign;
    const std::set<std::string> files(listed.begin(), listed.end());
    std::set<std::string> folders;
    for (const std::string& path : listed) AddHoldingFolders(path, folders);
    for (const std::string& path : contents.files)
        if (foreign.empty() && !files.count(path)) foreign = path;
    for (const std::string& path : contents.folders)
        if (foreign.empty() && !folders.count(path)) foreign = path;
    if (foreign.empty()) return {};
    return Translate(
        "The folder \"$1\" holds \"$2\", which is not part of the web site Orvalis made there; move it out or "
        "choose another folder",
        Params({folder, foreign}));
}

void WriteSiteManifest(const std::string& folder) {
    const int fd = OpenFolder(folder);
    if (fd < 0) throw OsError(folder, errno);
    TContents contents;
    Walk(fd, "", MountIdAt(fd, ""), contents);
    ::close(fd);
    std::string text(kManifestHeader);
    text += '\n';
    for (const std::string& path : contents.files) text += path + '\n';
    SaveTextFile(text, JoinPath(folder, kSiteManifestName));
}

void RemoveSiteFolder(const std::string& folder) {
    const int fd = OpenFolder(folder);
    if (fd < 0) return;
    const TMountId mount = MountIdAt(fd, "");
    std::vector<std::string> listed;
    ReadManifest(fd, listed);
    std::set<std::string> folders;
    std::string last;
    for (const std::string& path : listed) {
        AddHoldingFolders(path, folders);
        const int holder = OpenHoldingFolder(fd, path, mount, last);
        if (holder < 0) continue;
        struct stat st {};
        if (::fstatat(holder, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(holder, last.c_str(), 0);
        ::close(holder);
    }
    // Deepest first, so a folder is empty when its turn comes; one that is
    // not stays.
    std::vector<std::string> byDepth(folders.begin(), folders.end());
    std::sort(byDepth.begin(), byDepth.end(), [](const std::string& a, const std::string& b) {
        return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
    });
    for (const std::string& path : byDepth) {
        const int holder = OpenHoldingFolder(fd, path, mount, last);
        if (holder < 0) continue;
        ::unlinkat(holder, last.c_str(), AT_REMOVEDIR);
        ::close(holder);
    }
    for (const char* own : {kSiteManifestName, kSiteMarkerName, kClaimFileName}) {
        struct stat st {};
        if (::fstatat(fd, own, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) ::unlinkat(fd, own, 0);
    }
    ::close(fd);
    ::rmdir(folder.c_str());
}

TStagingFolder::TStagingFolder(const std::string& target) {
    const std::string parent = ExtractFileDir(target);
    if (!parent.empty() && !DirectoryExists(parent) && !ForceFolders("", parent, false)) throw OsError(parent, errno);
    std::string name = JoinPath(parent, "." + ExtractFileName(target) + ".XXXXXX");
    if (!::mkdtemp(name.data())) throw OsError(name, errno);
    path_ = name;
    try {
        claim_ = TFolderClaim(path_);
    } catch (...) {
        ::rmdir(path_.c_str());
        throw;
    }
    // mkdtemp makes a private folder; a site is read like any other folder.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(path_.c_str(), 0777 & ~mask);
}

TStagingFolder::~TStagingFolder() {
    if (!path_.empty()) DeleteTree(path_, false);
}

void TStagingFolder::Place(const std::string& target, bool tryExchange) {
    PlaceSiteFolder(path_, target, tryExchange);
    path_.clear();
    claim_ = TFolderClaim();
}

void RemoveAbandonedStaging(const std::string& target) {
    const std::string prefix = "." + ExtractFileName(target) + ".";
    const auto matches = [&](std::string_view name) {
        if (name.size() < prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
        const std::string_view rest = name.substr(prefix.size());
        return rest.size() == 6 || (rest.size() == 10 && rest.substr(0, 4) == "old.");
    };
    // A folder with a manifest is an old site on its way out: only its own
    // files go. Without one it is a site that was still being written.
    RemoveAbandonedFolders(ExtractFileDir(target), matches, [](const std::string& folder) {
        struct stat st {};
        if (::lstat(JoinPath(folder, kSiteManifestName).c_str(), &st) == 0)
            RemoveSiteFolder(folder);
        else
            DeleteTree(folder, false);
    });
}

void PlaceSiteFolder(const std::string& staged, const std::string& target, bool tryExchange) {
    // The staged site's claim comes along into target; a site in place needs none.
    const auto dropMovedClaim = [&] { ::unlink(JoinPath(target, kClaimFileName).c_str()); };
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) throw OsError(target, errno);
        // Nobody else's folder may appear there in the meantime and be replaced.
        if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) throw OsError(target, errno);
            if (::rename(staged.c_str(), target.c_str()) != 0) throw OsError(target, errno);
        }
        dropMovedClaim();
        return;
    }
    // Checked again here: the folder may have changed since the run started.
    if (const std::string problem = SiteReplaceProblem(target); !problem.empty()) throw EOSError(problem);

    // The old site is ours from here on, so a run killed before it is gone
    // leaves a folder the next run recognises and removes.
    TFolderClaim oldSite(target);
    if (tryExchange) {
        if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
            // The staging name now holds the old site.
            dropMovedClaim();
            RemoveSiteFolder(staged);
            return;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
            const int error = errno;
            oldSite.Drop();
            throw OsError(target, error);
        }
    }
    // Without an exchange: the old site steps aside onto an empty folder of
    // its own, the new one takes its name, and the old one goes.
    std::string aside = JoinPath(ExtractFileDir(target), "." + ExtractFileName(target) + ".old.XXXXXX");
    if (!::mkdtemp(aside.data())) {
        const int error = errno;
        oldSite.Drop();
        throw OsError(aside, error);
    }
    if (::rename(target.c_str(), aside.c_str()) != 0) {
        const int error = errno;
        ::rmdir(aside.c_str());
        oldSite.Drop();
        throw OsError(target, error);
    }
    if (::rename(staged.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::rename(aside.c_str(), target.c_str());
        oldSite.Drop();
        throw OsError(target, error);
    }
    dropMovedClaim();
    RemoveSiteFolder(aside);
}
