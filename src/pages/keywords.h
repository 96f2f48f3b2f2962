#pragma once
// Index keywords of contents entries: where each keyword came from, which
// origins the index lists, and how keywords are taken from a page's HTML.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TChmTree;
class TChmTreeItem;

// Origin of a keyword. The order is part of the stored project format: level 3
// comes before level 2.
enum TKeywordKind : std::uint8_t {
    kkUnknown = 0,
    kkRemoved = 1,
    kkUser = 2,    // set by the program
    kkKeyTag = 3,  // meta keywords tag
    kkB = 4,       // bold or strong
    kkI = 5,       // italic or emphasised
    kkU = 6,       // underlined
    kkH1 = 7,
    kkH3 = 8,
    kkH2 = 9,
    kkH4 = 10,
    kkH5 = 11,
    kkH6 = 12,
    kkH7 = 13,
};
constexpr int KeywordKindCount = 14;

// A set of kinds: bit n for kind n; kinds above 15 are never members.
using TKeywordKindSet = std::uint16_t;

constexpr TKeywordKindSet KindBit(int kind) {
    return kind >= 0 && kind <= 15 ? static_cast<TKeywordKindSet>(1u << kind) : TKeywordKindSet{0};
}
constexpr bool HasKind(TKeywordKindSet set, int kind) { return (set & KindBit(kind)) != 0; }

// Letter of a kind in the project store: "?", "-", "+", "K", "B", "I", "U", "1", "3", "2", ...
char KeywordKindLetter(TKeywordKind kind);
// Kind of a heading level 1..7 (kkUnknown for any other level).
TKeywordKind HeadingKind(int level);

// The keyword options of section "Options".
struct TKeywordOptions {
    int MaxLength = 32;
    int MinLength = 4;
    TKeywordKindSet Kinds = KindBit(kkUser);  // always holds kkUser
    bool IgnoreCase = false;
};
// Reads "Options" / "Preferences.Keywords.*" through AppConfiger(); defaults
// for whatever is missing (all defaults when there is no configuration).
TKeywordOptions ReadKeywordOptions();
// Applies the options to a tree: length limits, listed kinds and the keyword
// index's letter-case folding. Run it before any keyword is added.
void LoadKeywordOptions(TChmTree& tree);

// Registers a keyword set by the program ("," becomes a blank); an existing
// keyword of the entry becomes a program-set one. No length limit applies.
void AddUserKeyword(TChmTreeItem& entry, std::string_view text);
// Splits an HTML fragment at commas into keywords of one kind and registers
// those that are new for the entry.
void AddKeywords(TChmTreeItem& entry, std::string_view text, TKeywordKind kind, bool checkLength);
// Rebuilds the entry's keywords from a page: its program-set keywords (now
// within the length limits) and those of the page's meta keywords, bold,
// strong, italic, emphasised, underlined and heading elements.
void ExtractKeywords(TChmTreeItem& entry, std::string_view pageText);
// Calls visit(keyword, index) for every keyword of a KeywordList ("," then
// each keyword followed by ",").
template <class Visit>
void ForEachListedKeyword(std::string_view list, Visit&& visit) {
    std::size_t start = 1;
    int index = 0;
    while (start < list.size()) {
        const std::size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) break;
        visit(list.substr(start, comma - start), index++);
        start = comma + 1;
    }
}
// 0-based position of a keyword in the entry's KeywordList (letter case
// ignored), -1 when absent.
int KeywordIndexOf(const TChmTreeItem& entry, std::string_view keyword);

// Where each keyword of one long KeywordList starts, and a hash table of
// them by text with ASCII letter case folded, as KeywordIndexOf compares. An
// artist of 20 000 tracks has as many keywords; without it every lookup read
// the whole list, and the index asks once per keyword.
class TKeywordLookup {
public:
    // Takes in every keyword of list.
    explicit TKeywordLookup(std::string_view list);
    // Takes in the keyword just appended to list at start.
    void Append(std::string_view list, std::size_t start);
    // Position of the first keyword equal to key, -1 when none. key holds
    // no comma and is not empty.
    int Find(std::string_view list, std::string_view key) const;

private:
    std::string_view KeywordAt(std::string_view list, std::size_t position) const;
    // Enters a position unless an equal keyword is in already (the first one
    // is the one found).
    void Enter(std::string_view list, std::uint32_t position);
    void Rehash(std::string_view list);

    std::vector<std::uint32_t> starts_;  // where each keyword starts, after its ","
    std::vector<std::uint32_t> slots_;   // 1 + position; 0 is free; a power of two long
};
