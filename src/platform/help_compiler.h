#pragma once
// The help compiler: turns a help project file (.hhp) into a compiled help
// file (.chm) by running chmcmd as a child process.
#include <functional>
#include <string>

// Receives every line the compiler prints (standard output and standard error,
// in the order they arrive, without the line end) and the layer's own
// messages when the compiler cannot run or fails. May throw to stop the
// compilation: the child is then killed and the error passes on.
using THelpMessageCallback = std::function<void(const std::string& line)>;
// Receives each file of the project's "[Files]" section before compiling;
// false stops the compilation before the compiler starts.
using THelpFileCallback = std::function<bool(const std::string& file)>;

// Name of the compiler program, looked up on PATH.
inline constexpr const char* kHelpCompilerProgram = "chmcmd";

// Compiles projectFile (".../B.hhp") into B.chm in the same folder. chmcmd
// needs the output name in the project, so it runs on a copy of the project
// with "Compiled file=B.chm" in its options (the project file itself is left
// unchanged; the copy is removed afterwards). A stale B.chm is deleted first.
// Answers true only when chmcmd exits with status 0 and B.chm exists;
// otherwise false, after a message saying what went wrong. Either callback
// may be empty. No shell is involved.
bool CompileHelpProject(const std::string& projectFile, const THelpMessageCallback& onMessage,
                        const THelpFileCallback& onFile);
