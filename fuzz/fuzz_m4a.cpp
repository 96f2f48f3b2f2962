// The m4a reader on one file.
#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/m4a.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    TBufferedFile file(input.Put(AsText(data, size)));
    TM4AFile reader;
    try {
        reader.ReadFrom(file);
    } catch (const EAudioError&) {
        // Damaged files are refused this way.
    }
    return 0;
}
