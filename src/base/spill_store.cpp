// One nameless file holding many small files of a run, read back by name.
#include "base/spill_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/exceptions.h"
#include "base/shared_functions.h"

namespace {

bool gWithoutTmpfile = false;

[[noreturn]] void Fail(const std::string& what, const std::string& folder) {
    throw EOSError(what + " \"" + folder + "\": " + std::strerror(errno));
}

}  // namespace

int CreateNamelessFile(const std::string& folder, const std::string& stem, bool tmpfile) {
    if (tmpfile) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
    }
    // mkostemp makes the name anew (never an existing file), and it lives
    // only until the unlink below.
    std::string pattern = JoinPath(folder, stem + "-XXXXXX");
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(pattern.c_str());
    return fd;
}

void SetSpillStoreWithoutTmpfileForTesting(bool named) { gWithoutTmpfile = named; }

TSpillStore::TSpillStore(const std::string& folder) : folder_(folder) {
    fd_ = CreateNamelessFile(folder, ".spill", !gWithoutTmpfile);
    if (fd_ < 0) Fail("Cannot create a working file in", folder);
}

TSpillStore::~TSpillStore() {
    if (fd_ >= 0) ::close(fd_);
}

void TSpillStore::Put(const std::string& name, std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Appended, never written over: a replaced entry (a page converted to
    // the compiled file's code page) gives its old bytes back to the file
    // system below, so the store stays the size of what it keeps.
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(end_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            Fail("Cannot write a working file in", folder_);
        }
        done += static_cast<std::size_t>(n);
    }
    TPlace& place = places_[name];
    if (place.Size > 0)
        // Where holes cannot be punched the bytes just stay unused.
        ::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(place.Offset),
                    static_cast<off_t>(place.Size));
    place = {end_, bytes.size()};
    end_ += bytes.size();
}

std::optional<std::uint64_t> TSpillStore::SizeOf(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = places_.find(name);
    if (found == places_.end()) return std::nullopt;
    return found->second.Size;
}

std::string TSpillStore::Read(const std::string& name) const {
    TPlace place{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = places_.find(name);
        if (found == places_.end()) throw EOSError("No working file \"" + name + "\" was kept");
        place = found->second;
    }
    std::string bytes(static_cast<std::size_t>(place.Size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(place.Offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            Fail("Cannot read back \"" + name + "\" from the working file in", folder_);
        }
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

std::vector<std::string> TSpillStore::Names() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    names.reserve(places_.size());
    for (const auto& [name, place] : places_) names.push_back(name);
    return names;
}

bool TSpillStore::Empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return places_.empty();
}

std::string ReadKeptOrFile(const TSpillStore* store, const std::string& path) {
    return store && store->SizeOf(path) ? store->Read(path) : LoadTextFile(path);
}

void KeepOrSave(TSpillStore* store, const std::string& path, std::string_view bytes) {
    if (store)
        store->Put(path, bytes);
    else
        SaveTextFile(bytes, path);
}
