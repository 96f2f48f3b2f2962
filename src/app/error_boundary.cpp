#include "app/error_boundary.h"

#include <QApplication>
#include <QMessageBox>

namespace {

TUnhandledErrorHandler& Handler() {
    static TUnhandledErrorHandler handler;
    return handler;
}

QString MessageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

}  // namespace

TUnhandledErrorHandler SetUnhandledErrorHandler(TUnhandledErrorHandler handler) {
    TUnhandledErrorHandler old = std::move(Handler());
    Handler() = std::move(handler);
    return old;
}

void HandleUnhandledError(std::exception_ptr error) {
    if (!error) return;
    if (Handler()) {
        try {
            Handler()(error);
            return;
        } catch (...) {
            // The report itself failed: fall back to the plain box below.
        }
    }
    QMessageBox::critical(QApplication::activeWindow(), QCoreApplication::applicationName(), MessageOf(error));
}
