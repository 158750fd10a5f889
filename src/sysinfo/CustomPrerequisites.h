// Custom prerequisites: products a setup needs, each described by a condition on a
// file, a folder or the registry ([Prerequisites] records of the configuration).
#pragma once

#include <string>

struct RunContext;

// One record "name*?link*?platform*?condition*?path*?value" (the value may be
// empty). Returns when the condition holds, or the record does not apply (wrong
// field count, another platform); otherwise asks message 27 until the condition
// holds after the link's installer ran, and ends the run (exit code 5) when the
// user declines or the link was not a program that ran.
void CheckCustomPrerequisite(RunContext& ctx, const std::string& record);

// Whether condition (upper-cased) holds for the expanded path and value fields;
// registry conditions read in the 64-bit view when view64 is set. Unknown
// conditions hold without a test.
bool CustomConditionMet(const std::string& condition, const std::string& path,
                        const std::string& value, bool view64);

// Splits a registry path "ROOT\key\path\value": with wantKeyPath the key path
// ("key\path"), else the value name ("value"). When nothing after the root holds a
// "\", key path and value name are both that rest.
std::string RegistryPathPart(const std::string& path, bool wantKeyPath);
