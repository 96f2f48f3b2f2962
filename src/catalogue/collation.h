#pragma once
// Locale-aware ordering of group names: accents next to their base letter,
// letter case ignored, ties broken by byte order so the order is total and
// stable.
#include <memory>
#include <string>
#include <string_view>

class TCollator {
public:
    // The collation of the given locale ("de_DE.UTF-8", "fr"); the root
    // collation for an empty, "C" or "POSIX" locale or one ICU cannot open.
    explicit TCollator(std::string_view locale);
    ~TCollator();
    TCollator(const TCollator&) = delete;
    TCollator& operator=(const TCollator&) = delete;

    // <0, 0, >0 like strcmp, for UTF-8 texts; 0 only for equal bytes.
    int Compare(std::string_view a, std::string_view b) const;
    bool Less(std::string_view a, std::string_view b) const { return Compare(a, b) < 0; }
    // The sort key: comparing keys bytewise orders like Compare, ties apart.
    std::string SortKey(std::string_view text) const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// The user's collation locale: LC_ALL, else LC_COLLATE, else LANG.
std::string CollationLocaleFromEnvironment();
