// The XML configuration file: parse, list, read, write in memory, and the
// text it would save must parse again to the same text.
#include "fuzz_input.h"
#include "text/xml_config.h"

namespace {

void Walk(TXMLConfig& config) {
    TStringList sections;
    config.ListSections(sections);
    for (const std::string& s : sections) {
        TStringList pairs;
        config.ListKeyValues(s, pairs);
        TStringList keys;
        config.ListKeys(s, keys);
        for (const std::string& k : keys) config.ReadValue(s, k, "");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    static TMemInput again;
    std::string saved;
    try {
        TXMLConfig config(input.Put(AsText(data, size)), false);
        Walk(config);
        config.WriteValue("Fuzz.Group", "Key", "a \"value\" & <more>");
        config.WriteValue("Options", "General.LangFile", "x");
        config.DeleteEntry("Options", "Missing");
        config.DeleteSection("Fuzz");
        saved = config.DocumentText();
    } catch (const EParseError&) {
        return 0;
    }
    TXMLConfig reread(again.Put(saved), false);
    Walk(reread);
    if (reread.DocumentText() != saved) std::abort();
    return 0;
}
