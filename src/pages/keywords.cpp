// Keywords of the contents entries and the options that shape them.
#include "pages/keywords.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>

#include "base/fast_search.h"
#include "base/shared_functions.h"
#include "pages/contents_tree.h"
#include "services/configer.h"
#include "text/pair_finder.h"

namespace {

// A fixed pattern, compiled once: case-insensitive, unanchored, byte mode
// (our texts need not be valid UTF-8).
class TFixedRegex {
public:
    explicit TFixedRegex(const char* pattern) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, PCRE2_CASELESS, &error,
                              &offset, nullptr);
    }
    ~TFixedRegex() { pcre2_code_free(code_); }
    TFixedRegex(const TFixedRegex&) = delete;
    TFixedRegex& operator=(const TFixedRegex&) = delete;

    // Every match replaced by replacement (taken literally).
    std::string ReplaceAll(const std::string& text, std::string_view replacement) const {
        if (!code_) return text;
        std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> match(
            pcre2_match_data_create_from_pattern(code_, nullptr), &pcre2_match_data_free);
        std::string out;
        out.reserve(text.size());
        const auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
        PCRE2_SIZE at = 0;
        while (at <= text.size()) {
            int rc = pcre2_match(code_, subject, text.size(), at, 0, match.get(), nullptr);
            if (rc < 0) break;
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(match.get());
            out.append(text, at, ov[0] - at);
            out.append(replacement);
            at = ov[1];
            if (ov[1] == ov[0]) {  // an empty match cannot occur with our patterns; never loop on one
                if (at < text.size()) out.push_back(text[at]);
                ++at;
            }
        }
        if (at < text.size()) out.append(text, at, std::string::npos);
        return out;
    }

private:
    pcre2_code* code_ = nullptr;
};

// Length in characters of a UTF-8 text (continuation bytes not counted).
int CharacterCount(std::string_view text) {
    int n = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

TCustomStrFinder& KeywordIndex(TChmTreeItem& entry) { return *entry.Tree->Keywords; }

// Enters the keyword for the entry unless it holds it already; true when
// entered. listedAt is KeywordIndexOf(entry, keyword). A case-sensitive index
// holds exactly the entry's listed keywords, so a keyword the list lacks is
// new and the index's list of entries for it need not be walked: for a
// common title that list grows with the collection.
bool EnterKeyword(TChmTreeItem& entry, std::string_view keyword, int listedAt) {
    TCustomStrFinder& index = KeywordIndex(entry);
    if (!index.IgnoreCase && listedAt < 0) {
        index.Add(keyword, entry.KeywordId());
        return true;
    }
    return index.AddUnique(keyword, entry.KeywordId());
}

int ReadLength(TConfiger& config, const char* key, int fallback) {
    long long value = 0;
    if (!TryStrToInt(config.ReadString("Options", key), value)) return fallback;
    return static_cast<int>(value);
}

}  // namespace

char KeywordKindLetter(TKeywordKind kind) {
    static const char kLetters[KeywordKindCount + 1] = "?-+KBIU1324567";
    return kind < KeywordKindCount ? kLetters[kind] : '?';
}

TKeywordKind HeadingKind(int level) {
    switch (level) {
        case 1: return kkH1;
        case 2: return kkH2;
        case 3: return kkH3;
        case 4: return kkH4;
        case 5: return kkH5;
        case 6: return kkH6;
        case 7: return kkH7;
        default: return kkUnknown;
    }
}

TKeywordOptions ReadKeywordOptions() {
    TKeywordOptions options;
    TConfiger* config = AppConfiger();
    if (!config) return options;
    options.MaxLength = ReadLength(*config, "Preferences.Keywords.MaxLen", 32);
    options.MinLength = ReadLength(*config, "Preferences.Keywords.MinLen", 4);
    auto flag = [&](const std::string& name) { return config->ReadBool("Options", "Preferences.Keywords." + name); };
    if (flag("SetKeyword")) options.Kinds |= KindBit(kkKeyTag);
    if (flag("SetB")) options.Kinds |= KindBit(kkB);
    if (flag("SetI")) options.Kinds |= KindBit(kkI);
    if (flag("SetU")) options.Kinds |= KindBit(kkU);
    for (int level = 1; level <= 7; ++level)
        if (flag("SetH" + std::to_string(level))) options.Kinds |= KindBit(HeadingKind(level));
    options.IgnoreCase = flag("IgnoreCase");
    return options;
}

void LoadKeywordOptions(TChmTree& tree) {
    const TKeywordOptions options = ReadKeywordOptions();
    tree.MaxKeywordLength = options.MaxLength;
    tree.MinKeywordLength = options.MinLength;
    tree.KeywordKinds = options.Kinds | KindBit(kkUser);
    if (tree.Keywords) tree.Keywords->IgnoreCase = options.IgnoreCase;
}

int KeywordIndexOf(const TChmTreeItem& entry, std::string_view keyword) {
    if (const TKeywordLookup* lookup = entry.KeywordLookup();
        lookup && !keyword.empty() && keyword.find(',') == std::string_view::npos)
        return lookup->Find(entry.KeywordList, keyword);
    std::string needle = ",";
    needle += keyword;
    needle += ',';
    const int found = PosFromNoCase(needle, entry.KeywordList, 1);
    if (found == 0) return -1;
    int commas = 0;
    for (int i = 0; i < found; ++i)
        if (entry.KeywordList[static_cast<std::size_t>(i)] == ',') ++commas;
    return commas - 1;
}

namespace {

// Texts that SameText finds equal hash alike.
std::uint32_t FoldedHash(std::string_view text) {
    const auto& fold = FoldTable();
    std::uint32_t h = 2166136261u;
    for (char c : text) h = (h ^ fold[static_cast<unsigned char>(c)]) * 16777619u;
    return h;
}

}  // namespace

TKeywordLookup::TKeywordLookup(std::string_view list) {
    ForEachListedKeyword(list, [&](std::string_view keyword, int) {
        starts_.push_back(static_cast<std::uint32_t>(keyword.data() - list.data()));
    });
    Rehash(list);
}

void TKeywordLookup::Append(std::string_view list, std::size_t start) {
    starts_.push_back(static_cast<std::uint32_t>(start));
    if (starts_.size() * 2 > slots_.size())
        Rehash(list);
    else
        Enter(list, static_cast<std::uint32_t>(starts_.size() - 1));
}

std::string_view TKeywordLookup::KeywordAt(std::string_view list, std::size_t position) const {
    const std::size_t start = starts_[position];
    const std::size_t end = list.find(',', start);
    return list.substr(start, (end == std::string_view::npos ? list.size() : end) - start);
}

void TKeywordLookup::Enter(std::string_view list, std::uint32_t position) {
    const std::string_view keyword = KeywordAt(list, position);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = FoldedHash(keyword) & mask;; i = (i + 1) & mask) {
        if (slots_[i] == 0) {
            slots_[i] = position + 1;
            return;
        }
        if (SameText(KeywordAt(list, slots_[i] - 1), keyword)) return;
    }
}

void TKeywordLookup::Rehash(std::string_view list) {
    std::size_t size = 64;
    while (size < starts_.size() * 4) size *= 2;
    slots_.assign(size, 0);
    for (std::size_t p = 0; p < starts_.size(); ++p) Enter(list, static_cast<std::uint32_t>(p));
}

int TKeywordLookup::Find(std::string_view list, std::string_view key) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = FoldedHash(key) & mask; slots_[i] != 0; i = (i + 1) & mask)
        if (SameText(KeywordAt(list, slots_[i] - 1), key)) return static_cast<int>(slots_[i] - 1);
    return -1;
}

void AddUserKeyword(TChmTreeItem& entry, std::string_view text) {
    if (!entry.Tree || !entry.Tree->Keywords) return;
    std::string keyword(text);
    for (char& c : keyword)
        if (c == ',') c = ' ';
    // A keyword of nothing but blanks would be an index line without a name.
    if (Trim(keyword).empty()) return;
    const int at = KeywordIndexOf(entry, keyword);
    if (EnterKeyword(entry, keyword, at)) {
        entry.AppendKeyword(keyword, kkUser);
    } else {
        if (at >= 0 && at < static_cast<int>(entry.KeywordKindList.size()))
            entry.KeywordKindList[static_cast<std::size_t>(at)] = kkUser;
    }
    entry.MarkModified();
}

void AddKeywords(TChmTreeItem& entry, std::string_view text, TKeywordKind kind, bool checkLength) {
    if (text.empty() || !entry.Tree || !entry.Tree->Keywords) return;
    static const TFixedRegex kTags("<[^>]+>");
    static const TFixedRegex kWhiteSpace("\\s+");

    std::string t(text);
    ReplaceAll(t, "\xC2\xA0", " ", true);  // no-break space
    ReplaceAll(t, "<p>", ",", true);
    t = kTags.ReplaceAll(t, "");
    t = HtmlToText(t);
    t = kWhiteSpace.ReplaceAll(t, " ");

    TChmTree& tree = *entry.Tree;
    TCustomStrFinder& index = *tree.Keywords;
    const int length = static_cast<int>(t.size());
    int start = 1;
    while (start >= 1 && start <= length) {
        const int comma = FindCharFrom(t, ",", start, true);
        const int end = comma > 0 ? comma : length + 1;
        std::string part = Trim(
            std::string_view(t).substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(end - start)));
        if (!part.empty() && part.front() == '"' && part.back() == '"') {
            part.front() = ' ';
            part.back() = ' ';
            part = Trim(part);
        }
        const int chars = CharacterCount(part);
        const bool fits = !checkLength || (chars <= tree.MaxKeywordLength && chars >= tree.MinKeywordLength);
        if (!part.empty() && fits && EnterKeyword(entry, part, KeywordIndexOf(entry, part)))
            entry.AppendKeyword(index.IgnoreCase ? UpperCase(part) : part, kind);
        if (comma == 0) break;
        start = FindCharFrom(t, ",", comma + 1, false);
    }
    entry.MarkModified();
}

void ExtractKeywords(TChmTreeItem& entry, std::string_view pageText) {
    if (!entry.Tree || !entry.Tree->Keywords) return;
    TCustomStrFinder& index = KeywordIndex(entry);
    const TStrId id = entry.KeywordId();
    std::string userKeywords;
    ForEachListedKeyword(entry.KeywordList, [&](std::string_view keyword, int at) {
        index.Remove(keyword, id);
        if (at < static_cast<int>(entry.KeywordKindList.size()) &&
            entry.KeywordKindList[static_cast<std::size_t>(at)] == kkUser) {
            userKeywords += keyword;
            userKeywords += ',';
        }
    });
    entry.ClearKeywords();
    AddKeywords(entry, userKeywords, kkUser, true);

    TPairFinder finder;
    finder.AddPair("name=\"keywords\"\r\ncontent=\"", "\"").Tag = kkKeyTag;
    static const struct {
        const char* name;
        TKeywordKind kind;
    } kElements[] = {{"b", kkB}, {"strong", kkB}, {"i", kkI}, {"em", kkI}, {"u", kkU}};
    for (const auto& element : kElements) {
        const std::string name = element.name;
        finder.AddPair("<" + name + " \r\n>", "</" + name + ">").Tag = element.kind;
        finder.AddPair("<" + name + ">", "</" + name + ">").Tag = element.kind;
    }
    for (int level = 1; level <= 7; ++level) {
        const std::string n = std::to_string(level);
        finder.AddPair("<h" + n + "\r\n>", "</h" + n + ">").Tag = HeadingKind(level);
    }
    if (finder.FindFirst(pageText)) {
        do AddKeywords(entry, finder.Content(), static_cast<TKeywordKind>(finder.Matched().Tag), true);
        while (finder.FindNext());
    }
    entry.MarkModified();
}
