#include "platform/Redirection.h"

#include <windows.h>

namespace {
template <typename Fn> Fn Kernel32(const char* name) {
    HMODULE k32 = GetModuleHandleA("kernel32.dll");
    return k32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k32, name))) : nullptr;
}
} // namespace

void DisableRedirection(FsRedirection& r) {
    if (r.Off) return;
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    auto disable = Kernel32<DisableFn>("Wow64DisableWow64FsRedirection");
    r.State = nullptr;
    if (disable && disable(&r.State)) r.Off = true;
}

void RestoreRedirection(FsRedirection& r) {
    if (!r.Off) return;
    using RevertFn = BOOL(WINAPI*)(PVOID);
    auto revert = Kernel32<RevertFn>("Wow64RevertWow64FsRedirection");
    if (revert) revert(r.State);
    r.Off = false;
}
