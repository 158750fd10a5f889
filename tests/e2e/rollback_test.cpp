// An installation that ends before it finished leaves the machine as it was: real
// setups run under Wine, ended early by Abort on a file error, by a setup process that
// dies in the middle of the copy (finished by the next run), and given up files. The
// file tree of the test's folder and the registry (HKLM and HKCU, both views) are
// compared before and after; on a clean machine and over an installed older copy.
//
// Compares the whole machine (files, the registry) before and after: nothing else may
// change it meanwhile.
// qv-test-locks: serial
#include "MachineSnapshot.h"
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "UninstallRunner.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

// Makes the index-th payload cabinet of a setup file unreadable: its folder names a
// compression type that does not exist, so extracting its file fails.
void DamagePayloadCabinet(const std::string& setup, int index) {
    std::string bytes = ReadFileBytes(setup);
    const std::string signature("MSCF\0\0\0\0", 8);
    size_t at = 0;
    for (int i = 0; i <= index; ++i) {
        at = bytes.find(signature, i == 0 ? 0 : at + 1);
        ASSERT_NE(at, std::string::npos) << "cabinet " << index;
    }
    ASSERT_EQ(bytes[at + 30], 0) << "a cabinet with reserved fields";
    bytes[at + 42] = 0x0F;
    bytes[at + 43] = 0;
    WriteFileBytes(setup, bytes);
}

BoxAnswer Answer(const char* button) {
    return [button](const SeenBox&) { return std::string(button); };
}

class RollbackE2E : public SetupFixture {
  protected:
    std::string dest = work / "Product";
    std::string guid = NewGuid();
    std::string tag = guid.substr(1, 8);
    std::string regKey = "Software\\QV Rollback " + tag;

    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, regKey.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, (kUninstallKey + guid).c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kUninstallKey + guid).c_str());
    }

    // A product of version with payload files (name, content), each placed below
    // <InstallDir> (a name with a drive goes where it says), registry and INI items,
    // and the real uninstaller. setupBody joins [Setup].
    void Build(const std::string& version,
               const std::vector<std::pair<std::string, std::string>>& files,
               const std::string& setupBody = "") {
        RemoveTree(project);
        CreateDirectoryA(project.c_str(), nullptr);
        const std::string payload = project + "\\payload";
        CreateDirectoryA(payload.c_str(), nullptr);
        std::string list;
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string source = "f" + std::to_string(i) + ".bin";
            WriteFileBytes(payload + "\\" + source, files[i].second);
            const std::string target = files[i].first.find(':') != std::string::npos
                                           ? files[i].first
                                           : "<InstallDir>\\" + files[i].first;
            list += std::to_string(i) + "=payload\\" + source + "?" + target + "?OVERWRITE?Yes\r\n";
        }
        WriteMinimalProject(
            project,
            "AppName=QV Rollback " + tag + "\r\nAppVersion=" + version + "\r\nGUID=" + guid +
                "\r\nUninstall=1\r\nShowAddRemove=1\r\nInstallLevel=0\r\n" + setupBody +
                "[Payload]\r\n" + list + "[Registry]\r\n0=HKCU\\" + regKey + "*?Version*?REG_SZ*?" +
                version + "*?Yes*?Yes*?Default\r\n1=HKCU\\" + regKey + "\\V" + version +
                "*?N*?REG_DWORD*?1*?Yes*?Yes*?Default\r\n"
                "[INI]\r\n0=<InstallDir>\\settings.ini*?Main*?Version*?" +
                version + "*?Yes*?Yes\r\n");
        AddUninstallerToProject(project);
        DeleteFileA(setup.c_str());
        ASSERT_TRUE(BuildTestSetup(project, setup));
    }

    SnapshotScope Scope() const {
        SnapshotScope s;
        s.Folders = {work.Path()};
        // The runs' own temporary folder (setup temp folder, log) and the project.
        s.IgnoredPaths = {temp, project, setup};
        // The console's defaults, and what Wine's window system notes for itself.
        s.IgnoredKeys = {"HKCU\\Console", "HKCU\\Software\\Wine\\Temporary System Parameters"};
        return s;
    }

    // The first version, installed for good.
    void InstallOlderCopy() {
        Build("1.0", {{"app.exe", "old program"},
                      {"docs\\readme.txt", "old readme"},
                      {"only-old.txt", "kept"}});
        if (HasFatalFailure()) return;
        ASSERT_EQ(RunSetup(setup, "/S /D \"" + dest + "\"", temp).exitCode, 0u);
        ASSERT_EQ(ReadFileBytes(dest + "\\app.exe"), "old program");
        ASSERT_TRUE(PathExists(dest + "\\Uninstall.ini"));
    }

    // The second version: overwrites what the first placed, adds files and folders,
    // and has a file that cannot be placed (its cabinet damaged) at the end.
    void BuildNewerWithBadFile(const std::string& setupBody = "") {
        Build("2.0",
              {{"app.exe", "new program " + RandomBytes(200000, 3)},
               {"docs\\readme.txt", "new readme"},
               {"new\\deep\\data.bin", RandomBytes(300000, 4)},
               {"broken.dll", RandomBytes(1000, 5)}},
              setupBody);
        if (HasFatalFailure()) return;
        DamagePayloadCabinet(setup, 3);
    }
};

TEST_F(RollbackE2E, AbortOnAFileErrorLeavesACleanMachineAsItWas) {
    BuildNewerWithBadFile();
    if (HasFatalFailure()) return;
    const MachineSnapshot before = MachineSnapshot::Take(Scope());
    SetupRun run = RunSetup(setup, "/S /L /D \"" + dest + "\"", temp, 60000, Answer("&Abort"));
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.boxes.size(), 1u) << "the Abort, Retry, Ignore question";
    const std::vector<std::string> diff = before.DifferencesTo(MachineSnapshot::Take(Scope()));
    EXPECT_TRUE(diff.empty()) << DifferenceText(diff);
    EXPECT_FALSE(PathExists(dest));
    const std::string log = ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    EXPECT_NE(log.find("Rolling back changes..."), std::string::npos) << log;
}

TEST_F(RollbackE2E, AbortOnAFileErrorGivesBackTheOlderCopy) {
    InstallOlderCopy();
    if (HasFatalFailure()) return;
    const std::string oldRecord = ReadFileBytes(dest + "\\Uninstall.ini");
    const MachineSnapshot before = MachineSnapshot::Take(Scope());
    // An update of the installed copy, into its folder.
    BuildNewerWithBadFile("InstallMode=1\r\n");
    if (HasFatalFailure()) return;
    SetupRun run = RunSetup(setup, "/S", temp, 60000, Answer("&Abort"));
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.boxes.size(), 1u);
    const std::vector<std::string> diff = before.DifferencesTo(MachineSnapshot::Take(Scope()));
    EXPECT_TRUE(diff.empty()) << DifferenceText(diff);
    EXPECT_EQ(ReadFileBytes(dest + "\\app.exe"), "old program");
    EXPECT_EQ(ReadFileBytes(dest + "\\Uninstall.ini"), oldRecord);

    // And the older copy still removes itself completely.
    UninstallRun removal = RunUninstaller(dest + "\\Uninstall.exe", "/S", temp);
    EXPECT_EQ(removal.exitCode, 0u);
    EXPECT_FALSE(PathExists(dest + "\\app.exe"));
}

TEST_F(RollbackE2E, RollbackOffLeavesWhatTheRunDidAsBefore) {
    BuildNewerWithBadFile("Rollback=0\r\n");
    if (HasFatalFailure()) return;
    SetupRun run = RunSetup(setup, "/S /D \"" + dest + "\"", temp, 60000, Answer("&Abort"));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(PathExists(dest + "\\app.exe"));
    EXPECT_TRUE(PathExists(dest + "\\new\\deep\\data.bin"));
    EXPECT_FALSE(PathExists(dest + "\\Uninstall.ini"));
}

TEST_F(RollbackE2E, AFileGivenUpWithIgnoreKeepsItsOriginal) {
    InstallOlderCopy();
    if (HasFatalFailure()) return;
    // The newer version's program cannot be extracted; the run goes on.
    Build("2.0",
          {{"app.exe", "new program"}, {"docs\\readme.txt", "new readme"}, {"fresh.txt", "fresh"}},
          "InstallMode=1\r\n");
    if (HasFatalFailure()) return;
    DamagePayloadCabinet(setup, 0);
    DamagePayloadCabinet(setup, 2);
    SetupRun run = RunSetup(setup, "/S", temp, 60000, Answer("&Ignore"));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(ReadFileBytes(dest + "\\app.exe"), "old program") << "the original came back";
    EXPECT_FALSE(PathExists(dest + "\\fresh.txt")) << "no damaged file where there was none";
    EXPECT_EQ(ReadFileBytes(dest + "\\docs\\readme.txt"), "new readme");
    // No backup is left behind by a run that finished.
    for (const std::string& name : ListFiles(dest))
        EXPECT_NE(name.rfind("~qvbak", 0), 0u) << name;
}

TEST_F(RollbackE2E, ARunKilledMidCopyIsRolledBackByTheNextRun) {
    InstallOlderCopy();
    if (HasFatalFailure()) return;
    const MachineSnapshot before = MachineSnapshot::Take(Scope());
    // Many files, large enough that the copy takes a while.
    std::vector<std::pair<std::string, std::string>> files = {{"app.exe", "new program"},
                                                              {"docs\\readme.txt", "new"}};
    for (int i = 0; i < 40; ++i)
        files.push_back({"big\\part" + std::to_string(i) + ".bin", RandomBytes(1 << 20, 10 + i)});
    Build("2.0", files, "InstallMode=1\r\n");
    if (HasFatalFailure()) return;

    // Started directly, so that it can be killed while it copies.
    SetEnvironmentVariableA("TEMP", temp.c_str());
    SetEnvironmentVariableA("TMP", temp.c_str());
    std::string cmd = "\"" + setup + "\" /S";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(setup.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    bool midway = false;
    for (int i = 0; i < 6000 && !midway; ++i) {
        if (WaitForSingleObject(pi.hProcess, 5) != WAIT_TIMEOUT) break;
        midway = PathExists(dest + "\\big\\part3.bin");
    }
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(midway) << "the setup was not caught in the middle of its copy";
    ASSERT_NE(ReadFileBytes(dest + "\\app.exe"), "old program") << "killed before any overwrite";
    ASSERT_FALSE(PathExists(dest + "\\big\\part39.bin")) << "killed after the copy";

    // The next run of a setup of the product finishes the rollback first: a run that
    // ends at once (Abort on its first file) then shows the machine as before.
    Build("2.1", {{"broken.dll", "x"}}, "InstallMode=1\r\n");
    if (HasFatalFailure()) return;
    DamagePayloadCabinet(setup, 0);
    SetupRun next = RunSetup(setup, "/S /L", temp, 60000, Answer("&Abort"));
    EXPECT_EQ(next.exitCode, 1u);
    const std::vector<std::string> diff = before.DifferencesTo(MachineSnapshot::Take(Scope()));
    EXPECT_TRUE(diff.empty()) << DifferenceText(diff);
    EXPECT_EQ(ReadFileBytes(dest + "\\app.exe"), "old program");
    EXPECT_TRUE(ListFolders(temp, "QVTMP").empty()) << "the dead run's folder is gone";
    const std::string log = ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    EXPECT_NE(log.find("Finishing the rollback of an unfinished installation"), std::string::npos)
        << log;
}

} // namespace
