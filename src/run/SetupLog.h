// The setup log: lines collected in memory during every run, written to
// "QVSETUPLOG.TXT" in the temporary folder at the end of a run started with "/L".
// Beside it, the event log of "/LOG=file": the same five header lines, then one timed
// line per event, written to its file as the run goes.
#pragma once

#include <string>
#include <vector>

struct RunContext;

void AddLogLine(RunContext& ctx, const std::string& text);
// A detail of the last log line (the cause of a failure), kept in ctx.LogDetails.
void AddLogDetail(RunContext& ctx, const std::string& text);
// <TempDir> + "\QVSETUPLOG.TXT".
std::string LogFilePath();
// The current date and time in the user's short date and long time formats.
std::string LogDateTime();

// Creates (or replaces) the event log file and writes the header and the events that
// came before it. Nothing when no event log was asked for, or when it is started.
// A file that cannot be created is passed over: the run goes on without it.
void StartEventLog(RunContext& ctx, const std::vector<std::string>& header);
// One event: "+seconds.milliseconds text" (line breaks in text become blanks). Kept
// until the header is written; nothing when no event log was asked for.
void LogEvent(RunContext& ctx, const std::string& text);
// Ends the phase that is running (a line with its duration, and the file flushed to
// the disk) and starts the one named, unless the name is empty.
void LogPhase(RunContext& ctx, const std::string& name);
// The last line of the event log (the exit code); the file is closed afterwards. A run
// that ends before its header was written gets the header lines known by then.
void EndEventLog(RunContext& ctx, const std::string& lastLine);
// Seconds since the start of the run, as "12.345".
std::string EventClockText(const RunContext& ctx);
