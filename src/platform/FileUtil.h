// Small file and path helpers shared by several folders.
#pragma once

#include "common/WinPath.h"

#include <cstdint>
#include <string>

// The user's temporary folder, without trailing backslash.
std::string TempDir();
// Full path of the running program.
std::string ModulePath();

bool FileExists(const std::string& path);      // an existing file, not a folder
bool DirectoryExists(const std::string& path); // an existing folder
// Path and text helpers that need no system call, shared with the builder's Linux
// build (common/WinPath).
using qvcommon::ExcludeTrailingBackslash;
using qvcommon::ExtractFileName;
using qvcommon::ExtractFilePath;
using qvcommon::IncludeTrailingBackslash;
using qvcommon::JoinPath;
using qvcommon::SameText;
using qvcommon::UpperCase;
// Full path of a possibly relative path, as the system reads it (a device name reads as
// "\\\\.\\NAME"); the path itself when the system cannot read it.
std::string FullPath(const std::string& path);
// Creates every missing folder of path. True when the folder exists afterwards.
bool ForceDirectories(const std::string& path);
// Writes text to a file of a fixed name in a folder that others may write (the
// temporary folder), replacing what is there: the name is deleted first and the file
// created new, so a link planted under the name goes, not the file it points to (an
// elevated process writing through it would overwrite a file of another's choosing).
// False when the file could not be written whole.
bool WriteFreshFile(const std::string& path, const std::string& text);
// A text of the program's ANSI code page in UTF-16, for the system's wide calls.
std::wstring WideFromAnsi(const std::string& text);
// Without the blanks and control characters at either end.
std::string Trim(const std::string& s);

// Number texts without the C library's printf, which would add ~18 KB of
// floating-point formatting to the program: at least width digits, zeros in front.
std::string DecimalText(uint64_t value, int width = 1);
std::string HexText(uint64_t value, int width); // upper-case digits
// Today's local date as "YYYYMMDD".
std::string CompactDate();
