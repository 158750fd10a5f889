// The uninstaller's request for administrator rights, decided from the record beside
// the program the user started, through a stand-in for the shell's elevation request.
#include "TestSupport.h"
#include "uninstall/UninstallElevation.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

class UninstallElevation : public ::testing::Test {
  protected:
    ScratchDir dir;
    const std::string program = dir / "Uninstall.exe";
    int calls = 0;
    std::string startedProgram, startedParameters;

    // The exit code handed on, or -1 when nothing was started.
    int Run(const std::string& general, bool isAdmin, bool accepted = true) {
        if (!general.empty())
            WriteFileBytes(dir / "Uninstall.ini",
                           "[General]\r\nInstallDir=C:\\Product\r\n" + general);
        uint32_t code = 0;
        const ElevatedStart start = [&](const std::string& p, const std::string& params,
                                        uint32_t& exitCode) {
            ++calls;
            startedProgram = p;
            startedParameters = params;
            exitCode = 3;
            return accepted;
        };
        return RemoveElevated(program, {"/S", "/L"}, isAdmin, start, code) ? static_cast<int>(code)
                                                                           : -1;
    }
};

TEST_F(UninstallElevation, ARecordThatAsksHandsTheRemovalOn) {
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false), 3);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(startedProgram, program);
    EXPECT_EQ(startedParameters, "/S /L");
}

TEST_F(UninstallElevation, NothingIsStartedOtherwise) {
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", true), -1);  // has the rights
    EXPECT_EQ(Run("Admin=1\r\n", false), -1);                       // setup did not ask
    EXPECT_EQ(Run("Admin=0\r\nRequestElevation=1\r\n", false), -1); // rights not needed
    EXPECT_EQ(calls, 0);
    DeleteFileA((dir / "Uninstall.ini").c_str());
    EXPECT_EQ(Run("", false), -1); // no record
    EXPECT_EQ(calls, 0);
}

TEST_F(UninstallElevation, ADeclinedRequestLeavesTheRemovalHere) {
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false, false), -1);
    EXPECT_EQ(calls, 1);
}

TEST_F(UninstallElevation, ARunStartedByARequestDoesNotAskAgain) {
    SetEnvironmentVariableA("QV_ELEVATION_REQUESTED", "1");
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false), -1);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(GetEnvironmentVariableA("QV_ELEVATION_REQUESTED", nullptr, 0), 0u);
}

} // namespace
