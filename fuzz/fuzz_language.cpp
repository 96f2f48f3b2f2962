// Language files: the table, lookups, and translations with parameters.
#include "base/language.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    auto table = std::make_unique<TLanguage>(input.Put(AsText(data, size)));
    for (const std::string& line : table->Messages()) table->Lookup(line.substr(0, line.find('=')));
    SetAppLanguage(std::move(table));
    Translate("Cannot open file $1", Params({"a", "$2"}));
    Translate("$1$2$3$10", Params({"x"}));
    TranslateLines("Next\r\n\r\nBack\nCancel");
    SetAppLanguage(nullptr);
    return 0;
}
