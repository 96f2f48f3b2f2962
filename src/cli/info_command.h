#pragma once
// `orvalis info`: shows the tags and stream values read from audio files.
#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

struct TInfoOptions {
    bool Json = false;               // --json
    std::vector<std::string> Files;  // the audio files, as given
};

// Declares the command's options and files on command, filling options.
void AddInfoOptions(CLI::App& command, TInfoOptions& options);

// `orvalis info [--json] FILE...`: shows what the program reads from each
// audio file. Returns the exit status: 0 when every file could be read, 1 when
// one could not, 2 when no file is named or the configuration cannot be opened.
int RunInfoCommand(const TInfoOptions& options, std::ostream& out, std::ostream& err);
