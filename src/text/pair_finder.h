#pragma once
// Finds the stretches of a text (an HTML page, in practice) that lie between
// registered opening and closing markers, skipping regions enclosed by
// registered ignore markers. Markers match without regard to ASCII letter
// case; the content keeps the case of the text.
#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/exceptions.h"

// A keyword list given to the scanner holds the same keyword twice.
ORVALIS_DECLARE_ERROR(EKeywordScanner, Exception);

// Node of the scanner's character tree.
struct TKeyword {
    int Id = 0;                                       // keyword ending here, 0 if none
    std::string Chars;                                // characters of the children, ascending bytes
    std::vector<std::unique_ptr<TKeyword>> Children;  // same order as Chars
    TKeyword* Parent = nullptr;

    // Child for the character c, or null (bisection over Chars).
    TKeyword* Child(unsigned char c) const;
};

// Multi-keyword search: jumps to the next character that can start a
// keyword and follows the character tree to the longest keyword there.
class TKeywordScanner {
public:
    TKeywordScanner();

    // Comma-separated keywords; the k-th (from 1) gets id k. No trimming.
    // Raises EKeywordScanner "Keyword is pointed twice" for a duplicate.
    void SetKeywords(std::string_view list);
    // The same from a list of keywords, which may then contain commas.
    void SetKeywords(const std::vector<std::string>& keywords);
    // Keeps an upper-cased (ASCII letters only) copy of the text.
    void SetText(std::string_view text);
    // Next keyword at or after 1-based position from: its id with pos and len
    // set, or 0 when there is none.
    int FindKeyword(int from, int& pos, int& len) const;

private:
    std::unique_ptr<TKeyword> root_;
    std::string text_;
    bool starts_[256] = {};  // characters that begin some keyword
};

struct TPairEntry {
    int OpenId = -1;
    int SecondId = -1;  // second opening marker, or -1
    int CloseId = -1;
    bool Waiting = false;  // opened, second marker not seen yet
    int BreakId = -1;      // break marker, or -1
    std::int32_t Tag = 0;  // set by the caller, handed back with each match
};

class TPairFinder {
public:
    TPairFinder();
    ~TPairFinder();
    TPairFinder(const TPairFinder&) = delete;
    TPairFinder& operator=(const TPairFinder&) = delete;

    // Open may hold two markers separated by CR LF: the opening marker and a
    // second opening marker after which the content starts. An empty breakMarker
    // means none. The returned entry stays valid for the finder's life; set
    // its Tag through it.
    TPairEntry& AddPair(std::string_view open, std::string_view close, std::string_view breakMarker = {});
    void AddIgnore(std::string_view open, std::string_view close);

    bool FindFirst(std::string_view text);
    bool FindNext();

    // Valid after a call that answered true; kept after one that answered false.
    const std::string& Content() const { return content_; }
    const TPairEntry& Matched() const { return matched_; }

private:
    int KeywordId(std::string_view marker);

    // Marker texts by id - 1; lookups fold ASCII letter case.
    std::vector<std::string> markers_;
    std::vector<std::unique_ptr<TPairEntry>> pairs_;
    std::vector<TPairEntry> ignores_;
    std::bitset<256> openSet_;
    std::bitset<256> ignoreSet_;
    bool dirty_ = true;
    TKeywordScanner scanner_;

    std::string text_;
    int pos_ = 1;
    int len_ = 0;
    int current_ = -2;  // index of the open pair, -2 when none
    int contentStart_ = 0;

    std::string content_;
    TPairEntry matched_;
};
