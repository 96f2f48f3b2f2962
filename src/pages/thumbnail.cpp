// Decoding cover pictures and scaling them to JPEG thumbnails.
#include "pages/thumbnail.h"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

struct TRgb {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;  // 3 bytes per pixel
};

struct TTjFree {
    void operator()(void* handle) const { tjDestroy(static_cast<tjhandle>(handle)); }
};
using TTjHandle = std::unique_ptr<void, TTjFree>;

// The size a JPEG decodes to at the smallest scale that still covers box,
// so a large JPEG is never decoded at full size; false when the header is
// unusable or the picture too large.
bool JpegDecodedSize(tjhandle tj, std::string_view data, int box, int& width, int& height) {
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(data.data()));
    int fullWidth = 0, fullHeight = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj, bytes, static_cast<unsigned long>(data.size()), &fullWidth, &fullHeight, &subsampling,
                            &colourspace) != 0)
        return false;
    if (fullWidth <= 0 || fullHeight <= 0 ||
        static_cast<std::uint64_t>(fullWidth) * static_cast<std::uint64_t>(fullHeight) > kMaxThumbnailSourcePixels)
        return false;
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    width = fullWidth;
    height = fullHeight;
    for (int i = 0; factors && i < count; ++i) {
        const int w = TJSCALED(fullWidth, factors[i]);
        const int h = TJSCALED(fullHeight, factors[i]);
        if (std::max(w, h) >= box && w * static_cast<long long>(h) < width * static_cast<long long>(height)) {
            width = w;
            height = h;
        }
    }
    return true;
}

// Where a JPEG ends: just past its end marker, found by walking the
// segments (so a thumbnail inside an APP1 segment does not count) and the
// coded data after each scan; npos when the marker is missing.
std::size_t JpegEnd(std::string_view data) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
    std::size_t at = 2;  // after the start marker
    while (at + 1 < data.size()) {
        if (b(at) != 0xFF) return std::string_view::npos;
        const unsigned marker = b(at + 1);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9) return at + 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (at + 3 >= data.size()) return std::string_view::npos;
        const std::size_t length = (std::size_t(b(at + 2)) << 8) | b(at + 3);
        if (length < 2) return std::string_view::npos;
        at += 2 + length;
        if (marker != 0xDA) continue;
        // Coded data: a 0xFF is followed by 0 (a stuffed byte) or a restart
        // marker inside it; anything else is the next marker.
        while (at + 1 < data.size() &&
               !(b(at) == 0xFF && b(at + 1) != 0 && !(b(at + 1) >= 0xD0 && b(at + 1) <= 0xD7)))
            ++at;
    }
    return std::string_view::npos;
}

// Adobe's APP14 segment: CMYK stored inverted, as Photoshop writes it.
bool HasAdobeMarker(std::string_view data) {
    return data.substr(0, std::min<std::size_t>(data.size(), 65536)).find(std::string_view("\xFF\xEE\0\x0E" "Adobe", 9)) !=
           std::string_view::npos;
}

bool DecodeJpeg(std::string_view data, int box, TRgb& out) {
    // Bytes after the end marker (padding some taggers add) are no part of it.
    const std::size_t end = JpegEnd(data);
    if (end != std::string_view::npos) data = data.substr(0, end);
    TTjHandle tj(tjInitDecompress());
    if (!tj || !JpegDecodedSize(tj.get(), data, box, out.width, out.height)) return false;
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(data.data()));
    int fullWidth = 0, fullHeight = 0, subsampling = 0, colourspace = 0;
    tjDecompressHeader3(tj.get(), bytes, static_cast<unsigned long>(data.size()), &fullWidth, &fullHeight,
                        &subsampling, &colourspace);
    const std::size_t pixels = static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height);
    out.pixels.resize(pixels * 3);
    // A truncated picture decodes "with a warning" into a grey lower part:
    // better no cover than that one.
    if (colourspace != TJCS_CMYK && colourspace != TJCS_YCCK)
        return tjDecompress2(tj.get(), bytes, static_cast<unsigned long>(data.size()), out.pixels.data(), out.width, 0,
                             out.height, TJPF_RGB, TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE) == 0;
    // CMYK (print) covers: decoded as CMYK, then turned into RGB by the
    // plain formula, which is close enough for a thumbnail.
    std::vector<unsigned char> cmyk(pixels * 4);
    if (tjDecompress2(tj.get(), bytes, static_cast<unsigned long>(data.size()), cmyk.data(), out.width, 0, out.height,
                      TJPF_CMYK, TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE) != 0)
        return false;
    const bool inverted = HasAdobeMarker(data);
    for (std::size_t i = 0; i < pixels; ++i) {
        unsigned k = cmyk[i * 4 + 3];
        if (!inverted) k = 255 - k;
        for (std::size_t c = 0; c < 3; ++c) {
            const unsigned v = inverted ? cmyk[i * 4 + c] : 255u - cmyk[i * 4 + c];
            out.pixels[i * 3 + c] = static_cast<unsigned char>(v * k / 255);
        }
    }
    return true;
}

// The PNG's size from its header; false when unusable or too large.
bool PngSize(std::string_view data, int& width, int& height) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) return false;
    const bool usable = image.width > 0 && image.height > 0 &&
                        static_cast<std::uint64_t>(image.width) * image.height <= kMaxThumbnailSourcePixels;
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    png_image_free(&image);
    return usable;
}

bool DecodePng(std::string_view data, TRgb& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) return false;
    if (image.width == 0 || image.height == 0 ||
        static_cast<std::uint64_t>(image.width) * image.height > kMaxThumbnailSourcePixels) {
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.assign(PNG_IMAGE_SIZE(image), 0);
    // Transparent parts go on white, like the page behind them.
    png_color white{255, 255, 255};
    if (!png_image_finish_read(&image, &white, out.pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    return true;
}

// Box filter: every target pixel averages the source pixels it covers.
TRgb ScaleDown(const TRgb& in, int width, int height) {
    TRgb out;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    std::vector<int> xs(static_cast<std::size_t>(width) + 1);
    for (int x = 0; x <= width; ++x)
        xs[static_cast<std::size_t>(x)] = static_cast<int>(static_cast<long long>(x) * in.width / width);
    std::vector<unsigned> sum(static_cast<std::size_t>(width) * 3);
    // A fixed-point reciprocal of each pixel's area: dividing per channel was
    // the bulk of the thumbnail time, and one division per pixel still
    // showed. A row is one of two heights, so both weight rows are kept.
    std::vector<std::uint64_t> weights[2];
    int weightsFor[2] = {0, 0};
    for (int y = 0; y < height; ++y) {
        const int y0 = static_cast<int>(static_cast<long long>(y) * in.height / height);
        const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<long long>(y + 1) * in.height / height));
        const int rows = y1 - y0;
        const std::size_t slot = static_cast<std::size_t>(rows & 1);
        if (weightsFor[slot] != rows) {
            weightsFor[slot] = rows;
            weights[slot].resize(static_cast<std::size_t>(width));
            for (int x = 0; x < width; ++x) {
                const int x0 = xs[static_cast<std::size_t>(x)];
                const int x1 = std::max(x0 + 1, xs[static_cast<std::size_t>(x) + 1]);
                weights[slot][static_cast<std::size_t>(x)] =
                    (std::uint64_t{1} << 32) / static_cast<unsigned>(rows * (x1 - x0));
            }
        }
        std::fill(sum.begin(), sum.end(), 0u);
        for (int sy = y0; sy < y1; ++sy) {
            const unsigned char* row =
                &in.pixels[static_cast<std::size_t>(sy) * static_cast<std::size_t>(in.width) * 3];
            for (int x = 0; x < width; ++x) {
                const int x0 = xs[static_cast<std::size_t>(x)];
                const int x1 = std::max(x0 + 1, xs[static_cast<std::size_t>(x) + 1]);
                unsigned* s = &sum[static_cast<std::size_t>(x) * 3];
                for (const unsigned char* p = row + x0 * 3; p < row + x1 * 3; p += 3) {
                    s[0] += p[0];
                    s[1] += p[1];
                    s[2] += p[2];
                }
            }
        }
        for (int x = 0; x < width; ++x) {
            const std::uint64_t weight = weights[slot][static_cast<std::size_t>(x)];
            unsigned char* q = &out.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                            static_cast<std::size_t>(x)) *
                                           3];
            const unsigned* s = &sum[static_cast<std::size_t>(x) * 3];
            for (int c = 0; c < 3; ++c)
                q[c] = static_cast<unsigned char>(
                    std::min<std::uint64_t>(255, (s[c] * weight + (std::uint64_t{1} << 31)) >> 32));
        }
    }
    return out;
}

std::string EncodeJpeg(const TRgb& image) {
    TTjHandle tj(tjInitCompress());
    if (!tj) return {};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj.get(), image.pixels.data(), image.width, 0, image.height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 80,
                    TJFLAG_FASTDCT) != 0) {
        tjFree(jpeg);
        return {};
    }
    std::string out(reinterpret_cast<const char*>(jpeg), size);
    tjFree(jpeg);
    return out;
}

// The size width x height takes when scaled down (never up) to fit box x box.
void FitSize(int& width, int& height, int box) {
    if (std::max(width, height) <= box) return;
    if (width >= height) {
        height = std::max(1, static_cast<int>(static_cast<long long>(height) * box / width));
        width = box;
    } else {
        width = std::max(1, static_cast<int>(static_cast<long long>(width) * box / height));
        height = box;
    }
}

void FitInto(TRgb& image, int box) {
    int width = image.width, height = image.height;
    FitSize(width, height, box);
    if (width != image.width || height != image.height) image = ScaleDown(image, width, height);
}

bool IsPng(std::string_view picture) { return picture.size() >= 8 && std::memcmp(picture.data(), "\x89PNG", 4) == 0; }

bool IsJpeg(std::string_view picture) {
    return picture.size() >= 8 && static_cast<unsigned char>(picture[0]) == 0xFF &&
           static_cast<unsigned char>(picture[1]) == 0xD8;
}

// The boxes with their places in the list, the largest first.
std::vector<std::pair<int, std::size_t>> LargestFirst(std::initializer_list<int> boxes) {
    std::vector<std::pair<int, std::size_t>> order;
    for (int box : boxes) order.emplace_back(box, order.size());
    std::sort(order.begin(), order.end(), std::greater<>());
    return order;
}

// Whether the picture's end marker is there: a cut-off download or tag is
// the common broken cover, and it shows before anything is decoded. Some
// writers pad after the marker, so the last few kilobytes are searched.
bool EndsComplete(std::string_view picture, std::string_view marker) {
    const std::size_t window = std::min<std::size_t>(4096, picture.size() / 2);
    return picture.substr(picture.size() - window).find(marker) != std::string_view::npos;
}

TThumbnail Encode(const TRgb& image) {
    TThumbnail thumbnail;
    thumbnail.Jpeg = EncodeJpeg(image);
    if (!thumbnail.Jpeg.empty()) {
        thumbnail.Width = image.width;
        thumbnail.Height = image.height;
    }
    return thumbnail;
}

}  // namespace

std::vector<TThumbnail> MakeThumbnails(std::string_view picture, std::initializer_list<int> boxes) {
    std::vector<TThumbnail> thumbnails(boxes.size());
    const int largest = boxes.size() == 0 ? 0 : std::max(boxes);
    if (largest <= 0) return thumbnails;
    TRgb image;
    if (IsPng(picture) ? !DecodePng(picture, image) : !IsJpeg(picture) || !DecodeJpeg(picture, largest, image))
        return thumbnails;
    // Every size from one decoding, each scaled from the one before it when
    // that is still large enough: the box filter reads every source pixel.
    for (const auto& [box, at] : LargestFirst(boxes)) {
        if (box <= 0) break;
        FitInto(image, box);
        thumbnails[at] = Encode(image);
    }
    return thumbnails;
}

TThumbnail MakeThumbnail(std::string_view picture, int box) { return MakeThumbnails(picture, {box}).front(); }

std::vector<TThumbnailSize> PlanThumbnails(std::string_view picture, std::initializer_list<int> boxes) {
    std::vector<TThumbnailSize> sizes(boxes.size());
    const int largest = boxes.size() == 0 ? 0 : std::max(boxes);
    if (largest <= 0) return sizes;
    int width = 0, height = 0;
    if (IsPng(picture)) {
        if (!EndsComplete(picture, "IEND") || !PngSize(picture, width, height)) return sizes;
    } else {
        TTjHandle tj(tjInitDecompress());
        if (!IsJpeg(picture) || JpegEnd(picture) == std::string_view::npos || !tj ||
            !JpegDecodedSize(tj.get(), picture, largest, width, height))
            return sizes;
    }
    // The same steps as MakeThumbnails, on the sizes alone.
    for (const auto& [box, at] : LargestFirst(boxes)) {
        if (box <= 0) break;
        FitSize(width, height, box);
        sizes[at] = {width, height};
    }
    return sizes;
}
