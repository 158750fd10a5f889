// Starting another program and waiting for it.
#pragma once

#include <windows.h>

#include <string>

// Starts "program" parameters in the program's folder and waits until it ends.
// True when the program could be started; exitCode, when given, receives its exit code.
bool RunAndWait(const std::string& program, const std::string& parameters, int show,
                DWORD* exitCode = nullptr);

// Asks the shell to start program with the verb "runas". True when the shell accepted
// the request (false when the user declined elevation or the file is missing). With
// wait, returns once the program has ended (or the application is quitting), serving
// the window meanwhile.
bool RunElevated(HWND owner, const std::string& program, const std::string& parameters, bool wait,
                 int show);

// Starts a configured command the way its wait and elevate fields ask: waited for
// (elevated through the shell, or created directly), or handed to the shell's "open"
// (an existing file in its own folder with the parameters; anything else, such as an
// address or a name on the search path, as text alone). Results are not examined
// beyond this answer: false when it could not be started. A program created and waited
// for leaves its exit code in exitCode when given (elevated ones give none).
bool StartCommandProgram(const std::string& program, const std::string& parameters, int show,
                         bool wait, bool elevate, DWORD* exitCode = nullptr);
