#include "record/ItemFailure.h"

#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "run/RunContext.h"
#include "run/SetupLog.h"

FailureCause LastErrorCause(const char* call) {
    return {call, GetLastError()};
}

std::string DescribeCause(const FailureCause& cause) {
    if (cause.call.empty()) return {};
    std::string text = cause.call + " failed: error " + DecimalText(cause.code);
    const std::string message = SystemErrorMessage(cause.code);
    if (!message.empty()) text += " (" + message + ")";
    return text;
}

void ReportItemFailure(RunContext& ctx, const std::string& logLine, const std::string& boxText,
                       const FailureCause& cause, HWND owner) {
    AddLogLine(ctx, logLine);
    if (!cause.call.empty()) AddLogDetail(ctx, logLine + ": " + DescribeCause(cause));
    LogEvent(ctx, cause.call.empty() ? logLine : logLine + ": " + DescribeCause(cause));
    if (!ctx.Silent) ctx.Prompt->MessageBox(owner, boxText, "Setup", MB_OK | MB_ICONERROR);
    ctx.Errors = true;
}

void ReportItemFailure(RunContext& ctx, const std::string& logLine, const std::string& boxText,
                       const FailureCause& cause) {
    // The box belongs to the window the user is looking at: the wizard, or none at all.
    ReportItemFailure(ctx, logLine, boxText, cause, GetActiveWindow());
}
