#pragma once
// The catalogue model: the collection grouped by artist, album, year and
// genre, each group's tracks in page order, and what the album pages tell.
// Built once from the records; it knows page names but writes no HTML.
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/collation.h"

class TAudioInfo;

// The groupings, in the order of the contents tree and the progress steps.
enum class TGrouping { Artists, Albums, Years, Genres };
inline constexpr std::size_t kGroupingCount = 4;
inline constexpr std::array<TGrouping, kGroupingCount> kAllGroupings = {TGrouping::Artists, TGrouping::Albums,
                                                                        TGrouping::Years, TGrouping::Genres};

struct TCatalogueGroup {
    std::string key;   // what the page name is made of
    std::string name;  // as shown
    std::string page;
    std::string sortKey;
    std::vector<std::size_t> ids;  // files, in page order
    bool unknown = false;          // the group of files without a value
};

struct TCatalogueAlbum {
    std::string artist;  // album artist, or the one artist of all tracks; empty when mixed
    int year = 0;        // earliest year of its tracks, 0 when none
    std::string genre;   // the commonest genre
    std::int64_t seconds = 0;
    bool severalDiscs = false;
};

class TCatalogue {
public:
    // The records stay owned by the caller and must outlive the catalogue;
    // a record's position is its id.
    explicit TCatalogue(std::vector<const TAudioInfo*> files);

    const std::vector<const TAudioInfo*> files;
    std::string unknown;  // the name shown for a missing value
    TCollator collator{CollationLocaleFromEnvironment()};
    // Per file.
    std::vector<std::string> artistKey, titleKey;
    std::vector<int> disc, track;      // INT_MAX when the file has none
    std::vector<std::size_t> albumOf;  // position in the albums grouping
    std::vector<TCatalogueAlbum> albums;  // beside the albums grouping's groups
    std::set<std::string> artistNames;    // artists that have a page
    // The page of the artists group of files without an artist.
    std::string unknownArtistPage;

    const std::vector<TCatalogueGroup>& Groups(TGrouping grouping) const {
        return groups_[static_cast<std::size_t>(grouping)];
    }
    // The albums grouping's groups, beside albums.
    const std::vector<TCatalogueGroup>& AlbumGroups() const { return Groups(TGrouping::Albums); }
    // The artist page a track links to.
    std::string ArtistPageOf(std::string_view artist) const;

private:
    std::vector<TCatalogueGroup>& GroupsOf(TGrouping grouping) { return groups_[static_cast<std::size_t>(grouping)]; }
    void GroupByText(TGrouping grouping, int field, const char* prefix);
    void GroupAlbums();
    void GroupYears();
    void SortGroups(TGrouping grouping);
    void SortTracks();

    std::array<std::vector<TCatalogueGroup>, kGroupingCount> groups_;
};

// The prefix of a grouping's group page names ("art", "alb", "year", "gen").
const char* GroupPagePrefix(TGrouping grouping);
