#include "report/gui/exception_dialog.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QUrl>
#include <cmath>

#include "widgets/translate_form.h"
#include "report/error_history.h"
#include "report/report_mail.h"
#include "report/system_info.h"

namespace {

// The designed layout: client area 432 x 255, details area from 91 down.
constexpr int kDesignWidth = 432;
constexpr int kDetailsTop = 91;  // top of Bevel1; the client height is cut to it

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Shown text uses the widget's own line breaks.
QString ShownText(const std::string& crlfText) {
    QString text = Q(crlfText);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QString ApplicationTitle() {
    QString title = QCoreApplication::applicationName();
    return title.isEmpty() ? QStringLiteral("Brennick Orvalis") : title;
}

// Restores the cursor and the memo's painting however BuildReport ends.
class BusyScope {
public:
    explicit BusyScope(QWidget* frozen) : frozen_(frozen) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        frozen_->setUpdatesEnabled(false);
    }
    ~BusyScope() {
        frozen_->setUpdatesEnabled(true);
        QApplication::restoreOverrideCursor();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    QWidget* frozen_;
};

std::string MessageOf(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "Unknown error";
}

}  // namespace

TExceptionDialog::TExceptionDialog(const TErrorInfo& error, TStringList activeControls, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      error_(error),
      activeControls_(std::move(activeControls)) {
    setObjectName(QStringLiteral("ExceptionDialog"));
    setWindowTitle(ApplicationTitle() + QStringLiteral(" - ") + TranslateCaption(QStringLiteral("application error")));

    label1_ = new QLabel(QStringLiteral("Download the latest version of program, may be this bug was fixed"), this);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setWordWrap(true);
    QFont bold = label1_->font();
    bold.setBold(true);
    label1_->setFont(bold);
    QPalette red = label1_->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    label1_->setPalette(red);

    textLabel_ = new QPlainTextEdit(this);
    textLabel_->setObjectName(QStringLiteral("TextLabel"));
    textLabel_->setReadOnly(true);
    textLabel_->setFrameShape(QFrame::NoFrame);
    textLabel_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette plain = textLabel_->palette();
    plain.setColor(QPalette::Base, plain.color(QPalette::Window));
    textLabel_->setPalette(plain);

    okBtn_ = new QPushButton(QStringLiteral("OK"), this);
    okBtn_->setObjectName(QStringLiteral("OkBtn"));
    okBtn_->setAutoDefault(false);
    connect(okBtn_, &QPushButton::clicked, this, &QDialog::reject);

    sendButton_ = new QPushButton(QStringLiteral("Bug report"), this);
    sendButton_->setObjectName(QStringLiteral("SendButton"));
    sendButton_->setToolTip(QStringLiteral("Send a bug report to the authors by e-mail"));
    sendButton_->setDefault(true);
    connect(sendButton_, &QPushButton::clicked, this, &TExceptionDialog::SendButtonClick);

    bevel1_ = new QFrame(this);
    bevel1_->setObjectName(QStringLiteral("Bevel1"));
    bevel1_->setFrameShape(QFrame::HLine);
    bevel1_->setFrameShadow(QFrame::Sunken);

    detailsMemo_ = new QPlainTextEdit(this);
    detailsMemo_->setObjectName(QStringLiteral("DetailsMemo"));
    detailsMemo_->setReadOnly(true);
    detailsMemo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    detailsMemo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    detailsMemo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont fixed(QStringLiteral("Courier New"), 8);
    fixed.setStyleHint(QFont::TypeWriter);
    fixed.setFixedPitch(true);
    detailsMemo_->setFont(fixed);
    // The details area stays below the cut; the memo still gets the report.
    detailsMemo_->setEnabled(false);
    detailsMemo_->hide();

    // The standard error icon left of the message.
    // 32 pixels: the layout leaves exactly that much (plus 15) left of the
    // message; a style's larger message-box icon would be cut off at the edge.
    const int iconSize = 32;
    errorIcon_ = new QLabel(this);
    errorIcon_->setObjectName(QStringLiteral("ErrorIcon"));
    errorIcon_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, this).pixmap(iconSize));
    errorIcon_->setGeometry(52 - iconSize - 15, 36, iconSize, iconSize);

    setTabOrder(textLabel_, sendButton_);
    setTabOrder(sendButton_, okBtn_);

    setMinimumWidth(200);
    resize(kDesignWidth, kDetailsTop);
    setFixedHeight(kDetailsTop);
    LayoutControls();

    TranslateForm(this);

    messageText_ = ReportMessageText(error_.message);
    textLabel_->setPlainText(ShownText(messageText_));
    AppendDetails(ReportFirstBlock(error_));

    // A worker's error is not tied to this window's appearance: build at once.
    if (!error_.threadDescription.empty()) BuildDetails();
}

TExceptionDialog::~TExceptionDialog() = default;

void TExceptionDialog::LayoutControls() {
    const int w = width();
    const int right = w - kDesignWidth;  // how far the right edge moved
    label1_->setGeometry(52, 4, 285, 26);
    okBtn_->setGeometry(352 + right, 8, 75, 25);
    textLabel_->setGeometry(52, 36, std::max(0, 281 + right), 55);
    sendButton_->setGeometry(352 + right, 52, 75, 25);
    bevel1_->setGeometry(3, 91, std::max(0, 428 + right), 9);
    detailsMemo_->setGeometry(4, 101, std::max(0, 424 + right), 150);
}

void TExceptionDialog::UpdateTextScrollBar() {
    // Lines counted at the height of "Wg" against the visible height.
    QFontMetrics fm(textLabel_->font());
    const int lineHeight = std::max(1, fm.boundingRect(QStringLiteral("Wg")).height());
    const int width =
        std::max(1, textLabel_->viewport()->width() - 2 * static_cast<int>(textLabel_->document()->documentMargin()));
    QRect needed = fm.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, textLabel_->toPlainText());
    const int lines = static_cast<int>(std::ceil(needed.height() / static_cast<double>(fm.lineSpacing())));
    const bool fits = lines * lineHeight <= textLabel_->height();
    textLabel_->setVerticalScrollBarPolicy(fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
}

void TExceptionDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayoutControls();
    UpdateTextScrollBar();
}

void TExceptionDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    UpdateTextScrollBar();
    QApplication::beep();
    // Build the rest once the window is on screen, so the user sees it at once.
    if (!detailsBuilt_) QMetaObject::invokeMethod(this, &TExceptionDialog::BuildDetails, Qt::QueuedConnection);
}

void TExceptionDialog::AppendDetails(const TStringList& lines) {
    detailLines_.insert(detailLines_.end(), lines.begin(), lines.end());
    for (const std::string& line : lines) detailsMemo_->appendPlainText(Q(line));
}

void TExceptionDialog::BuildReport() {
    TReportEnvironment environment;
    environment.displayLine = ScreenDisplayLine();
    environment.activeControls = activeControls_;
    AppendDetails(ReportDetailBlocks(error_, environment));
}

void TExceptionDialog::BuildDetails() {
    if (detailsBuilt_) return;
    detailsBuilt_ = true;
    try {
        BusyScope busy(detailsMemo_);
        BuildReport();
        detailsMemo_->moveCursor(QTextCursor::Start);
        detailsMemo_->ensureCursorVisible();
    } catch (const std::exception& e) {
        // What was built so far is still worth keeping.
        ShowPlainErrorMessage(e.what());
    }
    StoreInHistory();
    emit DetailsReady();
}

void TExceptionDialog::StoreInHistory() {
    try {
        historyMember_ = AddToHistory(messageText_, detailLines_);
    } catch (const std::exception& e) {
        // The dialog stays; the user learns the report was not kept.
        ShowPlainErrorMessage(e.what());
    }
}

void TExceptionDialog::SendButtonClick() {
    bool sent = false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        SendErrorHistory();
        sent = true;
    } catch (...) {
        // Any failure ends in sending by hand; the archive stays for that.
    }
    QApplication::restoreOverrideCursor();
    if (sent) return;
    QMessageBox::information(this, windowTitle(), ShownText(ManualSendingMessage()));
    QDesktopServices::openUrl(QUrl(Q(SupportMailtoUrl())));
}

TStringList ActiveControlChain(const QWidget* focus) {
    TStringList chain;
    for (const QWidget* w = focus; w; w = w->isWindow() ? nullptr : w->parentWidget())
        chain.push_back(std::string(w->metaObject()->className()) + " \"" + w->objectName().toStdString() + "\"");
    return chain;
}

std::string ScreenDisplayLine() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return NoDisplayLine();
    return FormatDisplayLine(screen->size().width(), screen->size().height(), screen->depth());
}

void ShowPlainErrorMessage(const std::string& message) {
    QMessageBox::critical(nullptr, ApplicationTitle(), ShownText(ReportMessageText(message)));
}

void ShowErrorReport(const TErrorInfo& error) {
    // The focus chain is taken before the dialog takes the focus.
    TStringList controls = ActiveControlChain(QApplication::focusWidget());
    TExceptionDialog dialog(error, std::move(controls));
    dialog.exec();
}

namespace {

// Shows error through the dialog unless one is showing already.
void ReportOnce(const TErrorInfo& error) {
    if (ReportShowing) {
        ShowPlainErrorMessage(error.message);
        return;
    }
    ReportShowing = true;
    try {
        ShowErrorReport(error);
    } catch (...) {
        ReportShowing = false;
        ShowPlainErrorMessage(error.message);
        return;
    }
    ReportShowing = false;
}

}  // namespace

void AppErrorHook(std::exception_ptr error) {
    if (!qApp) {
        // No windows to show anything in.
        ReportUnhandledErrorHeadless(error);
        return;
    }
    if (ReportShowing) {
        ShowPlainErrorMessage(MessageOf(error));
        return;
    }
    ReportOnce(DescribeError(error));
}

void ThreadErrorHook(const TErrorInfo& error) {
    if (!qApp) {
        ReportUnhandledErrorHeadless(error);
        return;
    }
    if (QThread::currentThread() != qApp->thread()) {
        QMetaObject::invokeMethod(
            qApp, [error] { ThreadErrorHook(error); }, Qt::QueuedConnection);
        return;
    }
    ReportOnce(error);
}

void InstallErrorReporting() { SetThrowTraceCapture(true); }
void RemoveErrorReporting() { SetThrowTraceCapture(false); }

TErrorReportingApplication::TErrorReportingApplication(int& argc, char** argv) : QApplication(argc, argv) {
    InstallErrorReporting();
}

TErrorReportingApplication::~TErrorReportingApplication() { RemoveErrorReporting(); }

bool TErrorReportingApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        AppErrorHook(std::current_exception());
    }
    return false;
}
