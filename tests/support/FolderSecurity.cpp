#include "FolderSecurity.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

namespace {

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!sid || !ConvertSidToStringSidA(sid, &text)) return {};
    std::string s = text;
    LocalFree(text);
    return s;
}

std::string Hex(unsigned long v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%lx", v);
    return buf;
}

} // namespace

SecuritySummary Summarize(PSECURITY_DESCRIPTOR sd) {
    SecuritySummary s;
    if (!sd) return s;
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) ||
        !GetSecurityDescriptorControl(sd, &control, &revision))
        return s;
    s.read = true;
    s.owner = SidText(owner);
    s.isProtected = (control & SE_DACL_PROTECTED) != 0;
    if (!present || !dacl) return s;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) continue;
        const auto* header = static_cast<ACE_HEADER*>(ace);
        // Allowed and denied entries share this layout: header, mask, SID.
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        s.entries.push_back(Hex(header->AceType) + ";" + Hex(header->AceFlags) + ";" +
                            Hex(allowed->Mask) + ";" +
                            SidText(const_cast<DWORD*>(&allowed->SidStart)));
    }
    return s;
}

SecuritySummary ReadSecurity(const std::string& path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return {};
    SecuritySummary s = Summarize(sd);
    LocalFree(sd);
    return s;
}

SecuritySummary PrivateFolderSummary() {
    const std::string inherit = Hex(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    const std::string all = Hex(FILE_ALL_ACCESS);
    SecuritySummary s;
    s.read = true;
    s.owner = "S-1-5-32-544";
    s.isProtected = true;
    s.entries = {"0;" + inherit + ";" + all + ";S-1-5-18",
                 "0;" + inherit + ";" + all + ";S-1-5-32-544"};
    return s;
}

bool SystemKeepsDescriptors(const std::string& scratchFolder) {
    // Read access for Backup Operators alone: no file mode expresses that.
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)(A;;FR;;;BO)",
                                                              SDDL_REVISION_1, &sd, nullptr))
        return false;
    const std::string probe = scratchFolder + "\\descriptor-probe";
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    const bool made = CreateDirectoryA(probe.c_str(), &sa) != FALSE;
    LocalFree(sd);
    if (!made) return false;
    const bool kept = Grants(ReadSecurity(probe), "S-1-5-32-551");
    RemoveDirectoryA(probe.c_str());
    return kept;
}

bool Grants(const SecuritySummary& s, const std::string& sid) {
    for (const std::string& e : s.entries)
        if (e.size() > sid.size() &&
            e.compare(e.size() - sid.size() - 1, std::string::npos, ";" + sid) == 0)
            return true;
    return false;
}

std::string Describe(const SecuritySummary& s) {
    if (!s.read) return "(unreadable)";
    std::string d =
        "owner " + s.owner + (s.isProtected ? ", protected" : ", inheriting") + ", entries [";
    for (size_t i = 0; i < s.entries.size(); ++i)
        d += (i ? " " : "") + s.entries[i];
    return d + "]";
}

HANDLE LimitedToken(TOKEN_TYPE type) {
    HANDLE process = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process)) return nullptr;
    TOKEN_ELEVATION_TYPE elevation{};
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    HANDLE primary = nullptr, result = nullptr;
    // The linked token comes at identification level; a primary copy of it can be
    // made, and from that a token to impersonate with.
    if (GetTokenInformation(process, TokenElevationType, &elevation, sizeof elevation, &size) &&
        elevation == TokenElevationTypeFull &&
        GetTokenInformation(process, TokenLinkedToken, &linked, sizeof linked, &size)) {
        DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                         TokenPrimary, &primary);
        CloseHandle(linked.LinkedToken);
    }
    CloseHandle(process);
    if (!primary || type == TokenPrimary) return primary;
    DuplicateTokenEx(primary, TOKEN_QUERY | TOKEN_IMPERSONATE, nullptr, SecurityImpersonation,
                     TokenImpersonation, &result);
    CloseHandle(primary);
    return result;
}

void ExpectPrivateFolder(const std::string& path, const std::string& scratchFolder) {
    const SecuritySummary s = ReadSecurity(path);
    ASSERT_TRUE(s.read) << path;
    if (SystemKeepsDescriptors(scratchFolder)) {
        EXPECT_EQ(s, PrivateFolderSummary()) << path << ": " << Describe(s);
        return;
    }
    // Everyone, Users, Authenticated Users, Interactive.
    for (const char* other : {"S-1-1-0", "S-1-5-32-545", "S-1-5-11", "S-1-5-4"})
        EXPECT_FALSE(Grants(s, other)) << other << " in " << path << ": " << Describe(s);
    const std::string plain = scratchFolder + "\\default-security";
    CreateDirectoryA(plain.c_str(), nullptr);
    const SecuritySummary d = ReadSecurity(plain);
    RemoveDirectoryA(plain.c_str());
    EXPECT_TRUE(Grants(d, "S-1-1-0"))
        << "a folder of the default security is not told apart: " << Describe(d);
}
