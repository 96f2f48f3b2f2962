// The catalogue model as a web site.
#include "output/site/site_catalogue.h"

#include <filesystem>

#include "base/language.h"
#include "base/memory_release.h"
#include "output/site/web_site.h"
#include "pages/contents_tree.h"
#include "pages/data_archive.h"
#include "pages/keywords.h"
#include "platform/special_folders.h"

namespace {

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

}  // namespace

bool WriteCatalogueSite(const TCatalogue& catalogue, const std::string& target, const TSiteRequest& request) {
    const std::string working = GetAppTempFolder();
    TFiles pageFiles;
    pageFiles.CheckExistence = false;
    TChmTree tree(nullptr, &pageFiles);
    LoadKeywordOptions(tree);
    TPageWriter writer(catalogue, CutPageTemplate(TranslatePageText(LoadArchivedTemplate())));
    writer.Covers = CoversConfigured();
    writer.CheckStop = request.CheckStop;
    writer.OnStage = request.OnStage;
    writer.Unreadable = request.Unreadable;
    // The site is built beside the target and renamed onto it: links to the
    // music start from the target.
    writer.PlayLinks.SiteFolder = AbsolutePath(target);
    writer.AlbumPlayer = true;
    writer.ListTitles = request.Search;
    // Thumbnails beyond this wait in the run's folder, from where they are
    // moved into the site anyway.
    writer.HeldThumbnailBytes = std::size_t{8} << 20;
    const TWrittenPages written = writer.Write(working, tree);
    ReleaseFreedMemory();

    TSiteSource source;
    source.WorkingFolder = working;
    source.Files = &pageFiles;
    source.Tree = &tree;
    source.MemoryFiles = &written.MemoryFiles;
    source.Titles = &written.Titles;
    source.Title = Translate("Music catalogue");
    source.Search = request.Search;
    // The run's folder is removed when the stage ends.
    source.MoveFiles = true;
    source.OnProgress = request.OnProgress;
    return WriteWebSite(source, target);
}
