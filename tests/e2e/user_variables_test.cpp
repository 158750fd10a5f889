// User variables in whole setups: a stop request ends the setup before the language
// is chosen, and a registry value read into a variable decides where files go.
//
// Its setups show windows (questions, boxes), which would take the active window away
// from a window test running beside it, and the window tests check where the focus is.
// qv-test-locks: desktop
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "SystemState.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

class UserVariablesSetupTest : public SetupFixture {
  protected:
    std::string key = UniqueName("Software\\QVTest-");

    void TearDown() override { DeleteKeyTree(HKEY_CURRENT_USER, key, 0); }

    // Builds a setup of the [Setup] body that installs payload\a.txt ("alpha") to
    // <InstallDir>\a.txt, runs it with /S and expects a clean end.
    void InstallSilentlyWith(const std::string& body) {
        WriteMinimalProject(project, body + "[Payload]\r\n0=payload\\a.txt?<InstallDir>\\a.txt?"
                                            "OVERWRITE?Yes\r\n");
        CreateDirectoryA((project + "\\payload").c_str(), nullptr);
        WriteFileBytes(project + "\\payload\\a.txt", "alpha");
        ASSERT_TRUE(BuildTestSetup(project, setup));
        SetupRun run = RunSetup(setup, "/S", temp);
        ASSERT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(run.boxes.empty());
    }
};

TEST_F(UserVariablesSetupTest, StopRequestEndsBeforeTheLanguageIsChosen) {
    // Without a language file the setup would fail with code 4 once it chose one.
    WriteMinimalProject(project,
                        "\r\n[Variables]\r\n0=<Needed>*?HKCU\\" + key +
                            "*?Missing*?STRING*?HALT(Install <AppName> first.)*?DEFAULT\r\n");
    DeleteFileA((project + "\\setup\\Englishqv.lng").c_str());
    ASSERT_TRUE(BuildTestSetup(project, setup, false));

    for (const char* args : {"", "/S"}) {
        SetupRun run = RunSetup(setup, args, temp);
        ASSERT_FALSE(run.timedOut) << args;
        EXPECT_EQ(run.exitCode, 0u) << args;
        EXPECT_TRUE(ListFolders(temp, "QVTMP").empty()) << args;
        if (*args) {
            EXPECT_TRUE(run.boxes.empty());
            continue;
        }
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_EQ(run.boxes[0].caption, "Test Product 1.0");
        EXPECT_EQ(run.boxes[0].text, "Install Test Product first.");
        EXPECT_EQ(run.boxes[0].owner, nullptr);
    }
}

TEST_F(UserVariablesSetupTest, RegistryValueChoosesTheDestination) {
    const std::string dest = work / "from registry";
    ASSERT_TRUE(WriteRegText(HKEY_CURRENT_USER, key, "Dir", dest, 0));

    InstallSilentlyWith("InstallationPath=<OtherDir>\r\n"
                        "[Variables]\r\n0=<OtherDir>*?HKCU\\" +
                        key + "*?Dir*?STRING*?HALT(no folder)*?DEFAULT\r\n");
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
}

TEST_F(UserVariablesSetupTest, StartUpCommandsSeeTheFirstPassAndChangeTheSecond) {
    // The start-up command is expanded with the first pass's value (the default)
    // and writes the registry value the second pass then reads.
    InstallSilentlyWith("InstallationPath=" + work.Path() +
                        "\\dest-<Dir>\r\n"
                        "[Variables]\r\n0=<Dir>*?HKCU\\" +
                        key +
                        "*?Dir*?STRING*?first*?DEFAULT\r\n"
                        "[Commands]\r\n0=<SystemDir>\\reg.exe*?add HKCU\\" +
                        key +
                        " /v Dir /d <Dir>-written /f*?HIDE*?BEFORE "
                        "INSTALLATION*?YES*?ALL*?NO\r\n");
    EXPECT_EQ(ReadFileBytes(work / "dest-first-written\\a.txt"), "alpha");
    EXPECT_FALSE(PathExists(work / "dest-first"));
}

} // namespace
