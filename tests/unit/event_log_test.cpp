// The event log of "/LOG=", the quiet prompt of "/Q" and the restart code, in-process.
#include "TestContext.h"
#include "TestSupport.h"
#include "package/SetupPackage.h"
#include "run/CommandLine.h"
#include "run/EventPrompt.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupLog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2)
        lines.push_back(text.substr(start, p - start));
    EXPECT_EQ(start, text.size()) << "the last line is not ended";
    return lines;
}

// The text of an event line after its time ("+1.234 "), or "" for a line of another form.
std::string EventText(const std::string& line) {
    const size_t dot = line.find('.'), blank = line.find(' ');
    if (line.empty() || line[0] != '+' || dot == std::string::npos || blank != dot + 4) return "";
    for (size_t i = 1; i < blank; ++i)
        if (i != dot && (line[i] < '0' || line[i] > '9')) return "";
    return line.substr(blank + 1);
}

// Answers every box with Yes (or Retry/OK), the overwrite question with Yes to All, and
// the data-file dialog with a fixed file; records what it was asked.
class AnsweringPrompt : public IUserPrompt {
  public:
    int MessageBox(HWND, const std::string& text, const std::string&, UINT type) override {
        asked.push_back(text);
        switch (type & MB_TYPEMASK) {
        case MB_YESNO:
            return IDYES;
        case MB_ABORTRETRYIGNORE:
            return IDRETRY;
        default:
            return IDOK;
        }
    }
    OverwriteAnswer AskOverwrite(HWND, const std::string& text, const std::string&) override {
        asked.push_back(text);
        return OverwriteAnswer::YesToAll;
    }
    bool ChooseDataFile(HWND, std::string& path) override {
        asked.push_back("data file");
        path = "C:\\data.zip";
        return true;
    }
    std::vector<std::string> asked;
};

class EventLogTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    TempEnvironment env{dir.Path()};
    AnsweringPrompt inner;
    RunContext ctx;
    std::string path = dir / "event log.txt";

    void SetUp() override {
        ctx.Prompt = &inner;
        ObserveRunEnd(ctx);
        ctx.SetupFile = "C:\\setups\\product setup.exe";
    }
    std::vector<std::string> Lines() { return SplitLines(ReadFileBytes(path)); }
};

TEST_F(EventLogTest, HeaderFirstThenTimedEventsInOrder) {
    ctx.EventLog.Path = path;
    LogEvent(ctx, "before the header");
    EXPECT_FALSE(PathExists(path)); // nothing is written before the header
    StartEventLog(ctx, {"setup", "Product 1.0", "date", "Windows 8.1", "Admin"});
    LogEvent(ctx, "two\r\nlines\nof text");
    // Written as it goes: readable while the run holds the file open.
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"setup", "Product 1.0", "date", "Windows 8.1", "Admin"}));
    EXPECT_EQ(EventText(lines[5]), "before the header");
    EXPECT_EQ(EventText(lines[6]), "two lines of text");

    LogPhase(ctx, "files");
    LogEvent(ctx, "Placed file: x");
    LogPhase(ctx, "shortcuts");
    EndEventLog(ctx, "Exit code: 0 (installed)");
    LogEvent(ctx, "after the end");
    lines = Lines();
    std::vector<std::string> texts;
    for (size_t i = 7; i < lines.size(); ++i)
        texts.push_back(EventText(lines[i]));
    // "after the end" is not written: the file is closed.
    ASSERT_EQ(texts.size(), 6u) << ReadFileBytes(path);
    EXPECT_EQ(texts[0], "Phase start: files");
    EXPECT_EQ(texts[1], "Placed file: x");
    EXPECT_EQ(texts[2].substr(0, 19), "Phase end: files (0");
    EXPECT_EQ(texts[2].substr(texts[2].size() - 3), " s)");
    EXPECT_EQ(texts[3], "Phase start: shortcuts");
    EXPECT_EQ(texts[4].substr(0, 23), "Phase end: shortcuts (0");
    EXPECT_EQ(texts[5], "Exit code: 0 (installed)");
}

TEST_F(EventLogTest, TimesGrowWithTheRun) {
    ctx.EventLog.Path = path;
    StartEventLog(ctx, {"1", "2", "3", "4", "5"});
    LogEvent(ctx, "first");
    Sleep(120);
    EndEventLog(ctx, "last");
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 7u);
    const double first = std::stod(lines[5].substr(1)), last = std::stod(lines[6].substr(1));
    EXPECT_GE(last - first, 0.1);
    EXPECT_LT(last - first, 5.0);
}

TEST_F(EventLogTest, AnEarlyEndStillWritesTheHeaderLinesItKnows) {
    ctx.EventLog.Path = path;
    LogPhase(ctx, "start-up");
    LogEvent(ctx, "Message [Error] corrupt => OK");
    EndEventLog(ctx, "Exit code: 1 (the setup file is damaged)");
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], ctx.SetupFile);
    EXPECT_EQ(lines[1], "");
    EXPECT_FALSE(lines[2].empty()); // the date and time
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(EventText(lines[5]), "Phase start: start-up");
    EXPECT_EQ(EventText(lines[6]), "Message [Error] corrupt => OK");
    EXPECT_EQ(EventText(lines[7]).substr(0, 20), "Phase end: start-up ");
    EXPECT_EQ(EventText(lines[8]), "Exit code: 1 (the setup file is damaged)");
}

TEST_F(EventLogTest, NoEventLogWithoutThePathAndAnUnwritableFileIsPassedOver) {
    LogEvent(ctx, "nothing");
    StartEventLog(ctx, {"1", "2", "3", "4", "5"});
    EndEventLog(ctx, "end");
    EXPECT_TRUE(ctx.EventLog.Pending.empty());
    EXPECT_EQ(ctx.EventLog.File, INVALID_HANDLE_VALUE);

    // Folders are not created: the run goes on without its event log.
    ctx.EventLog = EventLogState{};
    ctx.EventLog.Path = dir / "missing folder\\log.txt";
    StartEventLog(ctx, {"1", "2", "3", "4", "5"});
    LogEvent(ctx, "lost");
    EndEventLog(ctx, "end");
    EXPECT_FALSE(PathExists(dir / "missing folder"));
}

TEST_F(EventLogTest, ReplacesAnOldFile) {
    WriteFileBytes(path, std::string(5000, 'x'));
    ctx.EventLog.Path = path;
    StartEventLog(ctx, {"1", "2", "3", "4", "5"});
    EndEventLog(ctx, "end");
    EXPECT_EQ(Lines().size(), 6u);
}

TEST_F(EventLogTest, QuietAnswersStopRatherThanGoOn) {
    EXPECT_EQ(QuietAnswer(MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(QuietAnswer(MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_DEFBUTTON2), IDABORT);
    EXPECT_EQ(QuietAnswer(MB_YESNO | MB_ICONWARNING), IDNO);
    EXPECT_EQ(QuietAnswer(MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(QuietAnswer(MB_RETRYCANCEL | MB_ICONWARNING), IDCANCEL);
    EXPECT_EQ(QuietAnswer(MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(QuietAnswer(MB_CANCELTRYCONTINUE), IDCANCEL);
}

TEST_F(EventLogTest, QuietPromptShowsNothingAndLogsEveryQuestion) {
    ctx.EventLog.Path = path;
    StartEventLog(ctx, {"1", "2", "3", "4", "5"});
    InstallEventPrompt(ctx);
    InstallEventPrompt(ctx); // once only
    ctx.Quiet = true;
    EXPECT_EQ(ctx.Prompt->MessageBox(nullptr, "Error creating file:\r\nC:\\a", "Setup",
                                     MB_ABORTRETRYIGNORE | MB_ICONERROR),
              IDABORT);
    EXPECT_EQ(ctx.Prompt->MessageBox(nullptr, "Install it now?", "Demo", MB_YESNO), IDNO);
    EXPECT_EQ(ctx.Prompt->AskOverwrite(nullptr, "File exists", "Demo"), OverwriteAnswer::No);
    std::string file = "offered";
    EXPECT_FALSE(ctx.Prompt->ChooseDataFile(nullptr, file));
    EXPECT_TRUE(inner.asked.empty());

    // Without /Q the same prompt shows what it always showed and logs the answers.
    ctx.Quiet = false;
    EXPECT_EQ(ctx.Prompt->MessageBox(nullptr, "Install it now?", "Demo", MB_YESNO), IDYES);
    EXPECT_EQ(ctx.Prompt->AskOverwrite(nullptr, "File exists", "Demo"), OverwriteAnswer::YesToAll);
    EXPECT_TRUE(ctx.Prompt->ChooseDataFile(nullptr, file));
    EXPECT_EQ(file, "C:\\data.zip");
    EXPECT_EQ(inner.asked.size(), 3u);

    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 12u);
    const std::vector<std::string> expected = {
        "Question [Setup] Error creating file: C:\\a => Abort (quiet: not shown)",
        "Question [Demo] Install it now? => No (quiet: not shown)",
        "Question [Demo] File exists => No (quiet: not shown)",
        "Question [Open] the data file (Data.zip or another archive) => cancelled (quiet: not "
        "shown)",
        "Question [Demo] Install it now? => Yes",
        "Question [Demo] File exists => Yes to All",
        "Question [Open] the data file (Data.zip or another archive) => chose C:\\data.zip"};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(EventText(lines[5 + i]), expected[i]);
}

TEST_F(EventLogTest, RestartCodeIsNoCodeOfAnyOtherEnd) {
    // A damaged setup ends with its setup cabinet's size, and the trailer reader takes
    // no size the restart code could be.
    uint32_t size = 0;
    EXPECT_FALSE(ParseTrailerNumber("2147945410", size));
    EXPECT_TRUE(ParseTrailerNumber("2147483647", size));
    EXPECT_GT(static_cast<uint64_t>(kExitRestartNeeded), 0x7FFFFFFFu);
    for (uint32_t code :
         {kExitOk, kExitAbort, kExitPicture, kExitAppearance, kExitNoLanguage, kExitRefused})
        EXPECT_NE(code, static_cast<uint32_t>(kExitRestartNeeded));
}

TEST_F(EventLogTest, LogSwitchValueKeepsBlanksAndIgnoresCase) {
    ctx.Args = {"/S", "/log=C:\\Log Files\\my setup.log", "/LOG=second"};
    std::string value;
    EXPECT_TRUE(SwitchValue(ctx, "/LOG=", value));
    EXPECT_EQ(value, "C:\\Log Files\\my setup.log");
    // "/L" is a switch of its own, never the start of "/LOG=".
    EXPECT_EQ(FindSwitch(ctx, "/L"), 0);
    ctx.Args = {"/L", "/LOGFILE=x"};
    value = "unchanged";
    EXPECT_FALSE(SwitchValue(ctx, "/LOG=", value));
    EXPECT_EQ(value, "unchanged");
    EXPECT_EQ(FindSwitch(ctx, "/L"), 1);
}

} // namespace
