// MPEG frame search, Xing/Info and VBRI headers, trailing tags.
#include "audio/buffered_file.h"
#include "audio/mpeg.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    TBufferedFile file(input.Put(AsText(data, size)));
    TAudInfo info;
    info.ReadFrom(file);
    TMpegFrameHdr header;
    header.Find(data, static_cast<int>(size));
    return 0;
}
