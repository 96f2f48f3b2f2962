#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "services/configer.h"
#include "test_util.h"
#include "text/xml_config.h"

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\r\n<XMLConfig><info>test</info>\r\n";

class XmlConfig : public ::testing::Test {
protected:
    std::string Path() const { return dir_ / "app.conf.xml"; }
    std::unique_ptr<TXMLConfig> Load(const std::string& body) {
        dir_.Write("app.conf.xml", kHead + body + "</XMLConfig>");
        return std::make_unique<TXMLConfig>(Path(), true);
    }
    std::unique_ptr<TXMLConfig> Reopen() { return std::make_unique<TXMLConfig>(Path(), true); }
    // The parse error message of a file with this exact content.
    std::string ErrorOf(const std::string& content) {
        dir_.Write("bad.conf.xml", content);
        try {
            TXMLConfig cfg(dir_ / "bad.conf.xml", true);
        } catch (const EParseError& e) {
            EXPECT_EQ(LoadTextFile(dir_ / "bad.conf.xml"), content) << "a file that does not load is not touched";
            return e.Message();
        }
        return "loaded";
    }
    std::string Where(const std::string& lineColumn) {
        return "Error in config file \"" + (dir_ / "bad.conf.xml") + "\" at position " + lineColumn;
    }
    TempDir dir_;
};

// XML editors declare the file UTF-8 (and often without a space before "?>").
TEST_F(XmlConfig, Utf8DeclarationIsAccepted) {
    for (const char* head : {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"}) {
        dir_.Write("app.conf.xml", std::string(head) +
                                       "<XMLConfig><info>test</info>\n<group name=\"Session\"><param name=\"Place\">"
                                       "Caf\xC3\xA9</param></group></XMLConfig>");
        TXMLConfig cfg(Path(), true);
        EXPECT_EQ(cfg.ReadValue("Session", "Place", ""), "Caf\xC3\xA9") << head;
    }
}

TEST_F(XmlConfig, MissingFileGetsSkeletonAtOnce) {
    {
        TXMLConfig cfg(Path(), true);
        EXPECT_EQ(cfg.Info(), "test_text config file");
        EXPECT_EQ(cfg.ReadValue("Session", "DBFilename", "none"), "none");
        EXPECT_FALSE(cfg.Modified());
        EXPECT_EQ(LoadTextFile(Path()),
                  "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\r\n"
                  "<XMLConfig><info>test_text config file</info>\r\n</XMLConfig>");
    }
    // A read-only store of a missing file writes nothing, not even on changes.
    {
        TXMLConfig cfg(dir_ / "other.xml", false);
        cfg.WriteValue("A", "b", "1");
        EXPECT_EQ(cfg.ReadValue("A", "b", ""), "1");
    }
    EXPECT_FALSE(FileExists(dir_ / "other.xml"));
}

TEST_F(XmlConfig, LongShortAndMixedFormsReadTheSame) {
    const std::string forms[] = {
        "<param name=\"Top\">1</param>\r\n<group name=\"Options\">\r\n <param name=\"Lang\">de.lng</param>\r\n"
        " <group name=\"HHP\">\r\n  <param name=\"Title\">My music</param>\r\n </group>\r\n</group>\r\n",
        "<p n=\"Top\">1</p><g n=\"Options\"><p n=\"Lang\">de.lng</p><g n=\"HHP\"><p n=\"Title\">My music</p></g></g>",
        "<param n=\"Top\">1</p>\r\n  < g name = \"Options\" >\r\n<p name=\"Lang\">de.lng</param>"
        "<group n=\"HHP\"><param name=\"Title\">My music</p></g></group>\r\n\r\n",
    };
    for (const auto& body : forms) {
        auto cfg = Load(body);
        EXPECT_EQ(cfg->ReadValue("Top", "", ""), "1") << body;
        EXPECT_EQ(cfg->ReadValue("Options", "Lang", ""), "de.lng") << body;
        EXPECT_EQ(cfg->ReadValue("Options.HHP", "Title", ""), "My music") << body;
        EXPECT_EQ(cfg->ReadValue("Options", "HHP.Title", ""), "My music") << body;
        EXPECT_EQ(cfg->Info(), "test");
    }
}

TEST_F(XmlConfig, WritesLongOrShortForm) {
    {
        TXMLConfig cfg(Path(), true);
        cfg.SetInfo("test");
        cfg.WriteValue("Options", "General.LangFile", "default.lng");
        cfg.WriteValue("Session", "PlaceTo", "2");
        cfg.SaveFile();
        EXPECT_FALSE(cfg.Modified());
        EXPECT_EQ(LoadTextFile(Path()), kHead +
                                            "<group name=\"Options\">\r\n"
                                            " <group name=\"General\">\r\n"
                                            "  <param name=\"LangFile\">default.lng</param>\r\n"
                                            " </group>\r\n"
                                            "</group>\r\n"
                                            "<group name=\"Session\">\r\n"
                                            " <param name=\"PlaceTo\">2</param>\r\n"
                                            "</group>\r\n"
                                            "</XMLConfig>");
        cfg.SetShortForm(true);
        cfg.SetInfo("CHM Project");
        cfg.SaveFile();
    }
    EXPECT_EQ(LoadTextFile(Path()),
              "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\r\n<XMLConfig><info>CHM Project</info>\r\n"
              "<g n=\"Options\">\r\n <g n=\"General\">\r\n  <p n=\"LangFile\">default.lng</p>\r\n </g>\r\n</g>\r\n"
              "<g n=\"Session\">\r\n <p n=\"PlaceTo\">2</p>\r\n</g>\r\n</XMLConfig>");
    auto cfg = Reopen();
    EXPECT_EQ(cfg->ReadValue("Options.General", "LangFile", ""), "default.lng");
}

TEST_F(XmlConfig, ValuesRoundTripThroughTheFile) {
    const std::pair<std::string, std::string> values[] = {
        {"markup", "a <b> & c"},         {"entityText", "x &lt; y &amp; z"},
        {"twoLines", "first\r\nsecond"}, {"startsWithBreak", "\r\nafter"},
        {"unixLines", "one\ntwo"},       {"spaces", "   lead and trail  "},
        {"quotes", "say \"hi\""},        {"empty", ""},
    };
    {
        TXMLConfig cfg(Path(), true);
        for (const auto& [k, v] : values) cfg.WriteValue("V", k, v);
        cfg.SaveFile();
    }
    std::string file = LoadTextFile(Path());
    EXPECT_NE(file.find("<param name=\"markup\">a &lt;b&gt; &amp; c</param>"), std::string::npos);
    EXPECT_NE(file.find("<param name=\"twoLines\">\r\nfirst\r\nsecond</param>"), std::string::npos);
    EXPECT_NE(file.find("<param name=\"unixLines\">one\ntwo</param>"), std::string::npos);
    auto cfg = Reopen();
    for (const auto& [k, v] : values) EXPECT_EQ(cfg->ReadValue("V", k, "?"), v) << k;
    // Written again unchanged, the file stays the same.
    cfg->SaveFile();
    EXPECT_EQ(LoadTextFile(Path()), file);
}

TEST_F(XmlConfig, EntitiesInLoadedFilesAreDecoded) {
    auto cfg = Load("<param name=\"a\">&LT;tag&gt; &amp;lt; &nbsp;</param><param name=\"b\">\r\n x</param>");
    EXPECT_EQ(cfg->ReadValue("a", "", ""), "<tag> &lt; &nbsp;");
    EXPECT_EQ(cfg->ReadValue("b", "", ""), " x");
}

TEST_F(XmlConfig, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    auto cfg = Load("<group name=\"Session\"><param name=\"DBFilename\">a.chm</param></group>");
    EXPECT_EQ(cfg->ReadValue("SESSION", "dbfilename", ""), "a.chm");
    cfg->WriteValue("session", "DBFILENAME", "b.chm");
    cfg->WriteValue("session", "New", "1");
    cfg->SaveFile();
    std::string file = LoadTextFile(Path());
    EXPECT_NE(file.find("<group name=\"Session\">"), std::string::npos);
    EXPECT_NE(file.find("<param name=\"DBFilename\">b.chm</param>"), std::string::npos);
    EXPECT_EQ(file.find("session"), std::string::npos);
}

TEST_F(XmlConfig, DotsInSectionsAndKeys) {
    TXMLConfig cfg(Path(), true);
    cfg.WriteValue("Options", "General.LangFile", "x.lng");
    EXPECT_EQ(cfg.ReadValue("Options.General", "LangFile", ""), "x.lng");
    EXPECT_EQ(cfg.ReadValue("Options.", "General.LangFile", ""), "x.lng");
    EXPECT_EQ(cfg.ReadValue(".Options", ".General.LangFile.", ""), "x.lng");
    TStringList list;
    cfg.ListSections(list);
    EXPECT_EQ(list, TStringList{"Options"});

    // Writing does not trim: the extra dot makes a group with an empty name.
    cfg.WriteValue("Options.", "General.LangFile", "y.lng");
    EXPECT_EQ(cfg.ReadValue("Options", "General.LangFile", ""), "x.lng");
    cfg.ListKeys("Options..General", list);
    EXPECT_EQ(list, TStringList{"LangFile"});
    EXPECT_NE(cfg.DocumentText().find(" <group name=\"\">"), std::string::npos);
    // The file with the nameless group loads again.
    cfg.SaveFile();
    auto again = Reopen();
    EXPECT_EQ(again->ReadValue("Options..General", "LangFile", ""), "y.lng");
    EXPECT_EQ(again->ReadValue("Options", "General.LangFile", ""), "x.lng");
}

TEST_F(XmlConfig, KeyBecomesGroupKeepingItsValue) {
    // Once for a key written in this session, once for one loaded from the file.
    for (bool loaded : {false, true}) {
        std::unique_ptr<TXMLConfig> cfg;
        if (loaded) {
            cfg = Load("<group name=\"A\"><param name=\"k\">old &lt;1&gt;</param><param name=\"z\">2</param></group>");
        } else {
            cfg = Reopen();
            cfg->WriteValue("A", "k", "old <1>");
            cfg->WriteValue("A", "z", "2");
        }
        cfg->SaveFile();
        cfg->WriteValue("A", "k.sub", "new");
        EXPECT_TRUE(cfg->Modified());
        EXPECT_EQ(cfg->ReadValue("A", "k", ""), "old <1>");
        EXPECT_EQ(cfg->ReadValue("A.k", "sub", ""), "new");
        TStringList list;
        cfg->ListKeys("A", list);
        EXPECT_EQ(list, TStringList{"z"});  // k is a group now
        cfg->ListKeys("A.k", list);
        EXPECT_EQ(list, (TStringList{"", "sub"}));
        cfg->SaveFile();
        std::string file = LoadTextFile(Path());
        // The group takes the key's place, before z.
        EXPECT_NE(file.find("<group name=\"A\">\r\n <group name=\"k\">\r\n  <param name=\"\">old &lt;1&gt;</param>\r\n"
                            "  <param name=\"sub\">new</param>\r\n </group>\r\n <param name=\"z\">2</param>"),
                  std::string::npos)
            << file;
        auto again = Reopen();
        EXPECT_EQ(again->ReadValue("A", "k", ""), "old <1>");
        EXPECT_EQ(again->ReadValue("A", "k.sub", ""), "new");
    }
}

TEST_F(XmlConfig, DeletedEntriesVanishEverywhere) {
    auto cfg = Load(
        "<group name=\"Keep\"><param name=\"a\">1</param><param name=\"b\">2</param></group>"
        "<group name=\"Gone\"><param name=\"c\">3</param><param name=\"d\">4</param></group>");
    cfg->DeleteEntry("Keep", "a");
    cfg->DeleteSection("Gone");
    EXPECT_TRUE(cfg->Modified());
    EXPECT_EQ(cfg->ReadValue("Keep", "a", "def"), "def");
    EXPECT_EQ(cfg->ReadValue("Gone", "c", "def"), "def");
    TStringList list;
    cfg->ListKeys("Keep", list);
    EXPECT_EQ(list, TStringList{"b"});
    cfg->ListKeyValues("Gone", list);
    EXPECT_TRUE(list.empty());
    cfg->ListSections(list);
    EXPECT_EQ(list, TStringList{"Keep"});
    cfg.reset();  // saved on destruction because it was modified
    std::string file = LoadTextFile(Path());
    EXPECT_EQ(file.find("Gone"), std::string::npos);
    EXPECT_EQ(file.find("\"a\""), std::string::npos);
    EXPECT_NE(file.find("<param name=\"b\">2</param>"), std::string::npos);
}

TEST_F(XmlConfig, WritingIntoDeletedGroupRevivesItEmpty) {
    auto cfg = Load("<group name=\"G\"><param name=\"old\">1</param><group name=\"sub\"></group></group>");
    cfg->DeleteSection("G");
    cfg->WriteValue("G", "new", "2");
    EXPECT_EQ(cfg->ReadValue("G", "new", ""), "2");
    EXPECT_EQ(cfg->ReadValue("G", "old", "def"), "def");
    TStringList list;
    cfg->ListSections(list);
    EXPECT_EQ(list, TStringList{"G"});
    cfg->WriteValue("G", "old", "3");  // a deleted key comes back with the new value
    cfg->ListKeyValues("G", list);
    EXPECT_EQ(list, (TStringList{"old=3", "new=2"}));
}

TEST_F(XmlConfig, NewEntriesFollowLoadedOnesAndDuplicatesSurvive) {
    auto cfg = Load(
        "<group name=\"G\"><param name=\"x\">1</param><param name=\"X\">2</param></group>"
        "<param name=\"\">nameless</param>");
    cfg->WriteValue("G", "b", "3");
    cfg->WriteValue("G", "a", "4");
    TStringList list;
    cfg->ListKeys("G", list);
    EXPECT_EQ(list, (TStringList{"x", "X", "b", "a"}));
    std::string v = cfg->ReadValue("G", "x", "");
    EXPECT_TRUE(v == "1" || v == "2");
    EXPECT_EQ(cfg->ReadValue("", "", ""), "nameless");
    cfg->SaveFile();
    std::string file = LoadTextFile(Path());
    EXPECT_NE(file.find("\"x\">1</param>\r\n <param name=\"X\">2</param>\r\n <param name=\"b\">3</param>\r\n"
                        " <param name=\"a\">4</param>"),
              std::string::npos)
        << file;
}

TEST_F(XmlConfig, TrailingTextIsIgnoredAndDroppedOnWrite) {
    dir_.Write("app.conf.xml", kHead + "<param name=\"a\">1</param></XMLConfig>\r\n<junk>");
    auto cfg = Reopen();
    EXPECT_EQ(cfg->ReadValue("a", "", ""), "1");
    cfg->SaveFile();
    EXPECT_EQ(LoadTextFile(Path()), kHead + "<param name=\"a\">1</param>\r\n</XMLConfig>");
}

TEST_F(XmlConfig, ParseErrorsGiveLineAndColumn) {
    const std::string decl = "<?xml version=\"1.0\" encoding=\"Windows-1252\" ?>\r\n";
    // Another code page: the difference is the last digit of "1252".
    EXPECT_EQ(ErrorOf("<?xml version=\"1.0\" encoding=\"Windows-1251\" ?>\r\n<XMLConfig><info>x</info></XMLConfig>"),
              Where("1:42"));
    EXPECT_EQ(ErrorOf(decl + "<xmlconfig><info>x</info></xmlconfig>"), Where("2:2"));
    EXPECT_EQ(ErrorOf(decl + "<XMLConfig><info></info></XMLConfig>"), Where("2:18"));
    EXPECT_EQ(ErrorOf(decl + "<XMLConfig><info>x</info>\r\n<param name=\"a\">1</parm>\r\n</XMLConfig>"),
              Where("3:21"));  // "</p" matched, then ">" expected
    EXPECT_EQ(ErrorOf(decl + "<XMLConfig><info>x</info>\r\n<group nam=\"g\"></group>\r\n</XMLConfig>"),
              Where("3:9"));  // "n" taken for the short attribute, then "=" expected
    EXPECT_EQ(ErrorOf(decl + "<XMLConfig><info>x</info>\r\n<!-- note -->\r\n</XMLConfig>"), Where("3:2"));
    // Cut short: the error is reported on the empty line after the end.
    EXPECT_EQ(ErrorOf(decl + "<XMLConfig><info>x</info>\r\n<param name=\"a\">1</param>\r\n"), Where("4:1"));
    EXPECT_EQ(ErrorOf(decl + "<XMLConfig><info>x</info>\r\n<param name=\"a\">1</param>"), Where("3:26"));
    EXPECT_EQ(ErrorOf(""), Where("0:0"));
}

TEST_F(XmlConfig, NamesWithQuotesAndAmpersandsRoundTrip) {
    {
        TXMLConfig cfg(Path(), true);
        cfg.WriteValue("Say \"x\" & y", "k\"ey", "v");
        cfg.SaveFile();
    }
    auto cfg = Reopen();
    EXPECT_EQ(cfg->ReadValue("Say \"x\" & y", "k\"ey", ""), "v");
    TStringList list;
    cfg->ListSections(list);
    EXPECT_EQ(list, TStringList{"Say \"x\" & y"});
}

TEST_F(XmlConfig, TypedValuesOfTheBase) {
    TXMLConfig cfg(Path(), true);
    cfg.WriteNumber("N", "dec", -12);
    cfg.WriteValue("N", "hex", "0x1F");
    cfg.WriteValue("N", "word", "yes");
    cfg.WriteFlag("N", "flag", true);
    EXPECT_EQ(cfg.ReadValue("N", "dec", ""), "-12");
    EXPECT_EQ(cfg.ReadNumber("N", "hex", 0), 31);
    EXPECT_EQ(cfg.ReadNumber("N", "word", 7), 7);
    EXPECT_TRUE(cfg.ReadFlag("N", "flag", false));
    EXPECT_TRUE(cfg.ReadFlag("N", "missing", true));
}

TEST_F(XmlConfig, CopySectionWritesFullDottedPaths) {
    auto cfg = Load(
        "<group name=\"Options\"><param name=\"Lang\">de</param>"
        "<group name=\"HHP\"><group name=\"Windows\"><group name=\"Main\"><param name=\"Home\">main.html</param>"
        "</group></group><param name=\"Title\">t</param><param name=\"Gone\">g</param></group></group>"
        "<group name=\"Session\"><param name=\"x\">1</param></group>");
    cfg->DeleteEntry("Options.HHP", "Gone");
    TMemIniFile target;
    TXMLConfig::CopySection(*cfg, target, "Options.HHP", "");
    EXPECT_EQ(target.ReadValue("Options.HHP.Windows.Main", "Home", ""), "main.html");
    EXPECT_EQ(target.ReadValue("Options.HHP", "Title", ""), "t");
    EXPECT_EQ(target.ReadValue("Options.HHP", "Gone", "none"), "none");
    EXPECT_EQ(target.ReadValue("Options", "Lang", "none"), "none");

    TMemIniFile prefixed;
    CopySection(*cfg, prefixed, "Options", "Copy");
    EXPECT_EQ(prefixed.ReadValue("Copy.Options", "Lang", ""), "de");
    EXPECT_EQ(prefixed.ReadValue("Copy.Options.HHP.Windows.Main", "Home", ""), "main.html");

    TMemIniFile nothing;
    CopySection(*cfg, nothing, "Missing", "");
    TStringList list;
    nothing.ListSections(list);
    EXPECT_TRUE(list.empty());

    // The same through the in-memory store, into an XML store.
    TXMLConfig copy(dir_ / "copy.xml", false);
    CopySection(target, copy, "Options.HHP", "");
    EXPECT_EQ(copy.ReadValue("Options.HHP.Windows.Main", "Home", ""), "main.html");
    EXPECT_EQ(copy.ReadValue("Options.HHP", "Title", ""), "t");
}

}  // namespace
