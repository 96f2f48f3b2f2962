#pragma once
// The page generator: turns a collection into the catalogue. Groups the files
// by artist, album, year and genre, writes an index page per grouping and a
// page per group from the template in the `data` archive, registers them with
// the help project, compiles it and puts the compiled file in place.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chm/build_run.h"
#include "chm/chm_compiler.h"
#include "services/shared_functions.h"

class TAudioInfo;
class TCustomStrFinder;
class TMP3Collection;

// The pieces cut out of a page template.
struct TPageTemplates {
    std::string Page;   // head + "$Item" + tail
    std::string Group;  // one row of an index page
    std::string Item;   // one row of a group page
};
// Cuts the template at its item and group markers; missing markers leave
// empty or shortened parts, never an error.
TPageTemplates CutPageTemplate(std::string_view text);

// Text with its "$Name" placeholders (letter case ignored) replaced in one
// pass: where several placeholders match at one place, the earlier in the
// list wins, and inserted values are never scanned again, so a title that
// reads "$Time" stays as it is.
using TPlaceholders = std::vector<std::pair<std::string_view, std::string_view>>;
std::string FillPlaceholders(std::string_view text, const TPlaceholders& values);

// Texts of the archive's pages between these markers go through Translate,
// keyed by the text with its runs of blanks and line breaks made one space.
inline constexpr const char* kPageTextBegin = "<!--T-->";
inline constexpr const char* kPageTextEnd = "<!--/T-->";
std::string TranslatePageText(std::string_view html);
std::string PageTextKey(std::string_view text);

// Name of a group's page: prefix + "-" + the MD5 of the name in hex + ".htm".
std::string GroupPageName(std::string_view prefix, std::string_view name);

// The year a file is grouped under: the leading whole number of the year
// text ("1999-05-01" gives 1999), 0 when it does not start with one.
int LeadingYear(std::string_view text);

// "Hard disk (...)" names the mount point that holds a file. Mount points
// are taken from /proc/self/mounts once; the longest that contains the file
// wins ("/" when nothing else does).
class TMountTable {
public:
    TMountTable();  // reads /proc/self/mounts
    explicit TMountTable(std::vector<std::string> mountPoints);
    std::string MountPointOf(std::string_view fileName) const;

private:
    void Normalize();
    std::vector<std::string> points_;  // longest first
};

// The file a database of the given place ends up in: for 1 to 3 the fixed
// name in that folder, for any other value the chosen name itself.
std::string DatabaseDestination(const std::string& outputPath, int placeTo);
// "Session" / "PlaceTo" of the configuration; 1 when missing or not a number.
int ConfiguredPlaceTo();

// Copies source to target through a temporary file in the target's folder
// and a rename, so target is either the old file or the complete new one.
// The folder is created when missing. False with the reason on failure.
bool CopyFileAtomic(const std::string& source, const std::string& target, std::string& error);

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
    TStringList NeedFiles;  // flat copies of the shared files, in archive order
    TCompileProgressEvent OnCompileProgress;
    TStageEvent OnStage;
    // In: the chosen file name; out: where the database was placed.
    std::string OutputPath;
    // Where it goes; unset: "Session" / "PlaceTo" of the configuration.
    std::optional<int> PlaceTo;

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

    // One grouping: its index page, one page per group, the contents entries.
    void WriteGrouping(const std::vector<const TAudioInfo*>& files, TCustomStrFinder& index,
                       const std::string& pluralCaption, const std::string& singularCaption,
                       const std::string& indexPage, const std::string& prefix, int stage);

private:
    bool ForwardCompileProgress(const std::string& status, int percent, const std::string& line);

    std::string workingFolder_;
    std::unique_ptr<TMountTable> mounts_;
    // Page of the artists group of files without an artist.
    std::string unknownArtistPage_;
    bool placed_ = false;
    std::string failureReason_;
};
