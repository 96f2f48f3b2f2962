#include "app/build_runner.h"

TBuildRunner SharedBuildRunner() {
    TBuildRunner runner;
    runner.Check = [] { return ::CheckBeforeRun(); };
    runner.Search = [](TMP3Collection& collection, const std::vector<std::string>& paths, const TFoundEvent& onFound) {
        return ::RunSearchStage(collection, paths, onFound);
    };
    runner.Database = [](TMP3Collection& collection, const TDatabaseRequest& request) {
        return ::RunDatabaseStage(collection, request);
    };
    return runner;
}
