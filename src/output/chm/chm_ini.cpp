// The help project's settings tree.
#include "output/chm/chm_ini.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr int kWindowFields = 19;

// Flags of fields 9 and 11 are the help window's navigation-pane properties
// and toolbar buttons; those of field 13 are window styles.
constexpr TWindowDefPart kWindowDefParts[] = {
    {"HideShowButton", 11, 0x2},
    {"BackButton", 11, 0x4},
    {"ForwardButton", 11, 0x8},
    {"StopButton", 11, 0x10},
    {"RefreshButton", 11, 0x20},
    {"HomeButton", 11, 0x40},
    {"NextButton", 11, 0x200000},
    {"PrevButton", 11, 0x400000},
    {"LocateButton", 11, 0x800},
    {"OptionsButton", 11, 0x1000},
    {"PrintButton", 11, 0x2000},
    {"Jump1Button", 11, 0x40000},
    {"Jump2Button", 11, 0x80000},
    {"FontButton", 11, 0x100000},
    {"Position", 12, 0},
    {"StorePosition", 9, 0x40000},
    {"Default", 3, 0},
    {"Home", 4, 0},
    {"Jump1", 5, 0},
    {"Jump1Caption", 6, 0},
    {"Jump2", 7, 0},
    {"Jump2Caption", 8, 0},
    {"NavigationPane", 9, 0x20},
    {"ContentsInPane", 1, 0},
    {"IndexInPane", 2, 0},
    {"SearchInPane", 9, 0x400},
    {"AdvSearchInPane", 9, 0x20000},
    {"FavoritesInPane", 9, 0x1000},
    {"PaneWidth", 10, 0},
    {"ClosedPane", 16, 0},
    {"AutoSync", 9, 0x100},
    {"AutoShowHidePane", 9, 0x1},
    {"TabsPosition", 18, 0},
    {"DefaultTab", 17, 0},
    {"HideButtonCaptions", 9, 0x40},
    {"MaximizeBox", 13, 0x10000},
    {"MinimizeBox", 13, 0x20000},
    {"Border", 13, 0x800000},
    {"DlgFrame", 13, 0x400000},
};

const char* const kLineEnd = "\r\n";

std::string HexFlags(std::uint32_t flags) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", static_cast<unsigned>(flags));
    return buffer;
}

std::string WindowLine(const TChmTreeInternal& window, const TChmIni::TPathMapper& mapper) {
    std::string texts[kWindowFields];
    std::uint32_t flags[kWindowFields] = {};
    for (int i = 0; i < window.Count(); ++i) {
        const TChmTreeInternal* property = window.Item(i);
        for (const auto& part : kWindowDefParts) {
            if (property->Name != part.Name) continue;
            if (part.Flag == 0)
                texts[part.Field] = property->Value;
            else if (property->Value == "1")
                flags[part.Field] |= part.Flag;
        }
    }
    std::string line = window.Name + "=";
    for (int n = 0; n < kWindowFields; ++n) {
        if (flags[n] > 0 || n == 11)
            line += HexFlags(flags[n]);
        else if (n <= 2 || n >= 9)
            line += texts[n];
        else if ((n == 3 || n == 4 || n == 5 || n == 7) && mapper)
            line += "\"" + mapper(texts[n]) + "\"";
        else
            line += "\"" + texts[n] + "\"";
        line += ",";
    }
    return line + kLineEnd;
}

}  // namespace

TChmIni::TChmIni() : TCustomIniFile(""), Root(std::make_unique<TChmTreeInternal>()) {}

void TChmIni::WriteValue(const std::string& section, const std::string& key, const std::string& value) {
    FindNode(Root.get(), section + "." + key, true)->Value = value;
}

std::string TChmIni::ReadValue(const std::string&, const std::string&, const std::string&) {
    throw EMethodNotAllowed("");
}
void TChmIni::ListKeys(const std::string&, TStringList&) { throw EMethodNotAllowed(""); }
void TChmIni::ListSections(TStringList&) { throw EMethodNotAllowed(""); }
void TChmIni::ListKeyValues(const std::string&, TStringList&) { throw EMethodNotAllowed(""); }
void TChmIni::DeleteSection(const std::string&) { throw EMethodNotAllowed(""); }
void TChmIni::DeleteEntry(const std::string&, const std::string&) { throw EMethodNotAllowed(""); }

TChmTreeInternal* TChmIni::FindNode(TChmTreeInternal* start, std::string_view path, bool create) {
    TChmTreeInternal* node = start;
    while (node && !path.empty()) {
        std::size_t dot = path.find('.');
        std::string_view head = path.substr(0, dot);
        path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
        TChmTreeInternal* next = nullptr;
        for (int i = 0; i < node->Count() && !next; ++i)
            if (node->Item(i)->Name == head) next = node->Item(i);
        if (!next && create) next = TTree::Make<TChmTreeInternal>(node, std::string(head));
        node = next;
    }
    return node;
}

std::string TChmIni::ProjectSections(const std::string& defaultTopicFile) const {
    std::string result;
    if (!FindNode(Root.get(), "Options.HHP", false)) return result;

    if (const TChmTreeInternal* windows = FindNode(Root.get(), "Options.HHP.Windows", false)) {
        result += std::string("[Windows]") + kLineEnd;
        for (int i = 0; i < windows->Count(); ++i) result += WindowLine(*windows->Item(i), PathMapper);
    }
    if (const TChmTreeInternal* options = FindNode(Root.get(), "Options.HHP.Options", false)) {
        result += std::string(kLineEnd) + "[Options]" + kLineEnd;
        for (int i = 0; i < options->Count(); ++i) {
            const TChmTreeInternal* option = options->Item(i);
            if (option->Name == "Default topic") {
                const std::string& topic = option->Value.empty() ? defaultTopicFile : option->Value;
                result += "Default topic=" + (PathMapper ? PathMapper(topic) : topic) + kLineEnd;
            } else {
                result += option->Name + "=" + option->Value + kLineEnd;
            }
        }
    }
    return result;
}
