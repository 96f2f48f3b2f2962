// Records the stack at every C++ throw while capture is on. The definition
// of __cxa_throw below takes the place of the runtime's own for the whole
// process (the executable's symbol comes first in lookup) and hands over to
// the runtime's one after recording. This file must stay free of throw
// expressions and of <cxxabi.h>, whose declaration would clash.
#include <dlfcn.h>
#include <execinfo.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <typeinfo>

#include "report/throw_trace.h"

namespace {

constexpr int kMaxFrames = 64;
constexpr int kRecords = 8;  // recent throws kept per thread

struct ThrowRecord {
    const void* object;
    std::time_t taken;
    int count;
    void* frames[kMaxFrames];
};

// Plain data only, so the thread-local storage needs no constructor.
struct ThrowRing {
    ThrowRecord records[kRecords];
    unsigned next;
};

thread_local ThrowRing ring;
std::atomic<bool> captureOn{false};

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));

CxaThrow RealThrow() {
    static std::atomic<CxaThrow> real{nullptr};
    CxaThrow fn = real.load(std::memory_order_acquire);
    if (!fn) {
        fn = reinterpret_cast<CxaThrow>(::dlsym(RTLD_NEXT, "__cxa_throw"));
        if (!fn) std::abort();
        real.store(fn, std::memory_order_release);
    }
    return fn;
}

}  // namespace

extern "C" [[noreturn]] void __cxa_throw(void* object, std::type_info* type, void (*destroy)(void*)) {
    if (captureOn.load(std::memory_order_relaxed)) {
        ThrowRecord& r = ring.records[ring.next % kRecords];
        ring.next++;
        void* raw[kMaxFrames + 2];
        int n = ::backtrace(raw, kMaxFrames + 2);
        // The trace starts at the raise. Frames of this function (and of
        // any wrapper around backtrace, as sanitizers add) come before it.
        void* site = __builtin_return_address(0);
        int first = 1;
        for (int i = 0; i < n; ++i)
            if (raw[i] == site) {
                first = i;
                break;
            }
        r.count = 0;
        for (int i = first; i < n && r.count < kMaxFrames; ++i) r.frames[r.count++] = raw[i];
        r.object = object;
        r.taken = std::time(nullptr);
    } else {
        // The object may sit where an earlier, recorded one lay; that record
        // must not be taken for this raise.
        for (ThrowRecord& r : ring.records)
            if (r.object == object) r.object = nullptr;
    }
    RealThrow()(object, type, destroy);
    std::abort();  // the runtime's throw never returns
}

void SetThrowTraceCapture(bool on) {
    if (on) {
        // backtrace() loads its unwinder on first use; do that now rather
        // than inside the first throw.
        void* warm[2];
        ::backtrace(warm, 2);
        RealThrow();
    }
    captureOn.store(on, std::memory_order_relaxed);
}

bool ThrowTraceCapture() { return captureOn.load(std::memory_order_relaxed); }

TStackTrace ThrowTraceOf(const void* thrownObject) {
    TStackTrace trace;
    if (!thrownObject) return trace;
    // Newest first: an object rethrown by std::rethrow_exception keeps its
    // address, and only its first raise went through __cxa_throw.
    for (int k = 1; k <= kRecords; ++k) {
        const ThrowRecord& r = ring.records[(ring.next - static_cast<unsigned>(k)) % kRecords];
        if (r.object == thrownObject && r.count > 0) {
            trace.frames.assign(r.frames, r.frames + r.count);
            trace.taken = r.taken;
            break;
        }
    }
    return trace;
}
