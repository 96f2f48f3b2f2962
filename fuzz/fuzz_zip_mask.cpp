// File masks and path checks of the zip reader: name, NUL, mask.
#include "base/zip_reader.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = AsText(data, size);
    std::size_t cut = text.find('\0');
    std::string_view name = text.substr(0, cut);
    std::string_view mask = cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1);
    MatchesMask(name, mask);
    IsSafeRelativePath(name);
    ZipArchiveForm(name);
    return 0;
}
