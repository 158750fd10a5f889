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
// The progress bar position after copying `copied` bytes of record i's cabinet.
int ProgressPosition(int i, int totalFiles, uint32_t copied, uint32_t size);

// The pieces below are what PlaceFiles is made of; public so they can be checked on
// their own.

// The destination field with the all-users folders swapped for the user's own (the
// first occurrence of each, ignoring case); used for per-user installs without
// administrator rights.
std::string PerUserDestination(const std::string& field);

// The cabinet-size field: blanks around it ignored, then decimal digits only, at most
// 2147483647. Anything else (empty, a sign, "12x", too large) is not a size.
bool ParseCabinetSize(const std::string& field, uint32_t& size);
