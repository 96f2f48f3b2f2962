#include "chm/thumbnail.h"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>
#include <memory>
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

// Decodes at the smallest scale that still covers box, so a large JPEG is
// never decoded at full size.
bool DecodeJpeg(std::string_view data, int box, TRgb& out) {
    TTjHandle tj(tjInitDecompress());
    if (!tj) return false;
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(data.data()));
    const auto size = static_cast<unsigned long>(data.size());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj.get(), bytes, size, &width, &height, &subsampling, &colourspace) != 0) return false;
    if (width <= 0 || height <= 0 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxThumbnailSourcePixels)
        return false;
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    int bestWidth = width, bestHeight = height;
    for (int i = 0; factors && i < count; ++i) {
        const int w = TJSCALED(width, factors[i]);
        const int h = TJSCALED(height, factors[i]);
        if (std::max(w, h) >= box && w * static_cast<long long>(h) < bestWidth * static_cast<long long>(bestHeight)) {
            bestWidth = w;
            bestHeight = h;
        }
    }
    out.width = bestWidth;
    out.height = bestHeight;
    out.pixels.assign(static_cast<std::size_t>(bestWidth) * static_cast<std::size_t>(bestHeight) * 3, 0);
    // A truncated picture decodes "with a warning" into a grey lower part:
    // better no cover than that one.
    return tjDecompress2(tj.get(), bytes, size, out.pixels.data(), bestWidth, 0, bestHeight, TJPF_RGB,
                         TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE) == 0;
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
    for (int y = 0; y < height; ++y) {
        const int y0 = static_cast<int>(static_cast<long long>(y) * in.height / height);
        const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<long long>(y + 1) * in.height / height));
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
            const int x0 = xs[static_cast<std::size_t>(x)];
            const int x1 = std::max(x0 + 1, xs[static_cast<std::size_t>(x) + 1]);
            // A fixed-point reciprocal per pixel: dividing per channel was
            // the bulk of the thumbnail time.
            const std::uint64_t weight = (std::uint64_t{1} << 32) / static_cast<unsigned>((y1 - y0) * (x1 - x0));
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

// Scaled down (never up) to fit box x box, in place.
void FitInto(TRgb& image, int box) {
    int width = image.width, height = image.height;
    if (std::max(width, height) <= box) return;
    if (width >= height) {
        height = std::max(1, static_cast<int>(static_cast<long long>(height) * box / width));
        width = box;
    } else {
        width = std::max(1, static_cast<int>(static_cast<long long>(width) * box / height));
        height = box;
    }
    image = ScaleDown(image, width, height);
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
    if (largest <= 0 || picture.size() < 8) return thumbnails;
    TRgb image;
    const bool png = std::memcmp(picture.data(), "\x89PNG", 4) == 0;
    const bool jpeg = static_cast<unsigned char>(picture[0]) == 0xFF && static_cast<unsigned char>(picture[1]) == 0xD8;
    if (png ? !DecodePng(picture, image) : !jpeg || !DecodeJpeg(picture, largest, image)) return thumbnails;
    // Every size from one decoding, each scaled from the one before it when
    // that is still large enough: the box filter reads every source pixel.
    std::vector<std::pair<int, std::size_t>> order;
    for (int box : boxes) order.emplace_back(box, order.size());
    std::sort(order.begin(), order.end(), std::greater<>());
    for (const auto& [box, at] : order) {
        if (box <= 0) break;
        FitInto(image, box);
        thumbnails[at] = Encode(image);
    }
    return thumbnails;
}

TThumbnail MakeThumbnail(std::string_view picture, int box) { return MakeThumbnails(picture, {box}).front(); }
