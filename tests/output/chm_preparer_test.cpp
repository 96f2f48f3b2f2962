#include "run/build_run.h"
#include "output/chm/chm_preparer.h"
#include "output/destination.h"
#include "catalogue/page_names.h"
#include "catalogue/collation.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

#include "audio/audio_info.h"
#include "audio/tag_fields.h"
#include "base/zip_reader.h"
#include "base/exe_dir.h"
#include "services/configer.h"
#include "test_util.h"

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

const char* const kTemplate =
    "<html><title>$Title</title><body>\r\n"
    "<!--GroupBegin--><tr class=\"$Color\"><td>$Main</td><td>$Title</td></tr>\r\n<!--GroupEnd-->"
    "<!--Item.Begin--><tr class=\"$Color\"><td>$Title</td><td><a href=\"$ArtFilename\">$Artist</a></td>"
    "<td>$Time</td><td>$Bitrate</td><td>$Samplerate</td><td title=\"$DiskName\">$Disk</td><td>$File</td>"
    "<td><a href=\"$PlayLink\">play</a></td></tr>\r\n"
    "<!--Item.End--></body></html>";

std::unique_ptr<TAudioInformer> Record(const std::string& artist, const std::string& title, const std::string& album,
                                       const std::string& year, const std::string& genre,
                                       const std::string& file = "/music/a.mp3") {
    auto r = std::make_unique<TAudioInformer>();
    r->SetText(atArtist, artist);
    r->SetText(atTitle, title);
    r->SetText(atAlbum, album);
    r->SetText(atYear, year);
    r->SetText(atGenre, genre);
    r->SetText(atFileName, file);
    r->SetNumbers({185, 44100, 192, ccJointStereo, 1000});
    return r;
}

std::string Page(const std::string& prefix, const std::string& name) { return GroupPageName(prefix, name); }

int CountOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// A program folder with its own `data` archive, a private working folder and
// an in-memory configuration.
class PreparerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetExeDirForTesting(exeDir_.Path());
        WriteArchive(kTemplate);
        SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
    }
    void TearDown() override { SetAppConfiger(nullptr); }

    void WriteArchive(const std::string& templateText, bool withTemplate = true) {
        const std::string archive = exeDir_ / "data";
        ::unlink(archive.c_str());
        if (withTemplate) ZipBuffer(archive, "template.html", templateText);
        ZipBuffer(archive, "Need/main.html", "<html><title>Main</title></html>");
        ZipBuffer(archive, "Need/style.css", "body {}");
        ZipBuffer(archive, "Need/sub/extra.css", "p {}");
    }

    std::string Working() const { return runtime_ / "orvalis"; }
    // A page the preparer wrote: held for the compiler, in its spill store or in the working folder.
    std::string Read(const TChmPreparer& preparer, const std::string& page) const {
        const std::string path = JoinPath(Working(), page);
        const auto held = preparer.Compiler->MemoryFiles.find(path);
        if (held != preparer.Compiler->MemoryFiles.end()) return held->second;
        const TSpillStore* spilled = preparer.Compiler->Spilled.get();
        return spilled && spilled->SizeOf(path) ? spilled->Read(path) : LoadTextFile(path);
    }
    bool Written(const TChmPreparer& preparer, const std::string& page) const {
        const std::string path = JoinPath(Working(), page);
        const TSpillStore* spilled = preparer.Compiler->Spilled.get();
        return preparer.Compiler->MemoryFiles.count(path) > 0 || (spilled && spilled->SizeOf(path)) ||
               FileExists(path);
    }

    std::vector<const TAudioInfo*> Files() const {
        std::vector<const TAudioInfo*> files;
        for (const auto& r : records_) files.push_back(r.get());
        return files;
    }
    void Add(std::unique_ptr<TAudioInformer> r) { records_.push_back(std::move(r)); }

    TempDir exeDir_;
    TempDir runtime_;
    ScopedEnv runtimeEnv_{"XDG_RUNTIME_DIR", runtime_.Path()};
    std::vector<std::unique_ptr<TAudioInformer>> records_;
};

}  // namespace

TEST(PageTemplateTest, CutsAtMarkersIncludingMissingOrSwappedOnes) {
    TPageTemplates t = CutPageTemplate(kTemplate);
    EXPECT_EQ(t.Group, "<tr class=\"$Color\"><td>$Main</td><td>$Title</td></tr>\r\n");
    EXPECT_EQ(t.Item.rfind("<tr class=\"$Color\"><td>$Title</td>", 0), 0u);
    EXPECT_EQ(t.Page, "<html><title>$Title</title><body>\r\n$Item</body></html>");

    // Without group markers the head is lost too, so pages begin with their rows.
    t = CutPageTemplate("HEAD<!--Item.Begin-->ROW<!--Item.End-->TAIL");
    EXPECT_EQ(t.Item, "ROW");
    EXPECT_EQ(t.Group, "");
    EXPECT_EQ(t.Page, "$ItemTAIL");

    // Item block after the group block: everything from the first begin marker
    // to the last end marker is cut out.
    t = CutPageTemplate("H<!--GroupBegin-->G<!--GroupEnd-->MID<!--Item.Begin-->I<!--Item.End-->T");
    EXPECT_EQ(t.Group, "G");
    EXPECT_EQ(t.Item, "I");
    EXPECT_EQ(t.Page, "H$ItemT");

    // No markers at all: empty rows, and the page keeps what follows the
    // first fifteen characters.
    t = CutPageTemplate("0123456789ABCDEFGHIJ");
    EXPECT_EQ(t.Item, "");
    EXPECT_EQ(t.Group, "");
    EXPECT_EQ(t.Page, "$ItemEFGHIJ");
    EXPECT_EQ(CutPageTemplate("").Page, "$Item");
}

TEST(PageTemplateTest, PlaceholdersFollowTheirOrderAndValuesAreNotRescanned) {
    const TPlaceholders values = {{"$DiskName", "Hard disk (/)"},
                                  {"$Disk", "HDD"},
                                  {"$Title", "$Time and $COLOR"},
                                  {"$Time", "3:05"},
                                  {"$Color", "odd"}};
    EXPECT_EQ(FillPlaceholders("$DiskName|$Disk|$diskname|$TITLE|$Time|$color|$Other|$", values),
              "Hard disk (/)|HDD|Hard disk (/)|$Time and $COLOR|3:05|odd|$Other|$");
    EXPECT_EQ(FillPlaceholders("", values), "");
    EXPECT_EQ(FillPlaceholders("no placeholders", {}), "no placeholders");
}

TEST(PageTemplateTest, YearsGroupByTheirLeadingNumber) {
    EXPECT_EQ(LeadingYear("1999"), 1999);
    EXPECT_EQ(LeadingYear("1999-05-01"), 1999);
    EXPECT_EQ(LeadingYear(" 2001"), 2001);
    EXPECT_EQ(LeadingYear(""), 0);
    EXPECT_EQ(LeadingYear("unknown"), 0);
    EXPECT_EQ(LeadingYear("-"), 0);
    EXPECT_EQ(LeadingYear("99999999999"), 0);
}

TEST(PageTemplateTest, DiskNameIsTheLongestMountPointHoldingTheFile) {
    TMountTable mounts({"/", "/mnt/music/", "/mnt/music/archive", "/mnt/mus"});
    EXPECT_EQ(mounts.MountPointOf("/mnt/music/archive/a.mp3"), "/mnt/music/archive");
    EXPECT_EQ(mounts.MountPointOf("/mnt/music/b.mp3"), "/mnt/music");
    EXPECT_EQ(mounts.MountPointOf("/mnt/musicx/b.mp3"), "/");
    EXPECT_EQ(mounts.MountPointOf("relative.mp3"), "");
    EXPECT_EQ(TMountTable(std::vector<std::string>{}).MountPointOf("/a.mp3"), "");
}

TEST(PlacementTest, DestinationFollowsThePlace) {
    TempDir home;
    ScopedEnv homeEnv("HOME", home.Path());
    ScopedEnv configEnv("XDG_CONFIG_HOME", home / "config");
    ScopedEnv dataEnv("XDG_DATA_HOME", home / "share");
    EXPECT_EQ(DatabaseDestination("/out/x.chm", 0), "/out/x.chm");
    EXPECT_EQ(DatabaseDestination("/out/x.chm", 1), home / "Desktop/Orvalis.chm");
    EXPECT_EQ(DatabaseDestination("/out/x.chm", 2), home / "Documents/Orvalis.chm");
    EXPECT_EQ(DatabaseDestination("/out/x.chm", 3), home / "share/orvalis/quicklaunch/Orvalis.chm");
    EXPECT_EQ(DatabaseDestination("/out/x.chm", 9), "/out/x.chm");

    SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
    EXPECT_EQ(ConfiguredPlaceTo(), 1);
    AppConfiger()->WriteString("Session", "PlaceTo", "two");
    EXPECT_EQ(ConfiguredPlaceTo(), 1);
    AppConfiger()->WriteString("Session", "PlaceTo", "0");
    EXPECT_EQ(ConfiguredPlaceTo(), 0);
    AppConfiger()->WriteString("Session", "PlaceTo", "3");
    EXPECT_EQ(ConfiguredPlaceTo(), 3);
    SetAppConfiger(nullptr);
}

TEST_F(PreparerTest, MissingCorruptOrIncompleteArchiveIsNamedInOneClearError) {
    const std::string archive = exeDir_ / "data";
    const auto messageOf = [] {
        try {
            TChmPreparer preparer;
        } catch (const EDataArchiveError& e) {
            return e.Message();
        }
        return std::string("no error raised");
    };
    ::unlink(archive.c_str());
    EXPECT_EQ(messageOf(), "The data archive \"" + archive + "\" cannot be read: File \"" + archive + "\" not found!");
    SaveTextFile("PK\x03\x04 not really a zip archive", archive);
    EXPECT_EQ(messageOf().rfind("The data archive \"" + archive + "\" cannot be read: ", 0), 0u) << messageOf();
    WriteArchive("", false);
    EXPECT_EQ(messageOf(), "The data archive \"" + archive + "\" holds no page template (\"template.html\").");
}

TEST_F(PreparerTest, NonAsciiTemplateTextStaysUtf8) {
    WriteArchive(
        "<h1>Caf\xC3\xA9 $Title</h1><!--GroupBegin-->\xE2\x98\x85$Main<!--GroupEnd-->"
        "<!--Item.Begin-->$Title<!--Item.End-->");
    TChmPreparer preparer;
    EXPECT_EQ(preparer.PageTemplate, "<h1>Caf\xC3\xA9 $Title</h1>$Item");
    EXPECT_EQ(preparer.GroupTemplate, "\xE2\x98\x85$Main");
}

TEST_F(PreparerTest, EmptyOutputPathDoesNothing) {
    Add(Record("A", "T", "", "", ""));
    TChmPreparer preparer;
    int events = 0;
    preparer.OnStage = [&](const TPageProgress&) { ++events; };
    preparer.Run(Files());
    EXPECT_EQ(events, 0);
    EXPECT_FALSE(preparer.Placed());
    EXPECT_FALSE(FileExists(JoinPath(Working(), "main.html")));
    EXPECT_FALSE(Written(preparer, "artists.htm"));
}

TEST_F(PreparerTest, FourGroupingsInOrderWithStagesAndContents) {
    Add(Record("Nova", "One", "Sky", "1999", "Pop", "/m/1.mp3"));
    Add(Record("NOVA", "Two", "Sky", "1999-05-01", "Pop", "/m/2.mp3"));
    Add(Record("Nova", "Three", "", "", "", "/m/3.mp3"));
    Add(Record("Abba", "Four", "Nova", "abc", "Pop", "/m/4.mp3"));
    TChmPreparer preparer;
    std::vector<std::pair<int, int>> stages;
    // As the wizard numbers them: page steps from 2, then 0 once every page is written.
    preparer.OnStage = [&](const TPageProgress& p) {
        EXPECT_EQ(p.Steps, 4);
        stages.emplace_back(p.Step >= p.Steps ? 0 : p.Step + 2, static_cast<int>(p.Done));
    };
    preparer.GeneratePages(Files());

    // Artists: Abba < NOVA < Nova (case ignored, then byte order); Albums:
    // Unknown first, then Nova < Sky; Years: Unknown (empty and "abc") first,
    // then 1999 (both forms); Genres: Unknown < Pop.
    const std::vector<std::pair<int, int>> expected = {{2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2}, {3, 3},
                                                       {4, 1}, {4, 2}, {5, 1}, {5, 2}, {0, 0}};
    EXPECT_EQ(stages, expected);

    const TChmTreeItem& root = *preparer.Compiler->Tree->Root;
    // The groupings, then the statistics and the health page.
    ASSERT_EQ(root.Count(), 6);
    const char* captions[] = {"Artists", "Albums", "Years", "Genres", "Statistics", "Collection health"};
    const char* pages[] = {"artists.htm", "albums.htm", "years.htm", "genres.htm", "statistics.htm", "health.htm"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(root.Item(i)->Caption, captions[i]);
        EXPECT_EQ(ExtractFileName(root.Item(i)->FileInfo->FileName), pages[i]);
        EXPECT_EQ(root.Item(i)->ImageIndex, 0);
        EXPECT_TRUE(Written(preparer, pages[i]));
    }
    const TChmTreeItem& artists = *root.Item(0);
    ASSERT_EQ(artists.Count(), 3);
    EXPECT_EQ(artists.Item(0)->Caption, "Abba");
    EXPECT_EQ(artists.Item(1)->Caption, "NOVA");
    EXPECT_EQ(artists.Item(2)->Caption, "Nova");
    EXPECT_EQ(ExtractFileName(artists.Item(2)->FileInfo->FileName), Page("art", "Nova"));
    EXPECT_NE(Page("art", "Nova"), Page("art", "NOVA"));
    EXPECT_EQ(root.Item(1)->Item(0)->Caption, "Unknown");
    const TChmTreeItem& years = *root.Item(2);
    ASSERT_EQ(years.Count(), 2);
    EXPECT_EQ(years.Item(0)->Caption, "Unknown");
    EXPECT_EQ(years.Item(1)->Caption, "1999");
    EXPECT_EQ(CountOf(Read(preparer, Page("year", "1999")), "<tr class="), 2);
    EXPECT_EQ(CountOf(Read(preparer, Page("year", "")), "<tr class="), 2);

    // The same name in two groupings gives two pages; an album page is named
    // after the album and, without an album artist, its folder.
    const std::string novaAlbum = Page("alb", AlbumGroupKey("Nova", "", "/m"));
    EXPECT_NE(Page("art", "Nova"), novaAlbum);
    EXPECT_TRUE(Written(preparer, novaAlbum));

    // Index page rows alternate from "odd" and count the files.
    const std::string index = Read(preparer, "artists.htm");
    EXPECT_LT(
        index.find("<tr class=\"odd\"><td><a href=\"" + Page("art", "Abba") + "\">Abba</a></td><td>Total: 1 file</td>"),
        index.find("<tr class=\"even\"><td><a href=\"" + Page("art", "NOVA") + "\">NOVA</a>"));
    EXPECT_NE(index.find("<title>Artists</title>"), std::string::npos);
    const std::string nova = Read(preparer, Page("art", "Nova"));
    EXPECT_NE(nova.find("<title>Artist: Nova</title>"), std::string::npos);
    EXPECT_LT(nova.find("<tr class=\"odd\"><td>One</td>"), nova.find("<tr class=\"even\"><td>Three</td>"));
    // Tracks play their files by file:// address; the compiled file gets no
    // player and no playlists.
    EXPECT_NE(nova.find("<td><a href=\"file:///m/1.mp3\">play</a></td></tr>"), std::string::npos);
    EXPECT_EQ(Read(preparer, novaAlbum).find("<audio"), std::string::npos);
    EXPECT_FALSE(FileExists(JoinPath(Working(), novaAlbum.substr(0, novaAlbum.rfind('.')) + ".m3u8")));
    // A template without "$Heading" still shows the statistics.
    const std::string statistics = Read(preparer, "statistics.htm");
    EXPECT_NE(statistics.find("<title>Statistics</title>"), std::string::npos);
    EXPECT_NE(statistics.find("<tr><th>Tracks</th><td>4</td></tr>"), std::string::npos);
    EXPECT_NE(statistics.find("1990s"), std::string::npos);
    EXPECT_NE(nova.find("<td>3:05</td><td>192Kbit</td><td>44100Hz Joint Stereo</td><td title=\"Hard disk (/)\">HDD</td>"
                        "<td>/m/1.mp3</td>"),
              std::string::npos);

    // Shared files: flat copies are listed and linked from the artists index
    // page; nested ones also keep their path.
    ASSERT_EQ(preparer.NeedFiles.size(), 3u);
    EXPECT_EQ(preparer.NeedFiles[0], JoinPath(Working(), "main.html"));
    EXPECT_TRUE(FileExists(JoinPath(Working(), "extra.css")));
    EXPECT_TRUE(FileExists(JoinPath(Working(), "Need/sub/extra.css")));
    ASSERT_EQ(artists.FileInfo->AddedLinks.size(), 3u);
    EXPECT_EQ(artists.FileInfo->AddedLinks[1]->FileName, JoinPath(Working(), "style.css"));
    EXPECT_NE(preparer.Compiler->Ini->ProjectSections("").find("Default topic=main.html"), std::string::npos);
}

TEST_F(PreparerTest, FullTextSearchIsOnUnlessConfiguredOrAskedOff) {
    Add(Record("Nova", "One", "Sky", "1999", "Pop"));
    const auto searchLine = [&](std::optional<bool> asked) {
        TChmPreparer preparer;
        preparer.FullTextSearch = asked;
        preparer.GeneratePages(Files());
        const std::string project = preparer.Compiler->Ini->ProjectSections("");
        const std::size_t at = project.find("Full-text search=");
        return at == std::string::npos ? std::string() : project.substr(at, project.find('\r', at) - at);
    };
    EXPECT_EQ(searchLine(std::nullopt), "Full-text search=Yes");
    EXPECT_EQ(searchLine(false), "Full-text search=No");
    AppConfiger()->WriteString("Options.HHP.Options", "Full-text search", "No");
    EXPECT_EQ(searchLine(std::nullopt), "Full-text search=No");
    EXPECT_EQ(searchLine(true), "Full-text search=Yes");
}

TEST_F(PreparerTest, OnlyArtistPagesGetKeywords) {
    Add(Record("Nova", "One", "Sky", "1999", "Pop"));
    Add(Record("Nova", "Two", "", "1999", "Pop"));
    TChmPreparer preparer;
    preparer.GeneratePages(Files());
    const TChmTreeItem& root = *preparer.Compiler->Tree->Root;
    EXPECT_EQ(root.Item(0)->Item(0)->KeywordList, ",Nova,One,Sky,Two,");
    for (int g = 1; g < 4; ++g)
        for (int i = 0; i < root.Item(g)->Count(); ++i) EXPECT_EQ(root.Item(g)->Item(i)->KeywordList, ",");
}

TEST_F(PreparerTest, UnknownGroupListsFilesWithoutAValue) {
    Add(Record("", "Lost", "", "", "", "/m/lost.mp3"));
    Add(Record("Nova", "One", "Sky", "1999", "Pop"));
    TChmPreparer preparer;
    preparer.GeneratePages(Files());
    const std::string unknownArtist = Page("art", "Unknown");
    EXPECT_EQ(preparer.Compiler->Tree->Root->Item(0)->Item(0)->Caption, "Unknown");
    const std::string page = Read(preparer, unknownArtist);
    EXPECT_NE(page.find("<td>Lost</td>"), std::string::npos);
    EXPECT_NE(page.find("<title>Artist: Unknown</title>"), std::string::npos);
    // Rows of the file without an artist link to that page, on every grouping.
    EXPECT_NE(Read(preparer, Page("alb", "Unknown")).find("href=\"" + unknownArtist + "\""), std::string::npos);
    EXPECT_NE(Read(preparer, "artists.htm").find("Total: 1 file<"), std::string::npos);

    // An artist really called "Unknown" keeps its own page.
    records_.clear();
    Add(Record("", "Lost", "", "", ""));
    Add(Record("Unknown", "Found", "", "", ""));
    TChmPreparer second;
    second.GeneratePages(Files());
    const TChmTreeItem& artists = *second.Compiler->Tree->Root->Item(0);
    ASSERT_EQ(artists.Count(), 2);
    EXPECT_NE(artists.Item(0)->FileInfo->FileName, artists.Item(1)->FileInfo->FileName);
    EXPECT_NE(Read(second, Page("art", "")).find("<td>Lost</td>"), std::string::npos);
    EXPECT_NE(Read(second, Page("art", "Unknown")).find("<td>Found</td>"), std::string::npos);
    EXPECT_NE(Read(second, Page("alb", "Unknown")).find("href=\"" + Page("art", "") + "\">"), std::string::npos);
}

TEST_F(PreparerTest, ValuesAreEscapedAndPagesAreUtf8) {
    Add(Record("Salt & Pepper <Live>", "$Time \"<script>\"", "Caf\xC3\xA9", "2001", "\xE5\x9D\x82", "/m/<a>&b.mp3"));
    TChmPreparer preparer;
    preparer.GeneratePages(Files());
    const std::string page = Read(preparer, Page("art", "Salt & Pepper <Live>"));
    EXPECT_NE(page.find("<title>Artist: Salt &amp; Pepper &lt;Live&gt;</title>"), std::string::npos);
    EXPECT_NE(page.find("<td>$Time &quot;&lt;script&gt;&quot;</td>"), std::string::npos);
    EXPECT_NE(page.find("<td>/m/&lt;a&gt;&amp;b.mp3</td>"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(Read(preparer, "albums.htm").find(">Caf\xC3\xA9</a>"), std::string::npos);
    EXPECT_NE(Read(preparer, Page("gen", "\xE5\x9D\x82")).find("Genre: \xE5\x9D\x82"), std::string::npos);
    // The contents keep the real name; the sitemap writer escapes it.
    EXPECT_EQ(preparer.Compiler->Tree->Root->Item(1)->Item(0)->Caption, "Caf\xC3\xA9");
}

TEST_F(PreparerTest, ChannelTextsAndDurations) {
    auto r = Record("A", "T", "", "", "");
    r->SetNumbers({3600, 48000, 320, 0x80 | ccMono, 0});
    Add(std::move(r));
    r = Record("A", "U", "", "", "");
    r->SetNumbers({0, 8000, 8, 0, 0});
    Add(std::move(r));
    r = Record("A", "V", "", "", "");
    r->SetNumbers({61, 8000, 8, 9, 0});
    Add(std::move(r));
    TChmPreparer preparer;
    preparer.GeneratePages(Files());
    const std::string page = Read(preparer, Page("art", "A"));
    EXPECT_NE(page.find("<td>1:00:00</td><td>320Kbit</td><td>48000Hz Mono</td>"), std::string::npos);
    EXPECT_NE(page.find("<td>0:00</td><td>8Kbit</td><td>8000Hz </td>"), std::string::npos);
    EXPECT_NE(page.find("<td>1:01</td><td>8Kbit</td><td>8000Hz </td>"), std::string::npos);
}

TEST_F(PreparerTest, FailedCompileLeavesTheExistingDatabase) {
    Add(Record("A", "T", "", "", ""));
    TempDir out;
    const std::string target = out.Write("music.chm", "ITSF the good old database");
    TempDir noPrograms;
    ScopedEnv path("PATH", noPrograms.Path());
    TChmPreparer preparer;
    preparer.Compiler->Engine = THelpEngine::Chmcmd;  // missing from PATH: the compile fails
    preparer.OutputPath = target;
    preparer.Run(Files());
    EXPECT_FALSE(preparer.Placed());
    EXPECT_FALSE(preparer.FailureReason().empty());
    EXPECT_FALSE(preparer.CompilerMessages().empty());
    EXPECT_EQ(LoadTextFile(target), "ITSF the good old database");
}

TEST_F(PreparerTest, RunPlacesTheDatabaseInTheChosenPlace) {
    TempDir home;
    ScopedEnv homeEnv("HOME", home.Path());
    ScopedEnv configEnv("XDG_CONFIG_HOME", home / "config");
    Add(Record("A", "T", "", "", ""));
    TChmPreparer preparer;
    AppConfiger()->WriteString("Session", "PlaceTo", "2");
    preparer.OutputPath = ResolveDestination(home / "elsewhere/x.chm", ConfiguredPlaceTo()).Path;
    int compileCalls = 0;
    preparer.OnCompileProgress = [&](const std::string&, int, const std::string&) { return ++compileCalls > 0; };
    preparer.Run(Files());
    ASSERT_TRUE(preparer.Placed()) << preparer.FailureReason();
    EXPECT_EQ(preparer.OutputPath, home / "Documents/Orvalis.chm");
    EXPECT_TRUE(FileExists(preparer.OutputPath));
    EXPECT_FALSE(FileExists(home / "elsewhere/x.chm"));
    EXPECT_GT(compileCalls, 0);
    EXPECT_EQ(LoadTextFile(preparer.OutputPath).substr(0, 4), "ITSF");
}

namespace {

struct TTrack {
    std::string artist, title, album, albumArtist, file;
    int disc = 0, track = 0;
    std::string year = "2000";
};

std::unique_ptr<TAudioInformer> Tagged(const TTrack& t) {
    auto r = std::make_unique<TAudioInformer>();
    TTagFields tags;
    tags.Artist = t.artist;
    tags.Title = t.title;
    tags.Album = t.album;
    tags.AlbumArtist = t.albumArtist;
    tags.Year = t.year;
    tags.Genre = "Pop";
    tags.Track = t.track;
    tags.Disc = t.disc;
    r->SetTags(tags);
    r->SetText(atFileName, t.file);
    r->SetNumbers({100, 44100, 128, ccStereo, 1000});
    return r;
}

// Captions of a grouping's contents entries, in order.
std::vector<std::string> Captions(const TChmPreparer& preparer, int grouping) {
    std::vector<std::string> out;
    const TChmTreeItem& index = *preparer.Compiler->Tree->Root->Item(grouping);
    for (int i = 0; i < index.Count(); ++i) out.push_back(index.Item(i)->Caption);
    return out;
}

// Positions of the parts in text, which must all be there.
std::vector<std::size_t> PositionsIn(const std::string& text, const std::vector<std::string>& parts) {
    std::vector<std::size_t> at;
    for (const std::string& p : parts) at.push_back(text.find(p));
    return at;
}

bool Ascending(const std::vector<std::size_t>& at) {
    return std::find(at.begin(), at.end(), std::string::npos) == at.end() && std::is_sorted(at.begin(), at.end());
}

}  // namespace

TEST_F(PreparerTest, AlbumsAreTheirNameWithTheirAlbumArtistOrFolder) {
    Add(Tagged({"Queen", "Bohemian", "Greatest Hits", "Queen", "/m/q/1.mp3"}));
    Add(Tagged({"Queen", "Radio", "Greatest Hits", "Queen", "/m/q2/2.mp3"}));  // other folder, same album
    Add(Tagged({"ABBA", "Waterloo", "Greatest Hits", "ABBA", "/m/a/1.mp3"}));
    // A compilation without album artist in one folder stays one album.
    Add(Tagged({"Ann", "One", "Summer Mix", "", "/m/Summer Mix/1.mp3"}));
    Add(Tagged({"Bob", "Two", "Summer Mix", "", "/m/Summer Mix/2.mp3"}));
    // Same name elsewhere without album artist: one album per folder.
    Add(Tagged({"Cid", "Three", "Summer Mix", "", "/m/cid/3.mp3"}));
    Add(Tagged({"Dee", "Four", "Summer Mix", "", "/m/mixed/4.mp3"}));
    Add(Tagged({"Eve", "Five", "Summer Mix", "", "/m/mixed/5.mp3"}));
    TChmPreparer preparer;
    preparer.GeneratePages(Files());

    EXPECT_EQ(Captions(preparer, 1),
              (std::vector<std::string>{"Greatest Hits (ABBA)", "Greatest Hits (Queen)", "Summer Mix (Cid)",
                                        "Summer Mix (mixed)", "Summer Mix (Summer Mix)"}));
    const std::string queen = Read(preparer, Page("alb", AlbumGroupKey("Greatest Hits", "Queen", "")));
    EXPECT_NE(queen.find("Bohemian"), std::string::npos);
    EXPECT_NE(queen.find("Radio"), std::string::npos);
    EXPECT_EQ(queen.find("Waterloo"), std::string::npos);
    const std::string mix = Read(preparer, Page("alb", AlbumGroupKey("Summer Mix", "", "/m/Summer Mix")));
    EXPECT_NE(mix.find("<td>One</td>"), std::string::npos);
    EXPECT_NE(mix.find("<td>Two</td>"), std::string::npos);
    EXPECT_EQ(mix.find("<td>Three</td>"), std::string::npos);
    // Page names differ wherever the album artist or the folder does.
    EXPECT_NE(AlbumGroupKey("X", "A", ""), AlbumGroupKey("X", "", "A"));
    EXPECT_EQ(AlbumGroupKey("", "A", "/m"), "");

    // A name of its own stays as it is.
    records_.clear();
    Add(Tagged({"Queen", "Bohemian", "Greatest Hits", "Queen", "/m/q/1.mp3"}));
    TChmPreparer single;
    single.GeneratePages(Files());
    EXPECT_EQ(Captions(single, 1), std::vector<std::string>{"Greatest Hits"});
}

TEST_F(PreparerTest, TracksFollowDiscAndTrackNumbersAndArtistPagesHeadTheirAlbums) {
    WriteArchive(
        "<html>$Heading<!--GroupBegin-->[$Cover|$Main|$Info]<!--GroupEnd-->"
        "<!--Album.Begin-->{$Main $Title}<!--Album.End-->"
        "<!--Item.Begin-->($Track $Title $AlbumLink)<!--Item.End--></html>");
    Add(Tagged({"Nova", "Second disc opener", "Sky", "Nova", "/m/sky/5.mp3", 2, 1, "2001"}));
    Add(Tagged({"Nova", "Unnumbered", "Sky", "Nova", "/m/sky/9.mp3", 1, 0, "2001"}));
    Add(Tagged({"Nova", "Two", "Sky", "Nova", "/m/sky/2.mp3", 1, 2, "2001"}));
    Add(Tagged({"Nova", "One", "Sky", "Nova", "/m/sky/1.mp3", 1, 1, "2001"}));
    Add(Tagged({"Nova", "Early", "Dawn", "Nova", "/m/dawn/1.mp3", 0, 1, "1995"}));
    Add(Tagged({"Abba", "Guest", "Dawn", "Nova", "/m/dawn/2.mp3", 0, 2, "1995"}));
    TChmPreparer preparer;
    preparer.GeneratePages(Files());

    const std::string skyPage = Page("alb", AlbumGroupKey("Sky", "Nova", ""));
    const std::string dawnPage = Page("alb", AlbumGroupKey("Dawn", "Nova", ""));
    const std::string sky = Read(preparer, skyPage);
    EXPECT_TRUE(
        Ascending(PositionsIn(sky, {"(1-1 One )", "(1-2 Two )", "( Unnumbered )", "(2-1 Second disc opener )"})))
        << sky;
    // The album heading: artist, year, genre, track count and total time.
    EXPECT_NE(sky.find("<a href=\"" + Page("art", "Nova") + "\">Nova</a>"), std::string::npos);
    EXPECT_TRUE(Ascending(PositionsIn(sky, {"<th>Year</th><td>2001</td>", "<th>Genre</th><td>Pop</td>",
                                            "<th>Tracks</th><td>4</td>", "<th>Total time</th><td>6:40</td>"})));

    // Artist page: albums by year, each under a heading that links to it.
    const std::string nova = Read(preparer, Page("art", "Nova"));
    const auto heading = [](const std::string& page, const std::string& name, const std::string& year) {
        const std::string anchor = page.substr(0, page.rfind('.'));
        return "{<a name=\"" + anchor + "\" id=\"" + anchor + "\" href=\"" + page + "\">" + name + "</a> " + year + "}";
    };
    EXPECT_TRUE(Ascending(
        PositionsIn(nova, {heading(dawnPage, "Dawn", "1995"), "(1 Early )", heading(skyPage, "Sky", "2001"), "(1-1 One )"})))
        << nova;
    // Year pages list by artist, album and track, and name the album.
    const std::string year = Read(preparer, Page("year", "2001"));
    EXPECT_TRUE(Ascending(PositionsIn(year, {"One <a class=\"album\" href=\"" + skyPage + "\">Sky</a>)", "Two",
                                             "Unnumbered", "Second disc opener"})));
    const std::string y1995 = Read(preparer, Page("year", "1995"));
    EXPECT_LT(y1995.find("Guest"), y1995.find("Early"));  // Abba before Nova
    // Index rows: the albums show who made them and when; without a cover a
    // spacer keeps the names in line.
    EXPECT_NE(
        Read(preparer, "albums.htm").find("[<span class=\"nocover\"></span>|<a href=\"" + dawnPage + "\">Dawn</a>|Nova, 1995]"),
        std::string::npos);
}

TEST_F(PreparerTest, GroupsSortByTheLocaleWithAccentsBesideTheirLetters) {
    for (const char* artist : {"Zo\xC3\xAB", "Frank", "\xC3\x89milie", "eddie", "Eddie", "\xC5\x81ukasz", "Lara"})
        Add(Record(artist, "T", "", "", ""));
    ScopedEnv locale("LC_ALL", "C.UTF-8");
    TChmPreparer preparer;
    preparer.GeneratePages(Files());
    EXPECT_EQ(Captions(preparer, 0), (std::vector<std::string>{"Eddie", "eddie", "\xC3\x89milie", "Frank", "Lara",
                                                               "\xC5\x81ukasz", "Zo\xC3\xAB"}));
    // Years stay in number order.
    records_.clear();
    for (const char* year : {"2010", "999", "1999", ""}) Add(Record("A", "T", "", year, ""));
    TChmPreparer years;
    years.GeneratePages(Files());
    EXPECT_EQ(Captions(years, 2), (std::vector<std::string>{"Unknown", "999", "1999", "2010"}));
}

TEST_F(PreparerTest, ArtistsSortByTheirSortNameAndCompilationsByTheirAlbumArtist) {
    auto sorted = [](const TTrack& t, const char* sortName, bool compilation) {
        auto r = std::make_unique<TAudioInformer>();
        TTagFields tags;
        tags.Artist = t.artist;
        tags.Title = t.title;
        tags.Album = t.album;
        tags.AlbumArtist = t.albumArtist;
        tags.ArtistSort = sortName;
        tags.Compilation = compilation;
        r->SetTags(tags);
        r->SetText(atFileName, t.file);
        r->SetNumbers({100, 44100, 128, ccStereo, 1000});
        return r;
    };
    WriteArchive("<html>$Heading<!--GroupBegin-->[$Cover|$Main|$Info]<!--GroupEnd-->"
                 "<!--Item.Begin-->($Track $Title)<!--Item.End--></html>");
    Add(sorted({"The Beatles", "Help", "Help!", "", "/m/b/1.mp3"}, "Beatles, The", false));
    Add(sorted({"The Beatles", "Yesterday", "Help!", "", "/m/b/2.mp3"}, "", false));  // the sort name of the first
    Add(sorted({"Abba", "SOS", "Hits", "", "/m/a/1.mp3"}, "", false));
    Add(sorted({"Cher", "Believe", "Hits", "", "/m/c/1.mp3"}, "", false));
    Add(sorted({"Ann", "One", "Summer Mix", "", "/m/mix/1.mp3"}, "", true));
    Add(sorted({"Bob", "Two", "Summer Mix", "", "/m/mix/2.mp3"}, "", true));
    Add(sorted({"Cid", "Three", "Winter Mix", "DJ Cold", "/m/w/1.mp3"}, "", true));
    ScopedEnv locale("LC_ALL", "C.UTF-8");
    TChmPreparer preparer;
    preparer.GeneratePages(Files());
    EXPECT_EQ(Captions(preparer, 0),
              (std::vector<std::string>{"Abba", "Ann", "The Beatles", "Bob", "Cher", "Cid"}));
    // A compilation shows its album artist, or "Various Artists".
    EXPECT_NE(Read(preparer, "albums.htm").find("Summer Mix</a>|Various Artists"), std::string::npos) << Read(preparer, "albums.htm");
    EXPECT_NE(Read(preparer, "albums.htm").find("Winter Mix</a>|DJ Cold"), std::string::npos);
}

TEST(CollatorTest, LocaleNamesAndTies) {
    TCollator root("");
    EXPECT_LT(root.Compare("Eddie", "\xC3\x89milie"), 0);
    EXPECT_LT(root.Compare("\xC3\x89milie", "Frank"), 0);
    // Equal under the collation, still ordered (and only equal when identical).
    EXPECT_NE(root.Compare("abc", "ABC"), 0);
    EXPECT_EQ(root.Compare("abc", "abc"), 0);
    EXPECT_LT(root.SortKey("ABC"), root.SortKey("abc"));
    EXPECT_LT(root.SortKey("abc"), root.SortKey("abd"));
    // Swedish puts "Ö" after "Z"; the root collation beside "O".
    TCollator swedish("sv_SE.UTF-8");
    EXPECT_GT(swedish.Compare("\xC3\x96sten", "Zeta"), 0);
    EXPECT_LT(TCollator("C").Compare("\xC3\x96sten", "Zeta"), 0);
    EXPECT_LT(TCollator("xx_NOWHERE").Compare("\xC3\x96sten", "Zeta"), 0);
    // Broken UTF-8 neither crashes nor breaks the order's totality.
    EXPECT_NE(root.Compare("\xFF\xFE", "\xFF"), 0);
}

// Finding covers can take long on a big folder; a stop asked for meanwhile
// ends it at the next album rather than after all of them.
TEST_F(PreparerTest, StopIsLookedAtWhileCoversAreFound) {
    TempDir music;
    for (int i = 0; i < 200; ++i)
        Add(Record("A", "T", "Album " + std::to_string(i), "", "", music.Write("t" + std::to_string(i) + ".mp3", "")));
    TChmPreparer preparer;
    std::atomic<int> asked{0};
    preparer.CheckStop = [&] {
        if (++asked > 5) throw ERunCancelled("stopped");
    };
    EXPECT_THROW(preparer.GeneratePages(Files()), ERunCancelled);
    EXPECT_LT(asked.load(), 100) << "the remaining albums were skipped";
}

TEST_F(PreparerTest, DamagedOrUnsafeArchiveMembersAreRefused) {
    const std::string archive = exeDir_ / "data";
    const auto problem = [] {
        try {
            CheckDataArchive();
        } catch (const EDataArchiveError& e) {
            return e.Message();
        }
        return std::string();
    };
    EXPECT_EQ(problem(), "");
    for (const char* bad : {"../outside.css", "Need\\back.css", "/etc/absolute.css"}) {
        WriteArchive(kTemplate);
        ZipBuffer(archive, bad, "x");
        EXPECT_NE(problem().find(std::string("\"") + bad + "\""), std::string::npos) << bad << ": " << problem();
    }
    // A member whose bytes do not match their checksum.
    std::string text;
    for (int i = 0; i < 2000; ++i) text += std::to_string(i * 7919 % 1000) + " ";
    WriteArchive(text);
    ASSERT_TRUE(DamageZipMember(archive, "template.html", 60));
    EXPECT_NE(problem().find("\"template.html\""), std::string::npos) << problem();
}
