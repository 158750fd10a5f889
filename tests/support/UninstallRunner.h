// Runs an installed uninstaller the way a user or a deployment script does, and
// follows its temporary copy (QVUninstall.exe), which does the work and goes on a
// little after the program the user started has returned.
#pragma once

#include "SetupRunner.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct UninstallRun {
    uint32_t exitCode = 0xFFFFFFFF;     // of the program started (Uninstall.exe)
    uint32_t copyExitCode = 0xFFFFFFFF; // of its copy, once that ended
    bool copySeen = false;
    bool timedOut = false;
    std::vector<SeenBox> boxes; // of either process, in order, each answered
};

// Starts program with args, TEMP/TMP set to tempDir, answers every box of it and of
// its copy (by default with the first button), and returns once both have ended and
// the copy's temporary folder is gone (or after timeoutMs).
UninstallRun RunUninstaller(const std::string& program, const std::string& args,
                            const std::string& tempDir, DWORD timeoutMs = 60000,
                            const BoxAnswer& answer = nullptr);

// The uninstaller's temporary folders (QVUNINST*) in tempDir.
std::vector<std::string> UninstallerTempFolders(const std::string& tempDir);

// Puts the freshly built uninstaller into a project's setup folder as
// QVUninstall.exe, as the builder will do by default.
void AddUninstallerToProject(const std::string& projectDir);

// The entries of the pending-restart list (PendingFileRenameOperations) that name a
// path below folder; remove takes them out of the list (tests leave no work for a
// restart behind).
std::vector<std::string> PendingRestartDeletes(const std::string& folder, bool remove = false);
