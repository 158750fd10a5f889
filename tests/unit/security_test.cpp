// The token decision and the private folder of platform/Security. Under Wine the user
// is always an administrator with an elevated token; its linked token is the limited
// half that User Account Control would give a program started without elevation, so
// impersonating that token emulates such a program.
#include "FolderSecurity.h"
#include "TestSupport.h"
#include "platform/Security.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

TEST(Security, WhatCountsAsElevated) {
    struct Case {
        bool known, elevated, limited, admins, expected;
    };
    const Case cases[] = {
        // User Account Control: the elevated half, and the filtered half (Administrators
        // deny-only there on Windows; some systems keep the group switched on).
        {true, true, false, true, true},
        {true, false, true, false, false},
        {true, false, true, true, false},
        // Not split: User Account Control off, or the built-in Administrator.
        {true, false, false, true, true},
        // A standard user.
        {true, false, false, false, false},
        // No elevation query (Windows XP): the group alone decides.
        {false, false, false, true, true},
        {false, false, false, false, false},
        // Elevated without the group (another elevated group's full token).
        {true, true, false, false, true},
    };
    for (const Case& c : cases) {
        TokenRights r;
        r.ElevationKnown = c.known;
        r.Elevated = c.elevated;
        r.Limited = c.limited;
        r.AdministratorsEnabled = c.admins;
        EXPECT_EQ(CountsAsElevated(r), c.expected)
            << "known " << c.known << " elevated " << c.elevated << " limited " << c.limited
            << " admins " << c.admins;
    }
}

// Runs the calling thread with the token until it goes away.
class Impersonation {
  public:
    explicit Impersonation(HANDLE token) { ok_ = SetThreadToken(nullptr, token) != FALSE; }
    ~Impersonation() { RevertToSelf(); }
    bool Ok() const { return ok_; }

  private:
    bool ok_;
};

TEST(Security, TheLimitedHalfOfASplitTokenIsNotElevated) {
    HANDLE limited = LimitedToken(TokenImpersonation);
    if (!limited) GTEST_SKIP() << "this process does not run with an elevated split token";
    EXPECT_TRUE(IsElevatedToken());
    EXPECT_FALSE(IsElevatedToken(limited));
    const TokenRights r = ReadTokenRights(limited);
    EXPECT_TRUE(r.ElevationKnown);
    EXPECT_TRUE(r.Limited);
    {
        // The effective token of the thread decides, as for a program started so.
        Impersonation as(limited);
        ASSERT_TRUE(as.Ok());
        EXPECT_FALSE(IsElevatedToken());
    }
    EXPECT_TRUE(IsElevatedToken());
    CloseHandle(limited);
}

TEST(Security, ThePrivateDescriptorHasExactlyTheTwoEntries) {
    PSECURITY_DESCRIPTOR sd = BuildPrivateFolderDescriptor();
    ASSERT_TRUE(sd);
    const SecuritySummary s = Summarize(sd);
    LocalFree(sd);
    EXPECT_EQ(s, PrivateFolderSummary()) << Describe(s);
}

class PrivateFolder : public ::testing::Test {
  protected:
    ScratchDir work;
    const std::string folder = work / "QVTMP123";
    const std::string plain = work / "plain";
    void ExpectPrivate(const std::string& path) { ExpectPrivateFolder(path, work.Path()); }
};

TEST_F(PrivateFolder, IsPrivateFromItsCreation) {
    ASSERT_TRUE(CreatePrivateDirectory(folder));
    ExpectPrivate(folder);
    // What is created inside takes the two entries over, where the system keeps them.
    WriteFileBytes(folder + "\\qvsetup.ini", "[Setup]\r\n");
    if (SystemKeepsDescriptors(work.Path())) {
        const SecuritySummary f = ReadSecurity(folder + "\\qvsetup.ini");
        ASSERT_EQ(f.entries.size(), 2u) << Describe(f);
        for (const std::string& e : f.entries)
            EXPECT_EQ(e.rfind("0;10;", 0), 0u) << e; // inherited, full access
    }
}

TEST_F(PrivateFolder, AnExistingFolderIsAFailureAndKeepsItsSecurity) {
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const SecuritySummary before = ReadSecurity(folder);
    EXPECT_FALSE(CreatePrivateDirectory(folder));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadSecurity(folder), before);
    EXPECT_FALSE(CreateWorkFolder(folder));
}

TEST_F(PrivateFolder, AWorkFolderIsPrivateOnlyWhenElevated) {
    HANDLE limited = LimitedToken(TokenImpersonation);
    if (!limited) GTEST_SKIP() << "this process does not run with an elevated split token";
    {
        // Beside a folder the same token makes with the default security.
        Impersonation as(limited);
        ASSERT_TRUE(as.Ok());
        ASSERT_TRUE(CreateWorkFolder(folder));
        ASSERT_TRUE(CreateDirectoryA(plain.c_str(), nullptr));
    }
    CloseHandle(limited);
    const SecuritySummary s = ReadSecurity(folder);
    ASSERT_TRUE(s.read);
    EXPECT_EQ(s, ReadSecurity(plain)) << Describe(s);
    EXPECT_FALSE(s.isProtected);
    RemoveDirectoryA(plain.c_str());
    const std::string elevated = work / "QVTMP456";
    ASSERT_TRUE(CreateWorkFolder(elevated));
    ExpectPrivate(elevated);
}

} // namespace
