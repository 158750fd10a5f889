// The ends of a run: exit codes, the corrupt-setup box, the clean-up of the setup
// temp folder and the log file.
#include "TestContext.h"
#include "TestSupport.h"
#include "platform/Redirection.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupLog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <optional>

namespace {

class RunEndTest : public ::testing::Test {
  protected:
    ScratchDir temp;
    TempEnvironment env{temp.Path()};
    RecordingPrompt prompt;
    RunContext ctx;

    void SetUp() override {
        ctx.Prompt = &prompt;
        ObserveRunEnd(ctx);
        ctx.SetupTempDir = temp / "QVTMP123";
        CreateDirectoryA(ctx.SetupTempDir.c_str(), nullptr);
        ASSERT_TRUE(PathExists(ctx.SetupTempDir));
        ctx.SetupTempDirCreated = true;
        WriteFileBytes(ctx.SetupTempDir + "\\qvsetup.ini", "[Setup]\r\n");
        WriteFileBytes(ctx.SetupTempDir + "\\locked.txt", "x");
        SetFileAttributesA((ctx.SetupTempDir + "\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    }

    uint32_t End(void (*end)(RunContext&)) {
        const std::optional<uint32_t> code = EndCodeOf([&] { end(ctx); });
        if (!code) ADD_FAILURE() << "the run did not end";
        return code.value_or(0xFFFFFFFF);
    }
};

TEST_F(RunEndTest, EachEndHasItsExitCodeAndCleansUp) {
    struct Case {
        void (*end)(RunContext&);
        uint32_t code;
    } cases[] = {{QuitSetup, 0}, {FinishSetup, 0}, {AbortSetup, 1}, {RefuseSetup, 5}};
    for (const Case& c : cases) {
        SetUp(); // a fresh setup temp folder for each end
        EXPECT_EQ(End(c.end), c.code);
        EXPECT_FALSE(PathExists(ctx.SetupTempDir)) << "code " << c.code;
    }
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(RunEndTest, FailSetupShowsTheFixedBoxUnlessSilent) {
    uint32_t code = EndCodeOf([&] { FailSetup(ctx, 123456); }).value_or(0);
    EXPECT_EQ(code, 123456u);
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].owner, nullptr);
    EXPECT_EQ(prompt.boxes[0].caption, "Error");
    EXPECT_EQ(prompt.boxes[0].text, "The setup file is corrupt.\r\n\r\nError code: 123456");
    EXPECT_EQ(prompt.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    EXPECT_FALSE(PathExists(ctx.SetupTempDir));

    SetUp();
    ctx.Silent = true;
    code = EndCodeOf([&] { FailSetup(ctx, 4); }).value_or(code);
    EXPECT_EQ(code, 4u);
    EXPECT_EQ(prompt.boxes.size(), 1u); // no second box
}

TEST_F(RunEndTest, LogFileWrittenWithSwitchAndRemovedWithout) {
    const std::string log = temp / "QVSETUPLOG.TXT";
    ASSERT_EQ(LogFilePath(), log);
    ctx.Logging = true;
    AddLogLine(ctx, "first");
    AddLogLine(ctx, "Error file: C:\\x");
    CleanUpSetupFiles(ctx);
    EXPECT_EQ(ReadFileBytes(log), "first\r\nError file: C:\\x\r\n");

    // Replaced as a whole, never appended to.
    ctx.LogList = {"only"};
    CleanUpSetupFiles(ctx);
    EXPECT_EQ(ReadFileBytes(log), "only\r\n");

    ctx.Logging = false;
    CleanUpSetupFiles(ctx);
    EXPECT_FALSE(PathExists(log));
}

TEST_F(RunEndTest, FolderTheRunDidNotCreateIsLeftAlone) {
    // Another setup's folder of the same name: its files are not ours.
    ctx.SetupTempDirCreated = false;
    CleanUpSetupFiles(ctx);
    EXPECT_TRUE(PathExists(ctx.SetupTempDir + "\\qvsetup.ini"));
}

TEST_F(RunEndTest, SubfoldersKeepTheFolderWithoutFailing) {
    // Only files are deleted; a folder inside keeps the setup temp folder in place.
    CreateDirectoryA((ctx.SetupTempDir + "\\sub").c_str(), nullptr);
    CleanUpSetupFiles(ctx);
    EXPECT_FALSE(PathExists(ctx.SetupTempDir + "\\qvsetup.ini"));
    EXPECT_TRUE(PathExists(ctx.SetupTempDir + "\\sub"));
}

TEST_F(RunEndTest, EarlyEndsReleaseThenCleanUpThenTerminate) {
    // What is left when the process would end: readers released, the setup
    // temp folder gone, the log file written, redirection back on.
    struct Seen {
        bool configOpen, languageOpen, folderThere, logThere, redirectionOff;
    };
    const std::string log = temp / "QVSETUPLOG.TXT";
    void (*ends[])(RunContext&) = {QuitSetup, RefuseSetup, AbortSetup, FinishSetup,
                                   [](RunContext& c) { FailSetup(c, 4); }};
    for (auto end : ends) {
        SetUp();
        ctx.Config = std::make_unique<TIniFile>(ctx.SetupTempDir + "\\qvsetup.ini");
        ctx.Language = std::make_unique<TIniFile>(ctx.SetupTempDir + "\\Englishqv.lng");
        ctx.Logging = true;
        ctx.LogList = {"header"};
        DeleteFileA(log.c_str());
        // As start-up leaves it while the requirement checks run for a 64-bit setup; a
        // 64-bit build cannot switch redirection off, so the mark is set by hand there.
        DisableRedirection(ctx.Redirection);
        ctx.Redirection.Off = true;
        Seen seen{};
        ctx.Terminate = [&](uint32_t code) {
            seen = {ctx.Config != nullptr, ctx.Language != nullptr, PathExists(ctx.SetupTempDir),
                    PathExists(log), ctx.Redirection.Off};
            throw RunEndedForTest{code};
        };
        End(end);
        EXPECT_FALSE(seen.configOpen);
        EXPECT_FALSE(seen.languageOpen);
        EXPECT_FALSE(seen.folderThere);
        EXPECT_TRUE(seen.logThere);
        if (end == RefuseSetup) {
            EXPECT_FALSE(seen.redirectionOff) << "a refused setup puts redirection back";
        }
        RestoreRedirection(ctx.Redirection);
    }
}

TEST_F(RunEndTest, LogLinesKeepOrderAndAnUnwritableLogIsPassedOver) {
    const std::string log = temp / "QVSETUPLOG.TXT";
    ctx.Logging = true;
    for (const char* line : {"C:\\setup.exe", "Demo 1.0", "1/2/2026 10:00:00", "Windows 7",
                             "NotAdmin", "Error creating directory: C:\\x"})
        AddLogLine(ctx, line);
    CleanUpSetupFiles(ctx);
    EXPECT_EQ(ReadFileBytes(log), "C:\\setup.exe\r\nDemo 1.0\r\n1/2/2026 10:00:00\r\nWindows "
                                  "7\r\nNotAdmin\r\nError creating directory: C:\\x\r\n");

    // A folder where the log file belongs: nothing is written, nothing is reported.
    DeleteFileA(log.c_str());
    ASSERT_TRUE(CreateDirectoryA(log.c_str(), nullptr));
    SetUp();
    ctx.Logging = true;
    ctx.LogList = {"x"};
    CleanUpSetupFiles(ctx);
    EXPECT_FALSE(PathExists(ctx.SetupTempDir));
    ctx.Logging = false; // and a folder is not deleted as a leftover log file
    CleanUpSetupFiles(ctx);
    EXPECT_TRUE(PathExists(log));
    RemoveDirectoryA(log.c_str());
    EXPECT_TRUE(prompt.boxes.empty());
}

// The log's folder is open to every process of the user, the setup may run elevated:
// a link planted under the log's name must not carry the write to another file.
TEST_F(RunEndTest, ALinkPlantedUnderTheLogsNameIsReplacedNotWrittenThrough) {
    const std::string log = temp / "QVSETUPLOG.TXT";
    const std::string victim = temp / "victim.dll";
    WriteFileBytes(victim, "precious");
    ASSERT_TRUE(CreateHardLinkA(log.c_str(), victim.c_str(), nullptr));
    ctx.Logging = true;
    ctx.LogList = {"line"};
    CleanUpSetupFiles(ctx);
    EXPECT_EQ(ReadFileBytes(log), "line\r\n");
    EXPECT_EQ(ReadFileBytes(victim), "precious");
}

} // namespace
