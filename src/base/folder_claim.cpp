#include "base/folder_claim.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/exceptions.h"
#include "base/language.h"
#include "base/shared_functions.h"

namespace {

std::string ClaimText() { return "orvalis-claim uid=" + std::to_string(::getuid()) + "\n"; }

// The claim file's bytes, read without following a link or waiting on a fifo.
bool ReadClaim(const std::string& file, int& fd, std::string& text) {
    fd = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() || st.st_size > 64) {
        ::close(fd);
        fd = -1;
        return false;
    }
    char buffer[65];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    text.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    return true;
}

}  // namespace

TFolderClaim::TFolderClaim(const std::string& folder) : file_(JoinPath(folder, kClaimFileName)) {
    fd_ = ::open(file_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    // A claim an ended run left (killed between placing a site and tidying
    // it) is taken over; one a living run holds is not.
    if (fd_ < 0 && errno == EEXIST && IsAbandonedFolder(folder) && ::unlink(file_.c_str()) == 0)
        fd_ = ::open(file_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const auto fail = [&] {
        const int error = errno;
        if (fd_ >= 0) {
            ::close(fd_);
            ::unlink(file_.c_str());
        }
        fd_ = -1;
        throw EOSError(Translate("Cannot write \"$1\": $2", Params({file_, std::strerror(error)})));
    };
    if (fd_ < 0) fail();
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) fail();
    const std::string text = ClaimText();
    if (::write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) fail();
}

TFolderClaim::~TFolderClaim() {
    if (fd_ >= 0) ::close(fd_);
}

TFolderClaim::TFolderClaim(TFolderClaim&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), file_(std::move(other.file_)) {}

TFolderClaim& TFolderClaim::operator=(TFolderClaim&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        file_ = std::move(other.file_);
    }
    return *this;
}

void TFolderClaim::Drop() {
    if (fd_ < 0) return;
    ::unlink(file_.c_str());
    ::close(fd_);
    fd_ = -1;
}

bool IsAbandonedFolder(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
    int fd = -1;
    std::string text;
    if (!ReadClaim(JoinPath(folder, kClaimFileName), fd, text)) return false;
    bool abandoned = false;
    if (text == ClaimText() && ::flock(fd, LOCK_EX | LOCK_NB) == 0) abandoned = true;
    ::close(fd);
    return abandoned;
}

int RemoveAbandonedFolders(const std::string& parent, const std::function<bool(std::string_view name)>& matches,
                           const std::function<void(const std::string& folder)>& remove) {
    DIR* dir = ::opendir(parent.empty() ? "." : parent.c_str());
    if (!dir) return 0;
    TStringList found;
    while (dirent* e = ::readdir(dir))
        if (matches(e->d_name)) found.emplace_back(e->d_name);
    ::closedir(dir);
    int removed = 0;
    for (const std::string& name : found) {
        const std::string folder = JoinPath(parent, name);
        if (!IsAbandonedFolder(folder)) continue;
        if (remove)
            remove(folder);
        else
            DeleteTree(folder, false);
        ++removed;
    }
    return removed;
}
