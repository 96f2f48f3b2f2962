#pragma once
// The catalogue's pages: an index page per grouping and a page per group,
// written from the template into a folder, with album covers, the contents
// tree and the keywords. Both kinds of output take their pages from here.
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/shared_functions.h"
#include "catalogue/catalogue.h"
#include "catalogue/health.h"
#include "pages/covers.h"
#include "pages/disk_names.h"
#include "pages/page_template.h"
#include "pages/play_links.h"

class TAudioInfo;
class TChmTree;
class TChmTreeItem;
class TParallelLoop;
class TSpillStore;

// Where the page writer is: step Step of Steps (the groupings, in order),
// Done of its Total pages written. Step == Steps once every page is written.
struct TPageProgress {
    int Step = 0;
    int Steps = 0;
    std::size_t Done = 0;
    std::size_t Total = 0;
};
using TStageEvent = std::function<void(const TPageProgress& progress)>;

// One track for a search index: views of the record's texts and of the
// catalogue's page name, which live as long as the catalogue written; a
// large collection's copies would be tens of MB.
struct TSiteTitle {
    std::string_view Title;
    std::string_view Artist;
    std::string_view AlbumPage;  // the album page that lists it, relative to the working folder
};

// What the page writer made, besides the pages in its folder.
struct TWrittenPages {
    TStringList NeedFiles;                           // flat copies of the shared files
    std::vector<std::string> CoverFiles;             // cover thumbnails, by full path
    std::map<std::string, std::string> MemoryFiles;  // held pages and thumbnails: never written to disk
    std::vector<TSiteTitle> Titles;                  // with ListTitles: every track with its album page, in album order
};

class TPageWriter {
public:
    TPageWriter(const TCatalogue& catalogue, TPageTemplates texts);
    ~TPageWriter();
    TPageWriter(const TPageWriter&) = delete;
    TPageWriter& operator=(const TPageWriter&) = delete;

    bool Covers = true;               // album covers on the pages
    TStageEvent OnStage;              // after each page, and once when all are written
    std::function<void()> CheckStop;  // asked from any thread in long loops; raises to stop
    // Thumbnails are handed over in memory up to this many bytes, the rest in files.
    std::size_t HeldThumbnailBytes = std::size_t{24} << 20;
    // Pages likewise, in the order written; none by default, since a page
    // that goes to its file anyway gains nothing from the wait.
    std::size_t HeldPageBytes = 0;
    // When given, pages and thumbnails beyond those budgets are kept here
    // under their paths instead of in files of their own.
    TSpillStore* Spill = nullptr;
    // How track titles link to their files; each output sets it.
    TPlayLinks PlayLinks;
    // Web folder only: an album player on each album page and a playlist
    // beside it. Viewers of the compiled file have no HTML5 audio.
    bool AlbumPlayer = false;
    // Web folder only: the tracks listed for its search; a large collection's
    // list is tens of MB that the compiled file has no use for.
    bool ListTitles = false;
    // The files the scan could not read, for the health page.
    std::vector<THealthUnreadable> Unreadable;

    // Writes the shared files, every grouping, the statistics and health
    // pages and the covers into folder and enters the pages in tree, whose
    // first level gets one entry per grouping, then the statistics and the
    // health page; the shared files hang on the first and the covers on the second.
    TWrittenPages Write(const std::string& folder, TChmTree& tree);

private:
    void WriteGrouping(TGrouping grouping, TChmTree& tree, TWrittenPages& written);
    std::string GroupRow(TGrouping grouping, std::size_t index, std::string& heading) const;
    std::string ArtistSection(std::size_t album) const;
    std::string TrackRow(TGrouping grouping, std::size_t id, std::size_t row) const;
    std::string AlbumHeading(std::size_t album, std::size_t tracks) const;
    std::string AlbumPlayerHtml(std::size_t album, TChmTreeItem& entry);
    void WriteReports(TChmTree& tree, TWrittenPages& written);
    void SavePage(std::string text, const std::string& page, TWrittenPages& written);
    std::unique_ptr<TParallelLoop> StartCovers();
    void FinishCovers(TParallelLoop* thumbnails, TWrittenPages& written);
    void DropCover(std::size_t album, TWrittenPages& written);

    const TCatalogue& catalogue_;
    TPageTemplates texts_;
    std::string folder_;
    TMountTable mounts_;
    std::vector<TCover> covers_;                  // beside catalogue_.albums
    std::atomic<std::size_t> thumbnailBytes_{0};  // thumbnail bytes held in memory
    std::size_t pageBytes_ = 0;                   // page bytes held in memory
};

// Whether the pages show album covers: on, unless "Options" / "Covers" of
// the configuration is 0.
bool CoversConfigured();
