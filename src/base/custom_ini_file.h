#pragma once
// The ini-style settings store interface: values by section and key, all text.
#include <string>

#include "base/shared_functions.h"

class TCustomIniFile {
public:
    explicit TCustomIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
    virtual ~TCustomIniFile() = default;

    const std::string& FileName() const { return fileName_; }

    virtual std::string ReadValue(const std::string& section, const std::string& key,
                                  const std::string& defaultValue) = 0;
    virtual void WriteValue(const std::string& section, const std::string& key, const std::string& value) = 0;
    // Decimal text, or hexadecimal after "0x"/"0X"; defaultValue when no number.
    virtual long long ReadNumber(const std::string& section, const std::string& key, long long defaultValue);
    virtual void WriteNumber(const std::string& section, const std::string& key, long long value);
    virtual bool ReadFlag(const std::string& section, const std::string& key, bool defaultValue);
    virtual void WriteFlag(const std::string& section, const std::string& key, bool value);
    virtual void ListKeys(const std::string& section, TStringList& list) = 0;
    virtual void ListSections(TStringList& list) = 0;
    virtual void ListKeyValues(const std::string& section, TStringList& list) = 0;
    virtual void DeleteSection(const std::string& section) = 0;
    virtual void DeleteEntry(const std::string& section, const std::string& key) = 0;
    virtual void SaveFile() = 0;

private:
    std::string fileName_;
};
