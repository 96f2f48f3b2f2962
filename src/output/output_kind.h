#pragma once
// The kinds of catalogue a run can make, and the progress every kind reports
// while it writes.
#include <functional>
#include <string>

// What the database stage makes of the pages.
enum class TOutputKind {
    CompiledHelp,  // one .chm file
    WebPages,      // a folder of web pages for any browser
};

// Writing progress (compiler messages, or the share of files written);
// returns whether to go on.
using TCompileProgressEvent = std::function<bool(const std::string& status, int percent, const std::string& line)>;
