// User variables: [Variables] records whose values come from the registry.
#pragma once

#include <string>

struct RunContext;

// Evaluates every [Variables] record in file order, appending to the variable list.
// May end the run (a stop request of a variable whose value is missing).
void EvaluateVariables(RunContext& ctx);

// Evaluates one [Variables] record: "name*?key path*?value name*?kind*?default*?view".
// Appends "name?value" to the variable list; a record with the wrong number of fields
// or an unknown root defines nothing. A default "HALT(" message ")" used because the
// registry value could not be read shows the message (unless silent) and ends the run
// with exit code 0.
void EvaluateVariable(RunContext& ctx, const std::string& record);
