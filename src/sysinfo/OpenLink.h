// Opens or runs the link of a prerequisite product (or of the Finish page).
#pragma once

#include <string>

struct RunContext;

// text is a target, optionally followed by a blank and parameters beginning with
// "/". With run set and an existing file as target, runs it with the parameters and
// waits for its end: true when it could be started. Otherwise, with notice set,
// shows message 28 ("restart this setup after installing"), asks the shell to open
// the target (a file with its parameters, or the whole text as an address) and
// answers false.
bool OpenLink(RunContext& ctx, const std::string& text, bool run, bool notice);
