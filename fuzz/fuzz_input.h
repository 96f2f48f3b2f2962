#pragma once
// Helpers the fuzz targets share: the readers open files by name, so each
// input is put into an anonymous memory file reached through /proc.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

class TMemInput {
public:
    TMemInput() : fd_(memfd_create("orvalis-fuzz", 0)) {
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~TMemInput() { close(fd_); }
    TMemInput(const TMemInput&) = delete;
    TMemInput& operator=(const TMemInput&) = delete;

    // Replaces the contents; returns the path that reads them.
    const std::string& Put(std::string_view bytes) {
        if (ftruncate(fd_, 0) != 0) std::abort();
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
        return path_;
    }
    const std::string& Path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Cuts text at every sep; the last piece is whatever follows the last sep.
inline std::vector<std::string> SplitAt(std::string_view text, char sep) {
    std::vector<std::string> parts;
    std::size_t p = 0;
    for (;;) {
        std::size_t e = text.find(sep, p);
        if (e == std::string_view::npos) {
            parts.emplace_back(text.substr(p));
            return parts;
        }
        parts.emplace_back(text.substr(p, e - p));
        p = e + 1;
    }
}
