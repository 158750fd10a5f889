// Paths the runtime may write to or delete: the rule that keeps a configured or
// recorded path from reaching outside what it names.
#pragma once

#include <string>

// True when an expanded destination names a file by an absolute path that cannot lead
// anywhere else: "X:\..." or "\\server\share\...", backslashes only, no empty, "." or
// ".." (or other dots-only) component, no colon but the drive's, no wildcard or other
// character that is invalid in a file name, and a file name at the end that the system
// does not take for a device (such as NUL or COM1, which would be written to instead).
bool IsSafeDestination(const std::string& path);

// The path itself up to 60 characters; longer: F\..\N.
std::string ShortDisplayPath(const std::string& path);
