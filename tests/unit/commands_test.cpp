// Configured commands: which records run at which stage, how programs are started,
// what the uninstaller is handed, batch-file expansion, the stop signal at the wizard
// pages and the data-file dialog of start-up. Programs really run: the fake
// uninstaller appends its command line to %TEMP%\fake-uninstaller.log.
#include "TestContext.h"
#include "TestSupport.h"
#include "engine/Commands.h"
#include "platform/FileUtil.h"
#include "platform/ProcessStart.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "sysinfo/SystemInfo.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// A copy of this program started with QV_CMD_REPORT set writes how it was started
// (show command, working folder, command line) to that file and ends.
class ReportMode : public testing::Environment {
    void SetUp() override {
        char report[MAX_PATH];
        if (!GetEnvironmentVariableA("QV_CMD_REPORT", report, sizeof report)) return;
        STARTUPINFOA si{};
        GetStartupInfoA(&si);
        char dir[MAX_PATH] = {};
        GetCurrentDirectoryA(sizeof dir, dir);
        const int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;
        WriteFileBytes(report, std::to_string(show) + "|" + dir + "|" + GetCommandLineA());
        ExitProcess(0);
    }
};
testing::Environment* const reportMode = testing::AddGlobalTestEnvironment(new ReportMode);

// Answers the data-file dialog as the test says and records what it was offered.
class DataFilePrompt : public RecordingPrompt {
  public:
    bool ChooseDataFile(HWND, std::string& path) override {
        offered.push_back(path);
        if (!answer.empty()) path = answer;
        return !answer.empty();
    }
    std::string answer; // empty: the user cancels
    Lines offered;
};

std::string Rec(const std::string& program, const std::string& params, const std::string& stage,
                const std::string& wait = "YES", const std::string& platform = "ANY",
                const std::string& elevate = "NO", const std::string& window = "HIDE") {
    return program + "*?" + params + "*?" + window + "*?" + stage + "*?" + wait + "*?" + platform +
           "*?" + elevate;
}

const char kFake[] = QV_FAKE_UNINSTALLER_PATH;
const char kBatch[] = "@echo <Greeting>\r\n@set D=<SetupTempDir>\n@exit /b 0";

class CommandsTest : public ::testing::Test {
  protected:
    CommandsTest() {
        setupTemp_ = temp_ / "QVTMP123";
        CreateDirectoryA(setupTemp_.c_str(), nullptr);
        ctx_.SetupTempDir = setupTemp_;
        ctx_.SetupFile = setupDir_ / "setup.exe";
        ctx_.Prompt = &prompt_;
        ctx_.Lang.TitleCaption = "Demo Setup";
        ctx_.UserVariables = {"<Greeting>?hi", "<Nothing>?"};
        Config({});
    }
    // The configuration and the language file, both in the setup temp folder.
    void Config(const Lines& commands) {
        UseLanguage(ctx_, setupTemp_ + "\\Englishqv.lng",
                    "[Messages]\r\n29=The file %s is missing.\r\n");
        std::string ini = "[Setup]\r\nAppName=Demo\r\nAppVersion=1.0\r\n[Commands]\r\n";
        for (size_t i = 0; i < commands.size(); ++i)
            ini += std::to_string(i) + "=" + commands[i] + "\r\n";
        UseConfig(ctx_, setupTemp_ + "\\qvsetup.ini", ini);
    }
    // The command lines the fake program was started with, since the last call.
    Lines Runs() {
        const std::string log = temp_ / "fake-uninstaller.log";
        Lines out;
        std::string bytes = PathExists(log) ? ReadFileBytes(log) : "";
        DeleteFileA(log.c_str());
        for (size_t pos = 0, end; (end = bytes.find("\r\n", pos)) != std::string::npos;
             pos = end + 2)
            out.push_back(bytes.substr(pos, end - pos));
        return out;
    }
    std::string Line(const std::string& params) {
        return "\"" + std::string(kFake) + "\" " + params;
    }
    // The values of a section of the uninstall record, in key order.
    Lines Recorded(const std::string& section) {
        return RecordedValues(ctx_.Record.UninstallRecordPath, section);
    }

    ScratchDir temp_;
    TempEnvironment env_{temp_.Path()};
    ScratchDir setupDir_;
    std::string setupTemp_;
    DataFilePrompt prompt_;
    RunContext ctx_;
};

TEST_F(CommandsTest, EachStageRunsOnlyItsOwnRecordsAndStageThreeRecordsTheUninstaller) {
    const Lines texts = {"Before Installation",
                         "at user information dialog",
                         "AT FOLDER SELECT DIALOG",
                         "After Installation",
                         "BEFORE UNINSTALLATION",
                         "after uninstallation",
                         "SOMETIME"};
    OpenUninstallRecord(ctx_);
    // Stage 4 first: the record keeps each entry only once, so it would hide a stray one.
    for (int stage : {4, 0, 1, 2, 3}) {
        SCOPED_TRACE(stage);
        for (size_t i = 0; i < texts.size(); ++i)
            RunCommand(ctx_, stage, Rec(kFake, "t" + std::to_string(i), texts[i]));
        Lines expected;
        if (stage < 4) expected.push_back(Line("t" + std::to_string(stage)));
        EXPECT_EQ(Runs(), expected);
        const size_t recorded = stage == 3 ? 1u : 0u;
        EXPECT_EQ(Recorded("ExecBeforeUninstall").size(), recorded);
        EXPECT_EQ(Recorded("ExecAfterUninstall").size(), recorded);
    }
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(CommandsTest, PlatformFieldAndFieldCountDecideWhetherARecordActs) {
    const bool wow64 = TOSInfo::IsWow64();
    OpenUninstallRecord(ctx_);
    struct Case {
        std::string record;
        bool acts;
    } cases[] = {
        {Rec(kFake, "x86", "AFTER INSTALLATION", "YES", "X86"), !wow64},
        {Rec(kFake, "x64", "AFTER INSTALLATION", "YES", "x64"), wow64},
        {Rec(kFake, "any", "AFTER INSTALLATION", "YES", "Itanium"), true},
        {Rec(kFake, "empty", "AFTER INSTALLATION", "YES", ""), true},
        // Six fields; an empty last field is lost, so that is six too; eight fields.
        {std::string(kFake) + "*?six*?HIDE*?AFTER INSTALLATION*?YES*?ANY", false},
        {Rec(kFake, "lost", "AFTER INSTALLATION", "YES", "ANY", ""), false},
        {Rec(kFake, "eight", "AFTER INSTALLATION") + "*?MORE", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        RunCommand(ctx_, kStageAfterInstallation, c.record);
        EXPECT_EQ(Runs().size(), c.acts ? 1u : 0u);
    }
    // A record for the other platform is not handed to the uninstaller either.
    RunCommand(ctx_, kStageAfterInstallation,
               Rec(kFake, "", "BEFORE UNINSTALLATION", "YES", wow64 ? "X86" : "X64"));
    EXPECT_TRUE(Recorded("ExecBeforeUninstall").empty());
}

TEST_F(CommandsTest, WaitingRunQuotesTheExpandedProgramAndPassesParametersAsTheyStand) {
    const std::string tools = setupDir_ / "my tools";
    CreateDirectoryA(tools.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(kFake, (tools + "\\fake.exe").c_str(), FALSE));
    RunCommand(ctx_, kStageBeforeInstallation,
               Rec("<CurrentDir>\\my tools\\fake.exe", "-a \"<SetupTempDir>\\x y\" <Greeting>",
                   "BEFORE INSTALLATION"));
    // The program has run (and written its line) by the time RunCommand returns.
    EXPECT_EQ(Runs(), Lines{"\"" + tools + "\\fake.exe\" -a \"" + setupTemp_ + "\\x y\" hi"});

    // A waited program that does not exist starts nothing and says nothing.
    RunCommand(ctx_, kStageBeforeInstallation,
               Rec("<CurrentDir>\\missing.exe", "", "BEFORE INSTALLATION"));
    EXPECT_TRUE(Runs().empty());
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(CommandsTest, WaitedProgramGetsTheWindowStateAndStartsInItsOwnFolder) {
    const std::string tools = setupDir_ / "my tools", report = temp_ / "report.txt";
    CreateDirectoryA(tools.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(ModulePath().c_str(), (tools + "\\reporter.exe").c_str(), FALSE));
    SetEnvironmentVariableA("QV_CMD_REPORT", report.c_str());
    // The window field in any case; anything unknown is a normal window.
    const std::pair<const char*, int> cases[] = {{"Maximize", SW_SHOWMAXIMIZED},
                                                 {"minimize", SW_SHOWMINIMIZED},
                                                 {"HIDE", SW_HIDE},
                                                 {"Normal", SW_SHOWNORMAL},
                                                 {"", SW_SHOWNORMAL},
                                                 {"MAXIMIZED", SW_SHOWNORMAL}};
    for (const auto& [window, show] : cases) {
        SCOPED_TRACE(window);
        DeleteFileA(report.c_str());
        RunCommand(ctx_, kStageFolderSelect,
                   Rec("<CurrentDir>\\my tools\\reporter.exe", "/a <Greeting>",
                       "AT FOLDER SELECT DIALOG", "YES", "ANY", "NO", window));
        ASSERT_TRUE(PathExists(report)); // waited for: the report is there on return
        EXPECT_EQ(ReadFileBytes(report),
                  std::to_string(show) + "|" + tools + "|\"" + tools + "\\reporter.exe\" /a hi");
    }
    SetEnvironmentVariableA("QV_CMD_REPORT", nullptr);
}

TEST_F(CommandsTest, UninstallCommandsAreRecordedExpandedAndNotRun) {
    ctx_.UninstallOn = false; // recorded whatever [Setup] Uninstall says
    OpenUninstallRecord(ctx_);
    RunCommand(ctx_, kStageAfterInstallation,
               Rec("<CurrentDir>\\u.exe", "", "Before Uninstallation", "Yes", "ANY", "no", "Hide"));
    RunCommand(ctx_, kStageAfterInstallation,
               Rec(kFake, "/q <Greeting>", "AFTER UNINSTALLATION", "no", "ANY", "Yes", "normal"));
    // A program that expands to nothing is no command for the uninstaller either.
    RunCommand(ctx_, kStageAfterInstallation, Rec("<Nothing>", "", "BEFORE UNINSTALLATION"));
    EXPECT_EQ(Recorded("ExecBeforeUninstall"), Lines{setupDir_ / "u.exe*?*?HIDE*?YES*?NO"});
    EXPECT_EQ(Recorded("ExecAfterUninstall"),
              Lines{std::string(kFake) + "*?/q hi*?NORMAL*?NO*?YES"});
    EXPECT_TRUE(Runs().empty());
}

TEST_F(CommandsTest, OnlyBatchFilesDirectlyInTheSetupTempFolderAreExpanded) {
    const std::string expanded = "@echo hi\r\n@set D=" + setupTemp_ + "\r\n@exit /b 0\r\n";
    CreateDirectoryA((setupTemp_ + "\\sub").c_str(), nullptr);
    struct Case {
        std::string file, program;
        bool rewritten;
    } cases[] = {
        {setupTemp_ + "\\Job.Bat", "<SetupTempDir>\\Job.Bat", true},
        {setupDir_ / "job.bat", setupDir_ / "job.bat", false},
        {setupTemp_ + "\\sub\\job.bat", "<SetupTempDir>\\sub\\job.bat", false},
        // Names that begin with the folder but lead out of it.
        {temp_ / "up.bat", "<SetupTempDir>\\..\\up.bat", false},
        {temp_ / "QVTMP123x.bat", "<SetupTempDir>x.bat", false},
        // Not a batch file.
        {setupTemp_ + "\\job.cmd", "<SetupTempDir>\\job.cmd", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        WriteFileBytes(c.file, kBatch);
        RunCommand(ctx_, kStageBeforeInstallation, Rec(c.program, "", "BEFORE INSTALLATION"));
        EXPECT_EQ(ReadFileBytes(c.file), c.rewritten ? expanded : std::string(kBatch));
    }
    EXPECT_FALSE(PathExists(setupTemp_ + "\\Job.Bat.new"));
}

TEST_F(CommandsTest, StopSignalGoesBackOncePerRecordOfTheWizardStages) {
    int backs = 0;
    ctx_.View.WizardBack = [&] { ++backs; };
    const std::string missing = "<SetupTempDir>\\missing.exe";
    const Lines records = {
        Rec(missing, "", "AT USER INFORMATION DIALOG"),
        Rec(missing, "", "AT USER INFORMATION DIALOG"), Rec(missing, "", "AT FOLDER SELECT DIALOG"),
        Rec(missing, "", "BEFORE INSTALLATION"), Rec("<Nothing>", "", "AT FOLDER SELECT DIALOG")};
    struct Case {
        int stage;
        bool signal;
        int backs;
    } cases[] = {{1, true, 2}, {2, true, 1}, {0, true, 0}, {1, false, 0}, {2, false, 0}};
    const std::string signal = setupTemp_ + "\\donotcontinue.txt";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stage);
        if (c.signal)
            WriteFileBytes(signal, "");
        else
            DeleteFileA(signal.c_str());
        backs = 0;
        for (const std::string& r : records)
            RunCommand(ctx_, c.stage, r);
        EXPECT_EQ(backs, c.backs);
        // The setup never removes the signal itself.
        EXPECT_EQ(PathExists(signal), c.signal);
    }
    EXPECT_TRUE(prompt_.boxes.empty());
}

const char kExtract[] = "x \"<CurrentDir>\\data.zip\" -o<SetupTempDir>";

TEST_F(CommandsTest, MissingDataFileCancelledOrNotFoundQuitsTheSetup) {
    ObserveRunEnd(ctx_);
    struct Case {
        bool silent;
        std::string answer;
    } cases[] = {{false, ""}, {true, ""}, {false, temp_ / "nowhere.zip"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        Config({Rec(kFake, "before", "BEFORE INSTALLATION"),
                Rec(kFake, kExtract, "BEFORE INSTALLATION")});
        ctx_.Silent = c.silent;
        ctx_.Wizard.OpenDialogFile = "left over";
        prompt_.boxes.clear();
        prompt_.offered.clear();
        prompt_.answer = c.answer;
        const uint32_t code = EndCodeOf([&] { RunStartupCommands(ctx_); }).value_or(99);
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(prompt_.offered, Lines{""});    // asked once, nothing left from before
        EXPECT_EQ(Runs(), Lines{Line("before")}); // the second record never ran
        if (c.silent) {
            EXPECT_TRUE(prompt_.boxes.empty());
        } else {
            ASSERT_EQ(prompt_.boxes.size(), 1u);
            EXPECT_EQ(prompt_.boxes[0].text,
                      "The file " + (setupDir_ / "data.zip") + " is missing.");
            EXPECT_EQ(prompt_.boxes[0].caption, "Demo Setup");
            EXPECT_EQ(prompt_.boxes[0].type, UINT(MB_OK | MB_ICONWARNING));
        }
        CreateDirectoryA(setupTemp_.c_str(), nullptr);
    }
}

TEST_F(CommandsTest, ChosenDataFileStandsInForTheArchiveInEveryLaterStage) {
    const std::string chosen = temp_ / "My Data.zip";
    WriteFileBytes(chosen, "PK");
    prompt_.answer = chosen;
    Config({Rec(kFake, kExtract, "BEFORE INSTALLATION"),
            // The marker needs the "x " in front; a bare mention asks nothing.
            Rec(kFake, "\"<CurrentDir>\\data.zip\"", "BEFORE INSTALLATION")});
    RunStartupCommands(ctx_);
    EXPECT_EQ(ctx_.Wizard.OpenDialogFile, chosen);
    EXPECT_EQ(prompt_.offered.size(), 1u);
    EXPECT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(Runs(), (Lines{Line("x \"" + chosen + "\" -o" + setupTemp_),
                             Line("\"" + (setupDir_ / "data.zip") + "\"")}));

    RunCommand(
        ctx_, kStageAfterInstallation,
        Rec(kFake, "X \"<currentdir>\\DATA.ZIP\" <CurrentDir>\\data.zip", "AFTER INSTALLATION"));
    EXPECT_EQ(Runs(), Lines{Line("X \"" + chosen + "\" " + (setupDir_ / "data.zip"))});

    // Once the archive lies beside the setup, it is used and nobody is asked.
    WriteFileBytes(setupDir_ / "data.zip", "PK");
    prompt_.offered.clear();
    prompt_.boxes.clear();
    RunStartupCommands(ctx_);
    EXPECT_TRUE(prompt_.offered.empty());
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_EQ(Runs().at(0), Line("x \"" + (setupDir_ / "data.zip") + "\" -o" + setupTemp_));
    EXPECT_EQ(ctx_.Wizard.OpenDialogFile, "");
}

TEST(RunElevated, WaitsForTheProgramOrReportsARefusal) {
    ScratchDir temp;
    TempEnvironment env(temp.Path());
    EXPECT_TRUE(RunElevated(nullptr, kFake, "elevated run", true, SW_HIDE));
    EXPECT_NE(ReadFileBytes(temp / "fake-uninstaller.log").find("elevated run\r\n"),
              std::string::npos);
    EXPECT_FALSE(RunElevated(nullptr, temp / "missing.exe", "", true, SW_HIDE));
}

} // namespace
