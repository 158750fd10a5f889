// Requirement checks, run in-process on a configuration written for each case, with
// scripted answers. Copies of this program stand in for a program that must be
// closed and for a product's installer. The products asked for are ones this
// prefix lacks (checked first), so nothing fixed in its registry is changed.
//
// Its stand-in installer writes the Java product key under HKEY_LOCAL_MACHINE (removed
// afterwards), and its cases depend on products being absent, which the other tests
// of product keys write.
// qv-test-locks: machine_state
#include "SetupRunner.h"
#include "TestContext.h"
#include "TestSupport.h"
#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "sysinfo/Requirements.h"
#include "sysinfo/SystemInfo.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

const char kJavaKey[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";

// A copy started with QV_REQ_CHILD set sleeps ("sleep") or acts as an installer
// ("install"): it logs its command line and, with QV_REQ_JAVA, installs Java 1.8.
class ChildMode : public testing::Environment {
    void SetUp() override {
        std::string mode = EnvironmentText("QV_REQ_CHILD");
        if (mode == "sleep") Sleep(60000);
        if (mode != "install") return mode.empty() ? void() : ExitProcess(0);
        WriteFileBytes(EnvironmentText("QV_REQ_LOG"), GetCommandLineA());
        TRegistry reg(RegistryFullAccess(false));
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!EnvironmentText("QV_REQ_JAVA").empty())
            reg.OpenKey(std::string(kJavaKey) + "\\1.8.0_311", true);
        ExitProcess(0);
    }
};
testing::Environment* const childMode = testing::AddGlobalTestEnvironment(new ChildMode);

const std::string kSys = "Windows 7=1\r\n";

class Requirements : public ::testing::Test {
  protected:
    // The exit code, or -1 when the checks let the setup go on.
    int Run(const std::string& setup, std::vector<int> answers = {}, bool silent = false,
            bool admin = true, const std::string& os = "Windows 7") {
        prompt_ = ScriptedPrompt();
        prompt_.answers.assign(answers.begin(), answers.end());
        prompt_.otherwise = IDOK;
        prompt_.onBox = onBox_;
        std::string lng = "[Messages]\r\n";
        for (int i : {2, 3, 4, 5, 6, 7, 8, 9, 10, 24, 26, 27, 28})
            lng += std::to_string(i) + "=M" + std::to_string(i) +
                   (i == 3 || (i >= 6 && i < 28) ? " %s" : "") + "\r\n";
        RunContext ctx;
        UseLanguage(ctx, dir_ / "Englishqv.lng", lng);
        UseConfig(ctx, dir_ / "qvsetup.ini", "[Setup]\r\n" + setup);
        ctx.Prompt = &prompt_;
        ctx.Silent = silent;
        ctx.Admin = admin;
        ctx.SetupTempDir = dir_.Path();
        ctx.Lang.TitleCaption = "Title";
        ctx.ProductTitle = "Demo 1.0";
        ObserveRunEnd(ctx);
        ctx.System.OsName = os;
        const std::optional<uint32_t> end = EndCodeOf([&] { RunRequirementChecks(ctx); });
        if (!end) return -1;
        EXPECT_FALSE(ctx.Config) << "the readers are released on the way out";
        return static_cast<int>(*end);
    }
    std::string Copy(const std::string& name) {
        EXPECT_TRUE(CopyFileA(ModulePath().c_str(), (dir_ / name).c_str(), FALSE));
        return dir_ / name;
    }
    ScratchDir dir_;
    ScriptedPrompt prompt_;
    std::function<void(size_t)> onBox_;
};

TEST_F(Requirements, SystemRightsAndConnection) {
    const std::string two = "Windows 7=1\r\nWindows 8.1=1\r\n", net = kSys + "Internet=1\r\n";
    std::string all;
    for (const char* os : {"XP", "Vista", "7", "8", "8.1", "Server 2003", "Server 2008",
                           "Server 2008 R2", "Server 2012", "Server 2012 R2", "10"})
        all += std::string("Windows ") + os + "=1\r\n";
    struct Case {
        std::string setup;
        int answer;
        bool silent, admin;
        std::string os;
        int code;
        std::string shown;
    };
    const Case cases[] = {
        {kSys, 0, false, true, "Windows 7", -1, ""},
        {two, IDYES, false, true, "Windows 8", -1, "M3 7, 8.1"},
        {two, IDNO, false, true, "Windows 8", 5, "M3 7, 8.1"},
        {two, 0, true, true, "Windows 8", 5, ""},
        {"", IDNO, false, true, "Windows 7", 5, "M3 "},
        {all, IDNO, false, true, "Windows Unknow", 5,
         "M3 XP, Vista, 7, 8, 8.1, Server 2003, Server 2008, Server 2008 R2, Server 2012, Server "
         "2012 R2"},
        {kSys, 0, false, false, "Windows 7", 5, "M4"}, // "Admin" absent: required
        {kSys, 0, true, false, "Windows 7", 5, ""},
        {kSys + "Admin=0\r\n", 0, false, false, "Windows 7", -1, ""},
        // There is no network here.
        {net, IDYES, false, true, "Windows 7", -1, "M5"},
        {net, IDNO, false, true, "Windows 7", 5, "M5"},
        {net, 0, true, true, "Windows 7", 5, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.setup, {c.answer}, c.silent, c.admin, c.os), c.code) << c.setup << c.os;
        EXPECT_EQ(prompt_.shown, c.shown) << c.setup << c.os;
    }
    Run("", {IDNO});
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].caption, "Title");
    EXPECT_EQ(prompt_.boxes[0].owner, nullptr);
    EXPECT_EQ(prompt_.boxes[0].type, UINT(MB_YESNO | MB_ICONWARNING));
    // This prefix is 64-bit Windows; the refusal is checked where it is not.
    const bool wow = TOSInfo::IsWow64();
    EXPECT_EQ(Run(kSys + "64-bit=1\r\n"), wow ? -1 : 5);
    EXPECT_EQ(prompt_.shown, wow ? "" : "M2");
}

TEST_F(Requirements, RunningProgram) {
    const std::string setup = kSys + "CloseApp=1\r\nCloseAppFile=<SetupTempDir>\\qvsleeper.exe\r\n"
                                     "CloseAppText=Sleeper\r\n";
    const std::string exe = Copy("qvsleeper.exe");
    StartedProgram sleeper(exe, "", {{"QV_REQ_CHILD", "sleep"}}, DETACHED_PROCESS);
    ASSERT_TRUE(sleeper.Started());
    for (int tries = 0; tries < 50 && !TOSInfo::IsProcessRunning(exe); ++tries)
        Sleep(100);
    EXPECT_EQ(Run(setup, {IDCANCEL}), 5);
    EXPECT_EQ(prompt_.shown, "M6 Sleeper");
    EXPECT_EQ(prompt_.boxes[0].type, UINT(MB_RETRYCANCEL | MB_ICONWARNING));
    EXPECT_EQ(Run(setup, {}, true), 5);
    EXPECT_EQ(prompt_.shown, "");
    // The user closes the program, then answers Retry: the checks go on.
    onBox_ = [&](size_t) { sleeper.Kill(); };
    EXPECT_EQ(Run(setup, {IDRETRY}), -1);
    EXPECT_EQ(prompt_.shown, "M6 Sleeper");
}

TEST_F(Requirements, Products) {
    if (TOSInfo::DotNetLevel(false) >= 11 || TOSInfo::JavaRuntimeVersion(false) != "0.0" ||
        TOSInfo::AcrobatReaderVersion() != "0.0" || TOSInfo::SqlCompactLevel(false) >= 0 ||
        TOSInfo::SqlServerLevel(false) >= 0)
        GTEST_SKIP() << "this prefix has one of the products";
    WriteFileBytes(dir_ / "broken.exe", "not a program");
    struct Case {
        std::string setup;
        int answer;
        bool silent;
        int code;
        std::string shown;
    };
    const Case cases[] = {
        {"dotNET=1\r\ndotNETVersion=9\r\nJava=0\r\n", IDNO, false, 5, "M7 4.5"},
        {"AR=1\r\n", IDNO, true, 5, "M9 5.0"}, // asked in silent mode too
        {"AR=1\r\nARVersion=XI (11.0)\r\n", IDNO, false, 5, "M9 XI (11.0)"},
        {"Java=1\r\nJavaVersion=1.6\r\n", IDNO, false, 5, "M10 1.6"},
        {"SQL=1\r\nSQLVersion=3\r\n", IDNO, false, 5, "M24 4.0"},
        {"SQLE=1\r\nSQLEVersion=20\r\n", IDNO, false, 5, "M26 20"},
        // The products are examined in a fixed order: .NET, IE, Acrobat, Java, SQL
        // Server Compact, SQL Server; the first one missing is offered.
        {"SQLE=1\r\nSQL=1\r\nJava=1\r\nAR=1\r\ndotNET=1\r\ndotNETVersion=11\r\n", IDNO, false, 5,
         "M7 4.5.2"},
        {"SQLE=1\r\nSQL=1\r\nJava=1\r\nAR=1\r\n", IDNO, false, 5, "M9 5.0"},
        {"SQLE=1\r\nSQL=1\r\nJava=1\r\n", IDNO, false, 5, "M10 1.2"},
        {"SQLE=1\r\nSQL=1\r\n", IDNO, false, 5, "M24 3.5"},
        {"SQLE=1\r\n", IDNO, true, 5, "M26 2005"},
        {"Java=0\r\nJavaVersion=9.9\r\nAR=0\r\nSQL=0\r\n", 0, false, -1, ""},
        // Neither a program nor reachable: the notice, and the setup ends.
        {"Java=1\r\nLinkJR=C:\\qv-missing\\jre.exe /s\r\n", IDYES, false, 5, "M10 1.2|M28"},
        // An existing file that cannot be started: no notice.
        {"Java=1\r\nLinkJR=<SetupTempDir>\\broken.exe /s\r\n", IDYES, false, 5, "M10 1.2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(kSys + c.setup, {c.answer}, c.silent), c.code) << c.setup;
        EXPECT_EQ(prompt_.shown, c.shown) << c.setup;
    }
    Run(kSys + "Java=1\r\nLinkJR=C:\\qv-missing\\jre.exe\r\n", {IDYES});
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(prompt_.boxes[1].caption, "Setup - Demo 1.0");
}

// The checks come in a fixed order, each answered Yes lets the next one ask: system,
// rights, connection, custom prerequisites, then the products.
TEST_F(Requirements, Order) {
    if (TOSInfo::JavaRuntimeVersion(false) != "0.0") GTEST_SKIP() << "this prefix has Java";
    const std::string other = "Windows 8.1=1\r\n", net = "Internet=1\r\n";
    const std::string custom =
        "[Prerequisites]\r\nB=B*?l*?*?FOLDER DOESN'T EXIST*?<SetupTempDir>\r\n";
    struct Case {
        std::string setup;
        std::vector<int> answers;
        bool admin;
        std::string shown;
    };
    const Case cases[] = {
        {other + net, {IDYES}, false, "M3 8.1|M4"},
        {other + net + "Java=1\r\n", {IDYES, IDYES, IDNO}, true, "M3 8.1|M5|M10 1.2"},
        {other + net + "Java=1\r\n" + custom, {IDYES, IDYES, IDNO}, true, "M3 8.1|M5|M27 B"},
        {kSys + "Java=1\r\n" + custom, {IDNO}, true, "M27 B"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.setup, c.answers, false, c.admin), 5) << c.setup;
        EXPECT_EQ(prompt_.shown, c.shown) << c.setup;
    }
}

// A link to an installer with two switches runs it and examines the products again.
TEST_F(Requirements, InstallerLink) {
    if (TOSInfo::DotNetLevel(false) >= 11 || TOSInfo::JavaRuntimeVersion(false) != "0.0")
        GTEST_SKIP() << "this prefix has .NET 4.5.2 or Java";
    Copy("setup-product.exe");
    // The installer is a copy of this program, started by the checks with our environment.
    ScopedEnvironment child("QV_REQ_CHILD", "install");
    ScopedEnvironment log("QV_REQ_LOG", dir_ / "installer.log");
    EXPECT_EQ(Run(kSys + "dotNET=1\r\ndotNETVersion=11\r\n"
                         "LinkDN=<SetupTempDir>\\setup-product.exe /q /norestart\r\n",
                  {IDYES, IDNO}),
              5);
    EXPECT_EQ(prompt_.shown, "M7 4.5.2|M7 4.5.2"); // still too low: asked again
    std::string cmd = ReadFileBytes(dir_ / "installer.log");
    EXPECT_EQ(cmd.substr(cmd.size() - 14), " /q /norestart") << cmd;

    ScopedEnvironment java("QV_REQ_JAVA", "1");
    EXPECT_EQ(Run(kSys + "Java=1\r\nJavaVersion=1.8\r\nLinkJR=<SetupTempDir>\\setup-product.exe",
                  {IDYES}),
              -1);
    EXPECT_EQ(prompt_.shown, "M10 1.8");
    TRegistry reg(RegistryFullAccess(false));
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.DeleteKey(kJavaKey);
}

TEST(VersionAtLeast, Table) {
    struct Case {
        const char *installed, *required;
        bool ok;
    };
    const Case cases[] = {
        {"11.0.9600.16428", "8.0", true},
        {"9.11.9600", "10.0", false}, // 9.1 < 10.0
        {"11.0", "XI (11.0)", true},
        {"10.0", "XII (12.0)", false},
        {"10.0", "X (10.0)", true},
        {"", "3.0", false},
        {"0.0", "5.0", false},
        {"1.8", "1.2", true},
        {"2015", "11.0", true},
        {"11", "8.0", true}, // whole numbers keep their digits
        {"9.0", "10", false},
        {"11.0", "abc", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VersionAtLeast(c.installed, c.required), c.ok)
            << c.installed << " " << c.required;
}

} // namespace
