#include "app/Startup.h"

#include "app/PreviousInstall.h"
#include "engine/Commands.h"
#include "engine/InstallationRun.h"
#include "package/SetupPackage.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Redirection.h"
#include "run/CommandLine.h"
#include "run/EventPrompt.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupKeys.h"
#include "run/SetupLog.h"
#include "sysinfo/Requirements.h"
#include "sysinfo/SystemInfo.h"
#include "text/ExpandText.h"
#include "text/Language.h"
#include "text/UserVariables.h"
#include "wizard/Appearance.h"

#include <windows.h>

namespace {

// The five header lines: in the "/L" log, and at the top of the event log ("/LOG=").
void WriteLogHeader(RunContext& ctx) {
    const std::vector<std::string> header = {ctx.SetupFile, ctx.ProductTitle, LogDateTime(),
                                             ctx.System.OsName, ctx.Admin ? "Admin" : "NotAdmin"};
    if (FindSwitch(ctx, "/L")) {
        ctx.Logging = true;
        for (const std::string& line : header)
            AddLogLine(ctx, line);
    }
    StartEventLog(ctx, header);
}

// The switches of unattended deployments, read before anything can show a box: "/Q"
// takes effect in a silent run, and until the configuration is read only "/S" says
// that the run is silent. "/LOG=" names the event log's file.
void ReadDeploymentSwitches(RunContext& ctx) {
    ctx.Quiet = FindSwitch(ctx, "/Q") && FindSwitch(ctx, "/S");
    SwitchValue(ctx, "/LOG=", ctx.EventLog.Path);
    if (FindSwitch(ctx, "/Q") || !ctx.EventLog.Path.empty()) InstallEventPrompt(ctx);
    LogPhase(ctx, "start-up");
}

void FillUserInformation(RunContext& ctx) {
    std::string user = ExpandText(ctx, "<UserNameVar>");
    if (user != "<UserNameVar>") ctx.Wizard.EUser = user;
    std::string company = ExpandText(ctx, "<CompanyNameVar>");
    if (company != "<CompanyNameVar>") ctx.Wizard.ECompany = company;
    ctx.Wizard.ECustomInfo = ExpandText(ctx, "<CustomUserInfoVar>");
    if (ctx.Wizard.ECustomInfo == "<CustomUserInfoVar>") ctx.Wizard.ECustomInfo.clear();
}

void FillProgramGroups(RunContext& ctx) {
    const std::string group = ExpandText(ctx, ReadSetupString(ctx, "ProgramGroup"));
    ctx.Wizard.ProgramGroups = {group};
    ctx.Wizard.ComboBox1 = group;
    // The other choices only fill the wizard's list: a silent run does not look for them.
    if (ctx.Silent) return;
    const std::string menu =
        ConstantValue(ctx, ctx.PerUser ? "<ProgramsMenu>" : "<CommonProgramsMenu>");
    WIN32_FIND_DATAA fd;
    HANDLE h =
        menu.empty() ? INVALID_HANDLE_VALUE : FindFirstFileA(JoinPath(menu, "*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..")
                ctx.Wizard.ProgramGroups.push_back(name + "\\" + group);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    ctx.Wizard.ComboBox1 = ctx.Wizard.ProgramGroups.front();
}

void FillDestination(RunContext& ctx) {
    ctx.Wizard.Edit1 = ExpandText(ctx, ReadSetupString(ctx, "InstallationPath"));
    if (int p = FindSwitch(ctx, "/P")) ctx.Wizard.Edit1 = ExpandText(ctx, ArgumentAfter(ctx, p));
    if (int d = FindSwitch(ctx, "/D")) ctx.Wizard.Edit1 = ArgumentAfter(ctx, d);
}

void FillPageTable(RunContext& ctx) {
    static const char* const kPages[] = {
        "DialogWelcome",           "DialogLicense",      "DialogReadme", "DialogUserInfo",
        "DialogDestinationFolder", "DialogProgramGroup", "DialogReady",  "DialogFinish"};
    ctx.Wizard.PageTable[0] = ctx.Lang.Languages.size() > 1;
    for (int i = 0; i < 8; ++i)
        ctx.Wizard.PageTable[i + 1] = ReadSetupBool(ctx, kPages[i]);
}

void FillItemOptions(RunContext& ctx) {
    for (const std::string& key : ctx.Config->ReadSection("Shortcuts")) {
        const std::string record = UpperCase(ctx.Config->ReadString("Shortcuts", key, ""));
        // "DESKTOP>" also matches <CommonDesktop>.
        if (record.find("DESKTOP>") != std::string::npos)
            ctx.Wizard.CheckDesktopVisible = ctx.Wizard.CheckDesktop = true;
        if (record.find("<QUICKLAUNCH>") != std::string::npos)
            ctx.Wizard.CheckQuickLaunchVisible = ctx.Wizard.CheckQuickLaunch = true;
    }
    if (ctx.Config->SectionExists("Extensions")) {
        ctx.Lang.AssociateCaption = AssociationCaption(ctx);
        ctx.Lang.ShowAssociate = ctx.Wizard.CheckAssociate = true;
    }
}

} // namespace

void FormCreate(RunContext& ctx) {
    ctx.Silent = false;
    ctx.Logging = false;
    if (ctx.SetupFile.empty()) ctx.SetupFile = ModulePath();
    ReadDeploymentSwitches(ctx);
    // A run started with "/S" shows no window: the pictures are only checked.
    OpenPackage(ctx, FindSwitch(ctx, "/S") != 0);
    if (!ApplyAppearance(ctx)) FailSetup(ctx, kExitAppearance);

    ctx.UserVariables.clear();
    ctx.Config = std::make_unique<TIniFile>(ctx.SetupTempDir + "\\qvsetup.ini");
    ctx.ProductTitle = ConstantValue(ctx, "<AppName>") + " " + ConstantValue(ctx, "<AppVersion>");
    ctx.Is64 = ReadSetupBool(ctx, "64-bit");
    ctx.UninstallOn = ReadSetupBool(ctx, "Uninstall");
    ctx.PayloadOffset = static_cast<uint32_t>(ReadSetupInteger(ctx, "EngineSize"));
    ctx.Admin = TOSInfo::IsAdmin();
    const int level = ReadSetupInteger(ctx, "InstallLevel");
    ctx.PerUser = level == 0 || (level == 2 && !ctx.Admin);
    ctx.Silent = ReadSetupBool(ctx, "SilentInstall") || FindSwitch(ctx, "/S") != 0;
    ctx.Quiet = ctx.Silent && FindSwitch(ctx, "/Q") != 0;

    TOSInfo::GatherSystemInfo(ctx.System, ctx.Is64);
    ctx.Wizard.EUser = ctx.System.OwnerName;
    ctx.Wizard.ECompany = ctx.System.OrganizationName;
    WriteLogHeader(ctx);

    EvaluateVariables(ctx);
    ChooseLanguage(ctx);

    if (ctx.Is64 && TOSInfo::IsWow64()) DisableRedirection(ctx.Redirection);
    if (!FindSwitch(ctx, "/N")) RunRequirementChecks(ctx);
    RunStartupCommands(ctx);
    RestoreRedirection(ctx.Redirection);

    FillUserInformation(ctx);
    FillProgramGroups(ctx);
    FillDestination(ctx);
    FillPageTable(ctx);
    HandlePreviousInstallation(ctx);
    if (ReadSetupInteger(ctx, "InstallMode") == 1) EnterUpdateMode(ctx);
    FillItemOptions(ctx);

    if (ctx.Silent) {
        RunInstallation(ctx);
        // The Finish page would have offered the restart.
        if (ReadSetupBool(ctx, "RestartComputer")) {
            ctx.RestartNeeded = true;
            LogEvent(ctx, "Restart needed: the setup asks for a restart (RestartComputer)");
        }
        FinishSetup(ctx);
        return;
    }
    LogPhase(ctx, "wizard");
    // Otherwise the wizard is shown and leads the user to the installation.
}
