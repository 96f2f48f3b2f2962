#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "base/exe_dir.h"
#include "services/configer.h"
#include "base/language.h"
#include "test_util.h"

namespace {

class ConfigService : public ::testing::Test {
protected:
    void SetUp() override {
        savedExeDir_ = ExeDir();
        SetExeDirForTesting(dir_.Path());
        SetAppConfiger(nullptr);
        SetAppLanguage(nullptr);
    }
    void TearDown() override {
        SetAppConfiger(nullptr);
        SetAppLanguage(nullptr);
        SetExeDirForTesting(savedExeDir_);
    }
    std::string ConfigPath() const { return dir_ / "test_services.conf.xml"; }
    bool Open() {
        std::string message;
        bool ok = OpenAppConfiger(message);
        EXPECT_TRUE(ok) << message;
        return ok;
    }

    TempDir dir_;
    std::string savedExeDir_;
};

TEST_F(ConfigService, FirstStartCreatesSkeletonBesideExecutable) {
    EXPECT_EQ(ConfigFileName(), ConfigPath());
    ASSERT_TRUE(Open());
    EXPECT_EQ(LoadTextFile(ConfigPath()),
              "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\r\n"
              "<XMLConfig><info>test_services config file</info>\r\n</XMLConfig>");
    EXPECT_EQ(AppConfiger()->ReadString("Session", "DBFilename"), "");
    EXPECT_FALSE(AppConfiger()->ReadBool("Session", "OpenAfterCompil"));
    ASSERT_NE(AppLanguage(), nullptr);
    EXPECT_EQ(AppLanguage()->LanguageFile(), dir_ / "default.lng");

    // Opening again keeps the one service.
    TConfiger* first = AppConfiger();
    ASSERT_TRUE(Open());
    EXPECT_EQ(AppConfiger(), first);
}

TEST_F(ConfigService, ValuesSurviveCloseAndReopen) {
    ASSERT_TRUE(Open());
    AppConfiger()->WriteString("Session", "DBFilename", "/music/db.chm");
    AppConfiger()->WriteBool("Session", "OpenAfterCompil", true);
    CloseAppConfiger();
    EXPECT_EQ(AppConfiger(), nullptr);
    EXPECT_NE(LoadTextFile(ConfigPath()).find("<param name=\"DBFilename\">/music/db.chm</param>"), std::string::npos);
    ASSERT_TRUE(Open());
    EXPECT_EQ(AppConfiger()->ReadString("Session", "DBFilename"), "/music/db.chm");
    EXPECT_TRUE(AppConfiger()->ReadBool("Session", "OpenAfterCompil"));
}

TEST_F(ConfigService, BooleansAreWholeNumbersOtherThanZero) {
    dir_.Write("test_services.conf.xml",
               "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\r\n<XMLConfig><info>x</info>\r\n"
               "<group name=\"B\"><param name=\"two\">2</param><param name=\"yes\">yes</param>"
               "<param name=\"hex\">0x10</param><param name=\"zero\">0</param><param name=\"dollar\">$10</param>"
               "<param name=\"half\">1.5</param></group></XMLConfig>");
    ASSERT_TRUE(Open());
    TConfiger& c = *AppConfiger();
    EXPECT_TRUE(c.ReadBool("B", "two"));
    EXPECT_FALSE(c.ReadBool("B", "yes"));
    EXPECT_TRUE(c.ReadBool("B", "hex"));
    EXPECT_FALSE(c.ReadBool("B", "zero"));
    EXPECT_FALSE(c.ReadBool("B", "dollar"));
    EXPECT_FALSE(c.ReadBool("B", "half"));
    EXPECT_FALSE(c.ReadBool("B", "absent"));
}

TEST_F(ConfigService, LanguageFileComesFromTheOption) {
    const std::string english = "Found";
    dir_.Write("other.lng", "[Messages]\r\n" + HexEncode(Md5Digest(english)) + "=Gefunden\r\n");
    dir_.Write("test_services.conf.xml",
               "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\r\n<XMLConfig><info>x</info>\r\n"
               "<group name=\"Options\"><group name=\"General\"><param name=\"LangFile\">other.lng</param>"
               "</group></group></XMLConfig>");
    ASSERT_TRUE(Open());
    ASSERT_NE(AppLanguage(), nullptr);
    EXPECT_EQ(AppLanguage()->LanguageFile(), dir_ / "other.lng");
    EXPECT_EQ(Translate(english), "Gefunden");
}

TEST_F(ConfigService, MalformedFileStopsUntouched) {
    const std::string bad =
        "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\r\n<xmlconfig><info>x</info></xmlconfig>";
    dir_.Write("test_services.conf.xml", bad);
    std::string message;
    EXPECT_FALSE(OpenAppConfiger(message));
    EXPECT_EQ(message, "Error in config file \"" + ConfigPath() +
                           "\" at position 2:2\nThe problem is at line 2, "
                           "column 2. The file was left as it is; to start afresh with default settings, move it aside "
                           "(for example to \"" +
                           ConfigPath() + ".old\") and start Orvalis again.");
    EXPECT_EQ(AppConfiger(), nullptr);
    CloseAppConfiger();  // nothing open: nothing written
    EXPECT_EQ(LoadTextFile(ConfigPath()), bad);

    // An empty file does not load either.
    dir_.Write("test_services.conf.xml", "");
    EXPECT_FALSE(OpenAppConfiger(message));
    EXPECT_EQ(message.substr(0, message.find('\n')), "Error in config file \"" + ConfigPath() + "\" at position 0:0");
    EXPECT_EQ(LoadTextFile(ConfigPath()), "");
}

TEST_F(ConfigService, UnwritableProgramFolderFallsBackToXdgConfigHome) {
    SetExeDirForTesting(dir_ / "no/such/folder");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", (dir_ / "xdg").c_str(), 1);
    EXPECT_EQ(ConfigFileName(), dir_ / "xdg/orvalis/test_services.conf.xml");
    EXPECT_TRUE(Open());  // the folder is created on the way
    EXPECT_TRUE(FileExists(dir_ / "xdg/orvalis/test_services.conf.xml"));
    // A relative XDG_CONFIG_HOME is ignored for the home folder's .config.
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(ExtractFileDir(ConfigFileName()), JoinPath(std::getenv("HOME"), ".config/orvalis"));
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

// An installed copy's folder may well be writable (root, or a private
// prefix); the marker still sends the configuration to the XDG place.
TEST_F(ConfigService, InstalledCopyKeepsConfigurationInXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", (dir_ / "xdg").c_str(), 1);
    dir_.Write(kInstalledMarker, "");
    EXPECT_EQ(ConfigFileName(), dir_ / "xdg/orvalis/test_services.conf.xml");
    ASSERT_TRUE(Open());
    CloseAppConfiger();
    EXPECT_TRUE(FileExists(dir_ / "xdg/orvalis/test_services.conf.xml"));
    EXPECT_FALSE(FileExists(ConfigPath()));
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(MemIniFile, CopySectionKeepsDottedPaths) {
    TMemIniFile source, target;
    source.WriteValue("Options.HHP.Windows.Main", "Home", "main.html");
    source.WriteValue("Options.HHP", "Title", "t");
    source.WriteValue("Options", "Lang", "de");
    source.WriteValue("Options.HHPX", "Other", "no");
    CopySection(source, target, "Options.HHP", "");
    EXPECT_EQ(target.ReadValue("Options.HHP.Windows", "Main.Home", ""), "main.html");
    EXPECT_EQ(target.ReadValue("Options.HHP", "Title", ""), "t");
    EXPECT_EQ(target.ReadValue("Options", "Lang", "none"), "none");
    EXPECT_EQ(target.ReadValue("Options.HHPX", "Other", "none"), "none");
}

}  // namespace
