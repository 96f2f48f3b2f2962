#pragma once
// The full-text index of a compiled help file ($FIftiMain): the words of
// every page, where they occur, in the B-tree the viewers search.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "chmwriter/chm_bytes.h"

// Words with the place each has in the text. A place may hold several
// spellings of one word, so a query finds it however it is typed.
struct TWordList {
    std::vector<std::string> Words;
    std::vector<std::uint32_t> Places;  // of each word, never decreasing
    std::vector<bool> AsTyped;          // the spelling with only A-Z folded
    std::uint32_t Next = 0;             // the place the next word takes
    void Add(std::string word, std::uint32_t place, bool asTyped = false) {
        Words.push_back(std::move(word));
        Places.push_back(place);
        AsTyped.push_back(asTyped);
    }
};

// Words of UTF-8 text: runs of letters and digits, each folded to lower case,
// also as typed when only viewers' ASCII folding matches it ("Émilie"), and
// also unaccented (petrović -> petrovic, søren -> soren, strauß -> strauss).
// A run of CJK letters is a word as a whole, each letter and each pair of
// neighbours one too, as such text has no blanks between its words.
void SplitWords(std::string_view utf8, TWordList& words);

struct TPageWords {
    TWordList Body;   // folded UTF-8
    TWordList Title;  // the words of <title>
};

// The words of a page: tags stripped, script and style skipped, character
// references and entities decoded.
TPageWords ExtractPageWords(std::string_view html);

// One page as the index stores it: words already in the file's code page.
struct TSearchDocument {
    TWordList Body;
    TWordList Title;
};

// Words in the code page viewers send the typed text in; a word the code page
// cannot hold stays UTF-8 rather than turning into question marks, except its
// as-typed spelling, which no viewer could send.
TSearchDocument EncodeSearchWords(const TPageWords& words, unsigned codePage);

// One page with each word once and the places it has in the text and the title.
struct TDocumentWords {
    struct TWord {
        std::string Text;
        std::vector<std::uint32_t> Body;
        std::vector<std::uint32_t> Title;
    };
    std::vector<TWord> Words;  // in the order they first occur
};
TDocumentWords GroupWords(const TSearchDocument& document);

// $FIftiMain for documents numbered as the topics (#TOPICS entries).
TBytes BuildFullTextIndex(std::vector<TDocumentWords> documents, unsigned codePage, std::uint32_t languageId);
// The same from word entries gathered page by page; empties them.
class TIndexEntries;
TBytes BuildFullTextIndex(TIndexEntries& entries, unsigned codePage, std::uint32_t languageId);
TBytes BuildFullTextIndex(const std::vector<TSearchDocument>& documents, unsigned codePage, std::uint32_t languageId);

// Scale-and-root coding (scale 2) of one number, bits most significant
// first; exposed for the tests' reader.
class TBitWriter {
public:
    explicit TBitWriter(TBytes& out) : out_(out) {}
    void Bit(bool one);
    void Bits(std::uint64_t value, unsigned count);
    void ScaleRoot(std::uint64_t value, unsigned root);
    // Pads the last byte with zero bits.
    void Align() { used_ = 0; }

private:
    TBytes& out_;
    unsigned used_ = 0;  // bits used in the last byte, 0 when aligned
};

// Gathers the words of the pages in topic order, splitting batches of pages
// on several threads; the result does not depend on the thread count.
class TSearchWordCollector {
public:
    TSearchWordCollector(bool enabled, unsigned codePage, unsigned threads);
    ~TSearchWordCollector();
    TSearchWordCollector(const TSearchWordCollector&) = delete;
    TSearchWordCollector& operator=(const TSearchWordCollector&) = delete;
    void Add(std::string_view html);
    // The index of every page added, in the order added.
    TBytes BuildIndex(std::uint32_t languageId);

private:
    void RunBatch();

    bool enabled_;
    unsigned codePage_;
    unsigned threads_;
    std::vector<std::string> batch_;
    std::size_t batchBytes_ = 0;
    std::unique_ptr<TIndexEntries> entries_;  // the pages taken in so far
};
