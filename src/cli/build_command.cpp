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

#include <CLI/CLI.hpp>

#include "base/interrupt.h"
#include "base/language.h"
#include "base/shared_functions.h"
#include "collection/collection.h"
#include "output/site/web_site.h"
#include "platform/special_folders.h"
#include "report/error_report.h"
#include "report/throw_trace.h"
#include "run/build_run.h"
#include "services/configer.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Absolute, with "." and ".." resolved by name and no trailing "/".
std::string AbsolutePath(const std::string& path) {
    std::string result = std::filesystem::absolute(std::filesystem::path(path)).lexically_normal().string();
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
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

// The sorting bar of the wizard: the scan takes the first share, each page
// step its own after it, moving one point per five pages; compiling begins at 100.
int SortingPercent(const TPageProgress& progress) {
    if (progress.Step >= progress.Steps) return 100;
    const double share = 100.0 / (progress.Steps + 1);
    const double value = (progress.Step + 1) * share + static_cast<double>(progress.Done) / 5.0;
    return std::min(100, static_cast<int>(std::nearbyint(value)));
}

// The kind of catalogue the options ask for.
TOutputKind KindOf(const TBuildOptions& options) {
    return options.Html ? TOutputKind::WebPages : TOutputKind::CompiledHelp;
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

// The wizard's file name, treated as --out would be.
std::string ConfiguredOutputPath() {
    std::string name = AppConfiger() ? AppConfiger()->ReadString("Session", "DBFilename") : std::string();
    if (name.empty()) name = JoinPath(DocumentsFolder(), "orvalis.chm");
    return WithChmExtension(AbsolutePath(name));
}

// The file the run will write, or the exit status when it must not run:
// 2 for a destination that cannot take a file, 1 when an existing file is kept.
std::optional<int> CheckDestination(const TBuildOptions& options, const TBuildConsole& console,
                                    TDestination& destination) {
    std::ostream& err = *console.Err;
    const TOutputKindRow& kind = OutputKindRowOf(KindOf(options));
    if (options.Html)
        destination = kind.Resolve(*options.Html, 0, options.Paths);
    else if (options.Out)
        destination = kind.Resolve(*options.Out, 0, options.Paths);
    else
        destination = kind.Resolve(ConfiguredOutputPath(), options.Place ? *options.Place : ConfiguredPlaceTo(),
                                   options.Paths);
    if (destination.State == TDestinationState::Refused || destination.State == TDestinationState::Unwritable) {
        err << "orvalis build: " << destination.Problem << "\n";
        return 2;
    }
    if (destination.State == TDestinationState::ExistingFile && !options.Force) {
        if (!console.InIsTerminal) {
            err << "orvalis build: "
                << Translate("\"$1\" already exists; use --force to overwrite it", Params({destination.Path})) << "\n";
            return 1;
        }
        if (!AskYesNo(console, kind.OverwriteQuestion(destination.Path))) {
            err << "orvalis build: " << Translate("the existing database was kept; no database was made") << "\n";
            return 1;
        }
    }
    return std::nullopt;
}

void ScanMusic(TMP3Collection& collection, const TBuildOptions& options, TProgressReporter& progress) {
    const TOutputKindRow& kind = OutputKindRowOf(KindOf(options));
    RunSearchStage(collection, options.Paths, [&](const std::string& path, bool& cancel) {
        cancel = InterruptRequested();
        kind.Prepare(collection.Count());
        const std::string text =
            Translate("Scanning: $1 audio files found", Params({std::to_string(collection.Count())}));
        progress.Occasional(text + " - " + path);
    });
    progress.Finish();
    ThrowIfInterrupted();
    progress.Line(Translate("Found $1 audio files.", Params({std::to_string(collection.Count())})));
}

// What the scan could not read, named at the end of the run.
void ReportUnreadable(const TMP3Collection& collection, const TBuildConsole& console) {
    constexpr std::size_t kNamed = 5;
    const auto& problems = collection.Problems();
    if (problems.empty()) return;
    std::ostream& err = *console.Err;
    err << Translate("$1 files could not be read", Params({std::to_string(problems.size())})) << ":\n";
    for (std::size_t i = 0; i < problems.size() && i < kNamed; ++i)
        err << "  " << problems[i].Path << ": " << problems[i].Reason << "\n";
    if (problems.size() > kNamed)
        err << "  " << Translate("and $1 more", Params({std::to_string(problems.size() - kNamed)})) << "\n";
}

// Pages and compilation, with their progress on stderr.
TDatabaseResult MakeDatabase(TMP3Collection& collection, const std::string& target, const TBuildOptions& options,
                             const TBuildConsole& console, TProgressReporter& progress) {
    int lastSorting = -1;
    int lastStep = -1;
    int lastCompile = -1;
    TDatabaseRequest request;
    const TOutputKindRow& kind = OutputKindRowOf(KindOf(options));
    request.Output = kind.Kind;
    request.TargetPath = target;
    request.Engine = options.Engine;
    if (options.NoSearch) request.FullTextSearch = false;
    request.CheckStop = ThrowIfInterrupted;
    request.OnStage = [&](const TPageProgress& pages) {
        ThrowIfInterrupted();
        const int percent = SortingPercent(pages);
        if (percent == lastSorting) return;
        lastSorting = percent;
        const std::string text = Translate("Sorting: $1%", Params({std::to_string(percent)}));
        if (pages.Step >= pages.Steps) {
            progress.Line(text);
        } else if (console.ErrIsTerminal) {
            progress.Status(text);
        } else if (pages.Step != lastStep) {
            progress.Line(text);
        }
        lastStep = pages.Step;
    };
    request.OnCompileProgress = [&](const std::string& status, int percent, const std::string&) {
        if (InterruptRequested()) return false;
        if (status.empty()) return true;
        percent = std::clamp(percent, 0, 100);
        const std::string text = Translate(kind.ProgressText, Params({std::to_string(percent)}));
        if (console.ErrIsTerminal) {
            progress.Status(text);
        } else if (lastCompile < 0 || percent / 25 != lastCompile / 25) {
            progress.Line(text);
        }
        lastCompile = percent;
        return true;
    };
    TDatabaseResult result = RunDatabaseStage(collection, request);
    ThrowIfInterrupted();
    // The compiler may report its progress in few lines; say when it is complete.
    if (result.Done && lastCompile < 100) progress.Line(Translate(kind.ProgressText, Params({"100"})));
    progress.Finish();
    return result;
}

int ReportOutcome(const TDatabaseResult& result, const TBuildOptions& options, const TBuildConsole& console) {
    std::ostream& err = *console.Err;
    if (!result.Done) {
        err << "orvalis build: " << Translate("no database was made") << ": " << result.Message << "\n";
        if (!result.CompilerLines.empty()) {
            err << Translate("The help compiler's last messages:") << "\n";
            for (const std::string& line : result.CompilerLines) err << "  " << line << "\n";
        }
        return 1;
    }
    *console.Out << result.DatabasePath << "\n" << std::flush;
    if (options.Open) OpenWithDesktop(OutputKindRowOf(KindOf(options)).StartPage(result.DatabasePath), console);
    return 0;
}

// Without --out, --html or --compiler, the kind of catalogue chosen last in
// the wizard applies, as its place does.
TBuildOptions WithSessionOutput(TBuildOptions options) {
    if (!options.Out && !options.Html && !options.Engine && ConfiguredOutputKind() == TOutputKind::WebPages)
        options.Html = SiteDestination(ConfiguredSiteFolder(), options.Place ? *options.Place : ConfiguredPlaceTo());
    return options;
}

int Build(const TBuildOptions& given, const TBuildConsole& console, TProgressReporter& progress) {
    if (const std::string problem = CheckBeforeRun(); !problem.empty()) {
        *console.Err << "orvalis build: " << problem << "\n";
        return 2;
    }
    const TBuildOptions options = WithSessionOutput(given);
    TDestination destination;
    if (const std::optional<int> refused = CheckDestination(options, console, destination)) return *refused;
    TMP3Collection collection;
    try {
        ScanMusic(collection, options, progress);
        const int status =
            ReportOutcome(MakeDatabase(collection, destination.Path, options, console, progress), options, console);
        ReportUnreadable(collection, console);
        return status;
    } catch (const EInterrupted&) {
        progress.Finish();
        ReportUnreadable(collection, console);
        throw;
    }
}

}  // namespace

void AddBuildOptions(CLI::App& command, TBuildOptions& options) {
    command.add_option("--out", options.Out, "write the catalogue as FILE (\".chm\" is added when missing)")
        ->type_name("FILE");
    CLI::Option* html =
        command.add_option("--html", options.Html, "write the catalogue as web pages into the folder DIR")
            ->type_name("DIR");
    html->excludes("--out");
    command
        .add_option_function<std::string>(
            "--place",
            [&options](const std::string& value) {
                static const std::pair<const char*, int> kPlaces[] = {
                    {"custom", 0}, {"desktop", 1}, {"documents", 2}, {"quicklaunch", 3}};
                for (const auto& [name, place] : kPlaces)
                    if (value == name) options.Place = place;
            },
            "where the catalogue goes")
        ->check(CLI::IsMember({"desktop", "documents", "quicklaunch", "custom"}))
        ->type_name("PLACE");
    command.add_flag("--open", options.Open, "open the catalogue when it is ready");
    command.add_flag("--force", options.Force, "replace an existing catalogue without asking");
    command
        .add_option_function<std::string>(
            "--compiler",
            [&options](const std::string& value) {
                options.Engine = value == "chmcmd" ? THelpEngine::Chmcmd : THelpEngine::Native;
            },
            "the help compiler: our own (native, the default) or chmcmd")
        ->check(CLI::IsMember({"native", "chmcmd"}))
        ->type_name("ENGINE")
        ->excludes(html);
    command.add_flag("--no-search", options.NoSearch,
                     "leave the full-text search out of the catalogue (with --html: the search box and its index)");
    command.add_option("PATH", options.Paths, "folders or files to scan")->required();
}

bool CompleteBuildOptions(TBuildOptions& options, std::string& problem) {
    problem.clear();
    for (std::string& path : options.Paths) {
        if (path.empty()) {
            problem = Translate("an empty path was given");
            return false;
        }
        path = AbsolutePath(path);
    }
    if (options.Out) {
        if (options.Out->empty()) {
            problem = Translate("--out needs a file name");
            return false;
        }
        const std::string out = AbsolutePath(*options.Out);
        // A folder is no file name: "--out /tmp" must not write "/tmp.chm".
        if (DirectoryExists(out)) {
            problem = Translate("\"$1\" is a folder; choose another file name", Params({out}));
            return false;
        }
        options.Out = WithChmExtension(out);
    }
    if (options.Html) {
        if (options.Out || options.Engine) {
            problem = Translate("--html cannot be combined with --out or --compiler");
            return false;
        }
        if (options.Html->empty()) {
            problem = Translate("--html needs a folder");
            return false;
        }
        options.Html = AbsolutePath(*options.Html);
        if (*options.Html == "/") {
            problem = Translate("--html needs a folder of its own, not \"/\"");
            return false;
        }
        if (options.Place && *options.Place != 0) {
            problem =
                Translate("--html names a folder of its own; it cannot be combined with --place other than custom");
            return false;
        }
    }
    if (options.Out && options.Place && *options.Place != 0) {
        problem = Translate("--out names a file of its own; it cannot be combined with --place other than custom");
        return false;
    }
    return true;
}

bool ParseBuildArgs(const std::vector<std::string>& args, TBuildOptions& options, std::string& problem) {
    options = TBuildOptions();
    CLI::App command("make a catalogue without a window", "build");
    AddBuildOptions(command, options);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        command.parse(reversed);
    } catch (const CLI::ParseError& e) {
        problem = e.what();
        return false;
    }
    return CompleteBuildOptions(options, problem);
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

namespace {

// Everything after the configuration is open, so every message speaks the
// user's language.
int RunConfigured(TBuildOptions options, const TBuildConsole& console) {
    std::ostream& err = *console.Err;
    std::string problem;
    if (!CompleteBuildOptions(options, problem)) {
        err << "orvalis build: " << problem << "\n";
        return 2;
    }
    for (const std::string& path : options.Paths) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            err << "orvalis build: " << Translate("\"$1\" does not exist", Params({path})) << "\n";
            return 2;
        }
    }
    TProgressReporter progress(console);
    InstallInterruptHandlers();
    try {
        return Build(options, console, progress);
    } catch (const EInterrupted& e) {
        progress.Finish();
        err << "orvalis build: " << e.Message() << " " << Translate("Nothing was changed.") << "\n";
        return InterruptExitStatus();
    } catch (...) {
        progress.Finish();
        return ReportUnhandledErrorHeadless(std::current_exception());
    }
}

}  // namespace

int RunBuildCommand(TBuildOptions options, const TBuildConsole& console) {
    std::ostream& err = *console.Err;
    // Reports of unhandled errors show where they were raised.
    SetThrowTraceCapture(true);
    std::string configError;
    if (!OpenAppConfiger(configError)) {
        err << "orvalis: " << configError << "\n";
        return 2;
    }
    const int status = RunConfigured(std::move(options), console);
    try {
        CloseAppConfiger();
    } catch (const std::exception& e) {
        err << "orvalis: " << e.what() << "\n";
    }
    return status;
}
