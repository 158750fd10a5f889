#include "engine/InstallationRun.h"

#include "engine/Commands.h"
#include "engine/FilePlacement.h"
#include "engine/Rollback.h"
#include "items/ItemHandlers.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Redirection.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/SetupKeys.h"
#include "run/SetupLog.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <windows.h>

#include <functional>

namespace {

using Handler = std::function<void(RunContext&, const std::string&)>;

// The run's status texts may name constants ("Installing <AppName>..."), like every
// text of the Install page.
void SetTask(RunContext& ctx, int index) {
    ctx.View.LTask = ExpandText(ctx, LanguageText(ctx, "Install", index));
    ctx.ShowInstallView();
}

void ClearFile(RunContext& ctx) {
    ctx.View.LFile.clear();
    ctx.ShowInstallView();
}

// Hands every record of a section, in file order, to its handler. Returns the number
// of keys. stopOnCancel: the loop ends before a record once the cancel flag is set.
size_t SectionLoop(RunContext& ctx, const char* section, const Handler& handler,
                   bool stopOnCancel = false) {
    const std::vector<std::string> keys = ctx.Config->ReadSection(section);
    for (const std::string& key : keys) {
        if (stopOnCancel && ctx.Cancel) break;
        handler(ctx, ctx.Config->ReadString(section, key, ""));
    }
    return keys.size();
}

void AnnounceEnvironmentChange() {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                        reinterpret_cast<LPARAM>("Environment"), SMTO_ABORTIFHUNG, 5000, &result);
}

} // namespace

void RunInstallation(RunContext& ctx) {
    // 1. Preparation: every later <InstallDir> sees the normalised folder.
    ctx.Wizard.Edit1 = ExcludeTrailingBackslash(Trim(ctx.Wizard.Edit1));
    ctx.View.ProgressBar1 = 0;
    ctx.Errors = false;
    ctx.Cancel = false;
    SetTask(ctx, 2);

    LogPhase(ctx, "uninstall record");
    OpenUninstallRecord(ctx);
    BeginInstallJournal(ctx);
    if (ctx.Is64) DisableRedirection(ctx.Redirection);
    ProcessMessages();

    LogPhase(ctx, "files");
    if (PlaceFiles(ctx) == PlacementResult::MalformedRecord) {
        LogEvent(ctx, "The run ends early: a [Files] record does not have four fields");
        LogPhase(ctx, "");
        // The run ends here, normally: nothing after the files, no record placed.
        // Redirection is put back all the same, for whatever the process does next.
        CloseUninstallRecord(ctx);
        RestoreRedirection(ctx.Redirection);
        CommitInstallJournal(ctx);
        return;
    }
    RecordProgramFiles(ctx);

    LogPhase(ctx, "shortcuts");
    SetTask(ctx, 3);
    SectionLoop(ctx, "Shortcuts", CreateShortcut);
    ClearFile(ctx);

    if (ctx.Lang.ShowAssociate && ctx.Wizard.CheckAssociate) {
        LogPhase(ctx, "associations");
        SetTask(ctx, 6);
        SectionLoop(ctx, "Extensions", CreateAssociation);
        ClearFile(ctx);
    }

    LogPhase(ctx, "registry");
    SetTask(ctx, 4);
    SectionLoop(ctx, "Registry", WriteRegistryItem, /*stopOnCancel=*/true);
    ClearFile(ctx);

    LogPhase(ctx, "INI");
    SetTask(ctx, 5);
    SectionLoop(ctx, "INI", WriteIniItem);
    if (ReadSetupBool(ctx, "AutoCheckUpdate")) WriteUpdaterSettings(ctx);
    ClearFile(ctx);

    LogPhase(ctx, "environment");
    SetTask(ctx, 4);
    if (SectionLoop(ctx, "Environments", WriteEnvironmentItem) > 0) AnnounceEnvironmentChange();
    ClearFile(ctx);

    LogPhase(ctx, "others");
    SetTask(ctx, 10);
    ProcessMessages();
    SectionLoop(ctx, "Others", ProcessOtherItem);
    ClearFile(ctx);

    // A cancelled run that will be rolled back runs no commands and places no record.
    if (ctx.Cancel && RollbackArmed(ctx)) {
        CloseUninstallRecord(ctx);
        RestoreRedirection(ctx.Redirection);
        return;
    }
    LogPhase(ctx, "commands");
    SectionLoop(ctx, "Commands", [](RunContext& c, const std::string& record) {
        RunCommand(c, kStageAfterInstallation, record);
    });
    if (ctx.Cancel && RollbackArmed(ctx)) { // confirmed while a command ran
        CloseUninstallRecord(ctx);
        RestoreRedirection(ctx.Redirection);
        return;
    }

    RestoreRedirection(ctx.Redirection);
    ctx.View.ProgressBar1 = 100;
    SetTask(ctx, 10);
    ProcessMessages();

    LogPhase(ctx, "installed-programs entry and uninstall record");
    if (ctx.UninstallOn && ReadSetupBool(ctx, "ShowAddRemove")) WriteUninstallEntry(ctx);
    PlaceUninstallRecord(ctx);
    // Finished: from here on nothing is undone, whatever ends the run.
    CommitInstallJournal(ctx);
    LogPhase(ctx, "");
    ProcessMessages();
}
