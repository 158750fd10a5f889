#include "run/RunEnd.h"

#include "platform/FileUtil.h"
#include "platform/Redirection.h"
#include "run/RunContext.h"
#include "run/SetupLog.h"

#include <windows.h>

#include <functional>
#include <string>

void CleanUpSetupFiles(RunContext& ctx) {
    // A folder of that name that this run did not create belongs to someone else
    // (another setup running at the same time): its files are not ours to delete.
    const std::string dir = ctx.SetupTempDirCreated ? ctx.SetupTempDir : std::string();
    if (!dir.empty()) {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA(JoinPath(dir, "*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
                std::string file = JoinPath(dir, fd.cFileName);
                // A read-only file (unpacked with its attributes) would refuse deletion.
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(file.c_str());
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        if (DirectoryExists(dir)) RemoveDirectoryA(dir.c_str());
    }

    const std::string log = LogFilePath();
    if (!ctx.Logging) {
        if (FileExists(log)) DeleteFileA(log.c_str());
        return;
    }
    std::string text;
    for (const std::string& line : ctx.LogList)
        text += line + "\r\n";
    WriteFreshFile(log, text);
}

static void EndRun(RunContext& ctx, uint32_t code, const char* what) {
    // An installation that ends before it finished is undone first (once).
    if (ctx.Rollback) {
        const std::function<void()> rollback = std::move(ctx.Rollback);
        ctx.Rollback = nullptr;
        rollback();
    }
    EndEventLog(ctx, "Exit code: " + std::to_string(code) + " (" + what + ")");
    ctx.ReleaseResources();
    CleanUpSetupFiles(ctx);
    ctx.Terminate(code);
}

void QuitSetup(RunContext& ctx) {
    EndRun(ctx, kExitOk, "stopped before the installation");
}

void FailSetup(RunContext& ctx, uint32_t code) {
    if (!ctx.Silent) {
        std::string text = "The setup file is corrupt.\r\n\r\nError code: " + std::to_string(code);
        ctx.Prompt->MessageBox(nullptr, text, "Error", MB_OK | MB_ICONERROR);
    }
    EndRun(ctx, code, code == kExitNoLanguage ? "no language file" : "the setup file is damaged");
}

void RefuseSetup(RunContext& ctx) {
    // The requirement checks run with file-system redirection switched off (a 64-bit
    // setup on 64-bit Windows); the process gets it back before anything else happens.
    RestoreRedirection(ctx.Redirection);
    EndRun(ctx, kExitRefused, "a requirement was not met");
}

void AbortSetup(RunContext& ctx) {
    EndRun(ctx, kExitAbort, "the installation was aborted");
}

void FinishSetup(RunContext& ctx) {
    // Only a quiet run says so by its code: a finished run ends with 0 everywhere else,
    // and scripts written for that must keep working.
    if (ctx.Quiet && ctx.RestartNeeded)
        return EndRun(ctx, kExitRestartNeeded, "installed; a restart is needed");
    EndRun(ctx, kExitOk, ctx.Errors ? "installed with errors" : "installed");
}
