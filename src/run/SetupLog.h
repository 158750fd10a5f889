// The setup log: lines collected in memory during every run, written to
// "QVSETUPLOG.TXT" in the temporary folder at the end of a run started with "/L".
#pragma once

#include <string>

struct RunContext;

void AddLogLine(RunContext& ctx, const std::string& text);
// A detail of the last log line (the cause of a failure), kept in ctx.LogDetails.
void AddLogDetail(RunContext& ctx, const std::string& text);
// <TempDir> + "\QVSETUPLOG.TXT".
std::string LogFilePath();
