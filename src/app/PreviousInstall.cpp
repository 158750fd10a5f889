#include "app/PreviousInstall.h"

#include "engine/Commands.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/ProcessStart.h"
#include "platform/Registry.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupKeys.h"
#include "run/SetupLog.h"
#include "sysinfo/SystemInfo.h"
#include "text/ExpandText.h"
#include "text/Language.h"
#include "text/Versions.h"

#include <windows.h>

namespace {

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The uninstall string of the entry named name; empty when the key or value is missing.
bool ReadUninstallString(RunContext& ctx, const std::string& name, std::string& out) {
    TRegistry reg(RegistryReadAccess(ctx.Is64));
    reg.SetRootKey(ctx.PerUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE);
    if (!reg.OpenKeyReadOnly(kUninstallKey + name)) return false;
    out.clear();
    if (reg.ValueExists("UninstallString")) reg.ReadString("UninstallString", out);
    return true;
}

std::string InstalledFolder(const std::string& uninstallString) {
    return ExcludeTrailingBackslash(ExtractFilePath(uninstallString));
}

int AskOwnerless(RunContext& ctx, const std::string& text, UINT type) {
    return ctx.Prompt->MessageBox(nullptr, text, ctx.Lang.TitleCaption, type);
}

} // namespace

InstalledCopy FindInstalledCopy(RunContext& ctx) {
    InstalledCopy copy;
    // Only a GUID that names a key of its own is looked up, as only such a GUID ever
    // gets an entry: an empty one would open the Uninstall key itself and hide the
    // lookup by name, and one holding a backslash would reach into another product's
    // entry, whose uninstaller must not be run.
    const std::string guid = ConstantValue(ctx, "<GUID>");
    const std::string name = ConstantValue(ctx, "<AppName>");
    bool found = !guid.empty() && guid.find('\\') == std::string::npos &&
                 ReadUninstallString(ctx, guid, copy.uninstallString);
    if (!found && !name.empty()) ReadUninstallString(ctx, name, copy.uninstallString);
    ProcessMessages();
    if (!copy.uninstallString.empty()) {
        std::string ini = InstalledFolder(copy.uninstallString) + "\\Uninstall.ini";
        if (FileExists(ini)) copy.version = TIniFile(ini).ReadString("General", "AppVersion", "");
    }
    return copy;
}

void HandlePreviousInstallation(RunContext& ctx) {
    int unattended = 0;
    for (;;) {
        InstalledCopy copy = FindInstalledCopy(ctx);
        if (ReadSetupInteger(ctx, "InstallMode") != 0 || !FileExists(copy.uninstallString)) return;

        const std::string appName = ConstantValue(ctx, "<AppName>");
        const std::string appVersion = ConstantValue(ctx, "<AppVersion>");
        if (appVersion != copy.version && !IsNewerVersion(appVersion, copy.version) &&
            !ctx.Silent) {
            std::string text = FormatText(LanguageText(ctx, "Messages", 30),
                                          appName + " " + copy.version, appVersion);
            if (AskOwnerless(ctx, text, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
                return QuitSetup(ctx);
        }
        if (!ReadSetupBool(ctx, "PromptUninstall")) return;

        std::string argument;
        if (ctx.Silent || ReadSetupBool(ctx, "PromptSilentUninstall")) {
            // Nobody is asked, so an uninstaller that leaves its entry behind would be
            // run forever: after a few attempts, install over the copy instead.
            if (unattended == kMaxUnattendedUninstalls) {
                AddLogLine(ctx, "Previous installation still present: " + copy.uninstallString);
                LogEvent(ctx, "Previous installation still present: " + copy.uninstallString);
                return;
            }
            ++unattended;
            argument = "/S";
        } else {
            std::string text =
                FormatText(LanguageText(ctx, "Messages", 11), appName + " " + copy.version);
            if (AskOwnerless(ctx, text, MB_YESNO | MB_ICONWARNING) != IDYES) return QuitSetup(ctx);
        }

        LogEvent(ctx, "Removing the installed copy: \"" + copy.uninstallString + "\" " + argument);
        RunAndWait(copy.uninstallString, argument, SW_SHOWNORMAL);
        // The uninstaller may hand over to a copy of itself and end at once.
        while (TOSInfo::IsProcessRunning("QVUninstall.exe")) {
            Sleep(500);
            ProcessMessages();
        }
        Sleep(300);
        ProcessMessages();
    }
}

void EnterUpdateMode(RunContext& ctx) {
    InstalledCopy copy = FindInstalledCopy(ctx);
    const std::string appName = ConstantValue(ctx, "<AppName>");
    if (!FileExists(copy.uninstallString)) {
        if (!ctx.Silent) {
            std::string text = FormatText(LanguageText(ctx, "Messages", 25), appName) + "\r\n\r\n" +
                               ConstantValue(ctx, "<WebSite>");
            AskOwnerless(ctx, text, MB_OK | MB_ICONWARNING);
        }
        return QuitSetup(ctx);
    }
    if (ReadSetupBool(ctx, "CheckVersions")) {
        const std::string minVer = ReadSetupString(ctx, "CheckMinVer");
        const std::string maxVer = ReadSetupString(ctx, "CheckMaxVer");
        bool outOfRange = (!minVer.empty() && IsNewerVersion(minVer, copy.version)) ||
                          (!maxVer.empty() && IsNewerVersion(copy.version, maxVer));
        if (outOfRange) {
            if (!ctx.Silent) {
                std::string text = FormatText(LanguageText(ctx, "Messages", 25),
                                              appName + " " + minVer + ".." + maxVer);
                AskOwnerless(ctx, text, MB_OK | MB_ICONWARNING);
            }
            return QuitSetup(ctx);
        }
    }

    const std::string folder = InstalledFolder(copy.uninstallString);
    ctx.Wizard.Edit1 = folder;
    ctx.Wizard.Edit1Disabled = true;

    const std::string ini = folder + "\\Uninstall.ini";
    if (!FileExists(ini)) return;
    TIniFile record(ini);
    const std::string none = "\x01";
    std::string group = record.ReadString("General", "ProgramGroupDir", none);
    if (group == none) return;
    const std::string menu =
        ConstantValue(ctx, ctx.PerUser ? "<ProgramsMenu>" : "<CommonProgramsMenu>") + "\\";
    size_t at = UpperCase(group).find(UpperCase(menu));
    if (at != std::string::npos) group.erase(at, menu.size());
    if (group.size() > 2 && group[1] != ':') {
        ctx.Wizard.ProgramGroups = {group};
        ctx.Wizard.ComboBox1 = group;
        ctx.Wizard.ComboBox1Disabled = true;
    }
}
