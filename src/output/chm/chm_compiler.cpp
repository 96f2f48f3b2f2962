// Writing the help project and running the help compiler on it.
#include "output/chm/chm_compiler.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "base/language.h"
#include "base/memory_release.h"
#include "base/parallel_loop.h"
#include "base/shared_functions.h"
#include "base/utf8.h"
#include "chmwriter/chm_project.h"
#include "chmwriter/chm_text.h"
#include "pages/keywords.h"
#include "platform/help_compiler.h"
#include "services/configer.h"
#include "text/xml_config.h"

namespace {

const char* const kCrLf = "\r\n";
const char* const kStoreName = "self.chmprj";

bool ConfigFlag(const std::string& section, const std::string& key) {
    TConfiger* configer = AppConfiger();
    return configer && configer->ReadBool(section, key);
}

// Copies every value below path of the configuration into target under its
// full dotted section.
void CopyConfiguration(const std::string& path, TCustomIniFile& target) {
    if (TConfiger* configer = AppConfiger()) CopySection(configer->Ini(), target, path, "");
}

long long MillisecondsOfDay() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    return ((local.tm_hour * 60LL + local.tm_min) * 60 + local.tm_sec) * 1000 + now.tv_nsec / 1000000;
}

bool IsPageName(const std::string& fileName) {
    const std::string ext = UpperCase(ExtractFileExt(fileName));
    return ext == ".HTML" || ext == ".HTM";
}

// Our pages are UTF-8, held in memory, in the spill store or in the run's
// folder; the compiled file holds them in its code page, as viewers read it
// (they ignore a page's own charset for the contents tab and search). Held
// pages are converted where they are. Converted pages from the store or files
// stay in memory too while the held bytes are within a budget, since writing
// them back costs more than converting; beyond it they go back over the
// originals, so a large collection's memory stays bounded. Pages elsewhere,
// or in another encoding, stay as they are.
std::map<std::string, std::string> PagesInCodePage(const TFiles& files, const std::string& runFolder,
                                                   unsigned codePage,
                                                   std::map<std::string, std::string>& memoryFiles,
                                                   TSpillStore* spilled, std::size_t heldBytes) {
    std::map<std::string, std::string> converted;
    if (codePage == 65001 || runFolder.empty()) return converted;
    const std::string prefix = runFolder.back() == '/' ? runFolder : runFolder + "/";
    const auto ours = [&](const std::string& name) {
        return IsPageName(name) && name.compare(0, prefix.size(), prefix) == 0;
    };
    std::vector<std::string*> inMemory;
    for (auto& [name, bytes] : memoryFiles)
        if (ours(name)) inMemory.push_back(&bytes);
    std::vector<std::string> pages;
    for (const auto& file : files.Items)
        if (ours(file->FileName) && !memoryFiles.count(file->FileName)) pages.push_back(file->FileName);

    std::atomic<std::size_t> held{0};
    // Pages are independent; the threads take them in turn.
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    TParallelLoop(inMemory.size(), threads - 1, [&](std::size_t i) {
        std::string& page = *inMemory[i];
        if (IsValidUtf8(page)) {
            page = EncodeHtmlForCodePage(page, codePage);
            page.shrink_to_fit();  // the encoder reserves room for the worst case
        }
        held.fetch_add(page.size());
    }).Wait();
    std::vector<std::optional<std::string>> results(pages.size());
    TParallelLoop(pages.size(), threads - 1, [&](std::size_t i) {
        const bool kept = spilled && spilled->SizeOf(pages[i]);
        if (!kept && !FileExists(pages[i])) return;
        const std::string text = ReadKeptOrFile(kept ? spilled : nullptr, pages[i]);
        if (!IsValidUtf8(text)) return;
        std::string page = EncodeHtmlForCodePage(text, codePage);
        if (held.fetch_add(page.size()) + page.size() <= heldBytes) {
            page.shrink_to_fit();
            results[i] = std::move(page);
        }
        else if (page != text)
            KeepOrSave(kept ? spilled : nullptr, pages[i], page);
    }).Wait();
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (results[i]) converted.emplace(pages[i], std::move(*results[i]));
    return converted;
}

std::string KeywordsValue(const TChmTreeItem& entry) {
    std::string value = entry.KeywordList + ">";
    for (TKeywordKind kind : entry.KeywordKindList) value += KeywordKindLetter(kind);
    value += ",";
    for (int kind = 0; kind < KeywordKindCount; ++kind)
        if (HasKind(entry.EnabledKinds, kind)) value += KeywordKindLetter(static_cast<TKeywordKind>(kind));
    return value;
}

void RemoveFile(const std::string& fileName) { ::unlink(fileName.c_str()); }

// A sitemap written to its file a piece at a time, in the code page, with the
// project's properties in place of their mark: a large collection's contents
// and index are tens of MB each.
void SaveSitemap(void (TChmTree::*write)(const std::function<void(std::string_view)>&) const, const TChmTree& tree,
                 const std::string& properties, unsigned codePage, const std::string& fileName) {
    TTextFileWriter file(fileName);
    (tree.*write)([&](std::string_view piece) {
        std::string text(piece);
        ReplaceAll(text, "&Properties;", properties, true);
        file.Write(EncodeHtmlTextForCodePage(text, codePage));
    });
    file.Close();
}

}  // namespace

std::string CompileBaseName(long long millisecondsOfDay) {
    // fraction of the day * 1000000 = ms / 86.4, rounded half to even
    const long long scaled = millisecondsOfDay * 10;
    long long value = scaled / 864;
    const long long rest = scaled % 864;
    if (rest * 2 > 864 || (rest * 2 == 864 && value % 2 == 1)) ++value;
    return "temp" + std::to_string(value);
}

TChmCompiler::TChmCompiler() { Reset(); }

TChmCompiler::~TChmCompiler() {
    try {
        DeleteTree(GetAppTempFolder(), false);
    } catch (...) {
        // No working folder could be had, so there is nothing of ours to remove.
    }
    FreeProject();
}

void TChmCompiler::FreeProject() {
    // Entries lower the use counts of their files when they go, so the tree
    // goes before the file set.
    Tree.reset();
    Files.reset();
    Ini.reset();
}

void TChmCompiler::Reset() {
    FreeProject();
    MemoryFiles.clear();
    Spilled.reset();
    Files = std::make_unique<TFiles>(this);
    Files->CheckExistence = true;
    Tree = std::make_unique<TChmTree>(this, Files.get());
    Tree->Clear();
    Ini = std::make_unique<TChmIni>();
    Ini->PathMapper = [this](std::string_view fileName) { return Files->AddressOf(fileName); };
    CopyConfiguration("Options", *Ini);
    Modified = false;
    LoadKeywordOptions(*Tree);
}

bool TChmCompiler::ReportCompileProgress(const std::string& status, int percent, const std::string& line) {
    return OnCompileProgress ? OnCompileProgress(status, percent, line) : true;
}

void TChmCompiler::PhaseTitle(const std::string& title) {
    if (!OnCompileProgress) return;
    OnCompileProgress("", 0, " ");
    OnCompileProgress("", 0, Translate(title));
    OnCompileProgress("", 0, " ");
}

void TChmCompiler::CompilerMessage(const std::string& message) {
    std::string line = Trim(message);
    if (line.empty()) return;
    compileMessages_.push_back(line);
    if (!OnCompileProgress) return;
    ++ProgressCount;
    // An empty project has nothing to count against.
    const int total = ProgressTotal > 0 ? ProgressTotal : 1;
    const int percent = progressByBytes_ ? bytePercent_ : static_cast<int>(ProgressCount * 100LL / total);
    if (!OnCompileProgress(Translate("Compiling") + "...", percent, line)) stopRequested_ = true;
}

bool TChmCompiler::CompressionProgress(double fraction) {
    const int percent = static_cast<int>(fraction * 100.0);
    if (OnCompileProgress && percent != bytePercent_) {
        bytePercent_ = percent;
        if (!OnCompileProgress(Translate("Compiling") + "...", percent, "")) stopRequested_ = true;
    }
    return !stopRequested_;
}

THelpEngine ConfiguredHelpEngine() {
    TConfiger* configer = AppConfiger();
    const std::string name = configer ? LowerCase(Trim(configer->ReadString("Options", "HelpCompiler"))) : "";
    return name == "chmcmd" ? THelpEngine::Chmcmd : THelpEngine::Native;
}

void TChmCompiler::Compile(std::string& chmFileName) {
    chmFileName.clear();
    compileMessages_.clear();

    if (ConfigFlag("Options.Preferences.General.RefreshbeforeCompile", "")) {
        // The entries are read again from their files.
        for (const auto& [name, bytes] : MemoryFiles) SaveTextFile(bytes, name);
        MemoryFiles.clear();
        if (Spilled)
            for (const std::string& name : Spilled->Names()) SaveTextFile(Spilled->Read(name), name);
        Spilled.reset();
        PhaseTitle("Refreshing files...");
        Tree->Root->Refresh(true);
    }

    const std::string workingFolder = GetAppTempFolder();
    if (ClearWorkingFolder && !workingFolder.empty()) DeleteTree(workingFolder, true);

    PhaseTitle("Preparing files...");
    RootFolder = Files->PrepareRoot();
    if (RootFolder.empty()) return;

    std::string firstFile;
    if (Tree->Root->Count() > 0 && Tree->Root->Item(0)->FileInfo) firstFile = Tree->Root->Item(0)->FileInfo->FileName;
    std::string project = Ini->ProjectSections(firstFile);
    project += std::string(kCrLf) + kCrLf + "[Files]" + kCrLf + Files->FileList();
    if (StoreProject) project += std::string(kCrLf) + kStoreName;

    const std::string baseName = CompileBaseName(MillisecondsOfDay());
    ReplaceAll(project, "[Options]",
               "[Options]\r\nCompatibility=1.1 or later\r\nContents file=temp.hhc\r\nIndex file=temp.hhk\r\n"
               "Display compile progress=Yes\r\nDefault Window=Main",
               true);

    // One code page for everything the compiled file holds as text: the
    // one of the project's language.
    unsigned codePage = CodePageOfLanguage(0x409);
    try {
        codePage = CodePageOfLanguage(ParseChmProject(project, RootFolder).LanguageId);
    } catch (const std::runtime_error&) {
        // The compiler reports what is wrong with the project.
    }
    const std::string projectFile = JoinPath(RootFolder, baseName + ".hhp");
    const std::string contentsFile = JoinPath(RootFolder, "temp.hhc");
    const std::string indexFile = JoinPath(RootFolder, "temp.hhk");
    const std::string compiledFile = JoinPath(RootFolder, baseName + ".chm");
    SaveTextFile(project, projectFile);
    std::string().swap(project);
    SaveSitemap(&TChmTree::WriteContents, *Tree, Ini->ContentsProperties(), codePage, contentsFile);
    SaveSitemap(&TChmTree::WriteIndex, *Tree, Ini->IndexProperties(), codePage, indexFile);
    std::map<std::string, std::string> pagesInCodePage =
        PagesInCodePage(*Files, workingFolder, codePage, MemoryFiles, Spilled.get(), HeldPageBytes);
    ReleaseFreedMemory();

    const bool wasModified = Modified;
    if (StoreProject) SaveProject(JoinPath(RootFolder, kStoreName));
    Modified = wasModified;

    ProgressTotal = Files->Count();
    ProgressCount = 0;
    PhaseTitle("Compiling...");

    // The held bytes by project address; the compiler reads them in place.
    THelpMemoryFiles memoryFiles;
    for (const auto& [name, bytes] : MemoryFiles) memoryFiles.emplace(Files->AddressOf(name), bytes);
    for (const auto& [name, bytes] : pagesInCodePage) memoryFiles.emplace(Files->AddressOf(name), bytes);
    const THelpEngine engine = Engine ? *Engine : ConfiguredHelpEngine();
    // Files in the spill store are found by their project address below the
    // project's root, which costs no table of their names; one whose name
    // does not come back that way is written out, where the compiler looks next.
    THelpKeptFiles kept;
    if (Spilled) {
        for (const std::string& name : Spilled->Names()) {
            const std::string address = Files->AddressOf(name);
            if (JoinPath(RootFolder, address) != name)
                SaveTextFile(Spilled->Read(name), name);
            else if (engine == THelpEngine::Chmcmd && !memoryFiles.count(address))
                kept.Addresses.push_back(address);  // the converted held copy wins
        }
        kept.SizeOf = [&](const std::string& address) -> std::optional<std::uint64_t> {
            return Spilled ? Spilled->SizeOf(JoinPath(RootFolder, address)) : std::nullopt;
        };
        kept.Read = [&](const std::string& address) { return Spilled->Read(JoinPath(RootFolder, address)); };
    }
    stopRequested_ = false;
    progressByBytes_ = engine == THelpEngine::Native;
    bytePercent_ = 0;
    enum { kSucceeded = 1, kRaised = 2, kFailed = 3 } outcome;
    try {
        const bool compiled = CompileHelpProject(
            projectFile, engine,
            [this, engine](const std::string& line) {
                CompilerMessage(line);
                // chmcmd knows no stop: the raise ends the child. Ours asks for progress.
                if (stopRequested_ && engine == THelpEngine::Chmcmd)
                    throw ECompilationBreak(Translate("Compilation stopped."));
            },
            [](const std::string&) { return true; }, [this](double fraction) { return CompressionProgress(fraction); },
            &memoryFiles,
            [&] {
                // Held pages and pictures are in the compiled file now; the
                // index and keyword tables built next need their memory.
                memoryFiles.clear();
                pagesInCodePage.clear();
                MemoryFiles.clear();
                Spilled.reset();
                ReleaseFreedMemory();
            },
            Spilled ? &kept : nullptr);
        outcome = compiled && !stopRequested_ ? kSucceeded : kFailed;
    } catch (const std::exception& e) {
        outcome = kRaised;
        std::string reason = Trim(e.what());
        if (!reason.empty()) compileMessages_.push_back(reason);
    }
    CompileFailed = outcome == kFailed;
    // Only a file the compiler reported as done is handed on.
    if (outcome == kSucceeded) chmFileName = compiledFile;

    if (!ConfigFlag("General", "Debug")) {
        if (outcome != kSucceeded) RemoveFile(compiledFile);
        RemoveFile(projectFile);
        RemoveFile(contentsFile);
        RemoveFile(indexFile);
    }
}

void TChmCompiler::SaveProject(const std::string& fileName) {
    RemoveFile(fileName);
    {
        TXMLConfig store(fileName, true);
        store.SetShortForm(true);
        store.SetInfo("CHM Project");
        store.WriteValue("Version", "", "208");

        int count = 0;
        std::function<void(const TChmTreeItem&, int)> writeEntries = [&](const TChmTreeItem& parent, int level) {
            for (int i = 0; i < parent.Count(); ++i) {
                const TChmTreeItem& entry = *parent.Item(i);
                const std::string section = "Contents." + std::to_string(count++);
                store.WriteValue(section, "Caption", entry.Caption);
                store.WriteValue(section, "Level", std::to_string(level));
                store.WriteValue(section, "FileName", entry.FileInfo ? entry.FileInfo->FileName : std::string());
                if (!entry.Anchor.empty()) store.WriteValue(section, "Anchor", entry.Anchor);
                store.WriteValue(section, "Keywords", KeywordsValue(entry));
                if (entry.Count() > 0 || entry.ImageIndex != 11)
                    store.WriteValue(section, "Image", std::to_string(entry.ImageIndex));
                writeEntries(entry, level + 1);
            }
        };
        writeEntries(*Tree->Root, 0);
        store.WriteValue("Contents", "Count", std::to_string(count));

        int files = 0;
        for (const auto& file : Files->Items) {
            if (file->Linked.empty() || file->RefCount <= 0) continue;
            const std::string section = "Files." + std::to_string(files++);
            store.WriteValue(section, "FileName", file->FileName);
            std::string linked;
            for (const TFileInfo* link : file->Linked)
                if (link) linked += link->FileName + kCrLf;
            store.WriteValue(section, "Linked", linked);
        }
        store.WriteValue("Files", "Count", std::to_string(files));

        CopyConfiguration("Options.HHP", store);
        // Saved here rather than on release, so a write error reaches the caller.
        store.SaveFile();
    }
    Modified = false;
}
