// The requirement checks of a setup: system, 64-bit Windows, administrator rights,
// internet connection, a program that must be closed, prerequisite products.
#pragma once

#include "platform/Elevation.h"

#include <string>

struct RunContext;

// Returns when the setup may go on; ends the run (exit code 5) otherwise. A setup that
// requires administrator rights and asks for them ([Setup] RequestElevation) starts
// itself again through startElevated when the user lacks them, and ends with that
// run's exit code; a declined request is refused as without it.
void RunRequirementChecks(RunContext& ctx, const ElevatedStart& startElevated = RunElevatedAndWait);

// The supported systems named by the ten system keys of [Setup] that are true, as
// message 3 shows them: "7, 8.1".
std::string SupportedSystemsList(const RunContext& ctx);

// Whether an installed version text is at least the required one. Both are cut to
// "major.first digit" and compared as decimal numbers; the required texts
// "X (10.0)", "XI (11.0)" and "XII (12.0)" stand for 10.0, 11.0 and 12.0. False
// when either is not a number (an empty installed text included).
bool VersionAtLeast(const std::string& installed, const std::string& required);

// Unless silent: a warning box with text and an OK button, captioned with the
// wizard's title.
void WarnUnlessSilent(RunContext& ctx, const std::string& text);
