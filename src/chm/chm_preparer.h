#pragma once
// The page generator: turns a collection into the catalogue. Groups the files
// by artist, album, year and genre, writes an index page per grouping and a
// page per group from the template in the `data` archive, registers them with
// the help project, compiles it and puts the compiled file in place.
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/shared_functions.h"
#include "chm/build_run.h"
#include "chm/chm_compiler.h"
#include "chm/disk_names.h"
#include "chm/page_template.h"
#include "chm/web_site.h"

// The data archive beside the program is missing, unreadable or incomplete.
ORVALIS_DECLARE_ERROR(EDataArchiveError, Exception);

// "template.html" of the data archive; raises EDataArchiveError naming the
// archive and the cause.
std::string LoadArchivedTemplate();
// Reads every member of the data archive, so a damaged or unsafe one is
// refused before a run starts; raises EDataArchiveError naming the member.
void CheckDataArchive();

class TAudioInfo;
class TParallelLoop;
class TCustomStrFinder;
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

    // Every track with its album page, in album order, for a site's search index.
    std::vector<TSiteTitle> Titles;

    // Album covers on the pages; "Options"/"Covers" = 0 in the configuration
    // turns them off.
    bool Covers = true;

    // Asked, from any thread, in loops that can run long without reporting a
    // stage (finding and reading covers); raises to stop the run.
    std::function<void()> CheckStop;

private:
    struct TGroup;
    struct TAlbum;
    struct TCover;
    struct TCatalogue;
    class TFolderCovers;

    bool ForwardCompileProgress(const std::string& status, int percent, const std::string& line);
    // One grouping: its index page, one page per group, the contents entries.
    void WriteGrouping(TCatalogue& catalogue, int grouping);
    // Album covers: every album's picture found and its thumbnail sizes
    // planned, then the thumbnails made in the background (the loop
    // returned; null without covers). FinishCovers waits for them and hands
    // them to the compiler.
    std::unique_ptr<TParallelLoop> StartCovers(TCatalogue& catalogue);
    void FinishCovers(TCatalogue& catalogue, TParallelLoop* thumbnails);
    // One album's picture and thumbnail sizes; kept counts the picture bytes
    // held in memory.
    TCover PlanCover(const TCatalogue& catalogue, std::size_t album, TFolderCovers& folders,
                     std::atomic<std::size_t>& kept) const;
    static void MakeCoverThumbnails(TCover& cover);
    // Takes a cover whose thumbnails failed out of the pages already written.
    void DropCover(const TCatalogue& catalogue, std::size_t album);
    // The block above an album page's tracks: cover, artist, year, genre,
    // track count, total time.
    std::string AlbumHeading(const TAlbum& album, const TCover& cover, std::size_t tracks) const;

    std::string workingFolder_;
    std::unique_ptr<TMountTable> mounts_;
    // Page of the artists group of files without an artist.
    std::string unknownArtistPage_;
    // Artists that have a page, while pages are written.
    const std::set<std::string>* artistNames_ = nullptr;
    // Cover thumbnails written so far, to go into the compiled file.
    std::vector<std::string> coverFiles_;
    bool placed_ = false;
    std::string failureReason_;
};
