#include "platform/ProcessStart.h"

#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/SystemLibrary.h"

#include <shellapi.h>
#include <windows.h>

#include <string>

bool RunAndWait(const std::string& program, const std::string& parameters, int show,
                DWORD* exitCode) {
    // The command line is not cut to a fixed length: a long installation path would
    // otherwise start a different (or no) program.
    std::string cmd = "\"" + program + "\" " + parameters;
    std::string dir = ExcludeTrailingBackslash(ExtractFilePath(program));
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi))
        return false;
    WaitForSingleObject(pi.hProcess, INFINITE);
    if (exitCode && !GetExitCodeProcess(pi.hProcess, exitCode)) *exitCode = 0;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

bool RunElevated(HWND owner, const std::string& program, const std::string& parameters, bool wait,
                 int show) {
    SHELLEXECUTEINFOA sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_FLAG_DDEWAIT;
    if (wait) sei.fMask |= SEE_MASK_NOCLOSEPROCESS;
    sei.hwnd = owner;
    sei.lpVerb = "runas";
    sei.lpFile = program.c_str();
    sei.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    sei.nShow = show;
    EnsureCom();
    if (!ShellExecuteExA(&sei)) return false;
    // A request the shell handed to a running program gives no process to wait for.
    if (!wait || !sei.hProcess) return true;
    for (;;) {
        ProcessMessages();
        DWORD code = 0;
        // An exit code that cannot be read would otherwise keep the loop going forever.
        if (!GetExitCodeProcess(sei.hProcess, &code)) break;
        Sleep(100);
        MSG quit;
        if (code != STILL_ACTIVE || PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
            break;
    }
    CloseHandle(sei.hProcess);
    return true;
}

bool StartCommandProgram(const std::string& program, const std::string& parameters, int show,
                         bool wait, bool elevate, DWORD* exitCode) {
    if (wait)
        return elevate ? RunElevated(GetActiveWindow(), program, parameters, true, show)
                       : RunAndWait(program, parameters, show, exitCode);
    const bool exists = FileExists(program);
    if (exists && elevate) return RunElevated(GetActiveWindow(), program, parameters, false, show);
    EnsureCom();
    // An existing file by its full path, not its bare name, in its own folder: the shell
    // must not pick another file of that name from elsewhere on its search.
    const std::string folder = exists ? ExcludeTrailingBackslash(ExtractFilePath(program)) : "";
    HINSTANCE r = ShellExecuteA(nullptr, "open", program.c_str(),
                                exists && !parameters.empty() ? parameters.c_str() : nullptr,
                                folder.empty() ? nullptr : folder.c_str(), show);
    return reinterpret_cast<INT_PTR>(r) > 32;
}
