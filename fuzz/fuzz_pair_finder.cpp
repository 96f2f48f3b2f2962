// The pair finder: marker lines separated by \1 ("open\tclose[\tbreak]",
// or "!open\tclose" for an ignore pair), a NUL, then the text.
#include "fuzz_input.h"
#include "text/pair_finder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view all = AsText(data, size);
    std::size_t cut = all.find('\0');
    if (cut == std::string_view::npos) return 0;
    TPairFinder finder;
    try {
        for (const std::string& line : SplitAt(all.substr(0, cut), '\1')) {
            std::vector<std::string> f = SplitAt(line, '\t');
            if (f.size() < 2 || f[0].empty() || f[1].empty()) continue;
            if (f[0][0] == '!' && f[0].size() > 1)
                finder.AddIgnore(f[0].substr(1), f[1]);
            else
                finder.AddPair(f[0], f[1], f.size() > 2 ? f[2] : std::string());
        }
    } catch (const EKeywordScanner&) {
        return 0;
    }
    std::string_view text = all.substr(cut + 1);
    int guard = 0;
    if (finder.FindFirst(text)) {
        do {
            if (finder.Content().size() > text.size()) std::abort();
            if (++guard > static_cast<int>(text.size()) + 1) std::abort();  // every match uses up text
        } while (finder.FindNext());
    }
    return 0;
}
