#include "app/app_shell.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

TAppShell::TAppShell(QWidget* mainWindow, TShellHandlers handlers, QObject* parent)
    : QObject(parent), mainWindow_(mainWindow), handlers_(std::move(handlers)) {}

TAppShell::~TAppShell() {
    if (mainWindow_) mainWindow_->removeEventFilter(this);
}

int TAppShell::Run() {
    QEventLoop loop;
    loop_ = &loop;
    // The hooks go in at the loop's first idle moment, as the window is up by then.
    QTimer::singleShot(0, this, &TAppShell::Begin);
    QMetaObject::Connection idle;
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        idle = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TAppShell::Idle);
    int code = ending_ ? 0 : loop.exec();
    disconnect(idle);
    loop_ = nullptr;
    if (!finished_) {
        finished_ = true;
        if (handlers_.OnFinish) handlers_.OnFinish();
    }
    return code;
}

void TAppShell::Begin() {
    if (mainWindow_) mainWindow_->installEventFilter(this);
    if (handlers_.OnStart) handlers_.OnStart();
}

void TAppShell::Idle() {
    // The dispatcher is about to wait: every pending event has been handled.
    if (handlers_.OnIdle && !ending_) handlers_.OnIdle();
}

bool TAppShell::eventFilter(QObject* watched, QEvent* event) {
    if (watched != mainWindow_ || event->type() != QEvent::Close) return QObject::eventFilter(watched, event);
    bool canClose = true;
    if (handlers_.OnCloseQuery) handlers_.OnCloseQuery(watched, canClose);
    if (!canClose) {
        event->ignore();
        return true;
    }
    // The shell's close handling replaces the window's own: the window hides
    // and the loop ends once control is back in it (a run in progress first
    // finishes, because it is executing inside one of the loop's handlers).
    event->accept();
    ending_ = true;
    if (loop_) loop_->quit();
    return true;
}

bool DismissModalWindows() {
    bool none = true;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || !window->isModal()) continue;
        none = false;
        // reject() ends a dialog's exec() even where closing is refused
        // (a message box without an escape button).
        if (auto* dialog = qobject_cast<QDialog*>(window))
            dialog->reject();
        else
            window->close();
    }
    return none;
}
