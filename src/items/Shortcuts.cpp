// [Shortcuts] records: shell link files in the program group, on the desktop, in the
// quick-launch bar or anywhere a path names, with the folders they need, written
// through the system's shell-link object and recorded for the uninstaller.
#include "items/ItemHandlers.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/SafePath.h"
#include "platform/SystemLibrary.h"
#include "record/ItemFailure.h"
#include "record/UndoJournal.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/SetupLog.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <windows.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr size_t kFieldCount = 8;

bool Contains(const std::string& upperText, const char* what) {
    return upperText.find(what) != std::string::npos;
}

// The wizard's task boxes decide whether a record applies. The whole record is
// looked at, so a desktop mentioned in any field ties the record to the desktop box.
bool RecordApplies(const RunContext& ctx, const std::string& record) {
    const std::string up = UpperCase(record);
    if ((Contains(up, "<PROGRAMGROUP>") || Contains(up, "PROGRAMSMENU>")) &&
        ctx.Wizard.CheckPrograms)
        return false;
    if (Contains(up, "DESKTOP>") && !ctx.Wizard.CheckDesktop) return false;
    if (Contains(up, "<QUICKLAUNCH>") && !ctx.Wizard.CheckQuickLaunch) return false;
    return true;
}

// Replaces the first occurrence of what (ignoring case) in s.
std::string ReplaceFirstIgnoreCase(const std::string& s, const std::string& what,
                                   const std::string& with) {
    const size_t at = UpperCase(s).find(UpperCase(what));
    if (at == std::string::npos) return s;
    return s.substr(0, at) + with + s.substr(at + what.size());
}

// A user without administrator rights cannot write to the all-users folders, so a
// per-user installation puts such shortcuts into the user's own folders.
std::string PerUserPath(const RunContext& ctx, std::string field) {
    if (!ctx.PerUser || ctx.Admin) return field;
    static const char* const kRewrites[][2] = {
        {"<CommonDesktop>", "<Desktop>"},
        {"<CommonStartMenu>", "<StartMenu>"},
        {"<CommonProgramsMenu>", "<ProgramsMenu>"},
        {"<CommonStartUp>", "<StartUp>"},
    };
    for (const auto& r : kRewrites)
        field = ReplaceFirstIgnoreCase(field, r[0], r[1]);
    return field;
}

int ShowCommand(const std::string& field) {
    const std::string up = UpperCase(field);
    if (up == "MAXIMIZE" || up == "MAXIMIZED") return SW_SHOWMAXIMIZED;
    // Hidden would start the program invisibly with no way to reach it.
    if (up == "MINIMIZE" || up == "MINIMIZED" || up == "HIDE") return SW_SHOWMINNOACTIVE;
    return SW_SHOWNORMAL;
}

int IconIndex(const std::string& field) {
    int32_t value = 0;
    if (!ParseIniInteger(field, value)) value = 0;
    return static_cast<uint16_t>(value);
}

// Where the folder walk begins: just after the root of a drive path ("C:\") or
// after the server name of a network path, so the share is the first folder tested.
// npos for a path that names neither.
size_t WalkStart(const std::string& path) {
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
        path[2] == '\\')
        return 3;
    if (path.size() >= 3 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\') {
        const size_t server = path.find('\\', 2);
        if (server != std::string::npos && server + 1 < path.size()) return server + 1;
    }
    return std::string::npos;
}

// A shortcut path must say exactly where the file goes: a full path whose parts
// are never "." or ".." and which ends in a name. Otherwise a record (or a program
// group typed in the wizard) could place the link outside the folder it names.
bool IsSafeShortcutPath(const std::string& path) {
    const size_t start = WalkStart(path);
    if (start == std::string::npos) return false;
    size_t from = start;
    for (;;) {
        const size_t end = path.find_first_of("\\/", from);
        const std::string part =
            path.substr(from, end == std::string::npos ? std::string::npos : end - from);
        // The system drops trailing dots and blanks from a name, so ". ." and "..."
        // lead where ".." does.
        const size_t kept = part.find_last_not_of(". ");
        if (!part.empty() && kept == std::string::npos) return false;
        if (end == std::string::npos) return !part.empty();
        from = end + 1;
    }
}

void ReportFailure(RunContext& ctx, const char* logPrefix, int message, const std::string& item,
                   const FailureCause& cause = {}) {
    ReportItemFailure(ctx, logPrefix + item,
                      FormatText(LanguageText(ctx, "Messages", message), item), cause);
}

// Creates the missing folders of path's folder, outermost first, recording each one
// created. False (after reporting) when one cannot be created.
bool CreateShortcutFolders(RunContext& ctx, const std::string& path) {
    for (size_t i = WalkStart(path); i < path.size(); ++i) {
        if (path[i] != '\\') continue;
        const std::string folder = path.substr(0, i);
        if (DirectoryExists(folder)) continue;
        JournalCreatedFolder(ctx, folder);
        if (!CreateDirectoryA(folder.c_str(), nullptr)) {
            const FailureCause cause = LastErrorCause("CreateDirectoryA");
            // Made by someone else in the meantime: it exists, but is not ours.
            if (DirectoryExists(folder)) continue;
            ReportFailure(ctx, "Error creating directory: ", 13, folder, cause);
            return false;
        }
        LogEvent(ctx, "Created folder: " + folder);
        if (ctx.UninstallOn) RecordUninstallItem(ctx, "Folders", folder);
    }
    return true;
}

struct LinkFields {
    std::string path, target, description, arguments, workDir, iconFile;
    int iconIndex;
    int showCmd;
};

// Writes the link file. False when the shell-link object cannot be had or the file
// cannot be saved; both leave no shortcut behind, so both are the same failure.
bool SaveLink(const LinkFields& f) {
    EnsureCom();
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(__uuidof(ShellLink), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IShellLinkA), reinterpret_cast<void**>(&link))) ||
        !link)
        return false;
    link->SetArguments(f.arguments.c_str());
    link->SetDescription(f.description.c_str());
    link->SetPath(f.target.c_str());
    if (!f.workDir.empty()) link->SetWorkingDirectory(f.workDir.c_str());
    if (!f.iconFile.empty()) link->SetIconLocation(f.iconFile.c_str(), f.iconIndex);
    link->SetShowCmd(f.showCmd);

    bool saved = false;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(__uuidof(IPersistFile), reinterpret_cast<void**>(&file))) &&
        file) {
        const std::wstring wpath = WideFromAnsi(f.path);
        saved = !wpath.empty() && SUCCEEDED(file->Save(wpath.c_str(), FALSE));
        file->Release();
    }
    link->Release();
    return saved;
}

// Without a working folder of its own the shortcut starts in the target's folder,
// as long as the target is there to say which folder that is.
std::string WorkingFolder(const std::string& field, const std::string& target) {
    if (!field.empty()) return field;
    if (!FileExists(target)) return "";
    const std::string folder = ExtractFilePath(target);
    // "C:\" keeps its backslash: "C:" alone means the drive's current folder.
    if (folder.size() <= 3 && folder.size() >= 2 && folder[1] == ':') return folder;
    return ExcludeTrailingBackslash(folder);
}

void MakeShortcut(RunContext& ctx, const std::vector<std::string>& fields) {
    LinkFields f;
    f.path = ExpandText(ctx, PerUserPath(ctx, fields[0]));
    f.target = ExpandText(ctx, fields[1]);
    f.description = ExpandText(ctx, fields[2]);
    f.arguments = ExpandText(ctx, fields[3]);
    const std::string workField = ExpandText(ctx, fields[4]);
    f.iconFile = ExpandText(ctx, fields[5]);
    f.iconIndex = IconIndex(fields[6]);
    f.showCmd = ShowCommand(fields[7]);

    ctx.View.LFile = ShortDisplayPath(f.path);
    ctx.ShowInstallView();

    // Refused before any folder is made, so nothing lands outside the named place.
    if (!IsSafeShortcutPath(f.path)) {
        ReportFailure(ctx, "Error creating file: ", 16, f.path);
        return;
    }
    if (!CreateShortcutFolders(ctx, f.path)) return;

    f.workDir = WorkingFolder(workField, f.target);
    JournalReplacedFile(ctx, f.path);
    if (!SaveLink(f)) {
        ReportFailure(ctx, "Error creating file: ", 16, f.path);
        return;
    }
    LogEvent(ctx, "Created shortcut: " + f.path);
    if (ctx.UninstallOn) RecordUninstallItem(ctx, "Files", f.path);
}

} // namespace

void CreateShortcut(RunContext& ctx, const std::string& record) {
    if (!RecordApplies(ctx, record)) return;
    const std::vector<std::string> fields = SplitRecord(record, "*?");
    if (fields.size() != kFieldCount) return;
    MakeShortcut(ctx, fields);
    ProcessMessages();
}
