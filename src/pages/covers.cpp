// Finding album pictures and making their thumbnails.
#include "pages/covers.h"

#include <algorithm>
#include <vector>

#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "base/shared_functions.h"
#include "catalogue/catalogue.h"
#include "pages/thumbnail.h"

namespace {

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

constexpr std::size_t kCoverTracksTried = 3;

// Pictures kept in memory between finding and thumbnailing; beyond this
// they are read again, which keeps a large collection's memory bounded.
constexpr std::size_t kKeptPictureBytes = std::size_t{32} << 20;

}  // namespace

std::string ImageTag(const std::string& file, int width, int height, const char* cssClass) {
    if (file.empty()) return {};
    return "<img class=\"" + std::string(cssClass) + "\" src=\"" + file + "\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\" alt=\"\">";
}

std::string TFolderCovers::Find(const std::string& folder) {
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

TCover PlanCover(const TCatalogue& catalogue, std::size_t album, TFolderCovers& folders, std::atomic<std::size_t>& kept) {
    TCover cover;
    const TCatalogueGroup& group = catalogue.AlbumGroups()[album];
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
        // Swapped out: assigning an empty string keeps the buffer.
        std::string().swap(cover.picture);
    }
    return cover;
}

void MakeCoverThumbnails(TCover& cover) {
    if (cover.large.empty()) return;
    if (cover.picture.empty())
        cover.picture = cover.embedded ? EmbeddedCover(cover.source) : ReadImageFile(cover.source);
    std::vector<TThumbnail> made = MakeThumbnails(cover.picture, {kLargeCover, kSmallCover});
    std::string().swap(cover.picture);
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

