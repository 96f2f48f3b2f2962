#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

#include "report/zip_peek.h"
#include "orvalis_version.h"
#include "report/error_history.h"
#include "report/gui/exception_dialog.h"
#include "test_util.h"

namespace {

ORVALIS_DECLARE_ERROR(EDiskFull, Exception);

QApplication& App() {
    static int argc = 1;
    static char name[] = "test_reportgui";
    static char* argv[] = {name, nullptr};
    static TErrorReportingApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brennick Orvalis"));
    return app;
}

// Calls step from the event loop every 10 ms until it returns true. Steps
// run while modal windows have their own loops.
class Repeater {
public:
    explicit Repeater(std::function<bool()> step) : step_(std::move(step)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (step_()) timer_.stop();
        });
        timer_.start(10);
    }

private:
    std::function<bool()> step_;
    QTimer timer_;
};

// Closes every plain message box that appears and keeps its text.
class BoxCloser {
public:
    BoxCloser()
        : repeater_([this] {
              for (QWidget* w : QApplication::topLevelWidgets()) {
                  auto* box = qobject_cast<QMessageBox*>(w);
                  if (!box || !box->isVisible() || handled_.contains(box)) continue;
                  handled_.append(box);
                  texts.push_back(box->text().toStdString());
                  box->done(0);
              }
              return false;
          }) {}
    std::vector<std::string> texts;

private:
    QList<QObject*> handled_;
    Repeater repeater_;
};

std::vector<TExceptionDialog*> OpenDialogs() {
    std::vector<TExceptionDialog*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<TExceptionDialog*>(w); d && d->isVisible()) found.push_back(d);
    return found;
}

// Raises an error from its event handler, as a broken window would.
class Thrower : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw EDiskFull("The disk is full");
        return QObject::event(e);
    }
};

// Runs the application's loop until body (started from it) returns. After
// 20 s every dialog still open is closed, so a fault fails the test
// instead of hanging it.
void RunInLoop(const std::function<void()>& body) {
    QEventLoop loop;
    bool timedOut = false;
    QTimer::singleShot(0, [&] {
        body();
        loop.quit();
    });
    QTimer failSafe;
    failSafe.setSingleShot(true);
    QObject::connect(&failSafe, &QTimer::timeout, [&] {
        timedOut = true;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
        failSafe.start(100);  // again, for whatever the closing brought up
    });
    failSafe.start(20000);
    loop.exec();
    EXPECT_FALSE(timedOut) << "dialogs were still open after 20 s";
}

// Processes events until done() holds or 10 s have passed.
void WaitUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Sends the error-raising event through the application's dispatching.
void RaiseInHandler(Thrower& thrower) {
    QEvent ev(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &ev);
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        history_ = dir_ / "error.history";
        SetErrorHistoryFileName(history_);
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        ForceFolders("", dir_ / "bin", false);
        ::setenv("PATH", (dir_ / "bin").c_str(), 1);
        // The copy a mail attaches stays for the mail program; here it goes with dir_.
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        savedRuntime_ = runtime ? std::optional<std::string>(runtime) : std::nullopt;
        ForceFolders("", dir_ / "run", false);
        ::setenv("XDG_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", savedPath_.c_str(), 1);
        if (savedRuntime_)
            ::setenv("XDG_RUNTIME_DIR", savedRuntime_->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        SetErrorHistoryFileName("");
        ReportShowing = false;
    }

    TempDir dir_;
    std::string history_, savedPath_;
    std::optional<std::string> savedRuntime_;
};

TErrorInfo SampleError(const std::string& message) {
    TErrorInfo info;
    info.className = "EDiskFull";
    info.message = message;
    info.address = 0x401A2B;
    return info;
}

}  // namespace

TEST_F(DialogTest, ControlsLayoutAndMessage) {
    TExceptionDialog dialog(SampleError("The disk is full"), {});
    EXPECT_EQ(dialog.windowTitle(), "Brennick Orvalis - application error");
    auto* text = dialog.findChild<QPlainTextEdit*>("TextLabel");
    auto* memo = dialog.findChild<QPlainTextEdit*>("DetailsMemo");
    auto* send = dialog.findChild<QPushButton*>("SendButton");
    auto* ok = dialog.findChild<QPushButton*>("OkBtn");
    auto* icon = dialog.findChild<QLabel*>("ErrorIcon");
    ASSERT_TRUE(text && memo && send && ok && icon && dialog.findChild<QLabel*>("Label1"));

    EXPECT_EQ(text->toPlainText(), "The disk is full.");
    EXPECT_EQ(dialog.MessageText(), "The disk is full.");
    // The icon sits whole inside the window, left of the message.
    EXPECT_GE(icon->geometry().left(), 0);
    EXPECT_LE(icon->geometry().right(), text->geometry().left());
    EXPECT_TRUE(send->isDefault());
    EXPECT_EQ(send->text(), "Bug report");
    EXPECT_EQ(ok->text(), "OK");

    // Only the part above the details is shown; the memo still has block 1.
    EXPECT_EQ(dialog.height(), 91);
    EXPECT_EQ(dialog.minimumHeight(), 91);
    EXPECT_EQ(dialog.maximumHeight(), 91);
    EXPECT_EQ(dialog.minimumWidth(), 200);
    EXPECT_FALSE(memo->isEnabled());
    EXPECT_TRUE(memo->isHidden());
    EXPECT_EQ(memo->toPlainText().toStdString(),
              "Exception class: EDiskFull\nException address: " + std::string(sizeof(void*) * 2 - 6, '0') + "401A2B\n" +
                  std::string(100, '-'));
    EXPECT_FALSE(dialog.DetailsBuilt());

    // The icon sits left of the message, tops aligned.
    EXPECT_LT(icon->geometry().right(), text->x());
    EXPECT_EQ(icon->y(), text->y());

    // Widening moves the buttons with the right edge and stretches the message.
    dialog.show();
    QApplication::processEvents();
    const int buttonGap = dialog.width() - ok->geometry().right();
    const int textWidth = text->width();
    dialog.resize(dialog.width() + 60, dialog.height());
    QApplication::processEvents();
    EXPECT_EQ(dialog.width() - ok->geometry().right(), buttonGap);
    EXPECT_EQ(send->x(), ok->x());
    EXPECT_GT(text->width(), textWidth);
    EXPECT_LT(text->geometry().right(), ok->x());

    dialog.hide();
    TExceptionDialog done(SampleError("Nothing to do."), {});
    EXPECT_EQ(done.findChild<QPlainTextEdit*>("TextLabel")->toPlainText(), "Nothing to do.");
}

TEST_F(DialogTest, MessageScrollBarOnlyWhenLinesDoNotFit) {
    TExceptionDialog shortOne(SampleError("Short"), {});
    shortOne.show();
    EXPECT_EQ(shortOne.findChild<QPlainTextEdit*>("TextLabel")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    shortOne.hide();
    TExceptionDialog longOne(SampleError("one\ntwo\nthree\nfour\nfive\nsix\nseven"), {});
    longOne.show();
    EXPECT_EQ(longOne.findChild<QPlainTextEdit*>("TextLabel")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    longOne.hide();
}

TEST_F(DialogTest, ActiveControlChainUpToTheWindow) {
    QWidget window;
    window.setObjectName("MainForm");
    QWidget panel(&window);
    panel.setObjectName("ButtonPanel");
    QPushButton next(&panel);
    next.setObjectName("NextButton");
    EXPECT_EQ(ActiveControlChain(&next),
              (TStringList{"QPushButton \"NextButton\"", "QWidget \"ButtonPanel\"", "QWidget \"MainForm\""}));
    EXPECT_TRUE(ActiveControlChain(nullptr).empty());
}

TEST_F(DialogTest, UnhandledErrorShowsOneDialogAndStoresTheReport) {
    Thrower thrower;
    BoxCloser boxes;
    std::string details, member;
    size_t dialogsWhileOpen = 0;
    bool checked = false;
    Repeater driver([&] {
        auto open = OpenDialogs();
        if (open.size() != 1 || !open[0]->DetailsBuilt()) return false;
        TExceptionDialog* dialog = open[0];
        details = dialog->findChild<QPlainTextEdit*>("DetailsMemo")->toPlainText().toStdString();
        member = dialog->HistoryMember();
        // A second error while the report is open goes to the plain box.
        RaiseInHandler(thrower);
        dialogsWhileOpen = OpenDialogs().size();
        checked = true;
        dialog->reject();
        return true;
    });
    RunInLoop([&] { RaiseInHandler(thrower); });

    ASSERT_TRUE(checked);
    EXPECT_EQ(dialogsWhileOpen, 1u);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "The disk is full.");
    EXPECT_FALSE(ReportShowing);
    EXPECT_TRUE(OpenDialogs().empty());

    // The whole report reached the memo, with the screen Qt reports.
    EXPECT_EQ(details.rfind("Exception class: EDiskFull\nException address: ", 0), 0u) << details;
    EXPECT_EQ(details.find("Exception address: " + std::string(sizeof(void*) * 2, '0')), std::string::npos);
    EXPECT_NE(details.find("\nStack list, generated "), std::string::npos);
    EXPECT_NE(details.find("\nDisplay  : "), std::string::npos);
    EXPECT_EQ(details.find("no display"), std::string::npos);
    EXPECT_NE(details.find("\nList of loaded modules:\n"), std::string::npos);

    // And the history holds it, under the name the dialog gave.
    auto members = ReadZip(history_);
    ASSERT_EQ(members.size(), 1u);
    ASSERT_EQ(members.begin()->first, member);
    std::string stored = members.begin()->second.text;
    EXPECT_EQ(stored.rfind("Brennick Orvalis  Ver." ORVALIS_VERSION
                           "\r\n\r\nThe disk is full.\r\n\r\n\r\nException class: EDiskFull\r\n",
                           0),
              0u);
    ReplaceAll(stored, "\r\n", "\n", true);
    EXPECT_NE(stored.find(details), std::string::npos);
}

TEST_F(DialogTest, HistoryFailureGoesToThePlainBoxAndTheDialogStays) {
    dir_.Write("blocker", "a file where a folder should be");
    SetErrorHistoryFileName(dir_ / "blocker/error.history");
    BoxCloser boxes;
    bool stillOpen = false;
    Repeater driver([&] {
        auto open = OpenDialogs();
        if (open.size() != 1 || !open[0]->DetailsBuilt() || boxes.texts.empty()) return false;
        stillOpen = open[0]->isVisible() && open[0]->HistoryMember().empty();
        open[0]->reject();
        return true;
    });
    RunInLoop([] { AppErrorHook(std::make_exception_ptr(EDiskFull("Broken"))); });
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_NE(boxes.texts[0].find("error.history"), std::string::npos) << boxes.texts[0];
}

namespace {

// Receives the "mailto:" links the dialog opens.
class MailtoCatcher : public QObject {
    Q_OBJECT
public:
    std::vector<std::string> urls;
public slots:
    void openUrl(const QUrl& url) { urls.push_back(url.toString().toStdString()); }
};

}  // namespace

TEST_F(DialogTest, FailedSendTellsToSendByHandAndOpensAMail) {
    MailtoCatcher catcher;
    QDesktopServices::setUrlHandler("mailto", &catcher, "openUrl");
    BoxCloser boxes;
    bool clicked = false;
    Repeater driver([&] {
        auto open = OpenDialogs();
        if (open.size() != 1 || !open[0]->DetailsBuilt()) return false;
        open[0]->findChild<QPushButton*>("SendButton")->click();  // no mail program on PATH
        clicked = open[0]->isVisible();                           // the dialog stays open
        open[0]->reject();
        return true;
    });
    RunInLoop([] { AppErrorHook(std::make_exception_ptr(EDiskFull("Broken"))); });
    QDesktopServices::unsetUrlHandler("mailto");

    EXPECT_TRUE(clicked);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0],
              "Cannot send the message automatically. \n"
              "Please send the file \"error.history\" to the authors (support@orvalis.example)\n" +
                  history_);
    EXPECT_EQ(catcher.urls, std::vector<std::string>{"mailto:support@orvalis.example"});
    EXPECT_EQ(ReadZip(history_).size(), 1u);  // kept for sending by hand
}

TEST_F(DialogTest, SuccessfulSendDeletesTheHistory) {
    std::string script = dir_.Write("bin/xdg-email", "#!/bin/sh\nexit 0\n");
    ::chmod(script.c_str(), 0755);
    BoxCloser boxes;
    bool deleted = false;
    Repeater driver([&] {
        auto open = OpenDialogs();
        if (open.size() != 1 || !open[0]->DetailsBuilt()) return false;
        bool existed = FileExists(history_);
        open[0]->findChild<QPushButton*>("SendButton")->click();
        deleted = existed && !FileExists(history_);
        open[0]->reject();
        return true;
    });
    RunInLoop([] { AppErrorHook(std::make_exception_ptr(EDiskFull("Broken"))); });
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(DialogTest, WorkerThreadErrorIsReportedOnTheMainThread) {
    TErrorInfo handed;
    std::thread worker([&handed] {
        try {
            throw EDiskFull("Worker failed");
        } catch (...) {
            handed = CaptureThreadError();
        }
    });
    worker.join();
    std::string first;
    Repeater driver([&] {
        auto open = OpenDialogs();
        if (open.size() != 1 || !open[0]->DetailsBuilt()) return false;
        first = open[0]->DetailLines().at(1);
        open[0]->reject();
        return true;
    });
    RunInLoop([&] {
        // Handed over from another thread, it is queued to this one.
        std::thread([handed] { ThreadErrorHook(handed); }).join();
        WaitUntil([&] { return !first.empty(); });
    });
    EXPECT_EQ(first.rfind("Thread: ID ", 0), 0u) << first;
}

#include "exception_dialog_test.moc"
