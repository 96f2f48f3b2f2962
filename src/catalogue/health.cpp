// Finding what may be wrong with a collection, in O(n log n).
#include "catalogue/health.h"

#include <unicode/unistr.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <set>

#include "audio/audio_info.h"
#include "catalogue/catalogue.h"
#include "catalogue/statistics.h"
#include "collection/collection.h"

namespace {

std::string Folded(std::string_view text) {
    std::string out;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())))
        .foldCase()
        .toUTF8String(out);
    return out;
}

// Lengths this far apart are still one recording.
constexpr int kSameLength = 2;

}  // namespace

std::size_t TCatalogueHealth::DuplicateFiles() const {
    std::size_t n = 0;
    for (const auto& set : duplicates) n += set.size();
    return n;
}

bool IsLosslessFile(std::string_view path) {
    static const std::set<std::string> lossless = {"FLAC", "WAV", "WAVE", "AIF", "AIFF", "AIFC",
                                                   "APE",  "WV",  "TTA",  "OFR", "TAK"};
    return lossless.count(FormatOfFile(path)) > 0;
}

TCatalogueHealth CheckHealth(const TCatalogue& catalogue, std::vector<THealthUnreadable> unreadable) {
    TCatalogueHealth h;
    h.unreadable = std::move(unreadable);
    const std::vector<const TAudioInfo*>& files = catalogue.files;

    // Duplicates: sorted by folded artist, title and length, a set is a run
    // of neighbours no more than kSameLength apart.
    struct TKey {
        std::string artistTitle;
        int seconds;
        std::size_t id;
    };
    std::vector<TKey> keys;
    keys.reserve(files.size());
    for (std::size_t id = 0; id < files.size(); ++id) {
        const TAudioInfo& f = *files[id];
        if (f.GetText(atTitle).empty()) continue;
        keys.push_back({Folded(f.GetText(atArtist)) + '\0' + Folded(f.GetText(atTitle)), f.GetNumber(anPlayingTime), id});
    }
    std::sort(keys.begin(), keys.end(), [](const TKey& a, const TKey& b) {
        if (a.artistTitle != b.artistTitle) return a.artistTitle < b.artistTitle;
        return a.seconds != b.seconds ? a.seconds < b.seconds : a.id < b.id;
    });
    for (std::size_t i = 0; i < keys.size();) {
        std::size_t j = i + 1;
        while (j < keys.size() && keys[j].artistTitle == keys[i].artistTitle &&
               std::abs(keys[j].seconds - keys[j - 1].seconds) <= kSameLength)
            ++j;
        // Two records of one path are one file, not a duplicate.
        std::set<std::string> paths;
        std::vector<std::size_t> set;
        for (std::size_t k = i; k < j; ++k)
            if (paths.emplace(files[keys[k].id]->GetText(atFileName)).second) set.push_back(keys[k].id);
        if (set.size() > 1) h.duplicates.push_back(std::move(set));
        i = j;
    }

    for (std::size_t id = 0; id < files.size(); ++id) {
        const TAudioInfo& f = *files[id];
        if (f.GetText(atArtist).empty() && f.GetText(atTitle).empty() && f.GetText(atAlbum).empty())
            h.untagged.push_back(id);
        const std::int32_t rate = f.GetNumber(anBitRate);
        if (rate > 0 && rate < kLowBitRate && !IsLosslessFile(f.GetText(atFileName))) h.lowBitRate.push_back(id);
    }
    const std::vector<TCatalogueGroup>& albums = catalogue.AlbumGroups();
    for (std::size_t a = 0; a < albums.size(); ++a) {
        if (albums[a].unknown) continue;
        if (std::any_of(albums[a].ids.begin(), albums[a].ids.end(),
                        [&](std::size_t id) { return catalogue.track[id] == INT_MAX; }))
            h.albumsWithoutNumbers.push_back(a);
    }
    return h;
}

std::vector<THealthUnreadable> UnreadableFiles(const TMP3Collection& collection) {
    std::vector<THealthUnreadable> out;
    for (const TMP3Collection::TProblem& p : collection.Problems()) out.push_back({p.Path, p.Reason});
    return out;
}
