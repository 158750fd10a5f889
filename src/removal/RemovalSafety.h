// What the removal may delete. A record is a file on the user's disk: damaged, edited
// or written by something else, it must still never make the removal delete more
// than an installation can have created.
#pragma once

#include <string>
#include <vector>

// The folders no installation owns: the drive roots are refused by the path rule; these
// are the Windows and system folders, the program-files roots, the profile folders and
// the shell's own folders (Desktop, Start menu, Programs, Startup, Documents, AppData,
// Fonts, ...), for the current user and for all users, and the temporary folder. Each
// as a full path without trailing backslash, in the form the system reports it.
const std::vector<std::string>& ProtectedFolders();

// Why a recorded file or folder may not be deleted, or empty text when it may: it must
// be a plain absolute path (a drive or share, no "." or ".." part, no stream, wildcard
// or device name), and neither one of the protected folders nor a folder holding one.
// extraProtected names further folders of the caller (the same rule applies to them).
std::string PathRefusal(const std::string& path,
                        const std::vector<std::string>& extraProtected = {});

// Why a recorded registry key may not be deleted, or empty text when it may. root is
// the long root name. Refused: a root, a first-level key (HKLM\SOFTWARE), a key of a
// user's hive at that level (HKU\<user>\Software), and the keys that every program
// shares (...\Windows\CurrentVersion, its Run and Uninstall keys, Classes and its
// system classes such as CLSID, the environment, the control set, ...), in either
// registry view; and any key that holds one of them.
std::string KeyRefusal(const std::string& root, const std::string& key);

// Whether key is an entry of the installed-programs list (a key directly below
// ...\Windows\CurrentVersion\Uninstall).
bool IsInstalledProgramsEntry(const std::string& key);
