#include "engine/Commands.h"

#include "app/RunContext.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "text/UserVariables.h"

#include <windows.h>

void RunStartupCommands(RunContext& ctx) {
    ctx.OpenDialogFile.clear();
    for (const std::string& key : ctx.Config->ReadSection("Commands"))
        RunCommand(ctx, kStageBeforeInstallation, ctx.Config->ReadString("Commands", key, ""));
    ProcessMessages();
    // Variables are read again so that they see what the commands changed.
    ctx.UserVariables.clear();
    EvaluateVariables(ctx);
}

void RunCommand(RunContext&, int, const std::string&) {
    // Configured commands are not built yet: their records are passed over.
}

bool RunAndWait(const std::string& program, const std::string& parameters, int show) {
    // The command line is not cut to a fixed length: a long installation path would
    // otherwise start a different (or no) program.
    std::string cmd = "\"" + program + "\" " + parameters;
    std::string dir = ExcludeTrailingBackslash(ExtractFilePath(program));
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi))
        return false;
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}
