#include "wizard/CloseQuery.h"

#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/SystemLibrary.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupKeys.h"
#include "text/ExpandText.h"
#include "text/Language.h"
#include "wizard/Appearance.h"

#include <shellapi.h>

namespace {

bool AskToClose(RunContext& ctx, HWND owner) {
    int r = ctx.Prompt->MessageBox(owner, ExpandText(ctx, LanguageText(ctx, "Messages", 1)),
                                   ExpandText(ctx, LanguageText(ctx, "Messages", 0)),
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    return r == IDYES;
}

void RunFinishActions(RunContext& ctx, const FinishChoices& c) {
    // An exception from one action skips the rest, without a message; a target that
    // cannot be opened is not a failure and lets the next action run.
    try {
        if (c.launchFile) OpenTarget(ExpandText(ctx, ReadSetupString(ctx, "LaunchFileName")));
        if (c.viewReadme) OpenTarget(ExpandText(ctx, ReadSetupString(ctx, "ViewReadmeFile")));
        if (c.customRun) OpenTarget(ExpandText(ctx, ReadSetupString(ctx, "CustomActionCommand")));
        if (c.restart) RestartComputer();
    } catch (...) {
    }
}

bool EnableShutdownPrivilege() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &tp.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) &&
              GetLastError() == ERROR_SUCCESS; // not ERROR_NOT_ALL_ASSIGNED
    CloseHandle(token);
    return ok;
}

} // namespace

CloseDecision FormCloseQuery(RunContext& ctx, HWND owner, bool onInstallPage, bool onFinishPage,
                             const FinishChoices& choices) {
    if (onFinishPage) {
        FinishAndRelease(ctx, &choices);
        return CloseDecision::Close;
    }
    if (!AskToClose(ctx, owner)) return CloseDecision::Stay;
    if (onInstallPage) {
        // The run polls the flag further down this thread; it decides how to stop.
        ctx.Cancel = true;
        ProcessMessages();
        return CloseDecision::CancelRun;
    }
    FinishAndRelease(ctx, nullptr);
    return CloseDecision::Close;
}

void FinishAndRelease(RunContext& ctx, const FinishChoices* choices) {
    if (choices) RunFinishActions(ctx, *choices);
    // The font file lives in the setup temp folder: it is unregistered before the
    // folder is cleaned up, and before the readers go (the folder name stays).
    RemoveWizardFont(ctx);
    ctx.ReleaseResources();
    ctx.UserVariables.clear();
    CleanUpSetupFiles(ctx);
}

bool OpenTarget(const std::string& text) {
    std::string target = text, params;
    size_t p = text.find(" /");
    if (p != std::string::npos) {
        target = text.substr(0, p);
        params = text.substr(p + 1);
    }
    HINSTANCE r;
    EnsureCom();
    if (FileExists(target)) {
        const std::string folder = ExcludeTrailingBackslash(ExtractFilePath(target));
        r = ShellExecuteA(nullptr, "open", target.c_str(),
                          params.empty() ? nullptr : params.c_str(),
                          folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
    } else {
        r = ShellExecuteA(nullptr, "open", text.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }
    return reinterpret_cast<INT_PTR>(r) > 32;
}

void RestartComputer() {
    const DWORD reason = SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                         SHTDN_REASON_FLAG_PLANNED;
    if (ExitWindowsEx(EWX_REBOOT, reason)) return;
    if (EnableShutdownPrivilege()) ExitWindowsEx(EWX_REBOOT, reason);
}
