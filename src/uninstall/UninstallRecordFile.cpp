#include "uninstall/UninstallRecordFile.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <windows.h>

namespace {

const char* const kDefaultMessages[7] = {
    "<AppName> Uninstall",
    "Are you sure you want to completely remove <AppName> and all of its components?",
    "<AppName> was successfully removed from your computer.",
    "Would you like to visit the <AppName> web page now?",
    "Please close <AppName> before continuing.<#><#>Click Retry to continue, or Cancel to exit.",
    "You must restart your computer to complete the removal of <AppName>.<#><#>Restart now?",
    "Uninstalling <AppName> requires Administrator Privileges.",
};

int ShowCommand(const std::string& window) {
    const std::string w = UpperCase(window);
    if (w == "MAXIMIZE") return SW_SHOWMAXIMIZED;
    if (w == "MINIMIZE") return SW_SHOWMINIMIZED;
    if (w == "HIDE") return SW_HIDE;
    return SW_SHOWNORMAL;
}

// Whether the file can be opened for reading (a record the system's profile functions
// cannot open reads as empty, which must not pass for a record without items).
DWORD OpenError(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return ERROR_SUCCESS;
}

std::vector<UninstallCommand> Commands(const std::string& path, const char* section) {
    std::vector<UninstallCommand> out;
    for (const std::string& text : ReadRecordList(path, section))
        out.push_back(ParseUninstallCommand(text));
    return out;
}

} // namespace

std::string DefaultUninstallMessage(int index, const std::string& appName) {
    if (index < 0 || index > 6) return {};
    return ReplaceTextIgnoreCase(kDefaultMessages[index], "<AppName>", appName);
}

UninstallCommand ParseUninstallCommand(const std::string& text) {
    UninstallCommand c;
    c.Text = text;
    // The elevate field is last; a record that lost it (it was empty) does not elevate.
    const std::vector<std::string> f = SplitRecord(text, "*?");
    if ((f.size() != 5 && f.size() != 4) || f[0].empty()) return c;
    c.Program = f[0];
    c.Parameters = f[1];
    c.Show = ShowCommand(f[2]);
    c.Wait = UpperCase(f[3]) == "YES";
    c.Elevate = f.size() == 5 && UpperCase(f[4]) == "YES";
    c.Valid = true;
    return c;
}

RecordProblem ReadUninstallRecordFile(const std::string& path, UninstallRecordData& out) {
    out = UninstallRecordData();
    const DWORD error = OpenError(path);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return RecordProblem::Missing;
    if (error != ERROR_SUCCESS || !FileExists(path)) return RecordProblem::Unreadable;
    // No installation writes a record near this size; a larger file (damaged, or made
    // to) would be read key by key, each read going through the whole file again.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) || data.nFileSizeHigh ||
        data.nFileSizeLow > kKeyListLimit)
        return RecordProblem::Unreadable;

    TIniFile ini(path);
    const char* g = "General";
    UninstallRecordData r;
    r.Path = path;
    r.InstallDir = ini.ReadString(g, "InstallDir", "");
    // Every record names its installation folder: a file without it is not a record
    // (or not one any more), and nothing in it is acted on.
    if (r.InstallDir.empty()) return RecordProblem::Unreadable;
    r.AppName = ini.ReadString(g, "AppName", "");
    r.AppVersion = ini.ReadString(g, "AppVersion", "");
    r.GUID = ini.ReadString(g, "GUID", "");
    r.MainExecutable = ini.ReadString(g, "MainExecutable", "");
    r.ProgramGroupDir = ini.ReadString(g, "ProgramGroupDir", "");
    r.UninstallURL = ini.ReadString(g, "UninstallURL", "");
    r.Admin = ini.ReadBool(g, "Admin", false);
    r.X64 = ini.ReadBool(g, "x64", false);
    const std::string scope = ini.ReadString(g, "SystemEnvironment", "");
    if (scope == "0" || scope == "1") r.SystemEnvironment = scope == "1";
    r.UninstallForce = ini.ReadBool(g, "UninstallForce", false);
    r.UninstallRestart = ini.ReadBool(g, "UninstallRestart", false);
    r.SilentMode = ini.ReadBool(g, "SilentMode", false);
    for (int i = 0; i <= 6; ++i) {
        std::string text = ini.ReadString("Messages", std::to_string(i), "");
        if (Trim(text).empty()) text = DefaultUninstallMessage(i, r.AppName);
        // The record keeps line breaks as "<#>", as the language files write them.
        r.Messages[i] = FormatText(text, "");
    }
    r.ExecBefore = Commands(path, "ExecBeforeUninstall");
    r.ExecAfter = Commands(path, "ExecAfterUninstall");
    r.Items = ReadRemovalItems(path);
    out = std::move(r);
    return RecordProblem::None;
}
