#pragma once
// The binary keyword index ($WWKeywordLinks/BTree, Data, Map, Property)
// built from the sitemap index (.hhk), for viewers that read it instead of
// the sitemap.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chmwriter/chm_bytes.h"

struct TSitemapKeyword {
    std::string Name;                 // UTF-8, references decoded
    int Level = 0;                    // 0 top level, 1 below a keyword ...
    std::vector<std::string> Locals;  // page addresses, without anchors
};

// The keywords of a sitemap index in file order.
std::vector<TSitemapKeyword> ParseSitemapKeywords(std::string_view sitemap);

// Cuts a text that comes in pieces into its tags, "<...>", each handed on
// whole however the pieces were cut: a large sitemap need not be held whole.
class TTagSplitter {
public:
    void Feed(std::string_view text, const std::function<void(std::string_view tag)>& onTag);

private:
    std::string pending_;  // an unfinished tag from the last piece
};

// The keywords of a sitemap index from the index in pieces cut anywhere.
class TSitemapKeywordParser {
public:
    void Feed(std::string_view text);
    std::vector<TSitemapKeyword> Finish();

private:
    void Tag(std::string_view tag);

    std::vector<TSitemapKeyword> keywords_;
    TSitemapKeyword current_;
    TTagSplitter tags_;
    std::string lowerTag_;
    int depth_ = 0;
    bool inObject_ = false;
};

struct TKeywordFiles {
    TBytes BTree;
    TBytes Data;
    TBytes Map;
    TBytes Property;
};

// topicOf answers the #TOPICS number of an address; keywords whose pages are
// no topics keep only the pages that are.
TKeywordFiles BuildKeywordLinks(const std::vector<TSitemapKeyword>& keywords,
                                const std::function<std::optional<std::uint32_t>(const std::string&)>& topicOf,
                                unsigned codePage, std::uint32_t languageId);
