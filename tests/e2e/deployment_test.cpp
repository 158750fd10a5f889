// Unattended deployment: "/S /Q" never waits for anyone, whatever the setup would have
// asked; "/LOG=file" tells what the run did, line by line, as it goes; and a quiet run
// that needs a restart says so by its exit code.
//
// Its setups show windows (questions, boxes), which would take the active window away
// from a window test running beside it, and the window tests check where the focus is.
// qv-test-locks: desktop
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr uint32_t kRestartNeeded = 0x80070BC2;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2)
        lines.push_back(text.substr(start, p - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// An event line: "+" seconds "." three digits, a blank, the text.
bool IsEventLine(const std::string& line) {
    size_t dot = line.find('.');
    if (line.empty() || line[0] != '+' || dot == std::string::npos || dot < 2) return false;
    for (size_t i = 1; i < dot; ++i)
        if (line[i] < '0' || line[i] > '9') return false;
    if (line.size() < dot + 5 || line[dot + 4] != ' ') return false;
    for (size_t i = dot + 1; i < dot + 4; ++i)
        if (line[i] < '0' || line[i] > '9') return false;
    return true;
}

class DeploymentTest : public SetupFixture {
  protected:
    std::string payload = work / "project\\payload";
    std::string dest = work / "dest";
    std::string logDir = work / "log folder";
    std::string log = work / "log folder\\deploy log.txt";
    std::string guid = NewGuid();
    std::string regKey = "Software\\QV Deployment Test " + guid;

    void SetUp() override {
        SetupFixture::SetUp();
        for (const std::string& d : {project, payload, logDir})
            CreateDirectoryA(d.c_str(), nullptr);
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, regKey.c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, (kUninstallKey + guid).c_str());
    }

    void Project(const std::string& setupKeys, const std::string& sections) {
        WriteMinimalProject(project, "GUID=" + guid + "\r\nAdmin=0\r\nInstallLevel=0\r\n" +
                                         setupKeys + "\r\n" + sections);
    }
    void AddPayload(const std::string& name, const std::string& content) {
        WriteFileBytes(payload + "\\" + name, content);
    }
    std::string LogArg() const { return " \"/LOG=" + log + "\""; }
    SetupRun Run(const std::string& args, DWORD timeoutMs = 60000) {
        return RunSetup(setup, args, temp, timeoutMs);
    }

    std::vector<std::string> LogLines() const { return SplitLines(ReadFileBytes(log)); }
    // The event lines that contain text.
    std::vector<std::string> Events(const std::string& text) const {
        std::vector<std::string> found;
        std::vector<std::string> lines = LogLines();
        for (size_t i = 5; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos) found.push_back(lines[i]);
        return found;
    }
    bool HasEvent(const std::string& text) const { return !Events(text).empty(); }
    // Every line after the five header lines is an event line.
    void ExpectHeaderThenEvents(const std::string& exitLine) const {
        std::vector<std::string> lines = LogLines();
        ASSERT_GT(lines.size(), 6u);
        EXPECT_EQ(lines[0], setup);
        for (size_t i = 5; i < lines.size(); ++i)
            EXPECT_TRUE(IsEventLine(lines[i])) << i << ": " << lines[i];
        EXPECT_NE(lines.back().find(exitLine), std::string::npos) << lines.back();
    }
};

// "/P" as the last argument empties the destination: the runtime refuses every file,
// and without /Q the Abort/Retry/Ignore box would wait for ever.
TEST_F(DeploymentTest, EmptiedDestinationEndsWithAbortInsteadOfWaiting) {
    AddPayload("a.txt", "alpha");
    Project("", "[Payload]\r\n0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    SetupRun run = Run("/S /Q" + LogArg() + " /P", 30000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.exitCode, 1u);
    ExpectHeaderThenEvents("Exit code: 1 (the installation was aborted)");
    EXPECT_TRUE(HasEvent("Error file: \\a.txt"));
    EXPECT_TRUE(HasEvent("Question [Setup] Error creating file: \\a.txt Access is denied. => "
                         "Abort (quiet: not shown)"))
        << ReadFileBytes(log);
}

// A destination file another program holds open without sharing cannot be replaced.
TEST_F(DeploymentTest, FileHeldOpenEndsWithAbortInsteadOfWaiting) {
    AddPayload("a.txt", "alpha");
    AddPayload("b.txt", "beta");
    Project("", "[Payload]\r\n0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n"
                "1=payload\\b.txt?<InstallDir>\\b.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    CreateDirectoryA(dest.c_str(), nullptr);
    WriteFileBytes(dest + "\\b.txt", "held");
    HANDLE held = CreateFileA((dest + "\\b.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    SetupRun run = Run("/S /Q /D \"" + dest + "\"" + LogArg(), 30000);
    CloseHandle(held);
    ASSERT_FALSE(run.timedOut);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(ReadFileBytes(dest + "\\b.txt"), "held");
    ExpectHeaderThenEvents("Exit code: 1 (the installation was aborted)");
    EXPECT_TRUE(HasEvent("Placed file: " + dest + "\\a.txt"));
    EXPECT_TRUE(HasEvent("Error file: " + dest + "\\b.txt"));
    EXPECT_TRUE(HasEvent("=> Abort (quiet: not shown)"));
    EXPECT_FALSE(HasEvent("Placed file: " + dest + "\\b.txt"));
}

// The overwrite question keeps the existing file; the other modes still decide.
TEST_F(DeploymentTest, OverwriteQuestionKeepsTheFileOtherModesDecide) {
    AddPayload("ask.txt", "new ask");
    AddPayload("over.txt", "new over");
    Project("", "[Payload]\r\n0=payload\\ask.txt?<InstallDir>\\ask.txt?ASK?Yes\r\n"
                "1=payload\\over.txt?<InstallDir>\\over.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    CreateDirectoryA(dest.c_str(), nullptr);
    WriteFileBytes(dest + "\\ask.txt", "old ask");
    WriteFileBytes(dest + "\\over.txt", "old over");
    SetupRun run = Run("/S /Q /D \"" + dest + "\"" + LogArg());
    ASSERT_FALSE(run.timedOut);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\ask.txt"), "old ask");
    EXPECT_EQ(ReadFileBytes(dest + "\\over.txt"), "new over");
    EXPECT_TRUE(HasEvent("] File \"" + dest +
                         "\\ask.txt\" already exists. Would you like to overwrite it? => No "
                         "(quiet: not shown)"))
        << ReadFileBytes(log);
    EXPECT_TRUE(HasEvent("Skipped file: " + dest + "\\ask.txt (exists; mode ASK)"));
    EXPECT_TRUE(HasEvent("Placed file: " + dest + "\\over.txt"));

    // Without /Q a silent run overwrites, as it always did.
    WriteFileBytes(dest + "\\ask.txt", "old ask");
    run = Run("/S /D \"" + dest + "\"");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\ask.txt"), "new ask");
}

// A product the setup requires is missing: the question is answered No, exit code 5.
TEST_F(DeploymentTest, RequirementQuestionIsAnsweredNo) {
    Project("dotNET=1\r\ndotNETVersion=11\r\nLinkDN=https://example.invalid/dotnet", "");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    SetupRun run = Run("/S /Q /D \"" + dest + "\"" + LogArg());
    ASSERT_FALSE(run.timedOut);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.exitCode, 5u);
    ExpectHeaderThenEvents("Exit code: 5 (a requirement was not met)");
    EXPECT_TRUE(HasEvent(".NET Framework") && HasEvent("=> No (quiet: not shown)"))
        << ReadFileBytes(log);
    EXPECT_FALSE(PathExists(dest));
}

// The data file a start-up command needs is missing: the dialog is cancelled.
TEST_F(DeploymentTest, DataFileDialogIsCancelled) {
    Project("", "[Commands]\r\n0=<SystemDir>\\cmd.exe*?/c rem x \"<CurrentDir>\\data.zip\"*?Hide*?"
                "BEFORE INSTALLATION*?Yes*?All*?No\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    SetupRun run = Run("/S /Q /D \"" + dest + "\"" + LogArg());
    ASSERT_FALSE(run.timedOut);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.exitCode, 0u);
    ExpectHeaderThenEvents("Exit code: 0 (stopped before the installation)");
    EXPECT_TRUE(HasEvent("the data file (Data.zip or another archive) => cancelled"))
        << ReadFileBytes(log);
}

// A setup without its data shows the corrupt-setup box even with /S (it comes before
// the configuration is read); with /S /Q it ends with the same code and no box.
TEST_F(DeploymentTest, CorruptSetupBoxIsNotShownWithQuiet) {
    WriteFileBytes(setup, ReadFileBytes(QV_SETUPSTUB_PATH) + RandomBytes(420000, 7));
    SetupRun shown = Run("/S", 30000);
    ASSERT_FALSE(shown.timedOut);
    EXPECT_EQ(shown.exitCode, 1u);
    ASSERT_EQ(shown.boxes.size(), 1u);
    EXPECT_EQ(shown.boxes[0].caption, "Error");

    SetupRun quiet = Run("/S /Q" + LogArg(), 30000);
    ASSERT_FALSE(quiet.timedOut);
    EXPECT_EQ(quiet.exitCode, 1u);
    EXPECT_TRUE(quiet.boxes.empty());
    // Before the header the product and the system are not known: their lines are empty.
    std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[0], setup);
    EXPECT_EQ(lines[1], "");
    EXPECT_TRUE(HasEvent("Message [Error] The setup file is corrupt. Error code: 1 => OK"));
    EXPECT_NE(lines.back().find("Exit code: 1 (the setup file is damaged)"), std::string::npos);
}

// The log of a silent installation names every file, folder and item, the command with
// its exit code, the phases with their durations, and the exit code.
TEST_F(DeploymentTest, LogListsEveryFileAndItem) {
    AddPayload("a.txt", "alpha");
    AddPayload("b.txt", "beta");
    AddPayload("c.txt", "gamma");
    Project(
        "Uninstall=1\r\nShowAddRemove=1\r\nProgramGroup=QV Deploy " + guid.substr(1, 8),
        "[Payload]\r\n0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n"
        "1=payload\\b.txt?<InstallDir>\\sub\\b.txt?OVERWRITE?Yes\r\n"
        "2=payload\\c.txt?<InstallDir>\\c.txt?SKIP?Yes\r\n"
        "[Shortcuts]\r\n0=<InstallDir>\\links\\A.lnk*?<InstallDir>\\a.txt*?A*?*?*?*?0*?Normal\r\n"
        "[Registry]\r\n0=HKCU\\" +
            regKey +
            "*?Dir*?REG_SZ*?<InstallDir>*?Yes*?Yes*?Default\r\n"
            "[INI]\r\n0=<InstallDir>\\settings.ini*?General*?Dir*?<InstallDir>*?Yes*?Yes\r\n"
            "[Commands]\r\n0=<SystemDir>\\cmd.exe*?/c exit 7*?Hide*?AFTER INSTALLATION*?Yes*?All*?"
            "No\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    CreateDirectoryA(dest.c_str(), nullptr);
    WriteFileBytes(dest + "\\c.txt", "kept");
    SetupRun run = Run("/S /Q /L /D \"" + dest + "\"" + LogArg());
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    ExpectHeaderThenEvents("Exit code: 0 (installed)");
    const std::string all = ReadFileBytes(log);
    for (const std::string& e : std::vector<std::string>{
             "Placed file: " + dest + "\\a.txt", "Created folder: " + dest + "\\sub",
             "Placed file: " + dest + "\\sub\\b.txt",
             "Skipped file: " + dest + "\\c.txt (exists; mode SKIP)",
             "Created folder: " + dest + "\\links", "Created shortcut: " + dest + "\\links\\A.lnk",
             "Wrote registry value: HKEY_CURRENT_USER\\" + regKey + ": Dir",
             "Wrote INI value: " + dest + "\\settings.ini [General] Dir", "exit code 7",
             "Created installed-programs entry: HKEY_CURRENT_USER\\"})
        EXPECT_TRUE(HasEvent(e)) << e << "\n" << all;
    for (const char* phase : {"start-up", "uninstall record", "files", "shortcuts", "registry",
                              "INI", "environment", "others", "commands"})
        EXPECT_TRUE(HasEvent(std::string("Phase end: ") + phase + " (")) << phase;
    EXPECT_TRUE(HasEvent("Command started: \"") && HasEvent("cmd.exe\" /c exit 7"));

    // The header keeps its place and form: "/L" writes the same five lines first.
    std::vector<std::string> plain = SplitLines(ReadFileBytes(temp + "\\QVSETUPLOG.TXT"));
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(plain.size(), 5u); // no failures: the /L log holds the header alone
    for (size_t i = 0; i < 5; ++i)
        if (i != 2) { // line 3 is the time of writing
            EXPECT_EQ(lines[i], plain[i]) << i;
        }
    EXPECT_EQ(lines[1], "Test Product 1.0");
}

// A quiet run of a setup that asks for a restart ends with the restart code; the same
// run without /Q keeps the code of a finished run.
TEST_F(DeploymentTest, RestartRequestGivesTheRestartCodeOnlyWhenQuiet) {
    AddPayload("a.txt", "alpha");
    Project("RestartComputer=1",
            "[Payload]\r\n0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    SetupRun quiet = Run("/S /Q /D \"" + dest + "\"" + LogArg());
    EXPECT_EQ(quiet.exitCode, kRestartNeeded);
    EXPECT_TRUE(HasEvent("Restart needed"));
    ExpectHeaderThenEvents("Exit code: 2147945410 (installed; a restart is needed)");
    SetupRun silent = Run("/S /D \"" + dest + "\"");
    EXPECT_EQ(silent.exitCode, 0u);
}

// A run killed in the middle of a large file leaves its log up to that point: the
// header, the phases begun and the files placed before.
TEST_F(DeploymentTest, KilledRunLeavesItsLogUpToThatPoint) {
    AddPayload("a.txt", "alpha");
    AddPayload("big.bin", RandomBytes(48u << 20, 11));
    Project("", "[Payload]\r\n0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n"
                "1=payload\\big.bin?<InstallDir>\\big.bin?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));

    TempEnvironment env(temp);
    std::string cmd = "\"" + setup + "\" /S /Q /D \"" + dest + "\"" + LogArg();
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    // Killed as soon as the large file has begun to arrive.
    const std::string big = dest + "\\big.bin";
    bool begun = false;
    for (int i = 0; i < 60000 && !begun; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA a;
        begun = GetFileAttributesExA(big.c_str(), GetFileExInfoStandard, &a) && a.nFileSizeLow > 0;
        if (!begun && WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    const bool killed = TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 10000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(begun);
    ASSERT_TRUE(killed);
    EXPECT_EQ(code, 99u);

    std::vector<std::string> lines = LogLines();
    ASSERT_GT(lines.size(), 5u) << ReadFileBytes(log);
    EXPECT_EQ(lines[0], setup);
    EXPECT_TRUE(HasEvent("Phase end: start-up ("));
    EXPECT_TRUE(HasEvent("Phase start: files"));
    EXPECT_TRUE(HasEvent("Placed file: " + dest + "\\a.txt"));
    EXPECT_FALSE(HasEvent("Placed file: " + big));
    EXPECT_FALSE(HasEvent("Exit code"));
    for (size_t i = 5; i < lines.size(); ++i)
        EXPECT_TRUE(IsEventLine(lines[i])) << lines[i];
}

} // namespace
