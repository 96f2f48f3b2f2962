#include "report/error_report.h"

#include <cxxabi.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <typeinfo>

#include "report/error_history.h"
#include "report/system_info.h"

bool ReportShowing = false;

namespace {

// Fills in the raise's trace and address for the thrown object at object
// (null when its address is not known).
void AttachTrace(TErrorInfo& info, const void* object) {
    info.trace = ThrowTraceOf(object);
    if (!info.trace.frames.empty()) {
        info.address = reinterpret_cast<std::uintptr_t>(info.trace.frames.front());
    } else {
        // Raised while capture was off: the stack of the handler is the best
        // there is, and the place of the raise is not known.
        info.trace = CaptureStackTrace();
    }
}

}  // namespace

TErrorInfo DescribeError(const std::exception& error) {
    TErrorInfo info;
    if (const auto* own = dynamic_cast<const Exception*>(&error)) {
        info.className = own->ClassName();
        info.message = own->Message();
    } else {
        info.className = Demangle(typeid(error).name());
        info.message = error.what();
    }
    AttachTrace(info, dynamic_cast<const void*>(&error));
    return info;
}

TErrorInfo DescribeError(std::exception_ptr error) {
    if (!error) {
        TErrorInfo info;
        info.className = "Exception";
        info.message = "Unknown error";
        AttachTrace(info, nullptr);
        return info;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return DescribeError(e);
    } catch (...) {
        TErrorInfo info;
        const std::type_info* type = abi::__cxa_current_exception_type();
        info.className = type ? Demangle(type->name()) : "unknown";
        info.message = "Unknown error";
        AttachTrace(info, nullptr);
        return info;
    }
}

std::string CurrentThreadDescription() {
    auto tid = static_cast<long>(::syscall(SYS_gettid));
    std::string text = "ID " + std::to_string(tid);
    char name[64] = {};
    if (::pthread_getname_np(::pthread_self(), name, sizeof name) == 0 && name[0])
        text += " \"" + std::string(name) + "\"";
    return text;
}

TErrorInfo CaptureThreadError() {
    TErrorInfo info = DescribeError(std::current_exception());
    info.threadDescription = CurrentThreadDescription();
    return info;
}

std::string ReportMessageText(const std::string& message) {
    std::string text;
    text.reserve(message.size() + 2);
    for (std::size_t i = 0; i < message.size(); ++i) {
        char c = message[i];
        if (c == '\r') {
            if (i + 1 < message.size() && message[i + 1] == '\n') ++i;
            text += "\r\n";
        } else if (c == '\n') {
            text += "\r\n";
        } else {
            text += c;
        }
    }
    // A message ending in a line break would otherwise get its full stop on
    // a line of its own.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty() || text.back() != '.') text += '.';
    return text;
}

std::string ReportSeparator() { return std::string(100, '-'); }

namespace {

std::string FormatMoment(std::time_t moment, const char* format) {
    struct tm local {};
    if (!::localtime_r(&moment, &local)) return {};
    char buf[128];
    std::size_t n = std::strftime(buf, sizeof buf, format, &local);
    return std::string(buf, n);
}

}  // namespace

std::string ReportDateText(std::time_t moment) { return FormatMoment(moment, "%x"); }
std::string ReportTimeText(std::time_t moment) { return FormatMoment(moment, "%X"); }

TStringList ReportFirstBlock(const TErrorInfo& error) {
    TStringList lines;
    lines.push_back("Exception class: " + error.className);
    if (!error.threadDescription.empty()) {
        lines.push_back("Thread: " + error.threadDescription);
    } else {
        char addr[32];
        std::snprintf(addr, sizeof addr, "%0*zX", static_cast<int>(sizeof(void*) * 2),
                      static_cast<std::size_t>(error.address));
        lines.push_back(std::string("Exception address: ") + addr);
    }
    lines.push_back(ReportSeparator());
    return lines;
}

TStringList ReportStackBlock(std::time_t taken, const TStringList& frameLines) {
    TStringList lines;
    lines.push_back("Stack list, generated " + ReportDateText(taken) + " " + ReportTimeText(taken));
    lines.insert(lines.end(), frameLines.begin(), frameLines.end());
    lines.push_back(ReportSeparator());
    return lines;
}

TStringList ReportMachineBlock(const std::string& systemLine, const std::string& processorLine,
                               const std::string& displayLine) {
    return {systemLine, processorLine, displayLine, ReportSeparator()};
}

TStringList ReportModulesBlock(const TStringList& moduleLines) {
    TStringList lines;
    if (!moduleLines.empty()) {
        lines.push_back("List of loaded modules:");
        lines.insert(lines.end(), moduleLines.begin(), moduleLines.end());
    }
    lines.push_back(ReportSeparator());
    return lines;
}

TStringList ReportControlsBlock(const TStringList& controls) {
    TStringList lines;
    if (!controls.empty()) {
        lines.push_back("Active Controls hiearchy:");
        lines.insert(lines.end(), controls.begin(), controls.end());
    }
    lines.push_back(ReportSeparator());
    return lines;
}

TStringList ReportDetailBlocks(const TErrorInfo& error, const TReportEnvironment& environment) {
    TStringList lines = ReportStackBlock(error.trace.taken, DescribeStackTrace(error.trace.frames));
    auto append = [&lines](const TStringList& block) { lines.insert(lines.end(), block.begin(), block.end()); };
    append(ReportMachineBlock(SystemLine(), ProcessorLine(), environment.displayLine));
    TStringList moduleLines;
    for (const TModuleInfo& module : LoadedModules()) {
        TStringList one = FormatModuleLines(module, ModuleVersionOf(module.path));
        moduleLines.insert(moduleLines.end(), one.begin(), one.end());
    }
    append(ReportModulesBlock(moduleLines));
    append(ReportControlsBlock(environment.activeControls));
    return lines;
}

int ReportUnhandledErrorHeadless(const TErrorInfo& info) {
    std::string message = ReportMessageText(info.message);
    std::string shown = message;
    ReplaceAll(shown, "\r\n", "\n", true);
    std::cerr << "orvalis: " << shown << "\n";
    try {
        TStringList details = ReportFirstBlock(info);
        TReportEnvironment environment;
        environment.displayLine = NoDisplayLine();
        TStringList rest = ReportDetailBlocks(info, environment);
        details.insert(details.end(), rest.begin(), rest.end());
        std::string member = AddToHistory(message, details);
        std::cerr << "orvalis: the error report was saved as " << member << " in \"" << ErrorHistoryFileName()
                  << "\"\n";
    } catch (const std::exception& e) {
        std::cerr << "orvalis: the error report could not be saved: " << e.what() << "\n";
    }
    return 1;
}

int ReportUnhandledErrorHeadless(std::exception_ptr error) {
    return ReportUnhandledErrorHeadless(DescribeError(error));
}

int ReportUnhandledErrorHeadless(const std::exception& error) {
    return ReportUnhandledErrorHeadless(DescribeError(error));
}
