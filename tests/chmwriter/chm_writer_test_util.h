#pragma once
// Shared by the writer's suites: a scratch folder, a project builder and
// readers that look at the written file through chmlib, libmspack, 7-Zip
// and python3-chm, each used only through its public interface.
#include <chm_lib.h>
#include <mspack.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chmwriter/chm_writer.h"

namespace chmtest {

namespace fs = std::filesystem;

class TScratch {
public:
    TScratch() {
        std::string pattern = "/tmp/orvalis-chmwriter-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TScratch() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string Page(const std::string& title, const std::string& body = "<p>text</p>") {
    return "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n<html>\r\n<head>\r\n"
           "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n<title>" +
           title +
           "</title>\r\n<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\">\r\n</head>\r\n<body>\r\n" +
           body + "\r\n</body>\r\n</html>\r\n";
}

// A project in the shape the program writes: "[Options]" with the sitemaps,
// "[Files]" with every file, the sitemaps and the files beside the project.
struct TProject {
    std::string Title = "Music Catalogue";
    std::string Language = "0x409 English (United States)";
    std::string DefaultTopic = "main.html";
    std::string WindowsSection;                              // lines after "[Windows]", empty for none
    std::string ExtraOptions;                                // more "[Options]" lines, each ending in "\r\n"
    std::string IndexSitemap;                                // temp.hhk; an empty index when unset
    std::vector<std::pair<std::string, std::string>> Files;  // address, content; pages are named in the contents

    void Add(const std::string& address, const std::string& content) { Files.emplace_back(address, content); }

    // Writes everything below folder; returns the project file.
    std::string Write(const std::string& folder) const {
        std::string hhc = "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\r\n<HTML><BODY>\r\n<UL>\r\n";
        for (const auto& [address, content] : Files) {
            if (address.find(".htm") == std::string::npos) continue;
            hhc += "<LI> <OBJECT type=\"text/sitemap\">\r\n<param name=\"Name\" value=\"" + address +
                   "\">\r\n<param name=\"Local\" value=\"" + address + "\">\r\n</OBJECT>\r\n";
        }
        hhc += "</UL>\r\n</BODY></HTML>\r\n";
        const std::string hhk = !IndexSitemap.empty()
                                    ? IndexSitemap
                                    : "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\r\n<HTML><BODY>\r\n<UL>\r\n"
                                      "</UL>\r\n</BODY></HTML>\r\n";
        std::string hhp;
        if (!WindowsSection.empty()) hhp += "[Windows]\r\n" + WindowsSection + "\r\n";
        hhp +=
            "\r\n[Options]\r\nCompatibility=1.1 or later\r\nContents file=temp.hhc\r\nIndex file=temp.hhk\r\n"
            "Display compile progress=Yes\r\nDefault Window=Main\r\n";
        if (!DefaultTopic.empty()) hhp += "Default topic=" + DefaultTopic + "\r\n";
        if (!Title.empty()) hhp += "Title=" + Title + "\r\n";
        if (!Language.empty()) hhp += "Language=" + Language + "\r\n";
        hhp += ExtraOptions;
        hhp += "\r\n\r\n[Files]\r\n";
        for (const auto& [address, content] : Files) {
            WriteFile(folder + "/" + address, content);
            hhp += address + "\r\n";
        }
        hhp += "self.chmprj";
        WriteFile(folder + "/self.chmprj", "<?xml version=\"1.0\"?>\r\n<CONFIG/>\r\n");
        WriteFile(folder + "/temp.hhc", hhc);
        WriteFile(folder + "/temp.hhk", hhk);
        const std::string project = folder + "/temp500000.hhp";
        WriteFile(project, hhp);
        return project;
    }
};

struct TCompileResult {
    bool Ok = false;
    std::string Error;
    std::vector<std::string> Messages;
    std::vector<double> Progress;
};

inline TCompileResult Compile(const std::string& project, const std::string& output, TChmWriteOptions options = {},
                              std::function<bool()> keepGoing = {}) {
    if (!options.Timestamp) options.Timestamp = 1700000000;
    TCompileResult r;
    TChmWriteCallbacks callbacks;
    callbacks.OnMessage = [&](const std::string& line) { r.Messages.push_back(line); };
    callbacks.OnProgress = [&](double f) { r.Progress.push_back(f); };
    callbacks.OnError = [&](const std::string& reason) { r.Error = reason; };
    callbacks.KeepGoing = std::move(keepGoing);
    r.Ok = WriteChmFromProject(project, output, options, callbacks);
    return r;
}

// chmlib: every object by name, and lookups.
class TChmLib {
public:
    explicit TChmLib(const std::string& file) : h_(chm_open(file.c_str())) {}
    ~TChmLib() {
        if (h_) chm_close(h_);
    }
    TChmLib(const TChmLib&) = delete;
    TChmLib& operator=(const TChmLib&) = delete;
    bool Open() const { return h_ != nullptr; }

    std::vector<std::string> Names(int what = CHM_ENUMERATE_ALL) {
        std::vector<std::string> names;
        chm_enumerate(
            h_, what,
            [](chmFile*, chmUnitInfo* ui, void* context) {
                static_cast<std::vector<std::string>*>(context)->push_back(ui->path);
                return CHM_ENUMERATOR_CONTINUE;
            },
            &names);
        return names;
    }
    bool Resolve(const std::string& name, chmUnitInfo& ui) {
        return chm_resolve_object(h_, name.c_str(), &ui) == CHM_RESOLVE_SUCCESS;
    }
    // The object's bytes, or nullopt when it cannot be found or read whole.
    std::optional<std::string> Read(const std::string& name) {
        chmUnitInfo ui{};
        if (!Resolve(name, ui)) return std::nullopt;
        std::string bytes(ui.length, '\0');
        if (ui.length == 0) return bytes;
        const LONGINT64 n = chm_retrieve_object(h_, &ui, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                                                static_cast<LONGINT64>(ui.length));
        if (n != static_cast<LONGINT64>(ui.length)) return std::nullopt;
        return bytes;
    }

private:
    chmFile* h_;
};

// libmspack's CHM decompressor.
class TMsPack {
public:
    TMsPack() : d_(mspack_create_chm_decompressor(nullptr)) {}
    ~TMsPack() {
        if (d_ && full_) d_->close(d_, full_);
        if (d_ && fast_) d_->close(d_, fast_);
        if (d_) mspack_destroy_chm_decompressor(d_);
    }
    TMsPack(const TMsPack&) = delete;
    TMsPack& operator=(const TMsPack&) = delete;

    mschmd_header* Open(const std::string& file) { return full_ = d_ ? d_->open(d_, file.c_str()) : nullptr; }
    mschmd_header* FastOpen(const std::string& file) { return fast_ = d_ ? d_->fast_open(d_, file.c_str()) : nullptr; }
    int LastError() { return d_->last_error(d_); }
    // fast_find on the fast-opened file; the entry's length, -1 when not found.
    long long FastFind(const std::string& name, mschmd_file& file) {
        if (d_->fast_find(d_, fast_, name.c_str(), &file, sizeof file) != MSPACK_ERR_OK || !file.section) return -1;
        return static_cast<long long>(file.length);
    }
    std::optional<std::string> Extract(mschmd_file* file, const std::string& scratchFile) {
        if (d_->extract(d_, file, scratchFile.c_str()) != MSPACK_ERR_OK) return std::nullopt;
        return ReadFile(scratchFile);
    }

private:
    mschm_decompressor* d_;
    mschmd_header* full_ = nullptr;
    mschmd_header* fast_ = nullptr;
};

inline bool HaveProgram(const std::string& name) {
    for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"})
        if (::access((std::string(dir) + name).c_str(), X_OK) == 0) return true;
    return false;
}

// Runs a shell command; its standard output, and its exit status in status.
inline std::string RunCommand(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return out;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int rc = ::pclose(pipe);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Where the Debian python3-chm module lives; empty when it is missing.
inline std::string PythonWithChm() {
    int status = 0;
    RunCommand("/usr/bin/python3 -c 'import chm.chm' 2>/dev/null", status);
    return status == 0 ? "/usr/bin/python3" : "";
}

inline std::uint32_t U32At(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(at + static_cast<std::size_t>(i)));
    return v;
}
inline std::uint16_t U16At(const std::string& s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s.at(at)) |
                                      (static_cast<unsigned char>(s.at(at + 1)) << 8));
}

// Topic address -> title, decoded from #TOPICS, #URLTBL, #URLSTR and #STRINGS.
inline std::map<std::string, std::string> TopicTitles(TChmLib& chm) {
    std::map<std::string, std::string> result;
    const auto topics = chm.Read("/#TOPICS");
    const auto urltbl = chm.Read("/#URLTBL");
    const auto urlstr = chm.Read("/#URLSTR");
    const auto strings = chm.Read("/#STRINGS");
    if (!topics || !urltbl || !urlstr || !strings) return result;
    for (std::size_t at = 0; at + 16 <= topics->size(); at += 16) {
        const std::uint32_t title = U32At(*topics, at + 4);
        const std::uint32_t tbl = U32At(*topics, at + 8);
        const std::uint32_t str = U32At(*urltbl, tbl + 8);
        const std::string address = urlstr->c_str() + str + 8;
        result[address] = title == 0xFFFFFFFF ? std::string() : std::string(strings->c_str() + title);
    }
    return result;
}

}  // namespace chmtest
