#include "base/shared_functions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "base/fast_search.h"
#include "base/md5.h"
#include "base/run_folder.h"

namespace {

std::string ErrnoText(const std::string& what, const std::string& name) {
    return what + " \"" + name + "\": " + std::strerror(errno);
}

// Resolves a negative "From" (counting from the end) and clamps it to 1.
int NormaliseFrom(int from, int length) {
    if (from < 0) from = length + from + 1;
    if (from < 1) from = 1;
    return from;
}

}  // namespace

std::string LoadTextFile(const std::string& fileName) {
    std::string result;
    int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return result;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) result.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.clear();
            break;
        }
        if (n == 0) break;
        result.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return result;
}

TTextFileWriter::TTextFileWriter(const std::string& fileName) : fileName_(fileName) {
    fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) throw EOSError(ErrnoText("Cannot create file", fileName));
}

TTextFileWriter::~TTextFileWriter() {
    if (fd_ >= 0) ::close(fd_);
}

void TTextFileWriter::Write(std::string_view text) {
    if (fd_ < 0) throw EOSError("Cannot write \"" + fileName_ + "\": the file is closed");
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EOSError(ErrnoText("Cannot write", fileName_));
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void TTextFileWriter::Close() {
    const int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) throw EOSError(ErrnoText("Cannot write", fileName_));
}

void SaveTextFile(std::string_view text, const std::string& fileName) {
    TTextFileWriter file(fileName);
    file.Write(text);
    file.Close();
}

std::string ExtractSection(std::string_view text, std::string_view marker, int n) {
    if (marker.empty()) return {};
    std::string work(text);
    work.append(marker);
    if (n < 1) n = 1;
    std::size_t start = 0;  // start of the current section
    std::size_t searchFrom = 0;
    for (int i = 1; i <= n; ++i) {
        std::size_t at = work.find(marker, searchFrom);
        if (at == std::string::npos) return {};
        if (i == n) return work.substr(start, at - start);
        start = at + marker.size();
        searchFrom = start;  // a marker never overlaps the one before it
    }
    return {};
}

void SplitFirst(std::string_view text, std::string_view sep, std::string& head, std::string& tail) {
    std::size_t at = sep.empty() ? std::string_view::npos : text.find(sep);
    if (at == std::string_view::npos) {
        head.assign(text);
        tail.clear();
        return;
    }
    std::string h(text.substr(0, at));
    std::string t(text.substr(at + sep.size()));
    head = std::move(h);
    tail = std::move(t);
}

void SplitToList(std::string_view text, std::string_view sep, TStringList& list) {
    list.clear();
    std::string rest(text), head, tail;
    while (!rest.empty()) {
        SplitFirst(rest, sep, head, tail);
        list.push_back(head);
        rest = tail;
    }
}

int GetIntField(std::string_view text, std::string_view sep, int index, int defaultValue) {
    TStringList pieces;
    SplitToList(text, sep, pieces);
    if (index < 1 || index > static_cast<int>(pieces.size())) return defaultValue;
    return StrToIntDef(pieces[static_cast<std::size_t>(index - 1)], defaultValue);
}

void ReplaceAll(std::string& text, std::string_view find, std::string_view replacement, bool caseSensitive) {
    if (text.empty() || find.empty()) return;
    text = ReplaceEvery(text, find, replacement, caseSensitive);
}

std::string TrimChar(std::string_view text, char c) {
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == c) ++b;
    while (e > b && text[e - 1] == c) --e;
    std::string result(text.substr(b, e - b));
    if (result.size() == 1 && result[0] == c) result.clear();
    return result;
}

int FindCharInSet(std::string_view text, const bool (&charSet)[256], int from, bool inSet) {
    if (from < 1) from = 1;
    for (std::size_t i = static_cast<std::size_t>(from - 1); i < text.size(); ++i)
        if (charSet[static_cast<unsigned char>(text[i])] == inSet) return static_cast<int>(i + 1);
    return 0;
}

int FindCharFrom(std::string_view text, std::string_view chars, int from, bool inSet) {
    bool set[256] = {};
    for (char c : chars) set[static_cast<unsigned char>(c)] = true;
    return FindCharInSet(text, set, NormaliseFrom(from, static_cast<int>(text.size())), inSet);
}

int PosFrom(std::string_view sub, std::string_view text, int from) {
    if (sub.empty()) return 0;
    from = NormaliseFrom(from, static_cast<int>(text.size()));
    if (static_cast<std::size_t>(from - 1) > text.size()) return 0;
    std::size_t at = text.find(sub, static_cast<std::size_t>(from - 1));
    return at == std::string_view::npos ? 0 : static_cast<int>(at + 1);
}

int PosFromNoCase(std::string_view sub, std::string_view text, int from) {
    if (sub.empty() || text.size() < sub.size() || from < 1) return 0;
    return SearchNoCase(text.data(), sub.data(), static_cast<int>(text.size()), from, static_cast<int>(sub.size()));
}

int LastPosBefore(std::string_view sub, std::string_view text, int from) {
    const int len = static_cast<int>(text.size());
    if (sub.empty()) return 0;
    if (from < 0) from = len + from + 1;
    if (from < 1 || from > len) from = len;
    const int m = static_cast<int>(sub.size());
    if (from < m) return 0;
    for (int start = from - m + 1; start >= 1; --start)
        if (text.compare(static_cast<std::size_t>(start - 1), sub.size(), sub) == 0) return start;
    return 0;
}

std::string HexEncode(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        auto b = static_cast<unsigned char>(ch);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::string Md5Digest(std::string_view text) {
    auto d = TCrMD5::Digest(text);
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

void SubstituteParams(std::string& text, std::string_view params) {
    if (params.empty()) return;
    // One value a line; a final line break only ends the last value, so
    // "\r\n" is one empty value and "a\r\n\r\n" is "a" and an empty one.
    if (params.size() >= 2 && params.substr(params.size() - 2) == "\r\n") params.remove_suffix(2);
    TStringList lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = params.find("\r\n", start);
        lines.emplace_back(params.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 2;
    }
    // One pass over the text: a parameter value holding "$2" (a file name,
    // say) is put in as it stands and never substituted again. Only the first
    // digit after "$" counts, so "$10" reads as the first parameter and "0".
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '$' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            const auto k = static_cast<std::size_t>(text[i + 1] - '1');
            if (k < lines.size()) {
                out += lines[k];
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    text = std::move(out);
}

std::string FormatDuration(std::int64_t seconds) {
    std::int64_t s = seconds % 60;
    std::string ss = (s < 10 ? "0" : "") + std::to_string(s);
    std::int64_t m = seconds / 60;
    std::string text = m > 0 ? std::to_string(m % 60) + ":" + ss : "0:" + ss;
    std::int64_t h = seconds / 3600;
    if (h > 0) {
        if (text.size() == 4) text = "0" + text;
        text = std::to_string(h) + ":" + text;
    }
    return text;
}

void LineColumnOf(std::string_view text, int position, int& column, bool forward, int& line) {
    column = 0;
    line = 0;
    if (text.empty()) return;
    const int len = static_cast<int>(text.size());
    auto isBreak = [&](int p) {
        return text[static_cast<std::size_t>(p - 1)] == '\r' || text[static_cast<std::size_t>(p - 1)] == '\n';
    };
    if (forward) {
        while (position >= 1 && position <= len && isBreak(position)) ++position;
    } else {
        while (position > 1 && position <= len && isBreak(position)) --position;
    }
    const int upto = std::min(position, len);
    int crs = 0;
    for (int i = 1; i <= upto; ++i)
        if (text[static_cast<std::size_t>(i - 1)] == '\r') ++crs;
    bool atCr = position >= 1 && position <= len && text[static_cast<std::size_t>(position - 1)] == '\r';
    line = crs + (atCr ? 0 : 1);
    if (line == 1) {
        column = position;
    } else {
        int lf = 0;
        for (int i = std::min(position - 1, len); i >= 1; --i)
            if (text[static_cast<std::size_t>(i - 1)] == '\n') {
                lf = i;
                break;
            }
        column = position - lf;
    }
}

std::string RemoveExtension(std::string_view fileName) {
    std::string ext = ExtractFileExt(fileName);
    std::string result(fileName.substr(0, fileName.size() - ext.size()));
    if (!result.empty() && result.back() == '.') result.pop_back();
    return result;
}

std::string GetTempFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && DirectoryExists(runtime)) return runtime;
    return "/tmp";
}

std::string GetAppTempFolder() {
    const std::string run = ActiveRunFolder();
    return run.empty() ? GetUserTempFolder() : run;
}

std::string GetUserTempFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = (runtime && *runtime && DirectoryExists(runtime))
                             ? JoinPath(runtime, "orvalis")
                             : "/tmp/orvalis-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw EOSError(ErrnoText("Cannot create the working folder", folder));
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) throw EOSError(ErrnoText("Cannot use the working folder", folder));
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
        throw EOSError("The working folder \"" + folder + "\" is not a plain folder; refusing to use it");
    if (st.st_uid != ::getuid())
        throw EOSError("The working folder \"" + folder + "\" belongs to another user; refusing to use it");
    if ((st.st_mode & 077) != 0) ::chmod(folder.c_str(), 0700);
    return folder;
}

void DeleteTree(const std::string& folder, bool keepFolder) {
    if (folder.empty()) return;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) {
        // A link in place of the folder: remove the link, never its target.
        if (S_ISLNK(st.st_mode) && !keepFolder) ::unlink(folder.c_str());
        return;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    const TMountId mount = MountIdAt(fd, "");
    RemoveFolderContents(fd, mount);
    ::close(fd);
    if (!keepFolder) ::rmdir(folder.c_str());
}

bool ReadSmallRegularFile(int fd, std::int64_t limit, std::string& text) {
    text.clear();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= limit) return false;
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    text.resize(done);
    return true;
}

TMountId MountIdAt(int dirFd, const char* name) {
    TMountId id;
    struct statx sx {};
    const int flags = AT_SYMLINK_NOFOLLOW | (*name ? 0 : AT_EMPTY_PATH);
    if (::statx(dirFd, name, flags, STATX_TYPE | STATX_INO | STATX_MNT_ID, &sx) != 0) return id;
    id.Known = true;
    id.Device = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    if (sx.stx_mask & STATX_MNT_ID) id.Mount = sx.stx_mnt_id;
    return id;
}

void RemoveFolderContents(int dirFd, const TMountId& mount) {
    const int listFd = ::dup(dirFd);
    if (listFd < 0) return;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    TStringList names;
    while (dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    for (const auto& name : names) {
        struct stat est {};
        if (::fstatat(dirFd, name.c_str(), &est, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISDIR(est.st_mode)) {
            ::unlinkat(dirFd, name.c_str(), 0);
            continue;
        }
        // Another file system mounted here (a bind mount of someone's music
        // included) is not ours to empty; the folder under it stays too.
        if (MountIdAt(dirFd, name.c_str()) != mount) continue;
        const int sub = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) continue;
        RemoveFolderContents(sub, mount);
        ::close(sub);
        ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    }
}

bool ForceFolders(std::string base, std::string path, bool skipLast) {
    for (char& c : path)
        if (c == '\\') c = '/';
    if (!path.empty() && path[0] == '/' && base.empty()) base = "/";
    bool ok = true;
    std::string head, tail;
    while (!path.empty()) {
        SplitFirst(path, "/", head, tail);
        path = tail;
        if (skipLast && path.empty()) break;
        if (head.empty()) continue;
        base = base.empty() ? head : JoinPath(base, head);
        if (!DirectoryExists(base)) {
            ok = ::mkdir(base.c_str(), 0755) == 0 || (errno == EEXIST && DirectoryExists(base));
            if (!ok) break;
        }
    }
    return ok;
}

std::string RelativePath(std::string_view path, std::string_view baseFolder) {
    if (path.empty() || baseFolder.empty()) return {};
    std::size_t n = std::min(path.size(), baseFolder.size());
    std::size_t diff = 0;  // 0-based index of the first differing byte
    while (diff < n && path[diff] == baseFolder[diff]) ++diff;
    // 1-based position of the last "/" at or before the differing position.
    int p = 0;
    for (int i = static_cast<int>(std::min(diff + 1, path.size())); i >= 1; --i)
        if (path[static_cast<std::size_t>(i - 1)] == '/') {
            p = i;
            break;
        }
    std::string result(path.substr(static_cast<std::size_t>(p)));
    if (p > 0) {
        std::string steps;
        for (int i = p; i <= static_cast<int>(baseFolder.size()) - 1; ++i)
            if (baseFolder[static_cast<std::size_t>(i - 1)] == '/') steps += "../";
        result = steps + result;
    }
    return result;
}

std::uint32_t FileSize32(const std::string& fileName) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) return 0;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(st.st_size) & 0xFFFFFFFFu);
}

void ZipBuffer(const std::string& archiveName, const std::string& memberName, std::string_view data,
               const std::string& password) {
    int err = 0;
    // libzip writes the new archive to a temporary file and renames it into
    // place on close, so a failure never leaves a half-written archive.
    zip_t* za = zip_open(archiveName.c_str(), ZIP_CREATE, &err);
    if (!za) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, err);
        std::string msg = "Cannot open archive \"" + archiveName + "\": " + zip_error_strerror(&ze);
        zip_error_fini(&ze);
        throw EOSError(msg);
    }
    auto fail = [&](const std::string& what) {
        std::string msg = what + " \"" + archiveName + "\": " + zip_strerror(za);
        zip_discard(za);
        throw EOSError(msg);
    };
    // libzip keeps the source until zip_close, so the data is copied into a
    // buffer it frees itself.
    void* copy = std::malloc(data.empty() ? 1 : data.size());
    if (!copy) fail("Out of memory writing");
    std::memcpy(copy, data.data(), data.size());
    zip_source_t* src = zip_source_buffer(za, copy, data.size(), 1);
    if (!src) {
        std::free(copy);
        fail("Cannot write");
    }
    zip_int64_t index = zip_file_add(za, memberName.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(src);
        fail("Cannot write");
    }
    if (zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6) != 0)
        fail("Cannot compress into");
    if (!password.empty() &&
        zip_file_set_encryption(za, static_cast<zip_uint64_t>(index), ZIP_EM_AES_256, password.c_str()) != 0)
        fail("Cannot encrypt into");
    if (zip_close(za) != 0) fail("Cannot write");
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& folder) {
    struct stat st {};
    return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExtractFileName(std::string_view path) {
    std::size_t at = path.rfind('/');
    return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

std::string ExtractFileDir(std::string_view path) {
    std::size_t at = path.rfind('/');
    if (at == std::string_view::npos) return {};
    if (at == 0) return "/";
    return std::string(path.substr(0, at));
}

std::string ExtractFileExt(std::string_view path) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    return std::string(path.substr(dot));
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string out(folder);
    if (out.back() != '/') out.push_back('/');
    out.append(name);
    return out;
}

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

int CompareText(std::string_view a, std::string_view b) {
    const auto& fold = FoldTable();
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int x = fold[static_cast<unsigned char>(a[i])], y = fold[static_cast<unsigned char>(b[i])];
        if (x != y) return x - y;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

std::string Trim(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return std::string(text.substr(b, e - b));
}

bool TryStrToInt(std::string_view text, long long& value) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    bool neg = false;
    std::size_t i = 0;
    if (t[0] == '-' || t[0] == '+') {
        neg = t[0] == '-';
        i = 1;
    }
    int base = 10;
    if (t.size() > i + 2 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (t.size() > i && t[i] == '$') {
        base = 16;
        i += 1;
    }
    if (i >= t.size()) return false;
    unsigned long long v = 0;
    for (; i < t.size(); ++i) {
        int d;
        char c = t[i];
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        // Checked before multiplying: a wrapped product could look small again.
        constexpr unsigned long long kMax = 0x7FFFFFFFFFFFFFFFull;
        if (v > (kMax - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) return false;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    value = neg ? -static_cast<long long>(v) : static_cast<long long>(v);
    return true;
}

int StrToIntDef(std::string_view text, int defaultValue) {
    long long v;
    if (!TryStrToInt(text, v) || v < INT32_MIN || v > INT32_MAX) return defaultValue;
    return static_cast<int>(v);
}
