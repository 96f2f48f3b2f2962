#pragma once
// One help project (contents tree, file set, settings) and its compilation
// into a .chm file: writes the project, contents and index files and the
// project store into the project root and runs the help compiler on them.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/exceptions.h"
#include "base/spill_store.h"
#include "output/chm/chm_ini.h"
#include "output/output_kind.h"
#include "pages/contents_tree.h"
#include "platform/help_compiler.h"

// Stops a compilation from inside the compiler's message handling.
ORVALIS_DECLARE_ERROR(ECompilationBreak, Exception);

// Base name of the project files for a compilation started at the given
// time of day: "temp" + the fraction of the day times 1000000, rounded
// (12:00 gives "temp500000").
std::string CompileBaseName(long long millisecondsOfDay);

// The engine "Options" / "HelpCompiler" of the configuration names:
// "chmcmd", otherwise our own.
THelpEngine ConfiguredHelpEngine();

class TChmCompiler : public TChmProjectHost {
public:
    // An empty project; the project store is written and the working folder
    // emptied on Compile unless switched off.
    TChmCompiler();
    // Removes the working folder with everything in it.
    ~TChmCompiler() override;

    TChmCompiler(const TChmCompiler&) = delete;
    TChmCompiler& operator=(const TChmCompiler&) = delete;

    int ProgressCount = 0;           // compiler messages of the current compilation
    int ProgressTotal = 0;           // files in the set when compilation started
    std::string RootFolder;          // project root of the last Compile
    bool StoreProject = true;        // write "self.chmprj" and compile it in
    bool ClearWorkingFolder = true;  // empty the working folder when Compile starts
    bool Modified = false;           // changed since last stored
    bool CompileFailed = false;      // the compiler reported the last compilation as failed
    // Pages are handed over in memory, in the compiled file's code page, up
    // to this many bytes; the rest are written over the originals. The page
    // writer holds as many.
    std::size_t HeldPageBytes = std::size_t{32} << 20;

    std::unique_ptr<TFiles> Files;
    // Files of the set that exist only in memory (full name as in Files, and
    // the bytes): generated pages and pictures need no trip through the disk.
    // Held pages are UTF-8 until compiled. Let go once a compilation has read them.
    std::map<std::string, std::string> MemoryFiles;
    // Files of the set kept in one spill file rather than in files of their
    // own (full name as in Files); pages among them are UTF-8 until compiled.
    std::unique_ptr<TSpillStore> Spilled;
    std::unique_ptr<TChmTree> Tree;
    std::unique_ptr<TChmIni> Ini;

    // Phase titles (empty status, percent 0), every compiler message and,
    // with the native engine, the share of bytes compressed. A false answer
    // stops the compilation: nothing is handed on.
    TCompileProgressEvent OnCompileProgress;
    // The engine; unset: "Options" / "HelpCompiler" of the configuration
    // ("chmcmd", otherwise our own).
    std::optional<THelpEngine> Engine;

    // Starts an empty project: new file set, tree and settings (copied from
    // section "Options" of the configuration), keyword options applied.
    void Reset();
    // Compiles the project. chmFileName receives the full name of the
    // compiled file, or empty text when there is none (no root folder,
    // compiler missing or failed, compilation stopped). Errors while writing
    // the project files propagate.
    void Compile(std::string& chmFileName);
    // Writes the project store (contents, keywords, linked files, the help
    // project options) as a short-form XML configuration file.
    void SaveProject(const std::string& fileName);

    // The compiler's message lines of the last compilation (trimmed, non-empty),
    // including why it failed; for the failure report.
    const TStringList& CompileMessages() const { return compileMessages_; }

    // What the tree and file set need from their project.
    void MarkModified() override { Modified = true; }
    std::string ProjectRootFolder() const override { return RootFolder; }
    bool HasCompileProgress() const override { return static_cast<bool>(OnCompileProgress); }
    bool ReportCompileProgress(const std::string& status, int percent, const std::string& line) override;

private:
    void PhaseTitle(const std::string& title);
    void CompilerMessage(const std::string& line);
    bool CompressionProgress(double fraction);
    void FreeProject();

    TStringList compileMessages_;
    bool stopRequested_ = false;    // OnCompileProgress answered false
    bool progressByBytes_ = false;  // the engine reports its share of bytes
    int bytePercent_ = 0;
};
