#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/exceptions.h"
#include "base/language.h"
#include "base/shared_functions.h"

namespace {

[[noreturn]] void RaiseErrno(const char* what, const std::string& name, int error) {
    throw EOSError(Translate(what, Params({name, std::strerror(error)})));
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

TAtomicFile::TAtomicFile(std::string target) : target_(std::move(target)) {
    const std::string name = ExtractFileName(target_);
    if (name.empty()) throw EOSError(Translate("No file name was given."));
    const std::string folder = ExtractFileDir(target_);
    temp_ = JoinPath(folder.empty() ? "." : folder, "." + name + ".XXXXXX");
    fd_ = ::mkstemp(temp_.data());
    if (fd_ < 0)
        RaiseErrno(Translatable("Cannot write in the folder \"$1\": $2"), folder.empty() ? "." : folder, errno);
    struct stat st {};
    const mode_t mode = ::stat(target_.c_str(), &st) == 0 ? (st.st_mode & 07777) : NewFileMode();
    // mkstemp makes the file private; the target keeps the usual mode.
    if (::fchmod(fd_, mode) != 0) {
        const int error = errno;
        Discard();
        RaiseErrno(Translatable("Cannot write \"$1\": $2"), target_, error);
    }
}

TAtomicFile::~TAtomicFile() {
    if (!committed_) Discard();
}

void TAtomicFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

void TAtomicFile::Write(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) RaiseErrno(Translatable("Cannot write \"$1\": $2"), target_, errno);
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void TAtomicFile::Commit() {
    int failure = ::fsync(fd_) == 0 ? 0 : errno;
    // Closed even when fsync fails, so no descriptor is left open.
    if (::close(fd_) != 0 && failure == 0) failure = errno;
    fd_ = -1;
    if (failure == 0 && ::rename(temp_.c_str(), target_.c_str()) != 0) failure = errno;
    if (failure != 0) RaiseErrno(Translatable("Cannot write \"$1\": $2"), target_, failure);
    committed_ = true;
}

void SaveTextFileAtomic(std::string_view text, const std::string& fileName) {
    TAtomicFile file(fileName);
    file.Write(text);
    file.Commit();
}

void CopyFileAtomic(const std::string& source, const std::string& target) {
    const std::string folder = ExtractFileDir(target);
    if (!folder.empty() && !DirectoryExists(folder) && !ForceFolders("", folder, false))
        RaiseErrno(Translatable("Cannot create the folder \"$1\": $2"), folder, errno);
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) RaiseErrno(Translatable("Cannot read \"$1\": $2"), source, errno);
    try {
        TAtomicFile out(target);
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) RaiseErrno(Translatable("Cannot read \"$1\": $2"), source, errno);
            if (n == 0) break;
            out.Write(buffer, static_cast<std::size_t>(n));
        }
        out.Commit();
    } catch (...) {
        ::close(in);
        throw;
    }
    ::close(in);
}
