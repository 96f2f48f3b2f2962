#pragma once
// The headless front end: `orvalis build` and `orvalis info`.
#include <string>
#include <vector>

// Headless front end. Returns the process exit status.
int RunCli(const std::vector<std::string>& args);
// True when args name something the headless front end handles.
bool IsCliInvocation(const std::vector<std::string>& args);
