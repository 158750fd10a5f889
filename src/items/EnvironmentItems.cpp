// [Environments] records: creating, extending, replacing or removing one
// environment variable in the registry, and what the uninstaller needs to undo it.
#include "items/ItemHandlers.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Registry.h"
#include "record/UndoJournal.h"
#include "record/ItemFailure.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/SetupLog.h"
#include "text/ExpandText.h"

#include <windows.h>

#include <vector>

namespace {

const char kSystemEnvironment[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char kUserEnvironment[] = "Environment";

enum class Action { Remove, Append, Prepend, Overwrite, None };

Action ParseAction(const std::string& upper) {
    if (upper == "REMOVE") return Action::Remove;
    if (upper == "APPEND") return Action::Append;
    if (upper == "PREPEND") return Action::Prepend;
    if (upper == "OVERWRITE") return Action::Overwrite;
    return Action::None;
}

struct EnvironmentChange {
    std::string name, value;
    Action action;
    bool record; // the uninstaller is to undo it
};

void Record(RunContext& ctx, const EnvironmentChange& c, const std::string& entry) {
    if (c.record) RecordUninstallItem(ctx, "Environment", entry);
}

// False when the variable could not be changed as asked.
bool ApplyChange(RunContext& ctx, const EnvironmentChange& c) {
    // An empty name would address the key's default value, and no variable can
    // have "=" in its name: neither is a variable that can be set.
    if (c.name.empty() || c.name.find('=') != std::string::npos) return false;

    // The system environment needs administrator rights; everyone else changes
    // their own, whatever the installation's scope.
    TRegistry reg(RegistryFullAccess(ctx.Is64));
    reg.SetRootKey(ctx.Admin ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER);
    if (!reg.OpenKey(ctx.Admin ? kSystemEnvironment : kUserEnvironment, false)) return false;

    const bool exists = reg.ValueExists(c.name);
    JournalEnvironment(ctx, ctx.Admin ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                       ctx.Is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY,
                       ctx.Admin ? kSystemEnvironment : kUserEnvironment, c.name);
    if (c.action == Action::Remove) return !exists || reg.DeleteValue(c.name);

    std::string old;
    // A value that is not text cannot be extended or given back by the
    // uninstaller, so it is left alone.
    if (exists && !reg.ReadString(c.name, old)) return false;

    if (exists && (c.action == Action::Append || c.action == Action::Prepend)) {
        const std::string text =
            c.action == Action::Append ? old + ";" + c.value : c.value + ";" + old;
        if (!reg.WriteString(c.name, text)) return false;
        Record(ctx, c, "U" + c.name + "*?" + c.value);
        return true;
    }
    if (exists) {
        // Noted before the change, so the previous value survives a failed write.
        Record(ctx, c, "W" + c.name + "*?" + old);
        return reg.WriteString(c.name, c.value);
    }
    if (!reg.WriteString(c.name, c.value)) return false;
    Record(ctx, c, "D" + c.name);
    return true;
}

} // namespace

void WriteEnvironmentItem(RunContext& ctx, const std::string& record) {
    std::vector<std::string> fields = SplitRecord(record, "*?");
    if (fields.size() != 4) return;
    EnvironmentChange c{ExpandText(ctx, fields[0]), ExpandText(ctx, fields[1]),
                        ParseAction(UpperCase(fields[2])),
                        ctx.UninstallOn && UpperCase(fields[3]) == "YES"};
    if (c.action != Action::None && !ApplyChange(ctx, c)) {
        ReportItemFailure(ctx, "Error setting environment variable: " + c.name,
                          "Error environment variable: " + c.name);
    } else if (c.action != Action::None) {
        LogEvent(ctx, "Set environment variable: " + c.name);
    }
    ProcessMessages();
}
