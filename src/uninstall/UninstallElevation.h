// The uninstaller asks for administrator rights the way a setup does: when the record
// beside it says the product needs them (Admin=1) and its setup asked for elevation
// (RequestElevation=1, written when the setup's [Setup] had it), a user without the
// rights is asked, and the removal runs elevated.
#pragma once

#include "platform/Elevation.h"

#include <cstdint>
#include <string>
#include <vector>

// The program the user started (the original, before its temporary copy): when the
// record beside it asks for the rights and isAdmin is false, starts program again
// through startElevated with the same arguments and gives that run's exit code. False
// when nothing was started (no need, no record, or the request was declined): the
// removal then goes on here, and refuses as usual without the rights.
bool RemoveElevated(const std::string& program, const std::vector<std::string>& args, bool isAdmin,
                    const ElevatedStart& startElevated, uint32_t& exitCode);
