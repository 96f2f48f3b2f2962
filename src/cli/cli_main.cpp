// Parses the command line once and hands each command its options.
#include "cli/cli_main.h"

#include <iostream>

#include <CLI/CLI.hpp>

#include "base/product.h"
#include "cli/build_command.h"
#include "cli/info_command.h"

namespace {

// One parser for the whole command line, so help, errors and the word
// forms (--opt=value, --opt value) are the same for every command.
struct TCommandLine {
    CLI::App app{
        "Orvalis catalogues a music collection into a compiled help file.\n"
        "Without a command it starts the wizard (needs a display).",
        "orvalis"};
    TBuildOptions build;
    TInfoOptions info;
    CLI::App* buildCommand = nullptr;
    CLI::App* infoCommand = nullptr;

    TCommandLine() {
        app.set_version_flag("--version", std::string("orvalis ") + kProgramVersion);
        app.require_subcommand(0, 1);
        buildCommand = app.add_subcommand(
            "build", "make a catalogue of the music below PATH... without a window; prints its path");
        AddBuildOptions(*buildCommand, build);
        infoCommand = app.add_subcommand("info", "show the tags and stream values read from audio files");
        AddInfoOptions(*infoCommand, info);
    }
};

}  // namespace

bool IsCliInvocation(const std::vector<std::string>& args) { return args.size() > 1; }

int RunCli(const std::vector<std::string>& args) {
    TCommandLine line;
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    try {
        line.app.parse(reversed);
    } catch (const CLI::Success& e) {
        return line.app.exit(e, std::cout, std::cerr);
    } catch (const CLI::ParseError& e) {
        const CLI::App* failed = line.buildCommand->parsed()  ? line.buildCommand
                                 : line.infoCommand->parsed() ? line.infoCommand
                                                              : &line.app;
        std::cerr << "orvalis: " << e.what() << "\n" << failed->help();
        return 2;
    }
    if (line.buildCommand->parsed()) return RunBuildCommand(std::move(line.build), ProcessConsole());
    if (line.infoCommand->parsed()) return RunInfoCommand(line.info, std::cout, std::cerr);
    std::cout << line.app.help();
    return 0;
}
