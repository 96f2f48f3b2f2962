#pragma once
// The full-text index of a compiled help file ($FIftiMain): the words of
// every page, where they occur, in the B-tree the viewers search.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chmwriter/chm_bytes.h"

// Words of UTF-8 text, folded to lower case: runs of letters and digits;
// every CJK ideograph, kana or hangul syllable is a word of its own.
void SplitWords(std::string_view utf8, std::vector<std::string>& words);

struct TPageWords {
    std::vector<std::string> Body;   // in reading order, folded UTF-8
    std::vector<std::string> Title;  // the words of <title>
};

// The words of a page: tags stripped, script and style skipped, character
// references and entities decoded.
TPageWords ExtractPageWords(std::string_view html);

// One page as the index stores it: words already in the file's code page.
struct TSearchDocument {
    std::vector<std::string> Body;
    std::vector<std::string> Title;
};

// Words in the code page viewers compare the typed text in; a word the code
// page cannot hold stays UTF-8 rather than turning into question marks.
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
    TSearchWordCollector(bool enabled, unsigned codePage, unsigned threads)
        : enabled_(enabled), codePage_(codePage), threads_(threads == 0 ? 1 : threads) {}
    void Add(std::string_view html);
    std::vector<TDocumentWords> Finish();

private:
    void RunBatch();

    bool enabled_;
    unsigned codePage_;
    unsigned threads_;
    std::vector<std::string> batch_;
    std::size_t batchBytes_ = 0;
    std::vector<TDocumentWords> documents_;
};
