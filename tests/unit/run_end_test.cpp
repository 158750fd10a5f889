// The ends of a run: exit codes, the corrupt-setup box, the clean-up of the setup
// temp folder and the log file.
#include "TestContext.h"
#include "TestSupport.h"
#include "app/RunContext.h"
#include "text/RunEnd.h"
#include "text/SetupLog.h"

#include <gtest/gtest.h>

#include <windows.h>

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
        try {
            end(ctx);
        } catch (const RunEndedForTest& e) {
            return e.code;
        }
        ADD_FAILURE() << "the run did not end";
        return 0xFFFFFFFF;
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
    uint32_t code = 0;
    try {
        FailSetup(ctx, 123456);
    } catch (const RunEndedForTest& e) {
        code = e.code;
    }
    EXPECT_EQ(code, 123456u);
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].owner, nullptr);
    EXPECT_EQ(prompt.boxes[0].caption, "Error");
    EXPECT_EQ(prompt.boxes[0].text, "The setup file is corrupt.\r\n\r\nError code: 123456");
    EXPECT_EQ(prompt.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    EXPECT_FALSE(PathExists(ctx.SetupTempDir));

    SetUp();
    ctx.Silent = true;
    try {
        FailSetup(ctx, 4);
    } catch (const RunEndedForTest& e) {
        code = e.code;
    }
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

} // namespace
