// The statistics and health figures: checked against sums over the records
// of the sample collection, and against a planted collection with known faults.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "audio/audio_info.h"
#include "catalogue/catalogue.h"
#include "catalogue/health.h"
#include "catalogue/page_names.h"
#include "catalogue/statistics.h"
#include "collection/collection.h"

namespace {

struct TRecord : TAudioInfo {
    TRecord(const std::string& path, const std::string& artist, const std::string& title, const std::string& album,
            const std::string& track, int seconds, int bitRate, std::uint64_t size = 1000, const std::string& year = "",
            const std::string& genre = "") {
        SetText(atFileName, path);
        SetText(atArtist, artist);
        SetText(atTitle, title);
        SetText(atAlbum, album);
        SetText(atTrack, track);
        SetText(atYear, year);
        SetText(atGenre, genre);
        SetNumbers({seconds, 44100, bitRate, ccStereo, static_cast<std::int32_t>(size)});
        fileSize_ = size;
    }
};

std::vector<const TAudioInfo*> Pointers(const std::vector<std::unique_ptr<TRecord>>& records) {
    std::vector<const TAudioInfo*> out;
    for (const auto& r : records) out.push_back(r.get());
    return out;
}

}  // namespace

TEST(Statistics, FiguresOfTheSampleCollectionAreTheSumsOfItsRecords) {
    TMP3Collection collection;
    collection.Scan(std::string(ORVALIS_SOURCE_DIR) + "/examples/music", nullptr, {});
    ASSERT_GT(collection.Count(), 5);
    std::vector<const TAudioInfo*> files;
    for (int i = 0; i < collection.Count(); ++i) files.push_back(&collection.Items(i));
    const TCatalogue catalogue(files);
    const TCatalogueStatistics s = CollectStatistics(catalogue);

    std::int64_t seconds = 0;
    std::uint64_t bytes = 0;
    std::set<std::string> albums, artists, genres;
    std::map<std::string, std::size_t> perFormat, perDecade;
    std::map<std::string, std::int64_t> rateSum, rateCount;
    std::size_t withoutYear = 0;
    for (const TAudioInfo* f : files) {
        seconds += f->GetNumber(anPlayingTime);
        bytes += f->FileSize();
        if (!f->GetText(atArtist).empty()) artists.emplace(f->GetText(atArtist));
        if (!f->GetText(atGenre).empty()) genres.emplace(f->GetText(atGenre));
        const std::string format = FormatOfFile(f->GetText(atFileName));
        ++perFormat[format];
        if (f->GetNumber(anBitRate) > 0) {
            rateSum[format] += f->GetNumber(anBitRate);
            ++rateCount[format];
        }
        const int year = LeadingYear(f->GetText(atYear));
        if (year > 0)
            ++perDecade[std::to_string(year / 10 * 10) + "s"];
        else
            ++withoutYear;
    }
    for (const TCatalogueGroup& g : catalogue.AlbumGroups())
        if (!g.unknown) albums.insert(g.key);
    EXPECT_EQ(s.tracks, files.size());
    EXPECT_EQ(s.seconds, seconds);
    EXPECT_GT(s.seconds, 0);
    EXPECT_EQ(s.bytes, bytes);
    EXPECT_GT(s.bytes, 0u);
    EXPECT_EQ(s.artists, artists.size());
    EXPECT_EQ(s.genres, genres.size());
    EXPECT_EQ(s.albums, albums.size());
    std::size_t formatTracks = 0;
    for (const TFormatFigures& f : s.formats) {
        EXPECT_EQ(f.tracks, perFormat[f.format]) << f.format;
        EXPECT_EQ(f.bitRateSum, rateSum[f.format]) << f.format;
        formatTracks += f.tracks;
    }
    EXPECT_EQ(formatTracks, files.size());
    EXPECT_EQ(s.formats.size(), perFormat.size());
    EXPECT_TRUE(perFormat.count("MP3") && perFormat.count("FLAC"));
    EXPECT_EQ(s.withoutYear, withoutYear);
    std::map<std::string, std::size_t> decades;
    for (const TStatisticsCount& d : s.decades) decades[d.name] = d.tracks;
    EXPECT_EQ(decades, perDecade);
    // Most first, the counts those of the groupings.
    for (std::size_t i = 1; i < s.topArtists.size(); ++i) EXPECT_GE(s.topArtists[i - 1].tracks, s.topArtists[i].tracks);
    std::size_t artistTracks = 0;
    for (const TStatisticsCount& a : s.topArtists) artistTracks += a.tracks;
    std::size_t withArtist = 0;
    for (const TAudioInfo* f : files) withArtist += f->GetText(atArtist).empty() ? 0 : 1;
    EXPECT_EQ(artistTracks, withArtist) << "fewer than 20 artists: all are shown";
}

TEST(Statistics, DecadesAndTopListsOfAPlantedCollection) {
    std::vector<std::unique_ptr<TRecord>> r;
    r.push_back(std::make_unique<TRecord>("/m/a.mp3", "A", "1", "X", "1", 60, 128, 100, "1991", "Rock"));
    r.push_back(std::make_unique<TRecord>("/m/b.mp3", "A", "2", "X", "2", 60, 192, 100, "1999", "Rock"));
    r.push_back(std::make_unique<TRecord>("/m/c.flac", "B", "3", "Y", "1", 3600, 900, 5000000000ull, "2003", "Jazz"));
    r.push_back(std::make_unique<TRecord>("/m/d", "C", "4", "", "", 1, 0, 1));
    // The catalogue keeps a reference to the list.
    const std::vector<const TAudioInfo*> files = Pointers(r);
    const TCatalogue catalogue(files);
    const TCatalogueStatistics s = CollectStatistics(catalogue, 1);
    ASSERT_EQ(s.decades.size(), 2u);
    EXPECT_EQ(s.decades[0].name, "1990s");
    EXPECT_EQ(s.decades[0].tracks, 2u);
    EXPECT_EQ(s.decades[1].name, "2000s");
    EXPECT_EQ(s.withoutYear, 1u);
    EXPECT_EQ(s.bytes, 5000000201ull) << "sizes past 4 GB are kept whole";
    EXPECT_EQ(s.seconds, 3721);
    ASSERT_EQ(s.topArtists.size(), 1u);
    EXPECT_EQ(s.topArtists[0].name, "A");
    ASSERT_EQ(s.topGenres.size(), 1u);
    EXPECT_EQ(s.topGenres[0].name, "Rock");
    ASSERT_EQ(s.formats.size(), 3u);
    EXPECT_EQ(s.formats[0].format, "MP3");
    EXPECT_EQ(s.formats[0].AverageBitRate(), 160);
    EXPECT_EQ(s.formats[2].format == "?" || s.formats[1].format == "?", true);
    EXPECT_EQ(s.albums, 2u);
}

TEST(Health, FindsPlantedFaults) {
    std::vector<std::unique_ptr<TRecord>> r;
    // 0 and 1: one song twice, letter case aside, a second apart; 2 is the same
    // song but a live take minutes longer; 3 another song.
    r.push_back(std::make_unique<TRecord>("/m/x/01.mp3", "Abba", "Waterloo", "Best", "1", 170, 192));
    r.push_back(std::make_unique<TRecord>("/m/y/waterloo.mp3", "ABBA", "waterloo", "Other", "3", 171, 192));
    r.push_back(std::make_unique<TRecord>("/m/z/live.mp3", "Abba", "Waterloo", "Live", "1", 400, 192));
    r.push_back(std::make_unique<TRecord>("/m/x/02.mp3", "Abba", "SOS", "Best", "2", 200, 192));
    // 4: no tag at all; 5 and 6: an album whose second track has no number.
    r.push_back(std::make_unique<TRecord>("/m/untagged.mp3", "", "", "", "", 100, 128));
    r.push_back(std::make_unique<TRecord>("/m/n/1.mp3", "B", "One", "Numberless", "1", 100, 128));
    r.push_back(std::make_unique<TRecord>("/m/n/2.mp3", "B", "Two", "Numberless", "", 100, 128));
    // 7: lossy and low; 8: lossless at a low reported rate is fine; 9: 96 is not below 96.
    r.push_back(std::make_unique<TRecord>("/m/low.mp3", "C", "Low", "L", "1", 100, 64));
    r.push_back(std::make_unique<TRecord>("/m/low.flac", "C", "Flac", "L", "2", 100, 64));
    r.push_back(std::make_unique<TRecord>("/m/edge.ogg", "C", "Edge", "L", "3", 100, 96));
    // The catalogue keeps a reference to the list.
    const std::vector<const TAudioInfo*> files = Pointers(r);
    const TCatalogue catalogue(files);
    const TCatalogueHealth h = CheckHealth(catalogue, {{"/m/broken.mp3", "Permission denied"}});

    ASSERT_EQ(h.duplicates.size(), 1u);
    EXPECT_EQ(std::set<std::size_t>(h.duplicates[0].begin(), h.duplicates[0].end()), (std::set<std::size_t>{0, 1}));
    EXPECT_EQ(h.DuplicateFiles(), 2u);
    EXPECT_EQ(h.untagged, std::vector<std::size_t>{4});
    ASSERT_EQ(h.albumsWithoutNumbers.size(), 1u);
    EXPECT_EQ(catalogue.AlbumGroups()[h.albumsWithoutNumbers[0]].name, "Numberless");
    EXPECT_EQ(h.lowBitRate, std::vector<std::size_t>{7});
    ASSERT_EQ(h.unreadable.size(), 1u);
    EXPECT_EQ(h.unreadable[0].reason, "Permission denied");
}

TEST(Health, ChainsOfCloseLengthsAndOneFileTwiceAreNoFalseFinding) {
    std::vector<std::unique_ptr<TRecord>> r;
    // The same path read twice is one file.
    r.push_back(std::make_unique<TRecord>("/m/a.mp3", "A", "T", "X", "1", 100, 192));
    r.push_back(std::make_unique<TRecord>("/m/a.mp3", "A", "T", "X", "1", 100, 192));
    // No title: nothing to compare.
    r.push_back(std::make_unique<TRecord>("/m/b.mp3", "A", "", "X", "2", 50, 192));
    r.push_back(std::make_unique<TRecord>("/m/c.mp3", "A", "", "X", "3", 50, 192));
    // The catalogue keeps a reference to the list.
    const std::vector<const TAudioInfo*> files = Pointers(r);
    const TCatalogue catalogue(files);
    EXPECT_TRUE(CheckHealth(catalogue, {}).duplicates.empty());

    // Lengths 100, 102, 104: each within 2 s of its neighbour, one set.
    std::vector<std::unique_ptr<TRecord>> chain;
    for (int i = 0; i < 3; ++i)
        chain.push_back(std::make_unique<TRecord>("/m/" + std::to_string(i) + ".mp3", "A", "T", "X", "1", 100 + 2 * i, 192));
    const std::vector<const TAudioInfo*> chainFiles = Pointers(chain);
    const TCatalogue chained(chainFiles);
    const TCatalogueHealth h = CheckHealth(chained, {});
    ASSERT_EQ(h.duplicates.size(), 1u);
    EXPECT_EQ(h.duplicates[0].size(), 3u);
}
