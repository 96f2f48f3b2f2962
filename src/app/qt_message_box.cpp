#include "app/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QMessageBox::Icon QtIcon(TMessageIcon icon) {
    switch (icon) {
        case TMessageIcon::Warning: return QMessageBox::Warning;
        case TMessageIcon::Error: return QMessageBox::Critical;
        case TMessageIcon::Information: return QMessageBox::Information;
        case TMessageIcon::Question: return QMessageBox::Question;
        case TMessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons QtButtons(TButtonLayout layout) {
    switch (layout) {
        case TButtonLayout::YesNo: return QMessageBox::Yes | QMessageBox::No;
        case TButtonLayout::Ok: return QMessageBox::Ok;
        case TButtonLayout::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case TButtonLayout::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case TButtonLayout::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
        case TButtonLayout::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

int ResultOf(int button) {
    switch (button) {
        case QMessageBox::Ok: return mrOk;
        case QMessageBox::Cancel: return mrCancel;
        case QMessageBox::Abort: return mrAbort;
        case QMessageBox::Retry: return mrRetry;
        case QMessageBox::Ignore: return mrIgnore;
        case QMessageBox::Yes: return mrYes;
        case QMessageBox::No: return mrNo;
        default: return mrNone;
    }
}

}  // namespace

int ShowQtMessageBox(const std::string& text, TMessageIcon icon, TButtonLayout layout) {
    QWidget* owner = QApplication::activeWindow();
    QMessageBox box(QtIcon(icon), QCoreApplication::applicationName(), QString::fromStdString(text), QtButtons(layout),
                    owner);
    // Closing the box with Escape or the title bar answers Cancel or No
    // where the set has one, as the platform's boxes do.
    if (layout == TButtonLayout::YesNo) box.setEscapeButton(QMessageBox::No);
    return ResultOf(box.exec());
}

void InstallQtMessageBoxPresenter() { SetMessageBoxPresenter(&ShowQtMessageBox); }
