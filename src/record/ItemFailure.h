// The one way an installation item reports that it failed while the run goes on: the
// failure line in the log, the cause beside it, the box unless silent, and the run's
// errors flag.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct RunContext;

// Why an item failed: the system call that refused and its error code. An empty call
// means the item itself was refused (a bad record, an unsafe path): no system error.
struct FailureCause {
    std::string call;
    uint32_t code = 0;
};

// The call that has just failed, with the thread's last error code.
FailureCause LastErrorCause(const char* call);

// "CreateFileA failed: error 5 (Access is denied)"; empty for no cause.
std::string DescribeCause(const FailureCause& cause);

// Adds logLine to the log and the cause to its details, shows boxText in an error box
// captioned "Setup" over owner unless the run is silent, and sets ctx.Errors.
void ReportItemFailure(RunContext& ctx, const std::string& logLine, const std::string& boxText,
                       const FailureCause& cause, HWND owner);
// The same over the active window (the wizard, or none in a silent run).
void ReportItemFailure(RunContext& ctx, const std::string& logLine, const std::string& boxText,
                       const FailureCause& cause = {});
