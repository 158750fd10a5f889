// Custom prerequisites against a scratch folder and a private key of the current
// user, with scripted answers; a copy of this program stands in for an installer.
#include "TestContext.h"
#include "TestSupport.h"
#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "sysinfo/CustomPrerequisites.h"
#include "sysinfo/Requirements.h"
#include "sysinfo/SystemInfo.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

class CustomPrereq : public ::testing::Test {
  protected:
    void SetUp() override {
        TRegistry reg(RegistryFullAccess(false));
        ASSERT_TRUE(reg.OpenKey(key_ + "\\Sub", true) && reg.OpenKey(key_, false));
        const char* const values[][2] = {{"Ver", "2.0"}, {"V2", "2.0.0.0"}, {"V3", "2.1"},
                                         {"V4", "10.0"}, {"V5", "1.9.9"},   {"Text", "Hello"}};
        for (const auto& v : values)
            reg.WriteString(v[0], v[1]);
        reg.WriteInteger("Num", 7);
        WriteFileBytes(dir_ / "there.txt", "x");
    }
    void TearDown() override { TRegistry(RegistryFullAccess(false)).DeleteKey(key_); }

    // The exit code (-1 when the setup goes on) and the boxes shown. With setup, the
    // requirement checks run with text as [Prerequisites]; else text is one record.
    std::string Run(const std::string& text, std::vector<int> answers = {}, bool silent = false,
                    const char* setup = nullptr) {
        prompt_ = ScriptedPrompt();
        prompt_.answers.assign(answers.begin(), answers.end());
        prompt_.otherwise = IDNO;
        RunContext ctx;
        UseLanguage(ctx, dir_ / "E.lng",
                    "[Messages]\r\n5=M5\r\n9=M9 %s\r\n27=M27 %s\r\n28=M28\r\n");
        UseConfig(ctx, dir_ / "qvsetup.ini",
                  "[Setup]\r\n" + SystemFacts().OsName + "=1\r\n" + (setup ? setup : "") +
                      "[Prerequisites]\r\n" + text);
        ctx.Prompt = &prompt_;
        ctx.Silent = silent;
        ctx.Is64 = is64_;
        ctx.Admin = true;
        ctx.SetupTempDir = dir_.Path();
        ctx.Lang.TitleCaption = "Title";
        ObserveRunEnd(ctx);
        const std::optional<uint32_t> end = EndCodeOf(
            [&] { setup ? RunRequirementChecks(ctx) : CheckCustomPrerequisite(ctx, text); });
        // The exit code and the texts shown.
        return (end ? std::to_string(*end) : "-1") +
               (prompt_.shown.empty() ? "" : " " + prompt_.shown);
    }
    std::string key_ = UniqueName("Software\\QVTest-");
    ScratchDir dir_;
    ScriptedPrompt prompt_;
    bool is64_ = false; // the setup's 64-bit mark
    const std::string m = "M27 Tool";
};

// clang-format off
TEST_F(CustomPrereq, Conditions) {
    const std::string file = dir_ / "there.txt", none = dir_ / "none", k = "HKCU\\" + key_;
    const std::string kv = k + "\\", gone = k + "\\Gone\\Ver", F = "FILE ", D = "FOLDER ";
    const std::string K = "REGISTRY KEY ", V = "REGISTRY VALUE ", NO = "DOESN'T ";
    const std::string GE = V + "GREATER OR EQUAL", LE = V + "LESS OR EQUAL";
    struct Case { std::string condition, path, value; bool met; } const cases[] = {
        {F + "EXISTS", file, "", 1},           {F + "EXISTS", dir_.Path(), "", 0},
        {F + NO + "EXIST", none, "", 1},       {F + NO + "EXIST", file, "", 0},
        {D + "EXISTS", dir_.Path(), "", 1},    {D + "EXISTS", file, "", 0},
        {D + NO + "EXIST", none, "", 1},       {"", none, "", 1}, // no test needed
        {K + "EXISTS", "hkcu\\" + key_, "", 1},
        {K + "EXISTS", "HKEY_CURRENT_USER\\" + key_, "", 1},
        {K + "EXISTS", "HKLM\\" + key_, "", 0}, {K + "EXISTS", "NOROOT\\" + key_, "", 1},
        {K + NO + "EXIST", k + "\\Gone", "", 1}, {K + NO + "EXIST", k + "\\Sub", "", 0},
        {V + "EXISTS", kv + "Num", "", 1},     {V + "EXISTS", kv + "Gone", "", 0},
        {V + NO + "EXIST", gone, "", 1},       {V + NO + "EXIST", kv + "Ver", "", 0},
        {V + "CONTENTS", kv + "Text", "ell", 1}, {V + "CONTENTS", kv + "Text", "hello", 0},
        {V + "CONTENTS", kv + "Text", "", 0},  {V + "CONTENTS", kv + "Num", "7", 0}, // not text
        {V + NO + "CONTENT", gone, "ell", 1},  {V + NO + "CONTENT", kv + "Text", "", 1},
        {V + NO + "CONTENT", kv + "Text", "ell", 0}, {V + NO + "CONTENT", kv + "Num", "9", 0},
        {GE, kv + "Ver", "2.0", 1}, {GE, kv + "V2", "2.0", 1}, {GE, kv + "V3", "2.0", 1},
        {GE, kv + "V4", "2.0", 1},  {GE, kv + "V5", "2.0", 0}, {GE, gone, "", 0},
        {LE, kv + "Ver", "2.0.0.0", 1}, {LE, kv + "V4", "9.9", 0}, {LE, kv + "Num", "99", 0}};
    for (const Case& c : cases)
        EXPECT_EQ(CustomConditionMet(c.condition, c.path, c.value, false), c.met)
            << c.condition << " " << c.path << " " << c.value;
    // Root and one name: that name is both key path and value name.
    const std::string one = "HKCU\\Name";
    EXPECT_EQ(RegistryPathPart(one, true) + RegistryPathPart(one, false), "NameName");
}

TEST_F(CustomPrereq, RecordsAndQuestions) {
    const bool wow = TOSInfo::IsWow64();
    const std::string miss = "*?FILE EXISTS*?<SetupTempDir>\\none.txt", m5 = "5 " + m;
    struct Case { std::string record; bool silent; std::string result; } const cases[] = {
        {"Tool*?l*?*?FILE EXISTS*?<SetupTempDir>\\there.txt", false, "-1"},
        {"Tool*?l*?" + miss, false, m5}, // five fields: the value is added
        {"Tool*?l*?" + miss + "*?", false, m5},
        {"Tool*?l*?" + miss + "*?v", true, m5},      // asked in silent runs too
        {"Tool*?l*?*?FILE EXISTS", false, "-1"}, // wrong field counts are ignored
        {"Tool*?l*?" + miss + "*?v*?w", false, "-1"},
        {"Tool*?l*?x64" + miss + "*?v", false, wow ? m5 : "-1"},
        {"Tool*?l*?X86" + miss + "*?v", false, wow ? "-1" : m5},
        {"Tool*?l*?ANY" + miss + "*?v", false, m5},
        {"<SetupTempDir>*?l*?*?file doesn't exist*?<SetupTempDir>\\there.txt", false,
         "5 M27 " + dir_.Path()}};
    for (const Case& c : cases)
        EXPECT_EQ(Run(c.record, {}, c.silent), c.result) << c.record;
    // Yes with a link that is no program: the notice, then the end.
    EXPECT_EQ(Run("Tool*?C:\\qv-missing\\setup.exe /s*?" + miss, {IDYES}), m5 + "|M28");
    const Box& box = prompt_.boxes[0];
    EXPECT_TRUE(box.caption == "Title" && !box.owner && box.type == (MB_YESNO | MB_ICONWARNING));
}

// An installer link runs with its parameters and the condition is tested again.
TEST_F(CustomPrereq, InstallerLink) {
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    const std::string link = std::string("Tool*?") + sys + "\\cmd.exe /c echo ";
    const std::string test = "*?*?FILE EXISTS*?<SetupTempDir>\\tool.txt";
    EXPECT_EQ(Run(link + "/q /s> <SetupTempDir>\\o.txt" + test, {IDYES, IDNO}), "5 " + m + "|" + m);
    EXPECT_EQ(ReadFileBytes(dir_ / "o.txt").substr(0, 5), "/q /s"); // still unmet: asked again
    EXPECT_EQ(Run(link + "x> <SetupTempDir>\\tool.txt" + test, {IDYES}), "-1 " + m);
}

// Only a 64-bit setup's "X64" records look into the 64-bit registry; everything else
// sees the 32-bit view a 32-bit setup program has.
TEST_F(CustomPrereq, RegistryView) {
    if (!TOSInfo::IsWow64()) GTEST_SKIP() << "needs 64-bit Windows";
    const std::string key = "SOFTWARE\\QVTest-view-" + std::to_string(GetCurrentProcessId());
    TRegistry reg(RegistryFullAccess(true));
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(key, true) && reg.WriteString("Ver", "2.5"));
    reg.CloseKey();
    const std::string path = "HKLM\\" + key;
    struct Case {
        bool is64;
        std::string platform, condition, path, value, result;
    } const cases[] = {
        {true, "x64", "REGISTRY KEY EXISTS", path, "", "-1"},
        {true, "X64", "REGISTRY VALUE GREATER OR EQUAL", path + "\\Ver", "2.1", "-1"},
        {false, "X64", "REGISTRY KEY EXISTS", path, "", "5 " + m},
        {true, "", "REGISTRY KEY EXISTS", path, "", "5 " + m},
        {true, "ANY", "REGISTRY VALUE EXISTS", path + "\\Ver", "", "5 " + m},
        {false, "X64", "REGISTRY KEY DOESN'T EXIST", path, "", "-1"},
    };
    for (const Case& c : cases) {
        is64_ = c.is64;
        const std::string record =
            "Tool*?l*?" + c.platform + "*?" + c.condition + "*?" + c.path + "*?" + c.value;
        EXPECT_EQ(Run(record), c.result) << c.is64 << " " << record;
    }
    reg.DeleteKey(key);
}

// Records are checked in file order after the connection and before the products.
TEST_F(CustomPrereq, InRequirementChecks) {
    if (TOSInfo::AcrobatReaderVersion() != "0.0") GTEST_SKIP() << "this prefix has Acrobat";
    const std::string met = "A=A*?l*?*?FOLDER EXISTS*?<SetupTempDir>\r\n";
    const std::string unmet = "B=B*?l*?*?FOLDER DOESN'T EXIST*?<SetupTempDir>\r\n";
    const char* setup = "Internet=1\r\nAR=1\r\n"; // there is no network here
    EXPECT_EQ(Run(met + unmet, {IDYES, IDNO}, false, setup), "5 M5|M27 B");
    EXPECT_EQ(Run(met, {IDYES, IDNO}, false, setup), "5 M5|M9 5.0");
    EXPECT_EQ(Run(met, {IDNO}, false, setup), "5 M5");
}
// clang-format on

} // namespace
