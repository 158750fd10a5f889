// Start-up of a setup run, in its fixed order.
#pragma once

struct RunContext;

// Runs start-up. Returns normally only when the wizard is to be shown; every other
// way ends the process through one of the ends of the run.
void FormCreate(RunContext& ctx);
