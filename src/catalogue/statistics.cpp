// Counting the catalogue for its statistics page.
#include "catalogue/statistics.h"

#include <algorithm>
#include <map>

#include "audio/audio_info.h"
#include "base/shared_functions.h"
#include "catalogue/catalogue.h"

namespace {

// Most tracks first, then by name, cut to top.
std::vector<TStatisticsCount> Biggest(const std::vector<TCatalogueGroup>& groups, std::size_t top) {
    std::vector<TStatisticsCount> all;
    for (const TCatalogueGroup& g : groups)
        if (!g.unknown) all.push_back({g.name, g.ids.size()});
    const auto more = [](const TStatisticsCount& a, const TStatisticsCount& b) {
        return a.tracks != b.tracks ? a.tracks > b.tracks : a.name < b.name;
    };
    const std::size_t kept = std::min(top, all.size());
    std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(kept), all.end(), more);
    all.resize(kept);
    return all;
}

std::size_t KnownGroups(const std::vector<TCatalogueGroup>& groups) {
    return static_cast<std::size_t>(
        std::count_if(groups.begin(), groups.end(), [](const TCatalogueGroup& g) { return !g.unknown; }));
}

}  // namespace

std::int64_t TFormatFigures::AverageBitRate() const {
    if (bitRateTracks == 0) return 0;
    return (bitRateSum + static_cast<std::int64_t>(bitRateTracks / 2)) / static_cast<std::int64_t>(bitRateTracks);
}

std::string FormatOfFile(std::string_view path) {
    const std::string name = ExtractFileName(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "?";
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

TCatalogueStatistics CollectStatistics(const TCatalogue& catalogue, std::size_t top) {
    TCatalogueStatistics s;
    s.tracks = catalogue.files.size();
    std::map<std::string, TFormatFigures> formats;
    for (const TAudioInfo* f : catalogue.files) {
        s.seconds += std::max<std::int32_t>(f->GetNumber(anPlayingTime), 0);
        s.bytes += f->FileSize();
        TFormatFigures& format = formats[FormatOfFile(f->GetText(atFileName))];
        ++format.tracks;
        if (const std::int32_t rate = f->GetNumber(anBitRate); rate > 0) {
            format.bitRateSum += rate;
            ++format.bitRateTracks;
        }
    }
    for (auto& [name, figures] : formats) {
        figures.format = name;
        s.formats.push_back(figures);
    }
    std::stable_sort(s.formats.begin(), s.formats.end(),
                     [](const TFormatFigures& a, const TFormatFigures& b) { return a.tracks > b.tracks; });

    s.albums = KnownGroups(catalogue.Groups(TGrouping::Albums));
    s.artists = KnownGroups(catalogue.Groups(TGrouping::Artists));
    s.genres = KnownGroups(catalogue.Groups(TGrouping::Genres));

    // The years grouping is in time order, unknown first.
    for (const TCatalogueGroup& g : catalogue.Groups(TGrouping::Years)) {
        if (g.unknown) {
            s.withoutYear += g.ids.size();
            continue;
        }
        const std::string decade = std::to_string(std::stoi(g.key) / 10 * 10) + "s";
        if (s.decades.empty() || s.decades.back().name != decade) s.decades.push_back({decade, 0});
        s.decades.back().tracks += g.ids.size();
    }
    s.topGenres = Biggest(catalogue.Groups(TGrouping::Genres), top);
    s.topArtists = Biggest(catalogue.Groups(TGrouping::Artists), top);
    return s;
}
