// Parses the help project file: options, windows and the list of files.
#include "chmwriter/chm_project.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace {

std::string_view TrimView(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

bool YesValue(std::string_view value) {
    const std::string v = Lower(TrimView(value));
    return v == "yes" || v == "1" || v == "true" || v == "on";
}

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
    text = TrimView(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    const auto v = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - v) : v;
}

// Splits a window definition at the commas outside quotes and brackets.
std::vector<std::string> SplitWindowFields(std::string_view text) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    int bracket = 0;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (!quoted && c == '[') ++bracket;
        if (!quoted && c == ']') --bracket;
        if (c == ',' && !quoted && bracket == 0)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

TChmWindowDefinition ParseWindow(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) throw std::runtime_error("window definition without \"=\": " + std::string(line));
    TChmWindowDefinition window;
    window.Name = std::string(TrimView(line.substr(0, eq)));
    if (window.Name.size() >= 2 && window.Name.front() == '"' && window.Name.back() == '"')
        window.Name = window.Name.substr(1, window.Name.size() - 2);
    const std::vector<std::string> fields = SplitWindowFields(line.substr(eq + 1));
    for (std::size_t i = 0; i < fields.size() && i < TChmWindowDefinition::kFieldCount; ++i) {
        std::string_view f = TrimView(fields[i]);
        if (f.empty()) continue;
        if (i == TChmWindowDefinition::fPosition) {
            if (f.front() != '[' || f.back() != ']')
                throw std::runtime_error("window position is not [left,top,right,bottom]: " + std::string(f));
            const std::vector<std::string> parts = SplitWindowFields(f.substr(1, f.size() - 2));
            if (parts.size() != 4)
                throw std::runtime_error("window position is not [left,top,right,bottom]: " + std::string(f));
            std::array<std::int32_t, 4> rect{};
            for (int k = 0; k < 4; ++k) {
                const auto n = ParseNumber(parts[k]);
                if (!n) throw std::runtime_error("window position is not [left,top,right,bottom]: " + std::string(f));
                rect[k] = static_cast<std::int32_t>(*n);
            }
            window.Position = rect;
        }
        if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
        window.Fields[i] = std::string(f);
    }
    return window;
}

}  // namespace

std::optional<std::uint32_t> TChmWindowDefinition::Number(TField field) const {
    if (!Fields[field]) return std::nullopt;
    return ParseNumber(*Fields[field]);
}

std::optional<std::uint32_t> ParseLanguageId(std::string_view value) {
    value = TrimView(value);
    const std::size_t end = value.find_first_of(" \t");
    return ParseNumber(value.substr(0, end));
}

std::string NormalizeAddress(std::string_view address) {
    std::string a(TrimView(address));
    std::replace(a.begin(), a.end(), '\\', '/');
    std::string result;
    std::size_t start = 0;
    while (start <= a.size()) {
        std::size_t end = a.find('/', start);
        if (end == std::string::npos) end = a.size();
        const std::string_view part = std::string_view(a).substr(start, end - start);
        if (!part.empty() && part != ".") {
            if (!result.empty()) result += '/';
            result += part;
        }
        start = end + 1;
    }
    return result;
}

TChmProject ParseChmProject(std::string_view text, const std::string& folder) {
    TChmProject project;
    project.Folder = folder;
    std::string section;
    std::set<std::string> seen;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = TrimView(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[' && line.find(']') != std::string_view::npos) {
            section = Lower(TrimView(line.substr(1, line.find(']') - 1)));
            continue;
        }
        if (section == "options") {
            const std::size_t eq = line.find('=');
            if (eq == std::string_view::npos) continue;
            const std::string key = Lower(TrimView(line.substr(0, eq)));
            const std::string value(TrimView(line.substr(eq + 1)));
            if (key == "contents file")
                project.ContentsFile = NormalizeAddress(value);
            else if (key == "index file")
                project.IndexFile = NormalizeAddress(value);
            else if (key == "default topic")
                project.DefaultTopic = NormalizeAddress(value);
            else if (key == "title")
                project.Title = value;
            else if (key == "default window")
                project.DefaultWindow = value;
            else if (key == "compiled file")
                project.CompiledFile = value;
            else if (key == "default font")
                project.DefaultFont = value;
            else if (key == "full-text search")
                project.FullTextSearch = YesValue(value);
            else if (key == "binary index")
                project.BinaryIndex = YesValue(value);
            else if (key == "language") {
                if (auto id = ParseLanguageId(value)) project.LanguageId = *id;
            }
        } else if (section == "windows") {
            project.Windows.push_back(ParseWindow(line));
        } else if (section == "files") {
            std::string address = NormalizeAddress(line);
            if (!address.empty() && seen.insert(address).second) project.Files.push_back(std::move(address));
        }
    }
    return project;
}
