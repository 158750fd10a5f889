// One removal of an installed product, in its fixed order: the question, the
// administrator check, the running program, the commands before, the removal engine's
// phases, the commands after, the installed-programs entry, the closing messages; and,
// once the program that started it has ended, that program's own files.
#pragma once

#include "platform/UserPrompt.h"
#include "removal/RemovalEngine.h"
#include "uninstall/UninstallRecordFile.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The exit codes of the uninstaller.
enum UninstallExitCode : int {
    kUninstallRemoved = 0,   // everything recorded is gone
    kUninstallDeclined = 1,  // the user said No (or Cancel while the program ran)
    kUninstallLeftovers = 2, // removed, but something is left (scheduled, failed or refused)
    kUninstallNoRecord = 3,  // no record, or one that cannot be read: nothing was removed
    kUninstallNotAdmin = 5,  // the record asks for administrator rights the user lacks
};

struct UninstallSettings {
    bool Silent = false;  // "/S"
    bool Logging = false; // "/L"
    // "Uninstall.ini" beside the uninstaller the user started.
    std::string RecordPath;
    // Files of the running removal itself (that uninstaller and its record): removed
    // last, by Finish, and only when the record lists them.
    std::vector<std::string> OwnFiles;
    IUserPrompt* Prompt = nullptr;
    // Whether the user has administrator rights (HasAdministratorRights in the program).
    std::function<bool()> IsAdmin;
    // Whether the program at a path runs.
    std::function<bool(const std::string&)> IsRunning;
    // How long a silent removal waits for the product's running program to end before
    // it goes on without it.
    DWORD RunningWaitMs = 10000;
};

class TUninstallRun : private IRemovalSink {
  public:
    explicit TUninstallRun(UninstallSettings settings);
    ~TUninstallRun() override;

    // Everything up to the closing messages. The exit code as it stands then.
    int Run();
    // The own files and the folders that waited for them; the final exit code. Call
    // once the uninstaller the user started has ended.
    int Finish();

    // The user asked to restart the computer now.
    bool RestartWanted() const { return restart_; }
    const std::vector<std::string>& LogLines() const { return log_; }
    // Writes the log to "QVUNINSTALLLOG.TXT" in the temporary folder when "/L" was given.
    void SaveLog() const;

  private:
    void Report(const RemovalReport& report) override;
    InUseAnswer FileInUse(const std::string& path, DWORD error) override;

    int Box(const std::string& text, UINT type);
    void Log(const std::string& line);
    int End(int code);
    bool WaitForMainExecutable();
    void RunCommands(const std::vector<UninstallCommand>& commands, const char* when);
    void ClosingMessages();

    UninstallSettings settings_;
    UninstallRecordData record_;
    bool silent_ = false;
    int code_ = kUninstallRemoved;
    bool restart_ = false;
    std::unique_ptr<TRemovalEngine> engine_;
    std::vector<std::string> log_;
    std::vector<std::string> leftovers_; // what the closing message lists
};

// "QVUNINSTALLLOG.TXT" in the temporary folder.
std::string UninstallLogPath();
