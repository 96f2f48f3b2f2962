#pragma once
// The program's message box: a kind (which icon), one of six button sets, and
// the number of the button pressed. Showing it is left to a presenter that the
// front end installs (a Qt box in the wizard, a scripted answer in tests).
#include <functional>
#include <string>

#include "base/exceptions.h"

// Kinds; any other value shows no icon.
enum : int { mtWarning = 0, mtError = 1, mtInformation = 2, mtConfirmation = 3 };

// Button flags; ShowMessageBox accepts only the six combinations of TButtonLayout.
enum : int { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8, mbAbort = 16, mbRetry = 32, mbIgnore = 64 };

// Results.
enum : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7 };

enum class TButtonLayout { YesNo, Ok, YesNoCancel, OkCancel, RetryCancel, AbortRetryIgnore };
enum class TMessageIcon { None, Warning, Error, Information, Question };

ORVALIS_DECLARE_ERROR(EMessageBoxError, Exception);

// The layout for a set of button flags; raises EMessageBoxError with the
// translation of "Dialog not support" for any other set.
TButtonLayout ButtonLayoutFor(int buttons);
TMessageIcon IconForKind(int kind);

// Shows the box modally and returns what the user pressed (1..7), 0 otherwise.
using TMessageBoxPresenter = std::function<int(const std::string& text, TMessageIcon icon, TButtonLayout layout)>;
// Installs the presenter; returns the one it replaces (tests restore it).
TMessageBoxPresenter SetMessageBoxPresenter(TMessageBoxPresenter presenter);

// Raises EMessageBoxError for an unsupported button set before anything is
// shown. Without a presenter nothing can be asked and the result is 0.
int ShowMessageBox(const std::string& text, int kind, int buttons);
