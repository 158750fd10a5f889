// What the setup asks about the machine it runs on: the Windows name, 64-bit
// Windows, the user's rights, file versions and running programs. All operations
// are class-level; what start-up learns is kept in the run context's SystemFacts.
#pragma once

#include "run/RunContext.h"

#include <windows.h>

#include <cstdint>
#include <string>

class TOSInfo {
  public:
    TOSInfo() = delete;

    // The value of OsName for any system the table of OsNameFor does not know.
    static constexpr const char* UnknownOsName = SystemFacts::UnknownOsName;

    // Fills facts (OsName, OwnerName and OrganizationName). view64 is the setup's
    // 64-bit mark: the Windows product key is then read in the 64-bit registry
    // view. Never fails; what cannot be read stays at its initial value.
    static void GatherSystemInfo(SystemFacts& facts, bool view64);

    // True when this (32-bit) process runs on 64-bit Windows. Asked afresh each
    // time. Throws RuntimeError("Bad process handle") when the system
    // refuses the query for the current process.
    static bool IsWow64();

    // Whether the current user's token is a member of the built-in group
    // S-1-5-32-rid. False on every system-call failure.
    static bool IsGroupMember(uint32_t rid);
    // Member of Administrators (544) or Power Users (547), judged on the token
    // the setup runs with (a filtered token's deny-only Administrators group
    // does not count).
    static bool IsAdmin();

    // The fixed file version of path's version resource as "a.b.c.d", or empty
    // text for a missing file or one without version information.
    static std::string FileVersionText(const std::string& path);

    // The process identifier of a running program whose executable name equals
    // the file-name part of name (the whole text on Windows 9x), ignoring
    // letter case. -1 when none runs or no snapshot can be taken.
    static int32_t FindProcess(const std::string& name);
    static bool IsProcessRunning(const std::string& name);

    // The pieces below are what the operations above are made of; they are
    // public so that they can be checked on their own.

    // The name of a Windows version as reported to this program (major, minor)
    // and whether the product is a server product.
    static std::string OsNameFor(DWORD major, DWORD minor, bool server);

    struct ProductFacts {
        bool Server = false;
        std::string Owner;
        std::string Organization;
    };
    // Reads the product facts from key below root with the given access: server
    // when "InstallationType" is exactly "Server" or "ProductName" contains
    // "Server" (both case-sensitive), plus the registered owner and
    // organization. A value that cannot be read as text ends the reading; what
    // was read before it stays.
    static ProductFacts ReadProductFacts(HKEY root, const std::string& key, REGSAM access);

    // Membership as older systems (or systems without CheckTokenMembership)
    // decide it: by walking the groups of the thread's or process's token.
    static bool IsGroupMemberByTokenGroups(uint32_t rid);

    // ---- Prerequisite detection (Prerequisites.cpp) ----
    // Each reads HKEY_LOCAL_MACHINE afresh on every call, read-only, in the 64-bit
    // view when view64 (the setup's 64-bit mark) is set. A missing key or value is
    // "not installed" (-1, empty text or "0.0"), never an error.

    // Display names of the levels; a configuration stores the required version of
    // these three products as an index into them.
    static const char* const DotNetVersionNames[12];
    static const char* const SqlCompactVersionNames[4];
    static const char* const SqlServerVersionNames[15];

    static int32_t DotNetLevel(bool view64);                 // -1..11
    static std::string InternetExplorerVersion(bool view64); // empty when not found
    static std::string AcrobatReaderVersion();               // always the 32-bit view; "0.0"
    static std::string JavaRuntimeVersion(bool view64);      // "0.0" when not found
    static int32_t SqlCompactLevel(bool view64);             // -1..3
    static int32_t SqlServerLevel(bool view64);              // -1..14

    // The address HasInternetConnection tries by default.
    static constexpr const char* ConnectionTestUrl =
        "http://www.msftconnecttest.com/connecttest.txt";
    // Whether address can be opened through the system's internet functions (with
    // its preconfigured proxy). Blocks until the system answers: connecting,
    // sending and receiving wait ten seconds at most each, but name resolution is
    // the system's and can take longer. True when the internet functions are
    // unavailable: the test cannot be made, and a setup must not be refused for that.
    static bool HasInternetConnection(const std::string& address = ConnectionTestUrl);

    // A version text cut after the character that follows its first "." (so
    // 11.0.9600 gives 11.0 and 9.11 gives 9.1). A text without "." stays whole: a
    // year such as 2015 or a major number such as 10 keeps all its digits.
    // DecimalValue reads such a text as a number ("." as decimal point, digits
    // only); false when it is not one.
    static std::string CutVersion(const std::string& text);
    static bool DecimalValue(const std::string& text, double& value);
    // ---- end of prerequisite detection ----
};
