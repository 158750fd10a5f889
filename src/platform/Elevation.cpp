#include "platform/Elevation.h"

#include "platform/MessagePump.h"
#include "platform/SystemLibrary.h"

#include <shellapi.h>
#include <windows.h>

namespace {

// Set in the environment of the request's process while the shell starts the program.
// A real elevation starts it with the user's own environment, without the mark; a
// start that gave no rights (User Account Control off) passes the mark on.
constexpr const char* kRequestMark = "QV_ELEVATION_REQUESTED";

} // namespace

std::string QuoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++backslashes;
            ++i;
        }
        if (i == arg.size()) {
            // Doubled: the closing quote follows them.
            out.append(backslashes * 2, '\\');
            break;
        }
        if (arg[i] == '"') {
            // Doubled, and one more to make the quote itself literal.
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        out += arg[i];
    }
    out += '"';
    return out;
}

std::string JoinArguments(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty()) line += ' ';
        line += QuoteArgument(arg);
    }
    return line;
}

bool ShouldRequestElevation(bool adminRequired, bool isAdmin, bool requestElevation,
                            bool startedByRequest) {
    return adminRequired && !isAdmin && requestElevation && !startedByRequest;
}

bool TakeElevationRequestMark() {
    char value[8];
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableA(kRequestMark, value, sizeof value);
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    SetEnvironmentVariableA(kRequestMark, nullptr);
    return true;
}

bool RunElevatedAndWait(const std::string& program, const std::string& parameters,
                        uint32_t& exitCode) {
    char dir[MAX_PATH];
    const DWORD dirLength = GetCurrentDirectoryA(sizeof dir, dir);
    SHELLEXECUTEINFOA sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    sei.lpVerb = "runas";
    sei.lpFile = program.c_str();
    sei.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    // The same working folder, so relative paths of the command line mean the same.
    sei.lpDirectory = dirLength > 0 && dirLength < sizeof dir ? dir : nullptr;
    sei.nShow = SW_SHOWNORMAL;
    EnsureCom();
    SetEnvironmentVariableA(kRequestMark, "1");
    const bool started = ShellExecuteExA(&sei) != FALSE;
    SetEnvironmentVariableA(kRequestMark, nullptr);
    if (!started) return false;
    // Without a process there is no outcome to hand on: reported as a failure.
    exitCode = 1;
    if (!sei.hProcess) return true;
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &sei.hProcess, FALSE, INFINITE, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0 + 1) {
            ProcessMessages();
            continue;
        }
        if (r != WAIT_OBJECT_0) WaitForSingleObject(sei.hProcess, INFINITE);
        break;
    }
    DWORD code = 1;
    if (GetExitCodeProcess(sei.hProcess, &code)) exitCode = code;
    CloseHandle(sei.hProcess);
    return true;
}
