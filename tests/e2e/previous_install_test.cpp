// A second setup of the same product: it finds the installed copy through the
// installed-programs entry and removes it first, or, in update mode, installs into
// it only when its version is in range.
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

#include <algorithm>
#include <string>
#include <vector>

namespace {

class PreviousInstallTest : public SetupFixture {
  protected:
    std::string first = work / "first";
    std::string second = work / "second";
    std::string guid = "{" + UniqueName("QV-TEST-") + "}";
    // Tests run in parallel and the lookup by name is machine-wide: each test has a
    // product name of its own.
    std::string appName = "Product " + guid.substr(1, guid.size() - 2);

    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, (kUninstallKey + guid).c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, (kUninstallKey + appName).c_str());
    }

    // Builds a per-user setup of version `version` installing one file `name`.
    // message30: the language's text for the newer-installed-copy question, when given.
    void BuildSetup(const std::string& version, const std::string& name,
                    const std::string& extraKeys = "", const std::string& message30 = "") {
        // A project folder of each version and file, beside the others.
        const std::string versionProject = work / ("project-" + version + "-" + name);
        WriteMinimalProject(versionProject,
                            "AppName=" + appName + "\r\nAppVersion=" + version + "\r\nGUID=" +
                                guid + "\r\nUninstall=1\r\nShowAddRemove=1\r\nInstallLevel=0\r\n" +
                                extraKeys + "\r\n[Payload]\r\n0=payload\\" + name +
                                "?<InstallDir>\\" + name + "?OVERWRITE?Yes\r\n");
        if (!message30.empty()) {
            const std::string lng = versionProject + "\\setup\\Englishqv.lng";
            WritePrivateProfileStringA("Messages", "30", message30.c_str(), lng.c_str());
            WritePrivateProfileStringA(nullptr, nullptr, nullptr, lng.c_str());
        }
        CreateDirectoryA((versionProject + "\\payload").c_str(), nullptr);
        WriteFileBytes(versionProject + "\\payload\\" + name, version);
        CopyFileA(QV_FAKE_UNINSTALLER_PATH, (versionProject + "\\setup\\QVUninstall.exe").c_str(),
                  FALSE);
        ASSERT_TRUE(BuildTestSetup(versionProject, setup, true, checks));
    }
    mksetup::CheckLevel checks = mksetup::CheckLevel::Normal;

    std::string UninstallerLog() { return ReadFileBytes(temp + "\\fake-uninstaller.log"); }
    static int Count(const std::string& s, const std::string& what) {
        int n = 0;
        for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
            ++n;
        return n;
    }
};

TEST_F(PreviousInstallTest, SilentSetupRemovesTheInstalledCopyFirst) {
    BuildSetup("1.0", "old.txt");
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + first + "\"", temp).exitCode, 0u);
    ASSERT_TRUE(PathExists(first + "\\Uninstall.exe"));

    BuildSetup("2.0", "new.txt");
    SetupRun run = RunSetup(setup, "/S /D \"" + second + "\"", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    // The installed copy's uninstaller ran once, unattended, and the new copy is in.
    std::string log = UninstallerLog();
    EXPECT_EQ(Count(log, "Uninstall.exe\" /S"), 1) << log;
    EXPECT_TRUE(PathExists(second + "\\new.txt"));
}

TEST_F(PreviousInstallTest, FoundByNameWhenTheGuidHasNoEntry) {
    // An entry named after the product whose uninstaller removes it.
    CreateDirectoryA(first.c_str(), nullptr);
    CopyFileA(QV_FAKE_UNINSTALLER_PATH, (first + "\\Uninstall.exe").c_str(), FALSE);
    WritePrivateProfileStringA("General", "GUID", appName.c_str(),
                               (first + "\\Uninstall.ini").c_str());
    WritePrivateProfileStringA("General", "AppVersion", "0.5", (first + "\\Uninstall.ini").c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, (first + "\\Uninstall.ini").c_str());
    ASSERT_TRUE(WriteRegText(HKEY_CURRENT_USER, kUninstallKey + appName, "UninstallString",
                             first + "\\Uninstall.exe", 0));

    // The new setup's GUID has no entry of its own.
    BuildSetup("1.0", "app.txt");
    SetupRun run = RunSetup(setup, "/S /D \"" + second + "\"", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Count(UninstallerLog(), "/S"), 1);
    EXPECT_TRUE(PathExists(second + "\\app.txt"));
}

TEST_F(PreviousInstallTest, AGuidWithABackslashDoesNotReachIntoAnotherEntry) {
    // Another product's entry, below which such a GUID would find an uninstaller.
    const std::string other = guid;
    CreateDirectoryA(first.c_str(), nullptr);
    CopyFileA(QV_FAKE_UNINSTALLER_PATH, (first + "\\Uninstall.exe").c_str(), FALSE);
    ASSERT_TRUE(WriteRegText(HKEY_CURRENT_USER, kUninstallKey + other + "\\sub", "UninstallString",
                             first + "\\Uninstall.exe", 0));

    guid = other + "\\sub";
    checks = mksetup::CheckLevel::Off; // the builder refuses such a GUID; the runtime must cope
    BuildSetup("1.0", "app.txt");
    SetupRun run = RunSetup(setup, "/S /D \"" + second + "\"", temp);
    RegDeleteKeyA(HKEY_CURRENT_USER, (kUninstallKey + other + "\\sub").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, (kUninstallKey + other).c_str());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(UninstallerLog().empty());
    EXPECT_TRUE(PathExists(second + "\\app.txt"));
}

TEST_F(PreviousInstallTest, UninstallerThatKeepsItsEntryIsRunAFewTimesOnly) {
    BuildSetup("1.0", "old.txt");
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + first + "\"", temp).exitCode, 0u);
    WriteFileBytes(first + "\\keep-entry.txt", "");

    BuildSetup("1.1", "new.txt");
    SetupRun run = RunSetup(setup, "/S /D \"" + second + "\"", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Count(UninstallerLog(), "/S"), 3);
    EXPECT_TRUE(PathExists(second + "\\new.txt"));
}

TEST_F(PreviousInstallTest, AskedUninstallAnsweredNoQuits) {
    BuildSetup("1.0", "old.txt");
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + first + "\"", temp).exitCode, 0u);
    BuildSetup("1.0", "new.txt");
    // Not silent: the same version gives only the uninstall question.
    SetupRun run = RunSetup(setup, "/D \"" + second + "\"", temp, 60000,
                            [](const SeenBox&) { return std::string("&No"); });
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_NE(run.boxes[0].text.find(appName + " 1.0"), std::string::npos) << run.boxes[0].text;
    EXPECT_EQ(run.boxes[0].caption, appName + " 1.0 Installation");
    EXPECT_TRUE(UninstallerLog().empty());
    EXPECT_FALSE(PathExists(second + "\\new.txt"));
}

TEST_F(PreviousInstallTest, NewerInstalledCopyIsWarnedAboutBeforeTheUninstallQuestion) {
    BuildSetup("2.0", "old.txt");
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + first + "\"", temp).exitCode, 0u);
    BuildSetup("1.0", "new.txt", "", "Installed: %s<#>This one: %s");

    // No: the setup ends before anything else is asked.
    SetupRun run = RunSetup(setup, "/D \"" + second + "\"", temp, 60000,
                            [](const SeenBox&) { return std::string("&No"); });
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, "Installed: " + appName + " 2.0\r\nThis one: 1.0");
    EXPECT_EQ(run.boxes[0].caption, appName + " 1.0 Installation");
    EXPECT_EQ(run.boxes[0].buttons, (std::vector<std::string>{"&Yes", "&No"}));

    // Yes: on to the uninstall question, which names the installed version.
    int asked = 0;
    run = RunSetup(setup, "/D \"" + second + "\"", temp, 60000,
                   [&](const SeenBox&) { return std::string(asked++ == 0 ? "&Yes" : "&No"); });
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_NE(run.boxes[1].text.find(appName + " 2.0 must be uninstalled"), std::string::npos)
        << run.boxes[1].text;
    EXPECT_TRUE(UninstallerLog().empty());
    EXPECT_FALSE(PathExists(second + "\\new.txt"));

    // A silent run asks nothing and removes the newer copy.
    run = RunSetup(setup, "/S /D \"" + second + "\"", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(Count(UninstallerLog(), "/S"), 1);
    EXPECT_TRUE(PathExists(second + "\\new.txt"));
}

TEST_F(PreviousInstallTest, AskedUninstallRunsWithoutSwitchAndAsksAgainWhileTheCopyStays) {
    BuildSetup("1.0", "old.txt");
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + first + "\"", temp).exitCode, 0u);
    WriteFileBytes(first + "\\keep-entry.txt", "");
    BuildSetup("1.0", "new.txt");
    int asked = 0;
    SetupRun run = RunSetup(setup, "/D \"" + second + "\"", temp, 60000, [&](const SeenBox&) {
        return std::string(asked++ == 0 ? "&Yes" : "&No");
    });
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].text, run.boxes[1].text);
    const std::string log = UninstallerLog();
    EXPECT_EQ(Count(log, "Uninstall.exe\""), 1) << log;
    EXPECT_EQ(Count(log, "/S"), 0) << log;
    EXPECT_FALSE(PathExists(second + "\\new.txt"));
}

TEST_F(PreviousInstallTest, NoRemovalWhenPromptingIsOffOrInAnotherInstallMode) {
    BuildSetup("1.0", "old.txt");
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + first + "\"", temp).exitCode, 0u);
    for (const char* keys : {"PromptUninstall=0", "InstallMode=2"}) {
        BuildSetup("1.1", "new.txt", keys);
        const std::string dest = second + "-" + std::string(keys).substr(0, 6);
        SetupRun run = RunSetup(setup, "/S /D \"" + dest + "\"", temp);
        EXPECT_EQ(run.exitCode, 0u) << keys;
        EXPECT_TRUE(PathExists(dest + "\\new.txt")) << keys; // not the installed folder
        EXPECT_TRUE(UninstallerLog().empty()) << keys;
    }
}

TEST_F(PreviousInstallTest, UpdateModeInstallsIntoTheInstalledFolderWithinRange) {
    BuildSetup("1.5", "old.txt", "ProgramGroup=Old Group");
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + first + "\"", temp).exitCode, 0u);

    BuildSetup("2.0", "new.txt",
               "ProgramGroup=New Group\r\nInstallMode=1\r\nCheckVersions=1\r\nCheckMinVer=1.0"
               "\r\nCheckMaxVer=1.9");
    SetupRun run = RunSetup(setup, "/S /D \"" + second + "\"", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(PathExists(first + "\\new.txt")); // the installed copy's folder, not /D
    EXPECT_FALSE(PathExists(second + "\\new.txt"));
    // The record was continued: the old file stays listed before the new one.
    EXPECT_EQ(IniValue(first + "\\Uninstall.ini", "Files", "0", ""), first + "\\old.txt");
    // The installed copy's program group is kept, not the new setup's.
    const std::string group = IniValue(first + "\\Uninstall.ini", "General", "ProgramGroupDir", "");
    EXPECT_EQ(group.substr(group.size() - std::min<size_t>(group.size(), 10)), "\\Old Group");
    EXPECT_EQ(group.find("New Group"), std::string::npos);
}

TEST_F(PreviousInstallTest, UpdateModeRefusesAVersionOutOfRange) {
    BuildSetup("1.0", "old.txt");
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + first + "\"", temp).exitCode, 0u);
    BuildSetup("3.0", "new.txt", "InstallMode=1\r\nCheckVersions=1\r\nCheckMinVer=2.0");
    SetupRun run = RunSetup(setup, "/S", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(PathExists(first + "\\new.txt"));
    // Not silent: the refusal is explained.
    run = RunSetup(setup, "", temp);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text,
              "\"" + appName +
                  " 2.0..\" is not installed on your computer.\r\n\r\nUpdate cannot continue.");

    // Only an upper limit: a version above it is refused, with no lower limit at all.
    BuildSetup("3.0", "new.txt", "InstallMode=1\r\nCheckVersions=1\r\nCheckMaxVer=0.9");
    run = RunSetup(setup, "/S", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(PathExists(first + "\\new.txt"));
    BuildSetup("3.0", "new.txt", "InstallMode=1\r\nCheckVersions=1\r\nCheckMaxVer=1.0");
    run = RunSetup(setup, "/S", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(PathExists(first + "\\new.txt"));
}

TEST_F(PreviousInstallTest, UpdateModeWithoutInstalledCopyQuits) {
    BuildSetup("1.0", "new.txt", "InstallMode=1");
    SetupRun run = RunSetup(setup, "/S /D \"" + second + "\"", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(PathExists(second + "\\new.txt"));
}

} // namespace
