#pragma once
// The application shell: runs the event loop for the main window with start,
// idle and finish hooks, and owns the window's close handling so that the
// program's state is saved after the window has closed and before the end.
#include <QObject>
#include <QPointer>
#include <functional>

class QEventLoop;
class QWidget;

struct TShellHandlers {
    std::function<void()> OnStart;
    std::function<void()> OnFinish;
    std::function<void()> OnIdle;
    // Called with CanClose already true; may refuse the close.
    std::function<void(QObject* sender, bool& canClose)> OnCloseQuery;
};

class TAppShell : public QObject {
    Q_OBJECT
public:
    TAppShell(QWidget* mainWindow, TShellHandlers handlers, QObject* parent = nullptr);
    ~TAppShell() override;

    // Runs until the main window has closed (or the application is told to
    // quit), then runs OnFinish exactly once. Returns the loop's exit code.
    int Run();

    bool Ending() const { return ending_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Begin();
    void Idle();

    QPointer<QWidget> mainWindow_;
    TShellHandlers handlers_;
    QEventLoop* loop_ = nullptr;
    bool ending_ = false;
    bool finished_ = false;
};

// Rejects the modal dialogs open at the moment (a question or a message);
// true when none was open. Closing the main window has to wait for them,
// since each holds a nested event loop.
bool DismissModalWindows();
