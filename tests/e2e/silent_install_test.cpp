// Silent installations of real setups built by mksetup, checked the way a user or
// an administrator would: files, folders, times, Uninstall.ini, the installed-programs
// entry and the exit code.
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
#include <cstring>
#include <string>

namespace {

class SilentInstallTest : public SetupFixture {
  protected:
    std::string payload = work / "project\\payload";
    std::string dest = work / "dest";
    std::string guid = NewGuid();

    void SetUp() override {
        SetupFixture::SetUp();
        CreateDirectoryA(project.c_str(), nullptr);
        CreateDirectoryA(payload.c_str(), nullptr);
    }
    void TearDown() override {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            DeleteKeyTreeInBothViews(root, kUninstallKey + guid);
    }

    // A project whose [Setup] holds the GUID and setupKeys, and whose [Payload]
    // holds the given records.
    void Project(const std::string& setupKeys, const std::string& payloadRecords) {
        WriteMinimalProject(project, "GUID=" + guid + "\r\n" + setupKeys + "\r\n[Payload]\r\n" +
                                         payloadRecords);
    }
    void AddPayload(const std::string& name, const std::string& content) {
        std::string path = payload + "\\" + name;
        CreateDirectoryA(payload.c_str(), nullptr);
        WriteFileBytes(path, content);
        SetFileTimeLocal(path, 2020, 5, 17, 10, 30, 40);
    }
    SetupRun Install(const std::string& extraArgs = "", const BoxAnswer& answer = nullptr) {
        return RunSetup(setup, "/S /D \"" + dest + "\"" + extraArgs, temp, 60000, answer);
    }
};

TEST_F(SilentInstallTest, FilesArriveWithContentTimesAndFolders) {
    AddPayload("a.txt", "alpha\r\n");
    AddPayload("big.bin", RandomBytes(300000, 42));
    Project("Uninstall=1\r\nShowAddRemove=1\r\nInstallLevel=0",
            "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n"
            "1=payload\\big.bin?<InstallDir>\\sub\\deeper\\big.bin?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    SetupRun run = Install();
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha\r\n");
    EXPECT_EQ(ReadFileBytes(dest + "\\sub\\deeper\\big.bin"), RandomBytes(300000, 42));
    EXPECT_EQ(FileWriteTime(dest + "\\a.txt"), FileWriteTime(payload + "\\a.txt"));
    EXPECT_EQ(FileWriteTime(dest + "\\sub\\deeper\\big.bin"), FileWriteTime(payload + "\\big.bin"));

    const std::string record = dest + "\\Uninstall.ini";
    // Created folders, outermost first; the destination itself was new as well.
    EXPECT_EQ(IniValue(record, "Folders", "0"), dest);
    EXPECT_EQ(IniValue(record, "Folders", "1"), dest + "\\sub");
    EXPECT_EQ(IniValue(record, "Folders", "2"), dest + "\\sub\\deeper");
    EXPECT_EQ(IniValue(record, "Files", "0"), dest + "\\a.txt");
    EXPECT_EQ(IniValue(record, "Files", "1"), dest + "\\sub\\deeper\\big.bin");
    EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
}

TEST_F(SilentInstallTest, ExistModesAgainstExistingFiles) {
    AddPayload("skip.txt", "new");
    AddPayload("over.txt", "new");
    AddPayload("ask.txt", "new");
    AddPayload("older.txt", "new");
    AddPayload("newer.txt", "new");
    Project("", "0=payload\\skip.txt?<InstallDir>\\skip.txt?SKIP?Yes\r\n"
                "1=payload\\over.txt?<InstallDir>\\over.txt?OVERWRITE?Yes\r\n"
                "2=payload\\ask.txt?<InstallDir>\\ask.txt?ASK?Yes\r\n"
                "3=payload\\older.txt?<InstallDir>\\older.txt?OVERWRITE ONLY IF NEWER?Yes\r\n"
                "4=payload\\newer.txt?<InstallDir>\\newer.txt?overwrite only if newer?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    CreateDirectoryA(dest.c_str(), nullptr);
    for (const char* f : {"skip.txt", "over.txt", "ask.txt", "older.txt", "newer.txt"})
        WriteFileBytes(dest + "\\" + f, "old");
    SetFileTimeLocal(dest + "\\older.txt", 2019, 1, 1, 0, 0, 0);
    SetFileTimeLocal(dest + "\\newer.txt", 2021, 1, 1, 0, 0, 0);

    SetupRun run = Install();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty()); // a silent run answers ASK itself
    EXPECT_EQ(ReadFileBytes(dest + "\\skip.txt"), "old");
    EXPECT_EQ(ReadFileBytes(dest + "\\over.txt"), "new");
    EXPECT_EQ(ReadFileBytes(dest + "\\ask.txt"), "new");
    EXPECT_EQ(ReadFileBytes(dest + "\\older.txt"), "new");
    EXPECT_EQ(ReadFileBytes(dest + "\\newer.txt"), "old");
}

TEST_F(SilentInstallTest, NoToAllKeepsLaterOverwriteRecords) {
    AddPayload("one.txt", "new");
    AddPayload("two.txt", "new");
    AddPayload("three.txt", "new");
    Project("", "0=payload\\one.txt?<InstallDir>\\one.txt?ASK?Yes\r\n"
                "1=payload\\two.txt?<InstallDir>\\two.txt?OVERWRITE?Yes\r\n"
                "2=payload\\three.txt?<InstallDir>\\three.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    CreateDirectoryA(dest.c_str(), nullptr);
    WriteFileBytes(dest + "\\one.txt", "old");
    WriteFileBytes(dest + "\\two.txt", "old");
    // Without "/S" the overwrite question is asked.
    SetupRun run = RunSetup(setup, "/D \"" + dest + "\"", temp, 60000,
                            [](const SeenBox&) { return std::string("No to All"); });
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].buttons,
              (std::vector<std::string>{"Yes", "No", "No to All", "Yes to All"}));
    EXPECT_NE(run.boxes[0].text.find(dest + "\\one.txt"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(dest + "\\one.txt"), "old");
    EXPECT_EQ(ReadFileBytes(dest + "\\two.txt"), "old");
    EXPECT_EQ(ReadFileBytes(dest + "\\three.txt"), "new"); // did not exist: installed
}

TEST_F(SilentInstallTest, UninstallRecordAndEntryPerUser) {
    AddPayload("app.exe", "MZ fake");
    Project("AppVersion=2.5 beta\r\nCompanyName=ACME\r\nWebSite=https://acme.invalid/\r\n"
            "SupportLink=https://acme.invalid/help\r\nUninstall=1\r\nShowAddRemove=1\r\n"
            "InstallLevel=0\r\nMainExecutable=<InstallDir>\\app.exe",
            "0=payload\\app.exe?<InstallDir>\\app.exe?OVERWRITE?Yes\r\n");
    CopyFileA(QV_FAKE_UNINSTALLER_PATH, (project + "\\setup\\QVUninstall.exe").c_str(), FALSE);
    ASSERT_TRUE(BuildTestSetup(project, setup));
    SetupRun run = Install();
    EXPECT_EQ(run.exitCode, 0u);

    const std::string record = dest + "\\Uninstall.ini";
    EXPECT_EQ(IniValue(record, "General", "AppName"), "Test Product");
    EXPECT_EQ(IniValue(record, "General", "AppVersion"), "2.5 beta");
    EXPECT_EQ(IniValue(record, "General", "GUID"), guid);
    EXPECT_EQ(IniValue(record, "General", "InstallDir"), dest);
    EXPECT_EQ(IniValue(record, "General", "MainExecutable"), dest + "\\app.exe");
    EXPECT_EQ(IniKeys(record, "Messages").size(), 7u);
    EXPECT_EQ(IniKeys(record, "Updater").size(), 9u);
    EXPECT_EQ(IniValue(record, "Files", "0"), dest + "\\app.exe");
    EXPECT_EQ(IniValue(record, "Files", "1"), dest + "\\Uninstall.exe");
    EXPECT_EQ(IniValue(record, "Files", "2"), dest + "\\Uninstall.ini");
    EXPECT_TRUE(PathExists(dest + "\\Uninstall.exe"));

    const std::string key = std::string(kUninstallKey) + guid;
    std::string v;
    ASSERT_TRUE(ReadRegText(HKEY_CURRENT_USER, key, "DisplayName", v, 0));
    EXPECT_EQ(v, "Test Product");
    ASSERT_TRUE(ReadRegText(HKEY_CURRENT_USER, key, "UninstallString", v, 0));
    EXPECT_EQ(v, dest + "\\Uninstall.exe");
    ASSERT_TRUE(ReadRegText(HKEY_CURRENT_USER, key, "VersionMajor", v, 0));
    EXPECT_EQ(v, "2");
    ASSERT_TRUE(ReadRegText(HKEY_CURRENT_USER, key, "VersionMinor", v, 0));
    EXPECT_EQ(v, "5");
    ASSERT_TRUE(ReadRegText(HKEY_CURRENT_USER, key, "Publisher", v, 0));
    EXPECT_EQ(v, "ACME");
    ASSERT_TRUE(ReadRegText(HKEY_CURRENT_USER, key, "DisplayIcon", v, 0));
    EXPECT_EQ(v, dest + "\\app.exe");
    EXPECT_EQ(IniValue(record, "RegistryKeys", "0"),
              "DHKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                  guid);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY));
}

TEST_F(SilentInstallTest, EntryForAllUsersInTheSixtyFourBitView) {
    AddPayload("app.txt", "x");
    Project("Uninstall=1\r\nShowAddRemove=1\r\nInstallLevel=1\r\n64-bit=1",
            "0=payload\\app.txt?<InstallDir>\\app.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    EXPECT_EQ(Install().exitCode, 0u);
    const std::string key = std::string(kUninstallKey) + guid;
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, key, 0));
}

TEST_F(SilentInstallTest, UninstallOffLeavesNoRecord) {
    AddPayload("app.txt", "x");
    Project("Uninstall=0\r\nShowAddRemove=1",
            "0=payload\\app.txt?<InstallDir>\\app.txt?OVERWRITE?Yes\r\n");
    CopyFileA(QV_FAKE_UNINSTALLER_PATH, (project + "\\setup\\QVUninstall.exe").c_str(), FALSE);
    ASSERT_TRUE(BuildTestSetup(project, setup));
    EXPECT_EQ(Install().exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\app.txt"), "x");
    EXPECT_FALSE(PathExists(dest + "\\Uninstall.ini"));
    EXPECT_FALSE(PathExists(dest + "\\Uninstall.exe"));
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey + guid, 0));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kUninstallKey + guid, 0));
}

TEST_F(SilentInstallTest, DestinationSwitches) {
    AddPayload("app.txt", "x");
    Project("InstallationPath=" + work.Path() + "\\default",
            "0=payload\\app.txt?<InstallDir>\\app.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    // "/P" expands its folder; "/D" given as well wins.
    SetupRun run = RunSetup(setup, "/S /P \"<SetupTempDir>\\p\" /D \"" + dest + "\"", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(PathExists(dest + "\\app.txt"));
    // "/P" alone: the expanded folder.
    run = RunSetup(setup, "/s /p \"" + work.Path() + "\\<AppName>\"", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(PathExists(work / "Test Product\\app.txt"));
    // Neither: the configured folder.
    run = RunSetup(setup, "/S", temp);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(PathExists(work / "default\\app.txt"));
}

TEST_F(SilentInstallTest, NonNumericCabinetSizeAbortsWithCodeOne) {
    AddPayload("a.txt", "a");
    AddPayload("b.txt", "b");
    Project("", "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n"
                "1=payload\\b.txt?<InstallDir>\\b.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    RewriteSetupIni(setup, [&](std::string& ini) {
        size_t at = ini.find("\n1=");
        ASSERT_NE(at, std::string::npos);
        size_t q = ini.find('?', at);
        size_t q2 = ini.find('?', q + 1);
        ini.replace(q + 1, q2 - q - 1, "12x");
    });
    SetupRun run = Install();
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.boxes.empty()); // silent: no "corrupted" box
    // The end of the run rolled back the file placed before the bad record.
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
    EXPECT_FALSE(PathExists(dest + "\\b.txt"));
    EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
}

TEST_F(SilentInstallTest, ThreeFieldRecordEndsTheRunEarlyAndNormally) {
    AddPayload("a.txt", "a");
    AddPayload("b.txt", "b");
    AddPayload("c.txt", "c");
    Project("Uninstall=1", "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n"
                           "1=payload\\b.txt?<InstallDir>\\b.txt?OVERWRITE?Yes\r\n"
                           "2=payload\\c.txt?<InstallDir>\\c.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    RewriteSetupIni(setup, [&](std::string& ini) {
        size_t at = ini.find("?Yes", ini.find("\n1="));
        ini.erase(at, 4); // "dest?size?OVERWRITE"
    });
    SetupRun run = Install();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(PathExists(dest + "\\a.txt"));
    EXPECT_FALSE(PathExists(dest + "\\b.txt"));
    EXPECT_FALSE(PathExists(dest + "\\c.txt"));
    EXPECT_FALSE(PathExists(dest + "\\Uninstall.ini"));
}

TEST_F(SilentInstallTest, DamagedCabinetAsksAndIgnoreGoesOn) {
    AddPayload("a.txt", RandomBytes(5000, 1));
    AddPayload("b.txt", "b");
    Project("", "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n"
                "1=payload\\b.txt?<InstallDir>\\b.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    // Spoil the first payload cabinet's header; its size and offsets stay right.
    std::string file = ReadFileBytes(setup);
    const size_t engine = file.find("MSCF", 400000);
    ASSERT_NE(engine, std::string::npos);
    file.replace(engine, 4, "XXXX");
    WriteFileBytes(setup, file);

    SetupRun run = Install("", [](const SeenBox&) { return std::string("&Ignore"); });
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 1u); // shown although silent
    EXPECT_EQ(run.boxes[0].caption, "Setup");
    EXPECT_EQ(run.boxes[0].text,
              "Error creating file:\r\n" + dest + "\\a.txt\r\n\r\nAccess is denied.");
    EXPECT_EQ(run.boxes[0].buttons, (std::vector<std::string>{"&Abort", "&Retry", "&Ignore"}));
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
    EXPECT_EQ(ReadFileBytes(dest + "\\b.txt"), "b");
}

TEST_F(SilentInstallTest, LogFileWithSwitch) {
    AddPayload("a.txt", "a");
    Project("", "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    EXPECT_EQ(Install(" /L").exitCode, 0u);
    std::string log = ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(log.substr(at, end - at));
    ASSERT_EQ(lines.size(), 5u) << log;
    EXPECT_EQ(lines[0], setup);
    EXPECT_EQ(lines[1], "Test Product 1.0");
    EXPECT_EQ(lines[4], "Admin");
    // Without the switch the next run removes it.
    EXPECT_EQ(Install().exitCode, 0u);
    EXPECT_FALSE(PathExists(temp + "\\QVSETUPLOG.TXT"));
}

} // namespace
