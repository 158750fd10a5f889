// The ends of a run. Each releases what is open, cleans up the setup temp folder
// (and writes or removes the log file), then ends the process with its exit code.
#pragma once

#include <cstdint>

struct RunContext;

// Exit codes that are not the setup cabinet's size.
enum ExitCode : uint32_t {
    kExitOk = 0,
    kExitAbort = 1,      // fatal installation error, cancelled copy, no trailer
    kExitPicture = 2,    // a wizard picture is missing or unreadable
    kExitAppearance = 3, // the appearance step failed
    kExitNoLanguage = 4, // no language file
    kExitRefused = 5,    // a requirement was not met
    // Installed, but a restart is needed; only given in a quiet run ("/S /Q"). The
    // HRESULT of the system's "successful, restart required" (3010): above 2^31 - 1,
    // which no setup cabinet's size can reach (the trailer reader refuses larger ones).
    kExitRestartNeeded = 0x80070BC2,
};

// Deletes the files of the setup temp folder and the folder itself, then writes
// the log file ("/L") or deletes a leftover one. Reports nothing.
void CleanUpSetupFiles(RunContext& ctx);

// The user declined to go on: exit code 0.
void QuitSetup(RunContext& ctx);
// The setup's own data is unusable: unless silent, the fixed corrupt-setup box
// without owner, then exit with the code.
void FailSetup(RunContext& ctx, uint32_t code);
// A requirement was not met (the caller has shown its message): puts back the
// file-system redirection the checks switched off, then exit code 5.
void RefuseSetup(RunContext& ctx);
// A fatal installation error: exit code 1.
void AbortSetup(RunContext& ctx);
// The normal end of a wizard or silent run: exit code 0, or kExitRestartNeeded in a
// quiet run that needs a restart.
void FinishSetup(RunContext& ctx);
