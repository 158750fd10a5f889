#include "sysinfo/OpenLink.h"

#include "platform/FileUtil.h"
#include "platform/ProcessStart.h"
#include "platform/SystemLibrary.h"
#include "run/RunContext.h"
#include "text/Language.h"

#include <windows.h>

#include <shellapi.h>

bool OpenLink(RunContext& ctx, const std::string& text, bool run, bool notice) {
    std::string target = text, parameters;
    size_t blank = text.find(" /");
    if (blank != std::string::npos) {
        target = text.substr(0, blank);
        parameters = text.substr(blank + 1);
    }
    const bool file = FileExists(target);
    if (run && file) return RunAndWait(target, parameters, SW_SHOWNORMAL);

    HWND owner = GetActiveWindow();
    if (notice)
        ctx.Prompt->MessageBox(owner, FormatText(LanguageText(ctx, "Messages", 28), ""),
                               "Setup - " + ctx.ProductTitle, MB_OK | MB_ICONWARNING);
    // An empty link (a setup that names none) has nothing to open: handed to the shell it
    // would open the current folder instead.
    if (target.empty()) return false;
    EnsureCom();
    if (file)
        ShellExecuteA(owner, "open", target.c_str(), parameters.c_str(),
                      ExcludeTrailingBackslash(ExtractFilePath(target)).c_str(), SW_SHOWNORMAL);
    else
        ShellExecuteA(owner, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return false;
}
