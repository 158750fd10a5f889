#include "removal/RemovalSafety.h"

#include "platform/FileUtil.h"
#include "platform/SafePath.h"

#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The path with every short (8.3) name in it written out; the path itself when the
// system cannot tell (it does not exist).
std::string LongForm(const std::string& path) {
    const DWORD needed = GetLongPathNameA(path.c_str(), nullptr, 0);
    if (needed == 0) return path;
    std::string out(needed, '\0');
    const DWORD n = GetLongPathNameA(path.c_str(), out.data(), needed);
    if (n == 0 || n >= needed) return path;
    out.resize(n);
    return out;
}

void AddFolder(std::vector<std::string>& out, const std::string& path) {
    if (path.size() < 3) return; // nothing, or a drive: the path rule covers drives
    // Only a path with a short name in it is written out: asking the system costs a
    // look-up of every folder on the path (a tenth of a removal's time under Wine).
    std::string p = ExcludeTrailingBackslash(path);
    if (p.find('~') != std::string::npos) p = LongForm(p);
    if (std::none_of(out.begin(), out.end(), [&](const std::string& f) { return SameText(f, p); }))
        out.push_back(p);
}

std::string ShellFolder(int csidl) {
    char buf[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) return {};
    return buf;
}

std::string EnvironmentFolder(const char* name) {
    char buf[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableA(name, buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buf, n) : std::string();
}

std::vector<std::string> CollectProtectedFolders() {
    static const int kShellFolders[] = {CSIDL_DESKTOPDIRECTORY,
                                        CSIDL_COMMON_DESKTOPDIRECTORY,
                                        CSIDL_PROGRAMS,
                                        CSIDL_COMMON_PROGRAMS,
                                        CSIDL_STARTMENU,
                                        CSIDL_COMMON_STARTMENU,
                                        CSIDL_STARTUP,
                                        CSIDL_COMMON_STARTUP,
                                        CSIDL_PERSONAL,
                                        CSIDL_COMMON_DOCUMENTS,
                                        CSIDL_APPDATA,
                                        CSIDL_LOCAL_APPDATA,
                                        CSIDL_COMMON_APPDATA,
                                        CSIDL_WINDOWS,
                                        CSIDL_SYSTEM,
                                        CSIDL_SYSTEMX86,
                                        CSIDL_PROGRAM_FILES,
                                        CSIDL_PROGRAM_FILESX86,
                                        CSIDL_PROGRAM_FILES_COMMON,
                                        CSIDL_PROGRAM_FILES_COMMONX86,
                                        CSIDL_PROFILE,
                                        CSIDL_FONTS,
                                        CSIDL_TEMPLATES,
                                        CSIDL_COMMON_TEMPLATES,
                                        CSIDL_FAVORITES,
                                        CSIDL_COMMON_FAVORITES,
                                        CSIDL_MYPICTURES,
                                        CSIDL_MYMUSIC,
                                        CSIDL_MYVIDEO,
                                        CSIDL_COMMON_PICTURES,
                                        CSIDL_COMMON_MUSIC,
                                        CSIDL_COMMON_VIDEO,
                                        CSIDL_SENDTO,
                                        CSIDL_RECENT,
                                        CSIDL_NETHOOD,
                                        CSIDL_PRINTHOOD,
                                        CSIDL_INTERNET_CACHE,
                                        CSIDL_COOKIES,
                                        CSIDL_HISTORY,
                                        CSIDL_ADMINTOOLS,
                                        CSIDL_COMMON_ADMINTOOLS,
                                        CSIDL_RESOURCES,
                                        CSIDL_CDBURN_AREA};
    std::vector<std::string> out;
    for (int csidl : kShellFolders)
        AddFolder(out, ShellFolder(csidl));
    const std::string appData = ShellFolder(CSIDL_APPDATA);
    if (!appData.empty()) AddFolder(out, appData + "\\Microsoft\\Internet Explorer\\Quick Launch");
    // The 64-bit folders, which a 32-bit program is not told about by the shell.
    for (const char* name : {"ProgramW6432", "CommonProgramW6432", "ProgramFiles", "SystemRoot",
                             "windir", "ALLUSERSPROFILE", "PUBLIC", "USERPROFILE"})
        AddFolder(out, EnvironmentFolder(name));
    char buf[MAX_PATH] = {};
    UINT n = GetSystemWow64DirectoryA(buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH) AddFolder(out, std::string(buf, n));
    AddFolder(out, TempDir());
    return out;
}

// The folder that holds the profiles of all users ("C:\Users"), or empty.
const std::string& ProfilesFolder() {
    static const std::string folder = [] {
        const std::string profile = ShellFolder(CSIDL_PROFILE);
        return profile.empty() ? std::string()
                               : LongForm(ExcludeTrailingBackslash(ExtractFilePath(profile)));
    }();
    return folder;
}

// Whether a equals b or holds it (b lies somewhere below a).
bool SameOrHolds(const std::string& a, const std::string& b) {
    if (SameText(a, b)) return true;
    return b.size() > a.size() + 1 && b[a.size()] == '\\' && SameText(a, b.substr(0, a.size()));
}

std::vector<std::string> Components(const std::string& key) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= key.size()) {
        const size_t end = key.find('\\', start);
        const std::string part = key.substr(start, end == std::string::npos ? end : end - start);
        if (!part.empty()) parts.push_back(part);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

std::string Join(const std::vector<std::string>& parts, size_t from) {
    std::string out;
    for (size_t i = from; i < parts.size(); ++i)
        out += (out.empty() ? "" : "\\") + parts[i];
    return out;
}

// Keys every program shares below HKLM and HKCU (and a user's hive), written once for
// both registry views: the 32-bit view's "Wow6432Node" is taken out before comparing.
const char* const kSharedKeys[] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    "Software\\Microsoft\\Cryptography",
    "Software\\Policies\\Microsoft",
    "Software\\Clients",
    "Software\\RegisteredApplications",
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
    "SYSTEM\\CurrentControlSet\\Control\\Class",
    "SYSTEM\\CurrentControlSet\\Control\\Print",
    "SYSTEM\\CurrentControlSet\\Control\\Nls",
    "SYSTEM\\CurrentControlSet\\Control\\Lsa",
    "SYSTEM\\CurrentControlSet\\Control\\SafeBoot",
    "SYSTEM\\CurrentControlSet\\Services",
    "SYSTEM\\CurrentControlSet\\Enum",
    "SYSTEM\\MountedDevices",
    "SYSTEM\\Setup",
    "SYSTEM\\Select",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Installer",
    "Control Panel\\Desktop",
    "Control Panel\\International",
};

// Classes every program shares (below HKCR, or Software\Classes of HKLM and HKCU).
const char* const kSharedClasses[] = {
    "CLSID",
    "Interface",
    "TypeLib",
    "AppID",
    "Applications",
    "MIME\\Database\\Content Type",
    "SystemFileAssociations",
    "Local Settings",
    "Unknown",
    "*\\shell",
    "*\\shellex\\ContextMenuHandlers",
    "*\\shellex\\PropertySheetHandlers",
    "AllFilesystemObjects\\shellex\\ContextMenuHandlers",
    "Directory\\shell",
    "Directory\\shellex\\ContextMenuHandlers",
    "Directory\\Background\\shell",
    "Directory\\Background\\shellex\\ContextMenuHandlers",
    "Drive\\shell",
    "Drive\\shellex\\ContextMenuHandlers",
    "Folder\\shell",
    "Folder\\shellex\\ContextMenuHandlers",
    "exefile",
    "lnkfile",
    "batfile",
    "cmdfile",
    "comfile",
    "dllfile",
    "txtfile",
    "inifile",
    "regfile",
    "htmlfile",
    "Msi.Package",
    "Installer",
    "http",
    "https",
    "ftp",
    "mailto",
    ".exe",
    ".lnk",
    ".bat",
    ".cmd",
    ".com",
    ".dll",
    ".txt",
    ".ini",
    ".reg",
    ".htm",
    ".html",
    ".msi",
    ".zip",
};

// Whether the key (as components) is one of the list or holds one of them.
bool IsOrHoldsListed(const std::vector<std::string>& parts, const char* const* list, size_t n) {
    const std::string key = Join(parts, 0);
    for (size_t i = 0; i < n; ++i)
        if (SameOrHolds(key, list[i])) return true;
    return false;
}

std::string ClassesRefusal(const std::vector<std::string>& parts) {
    if (parts.empty()) return "Classes itself";
    if (IsOrHoldsListed(parts, kSharedClasses, std::size(kSharedClasses)))
        return "a class every program shares";
    return {};
}

std::vector<std::string> WithoutWow64Node(const std::vector<std::string>& parts) {
    std::vector<std::string> out;
    for (const std::string& p : parts)
        if (!SameText(p, "Wow6432Node")) out.push_back(p);
    return out;
}

// A control set by number is the current one under another name.
void CurrentControlSetName(std::vector<std::string>& parts) {
    if (parts.size() >= 2 && SameText(parts[0], "SYSTEM") && parts[1].size() == 13 &&
        SameText(parts[1].substr(0, 10), "ControlSet"))
        parts[1] = "CurrentControlSet";
}

// A key below HKLM, HKCU or a user's hive, without its root (and user).
std::string HiveKeyRefusal(const std::vector<std::string>& original) {
    if (original.size() <= 1) return "a first-level key";
    std::vector<std::string> parts = WithoutWow64Node(original);
    if (parts.size() <= 1) return "a first-level key";
    CurrentControlSetName(parts);
    if (SameText(parts[0], "Software") && SameText(parts[1], "Classes"))
        return ClassesRefusal(std::vector<std::string>(parts.begin() + 2, parts.end()));
    if (IsOrHoldsListed(parts, kSharedKeys, std::size(kSharedKeys)))
        return "a key every program shares";
    return {};
}

// The path as the system opens it: each part without the dots and blanks at its end,
// which the system drops ("C:\\Windows .\\" is the Windows folder).
std::string WithoutTrailingDotsAndBlanks(const std::string& path) {
    std::string out;
    size_t from = 0;
    for (;;) {
        const size_t end = path.find('\\', from);
        std::string part = path.substr(from, end == std::string::npos ? end : end - from);
        while (!part.empty() && (part.back() == '.' || part.back() == ' '))
            part.pop_back();
        out += part;
        if (end == std::string::npos) return out;
        out += '\\';
        from = end + 1;
    }
}

} // namespace

const std::vector<std::string>& ProtectedFolders() {
    static const std::vector<std::string> folders = CollectProtectedFolders();
    return folders;
}

std::string PathRefusal(const std::string& path, const std::vector<std::string>& extraProtected) {
    if (!IsSafeDestination(path)) return "not a plain absolute path";
    // Only a path with a short name in it can be another spelling of a protected folder
    // (asking the system costs a look-up of every folder on the path).
    const std::string plain = WithoutTrailingDotsAndBlanks(path);
    const std::string form = plain.find('~') == std::string::npos ? plain : LongForm(plain);
    for (const std::string& p : ProtectedFolders())
        if (SameOrHolds(form, p)) return "a folder of the system or the shell";
    for (const std::string& p : extraProtected)
        if (SameOrHolds(form, LongForm(ExcludeTrailingBackslash(p))))
            return "a folder of the system or the shell";
    // A user's own profile folder, whoever the user is.
    const std::string& profiles = ProfilesFolder();
    if (!profiles.empty() && SameText(ExcludeTrailingBackslash(ExtractFilePath(form)), profiles))
        return "a user's profile folder";
    return {};
}

std::string KeyRefusal(const std::string& root, const std::string& key) {
    const std::vector<std::string> parts = Components(key);
    if (parts.empty()) return "a registry root";
    if (SameText(root, "HKEY_CLASSES_ROOT")) return ClassesRefusal(WithoutWow64Node(parts));
    if (SameText(root, "HKEY_USERS")) {
        if (parts.size() <= 2) return "a first-level key";
        const std::vector<std::string> rest(parts.begin() + 1, parts.end());
        // A user's classes hive ("<user>_Classes") holds classes, not a whole hive.
        const std::string& user = parts[0];
        if (user.size() > 8 && SameText(user.substr(user.size() - 8), "_Classes"))
            return ClassesRefusal(WithoutWow64Node(rest));
        return HiveKeyRefusal(rest);
    }
    return HiveKeyRefusal(parts);
}

bool IsInstalledProgramsEntry(const std::string& key) {
    std::vector<std::string> parts = WithoutWow64Node(Components(key));
    // A user's hive names the user first.
    if (parts.size() == 7 && !SameText(parts[0], "Software")) parts.erase(parts.begin());
    if (parts.size() != 6) return false;
    parts.pop_back();
    return SameText(Join(parts, 0), "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
}
