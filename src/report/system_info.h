#pragma once
// What an error report says about the machine: operating system, processor,
// display and the shared objects loaded into the process. The formatters
// take what was read so they can be checked without the machine itself.
#include <cstdint>
#include <string>
#include <vector>

#include "base/shared_functions.h"

// "System   : Linux <distribution>, Version: <major>.<minor>, Build: <hex>, \"<release>\""
// from the kernel's uname fields and the text of os-release.
std::string FormatSystemLine(const std::string& sysname, const std::string& release, const std::string& osRelease);
// The line for this machine (uname, /etc/os-release).
std::string SystemLine();

// "Processor: <vendor>, <name>, <MHz> MHz <MMX>" from the text of
// /proc/cpuinfo; maxFreqKHz stands in when cpuinfo gives no clock rate.
// The division-bug mark never applies to processors this program runs on.
std::string FormatProcessorLine(const std::string& cpuinfo, const std::string& machine, long maxFreqKHz);
std::string ProcessorLine();

// "Display  : <w>x<h> pixels, <bpp> bpp".
std::string FormatDisplayLine(int width, int height, int bitsPerPixel);
// For front ends without a screen.
std::string NoDisplayLine();

struct TModuleInfo {
    std::uintptr_t address = 0;    // where its first segment was loaded
    std::uintptr_t preferred = 0;  // address it was linked for; 0 for position-independent objects
    std::string path;
};

// The shared objects of this process (and the executable) in ascending
// order of load address.
std::vector<TModuleInfo> LoadedModules();

struct TModuleVersion {
    bool known = false;
    unsigned numbers[4] = {0, 0, 0, 0};
    std::string text;  // as it stands in the file name, e.g. "6.4.2"
};
// Version carried in a shared object's file name ("libfoo.so.6.4.2",
// "libc-2.31.so"); the link is resolved first so "libfoo.so.6" gives the
// full version of the file it names.
TModuleVersion ModuleVersionFromFileName(const std::string& fileName);
TModuleVersion ModuleVersionOf(const std::string& path);

// The lines of one module in the report.
TStringList FormatModuleLines(const TModuleInfo& module, const TModuleVersion& version);
