#pragma once
// The configuration service: the single door through which every subsystem
// reads and writes its settings, by section and key, all values as text.
#include <memory>
#include <string>

#include "base/custom_ini_file.h"

class TConfiger {
public:
    // Serves settings from the given store (the XML configuration file in the
    // program; any store in tests). Creates the language table when none
    // exists yet, from "Options" / "General.LangFile" joined to ExeDir; when
    // that is empty, the language file of the user's locale (see
    // LocaleLanguageFile), else "default.lng".
    explicit TConfiger(std::unique_ptr<TCustomIniFile> store);
    // Writes the store (SaveFile), then frees it.
    ~TConfiger();

    TConfiger(const TConfiger&) = delete;
    TConfiger& operator=(const TConfiger&) = delete;

    // The underlying store; callers use it only to ask for an immediate SaveFile.
    TCustomIniFile& Ini() { return *store_; }

    // Stored value, or empty text when absent. Callers apply their own defaults.
    std::string ReadString(const std::string& section, const std::string& key);
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    // True for a whole number other than 0 ("0x" prefix: hexadecimal); false otherwise.
    bool ReadBool(const std::string& section, const std::string& key);
    void WriteBool(const std::string& section, const std::string& key, bool value);

private:
    std::unique_ptr<TCustomIniFile> store_;
};

// The program's configuration service; null until it is opened.
TConfiger* AppConfiger();
void SetAppConfiger(std::unique_ptr<TConfiger> configer);

// Where the configuration file lives: beside the executable when that folder
// is writable and not an installed copy, otherwise
// $XDG_CONFIG_HOME/orvalis/orvalis.conf.xml.
std::string ConfigFileName();
// A file of this name beside the executable marks an installed copy, whose
// folder is never written to, not even by root.
inline constexpr const char* kInstalledMarker = "installed";
// Opens the configuration file (creating it on first start) as AppConfiger.
// A file that cannot be loaded gives false with the message in errorMessage,
// and the file is left exactly as it was. Every front end calls this before
// doing real work; on false it shows the message and exits with status 2.
bool OpenAppConfiger(std::string& errorMessage);
// Destroys AppConfiger, which writes the configuration file.
void CloseAppConfiger();

// Copies every value below the group path of source into target with
// WriteValue, keeping the full dotted section (after prefix + "." when prefix
// is not empty). Works for the XML configuration file and the in-memory store.
void CopySection(TCustomIniFile& source, TCustomIniFile& target, const std::string& path, const std::string& prefix);

// A store kept in memory only; for tests and for runs that must not touch the
// user's configuration. Sections and keys are joined with "." as in the file.
class TMemIniFile : public TCustomIniFile {
public:
    TMemIniFile() : TCustomIniFile("") {}
    std::string ReadValue(const std::string& section, const std::string& key, const std::string& defaultValue) override;
    void WriteValue(const std::string& section, const std::string& key, const std::string& value) override;
    void ListKeys(const std::string& section, TStringList& list) override;
    void ListSections(TStringList& list) override;
    void ListKeyValues(const std::string& section, TStringList& list) override;
    void DeleteSection(const std::string& section) override;
    void DeleteEntry(const std::string& section, const std::string& key) override;
    void SaveFile() override {}
    // CopySection for this store.
    void CopySectionTo(TCustomIniFile& target, const std::string& path, const std::string& prefix) const;

private:
    std::vector<std::pair<std::string, std::string>> entries_;  // "Section.Key" -> value, in order
};
