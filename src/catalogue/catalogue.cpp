// Grouping the records into artists, albums, years and genres, in page order.
#include "catalogue/catalogue.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <tuple>
#include <utility>

#include "audio/audio_info.h"
#include "base/language.h"
#include "base/shared_functions.h"
#include "catalogue/page_names.h"

namespace {

// The album artist of a compilation whose tags name none.
constexpr const char* kVariousArtists = "Various Artists";

int SortableNumber(int n) { return n > 0 ? n : INT_MAX; }

std::string FolderNameOf(const std::string& folder) { return ExtractFileName(folder); }

}  // namespace

const char* GroupPagePrefix(TGrouping grouping) {
    static const char* const kPrefixes[] = {"art", "alb", "year", "gen"};
    return kPrefixes[static_cast<std::size_t>(grouping)];
}

std::string TCatalogue::ArtistPageOf(std::string_view artist) const {
    return artist.empty() ? unknownArtistPage : GroupPageName(GroupPagePrefix(TGrouping::Artists), artist);
}

TCatalogue::TCatalogue(std::vector<const TAudioInfo*> f) : files(std::move(f)), unknown(Translate("Unknown")) {
    const std::size_t n = files.size();
    artistKey.resize(n);
    titleKey.resize(n);
    disc.resize(n);
    track.resize(n);
    // An artist sorts by the first sort name one of its files gives: "The
    // Beatles" with "Beatles, The" sorts under B.
    std::map<std::string, std::string, std::less<>> sortNames;
    for (const TAudioInfo* a : files)
        if (!a->ArtistSort().empty()) sortNames.emplace(a->GetText(atArtist), a->ArtistSort());
    for (std::size_t i = 0; i < n; ++i) {
        const TAudioInfo& a = *files[i];
        const auto sortName = sortNames.find(a.GetText(atArtist));
        artistKey[i] = collator.SortKey(sortName != sortNames.end() ? sortName->second : a.GetText(atArtist));
        titleKey[i] = collator.SortKey(a.GetText(atTitle));
        disc[i] = SortableNumber(std::atoi(std::string(a.Disc()).c_str()));
        track[i] = SortableNumber(a.GetTextAsNumber(atTrack));
        if (!a.GetText(atArtist).empty()) artistNames.emplace(a.GetText(atArtist));
    }
    GroupByText(TGrouping::Artists, atArtist, GroupPagePrefix(TGrouping::Artists));
    GroupAlbums();
    GroupYears();
    GroupByText(TGrouping::Genres, atGenre, GroupPagePrefix(TGrouping::Genres));
    SortTracks();
    // Files without an artist link to the artists' "Unknown" group; its page
    // is named after the empty text when a real artist is called "Unknown".
    const std::vector<TCatalogueGroup>& artists = Groups(TGrouping::Artists);
    unknownArtistPage =
        !artists.empty() && artists.front().unknown ? artists.front().page : GroupPageName(GroupPagePrefix(TGrouping::Artists), unknown);
}

void TCatalogue::SortTracks() {
    // Album pages: by disc, track number, title.
    for (TCatalogueGroup& g : GroupsOf(TGrouping::Albums))
        std::stable_sort(g.ids.begin(), g.ids.end(), [&](std::size_t a, std::size_t b) {
            return std::tie(disc[a], track[a], titleKey[a]) < std::tie(disc[b], track[b], titleKey[b]);
        });
    // Artist pages: the artist's albums by year, each in album order; files
    // without an album last.
    const auto albumYear = [&](std::size_t id) {
        const std::size_t album = albumOf[id];
        if (AlbumGroups()[album].unknown) return INT_MAX;
        return albums[album].year > 0 ? albums[album].year : INT_MAX - 1;
    };
    for (TCatalogueGroup& g : GroupsOf(TGrouping::Artists))
        std::stable_sort(g.ids.begin(), g.ids.end(), [&](std::size_t a, std::size_t b) {
            return std::make_tuple(albumYear(a), albumOf[a], disc[a], track[a], std::cref(titleKey[a])) <
                   std::make_tuple(albumYear(b), albumOf[b], disc[b], track[b], std::cref(titleKey[b]));
        });
    // Year and genre pages: by artist, album, track.
    for (TGrouping grouping : {TGrouping::Years, TGrouping::Genres})
        for (TCatalogueGroup& g : GroupsOf(grouping))
            std::stable_sort(g.ids.begin(), g.ids.end(), [&](std::size_t a, std::size_t b) {
                return std::make_tuple(std::cref(artistKey[a]), albumOf[a], disc[a], track[a], std::cref(titleKey[a])) <
                       std::make_tuple(std::cref(artistKey[b]), albumOf[b], disc[b], track[b], std::cref(titleKey[b]));
            });
}

void TCatalogue::GroupByText(TGrouping grouping, int field, const char* prefix) {
    std::map<std::string, std::vector<std::size_t>> byValue;
    for (std::size_t i = 0; i < files.size(); ++i) byValue[std::string(files[i]->GetText(field))].push_back(i);
    // The empty value is shown as "Unknown". When a real group has that very
    // name, the empty one takes the page named after the empty text, so the
    // two never share (and overwrite) one page.
    const bool unknownTaken = byValue.count(unknown) > 0;
    std::vector<TCatalogueGroup>& out = GroupsOf(grouping);
    for (auto& [value, ids] : byValue) {
        TCatalogueGroup g;
        g.unknown = value.empty();
        g.key = value;
        g.name = g.unknown ? unknown : value;
        g.page = GroupPageName(prefix, g.unknown && unknownTaken ? std::string_view() : std::string_view(g.name));
        g.ids = std::move(ids);
        out.push_back(std::move(g));
    }
    SortGroups(grouping);
}

void TCatalogue::GroupAlbums() {
    // An album is its name with its album artist; without an album artist,
    // its name with the folder that holds it, which keeps a compilation in
    // one folder together.
    std::map<std::string, std::vector<std::size_t>> byKey;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TAudioInfo& a = *files[i];
        const std::string_view album = a.GetText(atAlbum);
        const std::string key = AlbumGroupKey(album, a.AlbumArtist(), ExtractFileDir(a.GetText(atFileName)));
        byKey[key].push_back(i);
    }
    std::map<std::string, int> sameName;
    for (const auto& [key, ids] : byKey)
        if (!key.empty()) ++sameName[std::string(files[ids.front()]->GetText(atAlbum))];

    std::vector<TCatalogueGroup>& out = GroupsOf(TGrouping::Albums);
    std::vector<TCatalogueAlbum> found;
    for (auto& [key, ids] : byKey) {
        TCatalogueGroup g;
        TCatalogueAlbum album;
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
            if (!a.GetText(atGenre).empty()) ++genres[std::string(a.GetText(atGenre))];
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
                       : compilation                ? std::string_view(kVariousArtists)
                       : oneArtist                  ? first.GetText(atArtist)
                                                    : std::string_view();
        if (g.unknown) {
            g.name = unknown;
            g.page = GroupPageName(GroupPagePrefix(TGrouping::Albums), unknown);
        } else {
            g.name = first.GetText(atAlbum);
            g.page = GroupPageName(GroupPagePrefix(TGrouping::Albums), key);
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
    std::vector<TCatalogueGroup> sorted;
    for (std::size_t i : order) {
        sorted.push_back(std::move(out[i]));
        albums.push_back(std::move(found[i]));
    }
    out = std::move(sorted);
    albumOf.assign(files.size(), 0);
    for (std::size_t a = 0; a < out.size(); ++a)
        for (std::size_t id : out[a].ids) albumOf[id] = a;
}

void TCatalogue::GroupYears() {
    std::map<int, std::vector<std::size_t>> byYear;
    for (std::size_t i = 0; i < files.size(); ++i) byYear[LeadingYear(files[i]->GetText(atYear))].push_back(i);
    // Unknown first, then the years in their order.
    std::vector<std::pair<int, std::vector<std::size_t>>> ordered(byYear.begin(), byYear.end());
    std::stable_partition(ordered.begin(), ordered.end(), [](const auto& y) { return y.first == 0; });
    for (auto& [year, ids] : ordered) {
        TCatalogueGroup g;
        g.unknown = year == 0;
        g.key = g.unknown ? std::string() : std::to_string(year);
        g.name = g.unknown ? unknown : g.key;
        g.page = GroupPageName(GroupPagePrefix(TGrouping::Years), g.key);
        g.ids = std::move(ids);
        GroupsOf(TGrouping::Years).push_back(std::move(g));
    }
}

void TCatalogue::SortGroups(TGrouping grouping) {
    std::vector<TCatalogueGroup>& list = GroupsOf(grouping);
    for (TCatalogueGroup& g : list) g.sortKey = grouping == TGrouping::Artists && !g.ids.empty() ? artistKey[g.ids.front()] : collator.SortKey(g.name);
    std::stable_sort(list.begin(), list.end(), [](const TCatalogueGroup& a, const TCatalogueGroup& b) {
        if (a.unknown != b.unknown) return a.unknown;
        return a.sortKey < b.sortKey;
    });
}

