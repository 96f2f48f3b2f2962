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
