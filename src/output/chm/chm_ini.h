#pragma once
// Settings of the help project: window definitions and compiler options,
// held as a write-only tree from which the "[Windows]" and "[Options]"
// sections of the project file are made.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/custom_ini_file.h"
#include "base/exceptions.h"
#include "base/tree.h"

// Raised by every read of the settings (with an empty message).
ORVALIS_DECLARE_ERROR(EMethodNotAllowed, Exception);

// One node of the settings tree: a setting at A.B.C lives in node C below B
// below A below the root.
class TChmTreeInternal : public TTree {
public:
    explicit TChmTreeInternal(TTree* parent = nullptr, std::string name = {}) : TTree(parent), Name(std::move(name)) {}

    std::string Name;
    std::string Value;

    TChmTreeInternal* Item(int index) const { return static_cast<TChmTreeInternal*>(Child(index)); }
};

// A property of a window definition: the field of the window line it feeds,
// and the flag it sets there when its value is "1" (0: it supplies the text).
struct TWindowDefPart {
    const char* Name;
    int Field;
    unsigned Flag;
};

class TChmIni : public TCustomIniFile {
public:
    // From a file name to its address in the project.
    using TPathMapper = std::function<std::string(std::string_view fileName)>;

    TChmIni();

    std::unique_ptr<TChmTreeInternal> Root;
    TPathMapper PathMapper;

    // Stores value at section + "." + key, creating missing nodes.
    void WriteValue(const std::string& section, const std::string& key, const std::string& value) override;
    // The settings are write-only: these raise EMethodNotAllowed (and so do
    // ReadNumber and ReadFlag, which read through ReadValue).
    std::string ReadValue(const std::string& section, const std::string& key, const std::string& defaultValue) override;
    void ListKeys(const std::string& section, TStringList& list) override;
    void ListSections(TStringList& list) override;
    void ListKeyValues(const std::string& section, TStringList& list) override;
    void DeleteSection(const std::string& section) override;
    void DeleteEntry(const std::string& section, const std::string& key) override;
    // Nothing to save: the settings live only as long as the project.
    void SaveFile() override {}

    // The node at a dotted path below start (exact letter case), start itself
    // for an empty path; missing nodes are appended when create is set,
    // otherwise the answer is null.
    static TChmTreeInternal* FindNode(TChmTreeInternal* start, std::string_view path, bool create);

    // Texts for the "&Properties;" mark of the contents and index files.
    std::string ContentsProperties() const { return {}; }
    std::string IndexProperties() const { return {}; }

    // The "[Windows]" and "[Options]" text of the project file, from the
    // settings below "Options.HHP"; an empty "Default topic" takes
    // defaultTopicFile.
    std::string ProjectSections(const std::string& defaultTopicFile) const;
};
