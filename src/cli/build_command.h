#pragma once
// `orvalis build`: makes a catalogue from music folders without a window.
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct TBuildOptions {
    std::optional<std::string> Out;  // --out FILE
    std::optional<int> Place;        // --place, as a "PlaceTo" value (0 custom, 1..3)
    bool Open = false;               // --open
    bool Force = false;              // --force
    std::vector<std::string> Paths;  // folders or files to scan, made absolute
};

// Reads the words after "build". False with the reason in problem on bad usage.
bool ParseBuildArgs(const std::vector<std::string>& args, TBuildOptions& options, std::string& problem);

// The chosen file name with ".chm" appended unless its extension already is
// ".chm" in any letter case.
std::string WithChmExtension(const std::string& fileName);

// The question asked before a run replaces an existing database; the wizard
// asks it in the same words.
std::string OverwriteQuestion(const std::string& fileName);

// Usage lines of the command, for the program's help.
extern const char* const kBuildUsage;

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

// Runs the command on the words after "build". Returns the exit status:
// 0 the database is in place, 1 no database was made (or an unhandled error,
// reported to the error history), 2 bad usage or configuration.
int RunBuildCommand(const std::vector<std::string>& args, const TBuildConsole& console);
