#pragma once
// Stack traces for error reports. While capture is switched on, every C++
// throw on any thread records the stack at the point of the raise, so a
// report shows where an error came from rather than the handler that
// caught it.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "base/shared_functions.h"

struct TStackTrace {
    std::vector<void*> frames;  // return addresses, innermost first
    std::time_t taken = 0;      // when the trace was taken
};

// Switches the recording of a trace at every throw on or off (off at start).
void SetThrowTraceCapture(bool on);
bool ThrowTraceCapture();

// The trace recorded on the calling thread when the object at thrownObject
// was thrown; no frames when none was recorded (capture off, or the record
// was pushed out by later throws). thrownObject is the address of the
// complete thrown object (dynamic_cast<const void*> of a caught reference).
TStackTrace ThrowTraceOf(const void* thrownObject);

// The stack of the caller of this function, taken now.
TStackTrace CaptureStackTrace();

// One line per frame: "[ADDRESS] symbol + 0xOFFSET (module)", the symbol
// demangled; "module + 0xOFFSET" when the symbol is not exported.
TStringList DescribeStackTrace(const std::vector<void*>& frames);

// Readable name of a mangled C++ name; the name itself when it is not one.
std::string Demangle(const char* mangled);
