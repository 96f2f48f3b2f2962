// The application shell: the loop ends when the main window has closed, the
// finish hook runs once after that, and a refused close keeps it running.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "app/app_shell.h"
#include "app_test_util.h"

namespace {

TEST(AppShellTest, FinishRunsOnceAfterTheWindowClosed) {
    TestApp();
    QWidget window;
    window.show();
    std::vector<std::string> events;
    TShellHandlers h;
    h.OnStart = [&] { events.push_back("start"); };
    h.OnFinish = [&] { events.push_back(window.isVisible() ? "finish while visible" : "finish"); };
    h.OnCloseQuery = [&](QObject* sender, bool& canClose) {
        EXPECT_EQ(sender, &window);
        EXPECT_TRUE(canClose);
        events.push_back("query");
    };
    int idles = 0;
    h.OnIdle = [&] { ++idles; };
    TAppShell shell(&window, h);
    QTimer::singleShot(10, &window, [&] { window.close(); });
    shell.Run();
    EXPECT_TRUE(shell.Ending());
    EXPECT_EQ(events, (std::vector<std::string>{"start", "query", "finish"}));
    EXPECT_GT(idles, 0);
    EXPECT_FALSE(window.isVisible());
}

TEST(AppShellTest, RefusedCloseKeepsWindowAndLoop) {
    TestApp();
    QWidget window;
    window.show();
    int queries = 0, finishes = 0;
    TShellHandlers h;
    h.OnFinish = [&] { ++finishes; };
    h.OnCloseQuery = [&](QObject*, bool& canClose) { canClose = ++queries > 1; };
    TAppShell shell(&window, h);
    QTimer::singleShot(10, &window, [&] {
        window.close();
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(shell.Ending());
        EXPECT_EQ(finishes, 0);
        window.close();
    });
    shell.Run();
    EXPECT_EQ(queries, 2);
    EXPECT_EQ(finishes, 1);
}

TEST(AppShellTest, WindowClosedDuringLongHandlerFinishesAfterIt) {
    TestApp();
    QWidget window;
    window.show();
    std::vector<std::string> events;
    TShellHandlers h;
    h.OnFinish = [&] { events.push_back("finish"); };
    TAppShell shell(&window, h);
    // A handler that keeps working while events (here the close) are handled.
    QTimer::singleShot(10, &window, [&] {
        QTimer::singleShot(0, &window, [&] { window.close(); });
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
        events.push_back(window.isVisible() ? "run ended, visible" : "run ended");
    });
    shell.Run();
    EXPECT_EQ(events, (std::vector<std::string>{"run ended", "finish"}));
}

TEST(AppShellTest, WithoutHooksOnlyRunsUntilClosed) {
    TestApp();
    QWidget window;
    window.show();
    TAppShell shell(&window, {});
    QTimer::singleShot(10, &window, [&] { window.close(); });
    EXPECT_EQ(shell.Run(), 0);
}

// A stop asked for while a message is open (the finished dialog, a
// question) must not wait for somebody to answer it: the message goes, and
// the window can close once no modal dialog is left.
TEST(AppShellTest, ModalMessagesAreDismissedSoTheWindowCanClose) {
    TestApp();
    QWidget window;
    window.show();
    EXPECT_TRUE(DismissModalWindows());
    // No escape button: closing alone would be refused.
    QMessageBox box(QMessageBox::Information, "Done", "The catalogue is ready.", QMessageBox::NoButton, &window);
    box.addButton("Open", QMessageBox::AcceptRole);
    box.addButton("Show in folder", QMessageBox::AcceptRole);
    bool dismissed = false, empty = false;
    QTimer::singleShot(20, &window, [&] {
        dismissed = !DismissModalWindows();
        QTimer::singleShot(0, &window, [&] { empty = DismissModalWindows(); });
    });
    QTimer::singleShot(3000, &box, [&] { box.done(1234); });  // a way out should the dismissal fail
    const int answer = box.exec();
    EXPECT_TRUE(dismissed);
    EXPECT_EQ(answer, QDialog::Rejected);
    QApplication::processEvents();
    EXPECT_TRUE(empty);
}

}  // namespace
