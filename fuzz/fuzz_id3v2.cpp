// ID3v2 tag at the start of a file, and the text decoder its frames use.
#include "audio/buffered_file.h"
#include "audio/id3.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    TBufferedFile file(input.Put(AsText(data, size)));
    TID3v2 tag;
    tag.ReadFrom(file);
    DecodeID3Text(AsText(data, size));
    return 0;
}
