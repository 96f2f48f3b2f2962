// The message box operation: accepted button sets, icons, results, and the
// Qt box that shows them.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/qt_message_box.h"
#include "app_test_util.h"
#include "services/message_box.h"

namespace {

class MessageBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        FreshConfig();
        old_ = SetMessageBoxPresenter(nullptr);
    }
    void TearDown() override { SetMessageBoxPresenter(old_); }
    TMessageBoxPresenter old_;
};

TEST_F(MessageBoxTest, OnlyTheSixButtonSetsAreAccepted) {
    std::vector<TButtonLayout> seen;
    SetMessageBoxPresenter([&](const std::string&, TMessageIcon, TButtonLayout layout) {
        seen.push_back(layout);
        return mrOk;
    });
    for (int set : {3, 4, 11, 12, 40, 112}) EXPECT_EQ(ShowMessageBox("x", mtWarning, set), mrOk) << set;
    EXPECT_EQ(seen, (std::vector<TButtonLayout>{TButtonLayout::YesNo, TButtonLayout::Ok, TButtonLayout::YesNoCancel,
                                                TButtonLayout::OkCancel, TButtonLayout::RetryCancel,
                                                TButtonLayout::AbortRetryIgnore}));
    for (int set : {0, 1, 2, 6, 8, 16, 48, 113, 127}) {
        try {
            ShowMessageBox("x", mtWarning, set);
            ADD_FAILURE() << "set " << set << " was accepted";
        } catch (const EMessageBoxError& e) {
            EXPECT_EQ(e.Message(), "Dialog not support");
        }
    }
    EXPECT_EQ(seen.size(), 6u);  // nothing shown for a refused set
}

TEST_F(MessageBoxTest, KindsAndResults) {
    EXPECT_EQ(IconForKind(0), TMessageIcon::Warning);
    EXPECT_EQ(IconForKind(1), TMessageIcon::Error);
    EXPECT_EQ(IconForKind(2), TMessageIcon::Information);
    EXPECT_EQ(IconForKind(3), TMessageIcon::Question);
    EXPECT_EQ(IconForKind(4), TMessageIcon::None);
    EXPECT_EQ(IconForKind(-1), TMessageIcon::None);

    int answer = 0;
    SetMessageBoxPresenter([&](const std::string&, TMessageIcon, TButtonLayout) { return answer; });
    for (answer = 1; answer <= 7; ++answer) EXPECT_EQ(ShowMessageBox("x", mtError, mbOK), answer);
    answer = 8;
    EXPECT_EQ(ShowMessageBox("x", mtError, mbOK), mrNone);
    SetMessageBoxPresenter(nullptr);
    EXPECT_EQ(ShowMessageBox("x", mtError, mbOK), mrNone);
}

// Presses the button with the given role on the box once it is up.
void PressWhenShown(QMessageBox::StandardButton which, QMessageBox::Icon* icon, QString* title) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *icon = box->icon();
        *title = box->windowTitle();
        ASSERT_NE(box->button(which), nullptr);
        EXPECT_EQ(box->buttons().size(), 2);
        box->button(which)->click();
    });
}

TEST_F(MessageBoxTest, QtBoxAsksYesOrNoWithQuestionIcon) {
    InstallQtMessageBoxPresenter();
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    PressWhenShown(QMessageBox::Yes, &icon, &title);
    EXPECT_EQ(ShowMessageBox("Overwrite?", mtConfirmation, mbYes | mbNo), mrYes);
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(title, "Brennick Orvalis");
    PressWhenShown(QMessageBox::No, &icon, &title);
    EXPECT_EQ(ShowMessageBox("Overwrite?", mtConfirmation, mbYes | mbNo), mrNo);
    PressWhenShown(QMessageBox::Retry, &icon, &title);
    EXPECT_EQ(ShowMessageBox("Again?", mtError, mbCancel | mbRetry), mrRetry);
    EXPECT_EQ(icon, QMessageBox::Critical);
}

}  // namespace
