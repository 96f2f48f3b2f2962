#pragma once
// `orvalis build`: makes a catalogue from music folders without a window.
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "output/destination.h"
#include "platform/help_compiler.h"

namespace CLI {
class App;
}

struct TBuildOptions {
    std::optional<std::string> Out;     // --out FILE
    std::optional<std::string> Html;    // --html DIR: web pages instead of a .chm
    std::optional<int> Place;           // --place, as a "PlaceTo" value (0 custom, 1..3)
    bool Open = false;                  // --open
    bool Force = false;                 // --force
    std::optional<THelpEngine> Engine;  // --compiler native|chmcmd
    bool NoSearch = false;              // --no-search
    std::vector<std::string> Paths;     // folders or files to scan, made absolute
};

// Declares the command's options and paths on command, filling options.
void AddBuildOptions(CLI::App& command, TBuildOptions& options);
// Checks and completes parsed options: paths and --out made absolute, ".chm"
// appended to --out, --out and --html combined only with --place custom. False with the
// reason in problem.
bool CompleteBuildOptions(TBuildOptions& options, std::string& problem);
// Reads the words after "build". False with the reason in problem on bad usage.
bool ParseBuildArgs(const std::vector<std::string>& args, TBuildOptions& options, std::string& problem);

// Interaction with the user; a terminal in the program, stand-ins in tests.
struct TBuildConsole {
    std::istream* In = nullptr;
    std::ostream* Out = nullptr;
    std::ostream* Err = nullptr;
    bool InIsTerminal = false;   // questions may be asked
    bool ErrIsTerminal = false;  // progress may rewrite its line
    int ErrWidth = 80;           // columns of that terminal
};
// The console of this process: standard streams, terminal checks.
TBuildConsole ProcessConsole();

// Runs the command on parsed options. Returns the exit status: 0 the
// database is in place, 1 no database was made (or an unhandled error,
// reported to the error history), 2 bad usage or configuration.
int RunBuildCommand(TBuildOptions options, const TBuildConsole& console);
