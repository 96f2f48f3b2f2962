#include "app/wizard_main.h"

#include <QApplication>
#include <QMessageBox>

int RunWizard(int argc, char** argv) {
    QApplication app(argc, argv);
    QMessageBox::information(nullptr, "Brennick Orvalis", "The wizard is not available in this build yet.");
    return 1;
}
