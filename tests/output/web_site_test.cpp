// The catalogue as a folder of web pages: built from the sample collection
// with the real data archive, checked link by link, replaced atomically, and
// shown in a headless browser when one is installed.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "audio/audio_info.h"
#include "base/exe_dir.h"
#include "base/folder_claim.h"
#include "run/build_run.h"
#include "pages/contents_tree.h"
#include "output/destination.h"
#include "output/site/site_destination.h"
#include "output/site/web_site.h"
#include "collection/collection.h"
#include "services/configer.h"
#include "test_util.h"
#include "../audio/byte_builders.h"

namespace {

namespace fs = std::filesystem;

std::string Examples() { return std::string(ORVALIS_SOURCE_DIR) + "/examples/music"; }

// Names in folder, dot-names included.
std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& e : fs::directory_iterator(folder, error)) names.insert(e.path().filename().string());
    return names;
}

std::string Chromium() {
    for (const char* name : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (::access(name, X_OK) == 0) return name;
    return {};
}

// The DOM the browser ends with for url, scripts run.
std::string DumpDom(const std::string& url, const std::string& scratch) {
    const std::string out = JoinPath(scratch, "dom.html");
    const std::string command = Chromium() + " --headless --no-sandbox --disable-gpu --no-first-run" +
                                " --user-data-dir=" + JoinPath(scratch, "profile") +
                                " --virtual-time-budget=3000 --dump-dom '" + url + "' > " + out + " 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    return LoadTextFile(out);
}

std::string UrlDecoded(const std::string& url) {
    std::string out;
    for (std::size_t i = 0; i < url.size(); ++i)
        if (url[i] == '%' && i + 2 < url.size()) {
            out += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += url[i];
        }
    return out;
}

// An ID3v2.3 tag of text frames, then a few MPEG frames.
std::string TaggedMp3(const std::vector<std::pair<std::string, std::string>>& frames) {
    std::string body;
    for (const auto& [id, text] : frames) body += bytes::Id3Frame(3, id, std::string(1, '\0') + text);
    return bytes::Id3Tag(3, body) + bytes::MpegFrames(40);
}

class WebSiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The program's own data archive, as built beside it.
        SetExeDirForTesting(ORVALIS_BINARY_DIR);
        SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
        ::setenv("XDG_RUNTIME_DIR", runtime_.Path().c_str(), 1);
    }
    void TearDown() override { SetAppConfiger(nullptr); }

    TDatabaseResult Build(const std::string& target, const TCompileProgressEvent& progress = {}, bool search = true,
                          const std::string& music = Examples()) {
        TMP3Collection collection;
        EXPECT_TRUE(RunSearchStage(collection, {music}, {}));
        TDatabaseRequest request;
        request.Output = TOutputKind::WebPages;
        request.TargetPath = target;
        request.FullTextSearch = search;
        request.OnCompileProgress = progress;
        return RunDatabaseStage(collection, request);
    }

    TempDir runtime_;
    TempDir out_;
};

TEST_F(WebSiteTest, EveryLinkOfEveryPageResolvesToAFileOfTheSite) {
    const std::string site = out_ / "site";
    const TDatabaseResult result = Build(site);
    ASSERT_TRUE(result.Done) << result.Message;
    EXPECT_EQ(result.DatabasePath, site);
    for (const char* name : {"index.html", "main.html", "keywords.html", "artists.htm", "albums.htm", "years.htm",
                             "genres.htm", "statistics.htm", "health.htm", "style.css", "site.css", "site.js",
                             "player.js", "search.js", kSiteMarkerName})
        EXPECT_TRUE(FileExists(JoinPath(site, name))) << name;

    const std::regex link(R"re((?:href|src)\s*=\s*"([^"]*)")re", std::regex::icase);
    int pages = 0, links = 0;
    for (const auto& e : fs::directory_iterator(site)) {
        const std::string ext = e.path().extension().string();
        if (ext != ".htm" && ext != ".html") continue;
        ++pages;
        const std::string text = LoadTextFile(e.path().string());
        for (std::sregex_iterator m(text.begin(), text.end(), link), end; m != end; ++m) {
            std::string target = (*m)[1].str();
            target = target.substr(0, target.find('#'));
            if (target.empty()) continue;  // a jump within the page
            // Tracks play from the music, here in no folder beside the site.
            if (target.rfind("file:///", 0) == 0) {
                EXPECT_TRUE(FileExists(UrlDecoded(target.substr(7)))) << target;
                ++links;
                continue;
            }
            EXPECT_EQ(target.find(':'), std::string::npos) << "no resources from elsewhere: " << target;
            EXPECT_TRUE(FileExists(JoinPath(site, UrlDecoded(target)))) << e.path().filename() << " -> " << target;
            ++links;
        }
    }
    EXPECT_GT(pages, 10);
    EXPECT_GT(links, 100);

    const std::string index = LoadTextFile(JoinPath(site, "index.html"));
    EXPECT_NE(index.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(index.find("name=\"page\""), std::string::npos);
    EXPECT_EQ(index.find("http"), std::string::npos);
    // Four groupings, each a collapsible branch of the tree.
    std::size_t groupings = 0;
    for (std::size_t at = index.find("<details"); at != std::string::npos; at = index.find("<details", at + 1))
        ++groupings;
    EXPECT_GE(groupings, 4u);
    // Keyword index: letters jump to their sections.
    const std::string keywords = LoadTextFile(JoinPath(site, "keywords.html"));
    EXPECT_NE(keywords.find("class=\"letters\""), std::string::npos);
    EXPECT_NE(keywords.find("<h2 id=\"k0\">"), std::string::npos);
    // The search index is scripts that hand over their data, so file:// pages
    // can load them: one names the parts, each part holds words with their
    // row numbers, and the rows are in chunks.
    const std::string search = LoadTextFile(JoinPath(site, "search.js"));
    EXPECT_EQ(search.rfind("var ORVALIS_SEARCH={parts:\"", 0), 0u);
    const std::string part = LoadTextFile(JoinPath(site, "search/" + SiteSearchPart("morning") + ".js"));
    EXPECT_EQ(part.rfind("orvalisWords(\"", 0), 0u);
    EXPECT_NE(part.find("\n\"morning\","), std::string::npos) << "the word is listed: " << part;
    const std::string titles = LoadTextFile(JoinPath(site, "search/rows/t-0.js"));
    EXPECT_EQ(titles.rfind("orvalisRows(\"t-0\",[\n[", 0), 0u) << titles;
    EXPECT_NE(titles.find("[\"Morning Light\","), std::string::npos) << "titles are listed: " << titles;
}

TEST_F(WebSiteTest, WithoutSearchThereIsNoSearchIndexNorBox) {
    const std::string site = out_ / "site";
    ASSERT_TRUE(Build(site, {}, false).Done);
    EXPECT_FALSE(FileExists(JoinPath(site, "search.js")));
    const std::string index = LoadTextFile(JoinPath(site, "index.html"));
    EXPECT_EQ(index.find("search.js"), std::string::npos);
    EXPECT_EQ(index.find("id=\"q\""), std::string::npos);
}

TEST_F(WebSiteTest, ReplacingOurSiteAndRefusingForeignFolders) {
    const std::string site = out_ / "site";
    ASSERT_TRUE(Build(site).Done);
    EXPECT_EQ(ResolveSiteDestination(site, 0).State, TDestinationState::ExistingFile);
    ASSERT_TRUE(Build(site).Done);
    EXPECT_EQ(Entries(out_.Path()), std::set<std::string>({"site"})) << "no staging folder is left";
    EXPECT_FALSE(FileExists(JoinPath(site, kClaimFileName)));
    // Something of the user's put into our site makes it theirs: kept whole.
    SaveTextFile("my notes", JoinPath(site, "notes.txt"));
    const std::string before = TreeDigest(site);
    EXPECT_EQ(ResolveSiteDestination(site, 0).State, TDestinationState::Refused);
    EXPECT_NE(ResolveSiteDestination(site, 0).Problem.find("\"notes.txt\""), std::string::npos);
    EXPECT_FALSE(Build(site).Done);
    EXPECT_EQ(TreeDigest(site), before);
    EXPECT_EQ(Entries(out_.Path()), std::set<std::string>({"site"}));

    // A folder of other things is refused before any work, and again at placement.
    const std::string mine = out_ / "mine";
    out_.Write("mine/letter.txt", "keep me");
    const TDestination destination = ResolveSiteDestination(mine, 0);
    EXPECT_EQ(destination.State, TDestinationState::Refused);
    EXPECT_NE(destination.Problem.find(mine), std::string::npos);
    const TDatabaseResult refused = Build(mine);
    EXPECT_FALSE(refused.Done);
    EXPECT_FALSE(refused.Message.empty());
    EXPECT_EQ(Entries(mine), std::set<std::string>({"letter.txt"}));
    EXPECT_EQ(Entries(out_.Path()), std::set<std::string>({"site", "mine"}));
    // A site of an earlier version lists no files, so they cannot be told from the user's.
    out_.Write("older/.orvalis-site", "");
    out_.Write("older/index.html", "old");
    EXPECT_EQ(ResolveSiteDestination(out_ / "older", 0).State, TDestinationState::Refused);

    // A file is no site folder; an empty folder or a missing one is free.
    out_.Write("plain", "x");
    EXPECT_EQ(ResolveSiteDestination(out_ / "plain", 0).State, TDestinationState::Refused);
    ::mkdir((out_ / "empty").c_str(), 0755);
    EXPECT_EQ(ResolveSiteDestination(out_ / "empty", 0).State, TDestinationState::Free);
    EXPECT_EQ(ResolveSiteDestination(out_ / "new/deeper", 0).State, TDestinationState::Free);
    ASSERT_TRUE(Build(out_ / "empty").Done);
    EXPECT_TRUE(IsOurSite(out_ / "empty"));
}

TEST_F(WebSiteTest, StoppedRunLeavesTheOldSiteAndNoStagingFolder) {
    const std::string site = out_ / "site";
    ASSERT_TRUE(Build(site).Done);
    SaveTextFile("marker of the old run", JoinPath(site, "old.txt"));
    int calls = 0;
    const TDatabaseResult stopped = Build(site, [&](const std::string&, int percent, const std::string&) {
        ++calls;
        return percent < 50;
    });
    EXPECT_FALSE(stopped.Done);
    EXPECT_GT(calls, 1);
    EXPECT_TRUE(FileExists(JoinPath(site, "old.txt")));
    EXPECT_EQ(Entries(out_.Path()), std::set<std::string>({"site"}));
}

namespace {

// A claim on folder made by a process that has ended since, as a killed run leaves it.
void ClaimAndEnd(const std::string& folder) {
    ForceFolders("", folder, false);
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            TFolderClaim claim(folder);
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);  // the lock goes with the process, the claim file stays
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

// What runs killed half way left beside the site goes with the next run: a
// site that was still being written, and an old site exchanged out but not
// yet removed. Folders without a claim of an ended run stay.
TEST_F(WebSiteTest, NextRunRemovesWhatKilledRunsLeftBesideTheSite) {
    const std::string site = out_ / "site";
    ASSERT_TRUE(Build(site).Done);
    // Killed after the exchange: the old site, complete, under a staging name.
    ASSERT_TRUE(Build(out_ / "scratch").Done);
    ASSERT_EQ(::rename((out_ / "scratch").c_str(), (out_ / ".site.AbCdEf").c_str()), 0);
    ClaimAndEnd(out_ / ".site.AbCdEf");
    // Killed while writing.
    out_.Write(".site.GhIjKl/alb-1.htm", "half written");
    ClaimAndEnd(out_ / ".site.GhIjKl");
    // Killed in the fallback placement.
    out_.Write(".site.old.MnOpQr/alb-1.htm", "half written");
    ClaimAndEnd(out_ / ".site.old.MnOpQr");
    // Not ours to remove: in use, no claim, an old-style marker.
    out_.Write(".site.StUvWx/x.htm", "x");
    const TFolderClaim living(out_ / ".site.StUvWx");
    out_.Write(".site.YzAbCd/notes.txt", "not ours");
    out_.Write(".site.EfGhIj/.orvalis-staging", "1\n");
    ASSERT_TRUE(Build(site).Done);
    EXPECT_EQ(Entries(out_.Path()), std::set<std::string>({"site", ".site.StUvWx", ".site.YzAbCd", ".site.EfGhIj"}));
    EXPECT_FALSE(FileExists(JoinPath(site, kClaimFileName)));
}

// The working folder of a killed run goes with the next run; one in use stays.
TEST_F(WebSiteTest, NextRunRemovesWorkingFoldersOfKilledRuns) {
    const std::string user = GetUserTempFolder();
    ClaimAndEnd(JoinPath(user, "run-AbCdEf"));
    SaveTextFile("page", JoinPath(user, "run-AbCdEf/alb-1.htm"));
    ForceFolders("", JoinPath(user, "run-GhIjKl"), false);
    const TFolderClaim living(JoinPath(user, "run-GhIjKl"));
    ForceFolders("", JoinPath(user, "run-MnOpQr"), false);  // no claim
    ASSERT_TRUE(Build(out_ / "site").Done);
    EXPECT_FALSE(DirectoryExists(JoinPath(user, "run-AbCdEf")));
    EXPECT_TRUE(DirectoryExists(JoinPath(user, "run-GhIjKl")));
    EXPECT_TRUE(DirectoryExists(JoinPath(user, "run-MnOpQr")));
}

TEST_F(WebSiteTest, PlacementWithoutExchangeMovesTheOldSiteAside) {
    const std::string target = out_ / "site";
    out_.Write("site/old.htm", "old");
    out_.Write(std::string("site/") + kSiteMarkerName, "");
    WriteSiteManifest(target);
    out_.Write(".staged/new.htm", "new");
    out_.Write(std::string(".staged/") + kSiteMarkerName, "");
    WriteSiteManifest(out_ / ".staged");
    PlaceSiteFolder(out_ / ".staged", target, false);
    EXPECT_EQ(Entries(target), std::set<std::string>({"new.htm", kSiteMarkerName, kSiteManifestName}));
    EXPECT_EQ(Entries(out_.Path()), std::set<std::string>({"site"}));

    // Not ours any more (marker gone, files there): left as it is.
    ::unlink(JoinPath(target, kSiteMarkerName).c_str());
    out_.Write(".again/x.htm", "x");
    EXPECT_THROW(PlaceSiteFolder(out_ / ".again", target, true), EOSError);
    EXPECT_EQ(LoadTextFile(JoinPath(target, "new.htm")), "new");
}

// Removing an old site takes the files its list names and nothing else: not
// what was put in since, not what a link points to, not what is mounted inside.
TEST_F(WebSiteTest, RemovingAnOldSiteTakesOnlyItsOwnFiles) {
    const std::string site = out_ / "old";
    out_.Write("old/a.htm", "a");
    out_.Write("old/covers/c.jpg", "c");
    out_.Write(std::string("old/") + kSiteMarkerName, "");
    WriteSiteManifest(site);
    const std::string music = out_.Write("music/track.mp3", "ID3 music");
    const std::string before = TreeDigest(out_ / "music");
    out_.Write("old/covers/mine.jpg", "a photo of mine");
    ASSERT_EQ(::symlink((out_ / "music").c_str(), (site + "/linked").c_str()), 0);
    RemoveSiteFolder(site);
    EXPECT_EQ(Entries(site), std::set<std::string>({"covers", "linked"}));
    EXPECT_EQ(Entries(site + "/covers"), std::set<std::string>({"mine.jpg"}));
    EXPECT_EQ(TreeDigest(out_ / "music"), before);
    EXPECT_EQ(LoadTextFile(music), "ID3 music");
}

TEST_F(WebSiteTest, AMountInsideAnOldSiteIsNeverEntered) {
    const std::string site = out_ / "site";
    ASSERT_TRUE(Build(site).Done);
    const std::string music = out_ / "music";
    out_.Write("music/album/track.mp3", "ID3 music");
    const std::string before = TreeDigest(music);
    ForceFolders("", site + "/bound", false);
    if (::mount(music.c_str(), (site + "/bound").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here (" << std::strerror(errno) << "); the mount case is not checked";
    const TDestination refused = ResolveSiteDestination(site, 0);
    EXPECT_EQ(refused.State, TDestinationState::Refused);
    EXPECT_NE(refused.Problem.find("\"bound\""), std::string::npos) << refused.Problem;
    // Even when asked to, removal stops at the mount.
    DeleteTree(site, false);
    RemoveSiteFolder(site);
    EXPECT_EQ(TreeDigest(site + "/bound"), before);
    ::umount2((site + "/bound").c_str(), MNT_DETACH);
    EXPECT_EQ(TreeDigest(music), before);
}

TEST(SiteFiles, MemoryFilesComeBeforeTheDisk) {
    TempDir dir;
    const std::string onDisk = dir.Write("a.jpg", "disk bytes");
    const std::map<std::string, std::string> memory = {{dir / "b.jpg", std::string("mem\0ory", 7)},
                                                       {onDisk, "memory wins"}};
    EXPECT_EQ(SiteFileContents(dir / "b.jpg", &memory), std::string("mem\0ory", 7));
    EXPECT_EQ(SiteFileContents(onDisk, &memory), "memory wins");
    EXPECT_EQ(SiteFileContents(onDisk, nullptr), "disk bytes");
    EXPECT_THROW(SiteFileContents(dir / "missing.jpg", &memory), EOSError);
}

TEST_F(WebSiteTest, HeadlessBrowserShowsTreePageAndSearchResults) {
    if (Chromium().empty()) GTEST_SKIP() << "chromium is not installed; the browser check is skipped";
    const std::string site = out_ / "site";
    ASSERT_TRUE(Build(site).Done);
    TempDir scratch;
    const std::string url = "file://" + site + "/index.html";

    // The tree and the start page in the frame.
    const std::string start = DumpDom(url, scratch.Path());
    EXPECT_NE(start.find("id=\"tree\""), std::string::npos);
    EXPECT_NE(start.find("artists.htm"), std::string::npos);
    EXPECT_NE(start.find("src=\"main.html\""), std::string::npos);
    EXPECT_EQ(start.find("<form id=\"find\" role=\"search\" hidden"), std::string::npos) << "the script shows the box";

    // A group page opened through the start page, its entry marked.
    const std::string albums = LoadTextFile(JoinPath(site, "albums.htm"));
    const std::smatch page = [&] {
        std::smatch m;
        std::regex_search(albums, m, std::regex("href=\"(alb-[0-9A-Fa-f]+\\.htm)\""));
        return m;
    }();
    ASSERT_FALSE(page.empty());
    const std::string album = page[1].str();
    const std::string opened = DumpDom(url + "#" + album, scratch.Path());
    EXPECT_NE(opened.find("src=\"" + album + "\""), std::string::npos);
    EXPECT_TRUE(std::regex_search(opened, std::regex("<a href=\"" + album + "\" target=\"page\" class=\"current\"")));
    const std::string groupPage = DumpDom("file://" + site + "/" + album, scratch.Path());
    EXPECT_NE(groupPage.find("class=\"title\""), std::string::npos) << "the album page lists its tracks";

    // Searching: an artist of the search index is found by its name.
    const std::string search = LoadTextFile(JoinPath(site, "search/rows/a-0.js"));
    std::smatch artist;
    ASSERT_TRUE(std::regex_search(search, artist, std::regex("^orvalisRows\\(\"a-0\",\\[\n\\[\"([A-Za-z]+)")));
    const std::string found = DumpDom(url + "?q=" + artist[1].str(), scratch.Path());
    const std::size_t results = found.find("<div id=\"results\"");
    ASSERT_NE(results, std::string::npos);
    const std::string shown = found.substr(results, found.find("</div>", results) - results);
    EXPECT_EQ(shown.find(" hidden"), std::string::npos) << shown;
    EXPECT_NE(shown.find("<h3>"), std::string::npos) << shown;
    EXPECT_NE(shown.find(artist[1].str()), std::string::npos) << shown;
    EXPECT_NE(shown.find("target=\"page\""), std::string::npos) << shown;
}

// The sample collection beside planted faults: a second copy of one track,
// a file without tags, an album without track numbers, and an album whose
// tracks lie in reverse order on disk, one with a blank and "#" in its name.
std::string PlantMusic(const TempDir& dir) {
    const std::string music = dir / "my music";
    fs::copy(Examples(), music, fs::copy_options::recursive);
    fs::create_directories(music + "/dupe");
    fs::copy_file(Examples() + "/Old Timer - Dusty Road.mp3", music + "/dupe/Old Timer - Dusty Road.mp3");
    // Not an MP3: the file-name templates name only those.
    dir.Write("my music/untagged.flac", bytes::FlacFile(44100, 2, 44100 * 3, {}));
    dir.Write("my music/Numberless/1.mp3",
              TaggedMp3({{"TPE1", "Planted"}, {"TIT2", "Uno"}, {"TALB", "Numberless"}, {"TRCK", "1"}}));
    dir.Write("my music/Numberless/2.mp3", TaggedMp3({{"TPE1", "Planted"}, {"TIT2", "Dos"}, {"TALB", "Numberless"}}));
    dir.Write("my music/Ordered/a.mp3",
              TaggedMp3({{"TPE1", "Planted"}, {"TIT2", "Second Song"}, {"TALB", "Ordered"}, {"TRCK", "2"}}));
    dir.Write("my music/Ordered/b #1.mp3",
              TaggedMp3({{"TPE1", "Planted"}, {"TIT2", "First Song"}, {"TALB", "Ordered"}, {"TRCK", "1"}}));
    return music;
}

// The page of the album named name, from the albums index.
std::string AlbumPage(const std::string& site, const std::string& name) {
    const std::string index = LoadTextFile(JoinPath(site, "albums.htm"));
    std::smatch m;
    EXPECT_TRUE(std::regex_search(index, m, std::regex("href=\"(alb-[0-9A-Fa-f]+\\.htm)\">" + name + "<")));
    return m.empty() ? std::string() : m[1].str();
}

std::vector<std::string> PlayLinks(const std::string& page) {
    std::vector<std::string> links;
    const std::regex play("<a class=\"play\" href=\"([^\"]*)\"");
    for (std::sregex_iterator m(page.begin(), page.end(), play), end; m != end; ++m) links.push_back((*m)[1].str());
    return links;
}

TEST_F(WebSiteTest, TrackLinksAndPlaylistsResolveToTheMusic) {
    const std::string music = PlantMusic(out_);
    const std::string site = out_ / "site";
    const TDatabaseResult result = Build(site, {}, true, music);
    ASSERT_TRUE(result.Done) << result.Message;

    // Every track is linked, relative to the site, from the pages.
    std::set<std::string> linked, audio;
    for (const auto& e : fs::recursive_directory_iterator(music))
        if (e.is_regular_file() && TAudioInformer::IsAudioFile(e.path().filename().string()))
            audio.insert(fs::canonical(e.path()).string());
    for (const auto& e : fs::directory_iterator(site)) {
        if (e.path().extension() != ".htm") continue;
        for (const std::string& href : PlayLinks(LoadTextFile(e.path().string()))) {
            EXPECT_EQ(href.find(':'), std::string::npos) << href;
            const fs::path file = fs::path(site) / UrlDecoded(href);
            ASSERT_TRUE(fs::is_regular_file(file)) << e.path().filename() << " -> " << href;
            linked.insert(fs::canonical(file).string());
        }
    }
    EXPECT_EQ(linked, audio);

    // The playlist beside the album page: the album's files in track order.
    const std::string album = AlbumPage(site, "Ordered");
    ASSERT_FALSE(album.empty());
    const std::string page = LoadTextFile(JoinPath(site, album));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(page, m, std::regex("<a class=\"playlist\" href=\"([^\"]+\\.m3u8)\"")));
    std::vector<std::string> lines;
    std::istringstream playlist(LoadTextFile(JoinPath(site, m[1].str())));
    for (std::string line; std::getline(playlist, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "#EXTM3U");
    EXPECT_EQ(lines[1], "#EXTINF:1,Planted - First Song");
    EXPECT_EQ(lines[3], "#EXTINF:1,Planted - Second Song");
    EXPECT_EQ(fs::canonical(fs::path(site) / lines[2]), fs::canonical(music + "/Ordered/b #1.mp3"));
    EXPECT_EQ(fs::canonical(fs::path(site) / lines[4]), fs::canonical(music + "/Ordered/a.mp3"));
    // The page lists them in that order, and its player starts with the first.
    const std::vector<std::string> links = PlayLinks(page);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(UrlDecoded(links[0]), lines[2]);
    EXPECT_NE(page.find("<audio id=\"albumplayer\" controls preload=\"none\" src=\"" + links[0] + "\""),
              std::string::npos);

    // The health page names each planted fault by its path.
    const std::string health = LoadTextFile(JoinPath(site, "health.htm"));
    EXPECT_NE(health.find("Duplicate tracks (2)"), std::string::npos);
    EXPECT_NE(health.find(">" + music + "/dupe/Old Timer - Dusty Road.mp3<"), std::string::npos);
    EXPECT_NE(health.find(">" + music + "/Old Timer - Dusty Road.mp3<"), std::string::npos);
    EXPECT_NE(health.find("Files without any tag (1)"), std::string::npos);
    EXPECT_NE(health.find(">" + music + "/untagged.flac<"), std::string::npos);
    const std::size_t numbers = health.find("Albums whose tracks lack track numbers (");
    ASSERT_NE(numbers, std::string::npos);
    const std::string numberless = health.substr(numbers, health.find("<h2>", numbers) - numbers);
    EXPECT_NE(numberless.find(">Numberless</a>"), std::string::npos);
    EXPECT_EQ(numberless.find(">Ordered</a>"), std::string::npos);
    // Statistics and health are pages of their own in the start page's tree.
    const std::string index = LoadTextFile(JoinPath(site, "index.html"));
    EXPECT_NE(index.find("<a href=\"statistics.htm\" target=\"page\">Statistics</a>"), std::string::npos);
    EXPECT_NE(index.find("<a href=\"health.htm\" target=\"page\">Collection health</a>"), std::string::npos);
}

TEST_F(WebSiteTest, HeadlessBrowserAlbumPlayerStartsWithTheFirstTrack) {
    if (Chromium().empty()) GTEST_SKIP() << "chromium is not installed; the browser check is skipped";
    const std::string music = PlantMusic(out_);
    const std::string site = out_ / "site";
    ASSERT_TRUE(Build(site, {}, true, music).Done);
    const std::string album = AlbumPage(site, "Ordered");
    ASSERT_FALSE(album.empty());
    TempDir scratch;
    const std::string dom = DumpDom("file://" + site + "/" + album, scratch.Path());
    std::smatch m;
    ASSERT_TRUE(std::regex_search(dom, m, std::regex("<audio id=\"albumplayer\"[^>]*\\ssrc=\"([^\"]*)\""))) << dom;
    const std::vector<std::string> links = PlayLinks(dom);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(m[1].str(), links[0]);
    EXPECT_EQ(fs::canonical(fs::path(site) / UrlDecoded(m[1].str())), fs::canonical(music + "/Ordered/b #1.mp3"));
}

}  // namespace
