// The product's entry among the installed programs, under the system's Uninstall
// key, which starts the uninstaller placed in the destination folder.
#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "record/ItemFailure.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/SetupKeys.h"
#include "run/SetupLog.h"
#include "text/ExpandText.h"
#include "text/Language.h"
#include "text/Versions.h"

#include <windows.h>

#include <algorithm>

namespace {

// The entry's box has no owner: it comes after the wizard's last page.
void ReportEntryFailure(RunContext& ctx, const std::string& keyText,
                        const FailureCause& cause = {}) {
    ReportItemFailure(ctx, "Error creating registry key: " + keyText,
                      FormatText(LanguageText(ctx, "Messages", 15), keyText), cause, nullptr);
}

bool WriteValues(RunContext& ctx, TRegistry& reg) {
    std::string appVersion = ConstantValue(ctx, PathConstant::AppVersion);
    std::string icon;
    if (!ctx.Record.UninstallRecordPath.empty())
        icon = RecordValue(ctx.Record.UninstallRecordPath, "General", "MainExecutable");
    TVersionNumbers version = ParseVersion(appVersion);
    // Every value is tried, so one that fails does not cost the others.
    bool ok = true;
    auto text = [&](const char* name, const std::string& value) {
        ok = reg.WriteString(name, value) && ok;
    };
    auto number = [&](const char* name, int32_t value) {
        ok = reg.WriteInteger(name, value) && ok;
    };
    text("DisplayName", ConstantValue(ctx, PathConstant::AppName));
    text("DisplayVersion", appVersion);
    if (!icon.empty()) text("DisplayIcon", icon);
    text("InstallLocation", ctx.Wizard.Edit1);
    // A negative size would be stored as a number near 4 billion and shown as
    // terabytes; there is nothing to estimate, so the entry says 0.
    number("EstimatedSize", std::max<int32_t>(ReadSetupInteger(ctx, "FilesSize"), 0) / 1024);
    text("InstallDate", CompactDate());
    text("HelpLink", ExpandText(ctx, ConstantValue(ctx, PathConstant::SupportLink)));
    text("Publisher", ConstantValue(ctx, PathConstant::CompanyName));
    text("UninstallString", ExpandText(ctx, "<InstallDir>\\Uninstall.exe"));
    text("URLInfoAbout", ExpandText(ctx, ConstantValue(ctx, PathConstant::WebSite)));
    number("NoModify", 1);
    number("NoRepair", 1);
    number("NoRemove", 0);
    number("VersionMajor", version[0]);
    number("VersionMinor", version[1]);
    return ok;
}

} // namespace

void WriteUninstallEntry(RunContext& ctx) {
    if (!ctx.UninstallOn || !ReadSetupBool(ctx, "ShowAddRemove")) return;

    // A per-user installation is listed for its user only, whatever the user's rights.
    HKEY root = ctx.PerUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    std::string rootName = ctx.PerUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
    std::string guid = ConstantValue(ctx, PathConstant::GUID);
    std::string key = std::string(ctx.PerUser ? "Software" : "SOFTWARE") +
                      "\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + guid;
    std::string keyText = rootName + "\\" + key;

    // Without a GUID the entry would land on the Uninstall key itself, and a GUID
    // holding a backslash would name some other key below it; either would put the
    // product's values, and later its removal, on keys that are not its own.
    if (guid.empty() || guid.find('\\') != std::string::npos) {
        ReportEntryFailure(ctx, keyText);
        return;
    }

    TRegistry reg(RegistryFullAccess(ctx.Is64));
    reg.SetRootKey(root);
    if (!reg.OpenKey(key, true)) {
        ReportEntryFailure(ctx, keyText, LastErrorCause("RegCreateKeyExA"));
        return;
    }
    const bool ok = WriteValues(ctx, reg);
    // Every value is tried: the cause is the last write's that failed.
    const FailureCause cause = ok ? FailureCause{} : LastErrorCause("RegSetValueExA");
    reg.CloseKey();
    if (!ok) ReportEntryFailure(ctx, keyText, cause);
    if (ok) LogEvent(ctx, "Created installed-programs entry: " + keyText);
    // The key exists now, so the uninstaller must remove it even when a value failed.
    RecordUninstallItem(ctx, "RegistryKeys", "D" + keyText);
}
