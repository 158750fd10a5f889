// Self-elevation: the arguments handed on to the new run, the decision, and what the
// administrator check does with [Setup] RequestElevation, through a stand-in for the
// shell's elevation request.
#include "TestContext.h"
#include "TestSupport.h"
#include "platform/Elevation.h"
#include "platform/FileUtil.h"
#include "run/CommandLine.h"
#include "run/SetupLog.h"
#include "sysinfo/Requirements.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::string Env(const char* name) {
    char buf[1024];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n && n < sizeof buf ? std::string(buf, n) : std::string();
}

// A copy of this program started with QV_ARGV_OUT set writes the arguments the runtime
// sees (CommandLineArgs, the C runtime's splitting), each ended by a NUL, and ends.
class ArgvChild : public testing::Environment {
    void SetUp() override {
        const std::string out = Env("QV_ARGV_OUT");
        if (out.empty()) return;
        std::string all;
        for (const std::string& a : CommandLineArgs())
            all += a + '\0';
        WriteFileBytes(out, all);
        ExitProcess(0);
    }
};
testing::Environment* const argvChild = testing::AddGlobalTestEnvironment(new ArgvChild);

TEST(Elevation, QuotingFollowsTheSplittingRules) {
    struct Case {
        std::string arg, quoted;
    };
    const Case cases[] = {
        {"/S", "/S"},
        {"", "\"\""},
        {"two words", "\"two words\""},
        {"tab\there", "\"tab\there\""},
        // Backslashes are doubled only where a quote follows them, the closing one too.
        {"C:\\Program Files\\App\\", "\"C:\\Program Files\\App\\\\\""},
        {"C:\\NoBlanks\\", "C:\\NoBlanks\\"},
        {"\\\\server\\share", "\\\\server\\share"},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"\"", "\"\\\"\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QuoteArgument(c.arg), c.quoted) << c.arg;
    EXPECT_EQ(JoinArguments({"/D", "C:\\My App", "/S"}), "/D \"C:\\My App\" /S");
    EXPECT_EQ(JoinArguments({}), "");
}

TEST(Elevation, ArgumentsComeBackUnchangedInTheNewProcess) {
    std::vector<std::string> args = {"/S",
                                     "",
                                     "/D",
                                     "C:\\Program Files\\App\\",
                                     "say \"hi\"",
                                     "a\\\"b",
                                     "\\\\server\\share\\",
                                     "\"",
                                     "\\",
                                     "tab\tand  two blanks",
                                     "<ProgramFiles>\\Caf\xe9"};
    // Seeded mixtures of the characters that matter to the splitting.
    SeededRng rng(SeedFromEnvironment("QV_SEED", 2024));
    const std::string alphabet = "ab \t\"\\\\\\";
    for (int i = 0; i < 40; ++i) {
        std::string a;
        for (size_t n = rng.Below(8); n > 0; --n)
            a += alphabet[rng.Below(alphabet.size())];
        args.push_back(a);
    }
    ScratchDir dir;
    const std::string out = dir / "argv.bin";
    std::string cmd = "\"" + ModulePath() + "\" " + JoinArguments(args);
    SetEnvironmentVariableA("QV_ARGV_OUT", out.c_str());
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessA(ModulePath().c_str(), cmd.data(), nullptr, nullptr, FALSE,
                                        0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA("QV_ARGV_OUT", nullptr);
    ASSERT_TRUE(started);
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const std::string got = ReadFileBytes(out);
    std::vector<std::string> seen;
    for (size_t start = 0, end; (end = got.find('\0', start)) != std::string::npos; start = end + 1)
        seen.push_back(got.substr(start, end - start));
    ASSERT_EQ(seen.size(), args.size()) << cmd;
    for (size_t i = 0; i < args.size(); ++i)
        EXPECT_EQ(seen[i], args[i]) << "argument " << i << " quoted as " << QuoteArgument(args[i]);
}

TEST(Elevation, OnlyARequiredMissingOptedInRightAsksOnce) {
    for (int bits = 0; bits < 16; ++bits) {
        const bool required = bits & 1, admin = bits & 2, opted = bits & 4, again = bits & 8;
        EXPECT_EQ(ShouldRequestElevation(required, admin, opted, again),
                  required && !admin && opted && !again)
            << required << admin << opted << again;
    }
}

TEST(Elevation, TheRequestMarkIsReadOnceAndRemoved) {
    SetEnvironmentVariableA("QV_ELEVATION_REQUESTED", nullptr);
    EXPECT_FALSE(TakeElevationRequestMark());
    SetEnvironmentVariableA("QV_ELEVATION_REQUESTED", "1");
    EXPECT_TRUE(TakeElevationRequestMark());
    EXPECT_FALSE(TakeElevationRequestMark());
    EXPECT_EQ(GetEnvironmentVariableA("QV_ELEVATION_REQUESTED", nullptr, 0), 0u);
}

// The administrator check of a setup run with a stand-in for the elevation request.
class AdminCheck : public ::testing::Test {
  protected:
    ScratchDir work;
    const std::string setupTemp = work / "QVTMP042";
    TempEnvironment tempEnv{work.Path()}; // the log file goes there
    RecordingPrompt prompt;

    struct Request {
        int calls = 0;
        std::string program, parameters;
        bool tempFolderLeft = true;
    } request;

    // The end code, or -1 when the checks let the setup go on. started: what the
    // request answers; code: the exit code of the new run.
    int Run(const std::string& setup, bool admin, bool started, uint32_t code, bool logging = false,
            bool silent = false) {
        CreateDirectoryA(setupTemp.c_str(), nullptr);
        WriteFileBytes(setupTemp + "\\qvsetup.ini", "[Setup]\r\nWindows 7=1\r\n" + setup);
        WriteFileBytes(setupTemp + "\\Englishqv.lng", "[Messages]\r\n4=Administrator needed\r\n");
        RunContext ctx;
        ctx.Prompt = &prompt;
        ctx.Admin = admin;
        ctx.Silent = silent;
        ctx.Logging = logging;
        ctx.LogList = {"first line"};
        ctx.SetupFile = "C:\\Users\\Ann\\Downloads\\setup.exe";
        ctx.Args = {"/D", "C:\\Program Files\\My App\\", "/L"};
        ctx.SetupTempDir = setupTemp;
        ctx.SetupTempDirCreated = true;
        ctx.Lang.TitleCaption = "Title";
        ctx.System.OsName = "Windows 7";
        ctx.Config = std::make_unique<TIniFile>(setupTemp + "\\qvsetup.ini");
        ctx.Language = std::make_unique<TIniFile>(setupTemp + "\\Englishqv.lng");
        ObserveRunEnd(ctx);
        const ElevatedStart start = [&](const std::string& program, const std::string& params,
                                        uint32_t& exitCode) {
            ++request.calls;
            request.program = program;
            request.parameters = params;
            request.tempFolderLeft = DirectoryExists(setupTemp);
            if (started) {
                exitCode = code;
                // The new run writes its own log.
                if (logging) WriteFileBytes(LogFilePath(), "the elevated run's log\r\n");
            }
            return started;
        };
        try {
            RunRequirementChecks(ctx, start);
            return -1;
        } catch (const RunEndedForTest& end) {
            return static_cast<int>(end.code);
        }
    }
};

TEST_F(AdminCheck, HandsOnToTheElevatedRunAndEndsWithItsCode) {
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false, true, 1234567), 1234567);
    EXPECT_EQ(request.calls, 1);
    EXPECT_EQ(request.program, "C:\\Users\\Ann\\Downloads\\setup.exe");
    EXPECT_EQ(request.parameters, "/D \"C:\\Program Files\\My App\\\\\" /L");
    // This run's files went first: the new run could draw the same folder.
    EXPECT_FALSE(request.tempFolderLeft);
    EXPECT_TRUE(prompt.boxes.empty());
    EXPECT_FALSE(DirectoryExists(setupTemp));
}

TEST_F(AdminCheck, ADeclinedRequestIsRefusedAsWithoutIt) {
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false, false, 0), 5);
    EXPECT_EQ(request.calls, 1);
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].text, "Administrator needed");
    EXPECT_EQ(prompt.boxes[0].caption, "Title");
    EXPECT_FALSE(DirectoryExists(setupTemp));
}

TEST_F(AdminCheck, WithoutTheKeyNothingIsRequested) {
    EXPECT_EQ(Run("Admin=1\r\n", false, true, 0), 5);
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=0\r\n", false, true, 0), 5);
    EXPECT_EQ(request.calls, 0);
    ASSERT_EQ(prompt.boxes.size(), 2u);
    EXPECT_EQ(prompt.boxes[1].text, "Administrator needed");
}

TEST_F(AdminCheck, NoRequestWhenTheRightsAreThereOrNotRequired) {
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", true, true, 7), -1);
    EXPECT_EQ(Run("Admin=0\r\nRequestElevation=1\r\n", false, true, 7), -1);
    EXPECT_EQ(request.calls, 0);
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(AdminCheck, ARunStartedByARequestDoesNotAskAgain) {
    SetEnvironmentVariableA("QV_ELEVATION_REQUESTED", "1");
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false, true, 0), 5);
    EXPECT_EQ(request.calls, 0);
    EXPECT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(GetEnvironmentVariableA("QV_ELEVATION_REQUESTED", nullptr, 0), 0u);
}

TEST_F(AdminCheck, AnAdministratorsRunRemovesTheMarkToo) {
    // The programs the setup starts (commands, the product) must not inherit it.
    SetEnvironmentVariableA("QV_ELEVATION_REQUESTED", "1");
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", true, true, 0), -1);
    EXPECT_EQ(GetEnvironmentVariableA("QV_ELEVATION_REQUESTED", nullptr, 0), 0u);
}

TEST_F(AdminCheck, SilentRunsAskTooAndShowNoBox) {
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false, true, 0, false, true), 0);
    EXPECT_EQ(request.calls, 1);
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false, false, 0, false, true), 5);
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(AdminCheck, TheElevatedRunsLogIsKept) {
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false, true, 0, true), 0);
    EXPECT_EQ(ReadFileBytes(LogFilePath()), "the elevated run's log\r\n");
    // Declined: this run's own log.
    EXPECT_EQ(Run("Admin=1\r\nRequestElevation=1\r\n", false, false, 0, true), 5);
    EXPECT_EQ(ReadFileBytes(LogFilePath()), "first line\r\n");
}

} // namespace
