#include "chm/thumbnail.h"

#include <gtest/gtest.h>
#include <png.h>
#include <turbojpeg.h>

#include <cstring>
#include <vector>

namespace {

std::string Jpeg(int width, int height) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3));
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i * 13);
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_444, 90, 0);
    std::string jpeg(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

std::string Png(int width, int height) {
    std::vector<unsigned char> rgba(static_cast<std::size_t>(width * height * 4), 0x80);
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
