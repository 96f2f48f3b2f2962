#include "output/chm/chm_ini.h"

#include <gtest/gtest.h>

namespace {

TEST(ChmIniTest, WindowLineFieldsAndFlags) {
    TChmIni ini;
    ini.WriteValue("Options.HHP.Windows.Main", "BackButton", "1");
    ini.WriteValue("Options.HHP.Windows.Main", "PaneWidth", "200");
    EXPECT_EQ(ini.ProjectSections("x.html"), "[Windows]\r\nMain=,,,\"\",\"\",\"\",\"\",\"\",\"\",,200,0x4,,,,,,,,\r\n");

    // Only "1" sets a flag; flags of one field add up; texts go to their own fields.
    TChmIni flags;
    const std::string w = "Options.HHP.Windows.Help";
    flags.WriteValue(w, "NavigationPane", "0");
    flags.WriteValue(w, "AutoSync", "true");
    flags.WriteValue(w, "SearchInPane", "1");
    flags.WriteValue(w, "AutoShowHidePane", "1");
    flags.WriteValue(w, "MaximizeBox", "1");
    flags.WriteValue(w, "Border", "1");
    flags.WriteValue(w, "ContentsInPane", "temp.hhc");
    flags.WriteValue(w, "Position", "[10,20,300,400]");
    flags.WriteValue(w, "TabsPosition", "2");
    flags.WriteValue(w, "backbutton", "1");  // names are exact
    EXPECT_EQ(flags.ProjectSections(""),
              "[Windows]\r\nHelp=,temp.hhc,,\"\",\"\",\"\",\"\",\"\",\"\",0x401,,0x0,[10,20,300,400],0x810000,"
              ",,,,2,\r\n");
}

TEST(ChmIniTest, PathMapperAppliesToFileFieldsOnly) {
    TChmIni ini;
    ini.PathMapper = [](std::string_view name) { return "<" + std::string(name) + ">"; };
    const std::string w = "Options.HHP.Windows.Main";
    ini.WriteValue(w, "Default", "d");
    ini.WriteValue(w, "Home", "h");
    ini.WriteValue(w, "Jump1", "j1");
    ini.WriteValue(w, "Jump1Caption", "c1");
    ini.WriteValue(w, "Jump2", "j2");
    ini.WriteValue(w, "Jump2Caption", "c2");
    ini.WriteValue("Options.HHP.Windows.Second", "HomeButton", "1");
    EXPECT_EQ(ini.ProjectSections(""),
              "[Windows]\r\n"
              "Main=,,,\"<d>\",\"<h>\",\"<j1>\",\"c1\",\"<j2>\",\"c2\",,,0x0,,,,,,,,\r\n"
              "Second=,,,\"<>\",\"<>\",\"<>\",\"\",\"<>\",\"\",,,0x40,,,,,,,,\r\n");
}

TEST(ChmIniTest, OptionsSection) {
    TChmIni ini;
    EXPECT_EQ(ini.ProjectSections("main.html"), "");  // nothing below Options.HHP
    ini.WriteValue("Options.Preferences", "General.Debug", "1");
    EXPECT_EQ(ini.ProjectSections("main.html"), "");

    ini.PathMapper = [](std::string_view name) { return "mapped/" + std::string(name); };
    ini.WriteValue("Options.HHP.Options", "Title", "My CDs");
    ini.WriteValue("Options.HHP.Options", "Default topic", "");
    ini.WriteValue("Options.HHP.Options", "Full-text search", "Yes");
    EXPECT_EQ(ini.ProjectSections("first.html"),
              "\r\n[Options]\r\nTitle=My CDs\r\nDefault topic=mapped/first.html\r\nFull-text search=Yes\r\n");

    // A value of its own wins over the first entry's file; rewriting keeps the place.
    ini.WriteValue("Options.HHP.Options", "Default topic", "main.html");
    ini.WriteValue("Options.HHP.Options", "Title", "Other");
    EXPECT_EQ(ini.ProjectSections("first.html"),
              "\r\n[Options]\r\nTitle=Other\r\nDefault topic=mapped/main.html\r\nFull-text search=Yes\r\n");

    ini.WriteValue("Options.HHP.Windows.Main", "PaneWidth", "1");
    EXPECT_EQ(ini.ProjectSections("").rfind("[Windows]\r\nMain=", 0), 0u);
}

TEST(ChmIniTest, EveryReadIsRefused) {
    TChmIni ini;
    ini.WriteValue("A", "B", "1");
    TStringList list;
    try {
        ini.ReadValue("A", "B", "");
        FAIL() << "read allowed";
    } catch (const EMethodNotAllowed& e) {
        EXPECT_EQ(e.Message(), "");
    }
    EXPECT_THROW(ini.ReadNumber("A", "B", 0), EMethodNotAllowed);
    EXPECT_THROW(ini.ReadFlag("A", "B", false), EMethodNotAllowed);
    EXPECT_THROW(ini.ListKeys("A", list), EMethodNotAllowed);
    EXPECT_THROW(ini.ListSections(list), EMethodNotAllowed);
    EXPECT_THROW(ini.ListKeyValues("A", list), EMethodNotAllowed);
    EXPECT_THROW(ini.DeleteSection("A"), EMethodNotAllowed);
    EXPECT_THROW(ini.DeleteEntry("A", "B"), EMethodNotAllowed);
    EXPECT_NO_THROW(ini.SaveFile());
}

TEST(ChmIniTest, FindNodeWalksDottedPaths) {
    TChmIni ini;
    TChmTreeInternal* root = ini.Root.get();
    EXPECT_EQ(TChmIni::FindNode(root, "", false), root);
    EXPECT_EQ(TChmIni::FindNode(root, "A.B", false), nullptr);

    ini.WriteValue("A.B", "C", "1");
    ini.WriteNumber("A", "B.D", 42);
    ini.WriteFlag("A.B", "", true);  // a group's own value lives on its node
    TChmTreeInternal* b = TChmIni::FindNode(root, "A.B", false);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Value, "1");
    ASSERT_EQ(b->Count(), 2);
    EXPECT_EQ(b->Item(0)->Name, "C");
    EXPECT_EQ(b->Item(1)->Value, "42");
    EXPECT_EQ(TChmIni::FindNode(root, "a.B", false), nullptr);  // exact letter case
    EXPECT_EQ(TChmIni::FindNode(b, "D", false), b->Item(1));

    TChmTreeInternal* made = TChmIni::FindNode(root, "a.B", true);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(root->Count(), 2);
    EXPECT_EQ(made->Parent(), root->Item(1));
}

}  // namespace
