// File placement: copies each payload cabinet out of the setup file and extracts it
// to its destination under the record's exist mode.
#pragma once

#include <cstdint>
#include <string>
#include <windows.h>

struct RunContext;

enum class PlacementResult {
    Finished,        // every record was worked through
    MalformedRecord, // a [Files] record did not split into four fields: end the run now
};

// Works through [Files]. Ends the process through AbortSetup on a fatal error.
PlacementResult PlaceFiles(RunContext& ctx);

// True when newFile counts as newer than existingFile (versions, else times).
bool IsNewerFile(const std::string& newFile, const std::string& existingFile);
// Last-modification time in local time; a zero FILETIME when missing or unreadable.
FILETIME GetFileDate(const std::string& path);
// Asks an existing DLL or OCX to unregister itself; reports nothing.
void UnregisterLibrary(const std::string& path);
// Blanks the [Others] records that mention path.
void CancelOtherItems(RunContext& ctx, const std::string& path);
// The path itself up to 60 characters; longer: F\..\N.
std::string ShortDisplayPath(const std::string& path);
// The progress bar position after copying `copied` bytes of record i's cabinet.
int ProgressPosition(int i, int totalFiles, uint32_t copied, uint32_t size);

// The pieces below are what PlaceFiles is made of; public so they can be checked on
// their own.

// Runs fn(arg). A processor or system exception raised inside it and not handled
// there (an access violation in a library's entry point, say) is contained: the call
// is abandoned and false returned. True when fn returned normally.
bool CallContained(void (*fn)(void*), void* arg);

// The destination field with the all-users folders swapped for the user's own (the
// first occurrence of each, ignoring case); used for per-user installs without
// administrator rights.
std::string PerUserDestination(const std::string& field);

// The cabinet-size field: blanks around it ignored, then decimal digits only, at most
// 2147483647. Anything else (empty, a sign, "12x", too large) is not a size.
bool ParseCabinetSize(const std::string& field, uint32_t& size);

// True when an expanded destination names a file by an absolute path that cannot lead
// anywhere else: "X:\..." or "\\server\share\...", backslashes only, no empty, "." or
// ".." (or other dots-only) component, no colon but the drive's, no wildcard or other
// character that is invalid in a file name, and a file name at the end that the system
// does not take for a device (such as NUL or COM1, which would be written to instead).
bool IsSafeDestination(const std::string& path);
