#include "platform/SystemLibrary.h"

#include <objbase.h>

#include <string>

// LOAD_LIBRARY_SEARCH_SYSTEM32 needs Windows 8 or Windows 7 with KB2533623 (which
// also brings AddDllDirectory); where the flag is unknown LoadLibraryExA fails with
// ERROR_INVALID_PARAMETER and the full path of the system folder is used instead.
HMODULE LoadSystemLibrary(const char* name) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const bool flagSupported = kernel && GetProcAddress(kernel, "AddDllDirectory");
    if (flagSupported) {
        HMODULE h = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (h || GetLastError() != ERROR_INVALID_PARAMETER) return h;
    }
    char dir[MAX_PATH];
    UINT n = GetSystemDirectoryA(dir, MAX_PATH);
    if (n == 0) return nullptr;
    if (n >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::string path(dir, n);
    if (path.back() != '\\') path += '\\';
    path += name;
    return LoadLibraryA(path.c_str());
}

void RestrictDllSearchToSystemFolder() {
    // The call exists from Windows 8 on, and on Windows 7 with its loader update.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto fn = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (fn) fn(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA(""); // takes the current folder out of the search where the above is missing
}

FARPROC SystemProc(const char* dll, const char* name) {
    HMODULE h = GetModuleHandleA(dll);
    // The side-by-side redirection of the manifest applies only to a bare name; it
    // also keeps a planted comctl32.dll beside the setup from being used.
    if (!h) h = lstrcmpiA(dll, "comctl32.dll") == 0 ? LoadLibraryA(dll) : LoadSystemLibrary(dll);
    return h ? GetProcAddress(h, name) : nullptr;
}

void EnsureCom() {
    static const bool initialised = [] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        return true;
    }();
    (void)initialised;
}
