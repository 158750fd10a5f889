#include "sysinfo/SystemInfo.h"

#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "platform/SystemLibrary.h"

#include <tlhelp32.h>

#include <cstring>
#include <vector>

namespace {

const char* const kProductKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// The 148-byte version record; false when the system does not answer.
bool QueryVersion(OSVERSIONINFOA& info) {
    static_assert(sizeof(OSVERSIONINFOA) == 148);
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) != FALSE;
}

DWORD PlatformId() {
    OSVERSIONINFOA info;
    return QueryVersion(info) ? info.dwPlatformId : 0;
}

// S-1-5-32-rid, or nullptr. Release with FreeSid.
PSID BuiltinGroupSid(uint32_t rid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid))
        return nullptr;
    return sid;
}

bool TokenHasEnabledGroup(PSID sid) {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        if (GetLastError() != ERROR_NO_TOKEN) return false;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    }
    bool member = false;
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenGroups, nullptr, 0, &size) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER && size >= sizeof(TOKEN_GROUPS)) {
        // DWORD elements keep the group list suitably aligned.
        std::vector<DWORD> buf((size + sizeof(DWORD) - 1) / sizeof(DWORD));
        if (GetTokenInformation(token, TokenGroups, buf.data(), size, &size)) {
            const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buf.data());
            for (DWORD i = 0; i < groups->GroupCount && !member; ++i) {
                const SID_AND_ATTRIBUTES& g = groups->Groups[i];
                // Switched on, and not only there to deny access.
                member = EqualSid(g.Sid, sid) &&
                         (g.Attributes & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY)) ==
                             SE_GROUP_ENABLED;
            }
        }
    }
    CloseHandle(token);
    return member;
}

std::string UpperAnsi(std::string s) {
    if (!s.empty()) CharUpperBuffA(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

} // namespace

std::string TOSInfo::OsNameFor(DWORD major, DWORD minor, bool server) {
    switch (major) {
    case 4:
        return "Windows 9x";
    case 5:
        switch (minor) {
        case 0:
            return "Windows 2000";
        case 1:
            return "Windows XP";
        case 2:
            // 5.2 without a server product is XP Professional x64.
            return server ? "Windows Server 2003" : "Windows XP";
        }
        break;
    case 6:
        switch (minor) {
        case 0:
            return server ? "Windows Server 2008" : "Windows Vista";
        case 1:
            return server ? "Windows Server 2008 R2" : "Windows 7";
        case 2:
            return server ? "Windows Server 2012" : "Windows 8";
        case 3:
            return server ? "Windows Server 2012 R2" : "Windows 8.1";
        }
        if (minor <= 9) return "Windows 10";
        break;
    case 7:
        return "Windows 10";
    }
    return UnknownOsName;
}

TOSInfo::ProductFacts TOSInfo::ReadProductFacts(HKEY root, const std::string& key, REGSAM access) {
    ProductFacts facts;
    TRegistry reg(access);
    reg.SetRootKey(root);
    if (!reg.OpenKey(key, false)) return facts;
    std::string text;
    if (reg.ValueExists("InstallationType")) {
        if (!reg.ReadString("InstallationType", text)) return facts;
        if (text == "Server") facts.Server = true;
    }
    if (reg.ValueExists("ProductName")) {
        if (!reg.ReadString("ProductName", text)) return facts;
        if (text.find("Server") != std::string::npos) facts.Server = true;
    }
    if (reg.ValueExists("RegisteredOwner")) {
        if (!reg.ReadString("RegisteredOwner", text)) return facts;
        facts.Owner = text;
    }
    if (reg.ValueExists("RegisteredOrganization")) {
        if (!reg.ReadString("RegisteredOrganization", text)) return facts;
        facts.Organization = text;
    }
    return facts;
}

void TOSInfo::GatherSystemInfo(SystemFacts& out, bool view64) {
    out = SystemFacts();
    ProductFacts facts =
        ReadProductFacts(HKEY_LOCAL_MACHINE, kProductKey, RegistryReadAccess(view64));
    out.OwnerName = facts.Owner;
    out.OrganizationName = facts.Organization;
    OSVERSIONINFOA info;
    if (QueryVersion(info))
        out.OsName = OsNameFor(info.dwMajorVersion, info.dwMinorVersion, facts.Server);
}

bool TOSInfo::IsWow64() {
#ifdef _WIN64
    // A 64-bit build runs on 64-bit Windows only, where the 32-bit runtime would be
    // under WOW64: answering as it would keeps every check the same in both builds.
    return true;
#else
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32");
    auto fn = kernel ? reinterpret_cast<IsWow64ProcessFn>(
                           reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
                     : nullptr;
    if (!fn) return false;
    BOOL wow = FALSE;
    if (!fn(GetCurrentProcess(), &wow)) throw RuntimeError("Bad process handle");
    return wow != FALSE;
#endif
}

bool TOSInfo::IsGroupMember(uint32_t rid) {
    // Windows 9x has no user rights: everyone counts as an administrator.
    if (PlatformId() != VER_PLATFORM_WIN32_NT) return true;
    PSID sid = BuiltinGroupSid(rid);
    if (!sid) return false;
    bool member = false;
    using CheckTokenMembershipFn = BOOL(WINAPI*)(HANDLE, PSID, PBOOL);
    CheckTokenMembershipFn check = nullptr;
    if (LOBYTE(LOWORD(GetVersion())) >= 5) {
        HMODULE advapi = GetModuleHandleA("advapi32.dll");
        if (advapi)
            check = reinterpret_cast<CheckTokenMembershipFn>(
                reinterpret_cast<void*>(GetProcAddress(advapi, "CheckTokenMembership")));
    }
    if (check) {
        BOOL is = FALSE;
        member = check(nullptr, sid, &is) && is;
    } else {
        member = TokenHasEnabledGroup(sid);
    }
    FreeSid(sid);
    return member;
}

bool TOSInfo::IsGroupMemberByTokenGroups(uint32_t rid) {
    PSID sid = BuiltinGroupSid(rid);
    if (!sid) return false;
    bool member = TokenHasEnabledGroup(sid);
    FreeSid(sid);
    return member;
}

bool TOSInfo::IsAdmin() {
    return IsGroupMember(DOMAIN_ALIAS_RID_ADMINS) || IsGroupMember(DOMAIN_ALIAS_RID_POWER_USERS);
}

std::string TOSInfo::FileVersionText(const std::string& path) {
    // version.dll is not one of the libraries the system always takes from its own
    // folder: imported by the program, a copy beside the setup would be loaded before
    // the first line of the program runs. So it is bound here, from the system folder.
    using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    const auto sizeOf = SystemFunction<SizeFn>("version.dll", "GetFileVersionInfoSizeA");
    const auto info = SystemFunction<InfoFn>("version.dll", "GetFileVersionInfoA");
    const auto query = SystemFunction<QueryFn>("version.dll", "VerQueryValueA");
    if (!sizeOf || !info || !query) return {};
    DWORD handle = 0;
    DWORD size = sizeOf(path.c_str(), &handle);
    if (size < sizeof(WORD)) return {};
    std::vector<char> buf(size);
    if (!info(path.c_str(), 0, size, buf.data())) return {};
    void* p = nullptr;
    UINT len = 0;
    if (!query(buf.data(), "\\", &p, &len) || !p || len < sizeof(VS_FIXEDFILEINFO)) return {};
    // A damaged resource can claim a fixed record that runs past the end of its
    // own block; the bytes there are not a version. The block's length is its
    // first 16-bit word.
    WORD blockLength = 0;
    memcpy(&blockLength, buf.data(), sizeof blockLength);
    size_t offset = static_cast<size_t>(static_cast<const char*>(p) - buf.data());
    if (blockLength > size || offset > blockLength ||
        blockLength - offset < sizeof(VS_FIXEDFILEINFO))
        return {};
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(p);
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

int32_t TOSInfo::FindProcess(const std::string& name) {
    // NT lists bare executable names; Windows 9x lists full paths.
    std::string wanted =
        UpperAnsi(PlatformId() == VER_PLATFORM_WIN32_NT ? ExtractFileName(name) : name);
    // An empty name (or a folder path) names no program. The snapshot can hold an entry
    // whose name is still empty (a process being created), which must not match it.
    if (wanted.empty()) return -1;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    int32_t found = -1;
    PROCESSENTRY32 entry;
    // The 32-bit layout the snapshot functions expect (304 bytes in a 64-bit build).
    static_assert(sizeof entry == (sizeof(void*) == 4 ? 296 : 304));
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snap, &entry); ok && found == -1;
         ok = Process32Next(snap, &entry)) {
        std::string exe(entry.szExeFile, strnlen(entry.szExeFile, MAX_PATH));
        if (UpperAnsi(exe) == wanted) found = static_cast<int32_t>(entry.th32ProcessID);
    }
    CloseHandle(snap);
    return found;
}

bool TOSInfo::IsProcessRunning(const std::string& name) {
    return FindProcess(name) != -1;
}
