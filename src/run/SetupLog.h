// The setup log: lines collected in memory during every run, written to
// "QVSETUPLOG.TXT" in the temporary folder at the end of a run started with "/L".
#pragma once

#include <string>

struct RunContext;

void AddLogLine(RunContext& ctx, const std::string& text);
// <TempDir> + "\QVSETUPLOG.TXT".
std::string LogFilePath();
