// Program entry of the uninstaller. Started as "Uninstall.exe [/S] [/L]" from the
// product's folder, it hands the removal to a copy of itself in the temporary folder
// (so that Uninstall.exe can be deleted) and ends with the copy's exit code; the copy
// reads "Uninstall.ini" beside the original, removes what it lists, and cleans up
// after itself.
#include "platform/FileUtil.h"
#include "platform/SystemLibrary.h"
#include "run/CommandLine.h"
#include "uninstall/UninstallElevation.h"
#include "uninstall/UninstallRun.h"
#include "uninstall/UninstallStart.h"
#include "wizard/CloseQuery.h"

#include <windows.h>

namespace {

int Remove(const UninstallArgs& args, const std::string& program, bool inCopy) {
    UninstallSettings s;
    s.Silent = args.Silent;
    s.Logging = args.Logging;
    s.RecordPath = JoinPath(ExtractFilePath(program), "Uninstall.ini");
    s.OwnFiles = {program, s.RecordPath};
    s.IsAdmin = HasAdministratorRights;
    s.IsRunning = IsProgramRunning;
    TUninstallRun run(s);
    int code = run.Run();
    if (inCopy) ReportToOriginal(args, static_cast<uint32_t>(code));
    code = run.Finish();
    run.SaveLog();
    if (inCopy) RemoveOwnFolderAfterExit();
    if (run.RestartWanted()) RestartComputer();
    return code;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearchToSystemFolder();
    LeaveStartFolder();
    const UninstallArgs args = ParseUninstallArgs(CommandLineArgs());
    try {
        if (!args.From.empty()) return Remove(args, args.From, true);
        uint32_t code = 0;
        if (RemoveElevated(ModulePath(), CommandLineArgs(), HasAdministratorRights(),
                           RunElevatedAndWait, code))
            return static_cast<int>(code);
        if (RunFromTemporaryCopy(args, code)) return static_cast<int>(code);
        // No copy could be made (no writable temporary folder): the removal runs from
        // here, and this program's own file goes at the next restart.
        return Remove(args, ModulePath(), false);
    } catch (...) {
        // Out of memory, say: what was done stays done, and the code says something is left.
        return kUninstallLeftovers;
    }
}
