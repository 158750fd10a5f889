#include "uninstall/UninstallStart.h"

#include "platform/FileUtil.h"
#include "platform/Security.h"
#include "sysinfo/SystemInfo.h"

#include <tlhelp32.h>
#include <windows.h>

#include <cstdlib>

namespace {

const char kCopyName[] = "QVUninstall.exe";
const char kFolderPrefix[] = "QVUNINST";

HANDLE HandleArgument(const std::string& text) {
    return reinterpret_cast<HANDLE>(
        static_cast<uintptr_t>(std::strtoull(text.c_str(), nullptr, 10)));
}

std::string HandleText(HANDLE h) {
    return DecimalText(reinterpret_cast<uintptr_t>(h));
}

std::string SystemFolder() {
    char buf[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryA(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buf, n) : std::string();
}

std::string ImageOf(DWORD pid) {
    HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!p) return {};
    char buf[MAX_PATH * 2] = {};
    DWORD size = sizeof buf;
    const bool ok = QueryFullProcessImageNameA(p, 0, buf, &size);
    CloseHandle(p);
    return ok ? std::string(buf, size) : std::string();
}

} // namespace

UninstallArgs ParseUninstallArgs(const std::vector<std::string>& args) {
    UninstallArgs a;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        const std::string next = i + 1 < args.size() ? args[i + 1] : std::string();
        if (SameText(s, "/S")) {
            a.Silent = true;
        } else if (SameText(s, "/L")) {
            a.Logging = true;
        } else if (SameText(s, "/FROM")) {
            a.From = next;
            ++i;
        } else if (SameText(s, "/WAITFOR")) {
            a.WaitFor = HandleArgument(next);
            ++i;
        } else if (SameText(s, "/REPORT")) {
            a.Report = HandleArgument(next);
            ++i;
        }
    }
    return a;
}

void LeaveStartFolder() {
    const std::string sys = SystemFolder();
    if (!sys.empty()) SetCurrentDirectoryA(sys.c_str());
}

bool HasAdministratorRights() {
    return TOSInfo::IsAdmin();
}

bool IsProgramRunning(const std::string& path) {
    const std::string name = ExtractFileName(path);
    if (name.empty()) return false;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 pe{};
    pe.dwSize = sizeof pe;
    bool running = false;
    for (BOOL more = Process32First(snap, &pe); more && !running; more = Process32Next(snap, &pe)) {
        if (!SameText(pe.szExeFile, name)) continue;
        // Another program of the same name elsewhere is not the product's; one whose
        // file the system does not tell is taken for it.
        const std::string image = ImageOf(pe.th32ProcessID);
        running = image.empty() || SameText(image, path);
    }
    CloseHandle(snap);
    return running;
}

std::string CreateUninstallTempFolder() {
    const std::string temp = TempDir();
    if (temp.empty()) return {};
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 8);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string folder =
            JoinPath(temp, kFolderPrefix + HexText((seed + attempt * 7919) & 0xFFFF, 4));
        // A folder of that name that exists already is somebody else's. Private when
        // elevated: the copy started from it runs with those rights.
        if (CreateWorkFolder(folder)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

bool RunFromTemporaryCopy(const UninstallArgs& args, uint32_t& exitCode) {
    const std::string self = ModulePath();
    const std::string folder = CreateUninstallTempFolder();
    if (self.empty() || folder.empty()) return false;
    const std::string copy = JoinPath(folder, kCopyName);
    auto giveUp = [&] {
        DeleteFileA(copy.c_str());
        RemoveDirectoryA(folder.c_str());
        return false;
    };
    if (!CopyFileA(self.c_str(), copy.c_str(), TRUE)) return giveUp();

    // The copy inherits two handles: this process, so that it can wait for it to end
    // before deleting its file, and the writing end of the pipe its exit code comes back
    // through.
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr, me = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return giveUp();
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &me,
                         SYNCHRONIZE, TRUE, 0)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return giveUp();
    }
    std::string cmd = "\"" + copy + "\"";
    if (args.Silent) cmd += " /S";
    if (args.Logging) cmd += " /L";
    cmd +=
        " /FROM \"" + self + "\" /WAITFOR " + HandleText(me) + " /REPORT " + HandleText(writeEnd);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // The copy works from the system folder: a folder it is to delete must not be its
    // current folder.
    const std::string work = SystemFolder();
    const bool started = CreateProcessA(copy.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, work.empty() ? nullptr : work.c_str(), &si, &pi);
    CloseHandle(me);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return giveUp();
    }
    CloseHandle(pi.hThread);
    // The copy's boxes come to the front, as this program's would have (it was started
    // by the user, the copy only by this program).
    AllowSetForegroundWindow(pi.dwProcessId);
    uint32_t code = 0;
    DWORD got = 0;
    if (ReadFile(readEnd, &code, sizeof code, &got, nullptr) && got == sizeof code) {
        exitCode = code;
    } else {
        // The copy ended without a word: its own exit code is all there is.
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD ended = 0;
        GetExitCodeProcess(pi.hProcess, &ended);
        exitCode = ended;
    }
    CloseHandle(readEnd);
    CloseHandle(pi.hProcess);
    return true;
}

void ReportToOriginal(const UninstallArgs& args, uint32_t exitCode) {
    if (args.Report) {
        DWORD put = 0;
        WriteFile(args.Report, &exitCode, sizeof exitCode, &put, nullptr);
        CloseHandle(args.Report);
    }
    if (args.WaitFor) {
        // It ends as soon as it has read the code; a bound keeps a stuck one from
        // holding the removal for ever (its file then goes at the next restart).
        WaitForSingleObject(args.WaitFor, 30000);
        CloseHandle(args.WaitFor);
    }
}

void RemoveOwnFolderAfterExit() {
    const std::string self = ModulePath();
    const std::string folder = ExcludeTrailingBackslash(ExtractFilePath(self));
    const std::string name = ExtractFileName(folder);
    // Only a folder this program made for its copy: never the folder of a program
    // that was started from anywhere else.
    if (!SameText(ExtractFileName(self), kCopyName) ||
        !SameText(ExcludeTrailingBackslash(ExtractFilePath(folder)), TempDir()) ||
        !SameText(name.substr(0, sizeof kFolderPrefix - 1), kFolderPrefix))
        return;
    // The command processor expands "%NAME%" even between quotes: a path holding a
    // percent sign (the temporary folder is the user's to choose) could make it run
    // something else. Such a copy goes at the next restart instead.
    if (self.find('%') != std::string::npos) {
        MoveFileExA(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    const std::string sys = SystemFolder();
    // One try a second after this process ended, and two more later for a slow end;
    // "ping" is the wait the command processor has everywhere.
    const std::string attempt =
        "del /f /q \"" + self + "\" >nul 2>&1 & rd \"" + folder + "\" >nul 2>&1";
    const std::string wait = "ping -n 2 127.0.0.1 >nul & ";
    std::string cmd = "\"" + JoinPath(sys, "cmd.exe") + "\" /d /q /c " + wait + attempt +
                      " & if exist \"" + folder + "\" (ping -n 4 127.0.0.1 >nul & " + attempt +
                      ") & if exist \"" + folder + "\" (ping -n 8 127.0.0.1 >nul & " + attempt +
                      ")";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!sys.empty() &&
        CreateProcessA(JoinPath(sys, "cmd.exe").c_str(), cmd.data(), nullptr, nullptr, FALSE,
                       CREATE_NO_WINDOW, nullptr, sys.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return;
    }
    MoveFileExA(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}
