// The least a program can be, to time what starting a process costs: built twice, once
// importing only the C runtime and kernel32, once importing the same window and shell
// libraries as the runtime (and with its manifest), so the benchmark can tell the
// system's start-up cost from the runtime's own work.
#include <windows.h>
#ifdef QV_WITH_WINDOW_LIBRARIES
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shlobj.h>
#endif

volatile int g_never = 0; // keeps the calls below (never made) in the import table

int main() {
#ifdef QV_WITH_WINDOW_LIBRARIES
    if (g_never == 1) {
        MessageBoxA(nullptr, "", "", 0);
        DeleteObject(nullptr);
        RegCloseKey(nullptr);
        SHGetSpecialFolderLocation(nullptr, 0, nullptr);
        CoInitializeEx(nullptr, 0);
        SysFreeString(nullptr);
    }
#endif
    return 0;
}
