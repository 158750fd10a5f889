// User variables: [Variables] records whose values come from the registry.
#pragma once

struct RunContext;

// Evaluates every [Variables] record in file order, appending to the variable list.
// May end the run (a stop request of a variable whose value is missing).
void EvaluateVariables(RunContext& ctx);
