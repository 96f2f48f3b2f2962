#pragma once
// Files the program rewrites or places are written under a temporary name
// beside the target and renamed into place, so the target is always either
// the old file or the complete new one.
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

class TAtomicFile {
public:
    // Opens a private temporary file beside target. A new file gets the
    // mode 0666 less the umask; a replaced one keeps its mode. Raises
    // EOSError naming the folder when it cannot be written.
    explicit TAtomicFile(std::string target);
    // Removes the temporary file unless Commit succeeded.
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    // Raises EOSError naming the target, e.g. "No space left on device".
    void Write(const void* data, std::size_t size);
    void Write(std::string_view text) { Write(text.data(), text.size()); }
    // Flushes to disk and renames into place; raises EOSError on failure.
    void Commit();

    const std::string& Target() const { return target_; }

private:
    void Discard();

    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

// The whole text as the new content of fileName; raises EOSError.
void SaveTextFileAtomic(std::string_view text, const std::string& fileName);
// A copy of source as target, whose folder is created when missing; raises
// EOSError naming the file and the cause.
void CopyFileAtomic(const std::string& source, const std::string& target);
