// Small file and path helpers shared by several folders.
#pragma once

#include <cstdint>
#include <string>

// The user's temporary folder, without trailing backslash.
std::string TempDir();
// Full path of the running program.
std::string ModulePath();

bool FileExists(const std::string& path);      // an existing file, not a folder
bool DirectoryExists(const std::string& path); // an existing folder
std::string IncludeTrailingBackslash(const std::string& path);
std::string ExcludeTrailingBackslash(const std::string& path);
// The part after the last backslash, slash or colon.
std::string ExtractFileName(const std::string& path);
// The part up to and including the last backslash, slash or colon.
std::string ExtractFilePath(const std::string& path);
// Joins with exactly one backslash between the parts.
std::string JoinPath(const std::string& folder, const std::string& name);
// Full path of a possibly relative path, as the system reads it (a device name reads as
// "\\\\.\\NAME"); the path itself when the system cannot read it.
std::string FullPath(const std::string& path);
// Creates every missing folder of path. True when the folder exists afterwards.
bool ForceDirectories(const std::string& path);
// ASCII case-insensitive comparison (texts are in the system code page).
bool SameText(const std::string& a, const std::string& b);
std::string UpperCase(const std::string& s);
// Without the blanks and control characters at either end.
std::string Trim(const std::string& s);

// Number texts without the C library's printf, which would add ~18 KB of
// floating-point formatting to the program: at least width digits, zeros in front.
std::string DecimalText(uint64_t value, int width = 1);
std::string HexText(uint64_t value, int width); // upper-case digits
// Today's local date as "YYYYMMDD".
std::string CompactDate();
