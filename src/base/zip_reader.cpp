// Reading members of a zip archive, checked by name and CRC.
#include "base/zip_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "base/byte_order.h"
#include "base/language.h"
#include "base/shared_functions.h"

namespace {

bool CrcMatches(const TKAZipEntriesEntry& entry, const std::string& data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most 4 GiB a call.
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t n = std::min<std::size_t>(data.size() - at, 1u << 30);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data() + at), static_cast<uInt>(n));
        at += n;
    }
    return crc == entry.Crc32;
}

constexpr std::uint32_t kLocalHeaderSig = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSig = 0x02014b50;
constexpr std::uint32_t kEndOfDirSig = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064b50;
constexpr std::uint32_t kZip64EndOfDirSig = 0x06064b50;

constexpr std::size_t kEndOfDirSize = 22;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndOfDirSize = 56;
// How far back from the end the directory record is sought: a comment of up
// to 64 KiB plus some slack for archives with trailing bytes.
constexpr std::uint64_t kEndOfDirSearch = 256 + 1024 + 65536;
// Deflate cannot expand data by more than about 1032 : 1; a stated size
// beyond that is damage, and refusing it early avoids a huge allocation.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

[[noreturn]] void Damaged(const std::string& fileName, const std::string& why) {
    throw EZipError("Cannot read the archive " + Quoted(fileName) + ": " + why);
}

// Sizes in the central record saturated at 0xFFFFFFFF are held in the zip64
// extra field, in this order, each present only when its short field is full.
void ApplyZip64Extra(TKAZipEntriesEntry& entry, const unsigned char* extra, std::size_t length) {
    std::size_t pos = 0;
    while (pos + 4 <= length) {
        std::uint16_t id = GetU16LE(extra + pos);
        std::size_t size = GetU16LE(extra + pos + 2);
        pos += 4;
        if (size > length - pos) return;
        if (id == 0x0001) {
            const unsigned char* field = extra + pos;
            std::size_t left = size;
            auto take = [&](std::uint64_t& value) {
                if (value != 0xFFFFFFFFu) return;
                if (left < 8) return;
                value = GetU64LE(field);
                field += 8;
                left -= 8;
            };
            take(entry.UncompressedSize);
            take(entry.CompressedSize);
            take(entry.LocalHeaderOffset);
            return;
        }
        pos += size;
    }
}

// Code points of a UTF-8 text; a byte that starts no valid sequence stands
// for itself, so every input can be matched.
std::vector<char32_t> CodePoints(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
        if (c >= 0xF8) extra = 0;
        char32_t cp = extra == 3 ? (c & 0x07u) : extra == 2 ? (c & 0x0Fu) : extra == 1 ? (c & 0x1Fu) : c;
        bool ok = i + static_cast<std::size_t>(extra) < text.size() || extra == 0;
        for (int k = 1; ok && k <= extra; ++k) {
            unsigned char d = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((d & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (d & 0x3Fu);
        }
        if (!ok || extra == 0) {
            out.push_back(c);
            ++i;
        } else {
            out.push_back(cp);
            i += static_cast<std::size_t>(extra) + 1;
        }
    }
    return out;
}

char32_t FoldChar(char32_t c) {
    if (c == '\\') return '/';
    if (c >= 'A' && c <= 'Z') return c + ('a' - 'A');
    return c;
}

struct MaskToken {
    enum Kind { Literal, AnyOne, AnyRun, Set } kind = Literal;
    char32_t ch = 0;
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;

    bool Matches(char32_t c) const {
        switch (kind) {
            case Literal: return c == ch;
            case AnyOne: return true;
            case AnyRun: return false;
            case Set: {
                bool in = std::any_of(ranges.begin(), ranges.end(),
                                      [c](const auto& r) { return c >= r.first && c <= r.second; });
                return in != negated;
            }
        }
        return false;
    }
};

std::vector<MaskToken> ParseMask(const std::vector<char32_t>& mask) {
    std::vector<MaskToken> tokens;
    for (std::size_t i = 0; i < mask.size(); ++i) {
        MaskToken t;
        char32_t c = mask[i];
        if (c == '*') {
            if (!tokens.empty() && tokens.back().kind == MaskToken::AnyRun) continue;
            t.kind = MaskToken::AnyRun;
        } else if (c == '?') {
            t.kind = MaskToken::AnyOne;
        } else if (c == '[') {
            std::size_t close = i + 1;
            while (close < mask.size() && mask[close] != ']') ++close;
            if (close >= mask.size()) {  // no closing bracket: a plain "["
                t.ch = c;
            } else {
                t.kind = MaskToken::Set;
                std::size_t j = i + 1;
                if (j < close && mask[j] == '!') {
                    t.negated = true;
                    ++j;
                }
                while (j < close) {
                    char32_t lo = FoldChar(mask[j]);
                    char32_t hi = lo;
                    if (j + 2 < close && mask[j + 1] == '-') {
                        hi = FoldChar(mask[j + 2]);
                        j += 3;
                    } else {
                        ++j;
                    }
                    if (lo > hi) std::swap(lo, hi);
                    t.ranges.emplace_back(lo, hi);
                }
                i = close;
            }
        } else {
            t.ch = FoldChar(c);
        }
        tokens.push_back(std::move(t));
    }
    return tokens;
}

}  // namespace

// --- names ----------------------------------------------------------------

std::string ZipArchiveForm(std::string_view name) {
    std::string s(name);
    std::replace(s.begin(), s.end(), '\\', '/');
    std::size_t p = s.find(":/");
    if (p != std::string::npos) s.erase(0, p + 2);
    p = s.find("//");
    if (p != std::string::npos) {
        s.erase(0, p + 2);
        for (int k = 0; k < 2; ++k) {  // host and share
            std::size_t slash = s.find('/');
            if (slash == std::string::npos) break;
            s.erase(0, slash + 1);
        }
    }
    return s;
}

bool MatchesMask(std::string_view name, std::string_view mask) {
    std::vector<char32_t> text = CodePoints(name);
    for (char32_t& c : text) c = FoldChar(c);
    std::vector<MaskToken> tokens = ParseMask(CodePoints(mask));

    // Greedy match with backtracking to the last "*": linear in practice.
    std::size_t n = 0, t = 0;
    std::size_t starToken = std::string::npos, starText = 0;
    while (n < text.size()) {
        if (t < tokens.size() && tokens[t].kind == MaskToken::AnyRun) {
            starToken = t++;
            starText = n;
        } else if (t < tokens.size() && tokens[t].Matches(text[n])) {
            ++t;
            ++n;
        } else if (starToken != std::string::npos) {
            t = starToken + 1;
            n = ++starText;
        } else {
            return false;
        }
    }
    while (t < tokens.size() && tokens[t].kind == MaskToken::AnyRun) ++t;
    return t == tokens.size();
}

bool IsSafeRelativePath(std::string_view path) {
    if (path.empty() || path.front() == '/') return false;
    if (path.find('\0') != std::string_view::npos) return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (path.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

bool TKAZipEntriesEntry::IsFolder() const {
    if (ExternalAttributes & 0x10u) return true;
    if ((VersionMadeBy >> 8) == 3 && ((ExternalAttributes >> 16) & 0170000u) == 0040000u) return true;
    std::string name = ArchiveName();
    return !name.empty() && name.back() == '/';
}

bool TKAZipEntriesEntry::IsReadOnly() const {
    if (ExternalAttributes & 1u) return true;
    std::uint32_t mode = ExternalAttributes >> 16;
    return (VersionMadeBy >> 8) == 3 && mode != 0 && (mode & 0200u) == 0;
}

std::string TKAZipEntriesEntry::ArchiveName() const { return ZipArchiveForm(FileName); }

std::string TKAZipEntriesEntry::FolderFileName() const { return ArchiveName(); }

TKAZipEntriesEntry& TKAZipEntries::Items(int index) {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return items_[static_cast<std::size_t>(index)];
}

const TKAZipEntriesEntry& TKAZipEntries::Items(int index) const {
    return const_cast<TKAZipEntries*>(this)->Items(index);
}

// --- archive --------------------------------------------------------------

TKAZip::~TKAZip() { Close(); }

void TKAZip::Open(const std::string& fileName) {
    Close();
    fileName_ = fileName;
    if (!FileExists(fileName)) throw EZipError("File " + Quoted(fileName) + " not found!");
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw EZipError("Cannot open the archive " + Quoted(fileName) + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        int err = errno;
        Close();
        throw EZipError("Cannot open the archive " + Quoted(fileName) + ": " + std::strerror(err));
    }
    fileSize_ = static_cast<std::uint64_t>(st.st_size);
    readOnly_ = ::access(fileName.c_str(), W_OK) != 0;
    try {
        ReadDirectory();
    } catch (...) {
        Close();
        throw;
    }
}

void TKAZip::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fileSize_ = 0;
    entries_.items_.clear();
}

bool TKAZip::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    if (fd_ < 0 || offset > fileSize_ || size > fileSize_ - offset) return false;
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t got = ::pread(fd_, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

void TKAZip::ReadDirectory() {
    if (fileSize_ < kEndOfDirSize) Damaged(fileName_, "the file is too short to be a zip archive.");

    // Seek the end-of-directory record backwards from its latest possible place.
    std::uint64_t lastStart = fileSize_ - kEndOfDirSize;
    std::uint64_t firstStart = lastStart >= kEndOfDirSearch - 1 ? lastStart - (kEndOfDirSearch - 1) : 0;
    std::string tail(static_cast<std::size_t>(fileSize_ - firstStart), '\0');
    if (!ReadAt(firstStart, tail.data(), tail.size())) Damaged(fileName_, "the file cannot be read.");
    const auto* base = reinterpret_cast<const unsigned char*>(tail.data());
    std::uint64_t endPos = 0;
    bool found = false;
    for (std::uint64_t pos = lastStart + 1; pos-- > firstStart;) {
        if (GetU32LE(base + (pos - firstStart)) == kEndOfDirSig) {
            endPos = pos;
            found = true;
            break;
        }
    }
    if (!found) Damaged(fileName_, "it is not a zip archive or its directory is missing.");

    const unsigned char* eocd = base + (endPos - firstStart);
    std::uint16_t thisDisk = GetU16LE(eocd + 4);
    std::uint16_t dirDisk = GetU16LE(eocd + 6);
    std::uint64_t total = GetU16LE(eocd + 10);
    std::uint64_t dirSize = GetU32LE(eocd + 12);
    std::uint64_t dirOffset = GetU32LE(eocd + 16);

    if (total == 0xFFFF || dirSize == 0xFFFFFFFFu || dirOffset == 0xFFFFFFFFu) {
        // ZIP64: the locator just before the record names the larger record.
        unsigned char loc[kZip64LocatorSize];
        unsigned char rec[kZip64EndOfDirSize];
        if (endPos >= kZip64LocatorSize && ReadAt(endPos - kZip64LocatorSize, loc, sizeof loc) &&
            GetU32LE(loc) == kZip64LocatorSig) {
            if (!ReadAt(GetU64LE(loc + 8), rec, sizeof rec) || GetU32LE(rec) != kZip64EndOfDirSig)
                Damaged(fileName_, "its ZIP64 directory record is damaged.");
            thisDisk = static_cast<std::uint16_t>(GetU32LE(rec + 16));
            dirDisk = static_cast<std::uint16_t>(GetU32LE(rec + 20));
            total = GetU64LE(rec + 32);
            dirSize = GetU64LE(rec + 40);
            dirOffset = GetU64LE(rec + 48);
        }
    }
    if (thisDisk != 0 || dirDisk != 0) Damaged(fileName_, "archives spanning several disks are not supported.");
    if (dirOffset > fileSize_ || total > (fileSize_ - dirOffset) / kCentralHeaderSize)
        Damaged(fileName_, "its directory lies outside the file.");

    entries_.items_.reserve(static_cast<std::size_t>(total));
    std::uint64_t pos = dirOffset;
    std::string variable;
    for (std::uint64_t i = 0; i < total; ++i) {
        unsigned char h[kCentralHeaderSize];
        if (!ReadAt(pos, h, sizeof h) || GetU32LE(h) != kCentralHeaderSig)
            Damaged(fileName_, "directory record " + std::to_string(i + 1) + " is damaged.");
        std::size_t nameLen = GetU16LE(h + 28), extraLen = GetU16LE(h + 30), commentLen = GetU16LE(h + 32);
        variable.assign(nameLen + extraLen, '\0');
        if (!ReadAt(pos + kCentralHeaderSize, variable.data(), variable.size()))
            Damaged(fileName_, "directory record " + std::to_string(i + 1) + " runs past the end of the file.");

        TKAZipEntriesEntry e;
        e.VersionMadeBy = GetU16LE(h + 4);
        e.GeneralPurposeFlags = GetU16LE(h + 8);
        e.CompressionMethod = GetU16LE(h + 10);
        e.Crc32 = GetU32LE(h + 16);
        e.CompressedSize = GetU32LE(h + 20);
        e.UncompressedSize = GetU32LE(h + 24);
        e.ExternalAttributes = GetU32LE(h + 38);
        e.LocalHeaderOffset = GetU32LE(h + 42);
        e.FileName = variable.substr(0, nameLen);
        ApplyZip64Extra(e, reinterpret_cast<const unsigned char*>(variable.data()) + nameLen, extraLen);
        entries_.items_.push_back(std::move(e));
        pos += kCentralHeaderSize + nameLen + extraLen + commentLen;
    }
}

int TKAZip::IndexOf(std::string_view name) const {
    std::string wanted = ZipArchiveForm(name);
    for (int i = 0; i < entries_.Count(); ++i)
        if (SameText(entries_.items_[static_cast<std::size_t>(i)].ArchiveName(), wanted)) return i;
    return -1;
}

void TKAZip::SelectMatching(std::string_view mask) {
    for (TKAZipEntriesEntry& e : entries_.items_)
        if (MatchesMask(e.FolderFileName(), mask)) e.Selected = true;
}

void TKAZip::CheckSupported(const TKAZipEntriesEntry& entry) const {
    if ((entry.CompressionMethod != 0 && entry.CompressionMethod != 8) || entry.IsEncrypted())
        throw EZipError("Cannot process this file: " + entry.FileName + " ");
}

bool TKAZip::ReadEntryData(const TKAZipEntriesEntry& entry, std::string& data) const {
    data.clear();
    unsigned char h[kLocalHeaderSize];
    if (!ReadAt(entry.LocalHeaderOffset, h, sizeof h) || GetU32LE(h) != kLocalHeaderSig) return false;
    // Sizes come from the central directory: entries written with a data
    // descriptor carry zeros in the local header.
    std::uint64_t dataPos = entry.LocalHeaderOffset + kLocalHeaderSize + GetU16LE(h + 26) + GetU16LE(h + 28);
    std::uint64_t packed = entry.CompressedSize;
    std::uint64_t size = entry.UncompressedSize;
    if (dataPos > fileSize_ || packed > fileSize_ - dataPos) return false;  // truncated archive

    if (entry.CompressionMethod == 0) {
        if (size > packed) return false;
        data.resize(static_cast<std::size_t>(size));
        if (!ReadAt(dataPos, data.data(), data.size()) || !CrcMatches(entry, data)) {
            data.clear();
            return false;
        }
        return true;
    }

    if (size == 0) return true;
    if (size / kMaxDeflateRatio > packed) return false;

    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
    std::string in(static_cast<std::size_t>(std::min<std::uint64_t>(packed, 64 * 1024)), '\0');
    std::uint64_t inPos = 0;
    int rc = Z_OK;
    std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(size, 256 * 1024));
    while (data.size() < size) {
        if (zs.avail_in == 0) {
            if (inPos >= packed) break;  // the data end before the entry is complete
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), packed - inPos));
            if (!ReadAt(dataPos + inPos, in.data(), n)) break;
            inPos += n;
            zs.next_in = reinterpret_cast<Bytef*>(in.data());
            zs.avail_in = static_cast<uInt>(n);
        }
        std::size_t have = data.size();
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, size - have));
        data.resize(have + want);
        zs.next_out = reinterpret_cast<Bytef*>(data.data() + have);
        zs.avail_out = static_cast<uInt>(want);
        rc = inflate(&zs, Z_NO_FLUSH);
        data.resize(have + (want - zs.avail_out));
        if (rc == Z_STREAM_END || (rc != Z_OK && rc != Z_BUF_ERROR)) break;
        if (rc == Z_BUF_ERROR && zs.avail_in != 0) break;  // no progress possible
    }
    inflateEnd(&zs);
    // A damaged stream can inflate to the right length with the wrong bytes.
    if (data.size() != size || !CrcMatches(entry, data)) {
        data.clear();
        return false;
    }
    return true;
}

std::string TKAZip::EntryProblem(const TKAZipEntriesEntry& entry) const {
    const std::string& name = entry.FileName;
    if (name.find('\\') != std::string::npos) return Translate("its name holds a backslash");
    if (!name.empty() && name.front() == '/') return Translate("its name is absolute");
    if (!IsSafeRelativePath(name)) return Translate("its name leaves the archive's folder");
    if (entry.IsEncrypted() || (entry.CompressionMethod != 0 && entry.CompressionMethod != 8))
        return Translate("its data are encrypted or packed in an unknown way");
    if (entry.IsFolder()) return {};
    std::string data;
    if (!ReadEntryData(entry, data)) return Translate("its data are damaged (the checksum does not match)");
    return {};
}

void TKAZip::ExtractToStream(const TKAZipEntriesEntry& entry, std::ostream& out) {
    CheckSupported(entry);
    std::string data;
    if (ReadEntryData(entry, data)) out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string TKAZip::ExtractToString(const TKAZipEntriesEntry& entry) {
    CheckSupported(entry);
    std::string data;
    ReadEntryData(entry, data);
    return data;
}

void TKAZip::ExtractToFile(const TKAZipEntriesEntry& entry, const std::string& targetFileName) {
    struct stat st {};
    bool exists = ::lstat(targetFileName.c_str(), &st) == 0;
    if (exists && overwriteAction_ != oaOverwrite && overwriteAction_ != oaOverwriteAll) return;

    if (entry.IsFolder()) {
        if (!ForceFolders("", targetFileName, false))
            throw EOSError("Cannot create folder " + Quoted(targetFileName) + ". " + std::strerror(errno));
        return;
    }
    CheckSupported(entry);
    std::string data;
    ReadEntryData(entry, data);

    // Replace rather than write through: a read-only file or a link in the
    // target's place is removed, and the new file is created fresh.
    if (exists && !S_ISDIR(st.st_mode)) ::unlink(targetFileName.c_str());
    int fd = ::open(targetFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) throw EOSError("Cannot create file " + Quoted(targetFileName) + ". " + std::strerror(errno));
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(targetFileName.c_str());
            throw EOSError("Cannot write file " + Quoted(targetFileName) + ". " + std::strerror(err));
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (applyAtributes_ && entry.IsReadOnly()) {
        struct stat now {};
        if (::fstat(fd, &now) == 0) ::fchmod(fd, now.st_mode & 07555);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(targetFileName.c_str());
        throw EOSError("Cannot write file " + Quoted(targetFileName) + ". " + std::strerror(err));
    }
}

void TKAZip::ExtractSelected(const std::string& targetFolder) {
    // Check every path first, so a hostile entry stops the run before any
    // file is written.
    for (const TKAZipEntriesEntry& e : entries_.items_)
        if (e.Selected && !IsSafeRelativePath(e.FolderFileName()))
            throw EZipError("Cannot extract " + Quoted(e.FileName) + ": its path leads outside the target folder.");

    for (const TKAZipEntriesEntry& e : entries_.items_) {
        if (!e.Selected) continue;
        std::string path = e.FolderFileName();
        std::size_t slash = path.rfind('/');
        std::string folderPart = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        std::string bare = path.substr(folderPart.size());
        // Missing parents are created; a failure shows when the file is created.
        ForceFolders("", targetFolder + "/" + folderPart, false);
        std::string target = targetFolder + "/" + folderPart + bare;
        if (bare.empty()) target.pop_back();  // a folder entry names the folder itself
        ExtractToFile(e, target);
    }
}
