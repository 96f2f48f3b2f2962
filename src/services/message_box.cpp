#include "services/message_box.h"

#include "base/language.h"

namespace {

TMessageBoxPresenter& Presenter() {
    static TMessageBoxPresenter presenter;
    return presenter;
}

}  // namespace

TButtonLayout ButtonLayoutFor(int buttons) {
    switch (buttons) {
        case mbYes | mbNo: return TButtonLayout::YesNo;
        case mbOK: return TButtonLayout::Ok;
        case mbYes | mbNo | mbCancel: return TButtonLayout::YesNoCancel;
        case mbOK | mbCancel: return TButtonLayout::OkCancel;
        case mbCancel | mbRetry: return TButtonLayout::RetryCancel;
        case mbAbort | mbRetry | mbIgnore: return TButtonLayout::AbortRetryIgnore;
        default: throw EMessageBoxError(Translate("Dialog not support"));
    }
}

TMessageIcon IconForKind(int kind) {
    switch (kind) {
        case mtWarning: return TMessageIcon::Warning;
        case mtError: return TMessageIcon::Error;
        case mtInformation: return TMessageIcon::Information;
        case mtConfirmation: return TMessageIcon::Question;
        default: return TMessageIcon::None;
    }
}

TMessageBoxPresenter SetMessageBoxPresenter(TMessageBoxPresenter presenter) {
    TMessageBoxPresenter old = std::move(Presenter());
    Presenter() = std::move(presenter);
    return old;
}

int ShowMessageBox(const std::string& text, int kind, int buttons) {
    const TButtonLayout layout = ButtonLayoutFor(buttons);
    const TMessageIcon icon = IconForKind(kind);
    if (!Presenter()) return mrNone;
    const int answer = Presenter()(text, icon, layout);
    return answer >= mrOk && answer <= mrNo ? answer : mrNone;
}
