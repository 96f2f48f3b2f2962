// The output settings page: what it reads from and stores in "Session".
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/output_page.h"
#include "app_test_util.h"
#include "test_util.h"

namespace {

class OutputPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        FreshConfig();
        // The documents folder comes from here, not from the user's own setup.
        setenv("HOME", home.Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    }
    std::string Read(const char* key) { return AppConfiger()->ReadString("Session", key); }
    void Write(const char* key, const std::string& value) { AppConfiger()->WriteString("Session", key, value); }

    TempDir home;
};

TEST_F(OutputPageTest, FirstStartShowsDefaultsAndStoresThemOnlyOnRequest) {
    home.Write("config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    TTuner page;
    EXPECT_EQ(page.PlaceToComboBox()->currentText(), "Place to the desktop");
    EXPECT_EQ(page.FilenameEdit()->text().toStdString(), home / "Papers/orvalis.chm");
    EXPECT_FALSE(page.FilenameEdit()->isEnabled());
    EXPECT_FALSE(page.SelectButton()->isEnabled());
    EXPECT_FALSE(page.OpenAfterCompil()->isChecked());
    EXPECT_EQ(Read("DBFilename"), "");  // shown, not stored

    page.StoreSettings();
    EXPECT_EQ(Read("PlaceTo"), "1");
    EXPECT_EQ(Read("DBFilename"), home / "Papers/orvalis.chm");
    EXPECT_EQ(Read("OpenAfterCompil"), "0");
}

TEST_F(OutputPageTest, CustomPlaceEnablesFileControlsAndIsStoredAsZero) {
    TTuner page;
    for (int i = 0; i < 3; ++i) {
        page.PlaceToComboBox()->setCurrentIndex(i);
        EXPECT_FALSE(page.FilenameEdit()->isEnabled()) << i;
        EXPECT_FALSE(page.SelectButton()->isEnabled()) << i;
    }
    page.PlaceToComboBox()->setCurrentIndex(3);
    EXPECT_TRUE(page.FilenameEdit()->isEnabled());
    EXPECT_TRUE(page.SelectButton()->isEnabled());
    page.OpenAfterCompil()->setChecked(true);
    page.StoreSettings();
    EXPECT_EQ(Read("PlaceTo"), "0");
    EXPECT_EQ(Read("OpenAfterCompil"), "1");

    TTuner next;  // the next start opens on the custom place again
    EXPECT_EQ(next.PlaceToComboBox()->currentIndex(), 3);
    EXPECT_TRUE(next.OpenAfterCompil()->isChecked());
    EXPECT_TRUE(next.FilenameEdit()->isEnabled());
}

TEST_F(OutputPageTest, ChmExtensionRule) {
    TTuner page;
    const std::pair<const char*, const char*> cases[] = {
        {"/out/music.CHM", "/out/music.CHM"},
        {"/out/music.htm", "/out/music.htm.chm"},
        {"/out/music", "/out/music.chm"},
        {"/out.d/music", "/out.d/music.chm"},
        {"", ".chm"},
        {"/out/music.chm.bak", "/out/music.chm.bak.chm"},
    };
    for (const auto& [typed, stored] : cases) {
        page.FilenameEdit()->setText(typed);
        page.StoreSettings();
        EXPECT_EQ(Read("DBFilename"), stored) << typed;
        EXPECT_EQ(page.FilenameEdit()->text().toStdString(), stored) << typed;
    }
}

TEST_F(OutputPageTest, StoredPlaceValues) {
    const std::tuple<const char*, int, const char*> cases[] = {
        // stored, selected index, stored again
        {"", 0, "1"},   {"abc", 0, "1"}, {"2", 1, "2"},  {"3", 2, "3"},   {"0", 3, "0"},
        {"-5", 3, "0"}, {"4", 3, "0"},   {"9", -1, "0"}, {"0x2", 1, "2"},
    };
    for (const auto& [stored, index, again] : cases) {
        Write("PlaceTo", stored);
        TTuner page;
        EXPECT_EQ(page.PlaceToComboBox()->currentIndex(), index) << stored;
        if (index < 0) {
            EXPECT_FALSE(page.FilenameEdit()->isEnabled());
            EXPECT_FALSE(page.SelectButton()->isEnabled());
        }
        page.StoreSettings();
        EXPECT_EQ(Read("PlaceTo"), again) << stored;
    }
}

TEST_F(OutputPageTest, SelectStoresWhetherOrNotConfirmed) {
    Write("PlaceTo", "0");
    Write("DBFilename", "/music/old.chm");
    TTuner page;
    std::string offered;
    page.RunSaveDialog = [&](QWidget*, std::string& name) {
        offered = name;
        return false;
    };
    page.FilenameEdit()->setText("/music/typed");
    page.SelectButton()->click();
    EXPECT_EQ(offered, "/music/typed");
    EXPECT_EQ(Read("DBFilename"), "/music/typed.chm");

    page.RunSaveDialog = [&](QWidget*, std::string& name) {
        name = "/elsewhere/catalogue.txt";
        return true;
    };
    page.SelectButton()->click();
    EXPECT_EQ(page.FilenameEdit()->text(), "/elsewhere/catalogue.txt.chm");
    EXPECT_EQ(Read("DBFilename"), "/elsewhere/catalogue.txt.chm");
}

TEST_F(OutputPageTest, WebPagesKeepAFolderOfTheirOwn) {
    Write("DBFilename", "/music/cat.chm");
    Write("PlaceTo", "0");
    TTuner page;
    EXPECT_EQ(page.OutputKind(), TOutputKind::CompiledHelp);
    page.OutputKindComboBox()->setCurrentIndex(1);
    EXPECT_EQ(page.OutputKind(), TOutputKind::WebPages);
    EXPECT_EQ(page.FilenameEdit()->text().toStdString(), home / "Documents/Orvalis");
    EXPECT_EQ(page.FilenameLabel()->text(), "Folder for the web pages");
    EXPECT_NE(page.TargetLabel()->text().toStdString().find("folder: " + home / "Documents/Orvalis"),
              std::string::npos)
        << page.TargetLabel()->text().toStdString();

    // Each kind keeps its own name while the user switches.
    page.FilenameEdit()->setText("/sites/music");
    page.OutputKindComboBox()->setCurrentIndex(0);
    EXPECT_EQ(page.FilenameEdit()->text().toStdString(), "/music/cat.chm");
    EXPECT_EQ(page.FilenameLabel()->text(), "Filename for database");
    page.OutputKindComboBox()->setCurrentIndex(1);
    EXPECT_EQ(page.FilenameEdit()->text().toStdString(), "/sites/music");
    EXPECT_EQ(page.Destination().Path, "/sites/music");
    page.StoreSettings();
    EXPECT_EQ(Read("OutputKind"), "html");
    EXPECT_EQ(Read("SiteFolder"), "/sites/music");
    EXPECT_EQ(Read("DBFilename"), "/music/cat.chm");

    // A fixed place writes its own folder there.
    page.PlaceToComboBox()->setCurrentIndex(0);
    EXPECT_EQ(page.Destination().Path, home / "Desktop/Orvalis");
    EXPECT_NE(page.TargetLabel()->text().toStdString().find(home / "Desktop/Orvalis"), std::string::npos);

    TTuner next;  // comes back as it was stored; Select asks for a folder
    EXPECT_EQ(next.OutputKind(), TOutputKind::WebPages);
    EXPECT_EQ(next.FilenameEdit()->text().toStdString(), "/sites/music");
    next.RunSaveDialog = [](QWidget*, std::string&) {
        ADD_FAILURE() << "a site is a folder";
        return false;
    };
    next.RunFolderDialog = [](QWidget*, std::string& folder) {
        EXPECT_EQ(folder, "/sites/music");
        folder = "/chosen";
        return true;
    };
    next.SelectButton()->click();
    EXPECT_EQ(next.FilenameEdit()->text().toStdString(), "/chosen");
    EXPECT_EQ(Read("SiteFolder"), "/chosen");
}

}  // namespace

TEST(OutputPageTarget, NamesTheFileTheRunWillWrite) {
    TestApp();
    FreshConfig();
    TempDir home;
    setenv("HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    TTuner page;
    page.PlaceToComboBox()->setCurrentIndex(0);
    // The greyed file name is not where a standard place writes.
    EXPECT_NE(page.TargetLabel()->text().toStdString().find(home / "Desktop/Orvalis.chm"), std::string::npos)
        << page.TargetLabel()->text().toStdString();
    page.PlaceToComboBox()->setCurrentIndex(3);
    page.FilenameEdit()->setText(QString::fromStdString(home / "mine"));
    EXPECT_NE(page.TargetLabel()->text().toStdString().find(home / "mine.chm"), std::string::npos)
        << page.TargetLabel()->text().toStdString();
}
