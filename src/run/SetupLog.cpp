#include "run/SetupLog.h"

#include "platform/FileUtil.h"
#include "run/RunContext.h"

#include <windows.h>

namespace {

int64_t Counter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::string SecondsText(int64_t ticks) {
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    const uint64_t ms =
        ticks <= 0 ? 0 : static_cast<uint64_t>(ticks) * 1000 / static_cast<uint64_t>(freq.QuadPart);
    return DecimalText(ms / 1000) + "." + DecimalText(ms % 1000, 3);
}

// One line of the file: line breaks of a message's text would split an event.
std::string OneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

// Written at once, without a buffer of our own: what the system has been handed
// survives the process being killed.
void WriteLine(EventLogState& log, const std::string& line) {
    if (log.File == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(log.File, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace

void AddLogLine(RunContext& ctx, const std::string& text) {
    ctx.LogList.push_back(text);
}

void AddLogDetail(RunContext& ctx, const std::string& text) {
    ctx.LogDetails.push_back(text);
}

std::string LogFilePath() {
    return TempDir() + "\\QVSETUPLOG.TXT";
}

std::string LogDateTime() {
    char date[128] = {}, time[128] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

std::string EventClockText(const RunContext& ctx) {
    return SecondsText(Counter() - ctx.EventLog.Origin);
}

void StartEventLog(RunContext& ctx, const std::vector<std::string>& header) {
    EventLogState& log = ctx.EventLog;
    if (log.Path.empty() || log.Started) return;
    log.Started = true;
    // Shared for writing: a run that hands itself on to an elevated run (with the same
    // arguments) keeps its handle while the new run replaces the file.
    log.File = CreateFileA(log.Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    for (const std::string& line : header)
        WriteLine(log, OneLine(line));
    for (const std::string& line : log.Pending)
        WriteLine(log, line);
    log.Pending.clear();
}

void LogEvent(RunContext& ctx, const std::string& text) {
    EventLogState& log = ctx.EventLog;
    if (log.Path.empty() || log.Ended) return;
    const std::string line = "+" + EventClockText(ctx) + " " + OneLine(text);
    if (log.Started)
        WriteLine(log, line);
    else
        log.Pending.push_back(line);
}

void LogPhase(RunContext& ctx, const std::string& name) {
    EventLogState& log = ctx.EventLog;
    if (log.Path.empty() || log.Ended) return;
    if (!log.Phase.empty()) {
        LogEvent(ctx, "Phase end: " + log.Phase + " (" + SecondsText(Counter() - log.PhaseStart) +
                          " s)");
        if (log.File != INVALID_HANDLE_VALUE) FlushFileBuffers(log.File);
    }
    log.Phase = name;
    log.PhaseStart = Counter();
    if (!name.empty()) LogEvent(ctx, "Phase start: " + name);
}

void EndEventLog(RunContext& ctx, const std::string& lastLine) {
    EventLogState& log = ctx.EventLog;
    if (log.Path.empty() || log.Ended) return;
    // Before the header the product and the system are not known yet: their lines stay
    // empty, so the events still begin on the sixth line.
    StartEventLog(ctx, {ctx.SetupFile, ctx.ProductTitle, LogDateTime(), "", ""});
    LogPhase(ctx, "");
    LogEvent(ctx, lastLine);
    log.Ended = true;
    if (log.File != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(log.File);
        CloseHandle(log.File);
        log.File = INVALID_HANDLE_VALUE;
    }
}
