// The rights this process runs with, and folders that a process of lower rights
// cannot reach.
//
// An elevated setup unpacks files into the temporary folder and later runs them (the
// configuration, batch files, the uninstaller copy). The user's temporary folder is
// writable by every process of that user, elevated or not, so a folder created there
// with default security would let any of them swap those files in between.
#pragma once

#include <windows.h>

#include <string>

// What a token says about its rights, read once so the decision can be tested.
struct TokenRights {
    // The system answered the elevation query (Vista and later).
    bool ElevationKnown = false;
    // The token is elevated (a split token's full half, "Run as administrator").
    bool Elevated = false;
    // The token is the limited half of a split administrator token (User Account
    // Control's filtered token).
    bool Limited = false;
    // The Administrators group is switched on in the token (not deny-only).
    bool AdministratorsEnabled = false;
};

// Reads the facts of a token; a token that cannot be queried gives all false.
TokenRights ReadTokenRights(HANDLE token);

// Whether a token with these rights counts as elevated: elevated by User Account
// Control, or a full administrator token that is not split (User Account Control off,
// or a system without it). The limited half of a split token is never elevated.
bool CountsAsElevated(const TokenRights& rights);

// Whether the token runs with administrator rights beyond the user's normal ones.
// A null token means the calling thread's effective token: its impersonation token
// when it has one, else the process token.
bool IsElevatedToken(HANDLE token = nullptr);

// A self-relative security descriptor for a private folder: owner Administrators;
// full access for SYSTEM and Administrators only, inherited by everything created
// inside; protected, so nothing is inherited from the parent folder. Release with
// LocalFree; null when it cannot be built.
PSECURITY_DESCRIPTOR BuildPrivateFolderDescriptor();

// Creates one folder (a single level; it must not exist yet) with the private
// descriptor applied at creation, so there is no moment in which it is open to others.
// False, with the last error set, on failure (an existing folder included).
bool CreatePrivateDirectory(const std::string& path);

// Creates a working folder in the temporary folder: private when the effective token
// is elevated, else with the default security, as any folder of the user. A folder of
// that name that already exists is a failure in either case.
bool CreateWorkFolder(const std::string& path);

// Whether a folder is as private as CreatePrivateDirectory makes one in parent now:
// the same owner, and an access list that lets in nobody else. On Windows that owner
// is Administrators, which a process of lower rights cannot give what it creates, so
// a folder such a process made or opened up is not private. (Wine derives owner and
// access list from the file's mode; there the comparison still tells a private folder
// from one that others may read.) folder: a handle opened with READ_CONTROL.
bool IsPrivateFolder(HANDLE folder, const std::string& parent);
