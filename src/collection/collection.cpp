#include "collection/collection.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/language.h"
#include "base/memory_release.h"
#include "collection/mount_table.h"

namespace {

enum class EntryKind { Folder, File, FolderLink, Dangling, Special, Unreachable, Other };

struct ListedEntry {
    std::string name;
    EntryKind kind;
    int error = 0;       // why an Unreachable entry, or a Folder not entered, could not be looked at
    bool enter = false;  // a Folder the scan goes into
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

// What the scan saw at a path it was given or entered.
struct TMP3Collection::TFolderLook {
    bool isFile = false;                // not a folder: a path given directly
    bool regular = false;               // ... that is a regular file
    int listError = 0;                  // the folder could not be listed
    std::vector<std::string> specials;  // devices, sockets and fifos named like tracks
    std::vector<ListedEntry> entries;   // ".", "..", then the folder's own order
};

// What reading one file gave, to be appended in scan order.
struct TMP3Collection::TTrackRead {
    std::string path;
    std::unique_ptr<TAudioInformer> record;  // null: left out, named with reason
    std::string reason;
    std::vector<std::string> marks;  // configuration marks the reading made
    std::exception_ptr error;        // anything else than a std::exception, raised again on appending
};

// Walks the tree ahead of the scan, in the scan's order, and hands the
// reads of the audio files to a few readers, so that many reads are in
// flight while the scan appends the results one by one. The walk runs on
// the scan's thread between events (listing costs little beside reading)
// and stays a bounded number of files ahead. The scan takes listings and
// reads from the front in its own order; when the front is not what it
// expects (an event took back a cancel), it drops the read-ahead and goes
// on alone.
class TMP3Collection::TReadAhead {
public:
    TReadAhead(std::string top, int readers, bool eager, std::optional<dev_t> rootDevice,
               std::vector<dev_t> pseudoDevices)
        : top_(std::move(top)), rootDevice_(rootDevice), pseudoDevices_(std::move(pseudoDevices)),
          readers_(readers), eager_(eager), window_(static_cast<std::size_t>(readers) * 4),
          slowShare_(eager ? 1.0 : 0.0) {
        // With a core to spare, files read from memory are work enough to
        // share: a reader per core starts with the scan.
        const int cores = static_cast<int>(std::thread::hardware_concurrency());
        warmReaders_ = cores > 1 ? std::min(cores, readers_) : 0;
    }
    // Reads under way finish; nothing more starts; every reader has ended.
    ~TReadAhead() { Stop(); }
    TReadAhead(const TReadAhead&) = delete;
    TReadAhead& operator=(const TReadAhead&) = delete;

    // False when the walk did not take this look next.
    bool TakeLook(const std::string& path, std::shared_ptr<const TFolderLook>& look) {
        Item* front = Front(path, false);
        if (!front) return false;
        look = std::move(front->look);
        items_.pop_front();
        return true;
    }

    // False when the walk did not read this file next.
    bool TakeRead(const std::string& path, TTrackRead& read) {
        Item* front = Front(path, true);
        if (!front) return false;
        const std::shared_ptr<Job> job = front->job;
        if (!job) {
            read = OwnRead(path);
        } else {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!job->done) {
                if (jobs_.empty()) {
                    ready_.wait(lock);
                    continue;
                }
                // Rather than wait, read the oldest job no reader has taken
                // yet: this one when the readers are all busy.
                RunOldest(lock, [this](const std::string& next) { return OwnRead(next); });
            }
            read = std::move(job->read);
        }
        --reads_;
        items_.pop_front();
        return true;
    }

private:
    struct Job {
        std::string path;
        bool done = false;
        TTrackRead read;
    };
    struct Item {
        std::string path;
        std::shared_ptr<const TFolderLook> look;  // a folder's listing, or
        bool read = false;                        // a file to read,
        std::shared_ptr<Job> job;                 // by the readers when given one
    };
    // A folder of the walk and the entry it is at.
    struct Frame {
        std::string path;
        std::shared_ptr<const TFolderLook> look;
        std::size_t next = 0;
    };

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        work_.notify_all();
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
    }

    Item* Front(const std::string& path, bool read) {
        // Once half the window is taken, the walk fills it again: not for
        // every entry, so that each fill wakes the readers once.
        if (reads_ <= window_ / 2 || items_.empty()) Fill();
        if (items_.empty()) return nullptr;
        Item& front = items_.front();
        if (front.path != path || front.read != read) return nullptr;
        return &front;
    }

    // A few steps at a time: no event is raised while the walk lists, and
    // a cancel waits for the next one.
    void Fill() {
        for (int steps = 0; steps < kFillSteps && reads_ < window_ && items_.size() < kMostItems && Step(); ++steps) {
        }
    }

    // One step of the scan's own order (see ScanFolder); false at the end.
    bool Step() {
        if (!started_) {
            started_ = true;
            Enter(top_);
            return true;
        }
        while (!stack_.empty()) {
            Frame& frame = stack_.back();
            if (frame.next == frame.look->entries.size()) {
                stack_.pop_back();
                continue;
            }
            const ListedEntry& entry = frame.look->entries[frame.next++];
            if (entry.kind == EntryKind::Folder && entry.enter) {
                Enter(JoinEntry(frame.path, entry.name));
                return true;
            }
            if (entry.kind == EntryKind::File && TAudioInformer::IsAudioFile(entry.name)) {
                PushRead(JoinEntry(frame.path, entry.name));
                return true;
            }
        }
        return false;
    }

    void Enter(std::string path) {
        if (path.size() > 1 && path.back() == '/') path.pop_back();
        auto look = std::make_shared<const TFolderLook>(LookAt(path, rootDevice_, pseudoDevices_));
        items_.push_back({path, look, false, nullptr});
        if (!look->isFile)
            stack_.push_back({std::move(path), std::move(look)});
        else if (look->regular && TAudioInformer::IsAudioFile(path))
            PushRead(std::move(path));
    }

    void PushRead(std::string path) {
        items_.push_back({std::move(path), nullptr, true, nullptr});
        ++reads_;
        if (Slow() || warmReaders_ > 0) Submit(items_.back());
    }

    // Hands the file to the readers. A reader at work takes the next job by
    // itself. On one core an idle one is woken only while reads wait on the
    // device: with the files in memory, the scan's thread reads them as fast
    // by itself, without the cost of handing over and waking.
    void Submit(Item& item) {
        if (threads_.empty()) StartReaders(Slow() ? readers_ : warmReaders_);
        item.job = std::make_shared<Job>();
        item.job->path = item.path;
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(item.job);
        if (jobs_.size() > busy_) work_.notify_one();
    }

    // Reads on the scan's thread, noting whether the read waited on the
    // device. A busy machine makes a read slow now and then too, hence the
    // share of many reads.
    TTrackRead OwnRead(const std::string& path) {
        const auto start = std::chrono::steady_clock::now();
        TTrackRead read = ReadTrack(path);
        const bool slow = std::chrono::steady_clock::now() - start > kSlowRead;
        const bool wasSlow = Slow();
        if (!eager_) slowShare_ = slowShare_ * 0.9 + (slow ? 0.1 : 0.0);
        if (!wasSlow && Slow()) {
            // Every reader now, and the files behind the front go to them.
            if (!threads_.empty()) StartReaders(readers_);
            for (std::size_t i = 1; i < items_.size(); ++i)
                if (items_[i].read && !items_[i].job) Submit(items_[i]);
        }
        return read;
    }

    // Up to count readers in all. All of them only once reads wait: on a
    // warm cache more threads than cores cost more than they read.
    void StartReaders(int count) {
        try {
            while (static_cast<int>(threads_.size()) < count) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    ++busy_;
                }
                threads_.emplace_back([this] { Read(); });
            }
        } catch (...) {
            Stop();
            throw;
        }
    }

    // Takes the oldest waiting job and reads it with read, the lock let go
    // meanwhile and taken again for the result.
    template <typename TRead>
    void RunOldest(std::unique_lock<std::mutex>& lock, TRead&& read) {
        std::shared_ptr<Job> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        TTrackRead result = read(job->path);
        lock.lock();
        job->read = std::move(result);
        job->done = true;
    }

    // One reader: the oldest waiting file first, as the scan needs them.
    void Read() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (jobs_.empty() && !stopping_) {
                --busy_;
                work_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
                ++busy_;
            }
            if (stopping_) return;
            RunOldest(lock, [](const std::string& path) { return ReadTrack(path); });
            ready_.notify_one();
        }
    }

    // Looks (mostly folders without music) the walk may keep ahead besides the reads.
    static constexpr std::size_t kMostItems = 1024;
    static constexpr int kFillSteps = 128;
    // Far above reading a file in memory (tens of microseconds), below
    // reading one from a disk or a server.
    static constexpr std::chrono::microseconds kSlowRead{200};

    // Whether most of the scan's own recent reads waited on the device.
    bool Slow() const { return slowShare_ > 0.5; }

    const std::string top_;
    const std::optional<dev_t> rootDevice_;
    const std::vector<dev_t> pseudoDevices_;
    const int readers_;
    const bool eager_;
    const std::size_t window_;  // reads taken up but not yet appended
    int warmReaders_ = 0;       // readers before reads wait on the device

    // The walk and the queue: the scan's thread only.
    bool started_ = false;
    std::vector<Frame> stack_;
    std::deque<Item> items_;
    std::size_t reads_ = 0;
    double slowShare_;  // from 0, seven reads that wait in a row start the readers

    // Shared with the readers.
    std::mutex mutex_;
    std::condition_variable work_;   // readers wait for jobs
    std::condition_variable ready_;  // the scan waits for the front
    std::deque<std::shared_ptr<Job>> jobs_;
    std::size_t busy_ = 0;  // readers not waiting for a job
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

TMP3Collection::TMP3Collection() = default;

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

TMP3Collection::TTrackRead TMP3Collection::ReadTrack(const std::string& path) {
    TTrackRead read;
    read.path = path;
    // The configuration is the calling thread's: marks wait for Append.
    struct MarksCollected {
        explicit MarksCollected(std::vector<std::string>& marks) { CollectSettingMarks(&marks); }
        ~MarksCollected() { CollectSettingMarks(nullptr); }
    } collected(read.marks);
    try {
        // A file the system will not let us read is named, not shown as an
        // empty record. Never waits: a fifo put in a file's place between the
        // listing and now would block an ordinary open for ever.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            read.reason = std::strerror(errno);
            return read;
        }
        struct stat st {};
        const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        ::close(fd);
        if (!regular) {
            read.reason = Translate("not a regular file");
            return read;
        }
        auto record = std::make_unique<TAudioInformer>();
        record->ReadFile(path);
        read.record = std::move(record);
    } catch (const std::exception& e) {
        // An unreadable, damaged or unknown file is not catalogued, but named.
        read.record.reset();
        read.reason = e.what();
    } catch (...) {
        read.record.reset();
        read.error = std::current_exception();
    }
    return read;
}

bool TMP3Collection::Append(TTrackRead read) {
    try {
        if (Capacity() <= count_) items_.resize(items_.size() + 1000);
        for (const std::string& key : read.marks) MarkSetting(key.c_str());
        if (read.error) std::rethrow_exception(read.error);
        if (!read.record) {
            problems_.push_back({std::move(read.path), std::move(read.reason)});
            return false;
        }
        items_[static_cast<std::size_t>(count_)] = std::move(read.record);
        ++count_;
        return true;
    } catch (const std::exception& e) {
        problems_.push_back({read.path, e.what()});
        return false;
    }
}

bool TMP3Collection::AddFile(const std::string& path) { return Append(ReadTrack(path)); }

TMP3Collection::TFolderLook TMP3Collection::LookAt(const std::string& path, const std::optional<dev_t>& rootDevice,
                                                   const std::vector<dev_t>& pseudoDevices) {
    TFolderLook look;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        look.isFile = true;
        look.regular = S_ISREG(st.st_mode);
        return look;
    }

    // The listing is read whole before it is handled, so a deep tree holds
    // one open directory at a time rather than one per level.
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        look.listError = errno;
        return look;
    }
    look.entries.push_back({".", EntryKind::Other});
    look.entries.push_back({"..", EntryKind::Other});
    while (dirent* d = ::readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        ListedEntry entry{std::move(name), EntryKind::Other};
        const std::string full = JoinEntry(path, entry.name);
        if (!Classify(full, d->d_type, entry.kind, entry.error)) continue;
        // Left out of the listing like hidden system files, but a fifo
        // named like a track is said, not passed over.
        if (entry.kind == EntryKind::Special) {
            if (TAudioInformer::IsAudioFile(entry.name)) look.specials.push_back(std::move(entry.name));
            continue;
        }
        if (entry.kind == EntryKind::Folder) {
            entry.enter = true;
            if (rootDevice || !pseudoDevices.empty()) {
                struct stat sub {};
                if (::lstat(full.c_str(), &sub) != 0) {
                    // Too deep for a path, or gone: said, not passed over.
                    entry.error = errno;
                    entry.enter = false;
                } else {
                    entry.enter = (!rootDevice || sub.st_dev == *rootDevice) &&
                                  std::find(pseudoDevices.begin(), pseudoDevices.end(), sub.st_dev) ==
                                      pseudoDevices.end();
                }
            }
        }
        look.entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return look;
}

std::shared_ptr<const TMP3Collection::TFolderLook> TMP3Collection::TakeLook(const std::string& path) {
    std::shared_ptr<const TFolderLook> look;
    if (readAhead_ && readAhead_->TakeLook(path, look)) return look;
    readAhead_.reset();
    return std::make_shared<const TFolderLook>(LookAt(path, rootDevice_, pseudoDevices_));
}

void TMP3Collection::AddListedFile(const std::string& path) {
    TTrackRead read;
    if (readAhead_ && readAhead_->TakeRead(path, read)) {
        Append(std::move(read));
        return;
    }
    readAhead_.reset();
    AddFile(path);
}

void TMP3Collection::Scan(const std::string& folder, const TScanEvent& onFolder, const TScanEvent& onProgress) {
    cancel_ = false;
    onFolder_ = onFolder ? &onFolder : nullptr;
    onProgress_ = onProgress ? &onProgress : nullptr;
    // However the scan ends, an event raising included, its threads end with it.
    struct ScanState {
        TMP3Collection& c;
        ~ScanState() {
            c.readAhead_.reset();
            // What the readers freed stays with their threads' pools otherwise.
            ReleaseFreedMemory();
            c.rootDevice_.reset();
            c.onFolder_ = nullptr;
            c.onProgress_ = nullptr;
        }
    } state{*this};
    // Kernel and automounter file systems hold no music; entering them is
    // slow (/proc, /sys) or may wait on the network (autofs).
    pseudoDevices_.clear();
    for (const TMountEntry& m : ReadMountTable()) {
        struct stat st {};
        if (IsPseudoType(m.type) && ::lstat(m.mountPoint.c_str(), &st) == 0) pseudoDevices_.push_back(st.st_dev);
    }
    auto scanTop = [&](const std::string& top) {
        if (readers_ > 1) readAhead_ = std::make_unique<TReadAhead>(top, readers_, eagerReaders_, rootDevice_, pseudoDevices_);
        ScanFolder(top);
        readAhead_.reset();
    };
    if (!folder.empty()) {
        rootDevice_.reset();
        scanTop(folder);
    } else {
        // Every root stays on its own file system, like a drive: a file system
        // mounted below another is scanned once, as a root of its own.
        for (const std::string& root : ScanRoots()) {
            struct stat st {};
            if (::stat(root.c_str(), &st) == 0)
                rootDevice_ = st.st_dev;
            else
                rootDevice_.reset();
            scanTop(root);
        }
    }
}

void TMP3Collection::ScanFolder(std::string path) {
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    if (onFolder_) (*onFolder_)(*this, path, cancel_);
    if (cancel_) return;

    const std::shared_ptr<const TFolderLook> look = TakeLook(path);
    if (look->isFile) {
        if (look->regular && TAudioInformer::IsAudioFile(path))
            AddListedFile(path);
        else if (TAudioInformer::IsAudioFile(path))
            problems_.push_back({path, Translate("not a regular file")});
        if (onProgress_) (*onProgress_)(*this, path, cancel_);
        return;
    }
    if (look->listError) {
        problems_.push_back(
            {path, Translate("the folder cannot be listed: $1", Params({std::strerror(look->listError)}))});
        return;
    }
    for (const std::string& name : look->specials)
        problems_.push_back({JoinEntry(path, name), Translate("not a regular file")});

    for (const ListedEntry& entry : look->entries) {
        std::string full = JoinEntry(path, entry.name);
        if (entry.kind == EntryKind::Folder) {
            if (entry.error)
                problems_.push_back(
                    {full, Translate("the folder cannot be listed: $1", Params({std::strerror(entry.error)}))});
            if (entry.enter) ScanFolder(full);
        } else if (entry.kind == EntryKind::File && TAudioInformer::IsAudioFile(entry.name)) {
            AddListedFile(full);
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
