// The embedded-picture readers: the first byte picks the format.
#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    if (size == 0) return 0;
    TBufferedFile file(input.Put(AsText(data + 1, size - 1)));
    std::string picture;
    switch (data[0] % 5) {
        case 0: picture = Id3Cover(file); break;
        case 1: picture = FlacCover(file); break;
        case 2: picture = VorbisCover(file); break;
        case 3: picture = M4aCover(file); break;
        default: picture = WmaCover(file); break;
    }
    if (picture.size() > kMaxCoverBytes) std::abort();
    return 0;
}
