// The web folder's indexes in parts: the search index split by the first
// letters of words finds what the whole list finds, the browser folds words
// as the site builder does, and long groupings of the start page load per
// letter, also when a page's address asks for an entry not loaded yet.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "audio/byte_builders.h"
#include "base/exe_dir.h"
#include "run/build_run.h"
#include "output/site/web_site.h"
#include "collection/collection.h"
#include "services/configer.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

std::string Chromium() {
    for (const char* name : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (::access(name, X_OK) == 0) return name;
    return {};
}

std::string DumpDom(const std::string& url, const std::string& scratch, int budget = 8000) {
    const std::string out = JoinPath(scratch, "dom.html");
    const std::string command = Chromium() + " --headless --no-sandbox --disable-gpu --no-first-run" +
                                " --user-data-dir=" + JoinPath(scratch, "profile") +
                                " --virtual-time-budget=" + std::to_string(budget) + " --dump-dom '" + url + "' > " + out + " 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    return LoadTextFile(out);
}

std::string Flac(const std::string& artist, const std::string& album, const std::string& title) {
    return bytes::FlacFile(44100, 2, 44100 * 200, {"ARTIST=" + artist, "ALBUM=" + album, "TITLE=" + title, "TRACKNUMBER=1"});
}

// Names that fold in every way the search knows: accents, letters spelled
// out, capitals of other scripts, words of several scripts, punctuation.
const std::vector<std::array<std::string, 3>> kTricky = {
    {"S\xC3\xB8ren S\xC3\xB8rensen", "Nordlys", "Vinter"},
    {"\xC5\x81ukasz Kowalczyk", "Horizon", "Wis\xC5\x82"},
    {"Johann Strau\xC3\x9F", "Walzer", "An der sch\xC3\xB6nen blauen Donau"},
    {"\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xCE\xA3\xCE\xA9\xCE\xA3", "\xE6\x9D\xB1\xE4\xBA\xAC\xE3\x81\xAE\xE5\xA4\x9C",
     "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 \xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
    {"AC/DC", "Live (At River Plate)", "T.N.T."},
    {"\xC3\x86ther & \xC5\x92uvre", "\xEF\xAC\x81nal \xC2\xB2", "Caf\xC3\xA9 d\xE2\x80\x99\xC3\x89t\xC3\xA9"},
};

class WebSiteSplitTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetExeDirForTesting(ORVALIS_BINARY_DIR);
        SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
        ::setenv("XDG_RUNTIME_DIR", runtime_.Path().c_str(), 1);
    }
    void TearDown() override {
        SetSiteInlineTreeLimitForTesting(300);
        SetSiteSearchPartRowsForTesting(20000);
        SetSiteSearchChunkRowsForTesting(512);
        SetAppConfiger(nullptr);
    }

    // The sample collection and the tricky names, as a web folder; with
    // common tracks of one album, so a letter finds more rows than are shown.
    std::string Build(int common = 0) {
        int n = 0;
        for (const auto& [artist, album, title] : kTricky)
            out_.Write("music/" + std::to_string(n++) + ".flac", Flac(artist, album, title));
        for (int i = 0; i < common; ++i) out_.Write("music/common-" + std::to_string(i) + ".flac", Flac("Tester", "Tape", "Track"));
        TMP3Collection collection;
        EXPECT_TRUE(RunSearchStage(collection, {std::string(ORVALIS_SOURCE_DIR) + "/examples/music", out_ / "music"}, {}));
        TDatabaseRequest request;
        request.Output = TOutputKind::WebPages;
        const std::string site = out_ / "site";
        request.TargetPath = site;
        request.FullTextSearch = true;
        EXPECT_TRUE(RunDatabaseStage(collection, request).Done);
        return site;
    }

    TempDir runtime_;
    TempDir out_;
};

std::vector<std::string> Words(const std::string& text) { return SiteSearchWords(SiteSearchFold(text)); }

// The arguments of a file that hands its data to callback: callback(...);
nlohmann::json Arguments(const std::string& text, const std::string& callback) {
    const std::string head = callback + "(";
    EXPECT_EQ(text.rfind(head, 0), 0u) << text.substr(0, 80);
    EXPECT_EQ(text.substr(text.size() - 3), ");\n");
    if (text.rfind(head, 0) != 0 || text.size() < head.size() + 3) return nlohmann::json::array();
    return nlohmann::json::parse("[" + text.substr(head.size(), text.size() - head.size() - 3) + "]");
}

// Row numbers as the site's script decodes them.
std::vector<long> Decode(const std::string& text) {
    static const std::string digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
    std::vector<long> rows;
    long value = 0, last = 0;
    for (const char c : text) {
        const std::size_t g = digits.find(c);
        EXPECT_NE(g, std::string::npos) << text;
        if (g >= 32) {
            value = value * 32 + static_cast<long>(g - 32);
            continue;
        }
        last += value * 32 + static_cast<long>(g);
        rows.push_back(last);
        value = 0;
    }
    return rows;
}

// A row of the whole lists: what it shows, its page and the words it is found by.
struct TRow {
    std::string text, page;
    std::vector<std::string> words;
};

// The index's files, read back: rows by kind and number, words by part.
struct TIndex {
    std::map<std::string, std::map<long, TRow>> rows;
    std::map<std::string, std::map<std::string, std::array<std::vector<long>, 3>>> parts;
    std::set<std::string> listed, deep;
    long perChunk = 0;
    std::array<long, 3> count{};
};

const char* const kKinds[] = {"a", "b", "t"};

TIndex ReadIndex(const std::string& site) {
    TIndex index;
    const std::string names = LoadTextFile(JoinPath(site, "search.js"));
    std::smatch m;
    EXPECT_TRUE(std::regex_search(names, m,
                                  std::regex("^var ORVALIS_SEARCH=\\{parts:\"([0-9a-f -]*)\",deep:\"([0-9a-f -]*)\","
                                             "rows:([0-9]+),count:\\[([0-9]+),([0-9]+),([0-9]+)\\]\\};\n$")))
        << names;
    if (m.empty()) return index;
    const auto listOf = [](const std::string& list) {
        std::set<std::string> out;
        for (std::size_t at = 0; at < list.size();) {
            const std::size_t end = std::min(list.find(' ', at), list.size());
            out.insert(list.substr(at, end - at));
            at = end + 1;
        }
        return out;
    };
    index.listed = listOf(m[1].str());
    index.deep = listOf(m[2].str());
    index.perChunk = std::stol(m[3].str());
    for (int k = 0; k < 3; ++k) index.count[k] = std::stol(m[4 + k].str());
    for (const auto& e : fs::directory_iterator(JoinPath(site, "search/rows"))) {
        const std::string name = e.path().stem().string();
        const nlohmann::json args = Arguments(LoadTextFile(e.path().string()), "orvalisRows");
        EXPECT_EQ(args.at(0), name);
        const std::string kind = name.substr(0, 1);
        const long first = std::stol(name.substr(2)) * index.perChunk;
        const nlohmann::json& rows = args.at(1);
        EXPECT_TRUE(rows.size() == static_cast<std::size_t>(index.perChunk) ||
                    first + static_cast<long>(rows.size()) == index.count[kind == "a" ? 0 : kind == "b" ? 1 : 2])
            << name << ": only the last chunk of a kind is short";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const nlohmann::json& r = rows[i];
            TRow row{r[0].get<std::string>(), r[1].get<std::string>(), {}};
            if (kind == "a") row.words = Words(row.text);
            if (kind == "b") row.words = Words(row.text + "\n" + r[2].get<std::string>());
            if (kind == "t") {
                const nlohmann::json& album = args.at(2).at(r[2].get<std::size_t>());
                row.page = album[1].get<std::string>();
                row.words = Words(row.text + "\n" + r[1].get<std::string>() + "\n" + album[0].get<std::string>());
            }
            EXPECT_TRUE(index.rows[kind].emplace(first + static_cast<long>(i), row).second);
        }
    }
    for (const auto& e : fs::directory_iterator(JoinPath(site, "search"))) {
        if (e.is_directory()) continue;
        const std::string name = e.path().stem().string();
        const nlohmann::json args = Arguments(LoadTextFile(e.path().string()), "orvalisWords");
        EXPECT_EQ(args.at(0), name);
        const nlohmann::json& list = args.at(1);
        EXPECT_EQ(list.size() % 4, 0u) << name;
        for (std::size_t i = 0; i + 3 < list.size(); i += 4) {
            auto& word = index.parts[name][list[i].get<std::string>()];
            for (int k = 0; k < 3; ++k) word[k] = Decode(list[i + 1 + k].get<std::string>());
        }
    }
    return index;
}

bool StartsAWord(const TRow& row, const std::string& term) {
    return std::any_of(row.words.begin(), row.words.end(), [&](const std::string& w) { return w.rfind(term, 0) == 0; });
}

TEST_F(WebSiteSplitTest, RowsAreStoredOnceAndEveryPartListsTheRowsOfItsWords) {
    // Small chunks and parts, so rows span chunks and parts are split by a third letter.
    SetSiteSearchPartRowsForTesting(6);
    SetSiteSearchChunkRowsForTesting(4);
    const std::string site = Build();
    TIndex index = ReadIndex(site);
    ASSERT_FALSE(index.deep.empty());
    EXPECT_EQ(index.perChunk, 4);
    std::set<std::string> files;
    for (const auto& [name, words] : index.parts) files.insert(name);
    EXPECT_EQ(files, index.listed) << "search.js names the parts there are";
    for (int k = 0; k < 3; ++k) {
        const auto& rows = index.rows[kKinds[k]];
        ASSERT_FALSE(rows.empty()) << kKinds[k];
        EXPECT_EQ(static_cast<long>(rows.size()), index.count[k]) << kKinds[k];
        EXPECT_EQ(rows.rbegin()->first + 1, index.count[k]) << kKinds[k] << ": rows numbered without gaps";
    }
    EXPECT_GE(index.rows["t"].size(), 14u + kTricky.size());
    for (const auto& [artist, album, title] : kTricky) {
        const auto& titles = index.rows["t"];
        EXPECT_TRUE(std::any_of(titles.begin(), titles.end(), [&](const auto& r) { return r.second.text == title; }))
            << title;
    }

    // Every word of every row is in exactly the part of its letters, with
    // exactly the rows that have it.
    std::map<std::string, std::array<std::set<long>, 3>> byWord;
    for (int k = 0; k < 3; ++k)
        for (const auto& [n, row] : index.rows[kKinds[k]])
            for (const std::string& w : row.words) byWord[w][k].insert(n);
    std::size_t checked = 0;
    for (const auto& [word, rows] : byWord) {
        const std::string two = SiteSearchPart(word), three = SiteSearchPart(word, 3);
        if (two.find('-') == std::string::npos) continue;  // one letter: its letter's part has every row
        const std::string part = index.deep.count(two) ? three : two;
        for (const auto& [name, words] : index.parts)
            EXPECT_EQ(words.count(word), name == part ? 1u : 0u) << word << " in " << name;
        if (!index.parts[part].count(word)) continue;
        for (int k = 0; k < 3; ++k) {
            const std::vector<long>& listed = index.parts[part][word][k];
            EXPECT_EQ(std::set<long>(listed.begin(), listed.end()), rows[k]) << word << " " << kKinds[k];
            EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
        }
        ++checked;
    }
    EXPECT_GT(checked, 50u);
    // "" in a part of one letter, and in a part split by a third letter,
    // stands for every row with a word starting with its letters.
    for (const auto& [name, words] : index.parts) {
        const bool one = name.find('-') == std::string::npos;
        EXPECT_EQ(words.count(""), one || index.deep.count(name) ? 1u : 0u) << name;
        if (!words.count("")) continue;
        for (int k = 0; k < 3; ++k) {
            std::vector<long> expected;
            for (const auto& [n, row] : index.rows[kKinds[k]])
                if (std::any_of(row.words.begin(), row.words.end(),
                                [&](const std::string& w) { return SiteSearchPart(w, one ? 1 : 2) == name; }))
                    expected.push_back(n);
            EXPECT_EQ(words.at("")[k], expected) << name << " " << kKinds[k];
        }
    }
}
// Types each query into the start page's box and writes down what the
// results show once every script the query asked for has come: per section
// its heading, links and further lines.
const char kQueries[] = R"js(
(function () {
  var out = [], at = 0, box = document.getElementById("q"), results = document.getElementById("results");
  var finished = new Set(Array.prototype.slice.call(document.scripts));
  function done(e) { if (e.target.tagName === "SCRIPT") finished.add(e.target); }
  document.addEventListener("load", done, true);
  document.addEventListener("error", done, true);
  function waiting() {
    return Array.prototype.some.call(document.scripts, function (s) { return !finished.has(s); });
  }
  function shown() {
    if (results.hidden) return null;
    var seen = [];
    for (var e = results.firstChild; e; e = e.nextSibling) {
      if (e.tagName === "UL")
        seen.push(Array.prototype.map.call(e.getElementsByTagName("a"), function (a) {
          return [a.textContent, a.getAttribute("href")];
        }));
      else seen.push(e.textContent);
    }
    return seen;
  }
  (function next() {
    if (at > 0 && waiting()) { setTimeout(next, 20); return; }
    if (at > 0) out.push(shown());
    if (at === QUERIES.length) {
      var pre = document.createElement("pre");
      pre.id = "probe";
      pre.textContent = JSON.stringify(out);
      document.body.appendChild(pre);
      return;
    }
    box.value = QUERIES[at++];
    box.dispatchEvent(new Event("input"));
    setTimeout(next, 0);
  })();
})();
)js";

TEST_F(WebSiteSplitTest, TheBrowserFindsWhatTheWholeListFinds) {
    if (Chromium().empty()) GTEST_SKIP() << "chromium is not installed; the browser check is skipped";
    // Chunks of three rows, so the rows a query shows come from several.
    SetSiteSearchPartRowsForTesting(6);
    SetSiteSearchChunkRowsForTesting(3);
    const std::string site = Build(60);
    TIndex index = ReadIndex(site);
    ASSERT_GT(index.rows["t"].size(), 60u);

    // Every word, its first one to three letters, and two words of a title
    // from different fields; a word no row has.
    std::set<std::vector<std::string>> queries = {{"zzzq"}, {"vinter", "zzzq"}};
    for (const char* kind : kKinds)
        for (const auto& [n, row] : index.rows[kind])
            for (const std::string& w : row.words) {
                queries.insert({w});
                for (std::size_t i = 0, letters = 0; i < w.size() && letters < 3; ++letters) {
                    do ++i;
                    while (i < w.size() && (static_cast<unsigned char>(w[i]) & 0xC0) == 0x80);
                    queries.insert({w.substr(0, i)});
                }
                if (std::string(kind) == "t" && row.words.size() > 1) queries.insert({row.words.front(), row.words.back()});
            }
    nlohmann::json list = nlohmann::json::array();
    for (const auto& terms : queries) {
        std::string q;
        for (const std::string& t : terms) q += (q.empty() ? "" : " ") + t;
        list.push_back(q);
    }
    const std::string page = LoadTextFile(JoinPath(site, "index.html"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(page, m, std::regex("data-artists=\"([^\"]*)\" data-albums=\"([^\"]*)\" "
                                                      "data-titles=\"([^\"]*)\" data-none=\"([^\"]*)\"")));
    const std::array<std::string, 3> headings = {m[1].str(), m[2].str(), m[3].str()};
    const std::string none = m[4].str();
    std::string probe = page;
    probe.insert(probe.rfind("</body>"), "<script>var QUERIES = " + list.dump() + ";\n" + kQueries + "</script>\n");
    SaveTextFile(probe, JoinPath(site, "queries.html"));
    TempDir scratch;
    const std::string dom = DumpDom("file://" + site + "/queries.html", scratch.Path(),
                                    static_cast<int>(list.size()) * 250 + 10000);
    // Found by hand: the regex engine recurses per character of so long a text.
    const std::size_t from = dom.find("<pre id=\"probe\">"), to = dom.find("</pre>", from);
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos)
        << list.size() << " queries did not finish: " << dom.substr(0, 300);
    std::string text = dom.substr(from + 16, to - from - 16);
    for (const auto& [entity, c] : {std::pair{"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
        for (std::size_t at; (at = text.find(entity)) != std::string::npos;) text.replace(at, std::strlen(entity), c);
    const nlohmann::json browser = nlohmann::json::parse(text, nullptr, false);
    ASSERT_TRUE(browser.is_array() && browser.size() == list.size()) << text.substr(0, 300);

    std::size_t i = 0, severalChunks = 0, beyondShown = 0;
    for (const auto& terms : queries) {
        // What the whole lists hold for the query, as the results show it.
        nlohmann::json expected = nlohmann::json::array();
        for (int k = 0; k < 3; ++k) {
            nlohmann::json links = nlohmann::json::array();
            std::set<long> chunks;
            std::size_t found = 0;
            for (const auto& [n, row] : index.rows[kKinds[k]])
                if (std::all_of(terms.begin(), terms.end(), [&](const std::string& t) { return StartsAWord(row, t); })) {
                    if (++found <= 50) links.push_back({row.text, row.page});
                    chunks.insert(n / index.perChunk);
                }
            if (!found) continue;
            if (chunks.size() > 1) ++severalChunks;
            expected.push_back(headings[k] + " (" + std::to_string(found) + ")");
            expected.push_back(links);
            if (found > 50) {
                expected.push_back("and " + std::to_string(found - 50) + " more");
                ++beyondShown;
            }
        }
        if (expected.empty()) expected.push_back(none);
        EXPECT_EQ(browser.at(i), expected) << "query " << list.at(i);
        ++i;
    }
    EXPECT_GT(severalChunks, 10u) << "rows of several chunks were shown";
    EXPECT_GT(beyondShown, 3u) << "queries found more rows than are shown";
}

TEST_F(WebSiteSplitTest, FoldingAndWordsAreTheBrowsersToo) {
    const std::vector<std::string> texts = {"Caf\xC3\xA9 d\xE2\x80\x99\xC3\x89t\xC3\xA9", "Strau\xC3\x9F",
                                            "\xC3\x86ther & \xC5\x92uvre", "\xEF\xAC\x81nal \xC2\xB2",
                                            "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xCE\xA3\xCE\xA9\xCE\xA3",
                                            "\xE6\x9D\xB1\xE4\xBA\xAC\xE3\x81\xAE\xE5\xA4\x9C", "AC/DC T.N.T.",
                                            "\xC4\xB0stanbul", "\xF0\x9F\x8E\xB5 ok", "\xE1\xBA\x9E"};
    EXPECT_EQ(Words("Caf\xC3\xA9 d\xE2\x80\x99\xC3\x89t\xC3\xA9"), (std::vector<std::string>{"cafe", "d", "ete"}));
    EXPECT_EQ(Words("Strau\xC3\x9F AC/DC"), (std::vector<std::string>{"strauss", "ac", "dc"}));
    EXPECT_EQ(SiteSearchPart("strauss"), "73-74");
    EXPECT_EQ(SiteSearchPart("strauss", 3), "73-74-72");
    EXPECT_EQ(SiteSearchPart("\xE6\x9D\xB1"), "6771");
    if (Chromium().empty()) GTEST_SKIP() << "chromium is not installed; the browser check is skipped";

    // The script's own fold, words and part names, taken out of site.js.
    const std::string site = Build();
    const std::string script = LoadTextFile(JoinPath(site, "site.js"));
    const std::size_t from = script.find("  var plain = {"), to = script.find("  var known = {}");
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    nlohmann::json list = texts;
    std::string page = "<!DOCTYPE html><meta charset=\"utf-8\"><body><script>\n" + script.substr(from, to - from) +
                       "var out = " + list.dump() +
                       ".map(function (t) { return words(t).map(function (w) { return partName(w) + \":\" + w; }); });\n"
                       "var pre = document.createElement(\"pre\"); pre.id = \"probe\";\n"
                       "pre.textContent = JSON.stringify(out); document.body.appendChild(pre);\n</script>\n";
    SaveTextFile(page, JoinPath(site, "fold.html"));
    TempDir scratch;
    const std::string dom = DumpDom("file://" + site + "/fold.html", scratch.Path());
    std::smatch m;
    ASSERT_TRUE(std::regex_search(dom, m, std::regex("<pre id=\"probe\">([^<]*)</pre>"))) << dom.substr(0, 400);
    std::string text = m[1].str();
    for (std::size_t at; (at = text.find("&amp;")) != std::string::npos;) text.replace(at, 5, "&");
    const nlohmann::json browser = nlohmann::json::parse(text, nullptr, false);
    ASSERT_TRUE(browser.is_array()) << text;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        nlohmann::json ours = nlohmann::json::array();
        for (const std::string& w : Words(texts[i])) ours.push_back(SiteSearchPart(w, 3) + ":" + w);
        EXPECT_EQ(browser.at(i), ours) << texts[i];
    }
}

TEST_F(WebSiteSplitTest, LongGroupingsLoadPerLetterAndSearchLoadsItsPart) {
    if (Chromium().empty()) GTEST_SKIP() << "chromium is not installed; the browser check is skipped";
    SetSiteInlineTreeLimitForTesting(1);
    // Rows of two, so what "?q=" finds comes from several chunks.
    SetSiteSearchChunkRowsForTesting(2);
    const std::string site = Build();
    const std::string index = LoadTextFile(JoinPath(site, "index.html"));
    EXPECT_EQ(index.find("alb-"), std::string::npos) << "no album stands in the start page";
    EXPECT_NE(index.find("data-part=\"g1-0\""), std::string::npos);
    ASSERT_TRUE(FileExists(JoinPath(site, "tree/where.js")));
    const std::string albums = LoadTextFile(JoinPath(site, "albums.htm"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(albums, m, std::regex("href=\"(alb-[0-9A-Fa-f]+\\.htm)\"")));
    const std::string album = m[1].str();

    // An address naming a page whose letter is not loaded: the letter comes
    // and its entry is marked.
    TempDir scratch;
    const std::string url = "file://" + site + "/index.html";
    const std::string opened = DumpDom(url + "#" + album, scratch.Path());
    EXPECT_NE(opened.find("src=\"" + album + "\""), std::string::npos);
    EXPECT_TRUE(std::regex_search(opened, std::regex("<a href=\"" + album + "\" target=\"page\" class=\"current\"")))
        << opened.substr(0, 3000);

    // A search for a word of a title brings the title from its part.
    const std::string found = DumpDom(url + "?q=blauen%20STRAUSS", scratch.Path());
    const std::size_t results = found.find("<div id=\"results\"");
    ASSERT_NE(results, std::string::npos);
    const std::string shown = found.substr(results, found.find("</div>", results) - results);
    EXPECT_EQ(shown.find(" hidden"), std::string::npos) << shown;
    EXPECT_NE(shown.find("An der sch\xC3\xB6nen blauen Donau"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Walzer"), std::string::npos) << "the title's album is named: " << shown;
    // One letter: every part of words starting with it.
    const std::string letter = DumpDom(url + "?q=w", scratch.Path());
    EXPECT_NE(letter.find("Walzer"), std::string::npos);
    EXPECT_NE(letter.find("Wis\xC5\x82"), std::string::npos);
}

}  // namespace
