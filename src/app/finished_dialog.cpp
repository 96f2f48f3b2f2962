#include "app/finished_dialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "base/language.h"
#include "base/shared_functions.h"

namespace {

QString Tr(const char* text) { return QString::fromStdString(Translate(text)); }

}  // namespace

void ShowFinishedDialog(QWidget* owner, const std::string& path) {
    QMessageBox box(QMessageBox::Information, QCoreApplication::applicationName(),
                    QString::fromStdString(Translate("The catalogue is ready: $1", Params({path}))),
                    QMessageBox::NoButton, owner);
    box.setObjectName("FinishedDialog");
    QPushButton* open = box.addButton(Tr("&Open"), QMessageBox::AcceptRole);
    QPushButton* folder = box.addButton(Tr("Show in &folder"), QMessageBox::ActionRole);
    box.addButton(Tr("&Close"), QMessageBox::RejectRole);
    box.setDefaultButton(open);
    box.exec();
    if (box.clickedButton() == open)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    else if (box.clickedButton() == folder)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(ExtractFileDir(path))));
}
