#pragma once
// Cover thumbnails: a JPEG or PNG picture scaled to fit a square and encoded
// as JPEG.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Pictures with more pixels are refused before decoding.
inline constexpr std::uint64_t kMaxThumbnailSourcePixels = std::uint64_t{64} << 20;

struct TThumbnail {
    std::string Jpeg;  // empty when the picture could not be used
    int Width = 0;
    int Height = 0;
};

// The picture scaled down (never up) to fit box x box pixels, as JPEG; empty
// when the picture is not a JPEG or PNG that decodes, or is too large.
TThumbnail MakeThumbnail(std::string_view picture, int box);

// One thumbnail per box, in order, from a single decoding of the picture;
// all empty when it cannot be used.
std::vector<TThumbnail> MakeThumbnails(std::string_view picture, std::initializer_list<int> boxes);

struct TThumbnailSize {
    int Width = 0;  // 0 when the picture cannot be used
    int Height = 0;
};

// The sizes MakeThumbnails gives for the picture, read from its header
// alone; all 0 when the header is unusable, the picture too large or its
// end marker missing (a truncated picture). Cheap next to decoding, so
// pages can be laid out while the thumbnails are still being made.
std::vector<TThumbnailSize> PlanThumbnails(std::string_view picture, std::initializer_list<int> boxes);
