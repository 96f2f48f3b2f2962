#include "services/configer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "base/exe_dir.h"
#include "platform/special_folders.h"
#include "base/language.h"
#include "text/analyser.h"
#include "text/xml_config.h"

namespace {

std::unique_ptr<TConfiger>& ConfigerSlot() {
    static std::unique_ptr<TConfiger> slot;
    return slot;
}

std::string JoinKey(const std::string& section, const std::string& key) {
    std::string s = TrimChar(section, '.'), k = TrimChar(key, '.');
    if (s.empty()) return k;
    if (k.empty()) return s;
    return s + "." + k;
}

// The language file the configuration names: a plain file name, found beside
// the program or in the user's data folder; empty text when there is none
// such (a path, "..", a device or fifo are never read).
std::string ChosenLanguageFile(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return {};
    for (const std::string& folder : {ExeDir(), UserDataFolder()}) {
        if (folder.empty()) continue;
        const std::string file = JoinPath(folder, name);
        if (FileExists(file)) return file;
    }
    return {};
}

}  // namespace

TConfiger::TConfiger(std::unique_ptr<TCustomIniFile> store) : store_(std::move(store)) {
    if (!AppLanguage()) {
        // An explicit choice wins; otherwise the user's locale picks the file,
        // and English (the empty default table) is left when none matches.
        std::string file = ChosenLanguageFile(ReadString("Options", "General.LangFile"));
        if (file.empty()) file = LocaleLanguageFile(ExeDir(), MessagesLocale());
        if (file.empty()) file = JoinPath(ExeDir(), "default.lng");
        SetAppLanguage(std::make_unique<TLanguage>(std::move(file)));
    }
}

TConfiger::~TConfiger() {
    try {
        store_->SaveFile();
    } catch (...) {
        // A destructor must not throw; the caller that cares saves explicitly.
    }
}

std::string TConfiger::ReadString(const std::string& section, const std::string& key) {
    return store_->ReadValue(section, key, "");
}

void TConfiger::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    store_->WriteValue(section, key, value);
}

bool TConfiger::ReadBool(const std::string& section, const std::string& key) {
    return store_->ReadFlag(section, key, false);
}

void TConfiger::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

TConfiger* AppConfiger() { return ConfigerSlot().get(); }

void SetAppConfiger(std::unique_ptr<TConfiger> configer) { ConfigerSlot() = std::move(configer); }

std::string ConfigFileName() {
    std::string name = RemoveExtension(ExtractFileName(ExePath()));
    if (name.empty()) name = "orvalis";
    name += ".conf.xml";
    const std::string& exeDir = ExeDir();
    if (!exeDir.empty() && !FileExists(JoinPath(exeDir, kInstalledMarker)) &&
        ::access(exeDir.c_str(), W_OK | X_OK) == 0)
        return JoinPath(exeDir, name);

    // An installed program's folder is not ours to write: use the XDG place.
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const std::string home = HomeFolder();
        base = JoinPath(home.empty() ? "/tmp" : home, ".config");
    }
    return JoinPath(JoinPath(base, "orvalis"), name);
}

bool OpenAppConfiger(std::string& errorMessage) {
    if (AppConfiger()) return true;
    const std::string fileName = ConfigFileName();
    try {
        ForceFolders("", fileName, true);
        auto store = std::make_unique<TXMLConfig>(fileName, true);
        SetAppConfiger(std::make_unique<TConfiger>(std::move(store)));
    } catch (const EParseError& e) {
        // Say where, and how to get going again; the file itself is the user's.
        int line = 0, column = 0;
        LineColumnOf(LoadTextFile(fileName), e.Position(), column, false, line);
        errorMessage = e.Message() + "\n" +
                       Translate(
                           "The problem is at line $1, column $2. The file was left as it is; to start afresh "
                           "with default settings, move it aside (for example to \"$3.old\") and start "
                           "Orvalis again.",
                           Params({std::to_string(line), std::to_string(column), fileName}));
        return false;
    } catch (const Exception& e) {
        // Nothing was written: a file that does not load stays as it is.
        errorMessage = e.Message();
        return false;
    }
    return true;
}

void CloseAppConfiger() { SetAppConfiger(nullptr); }

void CopySection(TCustomIniFile& source, TCustomIniFile& target, const std::string& path, const std::string& prefix) {
    if (auto* xml = dynamic_cast<TXMLConfig*>(&source))
        TXMLConfig::CopySection(*xml, target, path, prefix);
    else if (auto* mem = dynamic_cast<TMemIniFile*>(&source))
        mem->CopySectionTo(target, path, prefix);
}

void TMemIniFile::CopySectionTo(TCustomIniFile& target, const std::string& path, const std::string& prefix) const {
    if (path.empty()) return;
    const std::string below = path + ".";
    const std::string section = prefix.empty() ? path : prefix + "." + path;
    for (const auto& [k, v] : entries_) {
        if (k.size() <= below.size() || !SameText(std::string_view(k).substr(0, below.size()), below)) continue;
        std::string rest = k.substr(below.size());
        std::size_t dot = rest.rfind('.');
        if (dot == std::string::npos)
            target.WriteValue(section, rest, v);
        else
            target.WriteValue(section + "." + rest.substr(0, dot), rest.substr(dot + 1), v);
    }
}

std::string TMemIniFile::ReadValue(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) {
    std::string path = JoinKey(section, key);
    for (const auto& [k, v] : entries_)
        if (k == path) return v;
    return defaultValue;
}

void TMemIniFile::WriteValue(const std::string& section, const std::string& key, const std::string& value) {
    std::string path = JoinKey(section, key);
    for (auto& [k, v] : entries_)
        if (k == path) {
            v = value;
            return;
        }
    entries_.emplace_back(path, value);
}

void TMemIniFile::ListKeys(const std::string& section, TStringList& list) {
    list.clear();
    std::string prefix = TrimChar(section, '.') + ".";
    for (const auto& [k, v] : entries_)
        if (k.compare(0, prefix.size(), prefix) == 0 && k.find('.', prefix.size()) == std::string::npos)
            list.push_back(k.substr(prefix.size()));
}

void TMemIniFile::ListSections(TStringList& list) {
    list.clear();
    for (const auto& [k, v] : entries_) {
        std::string top = k.substr(0, k.find('.'));
        if (std::find(list.begin(), list.end(), top) == list.end()) list.push_back(top);
    }
}

void TMemIniFile::ListKeyValues(const std::string& section, TStringList& list) {
    ListKeys(section, list);
    for (auto& name : list) name += "=" + ReadValue(section, name, "");
}

void TMemIniFile::DeleteSection(const std::string& section) {
    std::string s = TrimChar(section, '.');
    std::erase_if(entries_,
                  [&](const auto& e) { return e.first == s || e.first.compare(0, s.size() + 1, s + ".") == 0; });
}

void TMemIniFile::DeleteEntry(const std::string& section, const std::string& key) {
    std::string path = JoinKey(section, key);
    std::erase_if(entries_, [&](const auto& e) { return e.first == path; });
}
