#include "platform/help_compiler.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "test_util.h"

namespace {

// Points PATH somewhere else for one test and puts it back afterwards.
class PathOverride {
public:
    explicit PathOverride(const std::string& path) {
        const char* old = std::getenv("PATH");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        ::setenv("PATH", path.c_str(), 1);
    }
    ~PathOverride() {
        if (hadOld_)
            ::setenv("PATH", old_.c_str(), 1);
        else
            ::unsetenv("PATH");
    }

private:
    std::string old_;
    bool hadOld_ = false;
};

struct CompileRun {
    bool ok = false;
    TStringList messages;
    TStringList files;
};

CompileRun Compile(const std::string& project, bool continueFiles = true) {
    CompileRun run;
    run.ok = CompileHelpProject(
        project, [&](const std::string& line) { run.messages.push_back(line); },
        [&](const std::string& file) {
            run.files.push_back(file);
            return continueFiles;
        });
    return run;
}

std::string AllMessages(const CompileRun& run) {
    std::string all;
    for (const auto& m : run.messages) all += m + "\n";
    return all;
}

const char* kProject =
    "[Options]\r\nTitle=Test\r\nCompiled file=elsewhere.chm\r\nDefault topic=main.html\r\n"
    "Contents file=temp.hhc\r\n\r\n[Files]\r\nmain.html\r\nb.html\r\n";

class HelpCompilerTest : public ::testing::Test {
protected:
    TempDir dir;
    TempDir bin;

    // A stand-in compiler: a script on a PATH of its own.
    void FakeCompiler(const std::string& body) {
        std::string name = bin.Write("chmcmd", "#!/bin/sh\n" + body);
        ::chmod(name.c_str(), 0755);
    }
};

TEST_F(HelpCompilerTest, RealCompilerBuildsChmBesideProjectAndLeavesProjectUnchanged) {
    dir.Write("main.html", "<html><head><title>Main</title></head><body>m</body></html>");
    dir.Write("b.html", "<html><head><title>B</title></head><body>b</body></html>");
    dir.Write("temp.hhc",
              "<HTML><BODY><UL>\r\n<LI> <OBJECT type=\"text/sitemap\">\r\n<param name=\"Name\" "
              "value=\"Main\">\r\n<param name=\"Local\" value=\"main.html\">\r\n</OBJECT>\r\n</UL></BODY></HTML>\r\n");
    std::string project = dir.Write("temp123.hhp", kProject);

    CompileRun run = Compile(project);
    EXPECT_TRUE(run.ok) << AllMessages(run);
    EXPECT_TRUE(FileExists(dir / "temp123.chm"));
    EXPECT_FALSE(FileExists(dir / "elsewhere.chm"));
    EXPECT_FALSE(FileExists(dir / ".temp123.chmcmd.hhp"));
    EXPECT_EQ(LoadTextFile(project), kProject);
    EXPECT_EQ(run.files, (TStringList{"main.html", "b.html"}));
    EXPECT_NE(AllMessages(run).find("temp123.chm"), std::string::npos) << AllMessages(run);
}

TEST_F(HelpCompilerTest, MissingCompilerIsNamedInTheMessage) {
    PathOverride path(bin.Path());  // empty folder
    std::string project = dir.Write("temp1.hhp", kProject);
    CompileRun run = Compile(project);
    EXPECT_FALSE(run.ok);
    ASSERT_FALSE(run.messages.empty());
    EXPECT_NE(run.messages.back().find("\"chmcmd\" was not found"), std::string::npos) << run.messages.back();
    EXPECT_FALSE(FileExists(dir / ".temp1.chmcmd.hhp"));
}

TEST_F(HelpCompilerTest, CompilerSeesItsOwnOutputNameAndEveryLineArrivesInOrder) {
    FakeCompiler(
        "/bin/cp \"$2\" seen.hhp\n"
        "echo \"args $1 $2\"\n"
        "printf 'dos line\\r\\n'\n"
        "echo 'to stderr' >&2\n"
        "printf 'no line end'\n"
        "echo x > temp7.chm\n");
    PathOverride path(bin.Path());
    std::string project = dir.Write("temp7.hhp", kProject);
    CompileRun run = Compile(project);
    EXPECT_TRUE(run.ok) << AllMessages(run);
    EXPECT_EQ(run.messages,
              (TStringList{"args --no-html-scan .temp7.chmcmd.hhp", "dos line", "to stderr", "no line end"}));
    EXPECT_EQ(LoadTextFile(dir / "seen.hhp"),
              "[Options]\r\nCompiled file=temp7.chm\r\nTitle=Test\r\nDefault topic=main.html\r\n"
              "Contents file=temp.hhc\r\n\r\n[Files]\r\nmain.html\r\nb.html\r\n\r\n");
}

TEST_F(HelpCompilerTest, ProjectWithoutOptionsGetsOne) {
    FakeCompiler("/bin/cp \"$2\" seen.hhp\necho x > p.chm\n");
    PathOverride path(bin.Path());
    std::string project = dir.Write("p.hhp", "[Files]\r\na.html");
    EXPECT_TRUE(Compile(project).ok);
    EXPECT_EQ(LoadTextFile(dir / "seen.hhp"), "[OPTIONS]\r\nCompiled file=p.chm\r\n\r\n[Files]\r\na.html\r\n");
}

TEST_F(HelpCompilerTest, FailuresAreNeverReportedAsSuccess) {
    PathOverride path(bin.Path());
    std::string project = dir.Write("temp2.hhp", kProject);

    // Exit status 0 but no output file: a stale file of the same name must not count.
    FakeCompiler("echo done\n");
    dir.Write("temp2.chm", "stale");
    CompileRun run = Compile(project);
    EXPECT_FALSE(run.ok);
    EXPECT_FALSE(FileExists(dir / "temp2.chm"));
    EXPECT_NE(run.messages.back().find("did not write"), std::string::npos) << run.messages.back();

    // A file written, but a failing exit status.
    FakeCompiler("echo 'Error: broken'\necho x > temp2.chm\nexit 3\n");
    run = Compile(project);
    EXPECT_FALSE(run.ok);
    ASSERT_EQ(run.messages.size(), 2u);
    EXPECT_EQ(run.messages[0], "Error: broken");
    EXPECT_NE(run.messages[1].find("exit status 3"), std::string::npos) << run.messages[1];

    // Killed by a signal.
    FakeCompiler("echo x > temp2.chm\nkill -9 $$\n");
    run = Compile(project);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.messages.back().find("signal 9"), std::string::npos) << run.messages.back();

    // No project file at all.
    run = Compile(dir / "absent.hhp");
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.messages.back().find("absent.hhp"), std::string::npos);
}

TEST_F(HelpCompilerTest, FileCallbackCanStopBeforeTheCompilerRuns) {
    FakeCompiler("echo ran > ran.txt\necho x > temp3.chm\n");
    PathOverride path(bin.Path());
    std::string project = dir.Write("temp3.hhp", kProject);
    CompileRun run = Compile(project, false);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.files, TStringList{"main.html"});
    EXPECT_FALSE(FileExists(dir / "ran.txt"));
}

TEST_F(HelpCompilerTest, ThrowingCallbackKillsTheCompilerAndCleansUp) {
    FakeCompiler("echo first\nexec /bin/sleep 30\n");
    PathOverride path(bin.Path());
    std::string project = dir.Write("temp4.hhp", kProject);
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(CompileHelpProject(
                     project, [](const std::string&) { throw std::runtime_error("stop"); }, nullptr),
                 std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_FALSE(FileExists(dir / ".temp4.chmcmd.hhp"));
    int status;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);  // nothing left to reap
}

}  // namespace

// Files held in memory reach either engine: ours reads them as they are,
// chmcmd finds them written beside the project before it starts.
TEST_F(HelpCompilerTest, FilesHeldInMemoryReachBothEngines) {
    dir.Write("main.html", "<html><head><title>Main</title></head><body>m</body></html>");
    dir.Write("temp.hhc", "<HTML><BODY><UL></UL></BODY></HTML>\r\n");
    const std::string project = dir.Write("temp8.hhp", kProject);
    const THelpMemoryFiles held = {{"b.html", "<html><head><title>B</title></head><body>held</body></html>"}};
    const auto compile = [&](THelpEngine engine) {
        CompileRun run;
        run.ok = CompileHelpProject(
            project, engine, [&](const std::string& line) { run.messages.push_back(line); }, {}, {}, &held);
        return run;
    };
    CompileRun native = compile(THelpEngine::Native);
    EXPECT_TRUE(native.ok) << AllMessages(native);
    EXPECT_FALSE(FileExists(dir / "b.html"));
    EXPECT_NE(LoadTextFile(dir / "temp8.chm").size(), 0u);

    FakeCompiler("/bin/cp b.html seen-b.html && echo x > temp8.chm\n");
    PathOverride path(bin.Path());
    CompileRun chmcmd = compile(THelpEngine::Chmcmd);
    EXPECT_TRUE(chmcmd.ok) << AllMessages(chmcmd);
    EXPECT_EQ(LoadTextFile(dir / "seen-b.html"), held.at("b.html"));

    // A file that cannot be written stops chmcmd from starting, with the reason.
    const THelpMemoryFiles unwritable = {{"missing-folder/c.html", "c"}};
    CompileRun failed;
    failed.ok = CompileHelpProject(
        project, THelpEngine::Chmcmd, [&](const std::string& line) { failed.messages.push_back(line); }, {}, {},
        &unwritable);
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(AllMessages(failed).find("missing-folder/c.html"), std::string::npos) << AllMessages(failed);
}
