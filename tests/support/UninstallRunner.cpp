#include "UninstallRunner.h"

#include "TestSupport.h"

#include <tlhelp32.h>

#include <cstring>

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

struct DialogSearch {
    DWORD pids[2];
    HWND found;
};

BOOL CALLBACK FindDialog(HWND wnd, LPARAM param) {
    auto* s = reinterpret_cast<DialogSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    char cls[64] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if ((pid == s->pids[0] || (s->pids[1] && pid == s->pids[1])) &&
        std::strcmp(cls, "#32770") == 0 && IsWindowVisible(wnd)) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// The process that parent started as QVUninstall.exe; 0 while there is none.
DWORD FindCopy(DWORD parent) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 pe{};
    pe.dwSize = sizeof pe;
    DWORD found = 0;
    for (BOOL more = Process32First(snap, &pe); more && !found; more = Process32Next(snap, &pe))
        if (pe.th32ParentProcessID == parent && _stricmp(pe.szExeFile, "QVUninstall.exe") == 0)
            found = pe.th32ProcessID;
    CloseHandle(snap);
    return found;
}

} // namespace

std::vector<std::string> UninstallerTempFolders(const std::string& tempDir) {
    return ListFolders(tempDir, "QVUNINST");
}

UninstallRun RunUninstaller(const std::string& program, const std::string& args,
                            const std::string& tempDir, DWORD timeoutMs, const BoxAnswer& answer) {
    UninstallRun run;
    TempEnvironment env(tempDir);
    std::string cmd = "\"" + program + "\"" + (args.empty() ? "" : " " + args);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // Started in its own folder, as the installed-programs list and a later setup do.
    const std::string folder = program.substr(0, program.find_last_of('\\'));
    if (!CreateProcessA(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &si, &pi)) {
        ADD_FAILURE() << "cannot start " << program << " (error " << GetLastError() << ")";
        return run;
    }
    CloseHandle(pi.hThread);
    const DWORD start = GetTickCount();
    HANDLE copy = nullptr;
    DWORD copyPid = 0;
    HWND lastAnswered = nullptr;
    bool originalEnded = false;
    for (;;) {
        if (!copy) {
            copyPid = FindCopy(pi.dwProcessId);
            if (copyPid) {
                copy = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, copyPid);
                run.copySeen = copy != nullptr;
            }
        }
        if (!originalEnded && WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            originalEnded = true;
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            run.exitCode = code;
        }
        const bool copyEnded = !copy || WaitForSingleObject(copy, 0) == WAIT_OBJECT_0;
        if (originalEnded && copyEnded && UninstallerTempFolders(tempDir).empty()) break;
        DialogSearch s{{pi.dwProcessId, copyPid}, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
        if (s.found && s.found != lastAnswered) {
            run.boxes.push_back(ReadAndAnswerBox(s.found, answer));
            lastAnswered = s.found;
        }
        if (GetTickCount() - start > timeoutMs) {
            run.timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            if (copy) TerminateProcess(copy, 0xDEAD);
            break;
        }
        Sleep(50);
    }
    if (copy) {
        DWORD code = 0;
        if (GetExitCodeProcess(copy, &code) && code != STILL_ACTIVE) run.copyExitCode = code;
        CloseHandle(copy);
    }
    CloseHandle(pi.hProcess);
    return run;
}

void AddUninstallerToProject(const std::string& projectDir) {
    CreateDirectoryA((projectDir + "\\setup").c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileA(QV_UNINSTALLER_PATH, (projectDir + "\\setup\\QVUninstall.exe").c_str(), FALSE))
        << QV_UNINSTALLER_PATH;
}

std::vector<std::string> PendingRestartDeletes(const std::string& folder, bool remove) {
    std::vector<std::string> found;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return found;
    DWORD size = 0, type = 0;
    std::vector<char> data;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
        ERROR_SUCCESS) {
        data.resize(size + 2);
        RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size);
    }
    // Pairs of texts: source ("\\??\\C:\\..."), then target (empty for a deletion); the
    // empty ones make the usual end-of-list test useless, so the size decides.
    std::vector<std::string> texts;
    std::string current;
    for (DWORD i = 0; i < size && i < data.size(); ++i) {
        if (data[i] == '\0') {
            texts.push_back(current);
            current.clear();
        } else {
            current += data[i];
        }
    }
    std::string kept;
    const std::string prefix = "\\??\\" + folder;
    for (size_t i = 0; i + 1 < texts.size(); i += 2) {
        const std::string& source = texts[i];
        const std::string& target = texts[i + 1];
        const bool ours = _strnicmp(source.c_str(), prefix.c_str(), prefix.size()) == 0 ||
                          _strnicmp(source.c_str(), folder.c_str(), folder.size()) == 0;
        if (ours)
            found.push_back(source);
        else
            kept += source + '\0' + target + '\0';
    }
    if (remove && !found.empty()) {
        if (kept.empty())
            RegDeleteValueA(key, "PendingFileRenameOperations");
        else
            RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(kept.c_str()),
                           static_cast<DWORD>(kept.size() + 1));
    }
    RegCloseKey(key);
    return found;
}
