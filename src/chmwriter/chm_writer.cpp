// Compiles a help project into a .chm file, phase by phase.
#include "chmwriter/chm_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "base/spill_store.h"
#include "chmwriter/chm_bytes.h"
#include "chmwriter/chm_directory.h"
#include "chmwriter/chm_internal_files.h"
#include "chmwriter/chm_keywords.h"
#include "chmwriter/chm_lzx_section.h"
#include "chmwriter/chm_project.h"
#include "chmwriter/chm_search.h"
#include "chmwriter/chm_text.h"

namespace {

class EChmStopped : public std::exception {};

constexpr TGuid kItsfGuid1 = {0x7C01FD10, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
constexpr TGuid kItsfGuid2 = {0x7C01FD11, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
constexpr std::uint32_t kItsfHeaderSize = 0x60;
constexpr std::uint32_t kHeaderSection0Size = 0x18;
constexpr const char* kLzxGuidText = "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}";
constexpr const char* kStorage = "::DataSpace/Storage/MSCompressed/";
constexpr std::size_t kSitemapPiece = std::size_t{1} << 20;

std::string ErrnoText() { return std::strerror(errno); }

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string FolderOf(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// Reads the file at path a block at a time, handing each block to take.
void ReadInBlocks(const std::string& path, std::size_t blockSize,
                  const std::function<void(const std::uint8_t* bytes, std::size_t size)>& take) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("Cannot read " + Quoted(path) + ": " + ErrnoText());
    std::vector<std::uint8_t> block(blockSize);
    try {
        for (;;) {
            const ssize_t n = ::read(fd, block.data(), block.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw std::runtime_error("Cannot read " + Quoted(path) + ": " + ErrnoText());
            if (n == 0) break;
            take(block.data(), static_cast<std::size_t>(n));
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

TBytes ReadWholeFile(const std::string& path) {
    TBytes bytes;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
    ReadInBlocks(path, 65536,
                 [&](const std::uint8_t* block, std::size_t n) { bytes.insert(bytes.end(), block, block + n); });
    return bytes;
}

// Writes all of data; false, with errno saying why, when it cannot.
bool WriteAll(int fd, std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// The new file under a temporary name beside the target, renamed over it
// only when complete and removed otherwise.
class TOutputFile {
public:
    explicit TOutputFile(const std::string& target) : target_(target) {
        std::string pattern = JoinPath(FolderOf(target), ".chmwriter-XXXXXX");
        fd_ = ::mkstemp(pattern.data());
        if (fd_ < 0) throw std::runtime_error("Cannot create the help file " + Quoted(target) + ": " + ErrnoText());
        temp_ = pattern;
    }
    ~TOutputFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!temp_.empty()) ::unlink(temp_.c_str());
    }
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    void Write(std::span<const std::uint8_t> data) {
        if (!WriteAll(fd_, data)) Fail();
    }
    void Commit() {
        // The usual mode for a new file, as the umask allows.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
        if (::fsync(fd_) != 0 && errno != EINVAL) Fail();
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) Fail();
        if (::rename(temp_.c_str(), target_.c_str()) != 0)
            throw std::runtime_error("Cannot write the help file " + Quoted(target_) + ": " + ErrnoText());
        temp_.clear();
    }

private:
    [[noreturn]] void Fail() {
        throw std::runtime_error("Cannot write the help file " + Quoted(target_) + ": " + ErrnoText());
    }

    std::string target_;
    std::string temp_;
    int fd_ = -1;
};

// The compressed section on its way to the file: it can be as big as the
// collection's pages, so it waits in a nameless file beside the target,
// which disappears with its descriptor whatever happens.
bool gSpillWithoutTmpfile = false;

class TSpillFile {
public:
    explicit TSpillFile(const std::string& target) : target_(target) {
        fd_ = CreateNamelessFile(FolderOf(target), ".chmwriter", !gSpillWithoutTmpfile);
        if (fd_ < 0) Fail();
    }
    ~TSpillFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    TSpillFile(const TSpillFile&) = delete;
    TSpillFile& operator=(const TSpillFile&) = delete;

    void Write(std::span<const std::uint8_t> data) {
        if (!WriteAll(fd_, data)) Fail();
        size_ += data.size();
    }
    std::uint64_t Size() const { return size_; }
    // Hands the bytes back in pieces, from the start.
    template <typename TSink>
    void ReadBack(TSink&& sink) {
        std::vector<std::uint8_t> buffer(1 << 20);
        std::uint64_t at = 0;
        while (at < size_) {
            const ssize_t n = ::pread(fd_, buffer.data(),
                                      static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - at)),
                                      static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) errno = 0;
            if (n <= 0) Fail();
            sink(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
            at += static_cast<std::uint64_t>(n);
        }
    }

private:
    [[noreturn]] void Fail() {
        throw std::runtime_error("Cannot write the help file " + Quoted(target_) + ": " +
                                 (errno ? ErrnoText() : std::string("short read")));
    }

    std::string target_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

bool IsPage(const std::string& address) {
    const std::string lower = LowerAscii(address);
    const auto endsWith = [&](std::string_view ext) {
        return lower.size() > ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0;
    };
    return endsWith(".htm") || endsWith(".html");
}

// The page addresses a sitemap names with <param name="Local" value="...">,
// from the sitemap in pieces cut anywhere.
class TSitemapAddresses {
public:
    void Feed(std::string_view text) {
        tags_.Feed(text, [this](std::string_view tag) { Tag(tag); });
    }
    std::set<std::string> Finish() { return std::move(addresses_); }

private:
    void Tag(std::string_view tag) {
        const std::string lower = LowerAscii(std::string(tag));
        for (std::size_t at = 0; (at = lower.find("\"local\"", at)) != std::string::npos;) {
            at += 7;
            const std::size_t value = lower.find("value=\"", at);
            if (value == std::string::npos) break;
            const std::size_t start = value + 7;
            const std::size_t end = lower.find('"', start);
            if (end == std::string::npos) break;
            std::string address = DecodeHtmlText(tag.substr(start, end - start));
            const std::size_t anchor = address.find('#');
            if (anchor != std::string::npos) address.resize(anchor);
            addresses_.insert(LowerAscii(NormalizeAddress(address)));
        }
    }

    std::set<std::string> addresses_;
    TTagSplitter tags_;
};

// The page up to the end of its title, which is all a topic needs of it.
std::string_view HeadOf(std::string_view page) {
    for (std::size_t at = page.find("</"); at != std::string_view::npos; at = page.find("</", at + 2))
        if (LowerAscii(std::string(page.substr(at + 2, 5))) == "title") return page.substr(0, at + 8);
    return page;
}

TBytes Utf16(std::string_view ascii) {
    TBytes bytes;
    for (char c : ascii) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

// The ControlData field after the window size. chmlib-based readers count
// their reset interval as interval / (window / 2) * this field, so it must be
// the window in 64 KiB units for them to restart where the stream does.
std::uint32_t WindowsPerReset(const TChmWriteOptions& options) {
    return static_cast<std::uint32_t>((1ull << options.WindowBits) >> 16);
}

std::uint32_t MinResetIntervalFrames(unsigned windowBits) { return windowBits >= 16 ? 1u << (windowBits - 16) : 1u; }

// Names at the top beginning with '#' or '$' are the file's own tables
// (#SYSTEM, #TOPICS, $FIftiMain, ...); readers compare names without letter
// case, so a page called "#system" would stand in for one of them.
bool IsReservedName(const std::string& address) { return !address.empty() && (address[0] == '#' || address[0] == '$'); }

void CheckName(const std::string& address) {
    if (IsReservedName(address))
        throw std::runtime_error("The file name " + Quoted(address) +
                                 " is reserved: names beginning with # or $ belong to the help file's own tables.");
    // Stored with a leading "/".
    if (address.size() + 1 > kChmMaxNameBytes)
        throw std::runtime_error("The file name " + Quoted(address.substr(0, 60) + "...") + " is " +
                                 std::to_string(address.size()) + " bytes long; a help file holds names of up to " +
                                 std::to_string(kChmMaxNameBytes - 1) + " bytes.");
}

// What reading the project's files leaves for the tables: the pages as
// topics and the index sitemap's keywords.
struct TReadFiles {
    std::vector<TChmTopic> Topics;
    std::vector<TSitemapKeyword> Keywords;
};

// The internal tables that go into section 1 after the project's files.
struct TChmTables {
    TChmStrings Strings;
    TChmTopicFiles TopicFiles;
    TBytes Windows;
    TBytes IdxHdr;
    TBytes System;  // goes into section 0
};

class TChmWriter {
public:
    TChmWriter(const std::string& projectFile, const std::string& outputFile, const TChmWriteOptions& options,
               const TChmWriteCallbacks& callbacks)
        : projectFile_(projectFile), outputFile_(outputFile), options_(options), callbacks_(callbacks) {}

    void Run();

private:
    void Tell(const std::string& line) const {
        if (callbacks_.OnMessage) callbacks_.OnMessage(line);
    }
    void CheckGoing() const {
        if (callbacks_.KeepGoing && !callbacks_.KeepGoing()) throw EChmStopped();
    }
    void Progress(double fraction) const {
        if (callbacks_.OnProgress) callbacks_.OnProgress(fraction);
    }
    // A title in the file's code page.
    std::string Encode(std::string_view text) { return (*titleEncoder_)(text); }
    // Appends a file to the compressed section, or lists it empty.
    void AddToSection1(const std::string& name, const TBytes& bytes);
    // Adds a sitemap a piece at a time, handing each piece to take.
    void AddSitemapToSection1(const std::string& address, const std::function<void(std::string_view piece)>& take);
    // Appends a file to the uncompressed section.
    void AddToSection0(const std::string& name, const TBytes& bytes);
    // The caller's copy when it holds one, otherwise the file below the project's folder.
    const std::string_view* MemoryFile(const std::string& address) const;
    // The size of a file the caller keeps; nullopt when it keeps none by that address.
    std::optional<std::uint64_t> KeptFileSize(const std::string& address) const;
    TBytes ReadProjectFile(const std::string& address) const;

    // Refuses window and reset interval pairs some viewers cannot decode.
    void CheckOptions() const;
    // Parses the project and lists its files, the sitemaps included.
    void ReadProject();
    // Checks every file's name and presence before anything is compressed;
    // answers the bytes to compress, for the progress fraction.
    std::uint64_t MeasureFiles() const;
    // Settles the code page, the time stamp and the compressor.
    void Prepare(std::uint64_t totalBytes);
    // Feeds every file to section 1, keeping what the tables need of it.
    TReadFiles AddProjectFiles();
    // Builds the topic, settings, search and keyword tables from the files read.
    TChmTables BuildTables(const TReadFiles& read);
    // The output's lower-case stem, which #SYSTEM names.
    std::string CompiledName() const;
    // The tables go into section 1 after the project's files.
    void AddTablesToSection1(const TChmTables& tables, TReadFiles& read);
    // Section 0: the description of section 1, #SYSTEM and #ITBITS, then the LZX stream.
    void AddSection0(const TLzxSectionResult& lzx, const TBytes& system);
    // The ITSF header with header section 0, for a directory of directorySize bytes.
    TBytes FileHeader(std::uint64_t directorySize, std::uint64_t contentSize) const;
    // Writes the file under a temporary name and puts it in place.
    void WriteOutput(const TBytes& header, const TBytes& directory);

    std::string projectFile_;
    std::string outputFile_;
    const TChmWriteOptions& options_;
    const TChmWriteCallbacks& callbacks_;

    TChmProject project_;
    std::string folder_;
    std::vector<std::string> files_;
    unsigned codePage_ = 0;
    unsigned threads_ = 1;
    std::uint32_t timestamp_ = 0;
    std::unique_ptr<TTitleEncoder> titleEncoder_;
    std::unique_ptr<TLzxSectionCompressor> compressor_;
    std::unique_ptr<TSpillFile> spill_;             // the compressed section
    std::unique_ptr<TSearchWordCollector> search_;  // the pages' words, gathered while they are added
    std::vector<TChmDirectoryEntry> entries_;
    TBytes section0_;
};

void TChmWriter::AddToSection1(const std::string& name, const TBytes& bytes) {
    if (bytes.empty()) {
        entries_.push_back({name, 0, 0, 0});
        return;
    }
    entries_.push_back({name, 1, compressor_->Length(), bytes.size()});
    compressor_->Add(bytes);
}

void TChmWriter::AddSitemapToSection1(const std::string& address,
                                      const std::function<void(std::string_view piece)>& take) {
    const std::string name = "/" + address;
    const std::uint64_t start = compressor_->Length();
    // Pieces end at a line end, which no double-byte letter's second byte is,
    // so each decodes alone.
    const auto feed = [&](std::string_view text) {
        while (!text.empty()) {
            std::size_t cut = text.size();
            if (cut > kSitemapPiece) {
                const std::size_t line = text.rfind('\n', kSitemapPiece);
                cut = line == std::string_view::npos ? kSitemapPiece : line + 1;
            }
            const std::string_view piece = text.substr(0, cut);
            compressor_->Add(std::span(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()));
            take(piece);
            text.remove_prefix(cut);
        }
    };
    if (const std::string_view* held = MemoryFile(address)) {
        feed(*held);
    } else if (KeptFileSize(address)) {
        feed(options_.KeptFiles->Read(address));
    } else {
        std::string buffer;
        ReadInBlocks(JoinPath(folder_, address), kSitemapPiece, [&](const std::uint8_t* block, std::size_t n) {
            buffer.append(reinterpret_cast<const char*>(block), n);
            // Whole lines go on; the rest waits for the next block.
            const std::size_t line = buffer.rfind('\n');
            if (line == std::string::npos && buffer.size() < 4 * kSitemapPiece) return;
            const std::size_t cut = line == std::string::npos ? buffer.size() : line + 1;
            feed(std::string_view(buffer).substr(0, cut));
            buffer.erase(0, cut);
        });
        feed(buffer);
    }
    const std::uint64_t size = compressor_->Length() - start;
    entries_.push_back({name, size == 0 ? 0u : 1u, size == 0 ? 0 : start, size});
}

void TChmWriter::AddToSection0(const std::string& name, const TBytes& bytes) {
    entries_.push_back({name, 0, bytes.empty() ? 0 : section0_.size(), bytes.size()});
    section0_.insert(section0_.end(), bytes.begin(), bytes.end());
}

const std::string_view* TChmWriter::MemoryFile(const std::string& address) const {
    if (!options_.MemoryFiles) return nullptr;
    const auto found = options_.MemoryFiles->find(address);
    return found == options_.MemoryFiles->end() ? nullptr : &found->second;
}

std::optional<std::uint64_t> TChmWriter::KeptFileSize(const std::string& address) const {
    if (!options_.KeptFiles || !options_.KeptFiles->SizeOf) return std::nullopt;
    return options_.KeptFiles->SizeOf(address);
}

TBytes TChmWriter::ReadProjectFile(const std::string& address) const {
    if (const std::string_view* held = MemoryFile(address)) return TBytes(held->begin(), held->end());
    if (KeptFileSize(address)) {
        const std::string kept = options_.KeptFiles->Read(address);
        return TBytes(kept.begin(), kept.end());
    }
    return ReadWholeFile(JoinPath(folder_, address));
}

void TChmWriter::CheckOptions() const {
    if (options_.WindowBits < 15 || options_.WindowBits > 21)
        throw std::runtime_error("The LZX window must be 2^16 to 2^21 bytes.");
    if (options_.ResetIntervalFrames == 0 || (options_.ResetIntervalFrames & (options_.ResetIntervalFrames - 1)) != 0)
        throw std::runtime_error("The reset interval must be a power of two of 32 KiB frames.");
    if (WindowsPerReset(options_) == 0)
        throw std::runtime_error(
            "An LZX window below 64 KiB cannot be described so that chmlib-based viewers decode it.");
    // chmlib counts the interval in half windows; shorter than one it reads
    // as none, and every file comes back empty.
    if (options_.ResetIntervalFrames < MinResetIntervalFrames(options_.WindowBits))
        throw std::runtime_error("With an LZX window of 2^" + std::to_string(options_.WindowBits) +
                                 " bytes the reset interval must be at least " +
                                 std::to_string(MinResetIntervalFrames(options_.WindowBits)) +
                                 " frames of 32 KiB (half the window); chmlib-based viewers read nothing otherwise.");
    if (options_.ResetIntervalFrames > kMaxResetIntervalFrames)
        throw std::runtime_error("The reset interval must be at most " + std::to_string(kMaxResetIntervalFrames) +
                                 " frames of 32 KiB.");
}

void TChmWriter::ReadProject() {
    Tell("Reading the help project " + Quoted(projectFile_));
    const TBytes projectBytes = ReadWholeFile(projectFile_);
    folder_ = FolderOf(projectFile_);
    project_ = ParseChmProject(
        std::string_view(reinterpret_cast<const char*>(projectBytes.data()), projectBytes.size()), folder_);

    // The sitemaps travel with the pages even when [Files] leaves them out.
    files_ = project_.Files;
    for (const std::string* sitemap : {&project_.ContentsFile, &project_.IndexFile}) {
        if (sitemap->empty()) continue;
        bool listed = false;
        for (const auto& f : files_) listed = listed || f == *sitemap;
        if (!listed) files_.push_back(*sitemap);
    }
}

std::uint64_t TChmWriter::MeasureFiles() const {
    std::set<std::string> folded;
    std::uint64_t totalBytes = 0;
    for (const auto& address : files_) {
        CheckName(address);
        if (!folded.insert(LowerAscii(address)).second)
            throw std::runtime_error("Two files of the project differ only in letter case (" + Quoted(address) +
                                     "); a help file cannot hold both.");
        if (const std::string_view* held = MemoryFile(address)) {
            totalBytes += held->size();
            continue;
        }
        if (const std::optional<std::uint64_t> kept = KeptFileSize(address)) {
            totalBytes += *kept;
            continue;
        }
        const std::string path = JoinPath(folder_, address);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            if (errno == ENOENT)
                throw std::runtime_error("The file " + Quoted(address) + " named in the project does not exist (" +
                                         path + ").");
            throw std::runtime_error("Cannot read " + Quoted(path) + ": " + ErrnoText());
        }
        if (!S_ISREG(st.st_mode)) throw std::runtime_error("The project entry " + Quoted(address) + " is not a file.");
        totalBytes += static_cast<std::uint64_t>(st.st_size);
    }
    return totalBytes;
}

void TChmWriter::Prepare(std::uint64_t totalBytes) {
    codePage_ = options_.TitleCodePage != 0 ? options_.TitleCodePage : CodePageOfLanguage(project_.LanguageId);
    titleEncoder_ = std::make_unique<TTitleEncoder>(codePage_);
    timestamp_ = options_.Timestamp ? *options_.Timestamp : static_cast<std::uint32_t>(std::time(nullptr));

    threads_ = std::max(1u, options_.Threads != 0 ? options_.Threads : std::thread::hardware_concurrency());
    compressor_ = std::make_unique<TLzxSectionCompressor>(options_.WindowBits, options_.ResetIntervalFrames, threads_);
    spill_ = std::make_unique<TSpillFile>(outputFile_);
    compressor_->OnOutput = [this](std::span<const std::uint8_t> bytes) { spill_->Write(bytes); };
    compressor_->OnProgress = [this, totalBytes](std::uint64_t done) {
        CheckGoing();
        Progress(totalBytes > 0 ? std::min(0.99, static_cast<double>(done) / static_cast<double>(totalBytes)) : 0.0);
    };
    Progress(0.0);
}

TReadFiles TChmWriter::AddProjectFiles() {
    TReadFiles read;
    std::set<std::string> inContents;
    search_ = std::make_unique<TSearchWordCollector>(project_.FullTextSearch, codePage_, threads_);
    for (const auto& address : files_) {
        CheckGoing();
        Tell("Adding " + address);
        // The sitemaps of a large collection are tens of MB each: they are
        // read, compressed and parsed a piece at a time. They are in the
        // file's code page, as viewers read them.
        const bool contents = address == project_.ContentsFile, index = address == project_.IndexFile;
        if (contents || index) {
            TSitemapAddresses addresses;
            TSitemapKeywordParser keywords;
            AddSitemapToSection1(address, [&](std::string_view piece) {
                if (contents) addresses.Feed(piece);
                if (index) keywords.Feed(DecodeFromCodePage(piece, codePage_));
            });
            if (contents) inContents = addresses.Finish();
            if (index) read.Keywords = keywords.Finish();
            continue;
        }
        const TBytes bytes = ReadProjectFile(address);
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        // Pages are in the file's code page, as viewers read them.
        if (IsPage(address)) {
            read.Topics.push_back(
                {address, Encode(ExtractHtmlTitle(DecodeFromCodePage(HeadOf(text), codePage_))), false});
            search_->Add(text);
        }
        AddToSection1("/" + address, bytes);
    }
    for (auto& topic : read.Topics) topic.InContents = inContents.count(LowerAscii(topic.Address)) > 0;
    return read;
}

std::string TChmWriter::CompiledName() const {
    std::string stem = outputFile_.substr(outputFile_.rfind('/') + 1);
    const std::size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    return LowerAscii(stem);
}

TChmTables TChmWriter::BuildTables(const TReadFiles& read) {
    Tell("Writing the topic and settings tables");
    TChmTables tables;
    const std::vector<TChmTopic>& topics = read.Topics;
    tables.TopicFiles = BuildTopicFiles(topics, tables.Strings);
    tables.Windows =
        BuildWindowsFile(project_.Windows, tables.Strings, [this](std::string_view text) { return Encode(text); });
    tables.IdxHdr = BuildIdxHdrFile(static_cast<std::uint32_t>(topics.size()));
    TChmSystemInfo info;
    info.Timestamp = timestamp_;
    info.Title = Encode(project_.Title);
    info.DoubleByteCodePage = codePage_ == 932 || codePage_ == 936 || codePage_ == 949 || codePage_ == 950;
    info.IdxHdr = tables.IdxHdr;
    info.CompiledName = CompiledName();
    info.FullTextSearch = project_.FullTextSearch;
    info.KeywordLinks = !project_.IndexFile.empty();
    tables.System = BuildSystemFile(project_, info);
    return tables;
}

// The two big tables are made just before they are added and dropped right
// after, so that they are never held together.
void TChmWriter::AddTablesToSection1(const TChmTables& tables, TReadFiles& read) {
    AddToSection1("/#TOPICS", tables.TopicFiles.Topics);
    AddToSection1("/#URLTBL", tables.TopicFiles.UrlTbl);
    AddToSection1("/#URLSTR", tables.TopicFiles.UrlStr);
    if (!tables.Windows.empty()) AddToSection1("/#WINDOWS", tables.Windows);
    AddToSection1("/#IDXHDR", tables.IdxHdr);
    AddToSection1("/#STRINGS", tables.Strings.Bytes());
    if (project_.FullTextSearch) {
        Tell("Writing the full-text index");
        AddToSection1("/$FIftiMain", search_->BuildIndex(project_.LanguageId));
        search_.reset();
    }
    if (!project_.IndexFile.empty()) {
        std::map<std::string, std::uint32_t> topicNumbers;
        for (std::size_t i = 0; i < read.Topics.size(); ++i)
            topicNumbers.emplace(LowerAscii(read.Topics[i].Address), static_cast<std::uint32_t>(i));
        const TKeywordFiles links = BuildKeywordLinks(
            read.Keywords,
            [&](const std::string& address) -> std::optional<std::uint32_t> {
                auto it = topicNumbers.find(LowerAscii(address));
                if (it == topicNumbers.end()) return std::nullopt;
                return it->second;
            },
            codePage_, project_.LanguageId);
        std::vector<TSitemapKeyword>().swap(read.Keywords);
        AddToSection1("/$WWKeywordLinks/BTree", links.BTree);
        AddToSection1("/$WWKeywordLinks/Data", links.Data);
        AddToSection1("/$WWKeywordLinks/Map", links.Map);
        AddToSection1("/$WWKeywordLinks/Property", links.Property);
    }
}

// The names of the two sections, UTF-16 with a length in words in front.
TBytes NameList() {
    TBytes nameList;
    TByteWriter w(nameList);
    w.U16(0);  // length in 16-bit words, set below
    w.U16(2);
    for (const char* name : {"Uncompressed", "MSCompressed"}) {
        w.U16(static_cast<std::uint16_t>(std::strlen(name)));
        w.Raw(Utf16(name));
        w.U16(0);
    }
    w.PutU16At(0, static_cast<std::uint16_t>(nameList.size() / 2));
    return nameList;
}

// The LZX parameters viewers need to decode section 1.
TBytes ControlData(const TChmWriteOptions& options) {
    TBytes control;
    TByteWriter w(control);
    w.U32(6);
    w.Text("LZXC");
    w.U32(2);  // sizes below count 32 KiB units
    w.U32(options.ResetIntervalFrames);
    w.U32((1u << options.WindowBits) >> 15);
    w.U32(WindowsPerReset(options));
    w.U32(0);
    return control;
}

// Where each reset interval starts in the compressed stream, for random access.
TBytes ResetTable(const TLzxSectionResult& lzx) {
    TBytes table;
    TByteWriter w(table);
    w.U32(2);
    w.U32(static_cast<std::uint32_t>(lzx.FrameOffsets.size()));
    w.U32(8);
    w.U32(0x28);
    w.U64(lzx.UncompressedLength);
    w.U64(lzx.CompressedLength);
    w.U64(kLzxFrameSize);
    for (std::uint64_t offset : lzx.FrameOffsets) w.U64(offset);
    return table;
}

void TChmWriter::AddSection0(const TLzxSectionResult& lzx, const TBytes& system) {
    AddToSection0("::DataSpace/NameList", NameList());
    AddToSection0(std::string(kStorage) + "ControlData", ControlData(options_));
    TBytes span;
    TByteWriter(span).U64(lzx.UncompressedLength);
    AddToSection0(std::string(kStorage) + "SpanInfo", span);
    AddToSection0(std::string(kStorage) + "Transform/List", Utf16(kLzxGuidText));
    AddToSection0(std::string(kStorage) + "Transform/" + kLzxGuidText + "/InstanceData/ResetTable", ResetTable(lzx));
    AddToSection0("/#SYSTEM", system);
    AddToSection0("/#ITBITS", {});
    entries_.push_back({std::string(kStorage) + "Content", 0, section0_.size(), lzx.CompressedLength});
}

TBytes TChmWriter::FileHeader(std::uint64_t directorySize, std::uint64_t contentSize) const {
    const std::uint64_t directoryOffset = kItsfHeaderSize + kHeaderSection0Size;
    const std::uint64_t section0Offset = directoryOffset + directorySize;
    const std::uint64_t fileSize = section0Offset + section0_.size() + contentSize;

    TBytes header;
    TByteWriter h(header);
    h.Text("ITSF");
    h.U32(3);
    h.U32(kItsfHeaderSize);
    h.U32(1);
    h.U32BigEndian(timestamp_);
    h.U32(project_.LanguageId);
    h.Guid(kItsfGuid1);
    h.Guid(kItsfGuid2);
    h.U64(kItsfHeaderSize);
    h.U64(kHeaderSection0Size);
    h.U64(directoryOffset);
    h.U64(directorySize);
    h.U64(section0Offset);
    // Header section 0.
    h.U32(0x01FE);
    h.U32(0);
    h.U64(fileSize);
    h.U32(0);
    h.U32(0);
    return header;
}

void TChmWriter::WriteOutput(const TBytes& header, const TBytes& directory) {
    Tell("Writing " + Quoted(outputFile_));
    TOutputFile out(outputFile_);
    out.Write(header);
    out.Write(directory);
    out.Write(section0_);
    spill_->ReadBack([&](std::span<const std::uint8_t> bytes) { out.Write(bytes); });
    CheckGoing();
    out.Commit();
}

void TChmWriter::Run() {
    CheckOptions();
    ReadProject();
    Prepare(MeasureFiles());
    TReadFiles read = AddProjectFiles();
    if (callbacks_.OnFilesRead) callbacks_.OnFilesRead();
    const TChmTables tables = BuildTables(read);
    AddTablesToSection1(tables, read);

    Tell("Compressing");
    TLzxSectionResult lzx = compressor_->Finish();
    compressor_.reset();
    CheckGoing();

    AddSection0(lzx, tables.System);
    const TChmDirectoryLayout directory = BuildChmDirectory(std::move(entries_), project_.LanguageId);
    if (spill_->Size() != lzx.CompressedLength) throw std::logic_error("compressed section not written whole");
    WriteOutput(FileHeader(directory.Bytes.size(), lzx.CompressedLength), directory.Bytes);
    spill_.reset();
    Progress(1.0);
    Tell("Compiled " + std::to_string(files_.size()) + " files, " + std::to_string(read.Topics.size()) + " topics, " +
         std::to_string(lzx.UncompressedLength) + " bytes compressed to " + std::to_string(lzx.CompressedLength) + ".");
}

}  // namespace

void SetChmSpillWithoutTmpfileForTesting(bool named) { gSpillWithoutTmpfile = named; }

bool WriteChmFromProject(const std::string& projectFile, const std::string& outputFile, const TChmWriteOptions& options,
                         const TChmWriteCallbacks& callbacks) {
    std::string reason;
    try {
        TChmWriter(projectFile, outputFile, options, callbacks).Run();
        return true;
    } catch (const EChmStopped&) {
        reason = "Compilation stopped.";
    } catch (const std::bad_alloc&) {
        reason = "Not enough memory to compile the help file.";
    } catch (const std::exception& e) {
        reason = e.what();
    }
    try {
        if (callbacks.OnError) callbacks.OnError(reason);
    } catch (...) {
        // The caller's handler failing must not turn a reported failure into a crash.
    }
    return false;
}
