#pragma once
// The compiled catalogue: has the page writer write the pages of the grouped
// collection, registers them with the help project, compiles it and puts the
// compiled file in place.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/shared_functions.h"
#include "output/chm/chm_compiler.h"
#include "pages/data_archive.h"
#include "pages/page_writer.h"

class TAudioInfo;
class TMP3Collection;

class TChmPreparer {
public:
    // Loads the template from the `data` archive beside the executable (a
    // missing archive or template raises) and sets up the help project.
    TChmPreparer();
    // Removes the working folder with everything in it.
    ~TChmPreparer();
    TChmPreparer(const TChmPreparer&) = delete;
    TChmPreparer& operator=(const TChmPreparer&) = delete;

    std::unique_ptr<TChmCompiler> Compiler;
    std::string PageTemplate;
    std::string GroupTemplate;
    std::string ItemTemplate;
    std::string SectionTemplate;  // album heading row of artist pages; may be empty
    TStringList NeedFiles;        // flat copies of the shared files, in archive order
    TCompileProgressEvent OnCompileProgress;
    TStageEvent OnStage;
    // The file the catalogue is placed as, resolved before the run.
    std::string OutputPath;
    // Whether the catalogue gets full-text search; unset: the configuration's
    // "Full-text search", and on when it has none.
    std::optional<bool> FullTextSearch;
    // The files the scan could not read, for the health page; Run(collection) sets it.
    std::vector<THealthUnreadable> Unreadable;

    // The outcome of Run: whether the database is in place at OutputPath,
    // and why not otherwise.
    bool Placed() const { return placed_; }
    const std::string& FailureReason() const { return failureReason_; }
    // The compiler's message lines, for a failure report.
    const TStringList& CompilerMessages() const { return Compiler->CompileMessages(); }

    // Reads "template.html" from the archive and cuts it into the three parts.
    void LoadTemplate();
    // Extracts the shared files ("Need\*.*") into folder, flat and with their
    // paths; the flat copies are listed in NeedFiles.
    void ExtractNeedFiles(const std::string& folder);

    // The whole build: pages, compilation, placement. Does nothing when
    // OutputPath is empty.
    void Run(TMP3Collection& collection);
    // The same over records held elsewhere (ids are positions in files).
    void Run(const std::vector<const TAudioInfo*>& files);

    // The first half of Run: shared files, the four groupings and the
    // project settings, ready to compile.
    void GeneratePages(const std::vector<const TAudioInfo*>& files);
    // The second half: compile and place the database.
    void CompileAndPlace();

    // Album covers on the pages; "Options"/"Covers" = 0 in the configuration
    // turns them off.
    bool Covers = true;

    // Asked, from any thread, in loops that can run long without reporting a
    // stage (finding and reading covers); raises to stop the run.
    std::function<void()> CheckStop;

private:
    bool ForwardCompileProgress(const std::string& status, int percent, const std::string& line);
    // The help project's settings: default topic, language, title, search.
    void WriteProjectSettings(const std::vector<const TAudioInfo*>& files);

    bool placed_ = false;
    std::string failureReason_;
};
