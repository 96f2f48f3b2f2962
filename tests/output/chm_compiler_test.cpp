#include "output/chm/chm_compiler.h"

#include <chm_lib.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "base/spill_store.h"
#include "pages/keywords.h"
#include "services/configer.h"
#include "test_util.h"
#include "text/xml_config.h"

namespace {

class EnvOverride {
public:
    EnvOverride(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() {
        if (hadOld_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool hadOld_ = false;
};

TStringList FolderEntries(const std::string& folder) {
    TStringList names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string FindWithExtension(const std::string& folder, const std::string& ext) {
    for (const auto& name : FolderEntries(folder))
        if (ExtractFileExt(name) == ext) return JoinPath(folder, name);
    return {};
}

// Reads one object of a compiled help file; false when it is not inside.
bool ReadChmObject(chmFile* chm, const std::string& path, std::string& content) {
    chmUnitInfo info{};
    if (chm_resolve_object(chm, path.c_str(), &info) != CHM_RESOLVE_SUCCESS) return false;
    content.assign(static_cast<std::size_t>(info.length), '\0');
    LONGINT64 got = chm_retrieve_object(chm, &info, reinterpret_cast<unsigned char*>(content.data()), 0,
                                        static_cast<LONGINT64>(info.length));
    return got == static_cast<LONGINT64>(info.length);
}

struct ProgressCall {
    std::string status;
    int percent;
    std::string line;
};

class ChmCompilerTest : public ::testing::Test {
protected:
    TempDir runtime;
    TempDir bin;
    EnvOverride xdg{"XDG_RUNTIME_DIR", runtime.Path()};
    std::string work;

    void SetUp() override {
        SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TMemIniFile>()));
        Config("Options.HHP.Options", "Title", "My CDs");
        work = GetAppTempFolder();
    }
    void TearDown() override { SetAppConfiger(nullptr); }

    static void Config(const std::string& section, const std::string& key, const std::string& value) {
        AppConfiger()->WriteString(section, key, value);
    }
    std::string File(const std::string& name, const std::string& content) {
        std::string full = JoinPath(work, name);
        ForceFolders("", full, true);
        SaveTextFile(content, full);
        return full;
    }
    std::string Page(const std::string& name, const std::string& title, const std::string& body = {}) {
        return File(name, "<html><head><title>" + title + "</title></head><body>" + body + "</body></html>");
    }
    // A stand-in for chmcmd that prints the given lines and writes the output file.
    void FakeCompiler(const std::string& lines, int exitStatus = 0) {
        std::string script = "#!/bin/sh\nname=${2#.}\nname=${name%.chmcmd.hhp}\n" + lines +
                             "echo x > \"$name.chm\"\nexit " + std::to_string(exitStatus) + "\n";
        std::string file = bin.Write("chmcmd", script);
        ::chmod(file.c_str(), 0755);
    }
    // What the page generator leaves behind: pages where they lie, the start
    // page first, with its default topic.
    std::unique_ptr<TChmCompiler> NewCompiler() {
        auto compiler = std::make_unique<TChmCompiler>();
        compiler->ClearWorkingFolder = false;
        compiler->Ini->WriteValue("Options.HHP.Options", "Default topic", "main.html");
        return compiler;
    }
};

TEST(CompileBaseNameTest, FractionOfTheDayRoundedHalfToEven) {
    EXPECT_EQ(CompileBaseName(0), "temp0");
    EXPECT_EQ(CompileBaseName(12 * 3600 * 1000), "temp500000");
    EXPECT_EQ(CompileBaseName(43), "temp0");   // 0.497...
    EXPECT_EQ(CompileBaseName(44), "temp1");   // 0.509...
    EXPECT_EQ(CompileBaseName(216), "temp2");  // 2.5
    EXPECT_EQ(CompileBaseName(648), "temp8");  // 7.5
    EXPECT_EQ(CompileBaseName(86399999), "temp1000000");
}

TEST_F(ChmCompilerTest, ProjectFileTextAndDebugKeepsEveryProjectFile) {
    Config("General", "Debug", "1");
    Page("main.html", "Main");
    Page("Need/artists.html", "Artists");
    auto compiler = NewCompiler();
    TChmTreeItem& root = *compiler->Tree->Root;
    ASSERT_TRUE(root.AddFile(JoinPath(work, "main.html"), false));
    ASSERT_TRUE(root.AddFile(JoinPath(work, "Need/artists.html"), false));

    compiler->Modified = true;
    std::string chm;
    compiler->Compile(chm);
    EXPECT_TRUE(compiler->Modified);  // storing the project during Compile does not count
    std::string project = FindWithExtension(work, ".hhp");
    ASSERT_FALSE(project.empty());
    EXPECT_EQ(LoadTextFile(project),
              "\r\n[Options]\r\nCompatibility=1.1 or later\r\nContents file=temp.hhc\r\nIndex file=temp.hhk\r\n"
              "Display compile progress=Yes\r\nDefault Window=Main\r\nTitle=My CDs\r\nDefault topic=main.html\r\n"
              "\r\n\r\n[Files]\r\nmain.html\r\nNeed/artists.html\r\n\r\nself.chmprj");
    EXPECT_EQ(chm, RemoveExtension(project) + ".chm");
    EXPECT_TRUE(FileExists(chm));
    EXPECT_FALSE(compiler->CompileFailed);
    EXPECT_EQ(compiler->RootFolder, work);
    for (const char* name : {"temp.hhc", "temp.hhk", "self.chmprj"})
        EXPECT_TRUE(FileExists(JoinPath(work, name))) << name;

    compiler.reset();
    EXPECT_FALSE(DirectoryExists(work));
}

TEST_F(ChmCompilerTest, CompiledFileHoldsEveryFileAndOnlyResultsRemain) {
    Page("main.html", "Main", "<link rel=\"stylesheet\" href=\"Need/style.css\"><img src=\"Need/logo.gif\">");
    Page("Artists/nova.html", "Nova & Harbor");
    File("Need/style.css", "body { color: black }");
    File("Need/logo.gif", "GIF89a");
    auto compiler = NewCompiler();
    TChmTreeItem& root = *compiler->Tree->Root;
    TChmTreeItem* main = root.AddFileEntry(JoinPath(work, "main.html"), true);
    ASSERT_NE(main, nullptr);
    TChmTreeItem* artist = main->AddFileEntry(JoinPath(work, "Artists/nova.html"), false);
    ASSERT_NE(artist, nullptr);
    artist->Caption = "Nova & Harbor";
    AddUserKeyword(*artist, "Nova");

    std::string chm;
    compiler->Compile(chm);
    ASSERT_FALSE(chm.empty()) << ::testing::PrintToString(compiler->CompileMessages());
    EXPECT_FALSE(compiler->CompileFailed);

    chmFile* file = chm_open(chm.c_str());
    ASSERT_NE(file, nullptr);
    std::string content;
    for (const char* name : {"main.html", "Artists/nova.html", "Need/style.css", "Need/logo.gif", "self.chmprj"}) {
        EXPECT_TRUE(ReadChmObject(file, std::string("/") + name, content)) << name;
        EXPECT_EQ(content, LoadTextFile(JoinPath(work, name))) << name;
    }
    ASSERT_TRUE(ReadChmObject(file, "/temp.hhc", content));
    EXPECT_NE(content.find("value=\"Artists/nova.html\""), std::string::npos) << content;
    ASSERT_TRUE(ReadChmObject(file, "/temp.hhk", content));
    EXPECT_NE(content.find("value=\"Nova\""), std::string::npos) << content;
    chm_close(file);

    EXPECT_EQ(FolderEntries(work), (TStringList{"Artists", "Need", "main.html", "self.chmprj", ExtractFileName(chm)}));
}

TEST_F(ChmCompilerTest, ProjectStoreGroupsAndKeywords) {
    Config("Options.HHP.Windows.Main", "PaneWidth", "200");
    Page("index.html", "Index", "<img src=\"pic.gif\">");
    File("pic.gif", "GIF89a");
    Page("a.html", "A");
    Page("b.html", "B");
    auto compiler = NewCompiler();
    TChmTreeItem* index = compiler->Tree->Root->AddFileEntry(JoinPath(work, "index.html"), true);
    ASSERT_NE(index, nullptr);
    index->Anchor = "top";
    TChmTreeItem* a = index->AddFileEntry(JoinPath(work, "a.html"), false);
    TChmTreeItem* b = index->AddFileEntry(JoinPath(work, "b.html"), false);
    ASSERT_TRUE(a && b);
    a->Caption = "Nova";
    AddUserKeyword(*a, "Nova");
    AddUserKeyword(*a, "Harbor");
    b->ImageIndex = 3;

    std::string store = JoinPath(work, "self.chmprj");
    SaveTextFile("not a project store", store);  // an old file is replaced, not parsed
    compiler->Modified = true;
    compiler->SaveProject(store);
    EXPECT_FALSE(compiler->Modified);

    std::string text = LoadTextFile(store);
    EXPECT_NE(text.find("<XMLConfig><info>CHM Project</info>\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("<g n=\"Contents\">"), std::string::npos) << text;
    EXPECT_EQ(text.find("<group"), std::string::npos);

    TXMLConfig read(store, false);
    EXPECT_EQ(read.ReadValue("Version", "", ""), "208");
    EXPECT_EQ(read.ReadValue("Contents", "Count", ""), "3");
    EXPECT_EQ(read.ReadValue("Contents.0", "Level", ""), "0");
    EXPECT_EQ(read.ReadValue("Contents.0", "Caption", "?"), "Index");
    EXPECT_EQ(read.ReadValue("Contents.0", "FileName", ""), JoinPath(work, "index.html"));
    EXPECT_EQ(read.ReadValue("Contents.0", "Anchor", ""), "top");
    EXPECT_EQ(read.ReadValue("Contents.0", "Image", "none"), "11");  // has children
    EXPECT_EQ(read.ReadValue("Contents.1", "Level", ""), "1");
    EXPECT_EQ(read.ReadValue("Contents.1", "Keywords", ""), ",Nova,Harbor,>++,+");
    EXPECT_EQ(read.ReadValue("Contents.1", "Image", "none"), "none");
    EXPECT_EQ(read.ReadValue("Contents.1", "Anchor", "none"), "none");
    EXPECT_EQ(read.ReadValue("Contents.2", "Level", ""), "1");
    EXPECT_EQ(read.ReadValue("Contents.2", "Image", "none"), "3");
    EXPECT_EQ(read.ReadValue("Files", "Count", ""), "1");
    EXPECT_EQ(read.ReadValue("Files.0", "FileName", ""), JoinPath(work, "index.html"));
    EXPECT_EQ(read.ReadValue("Files.0", "Linked", ""), JoinPath(work, "pic.gif") + "\r\n");
    EXPECT_EQ(read.ReadValue("Options.HHP.Options", "Title", ""), "My CDs");
    EXPECT_EQ(read.ReadValue("Options.HHP.Windows.Main", "PaneWidth", ""), "200");
}

TEST_F(ChmCompilerTest, SettingsAndKeywordOptionsComeFromTheConfigurationFile) {
    TempDir configDir;
    SetAppConfiger(std::make_unique<TConfiger>(std::make_unique<TXMLConfig>(configDir / "orvalis.conf.xml", true)));
    Config("Options", "HHP.Windows.Main.PaneWidth", "100");
    Config("Options", "HHP.Options.Title", "From file");
    Config("Options", "Preferences.Keywords.IgnoreCase", "1");
    Config("Other", "HHP.Options.Title", "not ours");

    TChmCompiler compiler;
    EXPECT_EQ(compiler.Ini->ProjectSections(""),
              "[Windows]\r\nMain=,,,\"\",\"\",\"\",\"\",\"\",\"\",,100,0x0,,,,,,,,\r\n"
              "\r\n[Options]\r\nTitle=From file\r\n");
    EXPECT_TRUE(compiler.Tree->Keywords->IgnoreCase);

    std::string store = runtime / "store.chmprj";
    compiler.SaveProject(store);
    TXMLConfig read(store, false);
    EXPECT_EQ(read.ReadValue("Options.HHP.Windows.Main", "PaneWidth", ""), "100");
    EXPECT_EQ(read.ReadValue("Options.Preferences.Keywords", "IgnoreCase", "none"), "none");  // only Options.HHP
    SetAppConfiger(nullptr);  // writes the configuration while its folder still exists
}

TEST_F(ChmCompilerTest, MissingCompilerGivesNoDatabaseAndNamesIt) {
    EnvOverride path("PATH", bin.Path());  // empty folder
    Page("main.html", "Main");
    auto compiler = NewCompiler();
    compiler->Engine = THelpEngine::Chmcmd;
    compiler->Tree->Root->AddFile(JoinPath(work, "main.html"), false);
    std::vector<ProgressCall> calls;
    compiler->OnCompileProgress = [&](const std::string& s, int p, const std::string& l) {
        calls.push_back({s, p, l});
        return true;
    };

    std::string chm = "previous";
    compiler->Compile(chm);
    EXPECT_EQ(chm, "");
    EXPECT_TRUE(compiler->CompileFailed);
    ASSERT_FALSE(compiler->CompileMessages().empty());
    EXPECT_NE(compiler->CompileMessages().back().find("\"chmcmd\" was not found"), std::string::npos);
    EXPECT_NE(calls.back().line.find("chmcmd"), std::string::npos);
    EXPECT_EQ(calls.back().status, "Compiling...");
    EXPECT_EQ(FolderEntries(work), (TStringList{"main.html", "self.chmprj"}));
}

TEST_F(ChmCompilerTest, ProgressPhasesAndPercentages) {
    Config("Options.Preferences.General.RefreshbeforeCompile", "", "1");
    EnvOverride path("PATH", bin.Path());
    // Three lines per file, plus blank ones that do not count.
    FakeCompiler("echo '  one  '\necho\necho two\necho three\necho '   '\necho four\necho five\necho six\n");
    Page("main.html", "Main page");
    Page("other.html", "Other page");
    auto compiler = NewCompiler();
    compiler->Engine = THelpEngine::Chmcmd;
    compiler->Tree->Root->AddFile(JoinPath(work, "main.html"), false);
    compiler->Tree->Root->AddFile(JoinPath(work, "other.html"), false);
    std::vector<ProgressCall> calls;
    compiler->OnCompileProgress = [&](const std::string& s, int p, const std::string& l) {
        calls.push_back({s, p, l});
        return true;
    };

    std::string chm;
    compiler->Compile(chm);
    EXPECT_FALSE(chm.empty());
    EXPECT_EQ(compiler->ProgressTotal, 2);
    EXPECT_EQ(compiler->ProgressCount, 6);

    TStringList phases;
    std::vector<int> percents;
    for (const auto& c : calls) {
        if (c.status.empty() && !c.line.empty())  // refreshed entries report their (empty) captions
            phases.push_back(c.line);
        else if (c.status == "Compiling...")
            percents.push_back(c.percent);
    }
    EXPECT_EQ(phases,
              (TStringList{" ", "Refreshing files...", " ", " ", "Preparing files...", " ", " ", "Compiling...", " "}));
    EXPECT_EQ(percents, (std::vector<int>{50, 100, 150, 200, 250, 300}));
    EXPECT_EQ(compiler->CompileMessages(), (TStringList{"one", "two", "three", "four", "five", "six"}));
    // The refresh read the captions from the pages.
    EXPECT_EQ(compiler->Tree->Root->Item(0)->Caption, "Main page");
    EXPECT_EQ(compiler->Tree->Root->Item(1)->Caption, "Other page");
}

TEST_F(ChmCompilerTest, FailedOrStoppedCompilationLeavesNothing) {
    EnvOverride path("PATH", bin.Path());
    Page("main.html", "Main");
    auto compiler = NewCompiler();
    compiler->Engine = THelpEngine::Chmcmd;
    compiler->Tree->Root->AddFile(JoinPath(work, "main.html"), false);

    // The compiler writes a file but says it failed: no result, the file goes.
    FakeCompiler("echo 'Error: broken'\n", 1);
    std::string chm;
    compiler->Compile(chm);
    EXPECT_EQ(chm, "");
    EXPECT_TRUE(compiler->CompileFailed);
    EXPECT_EQ(FolderEntries(work), (TStringList{"main.html", "self.chmprj"}));

    // A handler that stops the compilation.
    FakeCompiler("echo line\n");
    compiler->OnCompileProgress = [](const std::string& status, int, const std::string&) -> bool {
        if (!status.empty()) throw ECompilationBreak("stopped");
        return true;
    };
    compiler->Compile(chm);
    EXPECT_EQ(chm, "");
    EXPECT_FALSE(compiler->CompileFailed);
    EXPECT_EQ(compiler->CompileMessages().back(), "stopped");
    EXPECT_EQ(FolderEntries(work), (TStringList{"main.html", "self.chmprj"}));
}

TEST_F(ChmCompilerTest, NativeEngineReportsBytesAndStopsWhenAsked) {
    EnvOverride path("PATH", bin.Path());  // no chmcmd needed
    Page("main.html", "Main");
    auto compiler = NewCompiler();
    ASSERT_FALSE(compiler->Engine.has_value());
    EXPECT_EQ(ConfiguredHelpEngine(), THelpEngine::Native);
    compiler->Tree->Root->AddFile(JoinPath(work, "main.html"), false);
    std::vector<int> percents;
    compiler->OnCompileProgress = [&](const std::string& status, int percent, const std::string&) {
        if (!status.empty()) percents.push_back(percent);
        return true;
    };
    std::string chm;
    compiler->Compile(chm);
    ASSERT_FALSE(chm.empty()) << compiler->CompileMessages().back();
    EXPECT_EQ(LoadTextFile(chm).substr(0, 4), "ITSF");
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << "the bar never moves back";
    EXPECT_EQ(percents.back(), 100);

    // A false answer stops it: no result and nothing left behind.
    ::unlink(chm.c_str());
    compiler->OnCompileProgress = [](const std::string& status, int, const std::string&) { return status.empty(); };
    compiler->Compile(chm);
    EXPECT_EQ(chm, "");
    EXPECT_EQ(FolderEntries(work), (TStringList{"main.html", "self.chmprj"}));
}

TEST_F(ChmCompilerTest, ClearingTheWorkingFolderAndLeavingOutTheStore) {
    EnvOverride path("PATH", bin.Path());
    FakeCompiler("");
    Page("old.html", "Old");
    TChmCompiler compiler;
    compiler.StoreProject = false;
    std::string chm;
    compiler.Compile(chm);
    EXPECT_FALSE(chm.empty());
    EXPECT_EQ(FolderEntries(work), TStringList{ExtractFileName(chm)});
}

}  // namespace

namespace {

// Pages kept in a spill store go into the compiled file in its code page,
// and onto the disk for chmcmd, which reads nothing else; the store is let
// go once they are read, and no file of it stays in the working folder.
TEST_F(ChmCompilerTest, SpilledPagesAreCompiledAndWrittenOutForChmcmd) {
    const std::string spilled = JoinPath(work, "alb-1.htm");
    const std::string page = "<html><head><title>Caf\xC3\xA9 album</title></head><body>\xC3\x89milie</body></html>";
    const auto compiler = [&] {
        // A compiler removes the working folder when it goes.
        EXPECT_EQ(GetAppTempFolder(), work);
        Page("main.html", "Main");
        auto made = NewCompiler();
        made->Files->CheckExistence = false;
        made->Spilled = std::make_unique<TSpillStore>(work);
        made->Spilled->Put(spilled, page);
        made->HeldPageBytes = 0;  // converted pages go back into the store
        made->Tree->Root->AddFile(JoinPath(work, "main.html"), false);
        made->Tree->Root->AddFile(spilled, false);
        return made;
    };
    {
        auto native = compiler();
        native->Engine = THelpEngine::Native;
        std::string chm;
        native->Compile(chm);
        ASSERT_FALSE(chm.empty()) << (native->CompileMessages().empty() ? "" : native->CompileMessages().back());
        EXPECT_FALSE(native->Spilled) << "let go once read";
        EXPECT_FALSE(FileExists(spilled));
        chmFile* file = chm_open(chm.c_str());
        ASSERT_NE(file, nullptr);
        std::string content;
        EXPECT_TRUE(ReadChmObject(file, "/alb-1.htm", content));
        chm_close(file);
        EXPECT_NE(content.find("Caf\xE9 album"), std::string::npos) << content;  // in the Western code page
        EXPECT_NE(content.find("\xC9milie"), std::string::npos) << content;
    }
    {
        EnvOverride path("PATH", bin.Path());
        FakeCompiler("/bin/cat '" + spilled + "'\n");
        auto chmcmd = compiler();
        chmcmd->Engine = THelpEngine::Chmcmd;
        std::vector<std::string> lines;
        chmcmd->OnCompileProgress = [&](const std::string&, int, const std::string& line) {
            lines.push_back(line);
            return true;
        };
        std::string chm;
        chmcmd->Compile(chm);
        EXPECT_FALSE(chm.empty());
        EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.find("\xC9milie") != std::string::npos; }),
                  lines.end())
            << "chmcmd read the page from the disk, converted: " << ::testing::PrintToString(lines);
    }
}

}  // namespace
