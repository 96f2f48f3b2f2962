#include "report/throw_trace.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/exe_dir.h"

std::string Demangle(const char* mangled) {
    if (!mangled) return {};
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                         &std::free);
    return status == 0 && readable ? std::string(readable.get()) : std::string(mangled);
}

TStackTrace CaptureStackTrace() {
    constexpr int kMaxFrames = 64;
    void* raw[kMaxFrames + 1];
    int n = ::backtrace(raw, kMaxFrames + 1);
    TStackTrace trace;
    if (n > 1) trace.frames.assign(raw + 1, raw + n);  // raw[0] is this function
    trace.taken = std::time(nullptr);
    return trace;
}

TStringList DescribeStackTrace(const std::vector<void*>& frames) {
    TStringList lines;
    for (void* frame : frames) {
        auto addr = reinterpret_cast<std::uintptr_t>(frame);
        char head[32];
        std::snprintf(head, sizeof head, "[%0*zX] ", static_cast<int>(sizeof(void*) * 2),
                      static_cast<std::size_t>(addr));
        std::string line = head;
        Dl_info info{};
        if (::dladdr(frame, &info) == 0) {
            lines.push_back(line + "?");
            continue;
        }
        std::string module = info.dli_fname ? info.dli_fname : "?";
        // The executable is named as it was started ("./orvalis"); say where it is.
        if (info.dli_fname && std::strcmp(info.dli_fname, program_invocation_name) == 0 && !ExePath().empty())
            module = ExePath();
        char offset[32];
        if (info.dli_sname && info.dli_saddr) {
            std::snprintf(offset, sizeof offset, " + 0x%zX",
                          static_cast<std::size_t>(addr - reinterpret_cast<std::uintptr_t>(info.dli_saddr)));
            line += Demangle(info.dli_sname) + offset + " (" + module + ")";
        } else {
            // Not exported: the offset into the module is what a developer
            // feeds to addr2line.
            std::snprintf(offset, sizeof offset, " + 0x%zX",
                          static_cast<std::size_t>(addr - reinterpret_cast<std::uintptr_t>(info.dli_fbase)));
            line += module + offset;
        }
        lines.push_back(line);
    }
    return lines;
}
