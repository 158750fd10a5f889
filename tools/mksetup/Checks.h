// The builder's checks of a project: every mistake in setup.ini (and in the setup
// folder's language files and pictures) that the runtime would otherwise meet on an
// end user's machine (a record it drops without a word, a key it never reads, a
// path it refuses, a text it shows empty) is reported here, with its line.
#pragma once

#include "Diagnostics.h"

#include <string>
#include <vector>

namespace mksetup {

struct Project;
struct BuildOptions;

// Every finding for the project, in line order: setup.ini first, then (with
// setupFolder) the setup folder's language files and pictures. iniName and
// setupDirName are the names findings are shown under.
std::vector<Diagnostic> CheckProject(const Project& project, const std::string& iniName,
                                     const std::string& setupDirName, bool setupFolder = true);

// Runs the checks options.checks asks for, hands every finding to
// options.onDiagnostic, and throws BuildError when the build must stop: on any error,
// and under CheckLevel::Strict on any warning too (then reported as an error).
void ApplyProjectChecks(const Project& project, const BuildOptions& options);

// A file of the project folder as the user named the folder: "proj/setup.ini" for
// "proj", so that messages point where the user looks.
std::string ProjectFileName(const std::string& projectDir, const std::string& name);

} // namespace mksetup
