#include <string>
#include <vector>

#include "app/wizard_main.h"
#include "base/memory_release.h"
#include "cli/cli_main.h"

int main(int argc, char** argv) {
    ReturnLargeBuffersToSystem();
    std::vector<std::string> args(argv, argv + argc);
    if (IsCliInvocation(args)) return RunCli(args);
    return RunWizard(argc, argv);
}
