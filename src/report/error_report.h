#pragma once
// The text of an error report: what the error was, where it was raised, and
// what the machine and the program looked like at that moment. The report is
// the list of lines shown in the report dialog's details and stored in the
// error history.
#include <cstdint>
#include <ctime>
#include <exception>
#include <string>

#include "report/throw_trace.h"
#include "base/shared_functions.h"

// One error, described on the thread that caught it.
struct TErrorInfo {
    std::string className;          // type name of the error
    std::string message;            // its message text
    std::uintptr_t address = 0;     // code address of the raise; 0 when not known
    std::string threadDescription;  // set for an error handed over from a worker thread
    TStackTrace trace;              // stack at the raise, or at the catch when none was recorded
};

// Describes error. Call it on the thread that caught the error: the trace
// recorded at the raise is kept per thread.
TErrorInfo DescribeError(std::exception_ptr error);
TErrorInfo DescribeError(const std::exception& error);
// For a worker thread's catch block: the current error, marked with the
// calling thread, ready to be handed to the main thread (ThreadErrorHook).
TErrorInfo CaptureThreadError();
// "ID <thread id> \"<thread name>\"" for the calling thread.
std::string CurrentThreadDescription();

// The message as the report shows it: line breaks made CR LF, trailing line
// breaks dropped, and a full stop added when it does not end in one.
std::string ReportMessageText(const std::string& message);

// 100 hyphens; ends every block of the report.
std::string ReportSeparator();

// The user's short date and long time of the moment.
std::string ReportDateText(std::time_t moment);
std::string ReportTimeText(std::time_t moment);

// What only the front end knows.
struct TReportEnvironment {
    std::string displayLine;     // FormatDisplayLine(...) or NoDisplayLine()
    TStringList activeControls;  // "<class> \"<name>\"" from the focused control up to its window
};

// Block 1: class, then address (or thread for a worker's error).
TStringList ReportFirstBlock(const TErrorInfo& error);
// Blocks 2 to 5 for this process and machine.
TStringList ReportDetailBlocks(const TErrorInfo& error, const TReportEnvironment& environment);

// The blocks from data already gathered; ReportDetailBlocks joins them.
TStringList ReportStackBlock(std::time_t taken, const TStringList& frameLines);
TStringList ReportMachineBlock(const std::string& systemLine, const std::string& processorLine,
                               const std::string& displayLine);
TStringList ReportModulesBlock(const TStringList& moduleLines);  // empty input: no heading
TStringList ReportControlsBlock(const TStringList& controls);    // empty input: no heading

// True while a report is being shown; a second error then goes to a plain
// message instead of a second report. User-interface thread only.
extern bool ReportShowing;

// For front ends without a window: prints the message and where the report
// was stored on stderr, adds the report to the error history, and returns
// the exit status 1. Call it from the outermost catch block; switch on
// SetThrowTraceCapture(true) at start so the report shows where the error
// was raised.
int ReportUnhandledErrorHeadless(const std::exception& error);
int ReportUnhandledErrorHeadless(std::exception_ptr error);
int ReportUnhandledErrorHeadless(const TErrorInfo& error);
