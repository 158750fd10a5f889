#include "platform/Security.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

// Full access (FA) for SYSTEM (SY) and Administrators (BA), passed on to files and
// folders inside (OICI); "P" protects the list from what the parent would add.
constexpr const char* kPrivateDacl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

PSECURITY_DESCRIPTOR DescriptorFromText(const std::string& text) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &sd,
                                                              nullptr))
        return nullptr;
    return sd;
}

bool CreateWithDescriptor(const std::string& path, PSECURITY_DESCRIPTOR sd) {
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    return CreateDirectoryA(path.c_str(), &sa) != FALSE;
}

bool AdministratorsEnabledIn(HANDLE token) {
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof admins;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &sidSize)) return false;
    DWORD size = 0;
    if (GetTokenInformation(token, TokenGroups, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(TOKEN_GROUPS))
        return false;
    // DWORD elements keep the group list suitably aligned.
    std::vector<DWORD> buf((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    if (!GetTokenInformation(token, TokenGroups, buf.data(), size, &size)) return false;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buf.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const SID_AND_ATTRIBUTES& g = groups->Groups[i];
        // A filtered token keeps the group, but only to deny access.
        if (EqualSid(g.Sid, admins) &&
            (g.Attributes & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY)) == SE_GROUP_ENABLED)
            return true;
    }
    return false;
}

} // namespace

TokenRights ReadTokenRights(HANDLE token) {
    TokenRights rights;
    DWORD size = 0;
    TOKEN_ELEVATION elevation{};
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) {
        rights.ElevationKnown = true;
        rights.Elevated = elevation.TokenIsElevated != 0;
    }
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    if (GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size))
        rights.Limited = type == TokenElevationTypeLimited;
    rights.AdministratorsEnabled = AdministratorsEnabledIn(token);
    return rights;
}

bool CountsAsElevated(const TokenRights& rights) {
    if (rights.Elevated) return true;
    // Some systems keep the Administrators group switched on in the filtered half.
    if (rights.Limited) return false;
    return rights.AdministratorsEnabled;
}

bool IsElevatedToken(HANDLE token) {
    if (token) return CountsAsElevated(ReadTokenRights(token));
    HANDLE own = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &own)) {
        if (GetLastError() != ERROR_NO_TOKEN) return false;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return false;
    }
    const bool elevated = CountsAsElevated(ReadTokenRights(own));
    CloseHandle(own);
    return elevated;
}

PSECURITY_DESCRIPTOR BuildPrivateFolderDescriptor() {
    return DescriptorFromText(std::string("O:BA") + kPrivateDacl);
}

bool CreatePrivateDirectory(const std::string& path) {
    PSECURITY_DESCRIPTOR sd = BuildPrivateFolderDescriptor();
    if (!sd) return false;
    bool created = CreateWithDescriptor(path, sd);
    DWORD error = created ? ERROR_SUCCESS : GetLastError();
    LocalFree(sd);
    // A token whose Administrators group may not own objects: the token's default
    // owner is used, and the access list stays the same.
    if (!created && error == ERROR_INVALID_OWNER) {
        sd = DescriptorFromText(kPrivateDacl);
        if (!sd) return false;
        created = CreateWithDescriptor(path, sd);
        error = created ? ERROR_SUCCESS : GetLastError();
        LocalFree(sd);
    }
    SetLastError(error);
    return created;
}

bool CreateWorkFolder(const std::string& path) {
    if (IsElevatedToken()) return CreatePrivateDirectory(path);
    return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

namespace {

// Who owns a folder and whom its access list lets in, as SID texts; false when the
// security cannot be read or holds entries of another kind (object, callback, ...),
// which might let somebody in.
bool ReadFolderAccess(HANDLE folder, std::string& owner, std::set<std::string>& allowed) {
    PSID ownerSid = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &ownerSid, nullptr,
                        &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return false;
    auto text = [](PSID sid) {
        char* t = nullptr;
        if (!sid || !ConvertSidToStringSidA(sid, &t)) return std::string();
        std::string s = t;
        LocalFree(t);
        return s;
    };
    owner = text(ownerSid);
    // No access list at all would let everybody in.
    bool ok = !owner.empty() && dacl;
    for (DWORD i = 0; ok && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
            ok = false;
        else if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE)
            allowed.insert(text(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
        else
            ok = ace->AceType == ACCESS_DENIED_ACE_TYPE;
    }
    LocalFree(sd);
    return ok;
}

} // namespace

bool IsPrivateFolder(HANDLE folder, const std::string& parent) {
    // The reference: a folder made private right now, beside it.
    const std::string probe = parent + "\\~qvprobe" + std::to_string(GetCurrentProcessId());
    if (!CreatePrivateDirectory(probe)) return false;
    HANDLE h = CreateFileA(probe.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    std::string privateOwner, owner;
    std::set<std::string> privateAllowed, allowed;
    const bool reference =
        h != INVALID_HANDLE_VALUE && ReadFolderAccess(h, privateOwner, privateAllowed);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    RemoveDirectoryA(probe.c_str());
    if (!reference || !ReadFolderAccess(folder, owner, allowed)) return false;
    return owner == privateOwner && std::includes(privateAllowed.begin(), privateAllowed.end(),
                                                  allowed.begin(), allowed.end());
}
