// Runs the built program's `build` command on the sample collection and reads
// the compiled catalogue back with chmlib.
#include <chm_lib.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <regex>
#include <thread>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "audio/byte_builders.h"
#include "catalogue/page_names.h"
#include "chmwriter/chm_text.h"
#include "cli/build_command.h"
#include "base/folder_claim.h"
#include "picture_builders.h"
#include "test_util.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const char* const kDataFiles[] = {"data", "steps.txt", "fnametemplates.txt", "default.lng"};

std::string BuiltExe() {
    const char* exe = std::getenv("ORVALIS_EXE");
    return exe && *exe ? exe : std::string(ORVALIS_BINARY_DIR) + "/orvalis";
}

std::string Examples() { return std::string(ORVALIS_SOURCE_DIR) + "/examples/music"; }

std::string PageOf(const std::string& prefix, const std::string& name) {
    return "/" + prefix + "-" + HexEncode(Md5Digest(name)) + ".htm";
}

struct TRunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// The objects of a compiled help file, by path.
std::map<std::string, std::string> ReadChm(const std::string& fileName) {
    std::map<std::string, std::string> objects;
    chmFile* chm = chm_open(fileName.c_str());
    if (!chm) return objects;
    chm_enumerate(
        chm, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES,
        [](chmFile* file, chmUnitInfo* info, void* context) -> int {
            std::string data(static_cast<std::size_t>(info->length), '\0');
            if (info->length > 0 &&
                chm_retrieve_object(file, info, reinterpret_cast<unsigned char*>(data.data()), 0,
                                    static_cast<LONGINT64>(info->length)) != static_cast<LONGINT64>(info->length))
                data.clear();
            (*static_cast<std::map<std::string, std::string>*>(context))[info->path] = data;
            return CHM_ENUMERATOR_CONTINUE;
        },
        &objects);
    chmUnitInfo info{};
    // Special objects such as the binary keyword index are not enumerated as
    // normal files; note their presence.
    if (chm_resolve_object(chm, "/$WWKeywordLinks/BTree", &info) == CHM_RESOLVE_SUCCESS)
        objects["/$WWKeywordLinks/BTree"];
    chm_close(chm);
    return objects;
}

// A private copy of the program with its data files, so its configuration
// and error history stay inside the test's folder, and a private home.
class BuildCommandTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = std::make_unique<TempDir>();
        MakeProgramFolder(*root_ / "bin", true);
    }
    static void TearDownTestSuite() { root_.reset(); }

    static void MakeProgramFolder(const std::string& folder, bool withData) {
        fs::create_directories(folder);
        const fs::path built = BuiltExe();
        fs::copy_file(built, fs::path(folder) / "orvalis", fs::copy_options::overwrite_existing);
        for (const char* name : kDataFiles) {
            if (!withData && std::string(name) == "data") continue;
            fs::copy_file(built.parent_path() / name, fs::path(folder) / name, fs::copy_options::overwrite_existing);
        }
    }

    void SetUp() override {
        ::mkdir((home_ / "run").c_str(), 0700);
        env_ = {"HOME=" + home_.Path(), "XDG_RUNTIME_DIR=" + (home_ / "run"), "XDG_CONFIG_HOME=" + (home_ / "config"),
                "XDG_DATA_HOME=" + (home_ / "share"), "LC_ALL=C.UTF-8"};
        const char* path = std::getenv("PATH");
        env_.push_back(std::string("PATH=") + (path ? path : "/usr/bin:/bin"));
    }
    void TearDown() override { ::unlink((*root_ / "bin/orvalis.conf.xml").c_str()); }

    // Runs the program with the words after its name. stdin is /dev/null, or a
    // terminal that receives answer when one is given.
    // whileRunning, when given, is called with the child's pid before it is waited for.
    TRunResult Run(const std::vector<std::string>& args, const std::string& exe = {},
                   const std::optional<std::string>& answer = std::nullopt,
                   const std::function<void(pid_t)>& whileRunning = {}) {
        static std::atomic<int> runs{0};
        const std::string program = exe.empty() ? *root_ / "bin/orvalis" : exe;
        const std::string tag = std::to_string(runs++);
        const std::string outFile = home_ / ("stdout" + tag + ".txt");
        const std::string errFile = home_ / ("stderr" + tag + ".txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int master = -1;
        if (answer) {
            master = ::posix_openpt(O_RDWR | O_NOCTTY);
            EXPECT_GE(master, 0);
            ::grantpt(master);
            ::unlockpt(master);
            posix_spawn_file_actions_addopen(&actions, 0, ::ptsname(master), O_RDWR, 0);
            const std::string typed = *answer + "\n";
            EXPECT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        } else {
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        }
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

        std::vector<std::string> words = {program, "build"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : env_) envp.push_back(e.data());
        envp.push_back(nullptr);

        TRunResult result;
        pid_t pid = 0;
        if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
            if (whileRunning) whileRunning(pid);
            int status = 0;
            ::waitpid(pid, &status, 0);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        if (master >= 0) ::close(master);
        result.out = LoadTextFile(outFile);
        result.err = LoadTextFile(errFile);
        return result;
    }

    void SetEnv(const std::string& name, const std::string& value) {
        for (std::string& e : env_)
            if (e.rfind(name + "=", 0) == 0) e = name + "=" + value;
    }

    static std::unique_ptr<TempDir> root_;
    TempDir home_;
    std::vector<std::string> env_;
};

std::unique_ptr<TempDir> BuildCommandTest::root_;

}  // namespace

TEST(BuildArgsTest, OptionsAndPaths) {
    TBuildOptions o;
    std::string problem;
    ASSERT_TRUE(ParseBuildArgs({"--out", "/x/music", "--open", "/a/b/", "--force", "--", "--odd"}, o, problem))
        << problem;
    EXPECT_EQ(o.Out, "/x/music.chm");
    EXPECT_FALSE(o.Place.has_value());
    EXPECT_TRUE(o.Open);
    EXPECT_TRUE(o.Force);
    ASSERT_EQ(o.Paths.size(), 2u);
    EXPECT_EQ(o.Paths[0], "/a/b");
    EXPECT_EQ(o.Paths[1], (fs::current_path() / "--odd").string());

    ASSERT_TRUE(ParseBuildArgs({"--place=quicklaunch", "/m"}, o, problem));
    EXPECT_EQ(o.Place, 3);
    ASSERT_TRUE(ParseBuildArgs({"--out=/x/Music.CHM", "--place", "custom", "/m"}, o, problem));
    EXPECT_EQ(o.Out, "/x/Music.CHM");
    EXPECT_EQ(o.Place, 0);

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{},
                                               {"--out"},
                                               {"--out", "", "/m"},
                                               {"--place", "attic", "/m"},
                                               {"--out", "/x.chm", "--place", "desktop", "/m"},
                                               {"--fast", "/m"},
                                               {""}})
        EXPECT_FALSE(ParseBuildArgs(bad, o, problem)) << (bad.empty() ? "" : bad[0]);
}

TEST(BuildArgsTest, HtmlNamesAFolderOfItsOwn) {
    TBuildOptions o;
    std::string problem;
    ASSERT_TRUE(ParseBuildArgs({"--html", "/x/site/", "--no-search", "/m"}, o, problem)) << problem;
    EXPECT_EQ(o.Html, "/x/site");
    EXPECT_FALSE(o.Out.has_value());
    EXPECT_TRUE(o.NoSearch);
    ASSERT_TRUE(ParseBuildArgs({"--html=/x/site.chm", "--place", "custom", "/m"}, o, problem)) << problem;
    EXPECT_EQ(o.Html, "/x/site.chm") << "no extension is added to a folder";

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--html", "/x", "--out", "/y.chm", "/m"},
                                               {"--html", "/x", "--compiler", "native", "/m"},
                                               {"--html", "/x", "--place", "desktop", "/m"},
                                               {"--html", "", "/m"},
                                               {"--html", "/", "/m"}})
        EXPECT_FALSE(ParseBuildArgs(bad, o, problem)) << bad[1] << " " << bad[2];
}

TEST(BuildArgsTest, ChmExtensionIsAppendedLikeTheOutputPage) {
    EXPECT_EQ(WithChmExtension("/out/music.CHM"), "/out/music.CHM");
    EXPECT_EQ(WithChmExtension("/out/music.htm"), "/out/music.htm.chm");
    EXPECT_EQ(WithChmExtension("/out/music"), "/out/music.chm");
    EXPECT_EQ(WithChmExtension("/out.d/music"), "/out.d/music.chm");
}

TEST_F(BuildCommandTest, BuildsTheSampleCatalogue) {
    const std::string target = home_ / "out/demo.chm";
    const TRunResult r = Run({"--out", home_ / "out/demo", Examples()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, target + "\n");
    EXPECT_NE(r.err.find("Found 14 audio files."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Sorting: 100%"), std::string::npos);
    EXPECT_NE(r.err.find("Compiling: "), std::string::npos);

    auto chm = ReadChm(target);
    ASSERT_FALSE(chm.empty()) << "not a readable compiled help file";
    for (const char* name : {"/artists.htm", "/albums.htm", "/years.htm", "/genres.htm", "/main.html", "/style.css",
                             "/logo.png", "/temp.hhc", "/temp.hhk", "/$WWKeywordLinks/BTree"})
        EXPECT_TRUE(chm.count(name)) << name;

    std::map<std::string, int> pages;
    for (const auto& [path, text] : chm) {
        if (ExtractFileExt(path) != ".htm") continue;
        // In the catalogue's code page, which says so.
        EXPECT_NE(text.find("charset=windows-1252"), std::string::npos) << path;
        const std::size_t dash = path.find('-');
        if (dash != std::string::npos) ++pages[path.substr(1, dash - 1)];
    }
    EXPECT_EQ(pages["art"], 12);
    EXPECT_EQ(pages["alb"], 12);
    EXPECT_EQ(pages["year"], 12);
    EXPECT_EQ(pages["gen"], 11);

    const std::string aurora = chm[PageOf("art", "Aurora Quartet")];
    for (const char* title : {"Evening Tide", "Midnight Blue", "Morning Light"})
        EXPECT_NE(aurora.find(title), std::string::npos) << title;
    EXPECT_NE(chm[PageOf("art", "Salt & Pepper <Live>")].find("Rock &amp; Roll &lt;Demo&gt;"), std::string::npos);
    EXPECT_NE(chm[PageOf("art", "\xE5\x9D\x82\xE6\x9C\xAC \xE9\x81\xA5")].find("&#22338;&#26412; &#36965;"),
              std::string::npos);
    EXPECT_NE(chm[PageOf("year", "2012")].find("Sm\xF8rrebr\xF8" "d"), std::string::npos);
    EXPECT_NE(chm[PageOf("alb", "Unknown")].find("Lost Song"), std::string::npos);
    EXPECT_NE(chm["/artists.htm"].find("href=\"" + PageOf("art", "Nordlys").substr(1) + "\">Nordlys</a>"),
              std::string::npos);

    const std::string contents = chm["/temp.hhc"];
    std::size_t at = 0;
    for (const char* caption : {"Artists", "Albums", "Years", "Genres"}) {
        const std::size_t next = contents.find("value=\"" + std::string(caption) + "\"", at);
        ASSERT_NE(next, std::string::npos) << caption;
        at = next;
    }
    for (const char* caption : {"value=\"Salt &amp; Pepper &lt;Live&gt;\"", "value=\"K&#333;ji Tanaka\"",
                                "value=\"Greatest &quot;Hits&quot;\"", "value=\"Unknown\"", "value=\"2012\""})
        EXPECT_NE(contents.find(caption), std::string::npos) << caption;

    const std::string index = chm["/temp.hhk"];
    for (const char* keyword : {"value=\"Aurora Quartet\"", "value=\"Evening Tide\"", "value=\"First Light\"",
                                "value=\"&#22799;&#12398;&#28023;\"", "value=\"Greatest &quot;Hits&quot;\""})
        EXPECT_NE(index.find(keyword), std::string::npos) << keyword;
    // Each index item names one page: viewers show the last name of an item,
    // and the compiler links extra names to no page.
    const std::string itemStart = "<OBJECT type=\"text/sitemap\">\r\n";
    for (std::size_t name = index.find("<param name=\"Name\""); name != std::string::npos;
         name = index.find("<param name=\"Name\"", name + 1))
        EXPECT_EQ(index.rfind(itemStart, name) + itemStart.size(), name) << index.substr(name, 80);
    // An album's keyword opens the artist's page at that album.
    EXPECT_NE(index.find("<param name=\"Name\" value=\"Arktis\">\r\n<param name=\"Local\" value=\"" +
                         PageOf("art", "Nordlys").substr(1) + "#alb-"),
              std::string::npos);
    // No UTF-8 inside the compiled file: the code page's bytes and references.
    EXPECT_EQ(contents.find("\xC3"), std::string::npos);
    EXPECT_EQ(index.find("\xC3"), std::string::npos);

    // The choice on the command line is not stored as the session's.
    EXPECT_EQ(LoadTextFile(*root_ / "bin/orvalis.conf.xml").find("PlaceTo"), std::string::npos);
}

// The catalogue searched through python3-chm, the reader Linux viewers share
// their search code with; words go in as the file's code page (1252) bytes.
std::string PythonSearchTitles(const std::string& chm, const std::string& word) {
    std::string hex;
    for (unsigned char c : word) {
        static const char* digits = "0123456789abcdef";
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    const std::string command =
        "/usr/bin/python3 -c 'import sys, chm.chm as c\n"
        "f = c.CHMFile()\nf.LoadCHM(sys.argv[1].encode())\n"
        "print(int(f.IsSearchable()))\n"
        "for t in sorted(f.Search(bytes.fromhex(sys.argv[2]), 1, 0)[1]): "
        "print(t.decode(\"cp1252\"))' \"" +
        chm + "\" " + hex + " 2>&1";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

TEST_F(BuildCommandTest, SampleCatalogueIsSearchableUnlessTurnedOff) {
    if (std::system("/usr/bin/python3 -c 'import chm.chm' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-chm is not installed";
    const std::string target = home_ / "search.chm";
    ASSERT_EQ(Run({"--out", target, Examples()}).status, 0);
    // Each artist's surname finds the artist's page and the pages naming it.
    const std::string tanaka = PythonSearchTitles(target, "Tanaka");
    EXPECT_EQ(tanaka.substr(0, 2), "1\n") << tanaka;
    for (const char* title : {"Artist: Koji Tanaka", "Album: Clear Water", "Year: 2020", "Artists"})
        EXPECT_NE(tanaka.find(std::string(title) + "\n"), std::string::npos) << title << "\n" << tanaka;
    const std::string zoe = PythonSearchTitles(target, "zo\xEB");
    for (const char* title : {"Artist: Zo\u00EB Marchetti", "Album: Tempo", "Genre: Classical"})
        EXPECT_NE(zoe.find(std::string(title) + "\n"), std::string::npos) << title << "\n" << zoe;
    EXPECT_EQ(PythonSearchTitles(target, "marchetti"), zoe);
    // A word of the titles finds the pages with that title; a foreign word nothing.
    const std::string rainfall = PythonSearchTitles(target, "rainfall");
    EXPECT_NE(rainfall.find("Artist: Grey Skies\n"), std::string::npos) << rainfall;
    EXPECT_EQ(PythonSearchTitles(target, "beethoven"), "1\n");

    const std::string plain = home_ / "plain.chm";
    ASSERT_EQ(Run({"--no-search", "--out", plain, Examples()}).status, 0);
    chmFile* chm = chm_open(plain.c_str());
    ASSERT_NE(chm, nullptr);
    chmUnitInfo info{};
    EXPECT_NE(chm_resolve_object(chm, "/$FIftiMain", &info), CHM_RESOLVE_SUCCESS);
    EXPECT_EQ(chm_resolve_object(chm, "/$WWKeywordLinks/BTree", &info), CHM_RESOLVE_SUCCESS);
    chm_close(chm);
    EXPECT_EQ(PythonSearchTitles(plain, "tanaka").substr(0, 2), "0\n");
}

TEST_F(BuildCommandTest, ExistingDatabaseNeedsForceOrAYes) {
    const std::string target = home_ / "music.chm";
    SaveTextFile("ITSF the old database", target);
    TRunResult r = Run({"--out", target, Examples()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(LoadTextFile(target), "ITSF the old database");

    r = Run({"--out", target, Examples()}, {}, "n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File \"" + target + "\" already exists.Do you want to overwrite it ?"), std::string::npos)
        << r.err;
    EXPECT_EQ(LoadTextFile(target), "ITSF the old database");

    r = Run({"--out", target, Examples()}, {}, "y");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LoadTextFile(target).substr(0, 4), "ITSF");

    SaveTextFile("ITSF the old database", target);
    r = Run({"--force", "--out", target, Examples()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, target + "\n");
    EXPECT_EQ(LoadTextFile(target).substr(0, 4), "ITSF");
}

TEST_F(BuildCommandTest, NoAudioFilesMeansNoDatabase) {
    const std::string empty = home_ / "nothing";
    ForceFolders("", empty + "/sub/x.txt", true);
    SaveTextFile("not music", empty + "/sub/x.txt");
    const TRunResult r = Run({"--out", home_ / "none.chm", empty});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Found 0 audio files."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No audio files were found."), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(FileExists(home_ / "none.chm"));
}

TEST_F(BuildCommandTest, UsageAndConfigurationErrorsExitWithTwo) {
    ForceFolders("", home_ / "folder.chm/x", true);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--place", "attic", Examples()},
                                               {"--bogus", Examples()},
                                               {home_ / "does-not-exist"},
                                               {"--out", home_ / "x.chm", "--place", "desktop", Examples()},
                                               {"--out", home_ / "folder.chm", Examples()}}) {
        const TRunResult r = Run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]) << "\n" << r.err;
        EXPECT_FALSE(r.err.empty());
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(FileExists(home_ / "x.chm"));

    SaveTextFile("<?xml version=\"1.0\"?><CONFIG><Session", *root_ / "bin/orvalis.conf.xml");
    const TRunResult r = Run({"--out", home_ / "x.chm", Examples()});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_FALSE(FileExists(home_ / "x.chm"));
    // The broken file is left for the user to repair.
    EXPECT_EQ(LoadTextFile(*root_ / "bin/orvalis.conf.xml"), "<?xml version=\"1.0\"?><CONFIG><Session");
}

TEST_F(BuildCommandTest, FolderGivenAsOutIsRefused) {
    const TRunResult r = Run({"--out", home_.Path(), Examples()});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("\"" + home_.Path() + "\" is a folder"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(home_.Path() + ".chm"));
}

TEST_F(BuildCommandTest, UnwritableDestinationIsRefusedBeforeTheScan) {
    const std::string plain = home_ / "plain";
    SaveTextFile("x", plain);
    const std::string target = plain + "/sub/x.chm";
    const TRunResult r = Run({"--out", target, Examples()});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(ResolveDestination(target, 0).Problem), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Found"), std::string::npos) << "nothing was scanned\n" << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(BuildCommandTest, PlacesByOptionOrConfiguration) {
    TRunResult r = Run({"--place", "documents", Examples()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, (home_ / "Documents/Orvalis.chm") + "\n");
    EXPECT_TRUE(FileExists(home_ / "Documents/Orvalis.chm"));

    // Nothing chosen and nothing configured: the desktop.
    r = Run({Examples()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, (home_ / "Desktop/Orvalis.chm") + "\n");

    r = Run({"--place", "quicklaunch", Examples()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, (home_ / "share/orvalis/quicklaunch/Orvalis.chm") + "\n");
}

TEST_F(BuildCommandTest, FailedCompilationKeepsTheOldDatabase) {
    const std::string target = home_ / "music.chm";
    SaveTextFile("ITSF the old database", target);
    TempDir noPrograms;
    SetEnv("PATH", noPrograms.Path());
    const TRunResult r = Run({"--force", "--compiler=chmcmd", "--out", target, Examples()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no database was made"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("chmcmd"), std::string::npos) << "the compiler's messages are shown\n" << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(LoadTextFile(target), "ITSF the old database");
}

TEST_F(BuildCommandTest, MissingArchiveIsRefusedBeforeTheScan) {
    const std::string bin = home_ / "bare";
    MakeProgramFolder(bin, false);
    const TRunResult r = Run({"--out", home_ / "x.chm", Examples()}, bin + "/orvalis");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("The data archive \"" + bin + "/data\" cannot be read"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Found"), std::string::npos) << "nothing was scanned\n" << r.err;
    EXPECT_FALSE(FileExists(bin + "/error.history")) << "a missing file is no crash";
    EXPECT_FALSE(FileExists(home_ / "x.chm"));
}

namespace {

// Folders a run left in the per-user working folder.
std::vector<std::string> RunFoldersIn(const std::string& runtime) {
    std::vector<std::string> left;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(runtime) / "orvalis", ec))
        left.push_back(e.path().filename().string());
    return left;
}

std::string Id3Text(const std::string& id, const std::string& text) {
    return bytes::Id3Frame(3, id, bytes::U8(0) + text);
}

// An MP3 file with title and album, and optionally an embedded front cover.
std::string Mp3(const std::string& title, const std::string& album, const std::string& picture = {}) {
    std::string frames = Id3Text("TIT2", title) + Id3Text("TPE1", "Cover Band") + Id3Text("TALB", album);
    if (!picture.empty())
        frames += bytes::Id3Frame(3, "APIC",
                                  bytes::U8(0) + "image/jpeg" + bytes::U8(0) + bytes::U8(3) + bytes::U8(0) + picture);
    return bytes::Id3Tag(3, frames) + bytes::MpegFrames(20);
}

}  // namespace

TEST_F(BuildCommandTest, TwoBuildsAtOnceBothSucceed) {
    TRunResult first, second;
    std::thread other([&] { first = Run({"--out", home_ / "one.chm", Examples()}); });
    second = Run({"--out", home_ / "two.chm", Examples()});
    other.join();
    for (const auto& [result, name] : {std::pair(&first, "one.chm"), std::pair(&second, "two.chm")}) {
        ASSERT_EQ(result->status, 0) << result->err;
        const auto chm = ReadChm(home_ / name);
        EXPECT_TRUE(chm.count("/artists.htm") && chm.count("/main.html")) << name;
        EXPECT_EQ(chm.count(PageOf("art", "Aurora Quartet")), 1u) << name;
    }
    EXPECT_TRUE(RunFoldersIn(home_ / "run").empty());
}

TEST_F(BuildCommandTest, TerminationWhileCompilingLeavesNothingBehind) {
    // A compiler that never finishes, and says where it is.
    const std::string fakeBin = home_ / "fakebin";
    fs::create_directories(fakeBin);
    SaveTextFile("#!/bin/sh\necho $$ > \"$HOME/chmcmd.pid\"\necho compiling\nexec sleep 60\n", fakeBin + "/chmcmd");
    ::chmod((fakeBin + "/chmcmd").c_str(), 0755);
    SetEnv("PATH", fakeBin + ":/usr/bin:/bin");
    const std::string target = home_ / "music.chm";
    SaveTextFile("ITSF the old catalogue", target);
    pid_t compiler = 0;
    const TRunResult r =
        Run({"--force", "--compiler", "chmcmd", "--out", target, Examples()}, {}, std::nullopt, [&](pid_t program) {
            // The file appears before the shell has written the number into it.
            for (int i = 0; i < 400 && compiler <= 0; ++i) {
                compiler = std::atoi(LoadTextFile(home_ / "chmcmd.pid").c_str());
                if (compiler <= 0) ::usleep(50000);
            }
            ::kill(program, SIGTERM);
        });
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
    EXPECT_NE(r.err.find("Nothing was changed."), std::string::npos) << r.err;
    EXPECT_EQ(LoadTextFile(target), "ITSF the old catalogue");
    EXPECT_TRUE(RunFoldersIn(home_ / "run").empty()) << "the run's working folder is gone";
    ASSERT_GT(compiler, 0) << "the compiler was started";
    EXPECT_NE(::kill(compiler, 0), 0) << "no compiler is left running";
}

TEST_F(BuildCommandTest, ErrorMessagesFillEveryPlaceholder) {
    const std::string dangling = home_ / "gone";
    ASSERT_EQ(::symlink((home_ / "nowhere").c_str(), dangling.c_str()), 0);
    ForceFolders("", home_ / "folder.chm/x", true);
    const std::regex placeholder("\\$[0-9]");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"/nonexistent"},
                                               {"--bogus", Examples()},
                                               {"--place", "attic", Examples()},
                                               {"--out"},
                                               {"--out", "", Examples()},
                                               {dangling},
                                               {"--out", home_ / "folder.chm", Examples()},
                                               {"--compiler", "other", Examples()},
                                               {"--out", home_ / "x.chm", "--place", "desktop", Examples()}}) {
        const TRunResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args[0] << "\n" << r.err;
        EXPECT_FALSE(std::regex_search(r.err, placeholder)) << r.err;
    }
}

TEST_F(BuildCommandTest, UnreadableFilesAreCountedAndNamed) {
    TempDir music;
    music.Write("ok.mp3", LoadTextFile(Examples() + "/Aurora Quartet - Morning Light.mp3"));
    ASSERT_EQ(::symlink((music / "missing.mp3").c_str(), (music / "broken link.mp3").c_str()), 0);
    const TRunResult r = Run({"--out", home_ / "x.chm", music.Path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("1 files could not be read"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(music / "broken link.mp3"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Found 1 audio files."), std::string::npos) << r.err;
}

TEST_F(BuildCommandTest, AlbumCoversComeFromTagsOrTheFolderAndBrokenOnesAreLeftOut) {
    const std::string music = home_ / "music";
    const std::string jpeg = Jpeg(400, 300);
    ForceFolders("", music + "/embedded/x", true);
    ForceFolders("", music + "/beside/x", true);
    ForceFolders("", music + "/broken/x", true);
    SaveTextFile(Mp3("Inside", "Embedded Album", jpeg), music + "/embedded/01.mp3");
    SaveTextFile(Mp3("Next", "Beside Album"), music + "/beside/01.mp3");
    SaveTextFile(jpeg, music + "/beside/Cover.JPG");
    SaveTextFile(Mp3("Crash", "Broken Album", jpeg.substr(0, 40) + std::string(200, 'x')), music + "/broken/01.mp3");
    SaveTextFile(jpeg.substr(0, 30), music + "/broken/folder.jpg");
    // Header and end intact, broken inside: only decoding finds out, after
    // the pages were laid out with it.
    std::string inside = jpeg;
    for (std::size_t i = inside.size() / 3; i < inside.size() / 2; i += 2) inside.replace(i, 2, "\xFF\xD9");
    ForceFolders("", music + "/inside/x", true);
    SaveTextFile(Mp3("Quiet", "Damaged Album"), music + "/inside/01.mp3");
    SaveTextFile(inside, music + "/inside/front.jpg");

    const std::string target = home_ / "covers.chm";
    const TRunResult r = Run({"--out", target, music});
    ASSERT_EQ(r.status, 0) << r.err;
    auto chm = ReadChm(target);
    ASSERT_FALSE(chm.empty());

    for (const char* album : {"Embedded Album", "Beside Album"}) {
        const std::string key = AlbumGroupKey(album, "", music + (album[0] == 'E' ? "/embedded" : "/beside"));
        const std::string stem = "cov-" + HexEncode(Md5Digest(key));
        const std::string page = chm[PageOf("alb", key)];
        ASSERT_FALSE(page.empty()) << album;
        EXPECT_NE(page.find("<img class=\"cover\" src=\"" + stem + ".jpg\" width=\"200\" height=\"150\""),
                  std::string::npos)
            << album << "\n"
            << page;
        // The thumbnails themselves are in the compiled file, as JPEG.
        ASSERT_TRUE(chm.count("/" + stem + ".jpg")) << album;
        EXPECT_EQ(chm["/" + stem + ".jpg"].substr(0, 2), "\xFF\xD8");
        EXPECT_LT(chm["/" + stem + ".jpg"].size(), jpeg.size() + 20000);
        EXPECT_TRUE(chm.count("/" + stem + "-s.jpg")) << album;
        EXPECT_NE(chm["/albums.htm"].find("src=\"" + stem + "-s.jpg\" width=\"48\" height=\"36\""), std::string::npos);
    }
    const std::string broken = chm[PageOf("alb", AlbumGroupKey("Broken Album", "", music + "/broken"))];
    ASSERT_FALSE(broken.empty());
    EXPECT_NE(broken.find("Crash"), std::string::npos);
    EXPECT_EQ(broken.find("<img class=\"cover\""), std::string::npos);
    const std::string damagedKey = AlbumGroupKey("Damaged Album", "", music + "/inside");
    const std::string damagedStem = "cov-" + HexEncode(Md5Digest(damagedKey));
    const std::string damaged = chm[PageOf("alb", damagedKey)];
    ASSERT_FALSE(damaged.empty());
    EXPECT_NE(damaged.find("Quiet"), std::string::npos);
    EXPECT_EQ(damaged.find(damagedStem), std::string::npos) << damaged;
    EXPECT_EQ(damaged.find("<td class=\"cover\">"), std::string::npos) << damaged;
    EXPECT_EQ(chm["/albums.htm"].find(damagedStem), std::string::npos);
    EXPECT_EQ(chm[PageOf("art", "Cover Band")].find(damagedStem), std::string::npos);
    EXPECT_FALSE(chm.count("/" + damagedStem + ".jpg"));

    // Covers switched off: the same pages without pictures.
    SaveTextFile(
        "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\n<XMLConfig><info>orvalis config file</info>\n"
        "<group name=\"Options\">"
        "<param name=\"Covers\">0</param></group></XMLConfig>\n",
        *root_ / "bin/orvalis.conf.xml");
    const std::string plain = home_ / "plain.chm";
    ASSERT_EQ(Run({"--out", plain, music}).status, 0);
    auto without = ReadChm(plain);
    EXPECT_EQ(
        std::count_if(without.begin(), without.end(), [](const auto& o) { return o.first.rfind("/cov-", 0) == 0; }), 0);
    EXPECT_EQ(without["/albums.htm"].find("<img class=\"thumb\""), std::string::npos);
}

TEST_F(BuildCommandTest, WebPagesHoldTheSamePagesAndCoversAsTheCompiledFile) {
    const std::string music = home_ / "music";
    ForceFolders("", music + "/beside/x", true);
    SaveTextFile(Mp3("Next", "Beside Album"), music + "/beside/01.mp3");
    SaveTextFile(Jpeg(400, 300), music + "/beside/Cover.JPG");
    fs::copy(Examples(), music + "/examples");

    const std::string chmFile = home_ / "same.chm";
    ASSERT_EQ(Run({"--out", chmFile, music}).status, 0);
    const std::string site = home_ / "site";
    TRunResult r = Run({"--html", site, music});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, site + "\n");
    EXPECT_NE(r.err.find("Writing the web pages: 100%"), std::string::npos) << r.err;

    const auto sameAsCompiled = [&] {
        int pages = 0, covers = 0;
        for (const auto& [path, bytes] : ReadChm(chmFile)) {
            const std::string name = path.substr(1);
            const std::string ext = ExtractFileExt(name);
            if (name.find('/') != std::string::npos || name.find('$') != std::string::npos || name.empty()) continue;
            if (ext != ".htm" && ext != ".html" && ext != ".jpg" && ext != ".css" && ext != ".png") continue;
            EXPECT_TRUE(FileExists(JoinPath(site, name))) << name;
            // The compiled file holds the site's UTF-8 pages in its code page.
            std::string inSite = LoadTextFile(JoinPath(site, name));
            if (ext != ".htm" && ext != ".html") {
                EXPECT_EQ(inSite, bytes) << name;
            } else {
                // Only the web pages have the album player, and their tracks play by
                // relative links where the compiled file has file:// ones.
                const std::regex player("<div class=\"player\">.*?</div>\n<script [^>]*player\\.js[^>]*></script>\n");
                const std::regex play("(<a class=\"play\" href=\")[^\"]*\"");
                inSite = std::regex_replace(std::regex_replace(inSite, player, ""), play, "$1\"");
                EXPECT_EQ(EncodeHtmlForCodePage(inSite, 1252), std::regex_replace(bytes, play, "$1\"")) << name;
            }
            ++(ext == ".jpg" ? covers : pages);
        }
        EXPECT_GT(pages, 20);
        EXPECT_EQ(covers, 2) << "the large and the small cover";
    };
    sameAsCompiled();

    // Our own site is replaced only when asked to.
    r = Run({"--html", site, music});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    r = Run({"--html", site, music}, {}, "y");
    EXPECT_EQ(r.status, 0) << r.err;
    // A cover that changed is written anew, an unchanged one kept.
    const std::string key = AlbumGroupKey("Beside Album", "", music + "/beside");
    const std::string cover = JoinPath(site, "cov-" + HexEncode(Md5Digest(key)) + ".jpg");
    ASSERT_TRUE(FileExists(cover));
    SaveTextFile("edited by hand", cover);
    r = Run({"--force", "--html", site, music});
    EXPECT_EQ(r.status, 0) << r.err;
    sameAsCompiled();

    // A folder of other things is refused before the scan and left alone.
    const std::string other = home_ / "other";
    ForceFolders("", other + "/notes.txt", true);
    SaveTextFile("mine", other + "/notes.txt");
    r = Run({"--force", "--html", other, music});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("holds no web site made by Orvalis"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Found"), std::string::npos) << "nothing was scanned\n" << r.err;
    EXPECT_EQ(LoadTextFile(other + "/notes.txt"), "mine");
    for (const auto& e : fs::directory_iterator(home_.Path()))
        EXPECT_NE(e.path().filename().string().rfind(".site.", 0), 0u) << "staging folder left: " << e.path();
}

// A plain "orvalis build" makes what the wizard made last: web pages into its
// folder; --out or --compiler still ask for a compiled file.
TEST_F(BuildCommandTest, WizardsChoiceOfWebPagesAppliesWithoutOutOrHtml) {
    const std::string site = home_ / "chosen site";
    SaveTextFile(
        "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\n<XMLConfig><info>orvalis config file</info>\n"
        "<group name=\"Session\"><param name=\"PlaceTo\">0</param><param name=\"OutputKind\">html</param>"
        "<param name=\"SiteFolder\">" + site + "</param></group></XMLConfig>\n",
        *root_ / "bin/orvalis.conf.xml");
    TRunResult r = Run({Examples()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, site + "\n");
    EXPECT_TRUE(FileExists(JoinPath(site, "index.html")));
    const std::string file = home_ / "asked.chm";
    r = Run({"--out", file, Examples()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file + "\n");
}

namespace {

// A copy of the sample collection to point runs at.
std::string CopyOfExamples(const std::string& to) {
    fs::create_directories(to);
    fs::copy(Examples(), to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    return to;
}

std::string SessionConfig(const std::string& params) {
    return "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\n<XMLConfig><info>orvalis config file</info>\n"
           "<group name=\"Session\">" +
           params + "</group></XMLConfig>\n";
}

}  // namespace

// Every way a destination could take the place of the music, by the options,
// by the wizard's last choice, or by what lies in the site folder, is refused
// before the scan and leaves the music as it was.
TEST_F(BuildCommandTest, NoDestinationMayReplaceTheMusicItCatalogues) {
    const std::string site = home_ / "Site";
    const std::string other = CopyOfExamples(home_ / "Other");
    ASSERT_EQ(Run({"--html", site, other}).status, 0);

    // Music moved into the site folder afterwards.
    const std::string music = CopyOfExamples(site + "/Music");
    std::string before = TreeDigest(music);
    const auto refusedBeforeTheScan = [&](const std::vector<std::string>& args, const std::string& named) {
        const TRunResult r = Run(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.find("Found"), std::string::npos) << "nothing is scanned\n" << r.err;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(TreeDigest(music), before) << "after orvalis build " << args.back();
    };
    refusedBeforeTheScan({"--force", "--html", site, music}, "is being catalogued");
    refusedBeforeTheScan({"--force", "--html", site, other}, "\"Music/");
    // The marker in the music folder itself, and in the folder above it.
    SaveTextFile("", JoinPath(music, ".orvalis-site"));
    before = TreeDigest(music);
    refusedBeforeTheScan({"--force", "--html", music, music}, "is being catalogued");
    ::unlink(JoinPath(music, ".orvalis-site").c_str());
    before = TreeDigest(music);
    refusedBeforeTheScan({"--force", "--html", home_.Path(), music}, "is being catalogued");
    // Through a link to the music folder.
    fs::create_directory_symlink(music, home_ / "linked");
    refusedBeforeTheScan({"--force", "--html", site, home_ / "linked"}, "is being catalogued");

    // The wizard's site folder, and its file name pointing at a track.
    SaveTextFile(SessionConfig("<param name=\"PlaceTo\">0</param><param name=\"OutputKind\">html</param>"
                               "<param name=\"SiteFolder\">" + site + "</param>"),
                 *root_ / "bin/orvalis.conf.xml");
    refusedBeforeTheScan({"--force", music}, "is being catalogued");
    std::string track;
    for (const auto& e : fs::recursive_directory_iterator(music))
        if (e.path().extension() == ".mp3") track = e.path().string();
    ASSERT_FALSE(track.empty());
    SaveTextFile(SessionConfig("<param name=\"PlaceTo\">0</param><param name=\"DBFilename\">" + track + "</param>"),
                 *root_ / "bin/orvalis.conf.xml");
    refusedBeforeTheScan({"--force", music}, track + ".chm");
}

TEST_F(BuildCommandTest, OnlyACatalogueIsReplacedByACatalogue) {
    const std::string target = home_ / "notes.chm";
    SaveTextFile("my notes, not a catalogue", target);
    TRunResult r = Run({"--force", "--out", target, Examples()});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("not a catalogue made by Orvalis"), std::string::npos) << r.err;
    EXPECT_EQ(LoadTextFile(target), "my notes, not a catalogue");

    const std::string catalogue = home_ / "music.chm";
    ASSERT_EQ(Run({"--out", catalogue, Examples()}).status, 0);
    const std::string first = LoadTextFile(catalogue);
    r = Run({"--force", "--out", catalogue, Examples()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LoadTextFile(catalogue).substr(0, 4), "ITSF");
}

// Hidden folders beside a site that look like a run's but carry no claim of
// an ended run (an old-style marker with a dead process id, a claim that a
// living run holds) are somebody's, and stay.
TEST_F(BuildCommandTest, FoldersThatOnlyLookLikeARunsAreLeftAlone) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string lookAlike = home_ / ".Site.AbCdEf";
    CopyOfExamples(lookAlike + "/music");
    SaveTextFile(std::to_string(child) + "\n", JoinPath(lookAlike, ".orvalis-staging"));
    const std::string held = home_ / ".Site.GhIjKl";
    CopyOfExamples(held);
    const TFolderClaim living(held);
    const std::string before = TreeDigest(lookAlike), heldBefore = TreeDigest(held);

    const TRunResult r = Run({"--html", home_ / "Site", Examples()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(TreeDigest(lookAlike), before);
    EXPECT_EQ(TreeDigest(held), heldBefore);
}

TEST_F(BuildCommandTest, ArchiveMembersAreCheckedBeforeTheScan) {
    const std::string bin = home_ / "damaged";
    MakeProgramFolder(bin, true);
    const std::string archive = bin + "/data";
    ASSERT_TRUE(DamageZipMember(archive, "template.html", 40));
    TRunResult r = Run({"--out", home_ / "x.chm", Examples()}, bin + "/orvalis");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("\"template.html\""), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Found"), std::string::npos) << "nothing was scanned\n" << r.err;

    MakeProgramFolder(bin, true);
    ZipBuffer(archive, "../outside.txt", "x");
    r = Run({"--out", home_ / "x.chm", Examples()}, bin + "/orvalis");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("\"../outside.txt\""), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Found"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(home_ / "x.chm"));
}

// Refusals speak the user's language and never show an unfilled "$1".
TEST_F(BuildCommandTest, RefusalsAreTranslatedAndComplete) {
    const std::string bin = home_ / "german";
    MakeProgramFolder(bin, true);
    fs::copy_file(fs::path(BuiltExe()).parent_path() / "de.lng", bin + "/de.lng");
    SetEnv("LC_ALL", "de_DE.UTF-8");
    const std::string plain = home_ / "plain.chm";
    SaveTextFile("x", plain);
    const std::vector<std::vector<std::string>> refusals = {
        {home_ / "nonexistent"},
        {""},
        {"--out", "", Examples()},
        {"--html", "/", Examples()},
        {"--out", home_.Path(), Examples()},
        {"--force", "--out", plain, Examples()},
        {"--force", "--html", home_.Path(), Examples()},
        {"--html", home_ / "x", "--place", "desktop", Examples()},
        {"--force", "--html", Examples(), Examples()},
    };
    const std::vector<std::string> german = {"gibt es nicht", "leer", "Dateiname", "Ordner", "Ordner",
                                             "kein Katalog", "Ordner", "Ordner", "katalogisiert"};
    for (std::size_t i = 0; i < refusals.size(); ++i) {
        const TRunResult r = Run(refusals[i], bin + "/orvalis");
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.find('$'), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("orvalis build: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(german[i]), std::string::npos) << r.err;
    }
}
