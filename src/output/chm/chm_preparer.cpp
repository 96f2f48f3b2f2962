// The compiled catalogue: pages, project settings, compilation and placement.
#include "output/chm/chm_preparer.h"

#include <algorithm>
#include <string_view>

#include "audio/audio_info.h"
#include "base/atomic_file.h"
#include "base/language.h"
#include "base/memory_release.h"
#include "catalogue/catalogue.h"
#include "catalogue/title_language.h"
#include "collection/collection.h"
#include "output/destination.h"
#include "pages/contents_tree.h"
#include "platform/special_folders.h"
#include "services/configer.h"

namespace {

// The language whose code page writes the catalogue's titles best: page
// titles are made of these names.
std::string LanguageOfCatalogue(const std::vector<const TAudioInfo*>& files) {
    std::vector<std::string_view> names;
    names.reserve(files.size() * 4);
    for (const TAudioInfo* f : files)
        for (int field : {atArtist, atTitle, atAlbum, atGenre}) names.push_back(f->GetText(field));
    return LanguageForTitles(names);
}

}  // namespace

TChmPreparer::TChmPreparer() {
    LoadTemplate();
    Compiler = std::make_unique<TChmCompiler>();
    // The working folder already holds the pages when compiling starts.
    Compiler->ClearWorkingFolder = false;
    Compiler->Files->CheckExistence = false;
    Compiler->OnCompileProgress = [this](const std::string& status, int percent, const std::string& line) {
        return ForwardCompileProgress(status, percent, line);
    };
}

TChmPreparer::~TChmPreparer() = default;

bool TChmPreparer::ForwardCompileProgress(const std::string& status, int percent, const std::string& line) {
    // Without a listener nobody asks to stop.
    return OnCompileProgress ? OnCompileProgress(status, percent, line) : true;
}

void TChmPreparer::LoadTemplate() {
    const std::string text = LoadArchivedTemplate();
    // Pages are UTF-8 here; the compiled file takes them in its code page.
    TPageTemplates parts = CutPageTemplate(TranslatePageText(text));
    PageTemplate = std::move(parts.Page);
    GroupTemplate = std::move(parts.Group);
    ItemTemplate = std::move(parts.Item);
    SectionTemplate = std::move(parts.Section);
}

void TChmPreparer::ExtractNeedFiles(const std::string& folder) {
    TStringList extracted = ::ExtractNeedFiles(folder);
    NeedFiles.insert(NeedFiles.end(), extracted.begin(), extracted.end());
}

void TChmPreparer::Run(TMP3Collection& collection) {
    std::vector<const TAudioInfo*> files;
    files.reserve(static_cast<std::size_t>(std::max(collection.Count(), 0)));
    for (int i = 0; i < collection.Count(); ++i) files.push_back(&collection.Items(i));
    Unreadable = UnreadableFiles(collection);
    Run(files);
}

void TChmPreparer::Run(const std::vector<const TAudioInfo*>& files) {
    placed_ = false;
    failureReason_.clear();
    if (OutputPath.empty()) {
        failureReason_ = Translate("No database file name was given.");
        return;
    }
    GeneratePages(files);
    // The catalogue and the page writers' buffers are gone; the compiler's
    // threads would not reuse their memory.
    ReleaseFreedMemory();
    CompileAndPlace();
}

void TChmPreparer::GeneratePages(const std::vector<const TAudioInfo*>& files) {
    if (!CoversConfigured()) Covers = false;
    const TCatalogue catalogue(files);
    TPageWriter writer(catalogue, {PageTemplate, GroupTemplate, ItemTemplate, SectionTemplate});
    writer.Covers = Covers;
    writer.CheckStop = CheckStop;
    writer.OnStage = OnStage;
    // Tracks link to their files by file:// address; viewers have no audio
    // player, so the album pages get none.
    writer.Unreadable = Unreadable;
    writer.HeldPageBytes = Compiler->HeldPageBytes;
    const std::string folder = GetAppTempFolder();
    // Pages and thumbnails beyond the held budgets: one file for all of them.
    Compiler->Spilled = std::make_unique<TSpillStore>(folder);
    writer.Spill = Compiler->Spilled.get();
    TWrittenPages written = writer.Write(folder, *Compiler->Tree);
    NeedFiles.insert(NeedFiles.end(), written.NeedFiles.begin(), written.NeedFiles.end());
    for (auto& [path, bytes] : written.MemoryFiles) Compiler->MemoryFiles[path] = std::move(bytes);
    WriteProjectSettings(files);
}

void TChmPreparer::WriteProjectSettings(const std::vector<const TAudioInfo*>& files) {
    Compiler->Ini->WriteValue("Options.HHP.Options", "Default topic", "main.html");
    // Viewers refuse a compiled file without a language id, and its code page
    // is the one the compiled file's text is written in: the names decide,
    // unless the configuration chooses.
    TConfiger* configer = AppConfiger();
    if (!configer || configer->ReadString("Options.HHP.Options", "Language").empty())
        Compiler->Ini->WriteValue("Options.HHP.Options", "Language", LanguageOfCatalogue(files));
    // Viewers show the title in their window caption and the search results.
    if (!configer || configer->ReadString("Options.HHP.Options", "Title").empty())
        Compiler->Ini->WriteValue("Options.HHP.Options", "Title", Translate("Music catalogue"));
    if (FullTextSearch)
        Compiler->Ini->WriteValue("Options.HHP.Options", "Full-text search", *FullTextSearch ? "Yes" : "No");
    else if (!configer || configer->ReadString("Options.HHP.Options", "Full-text search").empty())
        Compiler->Ini->WriteValue("Options.HHP.Options", "Full-text search", "Yes");
}

void TChmPreparer::CompileAndPlace() {
    placed_ = false;
    failureReason_.clear();
    std::string compiled;
    Compiler->Compile(compiled);

    if (compiled.empty() || !FileExists(compiled)) {
        failureReason_ = Translate("The help compiler did not produce the database.");
        return;
    }
    // Asked again now: something else may have taken the name during the run.
    if (const std::string problem = FileReplaceProblem(OutputPath); !problem.empty()) {
        failureReason_ = problem;
        return;
    }
    try {
        CopyFileAtomic(compiled, OutputPath);
    } catch (const EOSError& e) {
        failureReason_ = e.what();
        return;
    }
    placed_ = true;
}
