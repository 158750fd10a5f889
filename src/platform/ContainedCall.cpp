#include "platform/ContainedCall.h"

#include <intrin.h>
#include <windows.h>

namespace {

#if defined(__i386__)
// An exception registration record of the x86 handler chain (fs:[0]), followed by the
// place to return to when an exception reaches it.
struct GuardFrame {
    GuardFrame* prev;
    void* handler;
    void* resume[5]; // __builtin_setjmp buffer
};

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* frame,
                                                      CONTEXT*, void*) {
    // Unwinding passes (flags 2 and 4) are not ours to stop.
    if (record->ExceptionFlags & 0x6) return ExceptionContinueSearch;
    __builtin_longjmp(static_cast<GuardFrame*>(frame)->resume, 1);
}
#else
// Elsewhere (the 64-bit build the tests use on hosts that run no 32-bit code) a frame
// cannot be chained in by hand. A fault that no handler of the called code takes
// reaches the process's last-chance filter, which returns to the innermost guard of
// the faulting thread: the same faults are contained, nested guards included.
struct GuardJump {
    GuardJump* prev;
    void* resume[5]; // __builtin_setjmp buffer
};
thread_local GuardJump* tGuard = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER gOuterFilter = nullptr;

LONG WINAPI GuardFilter(EXCEPTION_POINTERS* info) {
    if (GuardJump* guard = tGuard) __builtin_longjmp(guard->resume, 1);
    return gOuterFilter ? gOuterFilter(info) : EXCEPTION_CONTINUE_SEARCH;
}
#endif

} // namespace

bool CallContained(void (*fn)(void*), void* arg) {
#if defined(__i386__)
    GuardFrame frame;
    frame.handler = reinterpret_cast<void*>(&GuardHandler);
    frame.prev = reinterpret_cast<GuardFrame*>(__readfsdword(0));
    if (__builtin_setjmp(frame.resume)) {
        // Back from the handler: the dispatcher's frames above ours are gone, so the
        // chain continues where it did before the call.
        __writefsdword(0, reinterpret_cast<DWORD>(frame.prev));
        return false;
    }
    __writefsdword(0, reinterpret_cast<DWORD>(&frame));
    try {
        fn(arg);
    } catch (...) {
        // A C++ exception leaves through here: the chain must not keep a frame on a
        // stack that is about to be unwound, or the next fault would be sent into it.
        __writefsdword(0, reinterpret_cast<DWORD>(frame.prev));
        throw;
    }
    __writefsdword(0, reinterpret_cast<DWORD>(frame.prev));
    return true;
#else
    static const bool installed = [] {
        gOuterFilter = SetUnhandledExceptionFilter(&GuardFilter);
        return true;
    }();
    (void)installed;
    GuardJump guard;
    guard.prev = tGuard;
    if (__builtin_setjmp(guard.resume)) {
        tGuard = guard.prev;
        return false;
    }
    tGuard = &guard;
    try {
        fn(arg);
    } catch (...) {
        tGuard = guard.prev; // the guard's stack frame is about to be unwound
        throw;
    }
    tGuard = guard.prev;
    return true;
#endif
}
