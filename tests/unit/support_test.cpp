// The shared test helpers that other tests lean on to see the system as it is: a
// reader that misreads would let those tests pass on wrong results.
#include "SetupRunner.h"
#include "SystemState.h"
#include "TestContext.h"
#include "TestSupport.h"
#include "WindowText.h"
#include "platform/FileUtil.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A copy started with QV_SUPPORT_CHILD set writes QV_SUPPORT_VALUE to the file named
// by QV_SUPPORT_REPORT and ends with code 7 ("report"), or sleeps ("sleep").
class ChildMode : public testing::Environment {
    void SetUp() override {
        const std::string mode = EnvironmentText("QV_SUPPORT_CHILD");
        if (mode == "sleep") Sleep(60000);
        if (mode == "report")
            WriteFileBytes(EnvironmentText("QV_SUPPORT_REPORT"),
                           EnvironmentText("QV_SUPPORT_VALUE"));
        if (!mode.empty()) ExitProcess(7);
    }
};
testing::Environment* const childMode = testing::AddGlobalTestEnvironment(new ChildMode);

class RegistryKey : public ::testing::Test {
  protected:
    ~RegistryKey() override { DeleteKeyTree(HKEY_CURRENT_USER, key_); }
    void Set(const std::string& name, DWORD type, const std::string& bytes) {
        HKEY k;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | kRuntimeView, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(k, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
        RegCloseKey(k);
    }
    std::string key_ = UniqueName("Software\\QVTest-");
};

TEST_F(RegistryKey, ValuesAreReadWhole) {
    const std::string big = RandomBytes(70000, 3); // beyond any first guess of a buffer
    Set("big", REG_BINARY, big);
    Set("n", REG_DWORD, std::string("\x07\x00\x00\x00", 4));
    ASSERT_TRUE(WriteRegText(HKEY_CURRENT_USER, key_, "t", "hello"));

    const RegValue b = ReadRegValue(HKEY_CURRENT_USER, key_, "big");
    EXPECT_TRUE(b.present);
    EXPECT_EQ(b.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_TRUE(b.data == big) << b.data.size() << " bytes";
    const RegValue t = ReadRegValue(HKEY_CURRENT_USER, key_, "t");
    EXPECT_EQ(t.data, std::string("hello\0", 6));
    EXPECT_EQ(t.text, "hello");
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, key_, "n").number, 7u);
    EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, key_, "missing").present);
    EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, key_ + "\\none", "t").present);

    std::string text;
    EXPECT_TRUE(ReadRegText(HKEY_CURRENT_USER, key_, "n", text));
    EXPECT_EQ(text, "7");
    EXPECT_TRUE(ReadRegText(HKEY_CURRENT_USER, key_, "t", text));
    EXPECT_EQ(text, "hello");
    EXPECT_FALSE(ReadRegText(HKEY_CURRENT_USER, key_, "missing", text));
}

TEST_F(RegistryKey, TreesGoWithEverythingBelowThem) {
    ASSERT_TRUE(WriteRegText(HKEY_CURRENT_USER, key_ + "\\a\\b", "v", "x"));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, key_ + "\\a\\b"));
    DeleteKeyTree(HKEY_CURRENT_USER, key_);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, key_));
    DeleteKeyTree(HKEY_CURRENT_USER, key_); // a missing key is no failure
}

TEST(ProfileRead, DefaultsCutsAndKeyOrder) {
    ScratchDir dir;
    const std::string ini = dir / "a.ini";
    WriteFileBytes(ini, "[S]\r\nb=1\r\nlong=" + std::string(3000, 'x') + "\r\na=\r\n");
    EXPECT_EQ(IniValue(ini, "S", "b"), "1");
    EXPECT_EQ(IniValue(ini, "S", "a"), ""); // empty differs from missing
    EXPECT_EQ(IniValue(ini, "S", "missing"), "<absent>");
    EXPECT_EQ(IniValue(ini, "S", "missing", "d"), "d");
    EXPECT_EQ(IniValue(ini, "S", "long"), std::string(3000, 'x'));
    EXPECT_EQ(IniValue(ini, "S", "long", "", 2048), std::string(2047, 'x'));
    EXPECT_EQ(IniKeys(ini, "S"), (std::vector<std::string>{"b", "long", "a"}));
    EXPECT_TRUE(IniKeys(ini, "None").empty());
}

TEST(ScriptedPrompt, AnswersInOrderThenTheFallback) {
    ScriptedPrompt prompt;
    prompt.answers = {IDYES, IDNO};
    prompt.otherwise = IDCANCEL;
    std::vector<size_t> numbers;
    prompt.onBox = [&](size_t n) { numbers.push_back(n); };
    EXPECT_EQ(prompt.MessageBox(nullptr, "a", "c", MB_YESNO), IDYES);
    EXPECT_EQ(prompt.MessageBox(nullptr, "b", "c", MB_YESNO), IDNO);
    EXPECT_EQ(prompt.MessageBox(nullptr, "c", "c", MB_YESNO), IDCANCEL);
    EXPECT_EQ(prompt.shown, "a|b|c");
    EXPECT_EQ(prompt.boxes.size(), 3u);
    EXPECT_EQ(numbers, (std::vector<size_t>{1, 2, 3}));
}

TEST(ScriptedPrompt, WithoutAFallbackAnUnscriptedQuestionFails) {
    ScriptedPrompt prompt;
    int answer = 0;
    EXPECT_NONFATAL_FAILURE(answer = prompt.MessageBox(nullptr, "surprise", "c", MB_OK),
                            "unexpected box: surprise");
    EXPECT_EQ(answer, IDABORT);
    prompt.overwrite = {OverwriteAnswer::YesToAll};
    EXPECT_EQ(prompt.AskOverwrite(nullptr, "q1", "c"), OverwriteAnswer::YesToAll);
    OverwriteAnswer second = OverwriteAnswer::Yes;
    EXPECT_NONFATAL_FAILURE(second = prompt.AskOverwrite(nullptr, "q2", "c"),
                            "unexpected overwrite question: q2");
    EXPECT_EQ(second, OverwriteAnswer::No);
    EXPECT_EQ(prompt.questions, (std::vector<std::string>{"q1", "q2"}));
}

TEST(EndCodeOf, TheCodeOfAnEndedRunOrNothing) {
    RunContext ctx;
    ObserveRunEnd(ctx);
    EXPECT_EQ(EndCodeOf([&] { ctx.Terminate(5); }), 5u);
    EXPECT_EQ(EndCodeOf([] {}), std::nullopt);
}

TEST(Environment, ScopedValuesArePutBack) {
    SetEnvironmentVariableA("QV_SUPPORT_SET", "before");
    SetEnvironmentVariableA("QV_SUPPORT_UNSET", nullptr);
    {
        ScopedEnvironment set("QV_SUPPORT_SET", "during"), unset("QV_SUPPORT_UNSET", "during");
        EXPECT_EQ(EnvironmentText("QV_SUPPORT_SET"), "during");
        EXPECT_EQ(EnvironmentText("QV_SUPPORT_UNSET"), "during");
    }
    EXPECT_EQ(EnvironmentText("QV_SUPPORT_SET"), "before");
    EXPECT_EQ(GetEnvironmentVariableA("QV_SUPPORT_UNSET", nullptr, 0), 0u); // gone again
    SetEnvironmentVariableA("QV_SUPPORT_SET", nullptr);
}

TEST(StartedProgram, SeesItsOwnEnvironmentAndEndsWithItsCode) {
    ScratchDir dir;
    const std::string report = dir / "report.txt";
    StartedProgram child(ModulePath(), "",
                         {{"QV_SUPPORT_CHILD", "report"},
                          {"QV_SUPPORT_REPORT", report},
                          {"QV_SUPPORT_VALUE", "a b"}},
                         DETACHED_PROCESS);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.WaitExit(30000), 7u);
    EXPECT_TRUE(child.Exited());
    EXPECT_EQ(ReadFileBytes(report), "a b");
    EXPECT_EQ(EnvironmentText("QV_SUPPORT_CHILD"), ""); // set for the program only
}

TEST(StartedProgram, KillEndsARunningProgram) {
    StartedProgram sleeper(ModulePath(), "", {{"QV_SUPPORT_CHILD", "sleep"}}, DETACHED_PROCESS);
    ASSERT_TRUE(sleeper.Started());
    EXPECT_EQ(sleeper.WaitExit(200), std::nullopt);
    EXPECT_FALSE(sleeper.Exited());
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, sleeper.Id());
    ASSERT_NE(process, nullptr);
    sleeper.Kill();
    EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0);
    CloseHandle(process);
    EXPECT_FALSE(sleeper.Started());
}

TEST(Listings, NamesWithoutTheDotEntries) {
    ScratchDir dir;
    WriteFileBytes(dir / "b.txt", "");
    WriteFileBytes(dir / "a.txt", "");
    CreateDirectoryA((dir / "QVTMP1").c_str(), nullptr);
    CreateDirectoryA((dir / "other").c_str(), nullptr);
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(sorted(ListMatching(dir / "*")),
              (std::vector<std::string>{"QVTMP1", "a.txt", "b.txt", "other"}));
    EXPECT_EQ(sorted(ListMatching(dir / "*.txt")), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(sorted(ListFiles(dir.Path())), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(ListFolders(dir.Path(), "QVTMP"), std::vector<std::string>{"QVTMP1"});
    EXPECT_TRUE(ListMatching(dir / "none\\*").empty());
}

TEST(WindowText, WholeTextsAndTheMessageOfABox) {
    const std::string longText(5000, 'w');
    HWND box = CreateWindowA("STATIC", "caption", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(box, nullptr);
    CreateWindowA("STATIC", "", WS_CHILD, 0, 0, 1, 1, box, nullptr, nullptr, nullptr);
    HWND message = CreateWindowA("STATIC", longText.c_str(), WS_CHILD, 0, 0, 1, 1, box, nullptr,
                                 nullptr, nullptr);
    CreateWindowA("BUTTON", "&Yes", WS_CHILD, 0, 0, 1, 1, box, nullptr, nullptr, nullptr);
    EXPECT_EQ(TextOf(box), "caption");
    EXPECT_EQ(TextOf(message), longText); // no fixed buffer cuts it
    EXPECT_EQ(BoxText(box), longText);    // the static that has a text, not the icon's
    EXPECT_TRUE(BoxButtons(box).empty()) << "hidden buttons are not offered";
    DestroyWindow(box);
}

} // namespace
