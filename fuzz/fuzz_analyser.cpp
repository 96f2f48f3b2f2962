// The syntax analyser: a rule set (CR LF separated), a NUL, then the text,
// analysed with the rule the first byte picks.
#include "fuzz_input.h"
#include "text/analyser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view text = AsText(data + 1, size - 1);
    std::size_t cut = text.find('\0');
    if (cut == std::string_view::npos) return 0;
    TAnalyser analyser;
    try {
        analyser.Compile(text.substr(0, cut));
    } catch (const Exception&) {
        return 0;
    }
    if (analyser.Elements().empty()) return 0;
    const int rule = data[0] % static_cast<int>(analyser.Elements().size());
    try {
        if (analyser.Analyse(std::string(text.substr(cut + 1)), rule)) {
            // Every node lies inside the text.
            std::vector<const TAnaTree*> todo{analyser.Tree()};
            while (!todo.empty()) {
                const TAnaTree* n = todo.back();
                todo.pop_back();
                if (n->Start > 0 && (n->Length < 0 || n->Start - 1 + n->Length > analyser.TextLength())) std::abort();
                analyser.NodeText(n);
                for (int i = 0; i < n->Count(); ++i) todo.push_back(n->AnaChild(i));
            }
        }
    } catch (const EParseError& e) {
        if (e.Position() < 1 || e.Position() > analyser.TextLength() + 1) std::abort();
    } catch (const Exception&) {
        // A bracket without its partner is only noticed when matching reaches it.
    }
    return 0;
}
