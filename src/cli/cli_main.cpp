#include "cli/cli_main.h"

#include <iostream>

#include "cli/build_command.h"
#include "services/product.h"
#include "cli/info_command.h"

namespace {


const char* kUsage =
    "Usage:\n"
    "  orvalis                 start the wizard (needs a display)\n"
    "  orvalis --help          show this help\n"
    "  orvalis --version       show the version\n"
    "  orvalis info [--json] FILE...\n"
    "                          show the tags and stream values read from audio files\n";

void PrintUsage(std::ostream& out) { out << kUsage << kBuildUsage; }

}  // namespace

bool IsCliInvocation(const std::vector<std::string>& args) { return args.size() > 1; }

int RunCli(const std::vector<std::string>& args) {
    const std::string& command = args.at(1);
    if (command == "--help" || command == "-h") {
        PrintUsage(std::cout);
        return 0;
    }
    if (command == "--version") {
        std::cout << "orvalis " << kProgramVersion << "\n";
        return 0;
    }
    if (command == "build") {
        return RunBuildCommand(std::vector<std::string>(args.begin() + 2, args.end()), ProcessConsole());
    }
    if (command == "info") {
        return RunInfoCommand(std::vector<std::string>(args.begin() + 2, args.end()), std::cout, std::cerr);
    }
    std::cerr << "orvalis: unknown argument \"" << command << "\"\n";
    PrintUsage(std::cerr);
    return 2;
}
