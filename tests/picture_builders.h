#pragma once
// Small valid pictures for the cover and thumbnail tests.
#include <turbojpeg.h>

#include <string>
#include <vector>

// A width x height JPEG of a pattern; seed shifts the pattern, so pictures differ.
inline std::string Jpeg(int width, int height, int seed = 0) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3));
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i * 13 + static_cast<std::size_t>(seed));
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_444, 90, 0);
    std::string jpeg(reinterpret_cast<const char*>(out), size);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}
