// The search and database stages shared by the wizard and the headless command.
#include "run/build_run.h"

#include <algorithm>
#include <filesystem>

#include "audio/audio_info.h"
#include "base/language.h"
#include "base/run_folder.h"
#include "base/shared_functions.h"
#include "chmwriter/chm_text.h"
#include "collection/collection.h"
#include "output/chm/chm_preparer.h"
#include "output/site/site_catalogue.h"

namespace {

// How many of the compiler's last lines a failure report shows.
constexpr std::size_t kCompilerLinesShown = 12;

}  // namespace

void MakeWebSite(TMP3Collection& collection, const TDatabaseRequest& request, TDatabaseResult& result) {
    result.DatabasePath = request.TargetPath;
    std::vector<const TAudioInfo*> files;
    for (int i = 0; i < collection.Count(); ++i) files.push_back(&collection.Items(i));
    TSiteRequest site;
    site.Search = request.FullTextSearch.value_or(true);
    site.OnStage = request.OnStage;
    site.CheckStop = request.CheckStop;
    site.Unreadable = UnreadableFiles(collection);
    bool stopped = false;
    const std::string status = Translate("Writing the web pages");
    site.OnProgress = [&](int percent) {
        if (request.OnCompileProgress && !request.OnCompileProgress(status, percent, std::string())) stopped = true;
        return !stopped;
    };
    try {
        result.Done = WriteCatalogueSite(TCatalogue(files), request.TargetPath, site);
    } catch (const EOSError& e) {
        result.Message = e.Message();
        return;
    }
    if (!result.Done) result.Message = Translate("The run was cancelled.");
}

void PrepareCompiledHelp(int tracksFound) {
    constexpr int kWorthPreparing = 2000;
    if (tracksFound >= kWorthPreparing) PrepareRomanizer();
}

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
    OutputKindRowOf(request.Output).Make(collection, request, result);
    return result;
}
