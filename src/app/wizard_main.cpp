#include "app/wizard_main.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <memory>

#include <QTimer>

#include "app/about_form.h"
#include "app/finished_dialog.h"
#include "base/interrupt.h"
#include "app/app_shell.h"
#include "app/build_runner.h"
#include "app/error_boundary.h"
#include "app/main_form.h"
#include "app/prog_dispatcher.h"
#include "app/qt_message_box.h"
#include "report/gui/exception_dialog.h"
#include "services/configer.h"
#include "base/language.h"

namespace {

// Qt's own texts (message box buttons, the file dialog) follow the language
// file: "de.lng" or "de_AT.lng" load Qt's "qtbase_de".
void InstallQtTranslation(QTranslator& translator) {
    const TLanguage* language = AppLanguage();
    if (!language) return;
    const QString name = QFileInfo(QString::fromStdString(language->LanguageFile())).completeBaseName();
    if (name.isEmpty() || name == QStringLiteral("default")) return;
    if (translator.load(QStringLiteral("qtbase_") + name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&translator);
}

}  // namespace

int RunWizard(int argc, char** argv) {
    // Errors that escape an event handler end in the error report dialog.
    TErrorReportingApplication app(argc, argv);
    // The title goes into window captions as it stands; a display name would make
    // Qt append it to every other caption once more.
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    // Lets the desktop match the windows to the installed menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.orvalis.Orvalis"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("example.orvalis.Orvalis")));
    // The shell decides when the program ends, not the last window closing.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    // The configuration comes first: a file that cannot be loaded is shown
    // and ends the program before anything else runs or is written.
    std::string configError;
    if (!OpenAppConfiger(configError)) {
        QMessageBox::critical(nullptr, QString::fromLatin1(kApplicationTitle), QString::fromStdString(configError));
        return 2;
    }
    QTranslator qtTranslation;
    InstallQtTranslation(qtTranslation);
    InstallQtMessageBoxPresenter();
    SetUnhandledErrorHandler([](std::exception_ptr error) { AppErrorHook(error); });

    int status = 0;
    {
        auto about = std::make_unique<TAboutForm>();
        StartSplash(about.get());

        auto mainForm = std::make_unique<TMainForm>(SharedBuildRunner());
        mainForm->ShowFinished = [form = mainForm.get()](const std::string& path) { ShowFinishedDialog(form, path); };
        TProgDispatcher dispatcher(mainForm.get());
        bool started = false;
        Guarded([&] {
            dispatcher.Start();
            started = true;
        });
        if (started) {
            TShellHandlers handlers;
            handlers.OnFinish = [&dispatcher] { dispatcher.Finish(); };
            handlers.OnCloseQuery = [&dispatcher](QObject* sender, bool& canClose) {
                dispatcher.CloseQuery(sender, canClose);
            };
            TAppShell shell(mainForm.get(), std::move(handlers));
            // SIGINT, SIGTERM, SIGHUP: stop a run at its next safe point and close as Exit does.
            InstallInterruptHandlers();
            QTimer signalWatch;
            QObject::connect(&signalWatch, &QTimer::timeout, mainForm.get(), [&] {
                if (!InterruptRequested()) return;
                // An open question or message goes first; the next tick closes.
                if (!DismissModalWindows()) return;
                signalWatch.stop();
                mainForm->CancelButton()->click();
            });
            signalWatch.start(200);
            shell.Run();
        } else {
            status = 1;  // the wizard could not be set up; the error was shown
        }
        mainForm.reset();
    }
    CloseAppConfiger();
    return status;
}
