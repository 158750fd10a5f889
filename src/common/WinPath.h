// Texts and Windows-style paths as a setup stores them (backslashes, ASCII
// case-insensitive names), handled without the Windows API, so the Linux build of
// the builder treats them exactly as the runtime does.
#pragma once

#include <string>

namespace qvcommon {

// ASCII case-insensitive comparison (texts are in the system code page).
bool SameText(const std::string& a, const std::string& b);
std::string UpperCase(const std::string& s);

std::string IncludeTrailingBackslash(const std::string& path);
std::string ExcludeTrailingBackslash(const std::string& path);
// The part after the last backslash, slash or colon.
std::string ExtractFileName(const std::string& path);
// The part up to and including the last backslash, slash or colon.
std::string ExtractFilePath(const std::string& path);
// Joins with exactly one backslash between the parts.
std::string JoinPath(const std::string& folder, const std::string& name);
// Whether a file or folder name holds a character a Windows folder cannot hold
// (a control character or one of \ / : * ? " < > |).
bool HasCharacterNotAllowedInNames(const std::string& name);

} // namespace qvcommon
