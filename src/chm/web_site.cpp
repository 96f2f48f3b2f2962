#include "chm/web_site.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "base/language.h"
#include "base/shared_functions.h"
#include "chm/chm_tree.h"
#include "chm/collation.h"
#include "chm/html_escape.h"
#include "chm/keywords.h"
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

const char kSiteStyle[] = R"css(html,body.site{height:100%;margin:0;padding:0}
body.site{display:flex;font-family:Verdana,Tahoma,Arial,sans-serif;font-size:13px;color:#222;background:#fff}
#side{width:300px;min-width:200px;resize:horizontal;overflow:hidden;box-sizing:border-box;padding:8px 0 0 10px;
 background:#f0f3f8;border-right:1px solid #c7cfdb;display:flex;flex-direction:column}
#tree,#results{flex:1;min-height:0;overflow:auto;padding-right:10px}
#find{padding-right:10px}
#page{flex:1;min-width:0;border:0;height:100%;background:#fff}
.sitehead{font-weight:bold;font-size:15px;margin:2px 0 8px}
.sitehead a{color:#1c3f6e;text-decoration:none}
.sitehead img{vertical-align:middle;margin-right:6px}
#find input{width:100%;box-sizing:border-box;padding:5px 6px;margin-bottom:8px;border:1px solid #9aa8bd;border-radius:3px}
#side ul{list-style:none;margin:0;padding:0 0 0 14px}
#side li{margin:1px 0;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
#side summary{cursor:pointer;margin:3px 0;font-weight:bold}
#side a{color:#1c3f6e;text-decoration:none}
#side a:hover{text-decoration:underline}
#side a.current{background:#1c3f6e;color:#fff;border-radius:2px;padding:0 3px}
.count,.where{color:#6a7586;font-weight:normal;font-size:11px}
.indexlink{margin:0 0 6px;font-weight:bold}
#results h3{font-size:12px;margin:10px 0 3px;color:#4a5566}
#results p{color:#6a7586;margin:4px 0}
#results li{white-space:normal}
#menu-toggle,.menubar,.scrim{display:none}
body.keywords .letters{position:sticky;top:0;background:#fff;padding:4px 0;border-bottom:1px solid #c7cfdb}
body.keywords .letters a{display:inline-block;min-width:1.4em;text-align:center;font-weight:bold}
body.keywords ul{list-style:none;padding-left:14px;margin:2px 0}
body.keywords h2{margin:14px 0 4px}
@media (max-width:640px){
 body.site{display:block;overflow:hidden}
 #menu-toggle{display:block;position:absolute;left:0;top:0;width:1px;height:1px;margin:0;opacity:0}
 .menubar{display:flex;align-items:center;height:44px;box-sizing:border-box;padding:0 8px;
  background:#f0f3f8;border-bottom:1px solid #c7cfdb}
 .menubar label{flex:none;cursor:pointer;font-size:14px;line-height:1;padding:7px 10px;border:1px solid #9aa8bd;
  border-radius:3px;background:#fff;color:#1c3f6e;user-select:none}
 #menu-toggle:focus-visible~.menubar label{outline:2px solid #1c3f6e;outline-offset:1px}
 .menubar .sitetitle{margin-left:10px;min-width:0;font-weight:bold;color:#1c3f6e;white-space:nowrap;overflow:hidden;
  text-overflow:ellipsis}
 #page{display:block;width:100%;height:calc(100% - 44px)}
 #side{position:fixed;top:44px;left:0;bottom:0;z-index:2;width:min(320px,86vw);min-width:0;resize:none;
  visibility:hidden;transform:translateX(-100%);transition:transform .2s,visibility .2s;
  box-shadow:2px 0 12px rgba(0,0,0,.25)}
 #menu-toggle:checked~#side{visibility:visible;transform:none}
 .scrim{position:fixed;top:44px;left:0;right:0;bottom:0;z-index:1;background:rgba(0,0,0,.3)}
 #menu-toggle:checked~.scrim{display:block}
 #side li{white-space:normal}
}
)css";

// Marks the entry of the page shown and keeps the page in the address
// ("index.html#page.htm" opens at that page), and searches as the user types
// ("index.html?q=text" starts with a search). Pages say which they are by a
// message, the one way a frame's address reaches the start page from file://
// in every browser. Everything else works without it.
const char kSiteScript[] = R"js((function () {
  "use strict";
  var tree = document.getElementById("tree");
  var frame = document.getElementById("page");
  var toggle = document.getElementById("menu-toggle");
  var byPage = {}, current = null, shown = null;
  var links = tree.getElementsByTagName("a");
  for (var i = 0; i < links.length; i++) {
    var h = links[i].getAttribute("href");
    if (!(h in byPage)) byPage[h] = links[i];
  }
  function isPage(name) { return /^[A-Za-z0-9._~-]+\.html?$/.test(name) && name !== "index.html"; }
  function mark(page, show) {
    var link = byPage[page];
    if (!link || link === current) return;
    if (current) { current.classList.remove("current"); current.removeAttribute("aria-current"); }
    current = link;
    link.classList.add("current");
    link.setAttribute("aria-current", "page");
    for (var p = link.parentNode; p && p !== tree; p = p.parentNode)
      if (p.tagName === "DETAILS") p.open = true;
    // A page opened from elsewhere than the tree brings its entry into view.
    if (show && link.scrollIntoView) link.scrollIntoView({ block: "center" });
  }
  function pageOf(href) {
    var name = String(href).split("#")[0].split("?")[0];
    try { return decodeURIComponent(name.substring(name.lastIndexOf("/") + 1)); } catch (err) { return ""; }
  }
  function hashPage() {
    try { return decodeURIComponent(location.hash.substring(1)); } catch (err) { return ""; }
  }
  // The page now in the frame: marked, and in the address for reloads and bookmarks.
  function showing(page) {
    if (!isPage(page)) return;
    shown = page;
    mark(page, true);
    var hash = page === "main.html" ? "" : page;
    if (hashPage() === hash) return;
    try {
      history.replaceState(history.state, "", hash ? "#" + hash : location.pathname + location.search);
    } catch (err) {
      location.replace("#" + hash);
    }
  }
  function closeMenu() { if (toggle) toggle.checked = false; }
  document.addEventListener("click", function (e) {
    var a = e.target.closest ? e.target.closest("a") : null;
    if (a && a.target === "page") { mark(a.getAttribute("href")); closeMenu(); }
  });
  document.addEventListener("keydown", function (e) { if (e.key === "Escape") closeMenu(); });
  window.addEventListener("message", function (e) {
    if (e.source !== frame.contentWindow || typeof e.data !== "string") return;
    if (e.data.indexOf("orvalis-page:") === 0) showing(pageOf(e.data.substring(13)));
  });
  frame.addEventListener("load", function () {
    // Browsers that treat local files as one origin tell it here too.
    try { showing(pageOf(frame.contentWindow.location.pathname)); } catch (err) {}
  });
  function follow() {
    var page = hashPage();
    if (!page) page = "main.html";
    if (isPage(page) && page !== shown) { shown = page; frame.src = page; mark(page, true); }
  }
  window.addEventListener("hashchange", follow);
  if (hashPage()) follow();

  var data = window.ORVALIS_SEARCH;
  var form = document.getElementById("find");
  var box = document.getElementById("q");
  var results = document.getElementById("results");
  if (!data || !form) return;
  form.hidden = false;
  form.addEventListener("submit", function (e) { e.preventDefault(); });
  var limit = 50, folded = null;
  // Letters that do not decompose into a base letter and marks.
  var plain = { "\u00df": "ss", "\u00e6": "ae", "\u00f0": "d", "\u00f8": "o", "\u00fe": "th", "\u0111": "d",
    "\u0127": "h", "\u0131": "i", "\u0138": "k", "\u0140": "l", "\u0142": "l", "\u014b": "n", "\u0153": "oe",
    "\u0167": "t", "\u017f": "s", "\u0180": "b", "\u0183": "b", "\u0188": "c", "\u0192": "f", "\u0199": "k",
    "\u019a": "l", "\u01b6": "z", "\u0225": "z", "\u0249": "j", "\u024d": "r", "\u0253": "b", "\u0256": "d",
    "\u0257": "d", "\u0260": "g", "\u0268": "i", "\u0289": "u" };
  var special = new RegExp("[" + Object.keys(plain).join("") + "]", "g");
  function fold(s) {
    s = s.toLowerCase();
    if (s.normalize) s = s.normalize("NFKD").replace(/[\u0300-\u036f]/g, "");
    return s.replace(special, function (c) { return plain[c]; });
  }
  function prepare() {
    // Fields of a row joined by a line break, which no search word holds.
    folded = { a: data.a.map(function (r) { return fold(r[0]); }),
               b: data.b.map(function (r) { return fold(r[0] + "\n" + (r[2] || "")); }),
               t: data.t.map(function (r) { return fold(r[0] + "\n" + r[1] + "\n" + data.b[r[2]][0]); }) };
  }
  function matches(text, terms) {
    for (var i = 0; i < terms.length; i++) if (text.indexOf(terms[i]) < 0) return false;
    return true;
  }
  function section(title, kind, terms, row) {
    var found = [], total = 0, keys = folded[kind];
    for (var i = 0; i < keys.length; i++)
      if (matches(keys[i], terms)) { if (found.length < limit) found.push(i); total++; }
    if (!total) return 0;
    var h = document.createElement("h3");
    h.textContent = title + " (" + total + ")";
    results.appendChild(h);
    var ul = document.createElement("ul");
    found.forEach(function (i) { ul.appendChild(row(data[kind][i])); });
    results.appendChild(ul);
    if (total > found.length) {
      var more = document.createElement("p");
      more.textContent = results.dataset.more.replace("$1", total - found.length);
      results.appendChild(more);
    }
    return total;
  }
  function item(text, page, where) {
    var li = document.createElement("li"), a = document.createElement("a");
    a.href = page; a.target = "page"; a.textContent = text;
    li.appendChild(a);
    if (where) {
      var w = document.createElement("span");
      w.className = "where"; w.textContent = " " + where;
      li.appendChild(w);
    }
    return li;
  }
  function search() {
    var terms = fold(box.value).split(/\s+/).filter(function (t) { return t.length > 0; });
    results.textContent = "";
    if (!terms.length) { results.hidden = true; tree.hidden = false; return; }
    if (!folded) prepare();
    var n = section(results.dataset.artists, "a", terms, function (r) { return item(r[0], r[1]); });
    n += section(results.dataset.albums, "b", terms, function (r) { return item(r[0], r[1], r[2]); });
    n += section(results.dataset.titles, "t", terms, function (r) {
      var album = data.b[r[2]];
      return item(r[0], album[1], [r[1], album[0]].filter(Boolean).join(" \u00b7 "));
    });
    if (!n) {
      var none = document.createElement("p");
      none.textContent = results.dataset.none;
      results.appendChild(none);
    }
    results.hidden = false;
    tree.hidden = true;
  }
  box.addEventListener("input", search);
  var asked = new URLSearchParams(location.search).get("q");
  if (asked) { box.value = asked; search(); }
})();
)js";

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

// Everything of the start page and the keyword page.
class TSiteBuilder {
public:
    explicit TSiteBuilder(const TSiteSource& source) : source_(source) {}

    std::string StartPage() const;
    std::string KeywordPage() const;
    std::string SearchIndex() const;

private:
    std::string Href(const TChmTreeItem& entry) const {
        return entry.FileInfo ? UrlPath(RelativeToFolder(entry.FileInfo->FileName, source_.WorkingFolder)) : "";
    }
    void TreeList(const TChmTreeItem& parent, std::string& out) const;
    std::string Head(const std::string& title, const char* bodyClass) const;

    const TSiteSource& source_;
};

std::string TSiteBuilder::Head(const std::string& title, const char* bodyClass) const {
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           HtmlEscape(title) + "</title>\n<link rel=\"stylesheet\" href=\"style.css\">\n" +
           "<link rel=\"stylesheet\" href=\"site.css\">\n</head>\n<body class=\"" + bodyClass + "\">\n";
}

void TSiteBuilder::TreeList(const TChmTreeItem& parent, std::string& out) const {
    out += "<ul>\n";
    for (int i = 0; i < parent.Count(); ++i) {
        const TChmTreeItem& entry = *parent.Item(i);
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

std::string TSiteBuilder::StartPage() const {
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
    for (int i = 0; i < root.Count(); ++i) {
        const TChmTreeItem& grouping = *root.Item(i);
        // The first grouping stands open, so the start page shows what there is.
        out += std::string(i == 0 ? "<details open>" : "<details>") + "<summary><a href=\"" + Href(grouping) +
               "\" target=\"page\">" + HtmlEscape(grouping.Caption) + "</a> <span class=\"count\">" +
               std::to_string(grouping.Count()) + "</span></summary>\n";
        TreeList(grouping, out);
        out += "</details>\n";
    }
    out += "</div>\n</nav>\n<iframe id=\"page\" name=\"page\" src=\"main.html\" title=\"" + HtmlEscape(source_.Title) +
           "\"></iframe>\n";
    if (source_.Search) out += "<script src=\"search.js\"></script>\n";
    out += "<script src=\"site.js\"></script>\n</body>\n</html>\n";
    return out;
}

std::string TSiteBuilder::KeywordPage() const {
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

    // Sections in the order their first keyword comes.
    std::vector<std::string> letters;
    std::vector<std::string> sections;
    std::map<std::string, std::size_t> sectionOf;
    for (const TListedKeyword& k : keywords) {
        const std::string letter = IndexLetter(k.text);
        auto [at, added] = sectionOf.emplace(letter, letters.size());
        if (added) {
            letters.push_back(letter);
            sections.emplace_back();
        }
        std::string& html = sections[at->second];
        if (k.entries.size() == 1) {
            html += "<li><a href=\"" + Href(*k.entries.front()) + "\">" + HtmlEscape(k.text) + "</a></li>\n";
            continue;
        }
        html += "<li>" + HtmlEscape(k.text) + "<ul>\n";
        for (const TChmTreeItem* entry : k.entries)
            html += "<li><a href=\"" + Href(*entry) + "\">" + HtmlEscape(entry->Caption) + "</a></li>\n";
        html += "</ul></li>\n";
    }

    std::string out = Head(Translate("Index"), "keywords");
    // The same banner as the catalogue's pages, whose style sheet it shares.
    out +=
        "<div class=\"banner\"><table class=\"banner\" cellspacing=\"0\" cellpadding=\"0\" width=\"100%\"><tr>"
        "<td class=\"logo\"><img src=\"logo.png\" width=\"32\" height=\"32\" alt=\"\"></td><td><h1>" +
        HtmlEscape(Translate("Index")) + "</h1></td></tr></table></div>\n";
    if (keywords.empty()) out += "<p>" + HtmlEscape(Translate("Nothing found.")) + "</p>\n";
    out += "<p class=\"letters\">";
    for (std::size_t i = 0; i < letters.size(); ++i)
        out += "<a href=\"#k" + std::to_string(i) + "\">" + HtmlEscape(letters[i]) + "</a> ";
    out += "</p>\n";
    for (std::size_t i = 0; i < letters.size(); ++i)
        out += "<h2 id=\"k" + std::to_string(i) + "\">" + HtmlEscape(letters[i]) + "</h2>\n<ul>\n" + sections[i] +
               "</ul>\n";
    out += kPageReport;
    out += "</body>\n</html>\n";
    return out;
}

std::string TSiteBuilder::SearchIndex() const {
    // a: artists [name, page]; b: albums [name, page, artists]; t: titles [title,
    // artist, album position in b].
    const TChmTreeItem& root = *source_.Tree->Root;
    // The artists of an album, in the order their tracks come, for finding
    // an album by words of its name and its artist together.
    std::map<std::string, std::vector<std::string>> albumArtists;
    if (source_.Titles)
        for (const TSiteTitle& t : *source_.Titles) {
            std::vector<std::string>& artists = albumArtists[t.AlbumPage];
            if (!t.Artist.empty() && artists.size() < 4 &&
                std::find(artists.begin(), artists.end(), t.Artist) == artists.end())
                artists.push_back(t.Artist);
        }
    std::string out = "var ORVALIS_SEARCH={a:[";
    if (root.Count() > 0)
        for (int i = 0; i < root.Item(0)->Count(); ++i) {
            const TChmTreeItem& entry = *root.Item(0)->Item(i);
            out += (i ? ",\n[" : "\n[") + JsString(entry.Caption) + "," + JsString(Href(entry)) + "]";
        }
    out += "],b:[";
    std::map<std::string, std::size_t> albumAt;
    if (root.Count() > 1)
        for (int i = 0; i < root.Item(1)->Count(); ++i) {
            const TChmTreeItem& entry = *root.Item(1)->Item(i);
            std::string artists;
            if (entry.FileInfo) {
                const std::string page = RelativeToFolder(entry.FileInfo->FileName, source_.WorkingFolder);
                albumAt.emplace(page, static_cast<std::size_t>(i));
                const auto found = albumArtists.find(page);
                if (found != albumArtists.end())
                    for (const std::string& artist : found->second) artists += (artists.empty() ? "" : ", ") + artist;
            }
            out += (i ? ",\n[" : "\n[") + JsString(entry.Caption) + "," + JsString(Href(entry)) + "," +
                   JsString(artists) + "]";
        }
    out += "],t:[";
    bool first = true;
    if (source_.Titles)
        for (const TSiteTitle& t : *source_.Titles) {
            const auto album = albumAt.find(t.AlbumPage);
            if (album == albumAt.end() || t.Title.empty()) continue;
            out += (first ? "\n[" : ",\n[") + JsString(t.Title) + "," + JsString(t.Artist) + "," +
                   std::to_string(album->second) + "]";
            first = false;
        }
    out += "]};\n";
    return out;
}

}  // namespace

std::string SiteStartPage(const std::string& folder) { return JoinPath(folder, "index.html"); }

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
    WriteFile(JoinPath(folder, "index.html"), builder.StartPage());
    WriteFile(JoinPath(folder, "keywords.html"), builder.KeywordPage());
    WriteFile(JoinPath(folder, "site.css"), kSiteStyle);
    WriteFile(JoinPath(folder, "site.js"), kSiteScript);
    if (source.Search) WriteFile(JoinPath(folder, "search.js"), builder.SearchIndex());
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
