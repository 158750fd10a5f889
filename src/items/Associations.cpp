// [Extensions] records: makes the installed program the one that opens files of an
// extension, through a file type class named after the extension.
#include "items/ItemHandlers.h"

#include "config/IniFile.h"
#include "platform/MessagePump.h"
#include "platform/Registry.h"
#include "record/ItemFailure.h"
#include "record/UndoJournal.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/SetupLog.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

const char kClasses[] = "SOFTWARE\\Classes\\";
const char kUserClasses[] = "Software\\Classes\\.";
const char kExplorerChoice[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.";

// An extension names one key below the classes: an empty one would make the class
// "file" (a type the setup does not own, which the uninstaller would then remove),
// and a backslash would reach into other keys.
bool UsableExtension(const std::string& ext) {
    return !ext.empty() && ext.find('\\') == std::string::npos;
}

// Each key's default value; false at the first key that cannot be opened or written,
// since an association missing one of its parts does not work.
bool WriteClassKeys(HKEY root, const std::string& ext, const std::string& program,
                    const std::string& description, const std::string& icon) {
    const std::string cls = ext + "file";
    const std::pair<std::string, std::string> keys[] = {
        {kClasses + std::string(".") + ext, cls},
        {kClasses + cls, description},
        {kClasses + cls + "\\DefaultIcon", icon},
        {kClasses + cls + "\\shell\\open\\command", program + " \"%1\""},
    };
    TRegistry reg(RegistryFullAccess(false));
    reg.SetRootKey(root);
    for (const auto& [key, value] : keys)
        if (!reg.OpenKey(key, true) || !reg.WriteString("", value)) return false;
    return true;
}

// A per-user association or the user's remembered program would hide the new one.
void RemoveUserOverrides(const std::string& ext, bool machineWide) {
    TRegistry user(RegistryFullAccess(false));
    user.SetRootKey(HKEY_CURRENT_USER);
    if (machineWide && user.KeyExists(kUserClasses + ext)) user.DeleteKey(kUserClasses + ext);
    if (user.KeyExists(kExplorerChoice + ext)) user.DeleteKey(kExplorerChoice + ext);
}

} // namespace

void CreateAssociation(RunContext& ctx, const std::string& record) {
    std::vector<std::string> f = SplitRecord(record, "*?");
    if (f.size() != 5) return;
    const std::string& ext = f[0];
    const std::string program = ExpandText(ctx, f[1]);
    const std::string description = ExpandText(ctx, f[2]);
    const std::string iconFile = ExpandText(ctx, f[3]);
    const std::string icon = iconFile.empty() ? program + ",0" : iconFile + "," + f[4];

    const bool machineWide = ctx.Admin && !ctx.PerUser;
    const HKEY root = machineWide ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::string rootName = machineWide ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";

    const bool usable = UsableExtension(ext);
    if (usable) {
        // Keys the association creates go again when the run is rolled back.
        for (const std::string& key :
             {kClasses + std::string(".") + ext, kClasses + ext + "file"}) {
            HKEY k;
            if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &k) ==
                ERROR_SUCCESS)
                RegCloseKey(k);
            else
                JournalCreatedKey(ctx, "3" + rootName + "\\" + key);
        }
    }
    if (usable && WriteClassKeys(root, ext, program, description, icon)) {
        LogEvent(ctx, "Created association: ." + ext);
        if (ctx.UninstallOn) {
            RecordUninstallItem(ctx, "RegistryKeys", "3" + rootName + "\\" + kClasses + "." + ext);
            RecordUninstallItem(ctx, "RegistryKeys",
                                "3" + rootName + "\\" + kClasses + ext + "file");
        }
    } else {
        ReportItemFailure(ctx, "Error creating association: ." + ext,
                          FormatText(LanguageText(ctx, "Messages", 20), "." + ext));
    }
    ProcessMessages();
    if (usable) RemoveUserOverrides(ext, machineWide);
    ProcessMessages();
}
