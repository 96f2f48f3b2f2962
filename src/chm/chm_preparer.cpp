#include "chm/chm_preparer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <map>
#include <mutex>
#include <set>
#include <tuple>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sstream>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "chm/collation.h"
#include "chm/destination.h"
#include "chm/thumbnail.h"
#include "base/atomic_file.h"
#include "chm/html_escape.h"
#include "chm/keywords.h"
#include "base/parallel_loop.h"
#include "chm/page_names.h"
#include "chm/title_language.h"
#include "chm/zip_reader.h"
#include "collection/collection.h"
#include "collection/mount_table.h"
#include "collection/string_index.h"
#include "base/exe_dir.h"
#include "platform/special_folders.h"
#include "services/configer.h"
#include "base/language.h"

namespace {

// The album artist of a compilation whose tags name none.
constexpr const char* kVariousArtists = "Various Artists";

// The language whose code page writes the catalogue's titles best: page
// titles are made of these names.
std::string LanguageOfCatalogue(const std::vector<const TAudioInfo*>& files) {
    std::vector<std::string_view> names;
    names.reserve(files.size() * 4);
    for (const TAudioInfo* f : files)
        for (int field : {atArtist, atTitle, atAlbum, atGenre}) names.push_back(f->GetText(field));
    return LanguageForTitles(names);
}

const char* const kChannelTexts[] = {"", Translatable("Stereo"), Translatable("Joint Stereo"),
                                     Translatable("Dual Channel"), Translatable("Mono")};

std::string ChannelText(std::int32_t code) {
    const int low = static_cast<int>(static_cast<std::uint32_t>(code) & 0x7Fu);
    // Codes the readers never produce show nothing rather than a guess.
    return low >= 1 && low < 5 ? Translate(kChannelTexts[low]) : "";
}

std::string PageText(std::string_view text, std::initializer_list<std::string_view> params) {
    return Translate(text, Params(params));
}

// The place of an album on its artist's page: named after the album's page.
std::string AlbumAnchor(const std::string& albumPage) { return albumPage.substr(0, albumPage.rfind('.')); }

bool IsPageFile(const std::string& fileName) {
    const std::string ext = UpperCase(ExtractFileExt(fileName));
    return ext == ".HTML" || ext == ".HTM";
}

std::string ArchiveFileName() { return JoinPath(ExeDir(), "data"); }

struct TGrouping {
    const char* plural;
    const char* singular;
    const char* indexPage;
    const char* prefix;
    int stage;
    int field;
};

const TGrouping kGroupings[] = {
    {Translatable("Artists"), Translatable("Artist"), "artists.htm", "art", 2, atArtist},
    {Translatable("Albums"), Translatable("Album"), "albums.htm", "alb", 3, atAlbum},
    {Translatable("Years"), Translatable("Year"), "years.htm", "year", 4, atYear},
    {Translatable("Genres"), Translatable("Genre"), "genres.htm", "gen", 5, atGenre},
};

}  // namespace

// The catalogue model: every grouping's groups in index order, each group's
// files in page order, and what the album pages show.
struct TChmPreparer::TGroup {
    std::string key;   // what the page name is made of
    std::string name;  // as shown
    std::string page;
    std::string sortKey;
    std::vector<std::size_t> ids;  // files, in page order
    bool unknown = false;          // the group of files without a value
};

struct TChmPreparer::TCover {
    std::string large, small;  // file names in the catalogue; empty when none
    int largeWidth = 0, largeHeight = 0, smallWidth = 0, smallHeight = 0;
    std::string largeBytes, smallBytes;  // the JPEGs, once made
    // The picture they are made from: its bytes while they are kept, and
    // where it was found (the audio file that embeds it, or the image file).
    std::string picture;
    std::string source;
    bool embedded = false;
};

struct TChmPreparer::TAlbum {
    std::string artist;  // album artist, or the one artist of all tracks; empty when mixed
    int year = 0;        // earliest year of its tracks, 0 when none
    std::string genre;   // the commonest genre
    std::int64_t seconds = 0;
    bool severalDiscs = false;
    TCover cover;
};

struct TChmPreparer::TCatalogue {
    explicit TCatalogue(const std::vector<const TAudioInfo*>& f);

    const std::vector<const TAudioInfo*>& files;
    std::string unknown;
    TCollator collator{CollationLocaleFromEnvironment()};
    // Per file.
    std::vector<std::string> artistKey, titleKey;
    std::vector<int> disc, track;
    std::vector<std::size_t> albumOf;  // position in groups[1]
    // groups[0..3]: artists, albums, years, genres.
    std::array<std::vector<TGroup>, 4> groups;
    std::vector<TAlbum> albums;  // beside groups[1]
    std::set<std::string> artistNames;

private:
    void GroupByText(int grouping, int field, const char* prefix);
    void GroupAlbums();
    void GroupYears();
    void SortGroups(int grouping);
};

TChmPreparer::TChmPreparer() {
    LoadTemplate();
    Compiler = std::make_unique<TChmCompiler>();
    // The working folder already holds the pages when compiling starts.
    Compiler->ClearWorkingFolder = false;
    Compiler->Files->CheckExistence = false;
    Compiler->OnCompileProgress = [this](const std::string& status, int percent, const std::string& line) {
        return ForwardCompileProgress(status, percent, line);
    };
}

TChmPreparer::~TChmPreparer() = default;

bool TChmPreparer::ForwardCompileProgress(const std::string& status, int percent, const std::string& line) {
    // Without a listener nobody asks to stop.
    return OnCompileProgress ? OnCompileProgress(status, percent, line) : true;
}

std::string LoadArchivedTemplate() {
    const std::string archive = ArchiveFileName();
    try {
        TKAZip zip;
        zip.Open(archive);
        const int at = zip.IndexOf("template.html");
        if (at < 0)
            throw EDataArchiveError(
                Translate("The data archive \"$1\" holds no page template (\"template.html\").", Params({archive})));
        std::ostringstream text;
        zip.ExtractToStream(zip.Entries().Items(at), text);
        zip.Close();
        return text.str();
    } catch (const EDataArchiveError&) {
        throw;
    } catch (const Exception& e) {
        throw EDataArchiveError(
            Translate("The data archive \"$1\" cannot be read: $2", Params({archive, e.Message()})));
    }
}

void CheckDataArchive() {
    LoadArchivedTemplate();
    const std::string archive = ArchiveFileName();
    TKAZip zip;
    try {
        zip.Open(archive);
    } catch (const Exception& e) {
        throw EDataArchiveError(Translate("The data archive \"$1\" cannot be read: $2", Params({archive, e.Message()})));
    }
    for (const TKAZipEntriesEntry& entry : zip.Entries())
        if (const std::string problem = zip.EntryProblem(entry); !problem.empty())
            throw EDataArchiveError(Translate("The data archive \"$1\" cannot be used: member \"$2\": $3",
                                              Params({archive, entry.FileName, problem})));
}

void TChmPreparer::LoadTemplate() {
    const std::string text = LoadArchivedTemplate();
    // Pages are UTF-8 here; the compiled file takes them in its code page.
    TPageTemplates parts = CutPageTemplate(TranslatePageText(text));
    PageTemplate = std::move(parts.Page);
    GroupTemplate = std::move(parts.Group);
    ItemTemplate = std::move(parts.Item);
    SectionTemplate = std::move(parts.Section);
}

void TChmPreparer::ExtractNeedFiles(const std::string& folder) {
    TKAZip zip;
    zip.Open(ArchiveFileName());
    zip.SelectMatching("Need\\*.*");
    zip.SetOverwriteAction(oaOverwriteAll);
    for (const TKAZipEntriesEntry& entry : zip.Entries()) {
        // A folder has no flat copy; its files come on their own.
        if (!entry.Selected || entry.IsFolder()) continue;
        const std::string target = JoinPath(folder, ExtractFileName(entry.ArchiveName()));
        zip.ExtractToFile(entry, target);
        NeedFiles.push_back(target);
    }
    zip.ExtractSelected(folder);
    zip.Close();
    // The shared pages speak the user's language as the generated ones do.
    for (const std::string& file : NeedFiles)
        if (IsPageFile(file)) SaveTextFile(TranslatePageText(LoadTextFile(file)), file);
}

void TChmPreparer::Run(TMP3Collection& collection) {
    std::vector<const TAudioInfo*> files;
    files.reserve(static_cast<std::size_t>(std::max(collection.Count(), 0)));
    for (int i = 0; i < collection.Count(); ++i) files.push_back(&collection.Items(i));
    Run(files);
}

void TChmPreparer::Run(const std::vector<const TAudioInfo*>& files) {
    placed_ = false;
    failureReason_.clear();
    if (OutputPath.empty()) {
        failureReason_ = Translate("No database file name was given.");
        return;
    }
    GeneratePages(files);
    CompileAndPlace();
}

void TChmPreparer::GeneratePages(const std::vector<const TAudioInfo*>& files) {
    workingFolder_ = GetAppTempFolder();
    ExtractNeedFiles(workingFolder_);
    mounts_ = std::make_unique<TMountTable>();
    if (TConfiger* configer = AppConfiger(); configer && configer->ReadString("Options", "Covers") == "0")
        Covers = false;

    TCatalogue catalogue(files);
    // Files without an artist link to the artists' "Unknown" group; its page
    // is named after the empty text when a real artist is called "Unknown".
    const std::vector<TGroup>& artists = catalogue.groups[0];
    unknownArtistPage_ =
        !artists.empty() && artists.front().unknown ? artists.front().page : GroupPageName("art", catalogue.unknown);
    artistNames_ = &catalogue.artistNames;
    coverFiles_.clear();
    Titles.clear();
    // The thumbnails are made while the pages are written: the pages only
    // need their sizes, which the pictures' headers tell.
    std::unique_ptr<TParallelLoop> thumbnails = StartCovers(catalogue);
    for (int g = 0; g < 4; ++g) WriteGrouping(catalogue, g);
    artistNames_ = nullptr;
    FinishCovers(catalogue, thumbnails.get());

    TChmTreeItem& root = *Compiler->Tree->Root;
    if (root.Count() > 0 && root.Item(0)->FileInfo)
        for (const std::string& need : NeedFiles) root.Item(0)->FileInfo->AddLinked(need);
    if (root.Count() > 1 && root.Item(1)->FileInfo)
        for (const std::string& cover : coverFiles_) root.Item(1)->FileInfo->AddLinked(cover);

    if (OnStage) OnStage(0, 0);
    Compiler->Ini->WriteValue("Options.HHP.Options", "Default topic", "main.html");
    // Viewers refuse a compiled file without a language id, and its code page
    // is the one the compiled file's text is written in: the names decide,
    // unless the configuration chooses.
    TConfiger* configer = AppConfiger();
    if (!configer || configer->ReadString("Options.HHP.Options", "Language").empty())
        Compiler->Ini->WriteValue("Options.HHP.Options", "Language", LanguageOfCatalogue(files));
    // Viewers show the title in their window caption and the search results.
    if (!configer || configer->ReadString("Options.HHP.Options", "Title").empty())
        Compiler->Ini->WriteValue("Options.HHP.Options", "Title", Translate("Music catalogue"));
    if (FullTextSearch)
        Compiler->Ini->WriteValue("Options.HHP.Options", "Full-text search", *FullTextSearch ? "Yes" : "No");
    else if (!configer || configer->ReadString("Options.HHP.Options", "Full-text search").empty())
        Compiler->Ini->WriteValue("Options.HHP.Options", "Full-text search", "Yes");
}

void TChmPreparer::CompileAndPlace() {
    placed_ = false;
    failureReason_.clear();
    std::string compiled;
    Compiler->Compile(compiled);

    if (compiled.empty() || !FileExists(compiled)) {
        failureReason_ = Translate("The help compiler did not produce the database.");
        return;
    }
    // Asked again now: something else may have taken the name during the run.
    if (const std::string problem = FileReplaceProblem(OutputPath); !problem.empty()) {
        failureReason_ = problem;
        return;
    }
    try {
        CopyFileAtomic(compiled, OutputPath);
    } catch (const EOSError& e) {
        failureReason_ = e.what();
        return;
    }
    placed_ = true;
}

namespace {

int SortableNumber(int n) { return n > 0 ? n : INT_MAX; }

std::string FolderNameOf(const std::string& folder) { return ExtractFileName(folder); }

}  // namespace

TChmPreparer::TCatalogue::TCatalogue(const std::vector<const TAudioInfo*>& f)
    : files(f), unknown(Translate("Unknown")) {
    const std::size_t n = files.size();
    artistKey.resize(n);
    titleKey.resize(n);
    disc.resize(n);
    track.resize(n);
    // An artist sorts by the first sort name one of its files gives: "The
    // Beatles" with "Beatles, The" sorts under B.
    std::map<std::string, std::string> sortNames;
    for (const TAudioInfo* a : files)
        if (!a->ArtistSort().empty()) sortNames.emplace(a->GetText(atArtist), a->ArtistSort());
    for (std::size_t i = 0; i < n; ++i) {
        const TAudioInfo& a = *files[i];
        const auto sortName = sortNames.find(a.GetText(atArtist));
        artistKey[i] = collator.SortKey(sortName != sortNames.end() ? sortName->second : a.GetText(atArtist));
        titleKey[i] = collator.SortKey(a.GetText(atTitle));
        disc[i] = SortableNumber(std::atoi(a.Disc().c_str()));
        track[i] = SortableNumber(a.GetTextAsNumber(atTrack));
        if (!a.GetText(atArtist).empty()) artistNames.insert(a.GetText(atArtist));
    }
    GroupByText(0, atArtist, "art");
    GroupAlbums();
    GroupYears();
    GroupByText(3, atGenre, "gen");

    // Album pages: by disc, track number, title.
    for (TGroup& g : groups[1])
        std::stable_sort(g.ids.begin(), g.ids.end(), [&](std::size_t a, std::size_t b) {
            return std::tie(disc[a], track[a], titleKey[a]) < std::tie(disc[b], track[b], titleKey[b]);
        });
    // albumOf is the album's place in the index order.
    // Artist pages: the artist's albums by year, each in album order; files
    // without an album last.
    const auto albumYear = [&](std::size_t id) {
        const std::size_t album = albumOf[id];
        if (groups[1][album].unknown) return INT_MAX;
        return albums[album].year > 0 ? albums[album].year : INT_MAX - 1;
    };
    for (TGroup& g : groups[0])
        std::stable_sort(g.ids.begin(), g.ids.end(), [&](std::size_t a, std::size_t b) {
            return std::make_tuple(albumYear(a), albumOf[a], disc[a], track[a], std::cref(titleKey[a])) <
                   std::make_tuple(albumYear(b), albumOf[b], disc[b], track[b], std::cref(titleKey[b]));
        });
    // Year and genre pages: by artist, album, track.
    for (int grouping : {2, 3})
        for (TGroup& g : groups[static_cast<std::size_t>(grouping)])
            std::stable_sort(g.ids.begin(), g.ids.end(), [&](std::size_t a, std::size_t b) {
                return std::make_tuple(std::cref(artistKey[a]), albumOf[a], disc[a], track[a], std::cref(titleKey[a])) <
                       std::make_tuple(std::cref(artistKey[b]), albumOf[b], disc[b], track[b], std::cref(titleKey[b]));
            });
}

void TChmPreparer::TCatalogue::GroupByText(int grouping, int field, const char* prefix) {
    std::map<std::string, std::vector<std::size_t>> byValue;
    for (std::size_t i = 0; i < files.size(); ++i) byValue[files[i]->GetText(field)].push_back(i);
    // The empty value is shown as "Unknown". When a real group has that very
    // name, the empty one takes the page named after the empty text, so the
    // two never share (and overwrite) one page.
    const bool unknownTaken = byValue.count(unknown) > 0;
    std::vector<TGroup>& out = groups[static_cast<std::size_t>(grouping)];
    for (auto& [value, ids] : byValue) {
        TGroup g;
        g.unknown = value.empty();
        g.key = value;
        g.name = g.unknown ? unknown : value;
        g.page = GroupPageName(prefix, g.unknown && unknownTaken ? std::string_view() : std::string_view(g.name));
        g.ids = std::move(ids);
        out.push_back(std::move(g));
    }
    SortGroups(grouping);
}

void TChmPreparer::TCatalogue::GroupAlbums() {
    // An album is its name with its album artist; without an album artist,
    // its name with the folder that holds it, which keeps a compilation in
    // one folder together.
    std::map<std::string, std::vector<std::size_t>> byKey;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TAudioInfo& a = *files[i];
        const std::string& album = a.GetText(atAlbum);
        const std::string key = AlbumGroupKey(album, a.AlbumArtist(), ExtractFileDir(a.GetText(atFileName)));
        byKey[key].push_back(i);
    }
    std::map<std::string, int> sameName;
    for (const auto& [key, ids] : byKey)
        if (!key.empty()) ++sameName[files[ids.front()]->GetText(atAlbum)];

    std::vector<TGroup>& out = groups[1];
    std::vector<TAlbum> found;
    for (auto& [key, ids] : byKey) {
        TGroup g;
        TAlbum album;
        g.unknown = key.empty();
        g.key = key;
        const TAudioInfo& first = *files[ids.front()];
        std::map<std::string, int> genres;
        bool oneArtist = true;
        int firstDisc = -1;
        for (std::size_t id : ids) {
            const TAudioInfo& a = *files[id];
            oneArtist = oneArtist && a.GetText(atArtist) == first.GetText(atArtist);
            const int year = LeadingYear(a.GetText(atYear));
            if (year > 0 && (album.year == 0 || year < album.year)) album.year = year;
            if (!a.GetText(atGenre).empty()) ++genres[a.GetText(atGenre)];
            album.seconds += a.GetNumber(anPlayingTime);
            if (firstDisc < 0) firstDisc = disc[id];
            album.severalDiscs = album.severalDiscs || disc[id] != firstDisc;
        }
        int most = 0;
        for (const auto& [genre, count] : genres)
            if (count > most) {
                most = count;
                album.genre = genre;
            }
        const bool compilation =
            std::any_of(ids.begin(), ids.end(), [&](std::size_t id) { return files[id]->Compilation(); });
        album.artist = !first.AlbumArtist().empty() ? first.AlbumArtist()
                       : compilation                ? std::string(kVariousArtists)
                       : oneArtist                  ? first.GetText(atArtist)
                                                    : "";
        if (g.unknown) {
            g.name = unknown;
            g.page = GroupPageName("alb", unknown);
        } else {
            g.name = first.GetText(atAlbum);
            g.page = GroupPageName("alb", key);
            // Albums of one name tell who made them.
            if (sameName[g.name] > 1) {
                const std::string who =
                    !album.artist.empty() ? album.artist : FolderNameOf(ExtractFileDir(first.GetText(atFileName)));
                if (!who.empty()) g.name += " (" + who + ")";
            }
        }
        g.ids = std::move(ids);
        out.push_back(std::move(g));
        found.push_back(std::move(album));
    }
    // Sort the groups and their albums together.
    std::vector<std::size_t> order(out.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
        out[i].sortKey = collator.SortKey(out[i].name) + '\0' + out[i].key;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (out[a].unknown != out[b].unknown) return out[a].unknown;
        return out[a].sortKey < out[b].sortKey;
    });
    std::vector<TGroup> sorted;
    for (std::size_t i : order) {
        sorted.push_back(std::move(out[i]));
        albums.push_back(std::move(found[i]));
    }
    out = std::move(sorted);
    albumOf.assign(files.size(), 0);
    for (std::size_t a = 0; a < out.size(); ++a)
        for (std::size_t id : out[a].ids) albumOf[id] = a;
}

void TChmPreparer::TCatalogue::GroupYears() {
    std::map<int, std::vector<std::size_t>> byYear;
    for (std::size_t i = 0; i < files.size(); ++i) byYear[LeadingYear(files[i]->GetText(atYear))].push_back(i);
    // Unknown first, then the years in their order.
    std::vector<std::pair<int, std::vector<std::size_t>>> ordered(byYear.begin(), byYear.end());
    std::stable_partition(ordered.begin(), ordered.end(), [](const auto& y) { return y.first == 0; });
    for (auto& [year, ids] : ordered) {
        TGroup g;
        g.unknown = year == 0;
        g.key = g.unknown ? std::string() : std::to_string(year);
        g.name = g.unknown ? unknown : g.key;
        g.page = GroupPageName("year", g.key);
        g.ids = std::move(ids);
        groups[2].push_back(std::move(g));
    }
}

void TChmPreparer::TCatalogue::SortGroups(int grouping) {
    std::vector<TGroup>& list = groups[static_cast<std::size_t>(grouping)];
    for (TGroup& g : list) g.sortKey = grouping == 0 && !g.ids.empty() ? artistKey[g.ids.front()] : collator.SortKey(g.name);
    std::stable_sort(list.begin(), list.end(), [](const TGroup& a, const TGroup& b) {
        if (a.unknown != b.unknown) return a.unknown;
        return a.sortKey < b.sortKey;
    });
}

namespace {

std::string ImageTag(const std::string& file, int width, int height, const char* cssClass) {
    if (file.empty()) return {};
    return "<img class=\"" + std::string(cssClass) + "\" src=\"" + file + "\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\" alt=\"\">";
}

// Reads an image file of at most kMaxCoverBytes through the bounded reader.
std::string ReadImageFile(const std::string& path) {
    try {
        TBufferedFile file(path);
        if (file.Size() == 0 || file.Size() > kMaxCoverBytes) return {};
        std::string data(static_cast<std::size_t>(file.Size()), '\0');
        if (file.ReadAt(0, data.data(), data.size()) != data.size()) return {};
        return data;
    } catch (const Exception&) {
        return {};
    }
}

constexpr int kLargeCover = 200;
constexpr int kSmallCover = 48;
constexpr std::size_t kCoverTracksTried = 3;

}  // namespace

namespace {

// Pictures kept in memory between finding and thumbnailing; beyond this,
// the few that do not fit are read again.
constexpr std::size_t kKeptPictureBytes = std::size_t{256} << 20;

}  // namespace

// The picture of each folder, found with one listing per folder however many
// albums share it (a folder of thousands of loose tracks holds many albums).
class TChmPreparer::TFolderCovers {
public:
    std::string Find(const std::string& folder) {
        TEntry* entry;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            std::unique_ptr<TEntry>& slot = entries_[folder];
            if (!slot) slot = std::make_unique<TEntry>();
            entry = slot.get();
        }
        std::call_once(entry->once, [&] { entry->cover = FolderCoverFile(folder); });
        return entry->cover;
    }

private:
    struct TEntry {
        std::once_flag once;
        std::string cover;
    };
    std::mutex mutex_;
    std::map<std::string, std::unique_ptr<TEntry>> entries_;
};

TChmPreparer::TCover TChmPreparer::PlanCover(const TCatalogue& catalogue, std::size_t album, TFolderCovers& folders,
                                             std::atomic<std::size_t>& kept) const {
    TCover cover;
    const TGroup& group = catalogue.groups[1][album];
    if (group.unknown) return cover;
    // The first embedded picture of the album, else an image in its folder;
    // a picture whose header or end is broken counts as none.
    std::vector<TThumbnailSize> sizes;
    // Albums embed their cover in every track or in none, so a few tracks
    // tell; this keeps albums without pictures from costing a read per track.
    const std::size_t tried = std::min<std::size_t>(group.ids.size(), kCoverTracksTried);
    for (std::size_t i = 0; i < tried && cover.picture.empty(); ++i) {
        cover.source = catalogue.files[group.ids[i]]->GetText(atFileName);
        cover.picture = EmbeddedCover(cover.source);
        cover.embedded = true;
    }
    if (!cover.picture.empty()) sizes = PlanThumbnails(cover.picture, {kLargeCover, kSmallCover});
    if (sizes.empty() || sizes[0].Width == 0) {
        cover.source = folders.Find(ExtractFileDir(catalogue.files[group.ids.front()]->GetText(atFileName)));
        cover.picture = cover.source.empty() ? std::string() : ReadImageFile(cover.source);
        cover.embedded = false;
        if (!cover.picture.empty()) sizes = PlanThumbnails(cover.picture, {kLargeCover, kSmallCover});
    }
    if (sizes.empty() || sizes[0].Width == 0) return {};
    const std::string stem = "cov-" + HexEncode(Md5Digest(group.key));
    cover.large = stem + ".jpg";
    cover.largeWidth = sizes[0].Width;
    cover.largeHeight = sizes[0].Height;
    cover.small = stem + "-s.jpg";
    cover.smallWidth = sizes[1].Width;
    cover.smallHeight = sizes[1].Height;
    if (kept.fetch_add(cover.picture.size()) + cover.picture.size() > kKeptPictureBytes) {
        kept.fetch_sub(cover.picture.size());
        cover.picture = std::string();
    }
    return cover;
}

void TChmPreparer::MakeCoverThumbnails(TCover& cover) {
    if (cover.large.empty()) return;
    if (cover.picture.empty())
        cover.picture = cover.embedded ? EmbeddedCover(cover.source) : ReadImageFile(cover.source);
    std::vector<TThumbnail> made = MakeThumbnails(cover.picture, {kLargeCover, kSmallCover});
    cover.picture = std::string();
    // The pages show the planned sizes; a picture broken inside, or changed
    // since, fails here and is taken out of them afterwards.
    const auto fits = [](const TThumbnail& t, int width, int height) {
        return !t.Jpeg.empty() && t.Width == width && t.Height == height;
    };
    if (!fits(made[0], cover.largeWidth, cover.largeHeight) || !fits(made[1], cover.smallWidth, cover.smallHeight))
        return;
    cover.largeBytes = std::move(made[0].Jpeg);
    cover.smallBytes = std::move(made[1].Jpeg);
}

void TChmPreparer::DropCover(const TCatalogue& catalogue, std::size_t album) {
    const TCover& cover = catalogue.albums[album].cover;
    const std::string large = ImageTag(cover.large, cover.largeWidth, cover.largeHeight, "cover");
    const std::string small = ImageTag(cover.small, cover.smallWidth, cover.smallHeight, "thumb");
    const auto rewrite = [&](const std::string& page, const std::vector<std::pair<std::string, std::string>>& swaps) {
        const std::string path = JoinPath(workingFolder_, page);
        std::string text = LoadTextFile(path);
        for (const auto& [from, to] : swaps) ReplaceAll(text, from, to, true);
        SaveTextFile(text, path);
    };
    // The pages as they would have been written without the cover.
    rewrite(catalogue.groups[1][album].page, {{"<td class=\"cover\">" + large + "</td>", ""}});
    rewrite(kGroupings[1].indexPage, {{small, "<span class=\"nocover\"></span>"}});
    for (const TGroup& artist : catalogue.groups[0])
        if (std::any_of(artist.ids.begin(), artist.ids.end(),
                        [&](std::size_t id) { return catalogue.albumOf[id] == album; }))
            rewrite(artist.page, {{small, ""}});
}

std::unique_ptr<TParallelLoop> TChmPreparer::StartCovers(TCatalogue& catalogue) {
    if (!Covers) return nullptr;
    const std::size_t count = catalogue.albums.size();
    // Finding the pictures and reading their headers: all cores (this
    // thread among them), waited for.
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::atomic<std::size_t> kept{0};
    TFolderCovers folders;
    TParallelLoop(count, std::max(1u, cores - 1), [&](std::size_t a) {
        if (CheckStop) CheckStop();
        catalogue.albums[a].cover = PlanCover(catalogue, a, folders, kept);
    }).Wait();
    // Decoding and scaling beside the page writing, which keeps one core.
    return std::make_unique<TParallelLoop>(count, std::max(1u, cores - 1), [this, &catalogue](std::size_t a) {
        if (CheckStop) CheckStop();
        MakeCoverThumbnails(catalogue.albums[a].cover);
    });
}

void TChmPreparer::FinishCovers(TCatalogue& catalogue, TParallelLoop* thumbnails) {
    if (!thumbnails) return;
    thumbnails->Wait();
    for (std::size_t a = 0; a < catalogue.albums.size(); ++a)
        if (!catalogue.albums[a].cover.large.empty() && catalogue.albums[a].cover.largeBytes.empty()) {
            DropCover(catalogue, a);
            catalogue.albums[a].cover = TCover();
        }
    // Thumbnails stay in memory: creating a file each cost more than making them.
    const auto keep = [&](const std::string& name, std::string& bytes) {
        if (name.empty() || bytes.empty()) return;
        const std::string path = JoinPath(workingFolder_, name);
        coverFiles_.push_back(path);
        Compiler->MemoryFiles[path] = std::move(bytes);
        bytes = std::string();
    };
    for (TAlbum& album : catalogue.albums) {
        keep(album.cover.large, album.cover.largeBytes);
        keep(album.cover.small, album.cover.smallBytes);
    }
}

void TChmPreparer::WriteGrouping(TCatalogue& catalogue, int grouping) {
    const TGrouping& g = kGroupings[grouping];
    const std::string& w = workingFolder_;
    const std::string pluralCaption = Translate(g.plural);
    const std::string singularCaption = Translate(g.singular);
    const bool artistPages = grouping == 0;
    const bool albumPages = grouping == 1;

    TChmTreeItem* indexEntry = Compiler->Tree->Root->AddFileEntry(JoinPath(w, g.indexPage), false);
    indexEntry->Caption = pluralCaption;
    indexEntry->ImageIndex = 0;
    const std::vector<TGroup>& albumGroups = catalogue.groups[1];

    std::string rows;
    int count = 0;
    for (std::size_t gi = 0; gi < catalogue.groups[static_cast<std::size_t>(grouping)].size(); ++gi) {
        const TGroup& group = catalogue.groups[static_cast<std::size_t>(grouping)][gi];
        const std::vector<std::size_t>& ids = group.ids;

        std::string coverCell, info, heading;
        if (albumPages && !group.unknown) {
            const TAlbum& album = catalogue.albums[gi];
            const TCover& cover = catalogue.albums[gi].cover;
            coverCell = ImageTag(cover.small, cover.smallWidth, cover.smallHeight, "thumb");
            // Keeps the names of albums without a cover in line with the others.
            if (coverCell.empty() && Covers) coverCell = "<span class=\"nocover\"></span>";
            info = HtmlEscape(album.artist.empty() ? Translate("Various artists") : album.artist);
            if (album.year > 0) info += ", " + std::to_string(album.year);
            heading = AlbumHeading(album, cover, ids.size());
        }
        const std::string shownName = HtmlEscape(group.name);
        const std::string link = "<a href=\"" + group.page + "\">" + shownName + "</a>";
        // A group has at least one file, and one file is singular in every
        // language we ship.
        const std::string total = HtmlEscape(PageText(
            ids.size() == 1 ? Translatable("Total: $1 file") : Translatable("Total: $1 files"), {std::to_string(ids.size())}));
        rows += FillPlaceholders(GroupTemplate, {{"$Color", count % 2 == 0 ? "odd" : "even"},
                                                 {"$Main", link},
                                                 {"$Title", total},
                                                 {"$Cover", coverCell},
                                                 {"$Info", info}});

        TChmTreeItem* groupEntry = indexEntry->AddFileEntry(JoinPath(w, group.page), false);
        groupEntry->Caption = group.name;
        groupEntry->ImageIndex = 0;

        std::string items;
        std::size_t lastAlbum = SIZE_MAX;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            const std::size_t id = ids[i];
            const TAudioInfo& f = *catalogue.files.at(id);
            const std::string& artist = f.GetText(atArtist);
            const std::string& title = f.GetText(atTitle);
            const std::size_t albumIndex = catalogue.albumOf[id];
            const TGroup& albumGroup = albumGroups[albumIndex];
            const TAlbum& album = catalogue.albums[albumIndex];
            if (artistPages) {
                AddUserKeyword(*groupEntry, artist);
                AddUserKeyword(*groupEntry, title);
                // The album's keyword leads to its heading on this page.
                if (!f.GetText(atAlbum).empty()) {
                    AddUserKeyword(*groupEntry, f.GetText(atAlbum));
                    if (!albumGroup.unknown && !SectionTemplate.empty())
                        groupEntry->SetKeywordAnchor(f.GetText(atAlbum), AlbumAnchor(albumGroup.page));
                }
                // Each album of the artist under a heading that leads to its page.
                if (albumIndex != lastAlbum && !SectionTemplate.empty()) {
                    const TCover& cover = album.cover;
                    const std::string anchor = AlbumAnchor(albumGroup.page);
                    const std::string albumLink = "<a name=\"" + anchor + "\" id=\"" + anchor + "\" href=\"" +
                                                  albumGroup.page + "\">" + HtmlEscape(albumGroup.name) + "</a>";
                    items += FillPlaceholders(
                        SectionTemplate,
                        {{"$Main", albumLink},
                         {"$Title", album.year > 0 ? std::to_string(album.year) : std::string()},
                         {"$Cover", ImageTag(cover.small, cover.smallWidth, cover.smallHeight, "thumb")}});
                }
            }
            lastAlbum = albumIndex;
            if (albumPages) Titles.push_back({title, artist, group.page});
            const std::string& fileName = f.GetText(atFileName);
            const std::string diskName = HtmlEscape(PageText("Hard disk ($1)", {mounts_->MountPointOf(fileName)}));
            const std::string artFile = artist.empty() ? unknownArtistPage_ : GroupPageName("art", artist);
            const std::string bitrate = std::to_string(f.GetNumber(anBitRate)) + "Kbit";
            const std::string samplerate =
                std::to_string(f.GetNumber(anSampleRate)) + "Hz " + ChannelText(f.GetNumber(anChannelCode));
            std::string trackNumber;
            if (catalogue.track[id] != INT_MAX) {
                trackNumber = std::to_string(catalogue.track[id]);
                if (album.severalDiscs && catalogue.disc[id] != INT_MAX)
                    trackNumber = std::to_string(catalogue.disc[id]) + "-" + trackNumber;
            }
            // Pages of years and genres say which album a track is from.
            const std::string albumName = HtmlEscape(albumGroup.name);
            const std::string albumLink =
                grouping >= 2 && !albumGroup.unknown
                    ? "<a class=\"album\" href=\"" + albumGroup.page + "\">" + albumName + "</a>"
                    : std::string();
            items += FillPlaceholders(ItemTemplate, {
                                                        {"$DiskName", diskName},
                                                        {"$Disk", "HDD"},
                                                        {"$ArtFilename", artFile},
                                                        {"$Artist", HtmlEscape(artist)},
                                                        {"$AlbumLink", albumLink},
                                                        {"$AlbFilename", albumGroup.page},
                                                        {"$Album", albumName},
                                                        {"$Title", HtmlEscape(title)},
                                                        {"$Track", trackNumber},
                                                        {"$File", HtmlEscape(fileName)},
                                                        {"$Time", FormatDuration(f.GetNumber(anPlayingTime))},
                                                        {"$Bitrate", bitrate},
                                                        {"$Samplerate", samplerate},
                                                        {"$Color", i % 2 == 0 ? "odd" : "even"},
                                                    });
        }
        const std::string title = HtmlEscape(singularCaption + ": " + group.name);
        SaveTextFile(FillPlaceholders(PageTemplate, {{"$Title", title}, {"$Heading", heading}, {"$Item", items}}),
                     JoinPath(w, group.page));
        ++count;
        if (OnStage) OnStage(g.stage, count);
    }
    const std::string title = HtmlEscape(pluralCaption);
    SaveTextFile(FillPlaceholders(PageTemplate, {{"$Title", title}, {"$Heading", ""}, {"$Item", rows}}),
                 JoinPath(w, g.indexPage));
}

std::string TChmPreparer::AlbumHeading(const TAlbum& album, const TCover& cover, std::size_t tracks) const {
    std::string html = "<table class=\"albumhead\" cellspacing=\"0\" cellpadding=\"0\"><tr>";
    if (!cover.large.empty())
        html += "<td class=\"cover\">" + ImageTag(cover.large, cover.largeWidth, cover.largeHeight, "cover") + "</td>";
    html += "<td class=\"facts\"><p class=\"albumartist\">";
    if (album.artist.empty())
        html += HtmlEscape(Translate("Various artists"));
    else if (artistNames_->count(album.artist))
        html += "<a href=\"" + GroupPageName("art", album.artist) + "\">" + HtmlEscape(album.artist) + "</a>";
    else
        html += HtmlEscape(album.artist);
    html += "</p><table class=\"facts\" cellspacing=\"0\" cellpadding=\"0\">";
    const auto fact = [&](const std::string& label, const std::string& value) {
        html += "<tr><th>" + HtmlEscape(label) + "</th><td>" + value + "</td></tr>";
    };
    if (album.year > 0) fact(Translate("Year"), std::to_string(album.year));
    if (!album.genre.empty()) fact(Translate("Genre"), HtmlEscape(album.genre));
    fact(Translate("Tracks"), std::to_string(tracks));
    fact(Translate("Total time"), FormatDuration(album.seconds));
    html += "</table></td></tr></table>";
    return html;
}
