#pragma once
#include <iosfwd>
#include <string>
#include <vector>

// `orvalis info [--json] FILE...`: shows what the program reads from each
// audio file. args are the words after "info". Returns the exit status:
// 0 when every file could be read, 1 when one could not, 2 on bad usage or
// a configuration that cannot be opened.
int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
