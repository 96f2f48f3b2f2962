#pragma once
// The error history "error.history": a zip archive beside the configuration
// file with one member per error report.
#include <ctime>
#include <string>

#include "base/shared_functions.h"

// "Brennick Orvalis  Ver.1.0.2": heads every stored report and the bug mail.
extern const std::string kProductVersionText;

// Full path of the archive: "error.history" in the folder of the
// configuration file, unless another file was set.
std::string ErrorHistoryFileName();
// Points the history elsewhere (tests, front ends with their own folder);
// empty text restores the default.
void SetErrorHistoryFileName(const std::string& fileName);

// 32 upper-case hexadecimal digits: MD5 of date, time and number as text.
std::string HistoryMemberName(const std::string& dateText, const std::string& timeText, int number);
// The name for a report made now, with a random number from 0 to 999.
std::string NewHistoryMemberName(std::time_t now);

// The stored text: product line, blank line, message lines, two blank
// lines, detail lines; every line ended by CR LF.
std::string HistoryMemberText(const std::string& messageText, const TStringList& detailLines);

// Adds the report as a new member of the archive (created when missing; a
// member of the same name is replaced, the others stay). Returns the member
// name. Raises EOSError when the archive cannot be written.
std::string AddToHistory(const std::string& messageText, const TStringList& detailLines);
