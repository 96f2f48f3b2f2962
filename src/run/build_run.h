#pragma once
// One build run, shared by the wizard and the headless front end: the search
// stage scans the chosen paths into the collection, the database stage turns
// the collection into the compiled catalogue and puts it in place.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "output/destination.h"
#include "output/output_kind.h"
#include "pages/page_writer.h"
#include "platform/help_compiler.h"
#include "run/output_kinds.h"

class TMP3Collection;

// Raised for every entry the scan handles; setting cancel stops the scan.
using TFoundEvent = std::function<void(const std::string& path, bool& cancel)>;

// Raised from a stage or compile event to stop the database stage; the run
// then unwinds, its working folder goes and nothing is placed.
ORVALIS_DECLARE_ERROR(ERunCancelled, Exception);

// What can be checked before the scan: the data archive opens and holds the
// page template, and a working folder can be made. Empty text when all is
// well, otherwise one message naming the file and the cause.
std::string CheckBeforeRun();

// Search stage: clears the collection, then scans each path in order (a folder
// with all its subfolders, or a single file). Returns false when cancelled.
bool RunSearchStage(TMP3Collection& collection, const std::vector<std::string>& paths, const TFoundEvent& onFound);

struct TDatabaseRequest {
    TOutputKind Output = TOutputKind::CompiledHelp;
    // The file the catalogue is placed as (ResolveDestination), or for web
    // pages the site folder (ResolveSiteDestination).
    std::string TargetPath;
    std::optional<THelpEngine> Engine;   // unset: the configured help compiler
    std::optional<bool> FullTextSearch;  // unset: as configured, on when the configuration is silent;
                                         // for web pages: false leaves the search index out
    // For web pages, the share of files written arrives here (empty line).
    TStageEvent OnStage;
    TCompileProgressEvent OnCompileProgress;
    // Called from any thread in long loops that report no stage; raises to stop.
    std::function<void()> CheckStop;
};

struct TDatabaseResult {
    bool Done = false;                       // the database is in place at DatabasePath
    std::string DatabasePath;                // where it was placed (or would have been); the site folder
    std::string Message;                     // why there is no database, when !Done
    std::vector<std::string> CompilerLines;  // the compiler's last lines, for the failure report
};

// Database stage: does nothing (Done false, a message saying so) for an empty
// collection; otherwise generates, compiles and places the database.
// Errors of the run (missing data archive, unwritable page) propagate as exceptions.
TDatabaseResult RunDatabaseStage(TMP3Collection& collection, const TDatabaseRequest& request);

// Readies the compiled file's writer while the scan runs: its romanizing
// rules, once the collection is large enough that they would otherwise be
// waited for; a small one is done before they would be.
void PrepareCompiledHelp(int tracksFound);
// The writers of the output kinds (OutputKinds), called inside the run's folder.
// The compiled file in place of the target file.
void MakeCompiledHelp(TMP3Collection& collection, const TDatabaseRequest& request, TDatabaseResult& result);
// A web site in place of the target folder, written from the catalogue and
// its pages alone.
void MakeWebSite(TMP3Collection& collection, const TDatabaseRequest& request, TDatabaseResult& result);
