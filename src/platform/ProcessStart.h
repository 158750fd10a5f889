// Starting another program and waiting for it.
#pragma once

#include <windows.h>

#include <string>

// Starts "program" parameters in the program's folder and waits until it ends.
// True when the program could be started.
bool RunAndWait(const std::string& program, const std::string& parameters, int show);

// Asks the shell to start program with the verb "runas". True when the shell accepted
// the request (false when the user declined elevation or the file is missing). With
// wait, returns once the program has ended (or the application is quitting), serving
// the window meanwhile.
bool RunElevated(HWND owner, const std::string& program, const std::string& parameters, bool wait,
                 int show);
