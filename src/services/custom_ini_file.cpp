#include "services/custom_ini_file.h"

long long TCustomIniFile::ReadNumber(const std::string& section, const std::string& key, long long defaultValue) {
    std::string text = ReadValue(section, key, "");
    long long value;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (TryStrToInt(text, value)) return value;
        return defaultValue;
    }
    if (!text.empty() && (text[0] == '$')) return defaultValue;
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
