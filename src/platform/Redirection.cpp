#include "platform/Redirection.h"

#include "app/RunContext.h"

#include <windows.h>

namespace {
template <typename Fn> Fn Kernel32(const char* name) {
    HMODULE k32 = GetModuleHandleA("kernel32.dll");
    return k32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(k32, name))) : nullptr;
}
} // namespace

void DisableRedirection(RunContext& ctx) {
    if (ctx.RedirectionOff) return;
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    auto disable = Kernel32<DisableFn>("Wow64DisableWow64FsRedirection");
    ctx.RedirectionState = nullptr;
    if (disable && disable(&ctx.RedirectionState)) ctx.RedirectionOff = true;
}

void RestoreRedirection(RunContext& ctx) {
    if (!ctx.RedirectionOff) return;
    using RevertFn = BOOL(WINAPI*)(PVOID);
    auto revert = Kernel32<RevertFn>("Wow64RevertWow64FsRedirection");
    if (revert) revert(ctx.RedirectionState);
    ctx.RedirectionOff = false;
}
