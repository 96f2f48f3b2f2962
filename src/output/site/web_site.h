#pragma once
// The catalogue as a folder of web pages for any browser: the pages, covers
// and shared files a run generated, plus a start page with the contents tree
// beside a page frame, a keyword index page and a search index. Everything
// works from file:// without a server and without anything from elsewhere.
// The folder is built beside its destination and renamed into place, so the
// destination is always the old site or the complete new one.
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "output/site/site_folder.h"
#include "pages/page_writer.h"

class TChmTree;
class TFiles;

// The site folder's name in the fixed places (desktop, documents, ...).
inline constexpr const char* kSiteFolderName = "Orvalis";

// What a site is made of.
struct TSiteSource {
    std::string WorkingFolder;  // where the pages were generated
    const TFiles* Files = nullptr;
    const TChmTree* Tree = nullptr;
    // Files held in memory rather than on disk, by full path in the working folder.
    const std::map<std::string, std::string>* MemoryFiles = nullptr;
    const std::vector<TSiteTitle>* Titles = nullptr;
    std::string Title;   // of the start page
    bool Search = true;  // write the search index and show the search box
    // The working folder is thrown away after the site is written, so its
    // files may be moved rather than copied.
    bool MoveFiles = false;
    // Percent of the files written; false stops the run, leaving nothing behind.
    std::function<bool(int percent)> OnProgress;
};

// The page a browser opens for the site in folder.
std::string SiteStartPage(const std::string& folder);
// The site folder of a place ("PlaceTo" value): for 1 to 3 the fixed name in
// that place, for any other value the chosen folder itself.
std::string SiteDestination(const std::string& chosenFolder, int placeTo);

// The bytes of a file of the run: from memoryFiles when held there,
// otherwise from disk (raises EOSError when unreadable).
std::string SiteFileContents(const std::string& path, const std::map<std::string, std::string>* memoryFiles);

// Builds the site in a fresh folder beside target and puts it in place of
// target, which must be missing, empty or a site of ours that holds nothing
// else (SiteReplaceProblem). False when stopped
// by OnProgress: target is then as it was and no temporary folder is left.
// Raises EOSError when the site cannot be written or placed, likewise
// leaving target unchanged.
bool WriteWebSite(const TSiteSource& source, const std::string& target);

// The search folds text as the start page's script does: lower case, no
// accents, a few letters spelled out ("ß" -> "ss"). Both sides must agree,
// since the index is split by the first letters of folded words.
std::string SiteSearchFold(std::string_view text);
// The words of folded text: runs of letters, marks and digits.
std::vector<std::string> SiteSearchWords(std::string_view folded);
// The part of the search index that holds the words starting as word does:
// its first two letters as hexadecimal code points ("61-62"). A part too big
// is split by the third letter ("61-62-63"; letters = 3); a part of one
// letter ("61") holds every row with a word starting with it.
std::string SiteSearchPart(std::string_view word, int letters = 2);
// Row numbers of a search part past which it is split; for tests.
void SetSiteSearchPartRowsForTesting(std::size_t rows);
// Rows of a chunk of the search's lists; for tests.
void SetSiteSearchChunkRowsForTesting(std::size_t rows);

// Groupings with more entries than this are loaded per letter by the start
// page rather than written into it.
void SetSiteInlineTreeLimitForTesting(int entries);
