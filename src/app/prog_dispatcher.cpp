#include "app/prog_dispatcher.h"

#include "app/error_boundary.h"
#include "app/main_form.h"
#include "app/widget_placement.h"

namespace {

TProgDispatcher*& Global() {
    static TProgDispatcher* dispatcher = nullptr;
    return dispatcher;
}

}  // namespace

TProgDispatcher::TProgDispatcher(TMainForm* mainForm, QObject* parent) : QObject(parent), mainForm_(mainForm) {
    setObjectName("_");
}

TProgDispatcher::~TProgDispatcher() {
    if (Global() == this) Global() = nullptr;
}

TProgDispatcher* ProgDispatcher() { return Global(); }

void TProgDispatcher::Start() {
    Global() = this;
    mainForm_->InitWizard();
}

void TProgDispatcher::CloseQuery(QObject*, bool& canClose) { canClose = true; }

void TProgDispatcher::Finish() {
    if (finished_) return;
    finished_ = true;
    // A placement that cannot be written must not cost the session.
    Guarded([this] { SavePlacement(mainForm_, "MainForm"); });
    Guarded([this] { mainForm_->SaveSession(); });
}
