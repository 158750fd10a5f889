// [Others] records: registers an installed file with the system as a font, a
// self-registering library, a type library, the screen saver or the wallpaper.
#include "items/ItemHandlers.h"

#include "config/IniFile.h"
#include "platform/ContainedCall.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Registry.h"
#include "platform/SafePath.h"
#include "platform/SystemLibrary.h"
#include "record/ItemFailure.h"
#include "record/UndoJournal.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/SetupLog.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <oleauto.h>
#include <shellapi.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// A registration the system refused, with the kind's own message.
void ReportRefused(RunContext& ctx, const char* logPrefix, int message, const std::string& path,
                   const FailureCause& cause) {
    ReportItemFailure(ctx, logPrefix + path,
                      FormatText(LanguageText(ctx, "Messages", message), path), cause);
}

// The file must be there, named by a full path: a relative name would be looked up
// in the current folder (a Downloads folder, say) and the search path, so a planted
// library or font could be registered in place of the installed one.
bool FileToRegister(RunContext& ctx, const char* missingPrefix, const std::string& path) {
    if (IsSafeDestination(path) && FileExists(path)) return true;
    ReportItemFailure(ctx, missingPrefix + path, FormatText("File not found:<#>%s", path));
    return false;
}

void Record(RunContext& ctx, const char* section, const std::string& path, bool keep) {
    LogEvent(ctx, std::string("Registered ") + section + ": " + path);
    if (ctx.UninstallOn && !keep) RecordUninstallItem(ctx, section, path);
    JournalRegistration(ctx, section, path);
}

void RegisterFont(RunContext& ctx, const std::string& path, bool keep) {
    if (!FileToRegister(ctx, "Error font file: ", path)) return;
    if (AddFontResourceA(path.c_str()) == 0) {
        ReportRefused(ctx, "Error font: ", 21, path, LastErrorCause("AddFontResourceA"));
        return;
    }
    // One hung window must not hold up the installation.
    SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    Record(ctx, "Fonts", path, keep);
}

struct RegisterCall {
    FARPROC entry;
    HRESULT result;
};

void CallRegister(void* arg) {
    auto* call = static_cast<RegisterCall*>(arg);
    using Fn = HRESULT(WINAPI*)();
    call->result = reinterpret_cast<Fn>(reinterpret_cast<void*>(call->entry))();
}

void CallFree(void* arg) {
    FreeLibrary(static_cast<HMODULE>(arg));
}

void RegisterActiveX(RunContext& ctx, const std::string& path, bool keep) {
    if (!FileToRegister(ctx, "Error activex file: ", path)) return;
    // No system error box for a library whose own dependencies are missing.
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Its dependencies are looked for beside it, where they were installed.
    HMODULE lib = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetErrorMode(oldMode);
    // Not a library this process can load (a 64-bit one, say): not ours to register.
    if (!lib) return;
    RegisterCall call{GetProcAddress(lib, "DllRegisterServer"), E_FAIL};
    // A library that crashes or fails in its registration is not registered, and the
    // installation goes on.
    bool registered = call.entry && CallContained(&CallRegister, &call) && SUCCEEDED(call.result);
    CallContained(&CallFree, lib);
    if (registered)
        Record(ctx, "ActiveX", path, keep);
    else
        ReportRefused(ctx, "Error activex: ", 22, path,
                      {"DllRegisterServer", static_cast<uint32_t>(call.result)});
    ProcessMessages();
}

void RegisterTypeLibrary(RunContext& ctx, const std::string& path, bool keep) {
    if (!FileToRegister(ctx, "Error tlb file: ", path)) return;
    std::wstring file = WideFromAnsi(path);
    std::wstring helpDir = WideFromAnsi(ExcludeTrailingBackslash(ExtractFilePath(path)));
    ITypeLib* lib = nullptr;
    // Not a type library: nothing to register.
    if (FAILED(LoadTypeLibEx(file.c_str(), REGKIND_NONE, &lib)) || !lib) return;
    const HRESULT hr = RegisterTypeLib(lib, file.data(), helpDir.data());
    lib->Release();
    if (SUCCEEDED(hr))
        Record(ctx, "TypeLibrary", path, keep);
    else
        ReportRefused(ctx, "Error tlb: ", 23, path, {"RegisterTypeLib", static_cast<uint32_t>(hr)});
    ProcessMessages();
}

void InstallScreenSaver(RunContext& ctx, const std::string& path) {
    if (!FileToRegister(ctx, "Error src file: ", path)) return;
    // The system's own rundll32, never one lying in the current folder.
    char sys[MAX_PATH] = {};
    UINT n = GetSystemDirectoryA(sys, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    const std::string program = JoinPath(sys, "rundll32.exe");
    const std::string params = "desk.cpl,InstallScreenSaver " + path;
    EnsureCom();
    ShellExecuteA(nullptr, "open", program.c_str(), params.c_str(), nullptr, SW_SHOWNORMAL);
    Record(ctx, "ScreenSaver", path, false);
}

void SetWallpaper(RunContext& ctx, const std::string& path) {
    TRegistry reg(RegistryFullAccess(false));
    reg.SetRootKey(HKEY_CURRENT_USER);
    if (!reg.OpenKey("Control Panel\\Desktop", true) || !reg.WriteString("Wallpaper", path) ||
        !reg.WriteString("TileWallpaper", "0"))
        return;
    reg.CloseKey();
    // The path itself, not a null one: a null path asks for the default wallpaper.
    std::string file = path;
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, file.data(),
                          SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE);
    Record(ctx, "Wallpaper", path, false);
}

} // namespace

void ProcessOtherItem(RunContext& ctx, const std::string& record) {
    // A record whose file was not installed has been blanked.
    std::vector<std::string> f = SplitRecord(record, "*?");
    if (f.size() != 3) return;
    const std::string kind = UpperCase(f[0]);
    const std::string path = ExpandText(ctx, f[1]);
    const bool keep = UpperCase(f[2]) == "YES";

    auto status = [&](int index) {
        ctx.View.LTask = ExpandText(ctx, LanguageText(ctx, "Install", index));
        ctx.ShowInstallView();
    };
    if (kind == "FONT") {
        status(7);
        RegisterFont(ctx, path, keep);
    } else if (kind == "DLL/ACTIVEX") {
        status(8);
        RegisterActiveX(ctx, path, keep);
    } else if (kind == "TYPE LIBRARY") {
        status(9);
        RegisterTypeLibrary(ctx, path, keep);
    } else if (kind == "SCREENSAVER") {
        InstallScreenSaver(ctx, path);
    } else if (kind == "WALLPAPER") {
        SetWallpaper(ctx, path);
    } else {
        return;
    }
    ProcessMessages();
}
