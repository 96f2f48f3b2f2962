// Splits pages into words and builds the full-text index B-tree from them.
#include "chmwriter/chm_search.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "base/parallel_loop.h"
#include "base/utf8.h"
#include "chmwriter/chm_spelling.h"
#include "chmwriter/chm_text.h"

namespace {

constexpr std::size_t kNodeSize = 0x1000;
constexpr std::size_t kHeaderSize = 0x400;
constexpr std::size_t kLeafHeaderSize = 8;
constexpr std::size_t kIndexHeaderSize = 2;
// The length byte counts the prefix byte too, so a word has at most 254 bytes;
// longer runs are no words anyone types.
constexpr std::size_t kMaxWordBytes = 120;

enum class TCharKind { Separator, Letter, Single };

TCharKind KindOf(char32_t c) {
    if (c < 0x80) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        return alnum ? TCharKind::Letter : TCharKind::Separator;
    }
    if (c < 0xC0) return (c == 0xAA || c == 0xB5 || c == 0xBA) ? TCharKind::Letter : TCharKind::Separator;
    if (c == 0xD7 || c == 0xF7 || c == 0xFFFD) return TCharKind::Separator;
    if ((c >= 0x2000 && c <= 0x2BFF) || (c >= 0x2E00 && c <= 0x2E7F) || (c >= 0x3000 && c <= 0x303F) ||
        (c >= 0xE000 && c <= 0xF8FF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF0F) ||
        (c >= 0xFF1A && c <= 0xFF20) || (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65))
        return TCharKind::Separator;
    if ((c >= 0x3040 && c <= 0x30FF) || (c >= 0x31F0 && c <= 0x31FF) || (c >= 0x3400 && c <= 0x4DBF) ||
        (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF66 && c <= 0xFF9F) ||
        (c >= 0x20000 && c <= 0x3FFFF))
        return TCharKind::Single;
    return TCharKind::Letter;
}

char32_t FoldCase(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : c + 32;
    if (c >= 0x100 && c <= 0x137) return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177) return c | 1;
    if (c == 0x178) return 0xFF;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 37;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 63;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
    return c;
}

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
    if (text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != word[i]) return false;
    }
    return true;
}

// The leaf entries' numbers: seven bits a byte like ENCINT, but the least
// significant group first, as the viewers read them there.
void LeafInt(TByteWriter& w, std::uint64_t value) {
    do {
        const auto group = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
        w.U8(value != 0 ? static_cast<std::uint8_t>(group | 0x80) : group);
    } while (value != 0);
}

std::size_t BitsFor(std::uint64_t value) {
    std::size_t n = 1;
    while (value >>= 1) ++n;
    return n;
}

// One word's postings in document order, packed as the step from the last
// document, the location count and the steps between locations, each in
// 7-bit groups: a large collection's index holds millions of them, mostly
// small numbers, so this takes about a third of the room of plain ones and
// no allocation per posting.
class TPostings {
public:
    void Add(std::uint32_t document, const std::vector<std::uint32_t>& locations) {
        Put(document - lastDocument_);
        lastDocument_ = document;
        Put(static_cast<std::uint32_t>(locations.size()));
        std::uint32_t last = 0;
        for (const std::uint32_t location : locations) {
            Put(location - last);  // wraps, and unwraps when read, if ever out of order
            last = location;
        }
        ++count_;
    }
    std::size_t size() const { return count_; }
    // Lets the locations go once written; the count stays for the leaves.
    void Release() { std::vector<std::uint8_t>().swap(data_); }
    // Calls visit(document, first location, location count) for each posting.
    template <class Visit>
    void ForEach(Visit visit) const {
        std::vector<std::uint32_t> locations;
        std::uint32_t document = 0;
        for (std::size_t at = 0; at < data_.size();) {
            document += Get(at);
            locations.resize(Get(at));
            std::uint32_t last = 0;
            for (std::uint32_t& location : locations) location = last += Get(at);
            visit(document, static_cast<const std::uint32_t*>(locations.data()), locations.size());
        }
    }

private:
    void Put(std::uint32_t value) {
        while (value >= 0x80) {
            data_.push_back(static_cast<std::uint8_t>(value | 0x80));
            value >>= 7;
        }
        data_.push_back(static_cast<std::uint8_t>(value));
    }
    std::uint32_t Get(std::size_t& at) const {
        std::uint32_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const std::uint8_t byte = data_[at++];
            value |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) return value;
        }
    }

    std::vector<std::uint8_t> data_;
    std::uint32_t lastDocument_ = 0;
    std::size_t count_ = 0;
};

struct TWordEntry {
    std::string Word;
    bool Title = false;
    TPostings Postings;
};

std::size_t SharedPrefix(const std::string& a, const std::string& b) {
    std::size_t n = 0;
    const std::size_t limit = std::min({a.size(), b.size(), std::size_t{255}});
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// Nodes of 4 KiB holding prefix-compressed words; the caller appends the
// fields that follow each word.
class TNodePacker {
public:
    explicit TNodePacker(std::size_t headerSize) : headerSize_(headerSize) {}
    // Bytes of the word part for word after the node's previous word.
    TBytes WordPart(const std::string& word) const {
        const std::size_t shared = used_ == 0 ? 0 : SharedPrefix(previous_, word);
        TBytes part(2 + word.size() - shared);
        part[0] = static_cast<std::uint8_t>(word.size() - shared + 1);
        part[1] = static_cast<std::uint8_t>(shared);
        std::copy(word.begin() + static_cast<std::ptrdiff_t>(shared), word.end(), part.begin() + 2);
        return part;
    }
    bool Fits(std::size_t entrySize) const { return headerSize_ + used_ + entrySize <= kNodeSize; }
    void Add(const std::string& word, const TBytes& entry) {
        body_.insert(body_.end(), entry.begin(), entry.end());
        used_ += entry.size();
        previous_ = word;
    }
    bool Empty() const { return used_ == 0; }
    const std::string& LastWord() const { return previous_; }
    std::size_t FreeSpace() const { return kNodeSize - headerSize_ - used_; }
    TBytes TakeBody() {
        TBytes body;
        body.swap(body_);
        used_ = 0;
        previous_.clear();
        return body;
    }

private:
    std::size_t headerSize_;
    std::size_t used_ = 0;
    std::string previous_;
    TBytes body_;
};

}  // namespace

void TBitWriter::Bit(bool one) {
    if (used_ == 0) out_.push_back(0);
    if (one) out_.back() = static_cast<std::uint8_t>(out_.back() | (0x80 >> used_));
    used_ = (used_ + 1) % 8;
}

void TBitWriter::Bits(std::uint64_t value, unsigned count) {
    for (unsigned k = count; k-- > 0;) Bit(((value >> k) & 1) != 0);
}

void TBitWriter::ScaleRoot(std::uint64_t value, unsigned root) {
    // A run of p one bits and a zero, then root bits for p = 0, or root + p - 1
    // bits below an implied leading one.
    if (value < (std::uint64_t{1} << root)) {
        Bit(false);
        Bits(value, root);
        return;
    }
    unsigned width = static_cast<unsigned>(BitsFor(value)) - 1;  // bits below the leading one
    const unsigned p = width - root + 1;
    for (unsigned k = 0; k < p; ++k) Bit(true);
    Bit(false);
    Bits(value, width);
}

void SplitWords(std::string_view utf8, TWordList& words) {
    std::string word;   // folded
    std::string typed;  // only A-Z folded
    std::vector<std::string> run;  // CJK letters
    const auto flushWord = [&] {
        if (!word.empty() && word.size() <= kMaxWordBytes) {
            const std::uint32_t place = words.Next++;
            words.Add(word, place);
            if (typed != word) words.Add(typed, place, true);
            std::string plain = AsciiSpelling(word);
            for (char& c : plain)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
            if (plain != word) words.Add(std::move(plain), place);
        }
        word.clear();
        typed.clear();
    };
    const auto flushRun = [&] {
        if (run.empty()) return;
        const std::uint32_t first = words.Next;
        std::string whole;
        for (const auto& letter : run) whole += letter;
        for (std::size_t i = 0; i < run.size(); ++i) {
            const auto place = static_cast<std::uint32_t>(first + i);
            if (i == 0 && run.size() > 2 && whole.size() <= kMaxWordBytes) words.Add(whole, place);
            if (i + 1 < run.size()) words.Add(run[i] + run[i + 1], place);
            words.Add(run[i], place);
        }
        words.Next = static_cast<std::uint32_t>(first + run.size());
        run.clear();
    };
    std::size_t at = 0;
    while (at < utf8.size()) {
        const auto byte = static_cast<unsigned char>(utf8[at]);
        if (byte < 0x80) {
            ++at;
            const bool lower = (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9');
            const bool upper = byte >= 'A' && byte <= 'Z';
            if (lower || upper) {
                flushRun();
                word += static_cast<char>(upper ? byte + 32 : byte);
                typed += static_cast<char>(upper ? byte + 32 : byte);
            } else {
                flushWord();
                flushRun();
            }
            continue;
        }
        const char32_t c = NextCodePoint(utf8, at);
        switch (KindOf(c)) {
            case TCharKind::Separator:
                flushWord();
                flushRun();
                break;
            case TCharKind::Letter:
                flushRun();
                AppendUtf8(word, FoldCase(c));
                AppendUtf8(typed, c);
                break;
            case TCharKind::Single: {
                flushWord();
                std::string letter;
                AppendUtf8(letter, c);
                run.push_back(std::move(letter));
                break;
            }
        }
    }
    flushWord();
    flushRun();
}

TPageWords ExtractPageWords(std::string_view html) {
    std::string body;
    std::string title;
    body.reserve(html.size());
    std::size_t at = 0;
    std::size_t textStart = 0;
    bool inTitle = false;
    const auto takeText = [&](std::size_t end) {
        std::string& target = inTitle ? title : body;
        target.append(html.substr(textStart, end - textStart));
        target += ' ';
    };
    while ((at = html.find('<', at)) != std::string_view::npos) {
        takeText(at);
        if (html.compare(at, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", at + 4);
            at = end == std::string_view::npos ? html.size() : end + 3;
            textStart = at;
            continue;
        }
        const bool closing = at + 1 < html.size() && html[at + 1] == '/';
        const std::size_t nameAt = at + (closing ? 2 : 1);
        const std::size_t tagEnd = html.find('>', at);
        at = tagEnd == std::string_view::npos ? html.size() : tagEnd + 1;
        textStart = at;
        if (StartsWithNoCase(html, nameAt, "title")) {
            inTitle = !closing;
        } else if (!closing && (StartsWithNoCase(html, nameAt, "script") || StartsWithNoCase(html, nameAt, "style"))) {
            const std::string_view name = StartsWithNoCase(html, nameAt, "script") ? "</script" : "</style";
            std::size_t end = at;
            while (end < html.size() && !StartsWithNoCase(html, end, name)) {
                end = html.find('<', end + 1);
                if (end == std::string_view::npos) end = html.size();
            }
            at = end;
            textStart = at;
        }
    }
    if (textStart < html.size()) takeText(html.size());

    TPageWords words;
    SplitWords(DecodeHtmlText(body), words.Body);
    SplitWords(DecodeHtmlText(title), words.Title);
    return words;
}

TSearchDocument EncodeSearchWords(const TPageWords& words, unsigned codePage) {
    std::unordered_map<std::string, std::string> cache;
    // The word in the code page; empty when the code page lacks a letter.
    const auto encode = [&](const std::string& word) -> const std::string* {
        auto [it, added] = cache.try_emplace(word);
        if (added) {
            std::string encoded = EncodeForCodePage(word, codePage);
            if (encoded.find('?') == std::string::npos) it->second = std::move(encoded);
        }
        return &it->second;
    };
    const auto convert = [&](const TWordList& from, TWordList& to) {
        to.Words.reserve(from.Words.size());
        to.Places.reserve(from.Words.size());
        to.AsTyped.reserve(from.Words.size());
        for (std::size_t i = 0; i < from.Words.size(); ++i) {
            const std::string& w = from.Words[i];
            bool ascii = true;
            for (char c : w) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
            if (ascii || codePage == 65001) {
                to.Add(w, from.Places[i], from.AsTyped[i]);
                continue;
            }
            const std::string* encoded = encode(w);
            if (!encoded->empty())
                to.Add(*encoded, from.Places[i], from.AsTyped[i]);
            else if (!from.AsTyped[i])
                to.Add(w, from.Places[i]);
        }
        to.Next = from.Next;
    };
    TSearchDocument document;
    convert(words.Body, document.Body);
    convert(words.Title, document.Title);
    return document;
}

TDocumentWords GroupWords(const TSearchDocument& document) {
    TDocumentWords grouped;
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(document.Body.Words.size() + document.Title.Words.size());
    const auto add = [&](const TWordList& words, bool title) {
        for (std::size_t k = 0; k < words.Words.size(); ++k) {
            auto [it, added] = index.try_emplace(words.Words[k], grouped.Words.size());
            if (added) grouped.Words.push_back({words.Words[k], {}, {}});
            auto& places = title ? grouped.Words[it->second].Title : grouped.Words[it->second].Body;
            // Two spellings of one place may fold together.
            if (places.empty() || places.back() != words.Places[k]) places.push_back(words.Places[k]);
        }
    };
    add(document.Body, false);
    add(document.Title, true);
    return grouped;
}

TBytes BuildFullTextIndex(const std::vector<TSearchDocument>& documents, unsigned codePage, std::uint32_t languageId) {
    std::vector<TDocumentWords> grouped;
    grouped.reserve(documents.size());
    for (const auto& document : documents) grouped.push_back(GroupWords(document));
    return BuildFullTextIndex(std::move(grouped), codePage, languageId);
}

// Per word: the documents in number order with their locations. The body
// entry lists every page that has the word anywhere, as viewers answer a
// whole-word question from the first entry of the word; the title entry
// follows for the titles-only question. Documents come in number order and
// go as soon as they are taken in, so only the index itself stays.
class TIndexEntries {
public:
    void Add(TDocumentWords document) {
        const auto doc = static_cast<std::uint32_t>(DocumentCount++);
        for (auto& word : document.Words) {
            WordCount += word.Body.size() + word.Title.size();
            if (!word.Title.empty()) EntryFor(titleIndex_, word.Text, true).Add(doc, word.Title);
            // A title word missing from the body still belongs in the body entry.
            if (word.Body.empty()) word.Body.push_back(word.Title.front());
            EntryFor(bodyIndex_, word.Text, false).Add(doc, word.Body);
        }
    }
    // The entries in word order; the builder is empty afterwards.
    std::vector<TWordEntry> Finish() {
        bodyIndex_ = {};
        titleIndex_ = {};
        std::sort(entries_.begin(), entries_.end(), [](const TWordEntry& a, const TWordEntry& b) {
            return a.Word != b.Word ? a.Word < b.Word : a.Title < b.Title;
        });
        return std::move(entries_);
    }

    std::size_t DocumentCount = 0;
    std::uint64_t WordCount = 0;  // word places counted over all documents

private:
    TPostings& EntryFor(std::unordered_map<std::string, std::size_t>& index, const std::string& word, bool title) {
        auto [it, added] = index.try_emplace(word, entries_.size());
        if (added) entries_.push_back({word, title, {}});
        return entries_[it->second].Postings;
    }

    std::vector<TWordEntry> entries_;
    std::unordered_map<std::string, std::size_t> bodyIndex_;
    std::unordered_map<std::string, std::size_t> titleIndex_;
};

namespace {

// The root of the scale-and-root code of each kind of number, and the longest word.
struct TCodeRoots {
    unsigned Document = 0;
    unsigned Count = 0;
    unsigned Location = 0;
    std::size_t LongestWord = 0;
};

// Roots wide enough for every value, so each number is one zero bit and
// its root bits: every reader decodes that form the same way.
TCodeRoots ChooseRoots(const std::vector<TWordEntry>& entries) {
    std::uint64_t maxDocDelta = 1, maxCount = 1, maxLocationDelta = 1;
    TCodeRoots roots;
    for (const auto& entry : entries) {
        roots.LongestWord = std::max(roots.LongestWord, entry.Word.size());
        std::uint32_t previous = 0;
        entry.Postings.ForEach([&](std::uint32_t document, const std::uint32_t* locations, std::size_t count) {
            maxDocDelta = std::max<std::uint64_t>(maxDocDelta, document - previous);
            previous = document;
            maxCount = std::max<std::uint64_t>(maxCount, count);
            std::uint32_t last = 0;
            for (std::size_t k = 0; k < count; ++k) {
                maxLocationDelta = std::max<std::uint64_t>(maxLocationDelta, locations[k] - last);
                last = locations[k];
            }
        });
    }
    roots.Document = static_cast<unsigned>(BitsFor(maxDocDelta));
    roots.Count = static_cast<unsigned>(BitsFor(maxCount));
    roots.Location = static_cast<unsigned>(BitsFor(maxLocationDelta));
    return roots;
}

// Where one word's location codes are in the file.
struct TWlc {
    std::uint32_t Offset;
    std::uint64_t Size;
};

// The bit-coded postings of one entry, appended to file.
void AppendPostings(TBytes& file, const TWordEntry& entry, const TCodeRoots& roots) {
    TBitWriter bits(file);
    std::uint32_t previous = 0;
    entry.Postings.ForEach([&](std::uint32_t document, const std::uint32_t* locations, std::size_t count) {
        bits.ScaleRoot(document - previous, roots.Document);
        previous = document;
        bits.ScaleRoot(count, roots.Count);
        std::uint32_t last = 0;
        for (std::size_t k = 0; k < count; ++k) {
            bits.ScaleRoot(locations[k] - last, roots.Location);
            last = locations[k];
        }
        bits.Align();
    });
}

// The bits TBitWriter::ScaleRoot writes for value.
std::uint64_t ScaleRootBits(std::uint64_t value, unsigned root) {
    if (value < (std::uint64_t{1} << root)) return 1 + root;
    const unsigned width = static_cast<unsigned>(BitsFor(value)) - 1;
    return (width - root + 1) + 1 + width;
}

// The bytes AppendPostings writes for entry, each document's codes ending
// on a byte.
std::uint64_t PostingsBytes(const TWordEntry& entry, const TCodeRoots& roots) {
    std::uint64_t bytes = 0;
    std::uint32_t previous = 0;
    entry.Postings.ForEach([&](std::uint32_t document, const std::uint32_t* locations, std::size_t count) {
        std::uint64_t bits = ScaleRootBits(document - previous, roots.Document) + ScaleRootBits(count, roots.Count);
        previous = document;
        std::uint32_t last = 0;
        for (std::size_t k = 0; k < count; ++k) {
            bits += ScaleRootBits(locations[k] - last, roots.Location);
            last = locations[k];
        }
        bytes += (bits + 7) / 8;
    });
    return bytes;
}

// Room for the whole file, so that it is never copied while it grows: a
// large collection's index is tens of MB, and a copy would hold it three times.
std::uint64_t IndexFileBytes(const std::vector<TWordEntry>& entries, const TCodeRoots& roots) {
    std::uint64_t postings = 0, leaves = 0;
    for (const TWordEntry& entry : entries) {
        postings += PostingsBytes(entry, roots);
        leaves += entry.Word.size() + 24;
    }
    return kHeaderSize + postings + leaves * 5 / 4 + 4 * kNodeSize;
}

// Writes every entry's postings after the header. Spellings of one word
// mostly have the same postings: such entries share one copy of them. Each
// entry's postings are let go once written, so the collected index and the
// written one are not both held whole.
std::vector<TWlc> AppendWordLocations(TBytes& file, std::vector<TWordEntry>& entries, const TCodeRoots& roots) {
    std::vector<TWlc> wlcs;
    wlcs.reserve(entries.size());
    std::unordered_multimap<std::size_t, std::size_t> shared;  // hash of the bytes -> index in wlcs
    for (auto& entry : entries) {
        const std::size_t start = file.size();
        AppendPostings(file, entry, roots);
        entry.Postings.Release();
        if (file.size() > 0xFFFFFFFFu) throw std::length_error("The full-text index is larger than 4 GiB.");
        const std::size_t size = file.size() - start;
        const std::string_view bytes(reinterpret_cast<const char*>(file.data()) + start, size);
        const std::size_t hash = std::hash<std::string_view>{}(bytes);
        bool reused = false;
        for (auto [it, end] = shared.equal_range(hash); it != end && !reused; ++it) {
            const TWlc& earlier = wlcs[it->second];
            if (earlier.Size == size && std::equal(file.begin() + earlier.Offset, file.begin() + earlier.Offset + static_cast<std::ptrdiff_t>(size), file.begin() + static_cast<std::ptrdiff_t>(start))) {
                wlcs.push_back(earlier);
                reused = true;
            }
        }
        if (reused) {
            file.resize(start);
            continue;
        }
        shared.emplace(hash, wlcs.size());
        wlcs.push_back({static_cast<std::uint32_t>(start), size});
    }
    return wlcs;
}

// A node of the tree as the level above it points at it.
struct TChild {
    std::string LastWord;
    std::uint32_t Offset;
};

// The leaf nodes: each entry's word, title flag, document count and where
// its postings are, packed into 4 KiB nodes. Answers the leaves with their
// last words; the next-leaf links are set when they are placed.
std::vector<std::pair<TBytes, std::string>> PackLeaves(const std::vector<TWordEntry>& entries,
                                                      const std::vector<TWlc>& wlcs) {
    std::vector<std::pair<TBytes, std::string>> leaves;
    TNodePacker leaf(kLeafHeaderSize);
    const auto closeLeaf = [&] {
        const std::size_t free = leaf.FreeSpace();
        std::string lastWord = leaf.LastWord();
        TBytes node(kNodeSize, 0);
        const TBytes body = leaf.TakeBody();
        std::copy(body.begin(), body.end(), node.begin() + kLeafHeaderSize);
        TByteWriter(node).PutU16At(6, static_cast<std::uint16_t>(free));
        leaves.emplace_back(std::move(node), std::move(lastWord));
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto makeEntry = [&] {
            TBytes entry = leaf.WordPart(entries[i].Word);
            TByteWriter w(entry);
            w.U8(entries[i].Title ? 1 : 0);
            LeafInt(w, entries[i].Postings.size());
            w.U32(wlcs[i].Offset);
            w.U16(0);
            LeafInt(w, wlcs[i].Size);
            return entry;
        };
        TBytes entry = makeEntry();
        if (!leaf.Fits(entry.size())) {
            closeLeaf();
            entry = makeEntry();
        }
        leaf.Add(entries[i].Word, entry);
    }
    if (!leaf.Empty() || leaves.empty()) closeLeaf();
    return leaves;
}

// Appends the leaves, each linked to the next; answers them as children.
std::vector<TChild> AppendLeaves(TBytes& file, std::vector<std::pair<TBytes, std::string>> leaves) {
    std::vector<TChild> level;
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const std::size_t offset = file.size();
        TBytes& node = leaves[i].first;
        if (i + 1 < leaves.size()) TByteWriter(node).PutU32At(0, static_cast<std::uint32_t>(offset + kNodeSize));
        file.insert(file.end(), node.begin(), node.end());
        level.push_back({std::move(leaves[i].second), static_cast<std::uint32_t>(offset)});
    }
    return level;
}

// One index level above level, appended to file; answers its nodes.
std::vector<TChild> AppendIndexLevel(TBytes& file, const std::vector<TChild>& level) {
    std::vector<TChild> upper;
    TNodePacker node(kIndexHeaderSize);
    const auto closeNode = [&] {
        const std::size_t free = node.FreeSpace();
        const std::string last = node.LastWord();
        TBytes bytes(kNodeSize, 0);
        const TBytes body = node.TakeBody();
        std::copy(body.begin(), body.end(), bytes.begin() + kIndexHeaderSize);
        TByteWriter(bytes).PutU16At(0, static_cast<std::uint16_t>(free));
        upper.push_back({last, static_cast<std::uint32_t>(file.size())});
        file.insert(file.end(), bytes.begin(), bytes.end());
    };
    for (const TChild& child : level) {
        const auto makeEntry = [&] {
            TBytes entry = node.WordPart(child.LastWord);
            TByteWriter w(entry);
            w.U32(child.Offset);
            w.U16(0);
            return entry;
        };
        TBytes entry = makeEntry();
        if (!node.Fits(entry.size())) {
            closeNode();
            entry = makeEntry();
        }
        node.Add(child.LastWord, entry);
    }
    closeNode();
    return upper;
}

// What the header says about the tree and its contents.
struct TIndexSummary {
    std::size_t DocumentCount = 0;
    std::size_t FirstLeaf = 0;
    std::size_t LeafCount = 0;
    std::uint32_t Root = 0;
    std::uint16_t Depth = 1;
    TCodeRoots Roots;
    std::uint64_t WordCount = 0;
    std::size_t EntryCount = 0;
};

// Fills the header in the first kHeaderSize bytes of file.
void PutHeader(TBytes& file, const TIndexSummary& s, unsigned codePage, std::uint32_t languageId) {
    TByteWriter h(file);
    h.PutU32At(0x00, 0x00280000);
    h.PutU32At(0x04, static_cast<std::uint32_t>(s.DocumentCount));
    h.PutU32At(0x08, static_cast<std::uint32_t>(s.FirstLeaf));
    h.PutU32At(0x10, static_cast<std::uint32_t>(s.LeafCount));
    h.PutU32At(0x14, s.Root);
    h.PutU16At(0x18, s.Depth);
    h.PutU32At(0x1A, 7);
    const std::uint8_t scales[6] = {2, static_cast<std::uint8_t>(s.Roots.Document), 2,
                                    static_cast<std::uint8_t>(s.Roots.Count),      2,
                                    static_cast<std::uint8_t>(s.Roots.Location)};
    for (std::size_t k = 0; k < 6; ++k) file[0x1E + k] = scales[k];
    h.PutU32At(0x2E, kNodeSize);
    h.PutU32At(0x3E, static_cast<std::uint32_t>(s.Roots.LongestWord));
    h.PutU32At(0x42, static_cast<std::uint32_t>(std::min<std::uint64_t>(s.WordCount, 0xFFFFFFFFu)));
    h.PutU32At(0x46, static_cast<std::uint32_t>(s.EntryCount));
    h.PutU32At(0x7A, codePage);
    h.PutU32At(0x7E, languageId);
}

}  // namespace

TBytes BuildFullTextIndex(std::vector<TDocumentWords> documents, unsigned codePage, std::uint32_t languageId) {
    TIndexEntries entries;
    for (TDocumentWords& document : documents) entries.Add(std::move(document));
    documents = {};
    return BuildFullTextIndex(entries, codePage, languageId);
}

TBytes BuildFullTextIndex(TIndexEntries& collected, unsigned codePage, std::uint32_t languageId) {
    TIndexSummary summary;
    summary.DocumentCount = collected.DocumentCount;
    summary.WordCount = collected.WordCount;
    std::vector<TWordEntry> entries = collected.Finish();
    summary.Roots = ChooseRoots(entries);
    summary.EntryCount = entries.size();

    // Header, word locations, leaves, then index levels until one node is the root.
    TBytes file(kHeaderSize, 0);
    file.reserve(static_cast<std::size_t>(IndexFileBytes(entries, summary.Roots)));
    const std::vector<TWlc> wlcs = AppendWordLocations(file, entries, summary.Roots);
    auto leaves = PackLeaves(entries, wlcs);
    summary.FirstLeaf = file.size();
    summary.LeafCount = leaves.size();
    std::vector<TChild> level = AppendLeaves(file, std::move(leaves));
    while (level.size() > 1) {
        ++summary.Depth;
        level = AppendIndexLevel(file, level);
    }
    summary.Root = level.front().Offset;
    PutHeader(file, summary, codePage, languageId);
    return file;
}

void TSearchWordCollector::Add(std::string_view html) {
    if (!enabled_) return;
    batch_.emplace_back(html);
    batchBytes_ += html.size();
    if (batchBytes_ >= (std::size_t{4} << 20)) RunBatch();
}

TSearchWordCollector::TSearchWordCollector(bool enabled, unsigned codePage, unsigned threads)
    : enabled_(enabled), codePage_(codePage), threads_(threads == 0 ? 1 : threads),
      entries_(std::make_unique<TIndexEntries>()) {}

TSearchWordCollector::~TSearchWordCollector() = default;

void TSearchWordCollector::RunBatch() {
    std::vector<TDocumentWords> documents(batch_.size());
    // The calling thread takes pages too.
    TParallelLoop(batch_.size(), threads_ - 1, [&](std::size_t i) {
        const std::string page = DecodeFromCodePage(batch_[i], codePage_);
        documents[i] = GroupWords(EncodeSearchWords(ExtractPageWords(page), codePage_));
    }).Wait();
    batch_.clear();
    batchBytes_ = 0;
    // Taken into the index at once, so only one batch's words are ever held apart.
    for (TDocumentWords& document : documents) entries_->Add(std::move(document));
}

TBytes TSearchWordCollector::BuildIndex(std::uint32_t languageId) {
    if (!batch_.empty()) RunBatch();
    return BuildFullTextIndex(*entries_, codePage_, languageId);
}
