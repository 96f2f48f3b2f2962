#include "collection/collection.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/language.h"
#include "collection/mount_table.h"

namespace {

enum class EntryKind { Folder, File, FolderLink, Dangling, Special, Unreachable, Other };

struct ListedEntry {
    std::string name;
    EntryKind kind;
    int error = 0;  // why an Unreachable entry could not be looked at
};

// What the listing shows of one directory entry. Devices, sockets and fifos
// stand for the hidden system entries: listed as Special, never opened; a
// link to a folder is listed but never entered, so a link loop cannot hang
// the scan. An entry that cannot even be looked at (its path too long, say)
// is Unreachable, with the reason in error.
bool Classify(const std::string& path, unsigned char type, EntryKind& kind, int& error) {
    struct stat st {};
    if (type == DT_UNKNOWN) {
        if (::lstat(path.c_str(), &st) != 0) {
            error = errno;
            kind = EntryKind::Unreachable;
            return true;
        }
        if (S_ISDIR(st.st_mode))
            type = DT_DIR;
        else if (S_ISREG(st.st_mode))
            type = DT_REG;
        else if (S_ISLNK(st.st_mode))
            type = DT_LNK;
        else
            type = DT_FIFO;
    }
    switch (type) {
        case DT_DIR: kind = EntryKind::Folder; return true;
        case DT_REG: kind = EntryKind::File; return true;
        case DT_LNK:
            if (::stat(path.c_str(), &st) != 0) {
                error = errno;
                // Listed, never read.
                kind = errno == ENOENT || errno == ELOOP ? EntryKind::Dangling : EntryKind::Unreachable;
                return true;
            }
            if (S_ISDIR(st.st_mode))
                kind = EntryKind::FolderLink;
            else if (S_ISREG(st.st_mode))
                kind = EntryKind::File;
            else
                kind = EntryKind::Special;
            return true;
        default: kind = EntryKind::Special; return true;
    }
}

std::string JoinEntry(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

bool IsLocalDiskType(const std::string& type) {
    static const char* const kTypes[] = {"ext2",     "ext3",  "ext4",     "xfs",    "btrfs",   "f2fs",   "jfs",
                                         "reiserfs", "zfs",   "bcachefs", "nilfs2", "vfat",    "msdos",  "exfat",
                                         "ntfs",     "ntfs3", "fuseblk",  "hfs",    "hfsplus", "overlay"};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

bool IsNetworkType(const std::string& type) {
    static const char* const kTypes[] = {"nfs",  "nfs4", "cifs",      "smb3",           "smbfs",      "ncpfs", "afs",
                                         "ceph", "9p",   "glusterfs", "fuse.glusterfs", "fuse.sshfs", "drvfs"};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

std::string ReadFirstLine(const std::string& fileName) {
    std::ifstream in(fileName);
    std::string line;
    std::getline(in, line);
    return line;
}

bool IsPseudoType(const std::string& type) {
    static const char* const kTypes[] = {"proc",    "sysfs",       "devtmpfs", "devpts",     "cgroup",
                                         "cgroup2", "debugfs",     "tracefs",  "securityfs", "pstore",
                                         "bpf",     "configfs",    "fusectl",  "mqueue",     "hugetlbfs",
                                         "autofs",  "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs"};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

// A block device whose disk reports itself as removable (USB sticks, card
// readers), including partitions of such a disk.
bool IsRemovableDevice(const std::string& device) {
    if (device.rfind("/dev/", 0) != 0) return false;
    char resolved[PATH_MAX];
    std::string dev = ::realpath(device.c_str(), resolved) ? std::string(resolved) : device;
    std::string name = dev.substr(dev.rfind('/') + 1);
    std::string sys = "/sys/class/block/" + name;
    if (ReadFirstLine(sys + "/removable") == "1") return true;
    char disk[PATH_MAX];
    if (::realpath(sys.c_str(), disk)) {
        std::string parent(disk);
        parent = parent.substr(0, parent.rfind('/'));
        if (ReadFirstLine(parent + "/removable") == "1") return true;
    }
    return false;
}

}  // namespace

TMP3Collection::~TMP3Collection() { Clear(); }

void TMP3Collection::Clear() {
    for (int i = count_ - 1; i >= 0; --i) items_[static_cast<std::size_t>(i)].reset();
    items_.clear();
    items_.shrink_to_fit();
    problems_.clear();
    count_ = 0;
}

TAudioInformer& TMP3Collection::Items(int index) const {
    if (index < 0 || index >= count_) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return *items_[static_cast<std::size_t>(index)];
}

bool TMP3Collection::AddFile(const std::string& path) {
    try {
        if (Capacity() <= count_) items_.resize(items_.size() + 1000);
        // A file the system will not let us read is named, not shown as an
        // empty record. Never waits: a fifo put in a file's place between the
        // listing and now would block an ordinary open for ever.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            problems_.push_back({path, std::strerror(errno)});
            return false;
        }
        struct stat st {};
        const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        ::close(fd);
        if (!regular) {
            problems_.push_back({path, Translate("not a regular file")});
            return false;
        }
        auto record = std::make_unique<TAudioInformer>();
        record->ReadFile(path);
        items_[static_cast<std::size_t>(count_)] = std::move(record);
        ++count_;
        return true;
    } catch (const std::exception& e) {
        // An unreadable, damaged or unknown file is not catalogued, but named.
        problems_.push_back({path, e.what()});
        return false;
    }
}

void TMP3Collection::Scan(const std::string& folder, const TScanEvent& onFolder, const TScanEvent& onProgress) {
    cancel_ = false;
    onFolder_ = onFolder ? &onFolder : nullptr;
    onProgress_ = onProgress ? &onProgress : nullptr;
    // Kernel and automounter file systems hold no music; entering them is
    // slow (/proc, /sys) or may wait on the network (autofs).
    pseudoDevices_.clear();
    for (const TMountEntry& m : ReadMountTable()) {
        struct stat st {};
        if (IsPseudoType(m.type) && ::lstat(m.mountPoint.c_str(), &st) == 0) pseudoDevices_.push_back(st.st_dev);
    }
    if (!folder.empty()) {
        rootDevice_.reset();
        ScanFolder(folder);
    } else {
        // Every root stays on its own file system, like a drive: a file system
        // mounted below another is scanned once, as a root of its own.
        for (const std::string& root : ScanRoots()) {
            struct stat st {};
            if (::stat(root.c_str(), &st) == 0)
                rootDevice_ = st.st_dev;
            else
                rootDevice_.reset();
            ScanFolder(root);
        }
        rootDevice_.reset();
    }
    onFolder_ = nullptr;
    onProgress_ = nullptr;
}

void TMP3Collection::ScanFolder(std::string path) {
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    if (onFolder_) (*onFolder_)(*this, path, cancel_);
    if (cancel_) return;

    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (S_ISREG(st.st_mode) && TAudioInformer::IsAudioFile(path))
            AddFile(path);
        else if (TAudioInformer::IsAudioFile(path))
            problems_.push_back({path, Translate("not a regular file")});
        if (onProgress_) (*onProgress_)(*this, path, cancel_);
        return;
    }

    // The listing is read whole before it is handled, so a deep tree holds
    // one open directory at a time rather than one per level.
    std::vector<ListedEntry> listing;
    {
        DIR* dir = ::opendir(path.c_str());
        if (!dir) {
            problems_.push_back({path, Translate("the folder cannot be listed: $1", Params({std::strerror(errno)}))});
            return;
        }
        listing.push_back({".", EntryKind::Other});
        listing.push_back({"..", EntryKind::Other});
        while (dirent* d = ::readdir(dir)) {
            std::string name = d->d_name;
            if (name == "." || name == "..") continue;
            EntryKind kind;
            int error = 0;
            if (!Classify(JoinEntry(path, name), d->d_type, kind, error)) continue;
            // Left out of the listing like hidden system files, but a fifo
            // named like a track is said, not passed over.
            if (kind == EntryKind::Special) {
                if (TAudioInformer::IsAudioFile(name))
                    problems_.push_back({JoinEntry(path, name), Translate("not a regular file")});
                continue;
            }
            listing.push_back({std::move(name), kind, error});
        }
        ::closedir(dir);
    }

    for (const ListedEntry& entry : listing) {
        std::string full = JoinEntry(path, entry.name);
        if (entry.kind == EntryKind::Folder) {
            struct stat sub {};
            bool enter = true;
            if (rootDevice_ || !pseudoDevices_.empty()) {
                if (::lstat(full.c_str(), &sub) != 0) {
                    // Too deep for a path, or gone: said, not passed over.
                    problems_.push_back(
                        {full, Translate("the folder cannot be listed: $1", Params({std::strerror(errno)}))});
                    enter = false;
                } else {
                    enter = (!rootDevice_ || sub.st_dev == *rootDevice_) &&
                            std::find(pseudoDevices_.begin(), pseudoDevices_.end(), sub.st_dev) == pseudoDevices_.end();
                }
            }
            if (enter) ScanFolder(full);
        } else if (entry.kind == EntryKind::File && TAudioInformer::IsAudioFile(entry.name)) {
            AddFile(full);
        } else if (entry.kind == EntryKind::Dangling && TAudioInformer::IsAudioFile(entry.name)) {
            problems_.push_back({full, Translate("the link points to a missing file")});
        } else if (entry.kind == EntryKind::Unreachable) {
            problems_.push_back({full, std::strerror(entry.error)});
        }
        if (onProgress_) (*onProgress_)(*this, full, cancel_);
        if (cancel_) return;
    }
}

std::vector<std::string> TMP3Collection::ScanRoots() {
    std::vector<std::string> roots;
    std::vector<dev_t> seen;
    for (const TMountEntry& m : ReadMountTable()) {
        bool network = IsNetworkType(m.type);
        if (!network && !IsLocalDiskType(m.type)) continue;
        if (!network && IsRemovableDevice(m.device)) continue;
        struct stat st {};
        if (::stat(m.mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (std::find(seen.begin(), seen.end(), st.st_dev) != seen.end()) continue;  // bind mounts
        seen.push_back(st.st_dev);
        roots.push_back(m.mountPoint);
    }
    return roots;
}
