// Reading back who may do what with a folder, for the tests of the private setup temp
// folder.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A security descriptor's owner and access list in a comparable form: SIDs as text
// ("S-1-5-18"), each entry as "<type>;<flags>;<mask>;<sid>" in hexadecimal.
struct SecuritySummary {
    bool read = false;
    std::string owner;
    bool isProtected = false; // nothing is inherited from the parent
    std::vector<std::string> entries;
    bool operator==(const SecuritySummary&) const = default;
};

// For failure messages: "owner S-1-5-32-544, protected, entries [...]".
std::string Describe(const SecuritySummary& s);

SecuritySummary Summarize(PSECURITY_DESCRIPTOR sd);
// The descriptor of a file or folder as the system reports it.
SecuritySummary ReadSecurity(const std::string& path);

// The summary the private folder must have: owner Administrators, protected, full
// access for SYSTEM and Administrators only, passed on to what is created inside.
SecuritySummary PrivateFolderSummary();

// Whether this system keeps a descriptor given at creation as it was given. Windows
// does; Wine without stored descriptors reports one rebuilt from the Unix file mode
// instead (owner: the user; entries: the user, SYSTEM and, for a world-readable
// file, Everyone).
bool SystemKeepsDescriptors(const std::string& scratchFolder);

// The limited half of this process's split token (the token User Account Control
// gives a program started without elevation), as a primary or an impersonation token;
// null when this process does not run with an elevated split token (Wine's user always
// does).
HANDLE LimitedToken(TOKEN_TYPE type);

// Expects the folder to be private as the setup makes it: exactly PrivateFolderSummary
// on a system that keeps descriptors; where the system rebuilds them from the Unix file
// mode (Wine), as a folder closed to everyone else, unlike a folder of the default
// security made beside it in scratchFolder.
void ExpectPrivateFolder(const std::string& path, const std::string& scratchFolder);

// Whether some entry of the summary names the SID given as text.
bool Grants(const SecuritySummary& s, const std::string& sid);
