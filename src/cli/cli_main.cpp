#include "cli/cli_main.h"

#include <cstdio>
#include <iostream>

namespace {

constexpr const char* kVersion = "1.0.2";

const char* kUsage =
    "Usage:\n"
    "  orvalis                 start the wizard (needs a display)\n"
    "  orvalis --help          show this help\n"
    "  orvalis --version       show the version\n";

}  // namespace

void PrintUsage(bool toStderr) { (toStderr ? std::cerr : std::cout) << kUsage; }

bool IsCliInvocation(const std::vector<std::string>& args) { return args.size() > 1; }

int RunCli(const std::vector<std::string>& args) {
    const std::string& command = args.at(1);
    if (command == "--help" || command == "-h") {
        PrintUsage(false);
        return 0;
    }
    if (command == "--version") {
        std::cout << "orvalis " << kVersion << "\n";
        return 0;
    }
    std::cerr << "orvalis: unknown argument \"" << command << "\"\n";
    PrintUsage(true);
    return 2;
}
