// The comparison behind "OVERWRITE ONLY IF NEWER", and the release of a library that
// is about to be replaced.
#include "engine/FilePlacement.h"

#include "platform/FileUtil.h"
#include "sysinfo/SystemInfo.h"

#include <intrin.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> SplitDots(const std::string& s) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = s.find('.', start);
        parts.push_back(
            s.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) return parts;
        start = dot + 1;
    }
}

// A version part: decimal digits only, small enough for 32 bits.
bool ParsePart(const std::string& s, uint32_t& value) {
    if (s.empty() || s.size() > 9) return false;
    value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

uint64_t Ticks(const FILETIME& f) {
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

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

FILETIME GetFileDate(const std::string& path) {
    FILETIME zero{};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return zero;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return zero;
    // One bias for every file keeps the order of two times intact, which is all the
    // newer test needs (a daylight-saving-aware conversion could swap times that lie
    // in the repeated hour).
    FILETIME local;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local)) return zero;
    return local;
}

bool IsNewerFile(const std::string& newFile, const std::string& existingFile) {
    const std::vector<std::string> a = SplitDots(TOSInfo::FileVersionText(newFile));
    const std::vector<std::string> b = SplitDots(TOSInfo::FileVersionText(existingFile));
    if (a.size() == 4 && b.size() == 4) {
        for (size_t i = 0; i < 4; ++i) {
            uint32_t x, y;
            if (!ParsePart(a[i], x) || !ParsePart(b[i], y)) return false;
            if (x > y) return true;
            if (x < y) return false;
        }
        return false;
    }
    return Ticks(GetFileDate(existingFile)) < Ticks(GetFileDate(newFile));
}

namespace {

struct UnregisterCall {
    FARPROC entry;
};

void CallUnregister(void* arg) {
    using Fn = HRESULT(WINAPI*)();
    reinterpret_cast<Fn>(reinterpret_cast<void*>(static_cast<UnregisterCall*>(arg)->entry))();
}

void CallFree(void* arg) {
    FreeLibrary(static_cast<HMODULE>(arg));
}

} // namespace

void UnregisterLibrary(const std::string& path) {
    if (!FileExists(path)) return;
    // No system error box for a library whose own dependencies are missing.
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Its dependencies are looked for beside it, as when it is registered.
    HMODULE lib = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetErrorMode(oldMode);
    if (!lib) return;
    UnregisterCall call{GetProcAddress(lib, "DllUnregisterServer")};
    if (call.entry) CallContained(&CallUnregister, &call);
    // Released even after a failure, or the file would stay in use and could not be
    // replaced.
    CallContained(&CallFree, lib);
}
