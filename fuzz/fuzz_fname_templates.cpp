// File-name templates: template lines (expression, artist group, title
// group, ...), then two paths as the last two lines, matched in turn so that
// what one match leaves behind can show in the next.
#include "audio/audio_info.h"
#include "fuzz_input.h"

namespace {

struct TRecord : TAudioInformer {
    void Apply(const std::string& path) {
        ResetFor(path);
        ApplyFileNameTemplates(path);
        for (int i : {atArtist, atTitle})
            if (GetText(i).size() > path.size()) std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> lines = SplitAt(AsText(data, size), '\n');
    if (lines.size() < 3) return 0;
    std::string second = lines.back();
    lines.pop_back();
    std::string first = lines.back();
    lines.pop_back();
    SetFileNameTemplates(lines);
    TRecord record;
    record.Apply(first);
    record.Apply(second);
    return 0;
}
