// Window translation: which texts of a window pass through the table.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "widgets/translate_form.h"
#include "app_test_util.h"
#include "base/shared_functions.h"
#include "test_util.h"

namespace {

std::string Entry(const std::string& english, const std::string& translated) {
    return HexEncode(Md5Digest(english)) + "=" + translated + "\n";
}

TEST(TranslateFormTest, TitlesCaptionsAndHintsOfEveryOwnedWidget) {
    TestApp();
    FreshConfig();
    TempDir dir;
    const std::string long101(101, 'a');
    const std::string long100(100, 'b');
    const std::string lng =
        dir.Write("t.lng", "[Messages]\n" + Entry("Orvalis", "Orvalis DE") + Entry("&Exit", "&Beenden") +
                               Entry("Tip", "Hinweis") + Entry("Options", "Optionen") + Entry("Keep", "Behalten") +
                               Entry("typed", "getippt") + Entry(long101, "short") + Entry(long100, "hundred") +
                               Entry("Deep", "Tief"));
    SetAppLanguage(std::make_unique<TLanguage>(lng));

    QWidget window;
    window.setWindowTitle("Orvalis");
    QPushButton exitButton("&Exit", &window);
    exitButton.setToolTip("Tip");
    QGroupBox group("Options", &window);
    QCheckBox keep("Keep", &group);
    QLabel deep("Deep", &keep);  // owned two levels down
    QLineEdit edit("typed", &window);
    QLabel tooLong(QString::fromStdString(long101), &window);
    QLabel justFits(QString::fromStdString(long100), &window);
    QLabel unknown("Not in the table", &window);

    TranslateForm(&window);
    EXPECT_EQ(window.windowTitle(), "Orvalis DE");
    EXPECT_EQ(exitButton.text(), "&Beenden");
    EXPECT_EQ(exitButton.toolTip(), "Hinweis");
    EXPECT_EQ(group.title(), "Optionen");
    EXPECT_EQ(keep.text(), "Behalten");
    EXPECT_EQ(deep.text(), "Tief");
    EXPECT_EQ(edit.text(), "typed");  // contents are data, not captions
    EXPECT_EQ(tooLong.text().toStdString(), long101);
    EXPECT_EQ(justFits.text(), "hundred");
    EXPECT_EQ(unknown.text(), "Not in the table");
    SetAppLanguage(nullptr);
}

TEST(TranslateFormTest, WithoutTableNothingChanges) {
    TestApp();
    FreshConfig();
    SetAppLanguage(nullptr);
    QWidget window;
    window.setWindowTitle("Orvalis");
    QPushButton b("$1 files", &window);
    TranslateForm(&window);
    EXPECT_EQ(b.text(), "$1 files");
    EXPECT_EQ(TranslateCaption(""), "");
}

}  // namespace
