#pragma once
// Files a run makes for itself, kept by name in one nameless file in its
// working folder: tens of thousands of small pages and pictures each cost a
// create, an open and an unlink as files of their own, which on a journalled
// disk took longer than making them.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A new file in folder, open for reading and writing, that has no name
// there, so nothing is left behind however the run ends: O_TMPFILE, or
// where the file system has none (or tmpfile is false) a file stem-XXXXXX
// made and unlinked at once. -1 with errno set when it cannot be made.
int CreateNamelessFile(const std::string& folder, const std::string& stem, bool tmpfile = true);

class TSpillStore {
public:
    // The store's file is made in folder and has no name there, so nothing is
    // left behind however the run ends. Raises EOSError when it cannot be made.
    explicit TSpillStore(const std::string& folder);
    ~TSpillStore();
    TSpillStore(const TSpillStore&) = delete;
    TSpillStore& operator=(const TSpillStore&) = delete;

    // Keeps bytes under name, replacing what it had; from any thread.
    // Raises EOSError when the disk refuses them.
    void Put(const std::string& name, std::string_view bytes);
    // The size of what is kept under name; nullopt when nothing is.
    std::optional<std::uint64_t> SizeOf(const std::string& name) const;
    // What is kept under name; raises EOSError when nothing is or it cannot be read.
    std::string Read(const std::string& name) const;
    // Every name kept, in name order.
    std::vector<std::string> Names() const;
    bool Empty() const;

private:
    struct TPlace {
        std::uint64_t Offset;
        std::uint64_t Size;
    };
    int fd_ = -1;
    std::string folder_;
    mutable std::mutex mutex_;
    std::uint64_t end_ = 0;
    std::map<std::string, TPlace> places_;
};

// What store keeps under path, else the file at path.
std::string ReadKeptOrFile(const TSpillStore* store, const std::string& path);
// Into store when there is one, else into the file at path.
void KeepOrSave(TSpillStore* store, const std::string& path, std::string_view bytes);

// Tests: make the store as a named file unlinked at once, as where the file
// system has no nameless files.
void SetSpillStoreWithoutTmpfileForTesting(bool named);
