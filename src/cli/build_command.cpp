#include "cli/build_command.h"

#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>

#include "chm/build_run.h"
#include "chm/chm_preparer.h"
#include "collection/collection.h"
#include "platform/special_folders.h"
#include "report/error_report.h"
#include "report/throw_trace.h"
#include "services/configer.h"
#include "services/language.h"
#include "services/shared_functions.h"

extern char** environ;

const char* const kBuildUsage =
    "  orvalis build [--out FILE] [--place desktop|documents|quicklaunch|custom] [--open] [--force] PATH...\n"
    "                          make a catalogue of the music below PATH... without a window;\n"
    "                          prints the path of the database\n";

namespace {

using Clock = std::chrono::steady_clock;

// Absolute, with "." and ".." resolved by name and no trailing "/".
std::string AbsolutePath(const std::string& path) {
    std::string result = std::filesystem::absolute(std::filesystem::path(path)).lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& option, std::string& value,
               std::string& problem) {
    const std::string& word = args[i];
    if (word.size() > option.size() && word.compare(0, option.size() + 1, option + "=") == 0) {
        value = word.substr(option.size() + 1);
        return true;
    }
    if (i + 1 >= args.size()) {
        problem = Translate("$1 needs a value", Params({option}));
        return false;
    }
    value = args[++i];
    return true;
}

bool IsOption(const std::string& word, const std::string& option) {
    return word == option || word.rfind(option + "=", 0) == 0;
}

// Number of characters a UTF-8 text takes on the terminal (one column each).
std::size_t Columns(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The last characters of text that fit into width columns, cut at a
// character boundary, with "..." in front when something was cut.
std::string TailToFit(std::string_view text, std::size_t width) {
    if (Columns(text) <= width) return std::string(text);
    if (width <= 3) return std::string(width, '.');
    std::size_t keep = width - 3;
    std::size_t at = text.size();
    while (at > 0 && keep > 0) {
        --at;
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) --keep;
    }
    return "..." + std::string(text.substr(at));
}

// Progress on stderr: one line rewritten in place on a terminal, occasional
// plain lines otherwise.
class TProgressReporter {
public:
    explicit TProgressReporter(const TBuildConsole& console) : console_(console) {}

    // A passing state; on a terminal shown at most every tenth of a second.
    void Status(const std::string& text) {
        if (!console_.ErrIsTerminal) return;
        const Clock::time_point now = Clock::now();
        if (showing_ && now - lastShown_ < std::chrono::milliseconds(100)) return;
        lastShown_ = now;
        Show(text);
    }
    // A state worth a line of its own everywhere.
    void Line(const std::string& text) {
        if (console_.ErrIsTerminal) {
            Show(text);
            Finish();
        } else {
            *console_.Err << text << "\n" << std::flush;
        }
    }
    // A state that a log shows now and then (every few seconds).
    void Occasional(const std::string& text) {
        if (console_.ErrIsTerminal) {
            Status(text);
            return;
        }
        const Clock::time_point now = Clock::now();
        if (now - lastLogged_ < std::chrono::seconds(3)) return;
        lastLogged_ = now;
        *console_.Err << text << "\n" << std::flush;
    }
    // Ends the rewritten line, so the next output starts on a line of its own.
    void Finish() {
        if (!showing_) return;
        *console_.Err << "\n" << std::flush;
        showing_ = false;
    }

private:
    void Show(const std::string& text) {
        const std::size_t width = console_.ErrWidth > 1 ? static_cast<std::size_t>(console_.ErrWidth - 1) : 79;
        *console_.Err << "\r" << TailToFit(text, width) << "\x1b[K" << std::flush;
        showing_ = true;
    }

    const TBuildConsole& console_;
    bool showing_ = false;
    Clock::time_point lastShown_{};
    Clock::time_point lastLogged_ = Clock::now();
};

// The sorting bar of the wizard: each grouping (stages 2 to 5) starts at its
// own fifth and moves one step per five pages; compiling begins at 100.
int SortingPercent(int stage, int progress) {
    if (stage == 0) return 100;
    const double value = (stage - 1) * 20.0 + progress / 5.0;
    return std::min(100, static_cast<int>(std::nearbyint(value)));
}

bool AskYesNo(const TBuildConsole& console, const std::string& question) {
    *console.Err << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(*console.In, answer)) return false;
    answer = LowerCase(Trim(answer));
    return answer == "y" || answer == "yes" || answer == LowerCase(Translate("Yes"));
}

// Hands the database to the desktop's default viewer; the result of the
// viewer does not matter to the run.
void OpenWithDesktop(const std::string& fileName, const TBuildConsole& console) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The database path is the only thing this command prints on stdout.
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string program = "xdg-open";
    std::vector<char*> argv = {program.data(), const_cast<char*>(fileName.c_str()), nullptr};
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        *console.Err << "orvalis build: "
                     << Translate("cannot open \"$1\": xdg-open is not available", Params({fileName})) << "\n";
}

std::string ConfiguredOutputPath() {
    std::string name = AppConfiger() ? AppConfiger()->ReadString("Session", "DBFilename") : std::string();
    if (name.empty()) name = JoinPath(DocumentsFolder(), "orvalis.chm");
    return name;
}

int Build(const TBuildOptions& options, const TBuildConsole& console, TProgressReporter& progress) {
    std::ostream& err = *console.Err;
    int placeTo;
    std::string outputPath;
    if (options.Out) {
        placeTo = 0;
        outputPath = *options.Out;
    } else {
        placeTo = options.Place ? *options.Place : ConfiguredPlaceTo();
        outputPath = ConfiguredOutputPath();
    }
    const std::string destination = DatabaseDestination(outputPath, placeTo);
    if (DirectoryExists(destination)) {
        err << "orvalis build: " << Translate("\"$1\" is a folder; choose a file name with --out", Params({destination}))
            << "\n";
        return 2;
    }
    struct stat st {};
    if (::lstat(destination.c_str(), &st) == 0 && !options.Force) {
        if (!console.InIsTerminal) {
            err << "orvalis build: "
                << Translate("\"$1\" already exists; use --force to overwrite it", Params({destination})) << "\n";
            return 1;
        }
        if (!AskYesNo(console, OverwriteQuestion(destination))) {
            err << "orvalis build: " << Translate("the existing database was kept; no database was made") << "\n";
            return 1;
        }
    }

    TMP3Collection collection;
    RunSearchStage(collection, options.Paths, [&](const std::string& path, bool&) {
        const std::string text = Translate("Scanning: $1 audio files found", Params({std::to_string(collection.Count())}));
        progress.Occasional(text + " - " + path);
    });
    progress.Finish();
    progress.Line(Translate("Found $1 audio files.", Params({std::to_string(collection.Count())})));

    int lastSorting = -1;
    int lastStage = -1;
    int lastCompile = -1;
    TDatabaseRequest request;
    request.OutputPath = outputPath;
    request.PlaceTo = placeTo;
    request.OnStage = [&](int stage, int pages) {
        const int percent = SortingPercent(stage, pages);
        if (percent == lastSorting) return;
        lastSorting = percent;
        const std::string text = Translate("Sorting: $1%", Params({std::to_string(percent)}));
        if (stage == 0) {
            progress.Line(text);
        } else if (console.ErrIsTerminal) {
            progress.Status(text);
        } else if (stage != lastStage) {
            progress.Line(text);
        }
        lastStage = stage;
    };
    request.OnCompileProgress = [&](const std::string& status, int percent, const std::string&) {
        if (status.empty()) return true;
        percent = std::clamp(percent, 0, 100);
        const std::string text = Translate("Compiling: $1%", Params({std::to_string(percent)}));
        if (console.ErrIsTerminal) {
            progress.Status(text);
        } else if (lastCompile < 0 || percent / 25 != lastCompile / 25) {
            progress.Line(text);
        }
        lastCompile = percent;
        return true;
    };
    const TDatabaseResult result = RunDatabaseStage(collection, request);
    // The compiler reports its progress in few lines; say when it is complete.
    if (result.Done && lastCompile < 100) progress.Line(Translate("Compiling: $1%", Params({"100"})));
    progress.Finish();

    if (!result.Done) {
        err << "orvalis build: " << Translate("no database was made") << ": " << result.Message << "\n";
        if (!result.CompilerLines.empty()) {
            err << Translate("The help compiler's last messages:") << "\n";
            for (const std::string& line : result.CompilerLines) err << "  " << line << "\n";
        }
        return 1;
    }
    *console.Out << result.DatabasePath << "\n" << std::flush;
    if (options.Open) OpenWithDesktop(result.DatabasePath, console);
    return 0;
}

}  // namespace

std::string WithChmExtension(const std::string& fileName) {
    return UpperCase(ExtractFileExt(fileName)) == ".CHM" ? fileName : fileName + ".chm";
}

std::string OverwriteQuestion(const std::string& fileName) {
    return Translate("File") + " \"" + fileName + "\" " + Translate("already exists") + "." +
           Translate("Do you want to overwrite it ?");
}

bool ParseBuildArgs(const std::vector<std::string>& args, TBuildOptions& options, std::string& problem) {
    options = TBuildOptions();
    problem.clear();
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        std::string value;
        if (optionsDone || word.empty() || word[0] != '-' || word == "-") {
            if (word.empty()) {
                problem = Translate("an empty path was given");
                return false;
            }
            options.Paths.push_back(AbsolutePath(word));
        } else if (word == "--") {
            optionsDone = true;
        } else if (IsOption(word, "--out")) {
            if (!TakeValue(args, i, "--out", value, problem)) return false;
            if (value.empty()) {
                problem = Translate("--out needs a file name");
                return false;
            }
            options.Out = WithChmExtension(AbsolutePath(value));
        } else if (IsOption(word, "--place")) {
            if (!TakeValue(args, i, "--place", value, problem)) return false;
            if (value == "desktop") options.Place = 1;
            else if (value == "documents") options.Place = 2;
            else if (value == "quicklaunch") options.Place = 3;
            else if (value == "custom") options.Place = 0;
            else {
                problem = Translate("unknown place \"$1\" (desktop, documents, quicklaunch or custom)", Params({value}));
                return false;
            }
        } else if (word == "--open") {
            options.Open = true;
        } else if (word == "--force") {
            options.Force = true;
        } else {
            problem = Translate("unknown option \"$1\"", Params({word}));
            return false;
        }
    }
    if (options.Out && options.Place && *options.Place != 0) {
        problem = Translate("--out names a file of its own; it cannot be combined with --place other than custom");
        return false;
    }
    if (options.Paths.empty()) {
        problem = Translate("no folder to scan was given");
        return false;
    }
    return true;
}

TBuildConsole ProcessConsole() {
    TBuildConsole console;
    console.In = &std::cin;
    console.Out = &std::cout;
    console.Err = &std::cerr;
    console.InIsTerminal = ::isatty(STDIN_FILENO) == 1;
    console.ErrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    winsize size{};
    if (console.ErrIsTerminal && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        console.ErrWidth = size.ws_col;
    return console;
}

int RunBuildCommand(const std::vector<std::string>& args, const TBuildConsole& console) {
    std::ostream& err = *console.Err;
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        *console.Out << "Usage:\n" << kBuildUsage;
        return 0;
    }
    TBuildOptions options;
    std::string problem;
    if (!ParseBuildArgs(args, options, problem)) {
        err << "orvalis build: " << problem << "\nUsage:\n" << kBuildUsage;
        return 2;
    }
    for (const std::string& path : options.Paths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            err << "orvalis build: " << Translate("\"$1\" does not exist", Params({path})) << "\n";
            return 2;
        }
    }

    // Reports of unhandled errors show where they were raised.
    SetThrowTraceCapture(true);
    std::string configError;
    if (!OpenAppConfiger(configError)) {
        err << "orvalis: " << configError << "\n";
        return 2;
    }
    TProgressReporter progress(console);
    int status;
    try {
        status = Build(options, console, progress);
    } catch (...) {
        progress.Finish();
        status = ReportUnhandledErrorHeadless(std::current_exception());
    }
    try {
        CloseAppConfiger();
    } catch (const std::exception& e) {
        err << "orvalis: " << e.what() << "\n";
    }
    return status;
}
