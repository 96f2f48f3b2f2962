// Every format unit of the registry on any bytes: the first byte picks the
// unit, which recognises, reads and looks for a cover whether or not the
// bytes are its own, so no reader relies on the recogniser to be safe.
#include "audio/apev2.h"
#include "audio/buffered_file.h"
#include "audio/cover_art.h"
#include "audio/format_registry.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    if (size == 0) return 0;
    const auto& formats = AudioFormats();
    const TAudioFormat& format = *formats[data[0] % formats.size()];
    TBufferedFile file(input.Put(AsText(data + 1, size - 1)));
    const TFileHead head(file);
    format.Recognise(head);
    try {
        const TFormatRead read = format.Read(file, head);
        if (read.numbers.size() > kMpegNumberCount) std::abort();
    } catch (const Exception&) {
        // A file the unit cannot read is refused with an error, never more.
    }
    if (format.Cover(file).size() > kMaxCoverBytes) std::abort();
    TApeTag ape;
    ape.ReadTrailing(file);
    if (ape.Size > file.Size()) std::abort();
    return 0;
}
