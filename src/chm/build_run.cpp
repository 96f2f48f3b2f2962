#include "chm/build_run.h"

#include <algorithm>

#include "audio/audio_info.h"
#include "base/run_folder.h"
#include "chm/chm_preparer.h"
#include "chm/web_site.h"
#include "collection/collection.h"
#include "base/language.h"
#include "base/shared_functions.h"
#include "platform/special_folders.h"
#include "services/configer.h"

namespace {

// How many of the compiler's last lines a failure report shows.
constexpr std::size_t kCompilerLinesShown = 12;

// The pages of the run as a web site in place of the target folder.
void MakeWebSite(TChmPreparer& preparer, const std::vector<const TAudioInfo*>& files, const TDatabaseRequest& request,
                 TDatabaseResult& result) {
    preparer.GeneratePages(files);
    TSiteSource source;
    source.WorkingFolder = GetAppTempFolder();
    source.Files = preparer.Compiler->Files.get();
    source.Tree = preparer.Compiler->Tree.get();
    source.MemoryFiles = &preparer.Compiler->MemoryFiles;
    source.Titles = &preparer.Titles;
    source.Title = Translate("Music catalogue");
    source.Search = request.FullTextSearch.value_or(true);
    // The run's folder is removed when the stage ends.
    source.MoveFiles = true;
    bool stopped = false;
    const std::string status = Translate("Writing the web pages");
    source.OnProgress = [&](int percent) {
        if (request.OnCompileProgress && !request.OnCompileProgress(status, percent, std::string())) stopped = true;
        return !stopped;
    };
    try {
        result.Done = WriteWebSite(source, request.TargetPath);
    } catch (const EOSError& e) {
        result.Message = e.Message();
        return;
    }
    if (!result.Done) result.Message = Translate("The run was cancelled.");
}

}  // namespace

TOutputKind ConfiguredOutputKind() {
    TConfiger* configer = AppConfiger();
    return configer && configer->ReadString("Session", "OutputKind") == OutputKindValue(TOutputKind::WebPages)
               ? TOutputKind::WebPages
               : TOutputKind::CompiledHelp;
}

std::string OutputKindValue(TOutputKind kind) { return kind == TOutputKind::WebPages ? "html" : "chm"; }

std::string ConfiguredSiteFolder() {
    TConfiger* configer = AppConfiger();
    const std::string folder = configer ? configer->ReadString("Session", "SiteFolder") : std::string();
    return folder.empty() ? JoinPath(DocumentsFolder(), kSiteFolderName) : folder;
}

std::string CheckBeforeRun() {
    try {
        CheckDataArchive();
        TRunFolder probe;
    } catch (const Exception& e) {
        return e.Message();
    }
    return {};
}

bool RunSearchStage(TMP3Collection& collection, const std::vector<std::string>& paths, const TFoundEvent& onFound) {
    collection.Clear();
    bool cancelled = false;
    const TScanEvent progress = [&](TMP3Collection&, const std::string& path, bool& cancel) {
        if (onFound) onFound(path, cancel);
        if (cancel) cancelled = true;
    };
    for (const std::string& path : paths) {
        collection.Scan(path, nullptr, progress);
        if (cancelled) return false;
    }
    return true;
}

TDatabaseResult RunDatabaseStage(TMP3Collection& collection, const TDatabaseRequest& request) {
    TDatabaseResult result;
    if (collection.Count() <= 0) {
        result.Message = Translate("No audio files were found.");
        return result;
    }
    // Everything the run writes lives in its own folder, removed however the run ends.
    TRunFolder folder;
    TChmPreparer preparer;
    preparer.CheckStop = request.CheckStop;
    if (request.Output == TOutputKind::WebPages) {
        preparer.OnStage = request.OnStage;
        std::vector<const TAudioInfo*> files;
        for (int i = 0; i < collection.Count(); ++i) files.push_back(&collection.Items(i));
        result.DatabasePath = request.TargetPath;
        MakeWebSite(preparer, files, request, result);
        return result;
    }
    preparer.OutputPath = request.TargetPath;
    preparer.Compiler->Engine = request.Engine;
    preparer.FullTextSearch = request.FullTextSearch;
    preparer.OnStage = request.OnStage;
    preparer.OnCompileProgress = request.OnCompileProgress;
    preparer.Run(collection);

    result.Done = preparer.Placed();
    result.DatabasePath = preparer.OutputPath;
    if (!result.Done) {
        result.Message = preparer.FailureReason();
        const TStringList& lines = preparer.CompilerMessages();
        const std::size_t first = lines.size() > kCompilerLinesShown ? lines.size() - kCompilerLinesShown : 0;
        result.CompilerLines.assign(lines.begin() + static_cast<std::ptrdiff_t>(first), lines.end());
    }
    return result;
}
