// Writing the index and group pages of every grouping.
#include "pages/page_writer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <thread>
#include <utility>

#include "audio/audio_info.h"
#include "base/language.h"
#include "base/parallel_loop.h"
#include "base/spill_store.h"
#include "catalogue/page_names.h"
#include "pages/contents_tree.h"
#include "pages/data_archive.h"
#include "pages/html_escape.h"
#include "pages/keywords.h"
#include "pages/report_pages.h"
#include "services/configer.h"

namespace {

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

// How a grouping is shown: its captions and its index page.
struct TGroupingPages {
    const char* plural;
    const char* singular;
    const char* indexPage;
};

const TGroupingPages kGroupingPages[] = {
    {Translatable("Artists"), Translatable("Artist"), "artists.htm"},
    {Translatable("Albums"), Translatable("Album"), "albums.htm"},
    {Translatable("Years"), Translatable("Year"), "years.htm"},
    {Translatable("Genres"), Translatable("Genre"), "genres.htm"},
};

const TGroupingPages& PagesOf(TGrouping grouping) { return kGroupingPages[static_cast<std::size_t>(grouping)]; }

}  // namespace

TPageWriter::TPageWriter(const TCatalogue& catalogue, TPageTemplates texts)
    : catalogue_(catalogue), texts_(std::move(texts)) {}

TPageWriter::~TPageWriter() = default;

TWrittenPages TPageWriter::Write(const std::string& folder, TChmTree& tree) {
    folder_ = folder;
    pageBytes_ = 0;
    TWrittenPages written;
    written.NeedFiles = ExtractNeedFiles(folder);
    covers_.assign(catalogue_.albums.size(), TCover());
    // The thumbnails are made while the pages are written: the pages only
    // need their sizes, which the pictures' headers tell.
    std::unique_ptr<TParallelLoop> thumbnails = StartCovers();
    for (TGrouping grouping : kAllGroupings) WriteGrouping(grouping, tree, written);
    FinishCovers(thumbnails.get(), written);
    // After the covers: the health page lists the albums left without one.
    WriteReports(tree, written);

    TChmTreeItem& root = *tree.Root;
    if (root.Count() > 0 && root.Item(0)->FileInfo)
        for (const std::string& need : written.NeedFiles) root.Item(0)->FileInfo->AddLinked(need);
    if (root.Count() > 1 && root.Item(1)->FileInfo)
        for (const std::string& cover : written.CoverFiles) root.Item(1)->FileInfo->AddLinked(cover);
    if (OnStage) OnStage({static_cast<int>(kGroupingCount), static_cast<int>(kGroupingCount), 0, 0});
    return written;
}

void TPageWriter::WriteGrouping(TGrouping grouping, TChmTree& tree, TWrittenPages& written) {
    const TGroupingPages& g = PagesOf(grouping);
    const std::string pluralCaption = Translate(g.plural);
    const std::string singularCaption = Translate(g.singular);
    const std::vector<TCatalogueGroup>& groups = catalogue_.Groups(grouping);

    TChmTreeItem* indexEntry = tree.Root->AddFileEntry(JoinPath(folder_, g.indexPage), false);
    indexEntry->Caption = pluralCaption;
    indexEntry->ImageIndex = 0;

    std::string rows;
    for (std::size_t gi = 0; gi < groups.size(); ++gi) {
        const TCatalogueGroup& group = groups[gi];
        std::string heading;
        rows += GroupRow(grouping, gi, heading);

        TChmTreeItem* groupEntry = indexEntry->AddFileEntry(JoinPath(folder_, group.page), false);
        groupEntry->Caption = group.name;
        groupEntry->ImageIndex = 0;

        if (grouping == TGrouping::Albums && AlbumPlayer && !group.unknown) heading += AlbumPlayerHtml(gi, *groupEntry);

        std::string items;
        std::size_t lastAlbum = SIZE_MAX;
        for (std::size_t i = 0; i < group.ids.size(); ++i) {
            const std::size_t id = group.ids[i];
            const TAudioInfo& f = *catalogue_.files.at(id);
            const std::size_t album = catalogue_.albumOf[id];
            if (grouping == TGrouping::Artists) {
                AddUserKeyword(*groupEntry, f.GetText(atArtist));
                AddUserKeyword(*groupEntry, f.GetText(atTitle));
                // The album's keyword leads to its heading on this page.
                if (!f.GetText(atAlbum).empty()) {
                    AddUserKeyword(*groupEntry, f.GetText(atAlbum));
                    const TCatalogueGroup& albumGroup = catalogue_.AlbumGroups()[album];
                    if (!albumGroup.unknown && !texts_.Section.empty())
                        groupEntry->SetKeywordAnchor(f.GetText(atAlbum), AlbumAnchor(albumGroup.page));
                }
                // Each album of the artist under a heading that leads to its page.
                if (album != lastAlbum && !texts_.Section.empty()) items += ArtistSection(album);
            }
            lastAlbum = album;
            if (grouping == TGrouping::Albums && ListTitles)
                written.Titles.push_back({f.GetText(atTitle), f.GetText(atArtist), group.page});
            items += TrackRow(grouping, id, i);
        }
        const std::string title = HtmlEscape(singularCaption + ": " + group.name);
        SavePage(FillPlaceholders(texts_.Page, {{"$Title", title}, {"$Heading", heading}, {"$Item", items}}),
                 group.page, written);
        if (OnStage) OnStage({static_cast<int>(grouping), static_cast<int>(kGroupingCount), gi + 1, groups.size()});
    }
    const std::string title = HtmlEscape(pluralCaption);
    SavePage(FillPlaceholders(texts_.Page, {{"$Title", title}, {"$Heading", ""}, {"$Item", rows}}), g.indexPage,
             written);
}

void TPageWriter::SavePage(std::string text, const std::string& page, TWrittenPages& written) {
    const std::string path = JoinPath(folder_, page);
    if (pageBytes_ + text.size() > HeldPageBytes) {
        KeepOrSave(Spill, path, text);
        return;
    }
    pageBytes_ += text.size();
    written.MemoryFiles[path] = std::move(text);
}

std::string TPageWriter::GroupRow(TGrouping grouping, std::size_t index, std::string& heading) const {
    const TCatalogueGroup& group = catalogue_.Groups(grouping)[index];
    const std::size_t tracks = group.ids.size();
    std::string coverCell, info;
    if (grouping == TGrouping::Albums && !group.unknown) {
        const TCatalogueAlbum& album = catalogue_.albums[index];
        const TCover& cover = covers_[index];
        coverCell = ImageTag(cover.small, cover.smallWidth, cover.smallHeight, "thumb");
        // Keeps the names of albums without a cover in line with the others.
        if (coverCell.empty() && Covers) coverCell = "<span class=\"nocover\"></span>";
        info = HtmlEscape(album.artist.empty() ? Translate("Various artists") : album.artist);
        if (album.year > 0) info += ", " + std::to_string(album.year);
        heading = AlbumHeading(index, tracks);
    }
    const std::string link = "<a href=\"" + group.page + "\">" + HtmlEscape(group.name) + "</a>";
    // A group has at least one file, and one file is singular in every
    // language we ship.
    const std::string total = HtmlEscape(PageText(
        tracks == 1 ? Translatable("Total: $1 file") : Translatable("Total: $1 files"), {std::to_string(tracks)}));
    return FillPlaceholders(texts_.Group, {{"$Color", index % 2 == 0 ? "odd" : "even"},
                                           {"$Main", link},
                                           {"$Title", total},
                                           {"$Cover", coverCell},
                                           {"$Info", info}});
}

std::string TPageWriter::ArtistSection(std::size_t album) const {
    const TCatalogueGroup& albumGroup = catalogue_.AlbumGroups()[album];
    const TCatalogueAlbum& facts = catalogue_.albums[album];
    const TCover& cover = covers_[album];
    const std::string anchor = AlbumAnchor(albumGroup.page);
    const std::string albumLink = "<a name=\"" + anchor + "\" id=\"" + anchor + "\" href=\"" + albumGroup.page + "\">" +
                                  HtmlEscape(albumGroup.name) + "</a>";
    return FillPlaceholders(texts_.Section,
                            {{"$Main", albumLink},
                             {"$Title", facts.year > 0 ? std::to_string(facts.year) : std::string()},
                             {"$Cover", ImageTag(cover.small, cover.smallWidth, cover.smallHeight, "thumb")}});
}

std::string TPageWriter::TrackRow(TGrouping grouping, std::size_t id, std::size_t row) const {
    const TAudioInfo& f = *catalogue_.files.at(id);
    const std::string_view artist = f.GetText(atArtist);
    const std::size_t album = catalogue_.albumOf[id];
    const TCatalogueGroup& albumGroup = catalogue_.AlbumGroups()[album];
    const std::string_view fileName = f.GetText(atFileName);
    const std::string diskName = HtmlEscape(PageText("Hard disk ($1)", {mounts_.MountPointOf(fileName)}));
    const std::string bitrate = std::to_string(f.GetNumber(anBitRate)) + "Kbit";
    const std::string samplerate =
        std::to_string(f.GetNumber(anSampleRate)) + "Hz " + ChannelText(f.GetNumber(anChannelCode));
    std::string trackNumber;
    if (catalogue_.track[id] != INT_MAX) {
        trackNumber = std::to_string(catalogue_.track[id]);
        if (catalogue_.albums[album].severalDiscs && catalogue_.disc[id] != INT_MAX)
            trackNumber = std::to_string(catalogue_.disc[id]) + "-" + trackNumber;
    }
    // Pages of years and genres say which album a track is from.
    const std::string albumName = HtmlEscape(albumGroup.name);
    const bool linksAlbum = (grouping == TGrouping::Years || grouping == TGrouping::Genres) && !albumGroup.unknown;
    const std::string albumLink =
        linksAlbum ? "<a class=\"album\" href=\"" + albumGroup.page + "\">" + albumName + "</a>" : std::string();
    return FillPlaceholders(texts_.Item, {
                                             {"$PlayLink", HtmlEscape(PlayLinks.Href(fileName))},
                                             {"$DiskName", diskName},
                                             {"$Disk", "HDD"},
                                             {"$ArtFilename", catalogue_.ArtistPageOf(artist)},
                                             {"$Artist", HtmlEscape(artist)},
                                             {"$AlbumLink", albumLink},
                                             {"$AlbFilename", albumGroup.page},
                                             {"$Album", albumName},
                                             {"$Title", HtmlEscape(f.GetText(atTitle))},
                                             {"$Track", trackNumber},
                                             {"$File", HtmlEscape(fileName)},
                                             {"$Time", FormatDuration(f.GetNumber(anPlayingTime))},
                                             {"$Bitrate", bitrate},
                                             {"$Samplerate", samplerate},
                                             {"$Color", row % 2 == 0 ? "odd" : "even"},
                                         });
}

std::string TPageWriter::AlbumPlayerHtml(std::size_t album, TChmTreeItem& entry) {
    const TCatalogueGroup& group = catalogue_.AlbumGroups()[album];
    // The playlist in the order of the album's page.
    const std::string playlistName = AlbumAnchor(group.page) + ".m3u8";
    std::string playlist = "#EXTM3U\n";
    for (std::size_t id : group.ids) {
        const TAudioInfo& f = *catalogue_.files.at(id);
        std::string line = std::string(f.GetText(atArtist)) + " - " + std::string(f.GetText(atTitle));
        // A line break in a name would end the entry.
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        playlist += "#EXTINF:" + std::to_string(f.GetNumber(anPlayingTime)) + "," + line + "\n" +
                    PlayLinks.PlaylistEntry(f.GetText(atFileName)) + "\n";
    }
    const std::string playlistPath = JoinPath(folder_, playlistName);
    SaveTextFile(playlist, playlistPath);
    if (entry.FileInfo) entry.FileInfo->AddLinked(playlistPath);

    const std::string first = HtmlEscape(PlayLinks.Href(catalogue_.files.at(group.ids.front())->GetText(atFileName)));
    // The script plays the album's tracks one after another; without it the
    // player still plays the first.
    return "<div class=\"player\"><audio id=\"albumplayer\" controls preload=\"none\" src=\"" + first +
           "\" aria-label=\"" + HtmlEscape(Translate("Play the album")) + "\"></audio> <a class=\"playlist\" href=\"" +
           playlistName + "\">" + HtmlEscape(Translate("Playlist (.m3u8)")) +
           "</a></div>\n<script type=\"text/javascript\" src=\"player.js\" defer></script>\n";
}

void TPageWriter::WriteReports(TChmTree& tree, TWrittenPages& written) {
    const auto write = [&](const char* page, const char* caption, const std::string& body) {
        TChmTreeItem* entry = tree.Root->AddFileEntry(JoinPath(folder_, page), false);
        entry->Caption = Translate(caption);
        entry->ImageIndex = 0;
        AddUserKeyword(*entry, entry->Caption);
        // The report comes before the template's list, which stays empty;
        // an old template without a heading takes it as its list.
        const bool heading = LowerCase(texts_.Page).find("$heading") != std::string::npos;
        SavePage(FillPlaceholders(texts_.Page, {{"$Title", HtmlEscape(entry->Caption)},
                                                {"$Heading", heading ? body : std::string()},
                                                {"$Item", heading ? std::string() : body}}),
                 page, written);
    };
    write(kStatisticsPage, Translatable("Statistics"), StatisticsHtml(CollectStatistics(catalogue_)));

    std::vector<std::size_t> withoutCover;
    if (Covers)
        for (std::size_t a = 0; a < covers_.size(); ++a)
            if (!catalogue_.AlbumGroups()[a].unknown && covers_[a].large.empty()) withoutCover.push_back(a);
    write(kHealthPage, Translatable("Collection health"),
          HealthHtml(catalogue_, CheckHealth(catalogue_, Unreadable), Covers ? &withoutCover : nullptr, PlayLinks));
}

std::string TPageWriter::AlbumHeading(std::size_t index, std::size_t tracks) const {
    const TCatalogueAlbum& album = catalogue_.albums[index];
    const TCover& cover = covers_[index];
    std::string html = "<table class=\"albumhead\" cellspacing=\"0\" cellpadding=\"0\"><tr>";
    if (!cover.large.empty())
        html += "<td class=\"cover\">" + ImageTag(cover.large, cover.largeWidth, cover.largeHeight, "cover") + "</td>";
    html += "<td class=\"facts\"><p class=\"albumartist\">";
    if (album.artist.empty())
        html += HtmlEscape(Translate("Various artists"));
    else if (catalogue_.artistNames.count(album.artist))
        html += "<a href=\"" + catalogue_.ArtistPageOf(album.artist) + "\">" + HtmlEscape(album.artist) + "</a>";
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

std::unique_ptr<TParallelLoop> TPageWriter::StartCovers() {
    if (!Covers) return nullptr;
    const std::size_t count = catalogue_.albums.size();
    // Finding the pictures and reading their headers: all cores (this
    // thread among them), waited for.
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::atomic<std::size_t> kept{0};
    TFolderCovers folders;
    TParallelLoop(count, std::max(1u, cores - 1), [&](std::size_t a) {
        if (CheckStop) CheckStop();
        covers_[a] = PlanCover(catalogue_, a, folders, kept);
    }).Wait();
    // Decoding and scaling beside the page writing, which keeps one core.
    thumbnailBytes_ = 0;
    return std::make_unique<TParallelLoop>(count, std::max(1u, cores - 1), [this](std::size_t a) {
        if (CheckStop) CheckStop();
        TCover& cover = covers_[a];
        MakeCoverThumbnails(cover);
        // Thumbnails stay in memory, since creating a file each cost more
        // than making them; beyond a budget they go to their files, so a
        // large collection's memory stays bounded.
        const std::size_t size = cover.largeBytes.size() + cover.smallBytes.size();
        if (cover.largeBytes.empty() || thumbnailBytes_.fetch_add(size) + size <= HeldThumbnailBytes) return;
        KeepOrSave(Spill, JoinPath(folder_, cover.large), cover.largeBytes);
        KeepOrSave(Spill, JoinPath(folder_, cover.small), cover.smallBytes);
        // Swapped out: assigning an empty string keeps the buffer.
        std::string().swap(cover.largeBytes);
        std::string().swap(cover.smallBytes);
        cover.onDisk = true;
    });
}

void TPageWriter::FinishCovers(TParallelLoop* thumbnails, TWrittenPages& written) {
    if (!thumbnails) return;
    thumbnails->Wait();
    for (std::size_t a = 0; a < covers_.size(); ++a)
        if (!covers_[a].large.empty() && covers_[a].largeBytes.empty() && !covers_[a].onDisk) {
            DropCover(a, written);
            covers_[a] = TCover();
        }
    const auto keep = [&](const std::string& name, std::string& bytes, bool onDisk) {
        if (name.empty() || (bytes.empty() && !onDisk)) return;
        const std::string path = JoinPath(folder_, name);
        written.CoverFiles.push_back(path);
        if (!onDisk) written.MemoryFiles[path] = std::move(bytes);
        bytes = std::string();
    };
    for (TCover& cover : covers_) {
        keep(cover.large, cover.largeBytes, cover.onDisk);
        keep(cover.small, cover.smallBytes, cover.onDisk);
    }
}

void TPageWriter::DropCover(std::size_t album, TWrittenPages& written) {
    const TCover& cover = covers_[album];
    const std::string large = ImageTag(cover.large, cover.largeWidth, cover.largeHeight, "cover");
    const std::string small = ImageTag(cover.small, cover.smallWidth, cover.smallHeight, "thumb");
    const auto rewrite = [&](const std::string& page, const std::vector<std::pair<std::string, std::string>>& swaps) {
        const std::string path = JoinPath(folder_, page);
        const auto held = written.MemoryFiles.find(path);
        if (held != written.MemoryFiles.end()) {
            for (const auto& [from, to] : swaps) ReplaceAll(held->second, from, to, true);
            return;
        }
        std::string text = ReadKeptOrFile(Spill, path);
        for (const auto& [from, to] : swaps) ReplaceAll(text, from, to, true);
        KeepOrSave(Spill, path, text);
    };
    // The pages as they would have been written without the cover.
    rewrite(catalogue_.AlbumGroups()[album].page, {{"<td class=\"cover\">" + large + "</td>", ""}});
    rewrite(PagesOf(TGrouping::Albums).indexPage, {{small, "<span class=\"nocover\"></span>"}});
    for (const TCatalogueGroup& artist : catalogue_.Groups(TGrouping::Artists))
        if (std::any_of(artist.ids.begin(), artist.ids.end(),
                        [&](std::size_t id) { return catalogue_.albumOf[id] == album; }))
            rewrite(artist.page, {{small, ""}});
}

bool CoversConfigured() {
    TConfiger* configer = AppConfiger();
    return !configer || configer->ReadString("Options", "Covers") != "0";
}
