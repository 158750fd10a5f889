// Starting this program again with administrator rights, for programs that need them
// and were started without (opt-in: a setup's RequestElevation, an uninstall record's
// Admin).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One argument quoted so that the system's command-line splitting gives it back
// unchanged: blanks, tabs, double quotes and backslashes in front of them included.
// An argument that needs nothing stays as it is; an empty one becomes "".
std::string QuoteArgument(const std::string& arg);
// The arguments, each quoted, joined by single blanks.
std::string JoinArguments(const std::vector<std::string>& args);

// Whether a run that finds it lacks administrator rights asks for them instead of
// refusing: only when the rights are required, the program opted in, and this run is
// not itself the answer to an earlier request (a request that gave no rights, with
// User Account Control off, would otherwise start the program again and again).
bool ShouldRequestElevation(bool adminRequired, bool isAdmin, bool requestElevation,
                            bool startedByRequest);

// Whether this process was started by RunElevatedAndWait of a process that still
// lacked the rights. Reads the mark once and removes it from the environment, so
// the programs this one starts do not see it.
bool TakeElevationRequestMark();

// Starts program with the parameters through the shell verb "runas" (the system asks
// the user for consent or credentials), waits until it ends while serving this
// thread's window messages, and gives its exit code. False when it did not start:
// the user declined, or the system refused.
bool RunElevatedAndWait(const std::string& program, const std::string& parameters,
                        uint32_t& exitCode);

// The elevation request as the programs use it: RunElevatedAndWait, or a stand-in in
// tests.
using ElevatedStart = std::function<bool(const std::string& program, const std::string& parameters,
                                         uint32_t& exitCode)>;
