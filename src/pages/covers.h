#pragma once
// Album covers: each album's picture found (embedded in its first tracks, or
// an image in its folder), its thumbnail sizes planned from the picture's
// header, and the thumbnails made later, in the background.
#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class TCatalogue;

inline constexpr int kLargeCover = 200;
inline constexpr int kSmallCover = 48;

struct TCover {
    std::string large, small;  // file names in the catalogue; empty when none
    int largeWidth = 0, largeHeight = 0, smallWidth = 0, smallHeight = 0;
    std::string largeBytes, smallBytes;  // the JPEGs, once made
    bool onDisk = false;                 // made and put away (files or spill store) instead
    // The picture they are made from: its bytes while they are kept, and
    // where it was found (the audio file that embeds it, or the image file).
    std::string picture;
    std::string source;
    bool embedded = false;
};

// The picture of each folder, found with one listing per folder however many
// albums share it (a folder of thousands of loose tracks holds many albums).
class TFolderCovers {
public:
    std::string Find(const std::string& folder);

private:
    struct TEntry {
        std::once_flag once;
        std::string cover;
    };
    std::mutex mutex_;
    std::map<std::string, std::unique_ptr<TEntry>> entries_;
};

// One album's picture and thumbnail sizes (nothing for the unknown album or
// one without a usable picture); kept counts the picture bytes held in memory.
TCover PlanCover(const TCatalogue& catalogue, std::size_t album, TFolderCovers& folders,
                 std::atomic<std::size_t>& kept);
// Makes the planned thumbnails; a picture broken inside, or changed since
// planning, leaves largeBytes empty.
void MakeCoverThumbnails(TCover& cover);
// An <img> of a cover file, or nothing without one.
std::string ImageTag(const std::string& file, int width, int height, const char* cssClass);
