// File-system redirection of the 32-bit process on 64-bit Windows, switched off so
// that a 64-bit setup sees the real system folders. The two functions are looked up
// by name: they do not exist on every system, and every failure is ignored.
#pragma once

struct RunContext;

// Switches redirection off when the run has not already done so.
void DisableRedirection(RunContext& ctx);
// Restores the state saved by DisableRedirection, if it switched anything off.
void RestoreRedirection(RunContext& ctx);
