// The catalogue as a folder of web pages.
#include "output/site/web_site.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <unordered_map>

#include "base/language.h"
#include "base/shared_functions.h"
#include "catalogue/collation.h"
#include "pages/contents_tree.h"
#include "pages/data_archive.h"
#include "pages/html_escape.h"
#include "pages/keywords.h"
#include "platform/special_folders.h"

namespace {

EOSError OsError(const std::string& path, int error) {
    return EOSError(Translate("Cannot write \"$1\": $2", Params({path, std::strerror(error)})));
}

// Page names are plain ASCII, but a file name of the working folder may
// hold anything; a link must survive it.
std::string UrlPath(std::string_view path) {
    std::string out;
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '.' || c == '-' || c == '_' || c == '~' || c == '/')
            out += c;
        else
            out += '%' + HexEncode(std::string_view(&c, 1));
    }
    return out;
}

// Text as a JavaScript string literal. "<" and ">" are escaped too, so no
// value can close a script element wherever the data ends up.
std::string JsString(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '<': out += "\\u003c"; break;
            case '>': out += "\\u003e"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                           (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                            static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
                    // U+2028 and U+2029 end a line in older script engines.
                    out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
                    i += 2;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

// The heading a keyword is listed under: its first letter without accents in
// upper case, "#" for anything that is no letter.
std::string IndexLetter(std::string_view keyword) {
    if (keyword.empty()) return "#";
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(keyword.data(), static_cast<std::int32_t>(std::min<std::size_t>(keyword.size(), 16))));
    icu::UnicodeString base = U_SUCCESS(status) ? nfd->normalize(text, status) : text;
    if (U_FAILURE(status) || base.isEmpty()) return "#";
    const UChar32 first = u_toupper(base.char32At(0));
    if (!u_isalpha(first)) return "#";
    std::string out;
    icu::UnicodeString(first).toUTF8String(out);
    return out;
}

// Relative name of a file of the working folder; empty for a file elsewhere.
std::string RelativeToFolder(const std::string& path, const std::string& folder) {
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return {};
    return path.substr(prefix.size());
}

// Tells the start page which page its frame shows; does nothing in a window
// of its own, as in a help viewer. The catalogue's pages carry the same line.
const char kPageReport[] =
    "<script type=\"text/javascript\">if (window.parent !== window && window.postMessage) { try { "
    "window.parent.postMessage(\"orvalis-page:\" + location.href, \"*\"); } catch (e) {} }</script>\n";

void WriteFile(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw OsError(path, errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            throw OsError(path, error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) throw OsError(path, errno);
}

// Puts the old site's copy of a file into the new site when its bytes are
// the same: a second name costs far less than a new file, and the old name
// goes with the old site. False when it differs or cannot be linked.
bool LinkUnchanged(const std::string& old, const std::string& to, std::string_view bytes) {
    struct stat st {};
    if (::lstat(old.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) != bytes.size())
        return false;
    try {
        if (SiteFileContents(old, nullptr) != bytes) return false;
    } catch (const EOSError&) {
        return false;
    }
    return ::link(old.c_str(), to.c_str()) == 0;
}

int gInlineTreeLimit = 300;
// Row numbers of a search part, past which it is split by a third letter.
std::size_t gSearchPartRows = 20000;
// Rows of a chunk of the search's lists.
std::size_t gSearchChunkRows = 512;

// A file of the site written by the builder: its name in the site folder and its bytes.
using TSiteWrite = std::function<void(const std::string& name, std::string_view bytes)>;

// Everything of the start page, the keyword pages and the search index.
class TSiteBuilder {
public:
    explicit TSiteBuilder(const TSiteSource& source) : source_(source) {}

    // The start page; the groupings too long to stand in it go to
    // "tree/g<grouping>-<letter>.js", loaded when a letter is opened, and
    // "tree/where.js" tells which of them holds a page.
    std::string StartPage(const TSiteWrite& write) const;
    // One page per first letter: "keywords.html" holds the first letter.
    void KeywordPages(const TSiteWrite& write) const;
    // "search.js" names the parts; "search/<part>.js" holds the words starting
    // with the part's letters and the rows they are in; the rows themselves
    // are in chunks, "search/rows/<kind>-<n>.js".
    void SearchIndex(const TSiteWrite& write) const;

private:
    std::string Href(const TChmTreeItem& entry) const {
        return entry.FileInfo ? UrlPath(RelativeToFolder(entry.FileInfo->FileName, source_.WorkingFolder)) : "";
    }
    void TreeList(const std::vector<const TChmTreeItem*>& entries, std::string& out) const;
    void TreeList(const TChmTreeItem& parent, std::string& out) const { TreeList(Entries(parent), out); }
    static std::vector<const TChmTreeItem*> Entries(const TChmTreeItem& parent) {
        std::vector<const TChmTreeItem*> entries;
        for (int i = 0; i < parent.Count(); ++i) entries.push_back(parent.Item(i));
        return entries;
    }
    void PagesUnder(const std::vector<const TChmTreeItem*>& entries, const std::string& part,
                    std::map<std::string, std::string>& where) const;
    std::string Head(const std::string& title, const char* bodyClass) const;

    const TSiteSource& source_;
};

std::string TSiteBuilder::Head(const std::string& title, const char* bodyClass) const {
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           HtmlEscape(title) + "</title>\n<link rel=\"stylesheet\" href=\"style.css\">\n" +
           "<link rel=\"stylesheet\" href=\"site.css\">\n</head>\n<body class=\"" + bodyClass + "\">\n";
}

void TSiteBuilder::TreeList(const std::vector<const TChmTreeItem*>& entries, std::string& out) const {
    out += "<ul>\n";
    for (const TChmTreeItem* item : entries) {
        const TChmTreeItem& entry = *item;
        const std::string link =
            "<a href=\"" + Href(entry) + "\" target=\"page\">" + HtmlEscape(entry.Caption) + "</a>";
        if (entry.Count() == 0) {
            out += "<li>" + link + "</li>\n";
            continue;
        }
        out += "<li><details><summary>" + link + "</summary>\n";
        TreeList(entry, out);
        out += "</details></li>\n";
    }
    out += "</ul>\n";
}

void TSiteBuilder::PagesUnder(const std::vector<const TChmTreeItem*>& entries, const std::string& part,
                              std::map<std::string, std::string>& where) const {
    for (const TChmTreeItem* entry : entries) {
        const std::string page = Href(*entry);
        if (!page.empty()) where.emplace(page, part);
        PagesUnder(Entries(*entry), part, where);
    }
}

std::string TSiteBuilder::StartPage(const TSiteWrite& write) const {
    std::string out = Head(source_.Title, "site");
    // On a narrow screen the column is a menu over the page, opened by the
    // box before it; it works without the script, which closes it after a choice.
    out += "<input type=\"checkbox\" id=\"menu-toggle\" aria-controls=\"side\" aria-label=\"" +
           HtmlEscape(Translate("Contents")) + "\">\n<div class=\"menubar\"><label for=\"menu-toggle\">&#9776; " +
           HtmlEscape(Translate("Contents")) + "</label><span class=\"sitetitle\">" + HtmlEscape(source_.Title) +
           "</span></div>\n<label for=\"menu-toggle\" class=\"scrim\"></label>\n";
    out +=
        "<nav id=\"side\">\n<div class=\"sitehead\"><a href=\"main.html\" target=\"page\">"
        "<img src=\"logo.png\" width=\"24\" height=\"24\" alt=\"\">" +
        HtmlEscape(source_.Title) + "</a></div>\n";
    if (source_.Search) {
        // Shown by the script, which is what makes it work.
        out +=
            "<form id=\"find\" role=\"search\" hidden><input id=\"q\" type=\"search\" autocomplete=\"off\" "
            "placeholder=\"" +
            HtmlEscape(Translate("Find artists, albums and titles")) + "\" aria-label=\"" +
            HtmlEscape(Translate("Search")) + "\"></form>\n";
        out += "<div id=\"results\" hidden data-artists=\"" + HtmlEscape(Translate("Artists")) + "\" data-albums=\"" +
               HtmlEscape(Translate("Albums")) + "\" data-titles=\"" + HtmlEscape(Translate("Titles")) +
               "\" data-none=\"" + HtmlEscape(Translate("Nothing found.")) + "\" data-more=\"" +
               HtmlEscape(Translate("and $1 more")) + "\"></div>\n";
    }
    out += "<div id=\"tree\">\n<p class=\"indexlink\"><a href=\"keywords.html\" target=\"page\">" +
           HtmlEscape(Translate("Index")) + "</a></p>\n";
    const TChmTreeItem& root = *source_.Tree->Root;
    std::map<std::string, std::string> where;
    for (int i = 0; i < root.Count(); ++i) {
        const TChmTreeItem& grouping = *root.Item(i);
        // A page of its own, such as the statistics, is a plain link.
        if (grouping.Count() == 0) {
            out += "<p class=\"pagelink\"><a href=\"" + Href(grouping) + "\" target=\"page\">" +
                   HtmlEscape(grouping.Caption) + "</a></p>\n";
            continue;
        }
        // The first grouping stands open, so the start page shows what there is.
        out += std::string(i == 0 ? "<details open>" : "<details>") + "<summary><a href=\"" + Href(grouping) +
               "\" target=\"page\">" + HtmlEscape(grouping.Caption) + "</a> <span class=\"count\">" +
               std::to_string(grouping.Count()) + "</span></summary>\n";
        if (grouping.Count() <= gInlineTreeLimit) {
            TreeList(grouping, out);
            out += "</details>\n";
            continue;
        }
        // A long grouping stands as its letters; each letter's entries come
        // from a script of their own, as fetching files fails from file://.
        std::vector<std::string> letters;
        std::vector<std::vector<const TChmTreeItem*>> lists;
        std::map<std::string, std::size_t> letterAt;
        for (int e = 0; e < grouping.Count(); ++e) {
            const TChmTreeItem& entry = *grouping.Item(e);
            auto [at, added] = letterAt.emplace(IndexLetter(entry.Caption), letters.size());
            if (added) {
                letters.push_back(at->first);
                lists.emplace_back();
            }
            lists[at->second].push_back(&entry);
        }
        out += "<ul class=\"byletter\">\n";
        for (std::size_t l = 0; l < letters.size(); ++l) {
            const std::string part = "g" + std::to_string(i) + "-" + std::to_string(l);
            out += "<li><details data-part=\"" + part + "\"><summary>" + HtmlEscape(letters[l]) +
                   " <span class=\"count\">" + std::to_string(lists[l].size()) + "</span></summary></details></li>\n";
            std::string list;
            TreeList(lists[l], list);
            write("tree/" + part + ".js", "orvalisTree(\"" + part + "\"," + JsString(list) + ");\n");
            PagesUnder(lists[l], part, where);
        }
        out += "</ul>\n</details>\n";
    }
    if (!where.empty()) {
        std::string map = "orvalisWhere({";
        bool first = true;
        for (const auto& [page, part] : where) {
            map += (first ? "\n" : ",\n") + JsString(page) + ":\"" + part + "\"";
            first = false;
        }
        write("tree/where.js", map + "});\n");
    }
    out += "</div>\n</nav>\n<iframe id=\"page\" name=\"page\" src=\"main.html\" title=\"" + HtmlEscape(source_.Title) +
           "\"></iframe>\n";
    if (source_.Search) out += "<script src=\"search.js\"></script>\n";
    out += "<script src=\"site.js\"></script>\n</body>\n</html>\n";
    return out;
}

void TSiteBuilder::KeywordPages(const TSiteWrite& write) const {
    struct TListedKeyword {
        std::string sortKey, text;
        std::vector<const TChmTreeItem*> entries;
    };
    std::vector<TListedKeyword> keywords;
    if (source_.Tree->Keywords) {
        // The same keywords and entries as the compiled index lists.
        source_.Tree->Keywords->ForEachKey([&](std::string_view key, const TLetterTree& node) {
            TListedKeyword keyword;
            const TID* first = node.IDs;
            const TID* id = first;
            if (!id) return;
            do {
                const TChmTreeItem* entry = TChmTreeItem::FromKeywordId(id->Value);
                const int at = KeywordIndexOf(*entry, key);
                if (at >= 0 && at < static_cast<int>(entry->KeywordKindList.size()) &&
                    HasKind(entry->EnabledKinds, entry->KeywordKindList[static_cast<std::size_t>(at)]) &&
                    entry->FileInfo)
                    keyword.entries.push_back(entry);
                id = id->NextID;
            } while (id != first);
            keyword.text = Trim(key);
            if (!keyword.entries.empty() && !keyword.text.empty()) keywords.push_back(std::move(keyword));
        });
    }
    const TCollator collator(CollationLocaleFromEnvironment());
    for (TListedKeyword& k : keywords) k.sortKey = collator.SortKey(k.text);
    std::sort(keywords.begin(), keywords.end(),
              [](const TListedKeyword& a, const TListedKeyword& b) { return a.sortKey < b.sortKey; });

    // Sections in the order their first keyword comes; each is made just
    // before its page is written, so the whole index is never held as HTML.
    std::vector<std::string> letters;
    std::vector<std::uint32_t> sectionOfKeyword(keywords.size());
    std::map<std::string, std::uint32_t> sectionOf;
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        std::string().swap(keywords[i].sortKey);
        const std::string letter = IndexLetter(keywords[i].text);
        auto [at, added] = sectionOf.emplace(letter, static_cast<std::uint32_t>(letters.size()));
        if (added) letters.push_back(letter);
        sectionOfKeyword[i] = at->second;
    }
    // The keywords of each section, in order: section s has order[first[s], first[s + 1]).
    std::vector<std::size_t> first(letters.size() + 1, 0);
    for (const std::uint32_t section : sectionOfKeyword) ++first[section + 1];
    for (std::size_t i = 1; i < first.size(); ++i) first[i] += first[i - 1];
    std::vector<std::uint32_t> order(keywords.size());
    {
        std::vector<std::size_t> next(first.begin(), first.end() - 1);
        for (std::size_t i = 0; i < keywords.size(); ++i)
            order[next[sectionOfKeyword[i]]++] = static_cast<std::uint32_t>(i);
    }
    std::vector<std::uint32_t>().swap(sectionOfKeyword);
    const auto section = [&](std::size_t s) {
        std::string html;
        for (std::size_t n = first[s]; n < first[s + 1]; ++n) {
            const TListedKeyword& k = keywords[order[n]];
            if (k.entries.size() == 1) {
                html += "<li><a href=\"" + Href(*k.entries.front()) + "\">" + HtmlEscape(k.text) + "</a></li>\n";
                continue;
            }
            html += "<li>" + HtmlEscape(k.text) + "<ul>\n";
            for (const TChmTreeItem* entry : k.entries)
                html += "<li><a href=\"" + Href(*entry) + "\">" + HtmlEscape(entry->Caption) + "</a></li>\n";
            html += "</ul></li>\n";
        }
        return html;
    };

    // One page per letter: the whole index of a large collection is too much
    // for a browser to open at once. Each page has the letter bar.
    const auto pageName = [](std::size_t i) {
        return i == 0 ? std::string("keywords.html") : "keywords-" + std::to_string(i) + ".html";
    };
    std::string bar = "<p class=\"letters\">";
    for (std::size_t i = 0; i < letters.size(); ++i)
        bar += "<a href=\"" + pageName(i) + "\">" + HtmlEscape(letters[i]) + "</a> ";
    bar += "</p>\n";
    for (std::size_t i = 0; i < std::max<std::size_t>(letters.size(), 1); ++i) {
        std::string out = Head(Translate("Index"), "keywords");
        // The same banner as the catalogue's pages, whose style sheet it shares.
        out +=
            "<div class=\"banner\"><table class=\"banner\" cellspacing=\"0\" cellpadding=\"0\" width=\"100%\"><tr>"
            "<td class=\"logo\"><img src=\"logo.png\" width=\"32\" height=\"32\" alt=\"\"></td><td><h1>" +
            HtmlEscape(Translate("Index")) + "</h1></td></tr></table></div>\n";
        if (keywords.empty()) out += "<p>" + HtmlEscape(Translate("Nothing found.")) + "</p>\n";
        out += bar;
        if (i < letters.size()) {
            out += "<h2 id=\"k" + std::to_string(i) + "\">" + HtmlEscape(letters[i]) + "</h2>\n<ul>\n" + section(i) +
                   "</ul>\n";
        }
        out += kPageReport;
        out += "</body>\n</html>\n";
        write(pageName(i), out);
    }
}

// Sorted row numbers as the script decodes them: each as its difference to
// the one before, in groups of five bits, high groups first; a digit from the
// upper half of the alphabet says another group follows.
const char kRowDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";

void AppendRows(const std::vector<std::uint32_t>& rows, std::string& out) {
    std::uint32_t last = 0;
    for (const std::uint32_t row : rows) {
        std::uint32_t step = row - last;
        last = row;
        char groups[8];
        int n = 0;
        do {
            groups[n++] = static_cast<char>(step & 31);
            step >>= 5;
        } while (step);
        while (n > 1) out += kRowDigits[32 + groups[--n]];
        out += kRowDigits[static_cast<int>(groups[0])];
    }
}

void TSiteBuilder::SearchIndex(const TSiteWrite& write) const {
    // Rows are written once, in chunks of the whole lists, as the script shows
    // them (search/rows/<kind>-<n>.js):
    // a: artists [name, page]; b: albums [name, page, artists];
    // t: titles [title, artist, album in the chunk's own list of [name, page]].
    // The parts (search/<letters>.js) hold the words starting with their
    // letters, each with the numbers of the rows it is in, per kind.
    const TChmTreeItem& root = *source_.Tree->Root;
    // The artists of an album, in the order their tracks come, for finding
    // an album by words of its name and its artist together.
    std::map<std::string, std::vector<std::string>> albumArtists;
    if (source_.Titles)
        for (const TSiteTitle& t : *source_.Titles) {
            std::vector<std::string>& artists = albumArtists[std::string(t.AlbumPage)];
            if (!t.Artist.empty() && artists.size() < 4 &&
                std::find(artists.begin(), artists.end(), t.Artist) == artists.end())
                artists.emplace_back(t.Artist);
        }

    // Every folded word once; per kind its (word, row) pairs as word << 32 | row.
    std::unordered_map<std::string, std::uint32_t> wordIds;
    std::vector<const std::string*> wordOf;
    std::vector<std::uint64_t> pairs[3];
    const auto file = [&](std::string_view text, int kind, std::uint32_t row) {
        std::vector<std::string> words = SiteSearchWords(SiteSearchFold(text));
        std::sort(words.begin(), words.end());
        words.erase(std::unique(words.begin(), words.end()), words.end());
        for (std::string& word : words) {
            const auto [at, added] = wordIds.try_emplace(std::move(word), static_cast<std::uint32_t>(wordOf.size()));
            if (added) wordOf.push_back(&at->first);
            pairs[kind].push_back(static_cast<std::uint64_t>(at->second) << 32 | row);
        }
    };

    // Rows go to their chunk as they come; a chunk is written when full.
    const std::size_t chunkRows = std::max<std::size_t>(gSearchChunkRows, 1);
    std::string chunk, chunkAlbums;
    std::map<std::uint32_t, std::size_t> chunkAlbumAt;
    const auto add = [&](char kind, std::uint32_t row, const std::string& json, bool last) {
        chunk += (row % chunkRows ? ",\n" : "\n") + json;
        if (!last && (row + 1) % chunkRows) return;
        const std::string name = std::string(1, kind) + "-" + std::to_string(row / chunkRows);
        write("search/rows/" + name + ".js",
              "orvalisRows(\"" + name + "\",[" + chunk + "]" + (kind == 't' ? ",[" + chunkAlbums + "]" : "") + ");\n");
        chunk.clear();
        chunkAlbums.clear();
        chunkAlbumAt.clear();
    };
    const int artistCount = root.Count() > 0 ? root.Item(0)->Count() : 0;
    for (int i = 0; i < artistCount; ++i) {
        const TChmTreeItem& entry = *root.Item(0)->Item(i);
        const auto row = static_cast<std::uint32_t>(i);
        file(entry.Caption, 0, row);
        add('a', row, "[" + JsString(entry.Caption) + "," + JsString(Href(entry)) + "]", i + 1 == artistCount);
    }
    // Album names and pages stay for the titles' chunks; albums are few beside titles.
    std::map<std::string, std::uint32_t, std::less<>> albumAt;
    std::vector<std::string> albumJson;
    const int albumCount = root.Count() > 1 ? root.Item(1)->Count() : 0;
    for (int i = 0; i < albumCount; ++i) {
        const TChmTreeItem& entry = *root.Item(1)->Item(i);
        std::string artists;
        if (entry.FileInfo) {
            const std::string page = RelativeToFolder(entry.FileInfo->FileName, source_.WorkingFolder);
            albumAt.emplace(page, static_cast<std::uint32_t>(i));
            const auto found = albumArtists.find(page);
            if (found != albumArtists.end())
                for (const std::string& artist : found->second) artists += (artists.empty() ? "" : ", ") + artist;
        }
        const auto row = static_cast<std::uint32_t>(i);
        file(entry.Caption + "\n" + artists, 1, row);
        albumJson.push_back(JsString(entry.Caption) + "," + JsString(Href(entry)));
        add('b', row, "[" + albumJson.back() + "," + JsString(artists) + "]", i + 1 == albumCount);
    }
    albumArtists.clear();
    std::uint32_t titles = 0;
    if (source_.Titles) {
        const auto listed = [&](const TSiteTitle& t) { return !t.Title.empty() && albumAt.count(t.AlbumPage) > 0; };
        const std::size_t count =
            static_cast<std::size_t>(std::count_if(source_.Titles->begin(), source_.Titles->end(), listed));
        for (const TSiteTitle& t : *source_.Titles) {
            if (!listed(t)) continue;
            const std::uint32_t album = albumAt.find(t.AlbumPage)->second;
            file(std::string(t.Title) + "\n" + std::string(t.Artist) + "\n" +
                     root.Item(1)->Item(static_cast<int>(album))->Caption,
                 2, titles);
            const auto [at, added] = chunkAlbumAt.emplace(album, chunkAlbumAt.size());
            if (added) chunkAlbums += (at->second ? ",[" : "[") + albumJson[album] + "]";
            add('t', titles,
                "[" + JsString(t.Title) + "," + JsString(t.Artist) + "," + std::to_string(at->second) + "]",
                titles + 1 == count);
            ++titles;
        }
    }
    albumJson.clear();
    albumAt.clear();

    // Each word's rows, by kind: pairs sorted by word and row, and where each
    // word's run starts.
    const std::size_t words = wordOf.size();
    std::vector<std::uint32_t> starts[3];
    for (int kind = 0; kind < 3; ++kind) {
        std::sort(pairs[kind].begin(), pairs[kind].end());
        starts[kind].assign(words + 1, 0);
        for (const std::uint64_t p : pairs[kind]) ++starts[kind][(p >> 32) + 1];
        for (std::size_t w = 0; w < words; ++w) starts[kind][w + 1] += starts[kind][w];
    }
    const auto postings = [&](std::uint32_t w) {
        return starts[0][w + 1] - starts[0][w] + starts[1][w + 1] - starts[1][w] + starts[2][w + 1] - starts[2][w];
    };
    std::vector<std::uint32_t> order(words);
    for (std::size_t w = 0; w < words; ++w) order[w] = static_cast<std::uint32_t>(w);
    std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) { return *wordOf[x] < *wordOf[y]; });

    std::string names, deep;
    std::vector<std::uint32_t> rows;
    // The rows of each kind with any word of order[from, to), as "" in a part.
    const auto all = [&](std::size_t from, std::size_t to, std::string& out) {
        out += "\"\"";
        for (int kind = 0; kind < 3; ++kind) {
            rows.clear();
            for (std::size_t i = from; i < to; ++i)
                for (std::uint32_t p = starts[kind][order[i]]; p < starts[kind][order[i] + 1]; ++p)
                    rows.push_back(static_cast<std::uint32_t>(pairs[kind][p]));
            std::sort(rows.begin(), rows.end());
            rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
            out += ",\"";
            AppendRows(rows, out);
            out += "\"";
        }
    };
    // A part: maybe the "" entry, then each word of the range with its rows.
    const auto writePart = [&](const std::string& name, std::string head, std::size_t from, std::size_t to,
                               bool onlyShort) {
        std::string out = "orvalisWords(\"" + name + "\",[" + head;
        for (std::size_t i = from; i < to; ++i) {
            const std::uint32_t w = order[i];
            if (onlyShort && SiteSearchPart(*wordOf[w], 3) != name) continue;
            out += (out.back() == '[' ? "\n" : ",\n") + JsString(*wordOf[w]);
            for (int kind = 0; kind < 3; ++kind) {
                rows.clear();
                for (std::uint32_t p = starts[kind][w]; p < starts[kind][w + 1]; ++p)
                    rows.push_back(static_cast<std::uint32_t>(pairs[kind][p]));
                out += ",\"";
                AppendRows(rows, out);
                out += "\"";
            }
        }
        write("search/" + name + ".js", out + "]);\n");
        names += (names.empty() ? "" : " ") + name;
    };
    // Runs of words with the same first letters follow each other in order.
    const auto runEnd = [&](std::size_t from, int letters) {
        const std::string part = SiteSearchPart(*wordOf[order[from]], letters);
        std::size_t to = from + 1;
        while (to < words && SiteSearchPart(*wordOf[order[to]], letters) == part) ++to;
        return to;
    };
    for (std::size_t first = 0; first < words;) {
        // A term of one letter takes the rows of every word with that letter.
        const std::size_t firstEnd = runEnd(first, 1);
        std::string head;
        all(first, firstEnd, head);
        writePart(SiteSearchPart(*wordOf[order[first]], 1), std::move(head), first, first, false);
        for (std::size_t two = first; two < firstEnd;) {
            const std::size_t twoEnd = runEnd(two, 2);
            const std::string name = SiteSearchPart(*wordOf[order[two]], 2);
            std::size_t count = 0;
            for (std::size_t i = two; i < twoEnd; ++i) count += postings(order[i]);
            if (name.find('-') == std::string::npos) {
                // Words of one letter: found through the letter's own part.
            } else if (count <= gSearchPartRows) {
                writePart(name, "", two, twoEnd, false);
            } else {
                // A part too big to load quickly is split by the third letter;
                // the part of the two letters keeps the words of just two and
                // every row with a word starting with them.
                head.clear();
                all(two, twoEnd, head);
                writePart(name, std::move(head), two, twoEnd, true);
                for (std::size_t three = two; three < twoEnd;) {
                    const std::size_t threeEnd = runEnd(three, 3);
                    const std::string third = SiteSearchPart(*wordOf[order[three]], 3);
                    if (third != name) writePart(third, "", three, threeEnd, false);
                    three = threeEnd;
                }
                deep += (deep.empty() ? "" : " ") + name;
            }
            two = twoEnd;
        }
        first = firstEnd;
    }
    write("search.js", "var ORVALIS_SEARCH={parts:\"" + names + "\",deep:\"" + deep +
                           "\",rows:" + std::to_string(chunkRows) + ",count:[" + std::to_string(artistCount) + "," +
                           std::to_string(albumCount) + "," + std::to_string(titles) + "]};\n");
}

}  // namespace

std::string SiteStartPage(const std::string& folder) { return JoinPath(folder, "index.html"); }

void SetSiteInlineTreeLimitForTesting(int entries) { gInlineTreeLimit = entries; }

void SetSiteSearchPartRowsForTesting(std::size_t rows) { gSearchPartRows = rows; }

void SetSiteSearchChunkRowsForTesting(std::size_t rows) { gSearchChunkRows = rows; }

std::string SiteSearchFold(std::string_view text) {
    // Letters that do not decompose into a base letter and marks; site.js has the same.
    static const std::map<UChar32, const char*> kPlain = {
        {0xdf, "ss"}, {0xe6, "ae"}, {0xf0, "d"},  {0xf8, "o"},  {0xfe, "th"},  {0x111, "d"}, {0x127, "h"}, {0x131, "i"},
        {0x138, "k"}, {0x140, "l"}, {0x142, "l"}, {0x14b, "n"}, {0x153, "oe"}, {0x167, "t"}, {0x17f, "s"}, {0x180, "b"},
        {0x183, "b"}, {0x188, "c"}, {0x192, "f"}, {0x199, "k"}, {0x19a, "l"},  {0x1b6, "z"}, {0x225, "z"}, {0x249, "j"},
        {0x24d, "r"}, {0x253, "b"}, {0x256, "d"}, {0x257, "d"}, {0x260, "g"},  {0x268, "i"}, {0x289, "u"}};
    icu::UnicodeString u =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    u.toLower(icu::Locale::getRoot());
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
    if (U_SUCCESS(status)) {
        icu::UnicodeString decomposed = nfkd->normalize(u, status);
        if (U_SUCCESS(status)) u = decomposed;
    }
    std::string out;
    for (std::int32_t i = 0; i < u.length();) {
        const UChar32 c = u.char32At(i);
        i += U16_LENGTH(c);
        if (c >= 0x300 && c <= 0x36f) continue;
        const auto plain = kPlain.find(c);
        if (plain != kPlain.end()) {
            out += plain->second;
            continue;
        }
        char bytes[4];
        std::int32_t n = 0;
        UBool error = false;
        U8_APPEND(reinterpret_cast<std::uint8_t*>(bytes), n, 4, c, error);
        if (!error) out.append(bytes, static_cast<std::size_t>(n));
    }
    return out;
}

std::vector<std::string> SiteSearchWords(std::string_view folded) {
    std::vector<std::string> words;
    std::string word;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(folded.data());
    const auto length = static_cast<std::int32_t>(folded.size());
    for (std::int32_t i = 0; i < length;) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c >= 0 && (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0) {
            word.append(folded.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

std::string SiteSearchPart(std::string_view word, int letters) {
    std::string part;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(word.data());
    const auto length = static_cast<std::int32_t>(word.size());
    for (std::int32_t i = 0, n = 0; i < length && n < letters; ++n) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(c < 0 ? 0xfffd : c));
        part += (part.empty() ? "" : "-") + std::string(hex);
    }
    return part;
}

std::string SiteDestination(const std::string& chosenFolder, int placeTo) {
    const std::string folder = PlaceFolder(placeTo);
    if (folder.empty()) return chosenFolder;
    return JoinPath(folder, kSiteFolderName);
}

std::string SiteFileContents(const std::string& path, const std::map<std::string, std::string>* memoryFiles) {
    if (memoryFiles) {
        const auto found = memoryFiles->find(path);
        if (found != memoryFiles->end()) return found->second;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EOSError(Translate("Cannot read \"$1\": $2", Params({path, std::strerror(errno)})));
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw EOSError(Translate("Cannot read \"$1\": $2", Params({path, std::strerror(error)})));
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

bool WriteWebSite(const TSiteSource& source, const std::string& target) {
    RemoveAbandonedStaging(target);
    TStagingFolder staging(target);
    const std::string& folder = staging.Path();
    const auto report = [&](int percent) { return !source.OnProgress || source.OnProgress(percent); };

    // Every file of the catalogue, under the name it has in the working folder.
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const auto& file : source.Files->Items) {
        const std::string relative = RelativeToFolder(file->FileName, source.WorkingFolder);
        if (relative.empty() || !seen.insert(relative).second) continue;
        names.push_back(file->FileName);
    }
    if (!report(0)) return false;
    int shown = 0;
    // The working folder goes with the run, so its files may simply move
    // over when both folders are on one file system.
    bool moving = source.MoveFiles;
    // What did not change since the old site is there already.
    const bool oldSite = IsOurSite(target);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string relative = RelativeToFolder(names[i], source.WorkingFolder);
        const std::string to = JoinPath(folder, relative);
        if (relative.find('/') != std::string::npos) {
            std::error_code error;
            std::filesystem::create_directories(ExtractFileDir(to), error);
            if (error) throw OsError(ExtractFileDir(to), error.value());
        }
        const bool inMemory = source.MemoryFiles && source.MemoryFiles->count(names[i]) > 0;
        if (moving && !inMemory) {
            if (::rename(names[i].c_str(), to.c_str()) != 0) {
                if (errno != EXDEV) throw OsError(to, errno);
                moving = false;
            }
        }
        if (!moving || inMemory) {
            const std::string bytes = SiteFileContents(names[i], source.MemoryFiles);
            if (!oldSite || !LinkUnchanged(JoinPath(target, relative), to, bytes)) WriteFile(to, bytes);
        }
        const int percent = static_cast<int>((i + 1) * 90 / names.size());
        if (percent != shown) {
            shown = percent;
            if (!report(percent)) return false;
        }
    }

    const TSiteBuilder builder(source);
    std::set<std::string> made;
    const auto write = [&](const std::string& name, std::string_view bytes) {
        const std::string to = JoinPath(folder, name);
        const std::string dir = ExtractFileDir(to);
        if (name.find('/') != std::string::npos && made.insert(dir).second) {
            std::error_code error;
            std::filesystem::create_directories(dir, error);
            if (error) throw OsError(dir, error.value());
        }
        WriteFile(to, bytes);
    };
    write("index.html", builder.StartPage(write));
    builder.KeywordPages(write);
    if (!report(92)) return false;
    // The style sheet and the start page's script come from the data archive.
    // The script marks the entry of the page shown and keeps the page in the address
    // ("index.html#page.htm" opens at that page), opens long groupings letter by
    // letter, and searches as the user types ("index.html?q=text" starts with a
    // search), loading only the part of the index a word needs. Pages say which
    // they are by a message, the one way a frame's address reaches the start
    // page from file:// in every browser. Everything else works without it.
    write("site.css", LoadArchivedFile("site/site.css"));
    write("site.js", LoadArchivedFile("site/site.js"));
    // The album pages' player goes on to the next track.
    write("player.js", LoadArchivedFile("site/player.js"));
    if (source.Search) builder.SearchIndex(write);
    WriteFile(JoinPath(folder, kSiteMarkerName), "Orvalis web site\n");
    WriteSiteManifest(folder);
    if (!report(95)) return false;

    // On disk before it replaces the old site: a crash must not leave empty pages.
    if (const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
    staging.Place(target);
    report(100);
    return true;
}
