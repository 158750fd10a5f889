// The requirement checks of a setup: system, 64-bit Windows, administrator rights,
// internet connection, a program that must be closed, prerequisites.
#pragma once

struct RunContext;

// Returns when the setup may go on; ends the run (exit code 5) otherwise.
void RunRequirementChecks(RunContext& ctx);
