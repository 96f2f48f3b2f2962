#include "base/language.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <unordered_set>

#include "base/shared_functions.h"

namespace {

std::unique_ptr<TLanguage>& LanguageSlot() {
    static std::unique_ptr<TLanguage> slot;
    return slot;
}

// Blanks around keys and values are dropped; a value in matching quotes loses them.
std::string ProfileValue(std::string_view raw) {
    std::string v = Trim(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > 2047) v.resize(2047);
    return v;
}

std::string_view KeyOf(const std::string& line) { return std::string_view(line).substr(0, line.find('=')); }

// Far above any language file; a bigger one is not one.
constexpr std::int64_t kLargestLanguageFile = 1 << 20;

// The file's text when it is a regular file of sensible size; never waits on
// a fifo nor reads a device without end.
std::string LoadLanguageText(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    if (!ReadSmallRegularFile(fd, kLargestLanguageFile, text)) text.clear();
    ::close(fd);
    return text;
}

}  // namespace

TLanguage::TLanguage(std::string fileName) : languageFile_(std::move(fileName)) {
    // Our own reader of the profile-file format: sections in brackets, one
    // key=value per line, keys without regard to case, first occurrence wins.
    std::string text = LoadLanguageText(languageFile_);
    std::vector<std::pair<std::string, std::string>> entries;
    std::unordered_set<std::string> seenKeys;  // folded
    bool inMessages = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find_first_of("\r\n", pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = Trim(std::string_view(text).substr(pos, eol - pos));
        pos = eol + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inMessages = SameText(name, "Messages");
            continue;
        }
        if (!inMessages) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = Trim(line.substr(0, eq));
        if (key.empty()) continue;
        if (seenKeys.insert(LowerCase(key)).second) entries.emplace_back(key, ProfileValue(line.substr(eq + 1)));
    }
    // Sorted by the key alone, the order Lookup bisects in. Whole lines would
    // put "AB0=..." before "AB=..." and hide the key AB from the bisection.
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return CompareText(a.first, b.first) < 0; });
    messages_.reserve(entries.size());
    for (auto& [key, value] : entries) messages_.push_back(key + "=" + value);
}

std::string TLanguage::Lookup(std::string_view key) const {
    auto it =
        std::lower_bound(messages_.begin(), messages_.end(), key,
                         [](const std::string& line, std::string_view k) { return CompareText(KeyOf(line), k) < 0; });
    if (it != messages_.end() && SameText(KeyOf(*it), key)) return it->substr(it->find('=') + 1);
    return {};
}

TLanguage* AppLanguage() { return LanguageSlot().get(); }

void SetAppLanguage(std::unique_ptr<TLanguage> language) { LanguageSlot() = std::move(language); }

std::string Translate(std::string_view text, std::string_view params) {
    std::string result(text);
    // Without a table the English text stands, still with its parameters filled.
    if (TLanguage* table = AppLanguage()) {
        std::string translated = table->Lookup(HexEncode(Md5Digest(text)));
        if (!translated.empty()) result = translated;
    }
    SubstituteParams(result, params);
    return result;
}

std::string Params(std::initializer_list<std::string_view> values) {
    // Every value ends its line, so an empty value still counts.
    std::string out;
    for (auto v : values) {
        out.append(v);
        out += "\r\n";
    }
    return out;
}

std::string TranslateLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t eol = text.find('\n', pos);
        const bool last = eol == std::string_view::npos;
        if (last) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        std::string_view ending;
        if (!line.empty() && line.back() == '\r') {
            ending = line.substr(line.size() - 1);
            line.remove_suffix(1);
        }
        out += Trim(line).empty() ? std::string(line) : Translate(line);
        out += ending;
        if (last) break;
        out += '\n';
        pos = eol + 1;
    }
    return out;
}

std::string MessagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return {};
}

std::string LocaleLanguageFile(const std::string& folder, std::string_view locale) {
    // "de_DE.UTF-8@euro": the codeset and the modifier do not choose the language.
    std::string_view name = locale.substr(0, locale.find_first_of(".@"));
    const bool wellFormed = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
    if (!wellFormed || name == "C" || name == "POSIX") return {};
    std::vector<std::string> candidates{std::string(name)};
    if (const std::size_t underscore = name.find('_'); underscore != std::string_view::npos)
        candidates.emplace_back(name.substr(0, underscore));
    for (const std::string& candidate : candidates) {
        const std::string file = JoinPath(folder, candidate + ".lng");
        if (FileExists(file)) return file;
    }
    return {};
}
