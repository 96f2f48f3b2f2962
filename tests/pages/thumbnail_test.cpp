#include "pages/thumbnail.h"

#include <gtest/gtest.h>
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "picture_builders.h"

namespace {

std::string Png(int width, int height, std::vector<unsigned char> rgba = {}) {
    if (rgba.empty()) rgba.assign(static_cast<std::size_t>(width * height * 4), 0x80);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
    std::string png(size, '\0');
    png_image_write_to_memory(&image, png.data(), &size, 0, rgba.data(), 0, nullptr);
    png.resize(size);
    return png;
}

// The size a JPEG declares.
std::pair<int, int> SizeOf(const std::string& jpeg) {
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, space = 0;
    tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), &w, &h, &sub, &space);
    tjDestroy(tj);
    return {w, h};
}

// The pixels of a JPEG, 3 bytes each.
std::vector<unsigned char> PixelsOf(const std::string& jpeg, int width, int height) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3));
    tjhandle tj = tjInitDecompress();
    tjDecompress2(tj, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), rgb.data(), width, 0, height,
                  TJPF_RGB, 0);
    tjDestroy(tj);
    return rgb;
}

}  // namespace

TEST(ThumbnailTest, ScalesJpegAndPngToFitTheBoxKeepingTheShape) {
    TThumbnail t = MakeThumbnail(Jpeg(400, 300), 200);
    ASSERT_FALSE(t.Jpeg.empty());
    EXPECT_EQ(SizeOf(t.Jpeg), std::make_pair(200, 150));
    EXPECT_EQ(t.Width, 200);
    EXPECT_EQ(t.Height, 150);
    // Portrait, and a size no scale factor of the decoder gives directly.
    t = MakeThumbnail(Jpeg(333, 1000), 48);
    EXPECT_EQ(SizeOf(t.Jpeg), std::make_pair(16, 48));
    t = MakeThumbnail(Png(640, 480), 200);
    EXPECT_EQ(SizeOf(t.Jpeg), std::make_pair(200, 150));
    // Small pictures are not blown up.
    t = MakeThumbnail(Jpeg(50, 40), 200);
    EXPECT_EQ(std::make_pair(t.Width, t.Height), std::make_pair(50, 40));
}

TEST(ThumbnailTest, BrokenTruncatedOrOversizedPicturesGiveNone) {
    const std::string jpeg = Jpeg(300, 300);
    EXPECT_TRUE(MakeThumbnail(jpeg.substr(0, jpeg.size() / 2), 200).Jpeg.empty());
    EXPECT_TRUE(MakeThumbnail(jpeg.substr(0, 30), 200).Jpeg.empty());
    const std::string png = Png(64, 64);
    EXPECT_TRUE(MakeThumbnail(png.substr(0, png.size() / 2), 48).Jpeg.empty());
    EXPECT_TRUE(MakeThumbnail("GIF89a not a format we read", 48).Jpeg.empty());
    EXPECT_TRUE(MakeThumbnail("", 48).Jpeg.empty());
    EXPECT_TRUE(MakeThumbnail(jpeg, 0).Jpeg.empty());

    // A frame header claiming 30000 x 30000 pixels is refused before decoding.
    std::string huge = jpeg;
    const std::size_t sof = huge.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    huge[sof + 5] = '\x75';  // height 0x7530
    huge[sof + 6] = '\x30';
    huge[sof + 7] = '\x75';  // width
    huge[sof + 8] = '\x30';
    EXPECT_TRUE(MakeThumbnail(huge, 200).Jpeg.empty());
}

// One call makes every size, in the order asked, with the colours of the
// original: a red left half and a blue right half stay where they were.
TEST(ThumbnailTest, SeveralSizesFromOnePictureKeepItsColours) {
    const int w = 400, h = 200;
    std::vector<unsigned char> rgba(static_cast<std::size_t>(w * h * 4));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &rgba[static_cast<std::size_t>((y * w + x) * 4)];
            p[0] = x < w / 2 ? 220 : 10;
            p[1] = 30;
            p[2] = x < w / 2 ? 10 : 240;
            p[3] = 255;
        }
    const std::vector<TThumbnail> t = MakeThumbnails(Png(w, h, rgba), {48, 200});
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(std::make_pair(t[0].Width, t[0].Height), std::make_pair(48, 24));
    EXPECT_EQ(std::make_pair(t[1].Width, t[1].Height), std::make_pair(200, 100));
    for (const TThumbnail& one : t) {
        const std::vector<unsigned char> rgb = PixelsOf(one.Jpeg, one.Width, one.Height);
        const auto at = [&](int x, int c) {
            return static_cast<int>(rgb[static_cast<std::size_t>(((one.Height / 2) * one.Width + x) * 3 + c)]);
        };
        EXPECT_NEAR(at(2, 0), 220, 12) << one.Width;
        EXPECT_NEAR(at(2, 2), 10, 12) << one.Width;
        EXPECT_NEAR(at(one.Width - 3, 0), 10, 12) << one.Width;
        EXPECT_NEAR(at(one.Width - 3, 2), 240, 12) << one.Width;
    }
    // A picture that does not decode gives none of the sizes.
    for (const TThumbnail& none : MakeThumbnails("not a picture at all", {200, 48})) EXPECT_TRUE(none.Jpeg.empty());
}

// A flat colour stays that colour at every pixel when the scale is no whole
// number: the rows and columns each pixel covers then differ in count, so
// every pixel's average must be weighed by its own area.
TEST(ThumbnailTest, UnevenScaleAveragesEveryPixelByItsOwnArea) {
    const int w = 301, h = 187;
    std::vector<unsigned char> rgba(static_cast<std::size_t>(w * h * 4));
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = 200;
        rgba[i + 1] = 100;
        rgba[i + 2] = 40;
        rgba[i + 3] = 255;
    }
    const TThumbnail t = MakeThumbnail(Png(w, h, rgba), 47);
    ASSERT_EQ(std::make_pair(t.Width, t.Height), std::make_pair(47, 29));
    const std::vector<unsigned char> rgb = PixelsOf(t.Jpeg, t.Width, t.Height);
    int worst = 0;
    for (std::size_t i = 0; i < rgb.size(); i += 3)
        worst = std::max({worst, std::abs(rgb[i] - 200), std::abs(rgb[i + 1] - 100), std::abs(rgb[i + 2] - 40)});
    EXPECT_LE(worst, 4);
}

// The sizes read from the header are the sizes the thumbnails come out in,
// whatever scale the decoder picks; cut-off pictures are refused up front.
TEST(ThumbnailTest, PlannedSizesMatchTheThumbnailsAndCutPicturesAreRefused) {
    for (const std::string& picture :
         {Jpeg(400, 300), Jpeg(333, 1000), Jpeg(1201, 799), Jpeg(50, 40), Jpeg(210, 205), Png(640, 480), Png(30, 90)}) {
        const std::vector<TThumbnailSize> plan = PlanThumbnails(picture, {200, 48});
        const std::vector<TThumbnail> made = MakeThumbnails(picture, {200, 48});
        ASSERT_EQ(plan.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_GT(plan[i].Width, 0);
            EXPECT_EQ(std::make_pair(plan[i].Width, plan[i].Height), std::make_pair(made[i].Width, made[i].Height));
            EXPECT_EQ(SizeOf(made[i].Jpeg), std::make_pair(made[i].Width, made[i].Height));
        }
    }
    const std::string jpeg = Jpeg(400, 300), png = Png(640, 480);
    for (const std::string& cut : {jpeg.substr(0, jpeg.size() - 10), png.substr(0, png.size() - 20),
                                   jpeg.substr(0, 40) + std::string(200, 'x'), std::string("GIF89a...")})
        EXPECT_EQ(PlanThumbnails(cut, {200})[0].Width, 0);
    // Writers that pad after the end marker still count as complete.
    EXPECT_EQ(PlanThumbnails(jpeg + std::string(100, '\0'), {200})[0].Width, 200);

    // Broken inside with header and end intact: planned, but it does not decode.
    std::string inside = jpeg;
    for (std::size_t i = inside.size() / 3; i < inside.size() / 2; i += 2) inside.replace(i, 2, "\xFF\xD9");
    EXPECT_EQ(PlanThumbnails(inside, {200})[0].Width, 200);
    EXPECT_TRUE(MakeThumbnail(inside, 200).Jpeg.empty());
}

// Print covers in CMYK, and covers followed by padding, are still covers.
TEST(ThumbnailTest, CmykCoversAndPaddingAfterTheEndMarker) {
    const int w = 64, h = 64;
    // Inverted CMYK as Adobe writes it: stored 255 - ink. Cyan ink only.
    std::vector<unsigned char> cmyk(static_cast<std::size_t>(w * h * 4));
    for (std::size_t i = 0; i < cmyk.size(); i += 4) {
        cmyk[i] = 0;        // full cyan
        cmyk[i + 1] = 255;  // no magenta
        cmyk[i + 2] = 255;  // no yellow
        cmyk[i + 3] = 255;  // no black
    }
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(tj, cmyk.data(), w, 0, h, TJPF_CMYK, &out, &size, TJSAMP_444, 95, 0), 0);
    std::string jpeg(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    tjDestroy(tj);
    const TThumbnail t = MakeThumbnail(jpeg, 48);
    ASSERT_FALSE(t.Jpeg.empty());
    const std::vector<unsigned char> rgb = PixelsOf(t.Jpeg, t.Width, t.Height);
    EXPECT_LT(rgb[0], 40);   // cyan: no red
    EXPECT_GT(rgb[1], 200);  // full green and blue
    EXPECT_GT(rgb[2], 200);

    // 16 KB of padding after the end marker, and a thumbnail inside APP1
    // that ends with its own end marker, before a cut-off main picture.
    const std::string padded = Jpeg(300, 300) + std::string(16384, '\0');
    EXPECT_EQ(PlanThumbnails(padded, {200})[0].Width, 200);
    EXPECT_FALSE(MakeThumbnail(padded, 200).Jpeg.empty());
    const std::string inner = Jpeg(8, 8);
    const std::string outer = Jpeg(300, 300);
    const std::string app1 = "\xFF\xE1" + std::string(1, char((inner.size() + 2) >> 8)) +
                             std::string(1, char((inner.size() + 2) & 0xFF)) + inner;
    const std::string withThumb = outer.substr(0, 2) + app1 + outer.substr(2);
    EXPECT_EQ(PlanThumbnails(withThumb, {200})[0].Width, 200);
    EXPECT_EQ(PlanThumbnails(withThumb.substr(0, withThumb.size() - 100), {200})[0].Width, 0);
}
