// Reproducible setups: the same project (same contents and modification times) gives
// the same setup file byte for byte, wherever it lies and whichever builder builds
// it, and nothing of the build host or the moment of the build goes into it.
#include "Builder.h"
#include "FileIo.h"
#include "HostSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include <unistd.h>

namespace {

class Reproducible : public ::testing::Test {
  protected:
    Scratch scratch;
    std::string stub = scratch / "bin/setupstub.exe";
    std::string uninstaller = scratch / "bin/uninstall.exe";

    void SetUp() override {
        PutFile(stub, NoiseBytes(5000, 9));
        PutFile(uninstaller, NoiseBytes(1234, 8));
    }

    std::string Build(const std::string& project, const std::string& output) {
        mksetup::BuildOptions o;
        o.projectDir = project;
        o.outputPath = output;
        o.stubPath = stub;
        o.uninstallerPath = uninstaller;
        mksetup::BuildSetup(o);
        return GetFile(output);
    }
};

TEST_F(Reproducible, SameProjectGivesTheSameBytesFromAnyFolder) {
    WriteSampleProject(scratch / "a");
    const std::string first = Build(scratch / "a", scratch / "one.exe");
    ASSERT_GT(first.size(), 400000u);
    // Later, from a copy elsewhere, given as a relative path, into another folder.
    CopyTree(scratch / "a", scratch / "deeper/copy of project");
    ASSERT_EQ(::chdir(scratch.Path().c_str()), 0);
    PutFile(scratch / "out/other", "");
    EXPECT_TRUE(Build("deeper/copy of project", scratch / "out/two.exe") == first);
    EXPECT_TRUE(Build(scratch / "a", scratch / "one.exe") == first) << "a rebuild in place";
    // No host path (project, output, temporary folder) appears in the file.
    EXPECT_EQ(first.find(scratch.Path()), std::string::npos);
    EXPECT_EQ(first.find("qvhost-"), std::string::npos);
}

TEST_F(Reproducible, WhatChangesTheProjectChangesTheSetup) {
    WriteSampleProject(scratch / "a");
    const std::string base = Build(scratch / "a", scratch / "base.exe");
    // Two seconds later is the next time a cabinet can tell apart.
    PutFile(scratch / "a/payload/docs/sub/notes.log",
            GetFile(scratch / "a/payload/docs/sub/notes.log"), 1685620800 + 3600 + 2);
    const std::string touched = Build(scratch / "a", scratch / "touched.exe");
    EXPECT_FALSE(touched == base) << "a file's time is part of the setup";
    EXPECT_EQ(touched.size(), base.size());
}

TEST_F(Reproducible, SlashesAndBackslashesInPayloadSourcesAreTheSame) {
    WriteSampleProject(scratch / "a");
    CopyTree(scratch / "a", scratch / "b");
    std::string ini = GetFile(scratch / "a/setup.ini");
    for (char& c : ini)
        if (c == '/') c = '\\';
    PutFile(scratch / "b/setup.ini", ini, 1685620800 + 60);
    ASSERT_NE(GetFile(scratch / "a/setup.ini"), ini);
    EXPECT_TRUE(Build(scratch / "a", scratch / "a.exe") == Build(scratch / "b", scratch / "b.exe"));
}

// The Windows builder under Wine and this one give the same file for the same
// project; the time zone of both is one with summer time, so that the local time of
// the files' dates (June) and of today differ.
TEST_F(Reproducible, WindowsBuilderUnderWineGivesTheSameBytes) {
    const std::string windows = WindowsBuild();
    if (windows.empty()) GTEST_SKIP() << "no Windows build to compare with (QV_WINDOWS_BUILD)";
    WriteSampleProject(scratch / "a");
    for (const char* tz : {"UTC", "America/New_York", "Australia/Sydney"}) {
        const std::string zone = std::string("TZ=") + tz;
        const std::string nativeOut = scratch / "native.exe", wineOut = scratch / "wine.exe";
        RunResult n = RunProgram({QV_HOST_MKSETUP, scratch / "a", nativeOut, "--stub", stub,
                                  "--uninstaller", uninstaller},
                                 {zone});
        ASSERT_EQ(n.exitCode, 0) << n.err;
        RunResult w = RunProgram({windows + "/wine-run.sh", windows + "/bin/mksetup.exe",
                                  WinePath(scratch / "a"), WinePath(wineOut), "--stub",
                                  WinePath(stub), "--uninstaller", WinePath(uninstaller)},
                                 {zone});
        ASSERT_EQ(w.exitCode, 0) << w.err;
        EXPECT_TRUE(GetFile(nativeOut) == GetFile(wineOut)) << "time zone " << tz;
    }
}

} // namespace
