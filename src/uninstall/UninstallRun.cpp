#include "uninstall/UninstallRun.h"

#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/ProcessStart.h"
#include "platform/Redirection.h"
#include "text/Language.h"

#include <windows.h>

#include <utility>

namespace {

// Boxes of the uninstaller's own, for what the record has no text for.
const char kNoRecordText[] =
    "The uninstall information of this program was not found:<#>%s<#><#>Nothing was removed.";
const char kBadRecordText[] =
    "The uninstall information of this program cannot be read:<#>%s<#><#>Nothing was removed.";
const char kInUseText[] =
    "This file is in use:<#>%s<#><#>Close the program that uses it and click Retry, click Ignore "
    "to remove the file when the computer restarts, or Abort to leave it.";
const char kLeftoversText[] = "Some items could not be removed:<#><#>%s";
const char kOwnCaption[] = "Uninstall";
// The closing message lists this many items at most; the log has them all.
const size_t kListedLeftovers = 10;

std::string ErrorText(DWORD error) {
    const std::string text = SystemErrorMessage(error);
    return "error " + std::to_string(error) + (text.empty() ? "" : ": " + text);
}

std::string Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return DecimalText(t.wYear, 4) + "-" + DecimalText(t.wMonth, 2) + "-" + DecimalText(t.wDay, 2) +
           " " + DecimalText(t.wHour, 2) + ":" + DecimalText(t.wMinute, 2) + ":" +
           DecimalText(t.wSecond, 2);
}

} // namespace

std::string UninstallLogPath() {
    return JoinPath(TempDir(), "QVUNINSTALLLOG.TXT");
}

TUninstallRun::TUninstallRun(UninstallSettings settings) : settings_(std::move(settings)) {
    if (!settings_.Prompt) settings_.Prompt = &SystemPrompt();
}

TUninstallRun::~TUninstallRun() = default;

void TUninstallRun::Log(const std::string& line) {
    log_.push_back(line);
}

int TUninstallRun::Box(const std::string& text, UINT type) {
    const std::string caption =
        record_.Messages[kMsgTitle].empty() ? kOwnCaption : record_.Messages[kMsgTitle];
    return settings_.Prompt->MessageBox(nullptr, text, caption, type | MB_SETFOREGROUND);
}

int TUninstallRun::End(int code) {
    code_ = code;
    Log("Exit code " + std::to_string(code));
    return code;
}

void TUninstallRun::Report(const RemovalReport& r) {
    std::string line = r.Section + ": " + r.Item + ": " + OutcomeText(r.Outcome);
    if (r.Outcome == RemovalOutcome::Failed)
        line += ": " + r.Call + " " + ErrorText(r.Error) +
                (r.Detail.empty() ? "" : " (" + r.Detail + ")");
    else if (!r.Detail.empty())
        line += " (" + r.Detail + ")";
    Log(line);
    if (r.Outcome == RemovalOutcome::Failed || r.Outcome == RemovalOutcome::Refused)
        leftovers_.push_back(r.Item);
}

InUseAnswer TUninstallRun::FileInUse(const std::string& path, DWORD) {
    // The removal's own program is in use by the removal itself.
    for (const std::string& own : settings_.OwnFiles)
        if (SameText(own, path)) return InUseAnswer::Schedule;
    if (silent_ || record_.UninstallForce) return InUseAnswer::Schedule;
    switch (Box(FormatText(kInUseText, path), MB_ABORTRETRYIGNORE | MB_ICONWARNING)) {
    case IDRETRY:
        return InUseAnswer::Retry;
    case IDIGNORE:
        return InUseAnswer::Schedule;
    default:
        return InUseAnswer::Leave;
    }
}

bool TUninstallRun::WaitForMainExecutable() {
    const std::string& program = record_.MainExecutable;
    if (program.empty() || !settings_.IsRunning || !settings_.IsRunning(program)) return true;
    Log("Running: " + program);
    if (silent_) {
        // Nobody to ask: the program gets a while to end, then what it holds is left
        // for the restart.
        for (DWORD waited = 0; waited < settings_.RunningWaitMs; waited += 500) {
            ProcessMessages();
            Sleep(500);
            if (!settings_.IsRunning(program)) return true;
        }
        Log("Still running; files it holds are removed at the next restart");
        return true;
    }
    do {
        if (Box(record_.Messages[kMsgCloseProgram], MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
            return false;
    } while (settings_.IsRunning(program));
    return true;
}

void TUninstallRun::RunCommands(const std::vector<UninstallCommand>& commands, const char* when) {
    for (const UninstallCommand& c : commands) {
        if (!c.Valid) {
            Log(std::string(when) + ": " + c.Text + ": REFUSED (not a command entry)");
            continue;
        }
        const bool started =
            StartCommandProgram(c.Program, c.Parameters, c.Show, c.Wait, c.Elevate);
        Log(std::string(when) + ": " + c.Program + " " + c.Parameters + ": " +
            (started ? "started" : "could not be started"));
        ProcessMessages();
    }
}

int TUninstallRun::Run() {
    Log("Uninstall log " + Now());
    Log("Record: " + settings_.RecordPath);
    switch (ReadUninstallRecordFile(settings_.RecordPath, record_)) {
    case RecordProblem::None:
        break;
    case RecordProblem::Missing:
        Log("No uninstall record");
        if (!settings_.Silent)
            Box(FormatText(kNoRecordText, settings_.RecordPath), MB_OK | MB_ICONERROR);
        return End(kUninstallNoRecord);
    case RecordProblem::Unreadable:
        Log("The uninstall record cannot be read");
        if (!settings_.Silent)
            Box(FormatText(kBadRecordText, settings_.RecordPath), MB_OK | MB_ICONERROR);
        return End(kUninstallNoRecord);
    }
    Log("Product: " + record_.AppName + " " + record_.AppVersion + " in " + record_.InstallDir);
    silent_ = settings_.Silent || record_.SilentMode;

    if (!silent_ && Box(record_.Messages[kMsgQuestion], MB_YESNO | MB_ICONQUESTION) != IDYES) {
        Log("The user declined");
        return End(kUninstallDeclined);
    }
    const bool admin = settings_.IsAdmin && settings_.IsAdmin();
    if (record_.Admin && !admin) {
        Log("Administrator rights are required");
        if (!silent_) Box(record_.Messages[kMsgAdministrator], MB_OK | MB_ICONERROR);
        return End(kUninstallNotAdmin);
    }
    if (!WaitForMainExecutable()) {
        Log("The user cancelled while the program ran");
        return End(kUninstallDeclined);
    }

    // A 64-bit installation put its files into the real system folders.
    FsRedirection redirection;
    if (record_.X64) DisableRedirection(redirection);
    RunCommands(record_.ExecBefore, "Before");

    RemovalOptions options;
    options.DefaultView64 = record_.X64;
    // The environment the installation wrote: the record says which (the same user may
    // remove a per-user installation with administrator rights, or the other way round).
    // An older record does not: the installation ran with the rights the user has now.
    options.SystemEnvironment =
        record_.SystemEnvironment < 0 ? admin : record_.SystemEnvironment == 1;
    options.DeferredFiles = settings_.OwnFiles;
    engine_ = std::make_unique<TRemovalEngine>(static_cast<IRemovalSink&>(*this), options);
    const RemovalItems& items = record_.Items;
    engine_->Unregister(items);
    engine_->RemoveSettings(items);
    engine_->RemoveFiles(items);
    engine_->RemoveFolders(items);

    RunCommands(record_.ExecAfter, "After");
    RestoreRedirection(redirection);
    // Last: a removal that stopped before this point can be started again from it.
    engine_->RemoveProductEntries(items);

    code_ = engine_->HasLeftovers() ? kUninstallLeftovers : kUninstallRemoved;
    if (!silent_) ClosingMessages();
    return code_;
}

void TUninstallRun::ClosingMessages() {
    if (leftovers_.empty()) {
        Box(record_.Messages[kMsgSuccess], MB_OK | MB_ICONINFORMATION);
    } else {
        std::string list;
        for (size_t i = 0; i < leftovers_.size() && i < kListedLeftovers; ++i)
            list += leftovers_[i] + "<#>";
        if (leftovers_.size() > kListedLeftovers) list += "...";
        Box(FormatText(kLeftoversText, list), MB_OK | MB_ICONWARNING);
    }
    if (!record_.UninstallURL.empty() &&
        Box(record_.Messages[kMsgWebPage], MB_YESNO | MB_ICONQUESTION) == IDYES)
        StartCommandProgram(record_.UninstallURL, "", SW_SHOWNORMAL, false, false);
    if (engine_->Counts().Scheduled > 0 && record_.UninstallRestart)
        restart_ = Box(record_.Messages[kMsgRestart], MB_YESNO | MB_ICONQUESTION) == IDYES;
}

int TUninstallRun::Finish() {
    if (!engine_) return code_;
    engine_->RemoveDeferredFiles();
    if (engine_->HasLeftovers()) code_ = kUninstallLeftovers;
    return End(code_);
}

void TUninstallRun::SaveLog() const {
    if (!settings_.Logging) return;
    std::string text;
    for (const std::string& line : log_)
        text += line + "\r\n";
    WriteFreshFile(UninstallLogPath(), text);
}
