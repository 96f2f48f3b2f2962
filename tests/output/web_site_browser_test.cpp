// The web folder in a headless browser at a phone's size and at a desktop's:
// no sideways scrolling, the contents as a menu over the page, the search
// folding letters as the names are typed, and the address following the
// page shown. A probe script copied beside the start page drives it and
// leaves what it saw in the DOM. Skipped when chromium is not installed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>

#include "audio/byte_builders.h"
#include "base/exe_dir.h"
#include "run/build_run.h"
#include "output/site/web_site.h"
#include "collection/collection.h"
#include "services/configer.h"
#include "test_util.h"

namespace {

std::string Chromium() {
    for (const char* name : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (::access(name, X_OK) == 0) return name;
    return {};
}

// What the probe wrote into the page once the browser's time ran out, with
// a viewport of width x height CSS pixels. Headless windows are 500 pixels
// wide at least; a narrower viewport is a page zoom of the profile, the way a
// phone's is narrow in CSS pixels.
nlohmann::json Probe(const std::string& url, int width, int height, const std::string& scratch) {
    const std::string profile = JoinPath(scratch, "profile" + std::to_string(width));
    const double zoom = width < 500 ? 500.0 / width : 1.0;
    std::filesystem::create_directories(JoinPath(profile, "Default"));
    SaveTextFile("{\"partition\":{\"default_zoom_level\":{\"x\":" + std::to_string(std::log(zoom) / std::log(1.2)) +
                     "}}}",
                 JoinPath(profile, "Default/Preferences"));
    const std::string out = JoinPath(scratch, "dom.html");
    const std::string command = Chromium() + " --headless --no-sandbox --disable-gpu --no-first-run" +
                                " --user-data-dir=" + profile + " --window-size=" +
                                std::to_string(static_cast<int>(width * zoom + 0.5)) + "," +
                                std::to_string(static_cast<int>(height * zoom + 0.5)) +
                                " --virtual-time-budget=14000 --dump-dom '" + url + "' > " + out + " 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    std::smatch m;
    const std::string dom = LoadTextFile(out);
    if (!std::regex_search(dom, m, std::regex("<pre id=\"probe\">([^<]*)</pre>"))) {
        ADD_FAILURE() << "the probe left nothing: " << dom.substr(0, 400);
        return nlohmann::json::object();
    }
    std::string text = m[1].str();
    for (const auto& [entity, c] : {std::pair{"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
        for (std::size_t at; (at = text.find(entity)) != std::string::npos;) text.replace(at, strlen(entity), c);
    return nlohmann::json::parse(text, nullptr, false);
}

// Runs in the start page: opens the menu, picks an artist from the tree,
// waits while that page opens another one from inside, and searches.
const char kProbe[] = R"js(
(function () {
  var out = {}, side = document.getElementById("side");
  function shown(el) {
    var r = el.getBoundingClientRect(), s = getComputedStyle(el);
    return s.visibility !== "hidden" && s.display !== "none" && r.width > 0 && r.right > 0 && r.left < innerWidth;
  }
  function current() { var c = document.querySelector("#tree a.current"); return c ? c.getAttribute("href") : ""; }
  // A query loads its part of the index first: typed in one step, read in the next.
  function type(text) {
    var box = document.getElementById("q");
    box.value = text;
    box.dispatchEvent(new Event("input"));
  }
  function read() {
    var r = document.getElementById("results");
    return r.hidden ? "" : r.textContent;
  }
  function finish() {
    var pre = document.createElement("pre");
    pre.id = "probe";
    pre.textContent = JSON.stringify(out);
    document.body.appendChild(pre);
  }
  var steps = [
    function () {
      out.width = innerWidth;
      out.startFrame = document.getElementById("page").getAttribute("src");
      out.startCurrent = current();
      out.scrollWidth = document.documentElement.scrollWidth;
      out.sideAtStart = shown(side);
      out.menuButton = shown(document.querySelector(".menubar label"));
      // The slide is left out: under virtual time it may never run, and the
      // open menu's place is what is checked.
      var still = document.createElement("style");
      still.textContent = "#side{transition:none !important}";
      document.head.appendChild(still);
      document.querySelector(".menubar label").click();
    },
    function () {
      out.sideOpened = shown(side);
      out.treeOpened = shown(document.getElementById("tree"));
      out.sideRight = side.getBoundingClientRect().right;
      out.scrollWidthOpened = document.documentElement.scrollWidth;
      var link = document.querySelector('#tree a[href="' + window.PROBE_ARTIST + '"]');
      out.artistInTree = !!link;
      if (link) link.click();
    },
    // The box, not the sliding column: its closing transition may still run
    // on a loaded machine.
    function () { out.sideAfterChoice = document.getElementById("menu-toggle").checked; },
    function () {
      out.hash = location.hash;
      out.current = current();
      type("soren");
    },
    function () { out.soren = read(); type("STRAUSS blauen"); },
    function () { out.strauss = read(); type("kowalczyk horizon"); },
    function () { out.twoFields = read(); type("kowalczyk nordlys"); },
    function () { out.nothing = read(); type("lukasz"); },
    function () { out.lukasz = read(); }
  ];
  var at = 0;
  (function next() {
    if (at === steps.length) { finish(); return; }
    try { steps[at++](); } catch (err) { out["failedStep" + at] = String(err); }
    setTimeout(next, 1200);
  })();
})();
)js";

class WebSiteBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetExeDirForTesting(ORVALIS_BINARY_DIR);
        SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
        ::setenv("XDG_RUNTIME_DIR", runtime_.Path().c_str(), 1);
    }
    void TearDown() override { SetAppConfiger(nullptr); }

    TempDir runtime_;
    TempDir out_;
};

std::string Flac(const std::string& artist, const std::string& album, const std::string& title) {
    return bytes::FlacFile(44100, 2, 44100 * 200, {"ARTIST=" + artist, "ALBUM=" + album, "TITLE=" + title, "TRACKNUMBER=1"});
}

TEST_F(WebSiteBrowserTest, PhoneSizedMenuFoldedSearchAndAnAddressThatFollowsThePage) {
    if (Chromium().empty()) GTEST_SKIP() << "chromium is not installed; the browser check is skipped";
    out_.Write("music/a.flac", Flac("S\xC3\xB8ren S\xC3\xB8rensen", "Nordlys", "Vinter"));
    out_.Write("music/b.flac", Flac("\xC5\x81ukasz Kowalczyk", "Horizon", "Wis\xC5\x82"));
    out_.Write("music/c.flac", Flac("Johann Strau\xC3\x9F", "Walzer", "An der sch\xC3\xB6nen blauen Donau"));
    TMP3Collection collection;
    ASSERT_TRUE(RunSearchStage(collection, {std::string(ORVALIS_SOURCE_DIR) + "/examples/music", out_ / "music"}, {}));
    TDatabaseRequest request;
    request.Output = TOutputKind::WebPages;
    const std::string site = out_ / "site";
    request.TargetPath = site;
    request.FullTextSearch = true;
    ASSERT_TRUE(RunDatabaseStage(collection, request).Done);

    // The artist page of Łukasz Kowalczyk opens his album page from inside,
    // as a click on the album's link there would.
    const std::string index = LoadTextFile(JoinPath(site, "index.html"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(index, m, std::regex("<a href=\"(art-[0-9a-fA-F]+\\.htm)\" target=\"page\">"
                                                       "(?:\xC5\x81|&#321;)ukasz Kowalczyk</a>")));
    const std::string artist = m[1].str();
    std::string artistPage = LoadTextFile(JoinPath(site, artist));
    ASSERT_TRUE(std::regex_search(artistPage, m, std::regex("href=\"(alb-[0-9a-fA-F]+\\.htm)\"")));
    const std::string album = m[1].str();
    artistPage.insert(artistPage.rfind("</body>"),
                      "<script>setTimeout(function () { document.querySelector('a[href=\"" + album +
                          "\"]').click(); }, 300);</script>\n");
    SaveTextFile(artistPage, JoinPath(site, artist));
    SaveTextFile("window.PROBE_ARTIST = \"" + artist + "\";\n" + kProbe, JoinPath(site, "probe.js"));
    std::string probePage = index;
    probePage.insert(probePage.rfind("</body>"), "<script src=\"probe.js\"></script>\n");
    SaveTextFile(probePage, JoinPath(site, "probe.html"));

    TempDir scratch;
    const nlohmann::json phone = Probe("file://" + site + "/probe.html", 390, 844, scratch.Path());
    ASSERT_TRUE(phone.is_object() && phone.contains("lukasz")) << phone.dump();
    EXPECT_EQ(phone["width"], 390);
    EXPECT_LE(phone["scrollWidth"].get<int>(), 390) << "no sideways scrolling";
    EXPECT_LE(phone["scrollWidthOpened"].get<int>(), 390) << "no sideways scrolling with the menu open";
    EXPECT_FALSE(phone["sideAtStart"].get<bool>()) << "the contents wait behind the menu button";
    EXPECT_TRUE(phone["menuButton"].get<bool>());
    EXPECT_TRUE(phone["sideOpened"].get<bool>());
    EXPECT_TRUE(phone["treeOpened"].get<bool>());
    EXPECT_LE(phone["sideRight"].get<double>(), 390.0);
    EXPECT_TRUE(phone["artistInTree"].get<bool>());
    EXPECT_FALSE(phone["sideAfterChoice"].get<bool>()) << "a choice closes the menu";
    EXPECT_EQ(phone["hash"], "#" + album) << "the address follows a page opened from inside another";
    EXPECT_EQ(phone["current"], album) << "and so does the mark in the tree";

    const std::string soren = phone["soren"];
    EXPECT_NE(soren.find("S\xC3\xB8ren S\xC3\xB8rensen"), std::string::npos) << soren;
    EXPECT_NE(soren.find("Vinter"), std::string::npos) << soren;
    const std::string strauss = phone["strauss"];
    EXPECT_NE(strauss.find("An der sch\xC3\xB6nen blauen Donau"), std::string::npos) << strauss;
    EXPECT_EQ(strauss.find("Albums ("), std::string::npos) << "no album holds both words: " << strauss;
    const std::string twoFields = phone["twoFields"];
    EXPECT_NE(twoFields.find("Wis\xC5\x82"), std::string::npos) << "artist and album words together: " << twoFields;
    EXPECT_NE(twoFields.find("Horizon"), std::string::npos) << twoFields;
    EXPECT_EQ(phone["nothing"].get<std::string>().find("Wis\xC5\x82"), std::string::npos)
        << "every word must match: " << phone["nothing"];
    EXPECT_NE(phone["lukasz"].get<std::string>().find("\xC5\x81ukasz Kowalczyk"), std::string::npos);

    // A desktop keeps the column beside the page and no menu button.
    const nlohmann::json desktop = Probe("file://" + site + "/probe.html", 1280, 800, scratch.Path());
    ASSERT_TRUE(desktop.is_object() && desktop.contains("width")) << desktop.dump();
    EXPECT_LE(desktop["scrollWidth"].get<int>(), 1280);
    EXPECT_TRUE(desktop["sideAtStart"].get<bool>());
    EXPECT_FALSE(desktop["menuButton"].get<bool>());
    EXPECT_EQ(desktop["hash"], "#" + album);

    // The address opens the page again, as a reload or bookmark does.
    const nlohmann::json again = Probe("file://" + site + "/probe.html#" + album, 390, 844, scratch.Path());
    ASSERT_TRUE(again.is_object() && again.contains("width")) << again.dump();
    EXPECT_EQ(again["startFrame"], album);
    EXPECT_EQ(again["startCurrent"], album);
}

}  // namespace
