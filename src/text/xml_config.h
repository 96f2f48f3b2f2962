#pragma once
// An ini-style settings store (sections, keys, text values) kept in a small
// XML file. Dots in a section or key open nested groups, so "Options" /
// "General.LangFile" is the key LangFile in group General inside Options.
// The file is parsed once, at creation; the parse tree is the document.
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>

#include "base/custom_ini_file.h"
#include "text/analyser.h"

// Decoration of the document node and of every group node.
struct TSectData {
    std::string Name;
    bool Deleted = false;
    // Entry name, letter case folded -> position among the node's children.
    std::unordered_map<std::string, int> Entries;
};

// Decoration of every key node.
struct TKeyData {
    std::string Name;
    std::string Value;  // holds the value once the key is written or created
    bool Deleted = false;
};

class TXMLConfig : public TCustomIniFile {
public:
    // Loads the file, or creates it (written at once when writable) with an
    // empty document. Raises EParseError with "Error in config file ..." when
    // the file does not parse; the file is not touched then.
    TXMLConfig(const std::string& fileName, bool writable);
    // Saves when modified (and writable).
    ~TXMLConfig() override;

    TXMLConfig(const TXMLConfig&) = delete;
    TXMLConfig& operator=(const TXMLConfig&) = delete;

    std::string ReadValue(const std::string& section, const std::string& key, const std::string& defaultValue) override;
    void WriteValue(const std::string& section, const std::string& key, const std::string& value) override;
    void ListKeys(const std::string& section, TStringList& list) override;
    void ListSections(TStringList& list) override;
    void ListKeyValues(const std::string& section, TStringList& list) override;
    void DeleteSection(const std::string& section) override;
    void DeleteEntry(const std::string& section, const std::string& key) override;
    // Writes the whole document when writable; clears Modified either way.
    void SaveFile() override;

    // The file text that SaveFile writes.
    std::string DocumentText() const;

    bool Writable() const { return writable_; }
    bool Modified() const { return modified_; }
    // Short element names (<p n=..>, <g n=..>) when writing; off at creation.
    bool ShortForm() const { return shortForm_; }
    void SetShortForm(bool value) { shortForm_ = value; }
    // The text of the info element; replace it before the file is written.
    const std::string& Info() const { return info_; }
    void SetInfo(const std::string& value) { info_ = value; }

    // Copies every key below the group path of source into target with
    // WriteValue, under the full dotted section (prefixed by prefix + "."
    // when prefix is not empty). Nothing happens when path is not found.
    static void CopySection(TXMLConfig& source, TCustomIniFile& target, const std::string& path,
                            const std::string& prefix);

private:
    TAnaTree* FindEntry(const std::string& path, bool create, bool wantKey);
    void Decorate(TAnaTree* node);
    TAnaTree* AddEntry(TAnaTree* parent, const std::string& name, bool group);
    void ConvertToGroup(TAnaTree* key);
    std::string KeyValue(const TAnaTree* key) const;
    void WriteEntries(const TAnaTree* node, int level, std::string& out) const;
    void CopyGroup(const TAnaTree* group, TCustomIniFile& target, const std::string& section) const;
    bool IsKey(const TAnaTree* node) const;
    bool IsGroup(const TAnaTree* node) const;

    bool writable_;
    bool modified_ = false;
    bool shortForm_ = false;
    std::string info_;
    std::unique_ptr<TAnalyser> analyser_;
    TAnaTree* document_ = nullptr;
    // Owners of the nodes' decorations; deques keep addresses stable.
    std::deque<TSectData> sections_;
    std::deque<TKeyData> keys_;
};
