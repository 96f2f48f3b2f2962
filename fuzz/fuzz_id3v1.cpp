// ID3v1 tag at the end of a file, and the ID3v2 size probe of the stream analyser.
#include "audio/buffered_file.h"
#include "audio/id3.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    TBufferedFile file(input.Put(AsText(data, size)));
    TID3v1Tag v1;
    v1.ReadFrom(file);
    TBinaryReader reader(file);
    TID3v2Tag probe;
    probe.ReadFromStream(reader, file.Size());
    return 0;
}
