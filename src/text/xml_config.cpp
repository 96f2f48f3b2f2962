#include "text/xml_config.h"

#include "base/atomic_file.h"
#include "base/exe_dir.h"
#include "base/language.h"

namespace {

// The whole file format; rule 0 is the start rule. A group's name may be
// empty, because writing a section with doubled dots makes such a group and
// the file written then must load again.
constexpr const char* kDefinition =
    R"DEF(config=\<\?xml version\=\"1\.0\" encoding\=\"Windows\-1252\" \?\>[ ]\<XMLConfig\>[ ]<configinfo>{[ ](<param>|<group>)}[ ]\<\/XMLConfig\>)DEF"
    "\r\n"
    R"DEF(configinfo=\<info\><data>\<\/info\>)DEF"
    "\r\n"
    R"DEF(group=\<(group|g) (name|n)\=\"[<name>]\"\>{[ ](<param>|<group>)}[ ]\<\/(group|g)\>)DEF"
    "\r\n"
    R"DEF(param=\<(param|p) (name|n)\=\"[<name>]\"\>[<data>]\<\/(param|p)\>)DEF"
    "\r\n"
    R"DEF(name=^")DEF"
    "\r\n"
    R"DEF(data=^<)DEF";

// Rule numbers of the definition above.
constexpr std::uint8_t kConfigRule = 0;
constexpr std::uint8_t kGroupRule = 2;
constexpr std::uint8_t kParamRule = 3;
constexpr std::uint8_t kNameRule = 4;
constexpr std::uint8_t kDataRule = 5;

std::string Fold(std::string_view name) { return LowerCase(name); }

std::string FileText(const std::string& info, const std::string& entries) {
    std::string out;
    out.reserve(entries.size() + info.size() + 96);
    out += "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\r\n<XMLConfig><info>";
    out += info;
    out += "</info>\r\n";
    out += entries;
    out += "</XMLConfig>";
    return out;
}

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
    if (text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// Undoes the entity escapes in one pass, so that no replacement can build a
// new entity out of the text around it.
std::string DecodeEntities(std::string_view text, bool names) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '&') {
            if (!names && StartsWithNoCase(text, i, "&lt;")) {
                out += '<';
                i += 3;
                continue;
            }
            if (!names && StartsWithNoCase(text, i, "&gt;")) {
                out += '>';
                i += 3;
                continue;
            }
            if (names && StartsWithNoCase(text, i, "&quot;")) {
                out += '"';
                i += 5;
                continue;
            }
            if (StartsWithNoCase(text, i, "&amp;")) {
                out += '&';
                i += 4;
                continue;
            }
        }
        out += c;
    }
    return out;
}

void AppendValue(std::string& out, std::string_view value) {
    for (char c : value) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            default: out += c; break;
        }
    }
}

// A double quote would end the name attribute, and the file would no longer load.
void AppendName(std::string& out, std::string_view name) {
    for (char c : name) {
        switch (c) {
            case '"': out += "&quot;"; break;
            case '&': out += "&amp;"; break;
            default: out += c; break;
        }
    }
}

std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        std::size_t dot = path.find('.');
        if (dot == std::string_view::npos) {
            parts.push_back(path);
            break;
        }
        parts.push_back(path.substr(0, dot));
        path.remove_prefix(dot + 1);
    }
    return parts;
}

TSectData& SectOf(const TAnaTree* node) { return *static_cast<TSectData*>(node->Data); }
TKeyData& KeyOf(const TAnaTree* node) { return *static_cast<TKeyData*>(node->Data); }

// XML editors declare the file UTF-8, often without the blank before "?>";
// that is what the text is read as anyway, so such a declaration stands for ours.
std::string WithOurDeclaration(std::string text) {
    static constexpr std::string_view kOurs = "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>";
    const std::size_t end = text.find("?>");
    if (text.rfind("<?xml ", 0) != 0 || end == std::string::npos) return text;
    std::string declaration = LowerCase(std::string_view(text).substr(0, end));
    while (!declaration.empty() && declaration.back() == ' ') declaration.pop_back();
    if (declaration == "<?xml version=\"1.0\" encoding=\"utf-8\"") text.replace(0, end + 2, kOurs);
    return text;
}

}  // namespace

TXMLConfig::TXMLConfig(const std::string& fileName, bool writable)
    : TCustomIniFile(fileName), writable_(writable), analyser_(std::make_unique<TAnalyser>()) {
    analyser_->Compile(kDefinition);

    std::string text;
    if (FileExists(fileName)) {
        text = WithOurDeclaration(LoadTextFile(fileName));
    } else {
        info_ = RemoveExtension(ExtractFileName(ExePath())) + " config file";
        text = FileText(info_, "");
        if (writable_) SaveTextFileAtomic(text, fileName);
    }

    try {
        analyser_->Analyse(std::move(text), kConfigRule);
    } catch (const EParseError& e) {
        int line = 0, column = 0;
        LineColumnOf(analyser_->Text(), e.Position(), column, false, line);
        // Substituted here, not by Translate: Translate substitutes only
        // through the language table, which is read after this file.
        std::string message = Translate("Error in config file \"$1\" at position $2");
        SubstituteParams(message, Params({fileName, std::to_string(line) + ":" + std::to_string(column)}));
        throw EParseError(message, e.Position());
    }

    document_ = analyser_->Tree()->AnaChild(0);
    // Info is the value of the data node inside the info element.
    const TAnaTree* infoNode = document_->AnaChild(0);
    info_ = std::string(analyser_->NodeText(infoNode->Count() > 0 ? infoNode->AnaChild(0) : nullptr));
    Decorate(document_);
}

TXMLConfig::~TXMLConfig() {
    if (document_ && modified_) {
        try {
            SaveFile();
        } catch (...) {
            // Nothing sensible to do in a destructor; the old file stays intact.
        }
    }
}

bool TXMLConfig::IsKey(const TAnaTree* node) const { return node->Data && node->ElementIndex == kParamRule; }

bool TXMLConfig::IsGroup(const TAnaTree* node) const {
    return node->Data && (node->ElementIndex == kGroupRule || node->ElementIndex == kConfigRule);
}

void TXMLConfig::Decorate(TAnaTree* node) {
    TSectData& sect = sections_.emplace_back();
    node->Data = &sect;
    if (node->Count() > 0 && node->AnaChild(0)->ElementIndex == kNameRule)
        sect.Name = DecodeEntities(analyser_->NodeText(node->AnaChild(0)), true);
    for (int i = 0; i < node->Count(); ++i) {
        TAnaTree* child = node->AnaChild(i);
        if (child->ElementIndex == kParamRule) {
            TKeyData& key = keys_.emplace_back();
            for (TTree* part : child->Children())
                if (static_cast<TAnaTree*>(part)->ElementIndex == kNameRule)
                    key.Name = DecodeEntities(analyser_->NodeText(static_cast<TAnaTree*>(part)), true);
            child->Data = &key;
            sect.Entries.try_emplace(Fold(key.Name), i);
        } else if (child->ElementIndex == kGroupRule) {
            Decorate(child);
            sect.Entries.try_emplace(Fold(SectOf(child).Name), i);
        }
    }
}

TAnaTree* TXMLConfig::AddEntry(TAnaTree* parent, const std::string& name, bool group) {
    TAnaTree* node = TTree::Make<TAnaTree>(parent, -1, group ? kGroupRule : kParamRule);
    if (group) {
        TSectData& sect = sections_.emplace_back();
        sect.Name = name;
        node->Data = &sect;
    } else {
        TKeyData& key = keys_.emplace_back();
        key.Name = name;
        node->Data = &key;
    }
    SectOf(parent).Entries.try_emplace(Fold(name), parent->Count() - 1);
    modified_ = true;
    return node;
}

void TXMLConfig::ConvertToGroup(TAnaTree* key) {
    // The node stays where it is and becomes the group; a new first child
    // takes over the key's data and its name and value nodes, and so becomes
    // the group's nameless key with the old value.
    TKeyData& data = KeyOf(key);
    TAnaTree* nameless = TTree::Make<TAnaTree>(key, key->Start, kParamRule);
    nameless->Length = key->Length;
    while (key->Count() > 1) {
        TTree* part = key->Remove(0);
        part->SetParent(nameless);
        nameless->Add(part);
    }
    TSectData& sect = sections_.emplace_back();
    sect.Name = data.Name;
    sect.Entries.emplace("", 0);
    data.Name.clear();
    nameless->Data = &data;
    key->Data = &sect;
    key->ElementIndex = kGroupRule;
    key->Start = -1;
    key->Length = 0;
    modified_ = true;
}

TAnaTree* TXMLConfig::FindEntry(const std::string& path, bool create, bool wantKey) {
    std::vector<std::string_view> parts = SplitPath(path);
    TAnaTree* node = document_;
    std::size_t next = 0;
    while (next < parts.size() || wantKey) {
        std::string_view part;
        if (next == parts.size()) {
            // A group asked for as a key: its nameless key stands for it.
            if (IsKey(node)) break;
        } else {
            part = parts[next++];
        }
        const bool more = next < parts.size();

        if (IsKey(node)) {
            if (!create) return nullptr;
            ConvertToGroup(node);
        }
        auto& entries = SectOf(node).Entries;
        auto found = entries.find(Fold(part));
        if (found != entries.end()) {
            TAnaTree* child = node->AnaChild(found->second);
            bool& deleted = IsKey(child) ? KeyOf(child).Deleted : SectOf(child).Deleted;
            if (deleted) {
                if (!create) return nullptr;
                deleted = false;
                modified_ = true;
                if (IsGroup(child))
                    for (TTree* grandChild : child->Children()) {
                        auto* entry = static_cast<TAnaTree*>(grandChild);
                        if (IsKey(entry))
                            KeyOf(entry).Deleted = true;
                        else if (IsGroup(entry))
                            SectOf(entry).Deleted = true;
                    }
            }
            node = child;
        } else {
            if (!create) return nullptr;
            node = AddEntry(node, std::string(part), more);
            if (!more) wantKey = false;
        }
    }
    return node == document_ ? nullptr : node;
}

std::string TXMLConfig::KeyValue(const TAnaTree* key) const {
    const TKeyData& data = KeyOf(key);
    if (key->Start == -1 || !data.Value.empty()) return data.Value;
    const TAnaTree* valueNode = nullptr;
    if (key->Count() == 2)
        valueNode = key->AnaChild(1);
    else if (key->Count() == 1 && key->AnaChild(0)->ElementIndex == kDataRule)
        valueNode = key->AnaChild(0);
    std::string_view raw = analyser_->NodeText(valueNode);
    if (raw.substr(0, 2) == "\r\n") raw.remove_prefix(2);
    return DecodeEntities(raw, false);
}

std::string TXMLConfig::ReadValue(const std::string& section, const std::string& key, const std::string& defaultValue) {
    TAnaTree* node = FindEntry(TrimChar(section, '.') + "." + TrimChar(key, '.'), false, true);
    if (!node || !IsKey(node)) return defaultValue;
    return KeyValue(node);
}

void TXMLConfig::WriteValue(const std::string& section, const std::string& key, const std::string& value) {
    TAnaTree* node = FindEntry(section + "." + key, true, true);
    if (!node || !IsKey(node)) return;
    node->Start = -1;
    KeyOf(node).Value = value;
    modified_ = true;
}

void TXMLConfig::ListKeys(const std::string& section, TStringList& list) {
    list.clear();
    TAnaTree* node = FindEntry(section, false, false);
    if (!node || !IsGroup(node)) return;
    for (TTree* child : node->Children()) {
        auto* entry = static_cast<TAnaTree*>(child);
        if (IsKey(entry) && !KeyOf(entry).Deleted) list.push_back(KeyOf(entry).Name);
    }
}

void TXMLConfig::ListSections(TStringList& list) {
    list.clear();
    for (TTree* child : document_->Children()) {
        auto* entry = static_cast<TAnaTree*>(child);
        if (entry->ElementIndex == kGroupRule && IsGroup(entry) && !SectOf(entry).Deleted)
            list.push_back(SectOf(entry).Name);
    }
}

void TXMLConfig::ListKeyValues(const std::string& section, TStringList& list) {
    list.clear();
    TAnaTree* node = FindEntry(section, false, false);
    if (!node || !IsGroup(node)) return;
    for (TTree* child : node->Children()) {
        auto* entry = static_cast<TAnaTree*>(child);
        if (IsKey(entry) && !KeyOf(entry).Deleted) list.push_back(KeyOf(entry).Name + "=" + KeyValue(entry));
    }
}

void TXMLConfig::DeleteSection(const std::string& section) { DeleteEntry(section, ""); }

void TXMLConfig::DeleteEntry(const std::string& section, const std::string& key) {
    TAnaTree* node = FindEntry(section + "." + key, false, false);
    if (!node) return;
    if (IsKey(node))
        KeyOf(node).Deleted = true;
    else
        SectOf(node).Deleted = true;
    modified_ = true;
}

void TXMLConfig::WriteEntries(const TAnaTree* node, int level, std::string& out) const {
    const char* keyOpen = shortForm_ ? "<p n=\"" : "<param name=\"";
    const char* keyClose = shortForm_ ? "</p>\r\n" : "</param>\r\n";
    const char* groupOpen = shortForm_ ? "<g n=\"" : "<group name=\"";
    const char* groupClose = shortForm_ ? "</g>\r\n" : "</group>\r\n";
    const std::size_t indent = static_cast<std::size_t>(level);
    for (TTree* child : node->Children()) {
        auto* entry = static_cast<const TAnaTree*>(child);
        if (IsKey(entry)) {
            if (KeyOf(entry).Deleted) continue;
            std::string value = KeyValue(entry);
            out.append(indent, ' ');
            out += keyOpen;
            AppendName(out, KeyOf(entry).Name);
            out += "\">";
            // A multi-line value starts on its own line; reading drops that break.
            if (value.find("\r\n") != std::string::npos) out += "\r\n";
            AppendValue(out, value);
            out += keyClose;
        } else if (entry->ElementIndex == kGroupRule && IsGroup(entry)) {
            if (SectOf(entry).Deleted) continue;
            out.append(indent, ' ');
            out += groupOpen;
            AppendName(out, SectOf(entry).Name);
            out += "\">\r\n";
            WriteEntries(entry, level + 1, out);
            out.append(indent, ' ');
            out += groupClose;
        }
    }
}

std::string TXMLConfig::DocumentText() const {
    std::string entries;
    entries.reserve(static_cast<std::size_t>(analyser_->TextLength()) + 4096);
    WriteEntries(document_, 0, entries);
    return FileText(info_, entries);
}

void TXMLConfig::SaveFile() {
    if (writable_) SaveTextFileAtomic(DocumentText(), FileName());
    modified_ = false;
}

void TXMLConfig::CopyGroup(const TAnaTree* group, TCustomIniFile& target, const std::string& section) const {
    for (TTree* child : group->Children()) {
        auto* entry = static_cast<const TAnaTree*>(child);
        if (IsKey(entry)) {
            if (!KeyOf(entry).Deleted) target.WriteValue(section, KeyOf(entry).Name, KeyValue(entry));
        } else if (entry->ElementIndex == kGroupRule && IsGroup(entry) && !SectOf(entry).Deleted) {
            CopyGroup(entry, target, section + "." + SectOf(entry).Name);
        }
    }
}

void TXMLConfig::CopySection(TXMLConfig& source, TCustomIniFile& target, const std::string& path,
                             const std::string& prefix) {
    TAnaTree* group = source.FindEntry(path, false, false);
    if (!group || !source.IsGroup(group)) return;
    source.CopyGroup(group, target, prefix.empty() ? path : prefix + "." + path);
}
