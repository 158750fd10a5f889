// The uninstaller's reading of Uninstall.ini and its order of steps, run in-process:
// the questions and their texts, the administrator check, the running program, the
// commands, the closing messages and the exit codes.
#include "TestContext.h"
#include "TestSupport.h"
#include "UninstallRunner.h"
#include "uninstall/UninstallRecordFile.h"
#include "uninstall/UninstallRun.h"
#include "uninstall/UninstallStart.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

TEST(UninstallRecordFile, EverySectionIsRead) {
    ScratchDir dir;
    const std::string path = dir / "Uninstall.ini";
    WriteFileBytes(path,
                   "[Messages]\r\n0=Remove Tool\r\n1=Remove it?<#>Really?\r\n2=\r\n"
                   "[Updater]\r\n0=ignored\r\n"
                   "[General]\r\nAppName=Tool\r\nAppVersion=2.1\r\nGUID={G}\r\nAdmin=1\r\nx64=1\r\n"
                   "MainExecutable=C:\\Tool\\tool.exe\r\nInstallDir=C:\\Tool\r\n"
                   "ProgramGroupDir=C:\\Menu\\Tool\r\nUninstallURL=https://tool.invalid/bye\r\n"
                   "UninstallForce=1\r\nUninstallRestart=1\r\nSilentMode=0\r\n"
                   "[Files]\r\n0=C:\\Tool\\a\r\n1=C:\\Tool\\b\r\n[Folders]\r\n0=C:\\Tool\r\n"
                   "[RegistryKeys]\r\n0=6HKEY_LOCAL_MACHINE\\SOFTWARE\\Tool\r\n"
                   "[RegistryValues]\r\n0=DHKEY_CURRENT_USER\\Software\\X*?V\r\n"
                   "[INIValues]\r\n0=C:\\x.ini*?S*?K\r\n[Environment]\r\n0=DTOOL_HOME\r\n"
                   "[Fonts]\r\n0=C:\\Tool\\f.ttf\r\n[ActiveX]\r\n0=C:\\Tool\\x.ocx\r\n"
                   "[TypeLibrary]\r\n0=C:\\Tool\\t.tlb\r\n[ScreenSaver]\r\n0=C:\\Tool\\s.scr\r\n"
                   "[Wallpaper]\r\n0=C:\\Tool\\w.bmp\r\n"
                   "[ExecBeforeUninstall]\r\n0=C:\\Tool\\stop.exe*?/quiet*?HIDE*?YES*?NO\r\n"
                   "[ExecAfterUninstall]\r\n0=https://tool.invalid/*?*?MAXIMIZE*?NO*?YES\r\n"
                   "1=C:\\x.exe*?*?MINIMIZE*?YES\r\n2=*?p*?HIDE*?YES*?NO\r\n");
    UninstallRecordData r;
    ASSERT_EQ(ReadUninstallRecordFile(path, r), RecordProblem::None);
    EXPECT_EQ(r.AppName + "|" + r.AppVersion + "|" + r.GUID + "|" + r.MainExecutable + "|" +
                  r.InstallDir + "|" + r.ProgramGroupDir + "|" + r.UninstallURL,
              "Tool|2.1|{G}|C:\\Tool\\tool.exe|C:\\Tool|C:\\Menu\\Tool|https://tool.invalid/bye");
    EXPECT_TRUE(r.Admin && r.X64 && r.UninstallForce && r.UninstallRestart);
    EXPECT_FALSE(r.SilentMode);
    EXPECT_EQ(r.Messages[kMsgTitle], "Remove Tool");
    EXPECT_EQ(r.Messages[kMsgQuestion], "Remove it?\r\nReally?");
    // Empty or missing texts: the English ones, naming the product.
    EXPECT_EQ(r.Messages[kMsgSuccess], "Tool was successfully removed from your computer.");
    EXPECT_EQ(r.Messages[kMsgCloseProgram],
              "Please close Tool before continuing.\r\n\r\nClick Retry to continue, or Cancel to "
              "exit.");
    EXPECT_EQ(r.Messages[kMsgAdministrator],
              "Uninstalling Tool requires Administrator Privileges.");
    EXPECT_EQ(r.Items.Files.size(), 2u);
    EXPECT_EQ(r.Items.RegistryKeys[0].View, '6');
    EXPECT_EQ(r.Items.RegistryValues[0].Name, "V");
    EXPECT_EQ(r.Items.IniValues[0].Key, "K");
    EXPECT_EQ(r.Items.Environment[0].Name, "TOOL_HOME");
    EXPECT_EQ(r.Items.Fonts.size() + r.Items.ActiveX.size() + r.Items.TypeLibraries.size() +
                  r.Items.ScreenSavers.size() + r.Items.Wallpapers.size(),
              5u);
    ASSERT_EQ(r.ExecBefore.size(), 1u);
    const UninstallCommand& c = r.ExecBefore[0];
    EXPECT_TRUE(c.Valid && c.Wait && !c.Elevate);
    EXPECT_EQ(c.Program + "|" + c.Parameters, "C:\\Tool\\stop.exe|/quiet");
    EXPECT_EQ(c.Show, SW_HIDE);
    ASSERT_EQ(r.ExecAfter.size(), 3u);
    EXPECT_TRUE(r.ExecAfter[0].Valid && r.ExecAfter[0].Elevate && !r.ExecAfter[0].Wait);
    EXPECT_EQ(r.ExecAfter[0].Show, SW_SHOWMAXIMIZED);
    EXPECT_TRUE(r.ExecAfter[1].Valid && !r.ExecAfter[1].Elevate); // the empty last field lost
    EXPECT_EQ(r.ExecAfter[1].Show, SW_SHOWMINIMIZED);
    EXPECT_FALSE(r.ExecAfter[2].Valid); // no program
}

TEST(UninstallRecordFile, AMissingOrForeignFileIsNoRecord) {
    ScratchDir dir;
    UninstallRecordData r;
    EXPECT_EQ(ReadUninstallRecordFile(dir / "Uninstall.ini", r), RecordProblem::Missing);
    EXPECT_EQ(ReadUninstallRecordFile(dir / "nowhere\\Uninstall.ini", r), RecordProblem::Missing);
    CreateDirectoryA((dir / "folder.ini").c_str(), nullptr);
    EXPECT_EQ(ReadUninstallRecordFile(dir / "folder.ini", r), RecordProblem::Unreadable);
    WriteFileBytes(dir / "Uninstall.ini", std::string("\x00\x01\xff garbage", 11));
    EXPECT_EQ(ReadUninstallRecordFile(dir / "Uninstall.ini", r), RecordProblem::Unreadable);
    WriteFileBytes(dir / "Uninstall.ini", "[General]\r\nAppName=X\r\n[Files]\r\n0=C:\\x\r\n");
    EXPECT_EQ(ReadUninstallRecordFile(dir / "Uninstall.ini", r), RecordProblem::Unreadable);
    EXPECT_TRUE(r.Items.Files.empty());
    // Held open by another program without sharing: cannot be read.
    WriteFileBytes(dir / "Uninstall.ini", "[General]\r\nInstallDir=C:\\x\r\n");
    HANDLE h = CreateFileA((dir / "Uninstall.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    EXPECT_EQ(ReadUninstallRecordFile(dir / "Uninstall.ini", r), RecordProblem::Unreadable);
    CloseHandle(h);
    EXPECT_EQ(ReadUninstallRecordFile(dir / "Uninstall.ini", r), RecordProblem::None);
    // Far larger than any installation writes: not read at all.
    h = CreateFileA((dir / "Uninstall.ini").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    LARGE_INTEGER end;
    end.QuadPart = (64 << 20) + 1;
    ASSERT_TRUE(SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h));
    CloseHandle(h);
    EXPECT_EQ(ReadUninstallRecordFile(dir / "Uninstall.ini", r), RecordProblem::Unreadable);
}

TEST(UninstallArgs, SwitchesAndTheCopysHandles) {
    UninstallArgs a = ParseUninstallArgs(
        {"/s", "/L", "/FROM", "C:\\P F\\Uninstall.exe", "/WAITFOR", "124", "/REPORT", "88"});
    EXPECT_TRUE(a.Silent && a.Logging);
    EXPECT_EQ(a.From, "C:\\P F\\Uninstall.exe");
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a.WaitFor), 124u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a.Report), 88u);
    a = ParseUninstallArgs({"/Sx", "/FROM"});
    EXPECT_FALSE(a.Silent);
    EXPECT_EQ(a.From, "");
}

// A product installed in a scratch folder, its record written as an installation
// would, removed in-process.
class UninstallRunTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    ScratchDir temp;
    std::string product = dir / "Product";
    std::string record = product + "\\Uninstall.ini";
    ScriptedPrompt prompt;
    bool admin = true;
    bool running = false;
    int runningChecks = 0;

    void SetUp() override {
        // Boxes beyond a case's script (the closing messages) are answered OK.
        prompt.otherwise = IDOK;
        CreateDirectoryA(product.c_str(), nullptr);
        WriteFileBytes(product + "\\app.txt", "app");
        WriteFileBytes(product + "\\Uninstall.exe", "uninstaller");
    }
    void WriteRecord(const std::string& general, const std::string& more = "") {
        WriteFileBytes(record, "[Messages]\r\n0=Remove Product\r\n1=Remove Product now?\r\n"
                               "2=Product is gone.\r\n3=Visit the page?\r\n4=Close Product!\r\n"
                               "5=Restart now?\r\n6=Administrators only.\r\n"
                               "[General]\r\nAppName=Product\r\nInstallDir=" +
                                   product + "\r\n" + general + "\r\n[Files]\r\n0=" + product +
                                   "\\app.txt\r\n1=" + product + "\\Uninstall.exe\r\n2=" + record +
                                   "\r\n[Folders]\r\n0=" + product + "\r\n" + more);
    }
    UninstallSettings Settings(bool silent) {
        UninstallSettings s;
        s.Silent = silent;
        s.Logging = true;
        s.RecordPath = record;
        s.OwnFiles = {product + "\\Uninstall.exe", record};
        s.Prompt = &prompt;
        s.IsAdmin = [this] { return admin; };
        s.IsRunning = [this](const std::string&) {
            ++runningChecks;
            return running;
        };
        s.RunningWaitMs = 1000;
        return s;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const Box& b : prompt.boxes)
            out.push_back(b.text);
        return out;
    }
};

TEST_F(UninstallRunTest, TheWizardAsksWithTheRecordsTextsAndRemoves) {
    WriteRecord("");
    prompt.answers = {IDYES};
    TUninstallRun run(Settings(false));
    EXPECT_EQ(run.Run(), kUninstallRemoved);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Remove Product now?", "Product is gone."}));
    EXPECT_EQ(prompt.boxes[0].caption, "Remove Product");
    EXPECT_EQ(prompt.boxes[0].type & 0xF, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(prompt.boxes[1].type & 0xF0, static_cast<UINT>(MB_ICONINFORMATION));
    // The own files and the folder wait for Finish.
    EXPECT_FALSE(PathExists(product + "\\app.txt"));
    EXPECT_TRUE(PathExists(product + "\\Uninstall.exe"));
    EXPECT_EQ(run.Finish(), kUninstallRemoved);
    EXPECT_FALSE(PathExists(product));
    EXPECT_FALSE(run.RestartWanted());
}

TEST_F(UninstallRunTest, NoMeansNothingIsRemoved) {
    WriteRecord("");
    prompt.answers = {IDNO};
    TUninstallRun run(Settings(false));
    EXPECT_EQ(run.Run(), kUninstallDeclined);
    EXPECT_EQ(run.Finish(), kUninstallDeclined);
    EXPECT_EQ(prompt.boxes.size(), 1u);
    EXPECT_TRUE(PathExists(product + "\\app.txt"));
    EXPECT_TRUE(PathExists(record));
}

TEST_F(UninstallRunTest, SilentOrSilentModeAsksNothing) {
    WriteRecord("SilentMode=1");
    TUninstallRun run(Settings(false));
    EXPECT_EQ(run.Run(), kUninstallRemoved);
    EXPECT_EQ(run.Finish(), kUninstallRemoved);
    EXPECT_TRUE(prompt.boxes.empty());
    EXPECT_FALSE(PathExists(product));
}

TEST_F(UninstallRunTest, AdministratorRightsMissingStopAfterTheQuestion) {
    WriteRecord("Admin=1");
    admin = false;
    prompt.answers = {IDYES};
    TUninstallRun run(Settings(false));
    EXPECT_EQ(run.Run(), kUninstallNotAdmin);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Remove Product now?", "Administrators only."}));
    prompt.boxes.clear();
    TUninstallRun silent(Settings(true));
    EXPECT_EQ(silent.Run(), kUninstallNotAdmin);
    EXPECT_TRUE(prompt.boxes.empty());
    EXPECT_TRUE(PathExists(product + "\\app.txt"));
    // An administrator removes it.
    admin = true;
    TUninstallRun allowed(Settings(true));
    EXPECT_EQ(allowed.Run(), kUninstallRemoved);
}

TEST_F(UninstallRunTest, TheRunningProgramIsWaitedForOrCancelled) {
    WriteRecord("MainExecutable=" + product + "\\app.exe");
    running = true;
    prompt.answers = {IDYES, IDRETRY, IDCANCEL};
    TUninstallRun cancelled(Settings(false));
    EXPECT_EQ(cancelled.Run(), kUninstallDeclined);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Remove Product now?", "Close Product!",
                                                 "Close Product!"}));
    EXPECT_EQ(prompt.boxes[1].type & 0xF, static_cast<UINT>(MB_RETRYCANCEL));
    EXPECT_TRUE(PathExists(product + "\\app.txt"));

    // Silent: it waits its while, then goes on.
    prompt.boxes.clear();
    runningChecks = 0;
    const DWORD start = GetTickCount();
    TUninstallRun silent(Settings(true));
    EXPECT_EQ(silent.Run(), kUninstallRemoved);
    EXPECT_GE(GetTickCount() - start, 900u);
    EXPECT_GE(runningChecks, 2);
    EXPECT_TRUE(prompt.boxes.empty());
    bool noted = false;
    for (const std::string& line : silent.LogLines())
        noted = noted || line.find("Still running") != std::string::npos;
    EXPECT_TRUE(noted);
}

TEST_F(UninstallRunTest, LeftoversAreListedAndGiveExitCodeTwo) {
    WriteRecord("", "[RegistryKeys]\r\n0=DHKEY_LOCAL_MACHINE\\SOFTWARE\r\n");
    WriteFileBytes(product + "\\user.txt", "the user's own");
    prompt.answers = {IDYES};
    TUninstallRun run(Settings(false));
    EXPECT_EQ(run.Run(), kUninstallLeftovers);
    ASSERT_EQ(prompt.boxes.size(), 2u);
    EXPECT_EQ(prompt.boxes[1].text, "Some items could not be removed:\r\n\r\n"
                                    "DHKEY_LOCAL_MACHINE\\SOFTWARE\r\n" +
                                        product + "\r\n");
    EXPECT_EQ(prompt.boxes[1].type & 0xF0, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(run.Finish(), kUninstallLeftovers);
    EXPECT_TRUE(PathExists(product + "\\user.txt"));
}

TEST_F(UninstallRunTest, AFileInUseIsAskedAboutUnlessForced) {
    WriteRecord("UninstallRestart=1");
    HANDLE held = CreateFileA((product + "\\app.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    // Retry (still held), then Ignore: at the restart; the restart question follows.
    prompt.answers = {IDYES, IDRETRY, IDIGNORE, IDOK, IDNO};
    TUninstallRun run(Settings(false));
    EXPECT_EQ(run.Run(), kUninstallLeftovers);
    const std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[1], "This file is in use:\r\n" + product +
                            "\\app.txt\r\n\r\nClose the program that uses it and click Retry, "
                            "click Ignore to remove the file when the computer restarts, or Abort "
                            "to leave it.");
    EXPECT_EQ(prompt.boxes[1].type & 0xF, static_cast<UINT>(MB_ABORTRETRYIGNORE));
    EXPECT_EQ(texts[2], texts[1]);
    EXPECT_EQ(texts[3], "Product is gone."); // it goes at the restart
    EXPECT_EQ(texts[4], "Restart now?");
    EXPECT_FALSE(run.RestartWanted());
    run.Finish();
    CloseHandle(held);
    PendingRestartDeletes(dir.Path(), true);
}

TEST_F(UninstallRunTest, ForcedRemovalSchedulesWithoutAskingAndOffersTheRestart) {
    WriteRecord("UninstallForce=1\r\nUninstallRestart=1");
    HANDLE held = CreateFileA((product + "\\app.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    prompt.answers = {IDYES, IDOK, IDYES};
    TUninstallRun run(Settings(false));
    EXPECT_EQ(run.Run(), kUninstallLeftovers);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Remove Product now?", "Product is gone.",
                                                 "Restart now?"}));
    EXPECT_TRUE(run.RestartWanted());
    run.Finish();
    CloseHandle(held);
    EXPECT_EQ(PendingRestartDeletes(dir.Path(), true).size(), 2u); // the file and its folder
}

TEST_F(UninstallRunTest, TheWebPageIsOfferedWhenTheRecordNamesOne) {
    WriteRecord("UninstallURL=qv-no-such-scheme:page");
    prompt.answers = {IDYES, IDOK, IDNO};
    TUninstallRun run(Settings(false));
    EXPECT_EQ(run.Run(), kUninstallRemoved);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Remove Product now?", "Product is gone.",
                                                 "Visit the page?"}));
}

TEST_F(UninstallRunTest, CommandsRunBeforeAndAfterAndTheLogIsWritten) {
    const std::string marker = dir / "marker.txt";
    WriteRecord("", "[ExecBeforeUninstall]\r\n0=" + std::string("C:\\windows\\system32\\cmd.exe") +
                        "*?/c if exist \"" + product + "\\app.txt\" echo before>> \"" + marker +
                        "\"*?HIDE*?YES*?NO\r\n[ExecAfterUninstall]\r\n0=C:\\windows\\system32\\"
                        "cmd.exe*?/c if not exist \"" +
                        product + "\\app.txt\" echo after>> \"" + marker +
                        "\"*?HIDE*?YES*?NO\r\n1=*?broken\r\n");
    TempEnvironment env(temp.Path());
    TUninstallRun run(Settings(true));
    EXPECT_EQ(run.Run(), kUninstallRemoved);
    EXPECT_EQ(run.Finish(), kUninstallRemoved);
    run.SaveLog();
    EXPECT_EQ(ReadFileBytes(marker), "before\r\nafter\r\n");
    const std::string log = ReadFileBytes(temp / "QVUNINSTALLLOG.TXT");
    EXPECT_NE(log.find("Files: " + product + "\\app.txt: done (deleted)"), std::string::npos)
        << log;
    EXPECT_NE(log.find("After: *?broken: REFUSED"), std::string::npos) << log;
    EXPECT_NE(log.find("Folders: " + product + ": done"), std::string::npos) << log;
    EXPECT_NE(log.find("Exit code 0"), std::string::npos) << log;
}

// The record says which environment the installation wrote; the uninstaller's own
// rights do not decide it (a per-user installation removed with "Run as
// administrator", or the other way round). A record without the key is older: the
// rights of the removal decide, as before.
TEST_F(UninstallRunTest, TheEnvironmentIsTheOneTheRecordNames) {
    const std::string name = "QVUR_" + std::to_string(GetTickCount());
    const char* systemKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    auto set = [&](HKEY root, const char* key) {
        HKEY k;
        ASSERT_EQ(RegOpenKeyExA(root, key, 0, KEY_SET_VALUE, &k), ERROR_SUCCESS);
        RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
        RegCloseKey(k);
    };
    auto present = [&](HKEY root, const char* key) {
        return RegGetValueA(root, key, name.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    };
    const struct {
        const char* general;
        bool userGone, systemGone;
    } cases[] = {{"SystemEnvironment=0", true, false},
                 {"SystemEnvironment=1", false, true},
                 {"", false, true}}; // older record, removed by an administrator
    for (const auto& c : cases) {
        set(HKEY_CURRENT_USER, "Environment");
        set(HKEY_LOCAL_MACHINE, systemKey);
        CreateDirectoryA(product.c_str(), nullptr);
        WriteRecord(c.general, "[Environment]\r\n0=D" + name + "\r\n");
        admin = true;
        TUninstallRun run(Settings(true));
        EXPECT_EQ(run.Run(), kUninstallRemoved) << c.general;
        EXPECT_EQ(!present(HKEY_CURRENT_USER, "Environment"), c.userGone) << c.general;
        EXPECT_EQ(!present(HKEY_LOCAL_MACHINE, systemKey), c.systemGone) << c.general;
        run.Finish();
    }
    HKEY k;
    for (auto [root, key] : {std::pair<HKEY, const char*>{HKEY_CURRENT_USER, "Environment"},
                             {HKEY_LOCAL_MACHINE, systemKey}})
        if (RegOpenKeyExA(root, key, 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
            RegDeleteValueA(k, name.c_str());
            RegCloseKey(k);
        }
}

} // namespace
