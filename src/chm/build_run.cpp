#include "chm/build_run.h"

#include <algorithm>

#include "base/run_folder.h"
#include "chm/chm_preparer.h"
#include "collection/collection.h"
#include "base/language.h"

namespace {

// How many of the compiler's last lines a failure report shows.
constexpr std::size_t kCompilerLinesShown = 12;

}  // namespace

std::string CheckBeforeRun() {
    try {
        LoadArchivedTemplate();
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
