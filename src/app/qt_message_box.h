#pragma once
// Shows the program's message boxes as Qt message boxes, captioned with the
// application title and owned by the active window.
#include "services/message_box.h"

int ShowQtMessageBox(const std::string& text, TMessageIcon icon, TButtonLayout layout);
// Makes ShowMessageBox use Qt boxes.
void InstallQtMessageBoxPresenter();
