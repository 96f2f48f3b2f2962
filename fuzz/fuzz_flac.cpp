// The flac reader on one file.
#include "audio/audio_info.h"
#include "audio/buffered_file.h"
#include "audio/flac.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    TBufferedFile file(input.Put(AsText(data, size)));
    TFlacFile reader;
    try {
        reader.ReadFrom(file);
    } catch (const EAudioError&) {
        // Damaged files are refused this way.
    }
    return 0;
}
