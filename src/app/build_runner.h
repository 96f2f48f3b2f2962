#pragma once
// The two stages of a build run as the wizard calls them. The wizard takes
// them as functions so it can be driven with stand-ins in tests; the program
// passes the shared build run that the headless front end uses as well.
#include <functional>
#include <string>
#include <vector>

#include "run/build_run.h"

struct TBuildRunner {
    // The checks before a run; empty text when it may start. Unset: no checks.
    std::function<std::string()> Check;
    std::function<bool(TMP3Collection&, const std::vector<std::string>&, const TFoundEvent&)> Search;
    std::function<TDatabaseResult(TMP3Collection&, const TDatabaseRequest&)> Database;
};

// CheckBeforeRun, RunSearchStage and RunDatabaseStage of the shared build run.
TBuildRunner SharedBuildRunner();
