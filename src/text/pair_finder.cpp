#include "text/pair_finder.h"

#include <algorithm>

#include "base/language.h"
#include "base/shared_functions.h"

TKeyword* TKeyword::Child(unsigned char c) const {
    std::size_t lo = 0, hi = Chars.size();
    while (lo < hi) {
        std::size_t mid = (lo + hi) / 2;
        unsigned char m = static_cast<unsigned char>(Chars[mid]);
        if (m == c) return Children[mid].get();
        if (m < c)
            lo = mid + 1;
        else
            hi = mid;
    }
    return nullptr;
}

TKeywordScanner::TKeywordScanner() : root_(std::make_unique<TKeyword>()) {}

void TKeywordScanner::SetKeywords(std::string_view list) {
    TStringList items;
    SplitToList(list, ",", items);
    SetKeywords(items);
}

void TKeywordScanner::SetKeywords(const std::vector<std::string>& keywords) {
    TStringList items;
    items.reserve(keywords.size());
    for (const auto& keyword : keywords) items.push_back(UpperCase(keyword));

    // Inserting in ascending byte order lets every node append new children
    // at the end of Chars and still keep it sorted. Equal items keep list order.
    std::vector<std::size_t> order(items.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return items[a] < items[b]; });

    auto root = std::make_unique<TKeyword>();
    for (std::size_t index : order) {
        const std::string& word = items[index];
        if (word.empty()) continue;
        TKeyword* node = root.get();
        for (char ch : word) {
            TKeyword* child = node->Child(static_cast<unsigned char>(ch));
            if (!child) {
                // std::string orders bytes as unsigned, the order Child bisects in.
                auto made = std::make_unique<TKeyword>();
                made->Parent = node;
                child = made.get();
                node->Chars.push_back(ch);
                node->Children.push_back(std::move(made));
            }
            node = child;
        }
        if (node->Id != 0) throw EKeywordScanner(Translate("Keyword is pointed twice"));
        node->Id = static_cast<int>(index) + 1;
    }
    root_ = std::move(root);
    std::fill(std::begin(starts_), std::end(starts_), false);
    for (char ch : root_->Chars) starts_[static_cast<unsigned char>(ch)] = true;
}

void TKeywordScanner::SetText(std::string_view text) { text_ = UpperCase(text); }

int TKeywordScanner::FindKeyword(int from, int& pos, int& len) const {
    if (from < 1) from = 1;
    const std::size_t n = text_.size();
    for (std::size_t start = static_cast<std::size_t>(from - 1); start < n; ++start) {
        if (!starts_[static_cast<unsigned char>(text_[start])]) continue;
        const TKeyword* node = root_.get();
        int bestId = 0;
        std::size_t bestLen = 0;
        for (std::size_t i = start; i < n; ++i) {
            node = node->Child(static_cast<unsigned char>(text_[i]));
            if (!node) break;
            if (node->Id != 0) {
                bestId = node->Id;
                bestLen = i - start + 1;
            }
        }
        if (bestId != 0) {
            pos = static_cast<int>(start) + 1;
            len = static_cast<int>(bestLen);
            return bestId;
        }
    }
    return 0;
}

TPairFinder::TPairFinder() = default;
TPairFinder::~TPairFinder() = default;

int TPairFinder::KeywordId(std::string_view marker) {
    for (std::size_t i = 0; i < markers_.size(); ++i)
        if (SameText(markers_[i], marker)) return static_cast<int>(i) + 1;
    markers_.emplace_back(marker);
    return static_cast<int>(markers_.size());
}

TPairEntry& TPairFinder::AddPair(std::string_view open, std::string_view close, std::string_view breakMarker) {
    std::string first, second;
    SplitFirst(open, "\r\n", first, second);
    auto entry = std::make_unique<TPairEntry>();
    entry->OpenId = KeywordId(first);
    entry->SecondId = second.empty() ? -1 : KeywordId(second);
    entry->CloseId = KeywordId(close);
    entry->BreakId = breakMarker.empty() ? -1 : KeywordId(breakMarker);
    pairs_.push_back(std::move(entry));
    dirty_ = true;
    return *pairs_.back();
}

void TPairFinder::AddIgnore(std::string_view open, std::string_view close) {
    TPairEntry entry;
    entry.OpenId = KeywordId(open);
    entry.CloseId = KeywordId(close);
    ignores_.push_back(entry);
    dirty_ = true;
}

bool TPairFinder::FindFirst(std::string_view text) {
    text_.assign(text);
    openSet_.reset();
    ignoreSet_.reset();
    for (const auto& p : pairs_)
        if (p->OpenId >= 0 && p->OpenId <= 255) openSet_.set(static_cast<std::size_t>(p->OpenId));
    for (const auto& p : ignores_)
        if (p.OpenId >= 0 && p.OpenId <= 255) ignoreSet_.set(static_cast<std::size_t>(p.OpenId));
    // The markers go over as a list rather than joined with commas, so a
    // marker holding a comma keeps its own id.
    if (dirty_) scanner_.SetKeywords(markers_);
    scanner_.SetText(text_);
    pos_ = 1;
    len_ = 0;
    current_ = -2;
    contentStart_ = 0;
    for (auto& p : pairs_) p->Waiting = false;
    bool found = FindNext();
    dirty_ = false;
    return found;
}

bool TPairFinder::FindNext() {
    for (;;) {
        int id = scanner_.FindKeyword(pos_ + len_, pos_, len_);
        if (id == 0) return false;

        if (current_ >= 0) {
            TPairEntry& pair = *pairs_[static_cast<std::size_t>(current_)];
            if (id == pair.BreakId) {
                current_ = -2;
                continue;
            }
            if (id == pair.SecondId && pair.Waiting) {
                contentStart_ = pos_ + len_;
                pair.Waiting = false;
                continue;
            }
            if (id == pair.CloseId) {
                if (!pair.Waiting) {
                    const int start = contentStart_ - 1;
                    const int count = pos_ - contentStart_;
                    content_ = count > 0
                                   ? text_.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count))
                                   : std::string();
                    matched_ = pair;
                    current_ = -2;
                    return true;
                }
                if (pair.BreakId < 0) current_ = -2;
            }
        }

        if (id <= 255 && ignoreSet_.test(static_cast<std::size_t>(id))) {
            const auto block =
                std::find_if(ignores_.begin(), ignores_.end(), [id](const TPairEntry& e) { return e.OpenId == id; });
            // Nothing inside the block is interpreted.
            int next;
            do {
                next = scanner_.FindKeyword(pos_ + len_, pos_, len_);
            } while (next != 0 && next != block->CloseId);
            if (next == 0) return false;
            continue;
        }

        if (id <= 255 && openSet_.test(static_cast<std::size_t>(id))) {
            for (std::size_t i = 0; i < pairs_.size(); ++i)
                if (pairs_[i]->OpenId == id) {
                    current_ = static_cast<int>(i);
                    contentStart_ = pos_ + len_;
                    pairs_[i]->Waiting = pairs_[i]->SecondId >= 0;
                    break;
                }
            continue;
        }

        // Not a marker that does anything here: look again one character
        // further, so markers overlapping this one are found.
        len_ = 1;
    }
}
