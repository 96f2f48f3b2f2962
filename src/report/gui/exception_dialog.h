#pragma once
// The error report dialog and the hooks that bring every unhandled error to
// it.
//
// Installing: create the program's application object as a
// TErrorReportingApplication instead of a plain QApplication, before any
// window exists:
//
//     TErrorReportingApplication app(argc, argv);
//
// Its notify() catches every exception that escapes an event handler or a
// slot called from one and hands it to AppErrorHook; its constructor
// switches on the recording of the stack at every throw and its destructor
// switches it off again. Worker threads catch their own errors and hand them
// over with ThreadErrorHook(CaptureThreadError()) from their catch block.
#include <QApplication>
#include <QDialog>
#include <exception>
#include <string>

#include "report/error_report.h"

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class TExceptionDialog : public QDialog {
    Q_OBJECT
public:
    // error: what to report; activeControls: the chain of controls from the
    // one that had the focus when the error arose up to its window.
    TExceptionDialog(const TErrorInfo& error, TStringList activeControls, QWidget* parent = nullptr);
    ~TExceptionDialog() override;

    // The message as shown, with CR LF line breaks.
    const std::string& MessageText() const { return messageText_; }
    // Every line of the report, also those not built yet being absent.
    const TStringList& DetailLines() const { return detailLines_; }
    bool DetailsBuilt() const { return detailsBuilt_; }
    // Name of the member the report was stored under; empty when storing failed.
    const std::string& HistoryMember() const { return historyMember_; }

signals:
    // The report is complete and was offered to the error history.
    void DetailsReady();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildDetails();
    void BuildReport();
    void StoreInHistory();
    void SendButtonClick();
    void AppendDetails(const TStringList& lines);
    void LayoutControls();
    void UpdateTextScrollBar();

    TErrorInfo error_;
    TStringList activeControls_;
    std::string messageText_;
    TStringList detailLines_;
    std::string historyMember_;
    bool shownOnce_ = false;
    bool detailsBuilt_ = false;

    QLabel* label1_ = nullptr;
    QLabel* errorIcon_ = nullptr;
    QPushButton* okBtn_ = nullptr;
    QPlainTextEdit* textLabel_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QFrame* bevel1_ = nullptr;
    QPlainTextEdit* detailsMemo_ = nullptr;
};

// Shows the report dialog for error modally.
void ShowErrorReport(const TErrorInfo& error);
// Reports an unhandled error of the main thread: the dialog, or the plain
// error message when a report is showing already.
void AppErrorHook(std::exception_ptr error);
// Reports an error a worker thread handed over (see CaptureThreadError).
// May be called from any thread; the report is shown on the main thread.
void ThreadErrorHook(const TErrorInfo& error);
// The plain error message box, for errors while a report is showing.
void ShowPlainErrorMessage(const std::string& message);

// "<class> \"<object name>\"" for focus and each of its parents up to its window.
TStringList ActiveControlChain(const QWidget* focus);
// The display line for the primary screen.
std::string ScreenDisplayLine();

// Switch the capture of the stack at every throw on and off; the
// application below calls them.
void InstallErrorReporting();
void RemoveErrorReporting();

class TErrorReportingApplication : public QApplication {
    Q_OBJECT
public:
    TErrorReportingApplication(int& argc, char** argv);
    ~TErrorReportingApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;
};
