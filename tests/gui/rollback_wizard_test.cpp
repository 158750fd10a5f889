// Cancel on the Install page rolls the installation back: the wizard of real setups is
// driven from outside, Cancel is confirmed in the middle of the copy of a large payload
// and while a command of the "after installation" stage runs (the items have run), and
// the file tree of the test's folder and the registry are compared before and after,
// on a clean machine and over an installed older copy.
//
// Compares the whole machine (files, the registry) before and after: nothing else may
// change it meanwhile.
// qv-test-locks: serial
#include "MachineSnapshot.h"
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "UninstallRunner.h"
#include "WizardDriver.h"
#include "wizard/ControlIds.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

namespace {

using wizard_driver::Answer;
using wizard_driver::Wizard;

class RollbackWizardTest : public SetupFixture {
  protected:
    std::string dest = work / "Product";
    std::string release = work / "release.flag";
    std::string guid = NewGuid();
    std::string regKey = "Software\\QV Rollback Wizard " + guid.substr(1, 8);

    void SetUp() override {
        SetupFixture::SetUp();
        CreateDirectoryA(project.c_str(), nullptr);
        CreateDirectoryA((project + "\\payload").c_str(), nullptr);
    }
    void TearDown() override {
        WriteFileBytes(release, ""); // a waiting command ends
        RegDeleteTreeA(HKEY_CURRENT_USER, regKey.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, (kUninstallKey + guid).c_str());
    }

    // The product at version: the payload files, a registry value, an INI value and
    // any [Setup] keys and further sections given.
    void Build(const std::string& version, const std::string& payloadList,
               const std::string& more = "") {
        WriteMinimalProject(project, "AppName=QV Rollback Wizard\r\nAppVersion=" + version +
                                         "\r\nGUID=" + guid +
                                         "\r\nUninstall=1\r\nShowAddRemove=1\r\nInstallLevel=0"
                                         "\r\nDialogReady=1\r\n" +
                                         more + "[Payload]\r\n" + payloadList + "[Registry]\r\n" +
                                         "0=HKCU\\" + regKey + "*?Version*?REG_SZ*?" + version +
                                         "*?Yes*?Yes*?Default\r\n[INI]\r\n"
                                         "0=<InstallDir>\\settings.ini*?Main*?Version*?" +
                                         version + "*?Yes*?Yes\r\n");
        AddUninstallerToProject(project);
        DeleteFileA(setup.c_str());
        ASSERT_TRUE(BuildTestSetup(project, setup));
    }

    void InstallOlderCopy() {
        WriteFileBytes(project + "\\payload\\app.exe", "old program");
        WriteFileBytes(project + "\\payload\\big.bin", "old data");
        Build("1.0", "0=payload\\app.exe?<InstallDir>\\app.exe?OVERWRITE?Yes\r\n"
                     "1=payload\\big.bin?<InstallDir>\\big.bin?OVERWRITE?Yes\r\n");
        if (HasFatalFailure()) return;
        ASSERT_EQ(RunSetup(setup, "/S /D \"" + dest + "\"", temp).exitCode, 0u);
        ASSERT_EQ(ReadFileBytes(dest + "\\big.bin"), "old data");
    }

    SnapshotScope Scope() const {
        SnapshotScope s;
        s.Folders = {work.Path()};
        s.IgnoredPaths = {temp, project, setup, release};
        // The console's defaults, and what Wine's window system notes for itself.
        s.IgnoredKeys = {"HKCU\\Console", "HKCU\\Software\\Wine\\Temporary System Parameters"};
        return s;
    }

    // Cancel confirmed in the middle of the copy of a large payload.
    void CancelDuringTheCopy(const std::string& setupKeys) {
        WriteFileBytes(project + "\\payload\\app.exe", "new program");
        WriteFileBytes(project + "\\payload\\big.bin", RandomBytes(64 << 20, 11));
        Build("2.0",
              "0=payload\\app.exe?<InstallDir>\\app.exe?OVERWRITE?Yes\r\n"
              "1=payload\\big.bin?<InstallDir>\\big.bin?OVERWRITE?Yes\r\n",
              setupKeys);
        if (HasFatalFailure()) return;
        const MachineSnapshot before = MachineSnapshot::Take(Scope());

        Wizard w(setup, "/D \"" + dest + "\" /L", temp);
        ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
        w.Click(kIdBtnNext);
        ASSERT_TRUE(w.WaitText(kIdText1, "Installing..."));
        w.Click(kIdBtnCancel);
        Answer(w, "&Yes");
        EXPECT_EQ(w.ExitCode(60000), 1u);
        // Undoing two files is over within milliseconds, before a look at the window from
        // outside can catch the page's "Rolling back changes..." (the tests that cancel
        // after the items see it there); the run's log shows that it rolled back.
        const std::string log = ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
        EXPECT_NE(log.find("Rolling back changes..."), std::string::npos) << log;
        const std::vector<std::string> diff = before.DifferencesTo(MachineSnapshot::Take(Scope()));
        EXPECT_TRUE(diff.empty()) << DifferenceText(diff);
        EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
    }

    // Cancel clicked while a command of the "after installation" stage runs (the items
    // have run by then).
    void CancelAfterTheItems(const std::string& setupKeys) {
        WriteFileBytes(project + "\\payload\\app.exe", "new program");
        WriteFileBytes(project + "\\payload\\big.bin", "new data");
        const std::string marker = work / "ran.txt";
        Build("2.0",
              "0=payload\\app.exe?<InstallDir>\\app.exe?OVERWRITE?Yes\r\n"
              "1=payload\\big.bin?<InstallDir>\\big.bin?OVERWRITE?Yes\r\n",
              setupKeys + "[Commands]\r\n0=" + QV_WAIT_FOR_FILE_PATH + "*?\"" + release +
                  "\"*?HIDE*?AFTER INSTALLATION*?YES*?ALL*?NO\r\n");
        if (HasFatalFailure()) return;
        const MachineSnapshot before = MachineSnapshot::Take(Scope());

        Wizard w(setup, "/D \"" + dest + "\"", temp);
        ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
        w.Click(kIdBtnNext);
        ASSERT_TRUE(w.WaitText(kIdText1, "Installing..."));
        // The items are in place while the command waits.
        for (int i = 0;
             i < 2000 && ReadFileBytes(dest + "\\settings.ini").find("2.0") == std::string::npos;
             ++i)
            Sleep(10);
        ASSERT_NE(ReadFileBytes(dest + "\\settings.ini").find("2.0"), std::string::npos);
        // The wizard waits for the command without looking at its window: the click
        // is seen when the command has ended, before the run places its record.
        w.Click(kIdBtnCancel);
        Sleep(200);
        WriteFileBytes(release, "");
        Answer(w, "&Yes");
        EXPECT_EQ(w.ExitCode(60000), 1u);
        DeleteFileA(release.c_str());
        const std::vector<std::string> diff = before.DifferencesTo(MachineSnapshot::Take(Scope()));
        EXPECT_TRUE(diff.empty()) << DifferenceText(diff);
    }
};

TEST_F(RollbackWizardTest, CancelDuringTheCopyLeavesACleanMachineAsItWas) {
    CancelDuringTheCopy("");
}

TEST_F(RollbackWizardTest, CancelDuringTheCopyGivesBackTheOlderCopy) {
    InstallOlderCopy();
    if (HasFatalFailure()) return;
    const std::string record = ReadFileBytes(dest + "\\Uninstall.ini");
    CancelDuringTheCopy("InstallMode=1\r\n");
    EXPECT_EQ(ReadFileBytes(dest + "\\big.bin"), "old data");
    EXPECT_EQ(ReadFileBytes(dest + "\\Uninstall.ini"), record);
}

TEST_F(RollbackWizardTest, CancelAfterTheItemsRanLeavesACleanMachineAsItWas) {
    CancelAfterTheItems("");
}

TEST_F(RollbackWizardTest, CancelAfterTheItemsRanGivesBackTheOlderCopy) {
    InstallOlderCopy();
    if (HasFatalFailure()) return;
    CancelAfterTheItems("InstallMode=1\r\n");
    EXPECT_EQ(ReadFileBytes(dest + "\\app.exe"), "old program");
}

} // namespace
