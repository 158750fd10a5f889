// The uninstaller's start and end as processes. The program the user starts
// ("Uninstall.exe" in the product's folder) cannot delete itself while it runs, so it
// copies itself to a fresh folder in the temporary folder as "QVUninstall.exe",
// starts that copy, and waits only until the copy reports how the removal went; then
// it ends with that exit code, and the copy deletes it. The copy removes its own
// folder when it ends (through a helper that outlives it, or at the next restart).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The command line as the uninstaller reads it.
struct UninstallArgs {
    bool Silent = false;  // "/S"
    bool Logging = false; // "/L"
    // Set in the copy only: the program the user started (its folder holds the
    // record), and the two handles it passed down.
    std::string From;
    HANDLE WaitFor = nullptr; // the starting process, to wait for before deleting it
    HANDLE Report = nullptr;  // the pipe the exit code goes back through
};
UninstallArgs ParseUninstallArgs(const std::vector<std::string>& args);

// Makes the system folder this program's current folder: a folder that is a running
// program's current folder cannot be deleted, and the user's uninstaller is started in
// the product's folder.
void LeaveStartFolder();

// The one place that decides whether the user has administrator rights.
bool HasAdministratorRights();

// Whether a program runs: a process of that file name whose image is that file (when
// the system says which file it is).
bool IsProgramRunning(const std::string& path);

// Creates a fresh folder in the temporary folder for the copy; empty when none can be
// made.
std::string CreateUninstallTempFolder();

// The original: copies this program into a fresh folder as "QVUninstall.exe" and
// starts it with the switches, handing it this process and a pipe. True with the
// copy's exit code once the copy reported (or ended); false when no copy could be
// started (nothing was done, the caller removes in place).
bool RunFromTemporaryCopy(const UninstallArgs& args, uint32_t& exitCode);

// The copy: hands the exit code to the original (which then ends) and waits a while
// for it to end.
void ReportToOriginal(const UninstallArgs& args, uint32_t exitCode);

// The copy's last act: its own folder goes once the copy has ended, by a hidden
// command processor from the system folder that waits a moment and deletes it; when
// that cannot be started, at the next restart.
void RemoveOwnFolderAfterExit();
