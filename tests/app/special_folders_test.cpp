// Where placed databases go: the XDG user folders and their fallbacks.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/special_folders.h"
#include "test_util.h"

namespace {

class SpecialFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("HOME", home.Path().c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_DATA_HOME");
    }
    TempDir home;
};

TEST_F(SpecialFoldersTest, FallbacksWithoutUserDirsFile) {
    EXPECT_EQ(DesktopFolder(), home / "Desktop");
    EXPECT_EQ(DocumentsFolder(), home / "Documents");
    EXPECT_EQ(QuickLaunchFolder(), home / ".local/share/orvalis/quicklaunch");
    EXPECT_EQ(PlaceFolder(1), DesktopFolder());
    EXPECT_EQ(PlaceFolder(2), DocumentsFolder());
    EXPECT_EQ(PlaceFolder(3), QuickLaunchFolder());
    EXPECT_EQ(PlaceFolder(0), "");
    EXPECT_EQ(PlaceFolder(4), "");
}

TEST_F(SpecialFoldersTest, UserDirsFileIsFollowed) {
    home.Write(".config/user-dirs.dirs",
               "# written by xdg-user-dirs-update\n"
               "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\n"
               "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n"
               "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
               "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
    EXPECT_EQ(DesktopFolder(), home / "Schreibtisch");
    EXPECT_EQ(DocumentsFolder(), home / "Dokumente");  // the last assignment wins

    // Forms the file may not hold are ignored, leaving the fallback.
    home.Write(".config/user-dirs.dirs", "XDG_DESKTOP_DIR=relative/path\nXDG_DOCUMENTS_DIR=\"$HOMEX/a\"\n");
    EXPECT_EQ(DesktopFolder(), home / "Desktop");
    EXPECT_EQ(DocumentsFolder(), home / "Documents");
}

TEST_F(SpecialFoldersTest, XdgVariablesMoveConfigAndData) {
    home.Write("cfg/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desk\"\n");
    setenv("XDG_CONFIG_HOME", (home / "cfg").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data/").c_str(), 1);
    EXPECT_EQ(DesktopFolder(), home / "Desk");
    EXPECT_EQ(QuickLaunchFolder(), home / "data/orvalis/quicklaunch");
}

}  // namespace
