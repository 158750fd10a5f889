// Appearance of the wizard: font and sizes from the setup cabinet.
#pragma once

struct RunContext;

// Applies the wizard font settings of the setup cabinet. False when they cannot be
// applied (the run then ends with code 3).
bool ApplyAppearance(RunContext& ctx);
