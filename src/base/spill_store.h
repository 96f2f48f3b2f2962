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

// Tests: make the store as a named file unlinked at once, as where the file
// system has no nameless files.
void SetSpillStoreWithoutTmpfileForTesting(bool named);
