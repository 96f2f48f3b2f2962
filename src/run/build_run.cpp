// The search and database stages shared by the wizard and the headless command.
#include "run/build_run.h"

#include <algorithm>
#include <filesystem>

#include "audio/audio_info.h"
#include "base/language.h"
#include "base/run_folder.h"
#include "base/shared_functions.h"
#include "collection/collection.h"
#include "output/chm/chm_preparer.h"
#include "output/site/web_site.h"
#include "pages/contents_tree.h"
#include "pages/data_archive.h"
#include "pages/keywords.h"
#include "platform/special_folders.h"
#include "services/configer.h"

namespace {

// How many of the compiler's last lines a failure report shows.
constexpr std::size_t kCompilerLinesShown = 12;

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// The pages of the run as a web site in place of the target folder: written
// from the catalogue and its pages alone.
void MakeWebSite(const std::vector<const TAudioInfo*>& files, std::vector<THealthUnreadable> unreadable,
                 const TDatabaseRequest& request, TDatabaseResult& result) {
    const std::string working = GetAppTempFolder();
    TFiles pageFiles;
    pageFiles.CheckExistence = false;
    TChmTree tree(nullptr, &pageFiles);
    LoadKeywordOptions(tree);
    const TCatalogue catalogue(files);
    TPageWriter writer(catalogue, CutPageTemplate(TranslatePageText(LoadArchivedTemplate())));
    writer.Covers = CoversConfigured();
    writer.CheckStop = request.CheckStop;
    writer.OnStage = request.OnStage;
    writer.Unreadable = std::move(unreadable);
    // The site is built beside the target and renamed onto it: links to the
    // music start from the target.
    writer.PlayLinks.SiteFolder = AbsolutePath(request.TargetPath);
    writer.AlbumPlayer = true;
    const TWrittenPages written = writer.Write(working, tree);

    TSiteSource source;
    source.WorkingFolder = working;
    source.Files = &pageFiles;
    source.Tree = &tree;
    source.MemoryFiles = &written.MemoryFiles;
    source.Titles = &written.Titles;
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

// The compiled file in place of the target file.
void MakeCompiledHelp(TMP3Collection& collection, const TDatabaseRequest& request, TDatabaseResult& result) {
    TChmPreparer preparer;
    preparer.CheckStop = request.CheckStop;
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
}

}  // namespace

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
    if (request.Output == TOutputKind::WebPages) {
        std::vector<const TAudioInfo*> files;
        for (int i = 0; i < collection.Count(); ++i) files.push_back(&collection.Items(i));
        result.DatabasePath = request.TargetPath;
        MakeWebSite(files, UnreadableFiles(collection), request, result);
    } else {
        MakeCompiledHelp(collection, request, result);
    }
    return result;
}
