#pragma once
// The help compiler: turns a help project file (.hhp) into a compiled help
// file (.chm) by running chmcmd as a child process.
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "chmwriter/chm_writer.h"

// Receives every line the compiler prints (standard output and standard error,
// in the order they arrive, without the line end) and the layer's own
// messages when the compiler cannot run or fails. May throw to stop the
// compilation: the child is then killed and the error passes on.
using THelpMessageCallback = std::function<void(const std::string& line)>;
// Receives each file of the project's "[Files]" section before compiling;
// false stops the compilation before the compiler starts.
using THelpFileCallback = std::function<bool(const std::string& file)>;

// Receives the share of the work done (0 to 1) while the in-process engine
// compresses; false stops the compilation.
using THelpProgressCallback = std::function<bool(double fraction)>;

// Files of the project held in memory rather than on disk, by their address
// in the project's [Files] list, with their bytes (which stay the caller's).
using THelpMemoryFiles = std::map<std::string, std::string_view>;
// Files of the project the caller keeps elsewhere than its folder, by
// address, read when needed.
using THelpKeptFiles = TChmKeptFiles;

// Which engine compiles: our own writer in process, or chmcmd as a child.
enum class THelpEngine { Native, Chmcmd };

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

// Compiles projectFile into B.chm in the same folder with the chosen engine.
// The native engine reports one message line per phase and per file and its
// progress by bytes compressed; a false answer of onProgress stops it, and
// nothing is left at B.chm. chmcmd reports its own lines and no progress;
// onFile is offered the project's files for chmcmd only. memoryFiles, when
// given, are taken from memory by the native engine and written below the
// project's folder for chmcmd, which reads only from disk; keptFiles likewise.
// onFilesRead is raised once neither reads them any more (for chmcmd: once
// they are written). True only when B.chm is complete.
bool CompileHelpProject(const std::string& projectFile, THelpEngine engine, const THelpMessageCallback& onMessage,
                        const THelpFileCallback& onFile, const THelpProgressCallback& onProgress,
                        const THelpMemoryFiles* memoryFiles = nullptr,
                        const std::function<void()>& onFilesRead = {}, const THelpKeptFiles* keptFiles = nullptr);
