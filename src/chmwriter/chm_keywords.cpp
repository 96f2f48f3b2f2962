// Reads the index sitemap's keywords and builds the binary keyword index from them.
#include "chmwriter/chm_keywords.h"

#include <algorithm>

#include "chmwriter/chm_project.h"
#include "chmwriter/chm_text.h"

namespace {

constexpr std::size_t kBlockSize = 0x800;
constexpr std::size_t kBlockHeaderSize = 12;
constexpr std::size_t kHeaderSize = 0x4C;
constexpr std::uint32_t kDataEntrySize = 13;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

// The value of attribute name in a tag's text, references decoded.
std::string Attribute(std::string_view tag, std::string_view lowerTag, std::string_view name) {
    std::size_t at = 0;
    while ((at = lowerTag.find(name, at)) != std::string_view::npos) {
        std::size_t p = at + name.size();
        at = p;
        while (p < tag.size() && tag[p] == ' ') ++p;
        if (p >= tag.size() || tag[p] != '=') continue;
        ++p;
        while (p < tag.size() && tag[p] == ' ') ++p;
        if (p >= tag.size()) break;
        const char quote = tag[p];
        if (quote == '"' || quote == '\'') {
            const std::size_t end = tag.find(quote, p + 1);
            if (end == std::string_view::npos) break;
            return DecodeHtmlText(tag.substr(p + 1, end - p - 1));
        }
        std::size_t end = p;
        while (end < tag.size() && tag[end] != ' ' && tag[end] != '>') ++end;
        return DecodeHtmlText(tag.substr(p, end - p));
    }
    return {};
}

void AppendUtf16(TBytes& out, std::string_view utf8) {
    std::size_t at = 0;
    while (at < utf8.size()) {
        const auto b0 = static_cast<unsigned char>(utf8[at++]);
        char32_t c = b0;
        int extra = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC0 ? 1 : 0;
        if (b0 >= 0x80 && extra == 0)
            c = 0xFFFD;
        else
            c = b0 & (0xFF >> (extra + (extra ? 2 : 1)));
        for (int k = 0; k < extra && at < utf8.size(); ++k) c = (c << 6) | (utf8[at++] & 0x3F);
        const auto unit = [&](char32_t u) {
            out.push_back(static_cast<std::uint8_t>(u & 0xFF));
            out.push_back(static_cast<std::uint8_t>(u >> 8));
        };
        if (c >= 0x10000) {
            c -= 0x10000;
            unit(0xD800 + (c >> 10));
            unit(0xDC00 + (c & 0x3FF));
        } else {
            unit(c);
        }
    }
}

std::size_t Utf16Length(std::string_view utf8) {
    TBytes b;
    AppendUtf16(b, utf8);
    return b.size() / 2;
}

}  // namespace

void TTagSplitter::Feed(std::string_view text, const std::function<void(std::string_view tag)>& onTag) {
    if (!pending_.empty()) {
        const std::size_t end = text.find('>');
        if (end == std::string_view::npos) {
            pending_.append(text);
            return;
        }
        pending_.append(text.substr(0, end + 1));
        const std::string tag = std::move(pending_);
        pending_.clear();
        onTag(tag);
        text.remove_prefix(end + 1);
    }
    std::size_t at = 0;
    while ((at = text.find('<', at)) != std::string_view::npos) {
        const std::size_t end = text.find('>', at);
        if (end == std::string_view::npos) {
            pending_.assign(text.substr(at));
            return;
        }
        onTag(text.substr(at, end - at + 1));
        at = end + 1;
    }
}

void TSitemapKeywordParser::Feed(std::string_view text) {
    tags_.Feed(text, [this](std::string_view tag) { Tag(tag); });
}

std::vector<TSitemapKeyword> TSitemapKeywordParser::Finish() {
    tags_ = TTagSplitter();
    return std::move(keywords_);
}

void TSitemapKeywordParser::Tag(std::string_view tag) {
    // Tags are lowered one at a time: a whole lowered copy of a large index
    // would be held beside the index itself.
    lowerTag_.assign(tag);
    for (char& c : lowerTag_)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    const std::string_view lowerTag = lowerTag_;
    if (lowerTag.starts_with("<ul")) {
        ++depth_;
    } else if (lowerTag.starts_with("</ul")) {
        --depth_;
    } else if (lowerTag.starts_with("<object")) {
        inObject_ = lowerTag.find("text/sitemap") != std::string_view::npos;
        current_ = TSitemapKeyword{};
        current_.Level = std::max(0, depth_ - 1);
    } else if (inObject_ && lowerTag.starts_with("<param")) {
        const std::string name = Lower(Attribute(tag, lowerTag, "name"));
        const std::string value = Attribute(tag, lowerTag, "value");
        if (name == "name" && current_.Name.empty()) {
            current_.Name = value;
        } else if (name == "local") {
            std::string address = value;
            const std::size_t anchor = address.find('#');
            if (anchor != std::string::npos) address.resize(anchor);
            current_.Locals.push_back(NormalizeAddress(address));
        }
    } else if (inObject_ && lowerTag.starts_with("</object")) {
        inObject_ = false;
        if (!current_.Name.empty()) keywords_.push_back(std::move(current_));
        current_ = TSitemapKeyword{};
    }
}

std::vector<TSitemapKeyword> ParseSitemapKeywords(std::string_view sitemap) {
    TSitemapKeywordParser parser;
    parser.Feed(sitemap);
    return parser.Finish();
}

TKeywordFiles BuildKeywordLinks(const std::vector<TSitemapKeyword>& keywords,
                                const std::function<std::optional<std::uint32_t>(const std::string&)>& topicOf,
                                unsigned codePage, std::uint32_t languageId) {
    TKeywordFiles files;
    // The listing blocks go straight after the header's room, which is
    // filled in at the end: a large index's blocks are never held twice.
    files.BTree.assign(kHeaderSize, 0);
    std::uint32_t blocks = 0;
    std::vector<std::uint32_t> firstKeyword;
    TBytes block;
    std::uint16_t inBlock = 0;
    std::uint32_t written = 0;
    std::vector<std::string> path;
    const auto closeBlock = [&] {
        TBytes full;
        TByteWriter w(full);
        w.U16(static_cast<std::uint16_t>(kBlockSize - kBlockHeaderSize - block.size()));
        w.U16(inBlock);
        w.U32(blocks == 0 ? 0xFFFFFFFFu : blocks - 1);
        w.U32(0xFFFFFFFFu);  // set when the next block follows
        w.Raw(block);
        full.resize(kBlockSize, 0);
        if (blocks > 0) TByteWriter(files.BTree).PutU32At(kHeaderSize + (blocks - 1) * kBlockSize + 8, blocks);
        files.BTree.insert(files.BTree.end(), full.begin(), full.end());
        ++blocks;
        block.clear();
        inBlock = 0;
    };
    for (const TSitemapKeyword& keyword : keywords) {
        path.resize(static_cast<std::size_t>(keyword.Level));
        std::string fullName;
        for (const auto& part : path) fullName += part + ", ";
        const std::size_t commaIndex = path.empty() ? 0 : Utf16Length(fullName);
        fullName += keyword.Name;
        path.push_back(keyword.Name);

        std::vector<std::uint32_t> topics;
        for (const auto& local : keyword.Locals)
            if (auto topic = topicOf(local)) topics.push_back(*topic);

        TBytes entry;
        TByteWriter w(entry);
        AppendUtf16(entry, fullName);
        w.U16(0);
        w.U16(0);  // not a see-also entry
        w.U16(static_cast<std::uint16_t>(keyword.Level));
        w.U32(static_cast<std::uint32_t>(commaIndex));
        w.U32(0);
        w.U32(static_cast<std::uint32_t>(topics.size()));
        for (std::uint32_t topic : topics) w.U32(topic);
        w.U32(1);
        w.U32(written * kDataEntrySize);
        if (entry.size() > kBlockSize - kBlockHeaderSize) continue;  // a name no block can hold
        if (block.size() + entry.size() > kBlockSize - kBlockHeaderSize) closeBlock();
        if (inBlock == 0) firstKeyword.push_back(written);
        block.insert(block.end(), entry.begin(), entry.end());
        ++inBlock;
        ++written;

        TByteWriter data(files.Data);
        data.U32(0);
        data.U32(5);
        data.U32(0x80);
        data.U8(0);
    }
    if (inBlock > 0 || blocks == 0) {
        if (inBlock == 0) firstKeyword.push_back(0);
        closeBlock();
    }

    TBytes header;
    TByteWriter h(header);
    h.U16(0x293B);
    h.U16(2);
    h.U16(static_cast<std::uint16_t>(kBlockSize));
    TBytes format(16, 0);
    format[0] = 'X';
    format[1] = '4';
    format[2] = '4';
    h.Raw(format);
    h.U32(blocks - 1);  // last listing block
    h.U32(0);
    h.U32(0);
    h.U32(0xFFFFFFFFu);
    h.U32(blocks);
    h.U16(0);
    h.U32(written);
    h.U32(codePage);
    h.U32(0);
    h.U32(1);
    h.U32(languageId);
    std::copy(header.begin(), header.end(), files.BTree.begin());

    TByteWriter m(files.Map);
    m.U16(static_cast<std::uint16_t>(blocks));
    for (std::uint32_t b = 0; b < blocks; ++b) {
        m.U32(firstKeyword[b]);
        m.U32(static_cast<std::uint32_t>(b));
    }

    TByteWriter p(files.Property);
    p.Zeros(12);
    p.U32(12);
    p.U32(1);
    p.U32(1);
    p.Zeros(8);
    return files;
}
