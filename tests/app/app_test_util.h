#pragma once
// Helpers for the wizard's widget tests: one application object for the whole
// run, and a fresh in-memory configuration per test.
#include <QApplication>
#include <memory>

#include "services/configer.h"
#include "base/language.h"

inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit Qt's own globals are gone before a static
    // application object would be, and destroying it then crashes.
    static QApplication* app = std::make_unique<QApplication>(argc, argv).release();
    QCoreApplication::setApplicationName("Brennick Orvalis");
    return *app;
}

// Installs an empty in-memory configuration (and no language table) as the
// program's configuration service; returns its store for inspection.
inline TMemIniFile& FreshConfig() {
    SetAppConfiger(nullptr);
    SetAppLanguage(nullptr);
    auto store = std::make_unique<TMemIniFile>();
    TMemIniFile& ref = *store;
    SetAppConfiger(std::make_unique<TConfiger>(std::move(store)));
    return ref;
}
