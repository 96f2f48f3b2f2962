#pragma once
// Tells where a finished catalogue is, with buttons to open it and to show
// its folder in the file manager.
#include <string>

class QWidget;

void ShowFinishedDialog(QWidget* owner, const std::string& path);
