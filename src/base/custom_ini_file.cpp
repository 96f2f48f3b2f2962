#include "base/custom_ini_file.h"

long long TCustomIniFile::ReadNumber(const std::string& section, const std::string& key, long long defaultValue) {
    std::string text = ReadValue(section, key, "");
    // TryStrToInt also takes "$" for hexadecimal; stored numbers never use it.
    if (!text.empty() && text[0] == '$') return defaultValue;
    long long value;
    return TryStrToInt(text, value) ? value : defaultValue;
}

void TCustomIniFile::WriteNumber(const std::string& section, const std::string& key, long long value) {
    WriteValue(section, key, std::to_string(value));
}

bool TCustomIniFile::ReadFlag(const std::string& section, const std::string& key, bool defaultValue) {
    return ReadNumber(section, key, defaultValue ? 1 : 0) != 0;
}

void TCustomIniFile::WriteFlag(const std::string& section, const std::string& key, bool value) {
    WriteValue(section, key, value ? "1" : "0");
}
