// The web folder's indexes in parts: the search index split by the first
// letters of words finds what the whole list finds, the browser folds words
// as the site builder does, and long groupings of the start page load per
// letter, also when a page's address asks for an entry not loaded yet.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
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

std::string DumpDom(const std::string& url, const std::string& scratch) {
    const std::string out = JoinPath(scratch, "dom.html");
    const std::string command = Chromium() + " --headless --no-sandbox --disable-gpu --no-first-run" +
                                " --user-data-dir=" + JoinPath(scratch, "profile") +
                                " --virtual-time-budget=8000 --dump-dom '" + url + "' > " + out + " 2>/dev/null";
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
        SetSiteSearchPartRowsForTesting(2000);
        SetAppConfiger(nullptr);
    }

    // The sample collection and the tricky names, as a web folder.
    std::string Build() {
        int n = 0;
        for (const auto& [artist, album, title] : kTricky)
            out_.Write("music/" + std::to_string(n++) + ".flac", Flac(artist, album, title));
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

// A row of the index with the words it is found by.
struct TRow {
    nlohmann::json value;
    std::vector<std::string> words;
};

std::vector<std::string> Words(const std::string& text) { return SiteSearchWords(SiteSearchFold(text)); }

bool Finds(const TRow& row, const std::vector<std::string>& terms) {
    for (const std::string& term : terms)
        if (std::none_of(row.words.begin(), row.words.end(), [&](const std::string& w) { return w.rfind(term, 0) == 0; }))
            return false;
    return true;
}

TEST_F(WebSiteSplitTest, EveryPartFindsWhatTheWholeIndexFinds) {
    // Parts of more than a few rows are split by a third letter, so both
    // kinds of part are checked.
    SetSiteSearchPartRowsForTesting(6);
    const std::string site = Build();
    SetSiteSearchPartRowsForTesting(2000);
    const std::string names = LoadTextFile(JoinPath(site, "search.js"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        names, m, std::regex("^var ORVALIS_SEARCH=\\{parts:\"([0-9a-f -]*)\",deep:\"([0-9a-f -]*)\"\\};\n$")))
        << names;
    const auto listOf = [](const std::string& list) {
        std::set<std::string> out;
        for (std::size_t at = 0; at < list.size();) {
            const std::size_t end = std::min(list.find(' ', at), list.size());
            out.insert(list.substr(at, end - at));
            at = end + 1;
        }
        return out;
    };
    const std::set<std::string> listed = listOf(m[1].str()), deep = listOf(m[2].str());
    ASSERT_FALSE(deep.empty());

    // Every part, and the whole list put together from them, by kind and place.
    std::map<std::string, std::map<std::string, std::map<long, TRow>>> parts;
    std::map<std::string, std::map<long, TRow>> whole;
    std::set<std::string> files;
    for (const auto& e : fs::directory_iterator(JoinPath(site, "search"))) {
        const std::string name = e.path().stem().string();
        files.insert(name);
        const std::string text = LoadTextFile(e.path().string());
        const std::string head = "orvalisSearch(\"" + name + "\",";
        ASSERT_EQ(text.rfind(head, 0), 0u) << name;
        ASSERT_EQ(text.substr(text.size() - 3), ");\n") << name;
        const nlohmann::json d = nlohmann::json::parse(text.substr(head.size(), text.size() - head.size() - 3));
        for (const char* kind : {"a", "b", "t"})
            for (const nlohmann::json& r : d[kind]) {
                TRow row{r, {}};
                if (kind[0] == 'a') row.words = Words(r[0].get<std::string>());
                if (kind[0] == 'b') row.words = Words(r[0].get<std::string>() + "\n" + r[2].get<std::string>());
                if (kind[0] == 't') {
                    const nlohmann::json& album = d["b"].at(r[2].get<std::size_t>());
                    row.words = Words(r[0].get<std::string>() + "\n" + r[1].get<std::string>() + "\n" +
                                      album[0].get<std::string>());
                    // A title's album is the same whichever part it comes from.
                    row.value[2] = album[3];
                }
                // The words the browser matches are those of the row's fields.
                std::string words;
                for (const std::string& w : row.words) words += (words.empty() ? "" : " ") + w;
                EXPECT_EQ(r.back(), words) << r.dump();
                const long n = r[r.size() - 2].get<long>();
                const auto [known, added] = whole[kind].emplace(n, row);
                EXPECT_TRUE(added || known->second.value == row.value) << kind << n << " differs between parts";
                parts[name][kind].emplace(n, row);
            }
    }
    EXPECT_EQ(files, listed) << "search.js names the parts there are";
    // Every row is in the whole list, in places without gaps.
    for (const char* kind : {"a", "b", "t"}) {
        ASSERT_FALSE(whole[kind].empty()) << kind;
        EXPECT_EQ(whole[kind].rbegin()->first + 1, static_cast<long>(whole[kind].size())) << kind;
    }
    EXPECT_GE(whole["t"].size(), 14u + kTricky.size());

    // Queries: every word of every row, and pairs of words of a title's fields.
    std::set<std::vector<std::string>> queries;
    for (const auto& [kind, rows] : whole)
        for (const auto& [n, row] : rows) {
            for (const std::string& w : row.words) queries.insert({w});
            if (kind == "t" && row.words.size() > 1) queries.insert({row.words.front(), row.words.back()});
        }
    ASSERT_GT(queries.size(), 50u);
    for (const std::vector<std::string>& terms : queries) {
        // The longest word's part, as the script loads; a word of one letter
        // takes every part of that letter.
        std::string lead = terms.front();
        for (const std::string& t : terms)
            if (t.size() > lead.size()) lead = t;
        const std::string two = SiteSearchPart(lead), three = SiteSearchPart(lead, 3);
        const bool shortLead = two.find('-') == std::string::npos || (deep.count(two) && three == two);
        std::vector<std::string> needed;
        for (const auto& [name, rows] : parts)
            if (shortLead ? name == two || name.rfind(two + "-", 0) == 0 : name == (deep.count(two) ? three : two))
                needed.push_back(name);
        ASSERT_FALSE(needed.empty()) << lead << " has no part " << two;
        std::size_t found = 0;
        for (const char* kind : {"a", "b", "t"}) {
            std::set<long> all, split;
            for (const auto& [n, row] : whole[kind])
                if (Finds(row, terms)) all.insert(n);
            for (const std::string& name : needed)
                for (const auto& [n, row] : parts[name][kind])
                    if (Finds(row, terms)) split.insert(n);
            EXPECT_EQ(split, all) << kind << " for " << terms.front() << " " << terms.back();
            found += all.size();
        }
        EXPECT_GT(found, 0u) << terms.front();
    }
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
