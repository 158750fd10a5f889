// The setup's command line.
#pragma once

#include <string>
#include <vector>

struct RunContext;

// The arguments of this process, split by the system's rules (double quotes group
// words), without the program itself.
std::vector<std::string> CommandLineArgs();

// 1-based position of the first argument equal to text, ignoring case; 0 when absent.
// A switch counts only as a whole argument.
int FindSwitch(const RunContext& ctx, const std::string& text);
// The argument that follows the switch at position pos; empty when there is none.
std::string ArgumentAfter(const RunContext& ctx, int pos);
// The text after the first argument that begins with prefix (ignoring case), as in
// "/LOG=C:\Logs\setup.log": false when no argument begins so.
bool SwitchValue(const RunContext& ctx, const std::string& prefix, std::string& value);
