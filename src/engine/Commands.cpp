#include "engine/Commands.h"

#include "config/IniFile.h"
#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/ProcessStart.h"
#include "platform/SystemLibrary.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/SetupLog.h"
#include "run/RunEnd.h"
#include "sysinfo/SystemInfo.h"
#include "text/ExpandText.h"
#include "text/Language.h"
#include "text/UserVariables.h"

#include <shellapi.h>
#include <windows.h>

#include <vector>

namespace {

// The archive a setup may ship beside itself instead of inside it.
const char kDataFile[] = "<CurrentDir>\\data.zip";
// The stop signal a command at a wizard page leaves to keep the wizard there.
const char kStopSignal[] = "<SetupTempDir>\\donotcontinue.txt";

const char kBeforeUninstallation[] = "BEFORE UNINSTALLATION";
const char kAfterUninstallation[] = "AFTER UNINSTALLATION";
const char kUserInformationStage[] = "AT USER INFORMATION DIALOG";
const char kFolderSelectStage[] = "AT FOLDER SELECT DIALOG";

// The stage text each stage number runs; none for a number outside the four.
const char* StageText(int stage) {
    switch (stage) {
    case kStageBeforeInstallation:
        return "BEFORE INSTALLATION";
    case kStageUserInformation:
        return kUserInformationStage;
    case kStageFolderSelect:
        return kFolderSelectStage;
    case kStageAfterInstallation:
        return "AFTER INSTALLATION";
    }
    return nullptr;
}

// The record extracts the archive: x "<CurrentDir>\data.zip", in any case.
bool HasArchiveMarker(const std::string& record) {
    return UpperCase(record).find(UpperCase(std::string("X \"") + kDataFile + "\"")) !=
           std::string::npos;
}

// The record extracts the archive and the archive is not beside the setup.
bool NeedsDataFile(const RunContext& ctx, const std::string& record) {
    return HasArchiveMarker(record) && !FileExists(ExpandText(ctx, kDataFile));
}

// The first occurrence of what in s, ignoring case, replaced by with.
std::string ReplaceFirstIgnoreCase(const std::string& s, const std::string& what,
                                   const std::string& with) {
    size_t at = UpperCase(s).find(UpperCase(what));
    if (at == std::string::npos) return s;
    return s.substr(0, at) + with + s.substr(at + what.size());
}

bool IsBatchFile(const std::string& path) {
    const std::string name = ExtractFileName(path);
    return name.size() >= 4 && SameText(name.substr(name.size() - 4), ".BAT");
}

int ShowCommand(const std::string& window) {
    if (window == "MAXIMIZE") return SW_SHOWMAXIMIZED;
    if (window == "MINIMIZE") return SW_SHOWMINIMIZED;
    if (window == "HIDE") return SW_HIDE;
    return SW_SHOWNORMAL;
}

// "X86" runs only on 32-bit Windows, "X64" only on 64-bit Windows.
bool PlatformMatches(const std::string& platform) {
    if (platform != "X86" && platform != "X64") return true;
    bool wow64 = false;
    try {
        wow64 = TOSInfo::IsWow64();
    } catch (const RuntimeError&) {
        // A system that cannot tell is taken for 32-bit Windows.
    }
    return (platform == "X64") == wow64;
}

// The batch file lies directly in the setup temp folder. Both sides are made full
// paths first, so "..\" or a relative name cannot pass for the folder; with no setup
// temp folder there is nothing a batch file may be rewritten in.
bool InSetupTempDir(const RunContext& ctx, const std::string& file) {
    if (ctx.SetupTempDir.empty()) return false;
    std::string folder = ExcludeTrailingBackslash(ExtractFilePath(FullPath(file)));
    return SameText(folder, ExcludeTrailingBackslash(FullPath(ctx.SetupTempDir)));
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart < (64 << 20);
    if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = out.empty() ||
             (ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) &&
              got == out.size());
    }
    CloseHandle(h);
    return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = bytes.empty() ||
              (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
               put == bytes.size());
    return CloseHandle(h) && ok;
}

// Passes every line of a batch file the setup carries through the expansion, so it
// can use the setup's constants. The new text is written beside the file and only
// then put in its place: a failed write leaves the batch file as it was.
void ExpandBatchFile(const RunContext& ctx, const std::string& file) {
    std::string text;
    if (!ReadWholeFile(file, text)) return;
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out += ExpandText(ctx, line) + "\r\n";
        pos = end + 1;
    }
    const std::string part = file + ".new";
    if (WriteWholeFile(part, out) &&
        MoveFileExA(part.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    DeleteFileA(part.c_str());
}

} // namespace

void RunStartupCommands(RunContext& ctx) {
    ctx.Wizard.OpenDialogFile.clear();
    for (const std::string& key : ctx.Config->ReadSection("Commands")) {
        const std::string record = ctx.Config->ReadString("Commands", key, "");
        if (NeedsDataFile(ctx, record)) {
            HWND owner = GetActiveWindow();
            if (!ctx.Silent)
                ctx.Prompt->MessageBox(
                    owner,
                    FormatText(LanguageText(ctx, "Messages", 29), ExpandText(ctx, kDataFile)),
                    ctx.Lang.TitleCaption, MB_OK | MB_ICONWARNING);
            // The dialog is asked in a silent run too: without the archive the setup
            // cannot do what it was built for. A second record asking again starts
            // from the file chosen before.
            std::string chosen = ctx.Wizard.OpenDialogFile;
            if (!ctx.Prompt->ChooseDataFile(owner, chosen) || chosen.empty() ||
                !FileExists(chosen)) {
                QuitSetup(ctx);
                return;
            }
            ctx.Wizard.OpenDialogFile = chosen;
        }
        RunCommand(ctx, kStageBeforeInstallation, record);
    }
    ProcessMessages();
    // Variables are read again so that they see what the commands changed.
    ctx.UserVariables.clear();
    EvaluateVariables(ctx);
}

void RunCommand(RunContext& ctx, int stage, const std::string& record) {
    const char* stageText = StageText(stage);
    if (!stageText) return;

    // A data file chosen at start-up stands in for the missing archive beside the setup.
    std::string text = record;
    if (!ctx.Wizard.OpenDialogFile.empty() && FileExists(ctx.Wizard.OpenDialogFile) &&
        NeedsDataFile(ctx, text))
        text = ReplaceFirstIgnoreCase(text, kDataFile, ctx.Wizard.OpenDialogFile);

    const std::vector<std::string> f = SplitRecord(text, "*?");
    if (f.size() != 7) return;
    const std::string window = UpperCase(f[2]);
    const std::string when = UpperCase(f[3]);
    const std::string waitField = UpperCase(f[4]);
    const std::string elevateField = UpperCase(f[6]);
    if (!PlatformMatches(UpperCase(f[5]))) return;

    const std::string program = ExpandText(ctx, f[0]);
    const std::string parameters = ExpandText(ctx, f[1]);
    // Nothing to start: the shell would open some folder instead, and the uninstaller
    // would be handed the same empty command.
    if (program.empty()) return;

    if (stage == kStageAfterInstallation) {
        const std::string entry =
            program + "*?" + parameters + "*?" + window + "*?" + waitField + "*?" + elevateField;
        if (when == kBeforeUninstallation) RecordUninstallItem(ctx, "ExecBeforeUninstall", entry);
        if (when == kAfterUninstallation) RecordUninstallItem(ctx, "ExecAfterUninstall", entry);
    }
    if (when != stageText) return;

    if (IsBatchFile(program) && InSetupTempDir(ctx, program) && FileExists(program))
        ExpandBatchFile(ctx, program);

    LogEvent(ctx, "Command started: \"" + program + "\" " + parameters);
    DWORD exitCode = 0;
    // Results are not examined: a command that cannot be started is passed over. A
    // program created and waited for has an exit code for the event log.
    const bool wait = waitField == "YES", elevate = elevateField == "YES";
    if (StartCommandProgram(program, parameters, ShowCommand(window), wait, elevate, &exitCode) &&
        wait && !elevate)
        LogEvent(ctx, "Command ended: \"" + program + "\" exit code " + std::to_string(exitCode));
    ProcessMessages();
    // A Cancel confirmed while the program ran has released the run's readers.
    if (!ctx.Config) return;

    if ((when == kUserInformationStage || when == kFolderSelectStage) &&
        FileExists(ExpandText(ctx, kStopSignal)) && ctx.View.WizardBack)
        ctx.View.WizardBack();
}
