// Taking back what the installation registered with the system, while the files it
// names are still there.
#include "removal/RemovalEngine.h"

#include "platform/ContainedCall.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Registry.h"

#include <oleauto.h>
#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

const char kDesktopKey[] = "Control Panel\\Desktop";
const char kFontsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

struct UnregisterCall {
    FARPROC entry;
    HRESULT result;
};

void CallUnregister(void* arg) {
    auto* call = static_cast<UnregisterCall*>(arg);
    using Fn = HRESULT(WINAPI*)();
    call->result = reinterpret_cast<Fn>(reinterpret_cast<void*>(call->entry))();
}

void CallFree(void* arg) {
    FreeLibrary(static_cast<HMODULE>(arg));
}

std::string ShortForm(const std::string& path) {
    char buf[MAX_PATH] = {};
    const DWORD n = GetShortPathNameA(path.c_str(), buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buf, n) : path;
}

// Whether a setting names the file: as written, or by its short name (the system's
// screen-saver installer stores that).
bool NamesFile(const std::string& setting, const std::string& path) {
    return !setting.empty() &&
           (SameText(setting, path) || SameText(ShortForm(setting), ShortForm(path)));
}

std::string TypeLibraryKey(const TLIBATTR& a) {
    wchar_t guid[64] = {};
    StringFromGUID2(a.guid, guid, 64);
    std::string text;
    for (const wchar_t* p = guid; *p; ++p)
        text += static_cast<char>(*p);
    // The version key is written in hexadecimal ("1.a").
    return "TypeLib\\" + text + "\\" + HexText(a.wMajorVerNum, 1) + "." +
           HexText(a.wMinorVerNum, 1);
}

} // namespace

void TRemovalEngine::Unregister(const RemovalItems& items) {
    for (auto it = items.ActiveX.rbegin(); it != items.ActiveX.rend(); ++it)
        UnregisterActiveX(*it);
    for (auto it = items.TypeLibraries.rbegin(); it != items.TypeLibraries.rend(); ++it)
        UnregisterTypeLibrary(*it);
    for (auto it = items.Fonts.rbegin(); it != items.Fonts.rend(); ++it)
        RemoveFont(*it);
    for (const std::string& path : items.ScreenSavers)
        ResetScreenSaver(path);
    for (const std::string& path : items.Wallpapers)
        ResetWallpaper(path);
}

void TRemovalEngine::UnregisterActiveX(const std::string& path) {
    const char* section = "ActiveX";
    if (Refuses(section, path, path)) return;
    // No system error box for a library whose own dependencies are missing.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Its dependencies are looked for beside it, where they were installed.
    HMODULE lib = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD loadError = GetLastError();
    SetErrorMode(oldMode);
    if (!lib) {
        Fail(section, path, "LoadLibraryExA", loadError);
        return;
    }
    UnregisterCall call{GetProcAddress(lib, "DllUnregisterServer"), E_FAIL};
    if (!call.entry) {
        Fail(section, path, "GetProcAddress(DllUnregisterServer)", ERROR_PROC_NOT_FOUND);
    } else if (!CallContained(&CallUnregister, &call)) {
        // The library crashed in its own code: the removal goes on without it.
        Report(RemovalOutcome::Failed, section, path, "the library's code crashed",
               "DllUnregisterServer", static_cast<DWORD>(E_UNEXPECTED));
    } else if (FAILED(call.result)) {
        Fail(section, path, "DllUnregisterServer", static_cast<DWORD>(call.result));
    } else {
        Report(RemovalOutcome::Done, section, path, "unregistered");
    }
    CallContained(&CallFree, lib);
    ProcessMessages();
}

void TRemovalEngine::UnregisterTypeLibrary(const std::string& path) {
    const char* section = "TypeLibrary";
    if (Refuses(section, path, path)) return;
    const std::wstring file = WideFromAnsi(path);
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLibEx(file.c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr) || !lib) {
        Fail(section, path, "LoadTypeLibEx", static_cast<DWORD>(hr));
        return;
    }
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr) || !attr) {
        lib->Release();
        Fail(section, path, "ITypeLib::GetLibAttr", static_cast<DWORD>(hr));
        return;
    }
    const TLIBATTR a = *attr;
    lib->ReleaseTLibAttr(attr);
    lib->Release();
    TRegistry reg(RegistryReadAccess(false));
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    if (!reg.KeyExists(TypeLibraryKey(a))) {
        Report(RemovalOutcome::Skipped, section, path, "not registered");
    } else if (FAILED(hr = UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid,
                                             a.syskind))) {
        Fail(section, path, "UnRegisterTypeLib", static_cast<DWORD>(hr));
    } else {
        Report(RemovalOutcome::Done, section, path, "unregistered");
    }
    ProcessMessages();
}

void TRemovalEngine::RemoveFont(const std::string& path) {
    const char* section = "Fonts";
    if (Refuses(section, path, path)) return;
    // Added once for every time the installation listed it: taken out as often.
    int removed = 0;
    while (removed < 64 && RemoveFontResourceA(path.c_str()))
        ++removed;
    // A font that is also in the Fonts key would come back at the next start.
    int values = 0;
    TRegistry reg(RegistryFullAccess(false));
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    std::vector<std::string> names;
    if (reg.OpenKey(kFontsKey, false) && reg.GetValueNames(names)) {
        const std::string name = ExtractFileName(path);
        char fonts[MAX_PATH] = {};
        const bool inFontsFolder =
            SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_FONTS, nullptr, SHGFP_TYPE_CURRENT, fonts)) &&
            SameText(JoinPath(fonts, name), path);
        for (const std::string& n : names) {
            std::string data;
            if (reg.ReadString(n, data) &&
                (SameText(data, path) || (inFontsFolder && SameText(data, name))) &&
                reg.DeleteValue(n))
                ++values;
        }
    }
    if (removed == 0 && values == 0) {
        Report(RemovalOutcome::Skipped, section, path, "not in the font table");
        return;
    }
    SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    Report(RemovalOutcome::Done, section, path, "taken out of the font table");
}

void TRemovalEngine::ResetScreenSaver(const std::string& path) {
    const char* section = "ScreenSaver";
    TRegistry reg(RegistryFullAccess(false));
    reg.SetRootKey(HKEY_CURRENT_USER);
    std::string current;
    if (!reg.OpenKey(kDesktopKey, false) || !reg.ReadString("SCRNSAVE.EXE", current) ||
        !NamesFile(current, path)) {
        Report(RemovalOutcome::Skipped, section, path, "the screen saver is another one now");
        return;
    }
    if (!reg.DeleteValue("SCRNSAVE.EXE")) {
        Fail(section, path, "RegDeleteValueA", GetLastError());
        return;
    }
    // For this session; the stored setting stays what the user chose.
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, SPIF_SENDWININICHANGE);
    Report(RemovalOutcome::Done, section, path, "no longer the screen saver");
}

void TRemovalEngine::ResetWallpaper(const std::string& path) {
    const char* section = "Wallpaper";
    TRegistry reg(RegistryFullAccess(false));
    reg.SetRootKey(HKEY_CURRENT_USER);
    std::string current;
    if (!reg.OpenKey(kDesktopKey, false) || !reg.ReadString("Wallpaper", current) ||
        !NamesFile(current, path)) {
        Report(RemovalOutcome::Skipped, section, path, "the wallpaper is another one now");
        return;
    }
    reg.CloseKey();
    char none[] = "";
    if (!SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, none,
                               SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE)) {
        Fail(section, path, "SystemParametersInfoA", GetLastError());
        return;
    }
    Report(RemovalOutcome::Done, section, path, "no longer the wallpaper");
}
