#include <cstdio>
#include <string>
#include <vector>

#include "base/memory_release.h"
#include "cli/cli_main.h"

// The program built without the wizard: only the commands.
int main(int argc, char** argv) {
    ReturnLargeBuffersToSystem();
    std::vector<std::string> args(argv, argv + argc);
    if (IsCliInvocation(args)) return RunCli(args);
    std::fprintf(stderr, "This build of orvalis has no wizard; see \"orvalis --help\" for the commands.\n");
    return 2;
}
