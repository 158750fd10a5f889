// Real setups started with the tokens a user's programs get: the elevated token of
// Wine's user (an administrator), the limited half of it (what User Account Control
// gives a program started without elevation), and a token whose Administrators group
// only denies (a user without administrator rights). Each run is a process of its own
// in a job, so the test sees every process a run starts.
//
// Its setups show windows (questions, boxes), which would take the active window away
// from a window test running beside it, and the window tests check where the focus is.
// qv-test-locks: desktop
#include "FolderSecurity.h"
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "wizard/ControlIds.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A token of this process's user whose Administrators group only denies access.
HANDLE NonAdministratorToken() {
    HANDLE process = nullptr, restricted = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process)) return nullptr;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
    SID_AND_ATTRIBUTES disable{admins, 0};
    CreateRestrictedToken(process, 0, 1, &disable, 0, nullptr, 0, nullptr, &restricted);
    CloseHandle(process);
    return restricted;
}

class ElevatedRun : public ::testing::Test {
  protected:
    ScratchDir work;
    const std::string temp = work / "temp";
    const std::string project = work / "project";
    const std::string setup = work / "setup.exe";
    const std::string dest = work / "dest";
    HANDLE job = nullptr;
    PROCESS_INFORMATION pi{};
    std::string setupPath_; // the program Start runs, when not the setup

    void SetUp() override {
        CreateDirectoryA(temp.c_str(), nullptr);
        job = CreateJobObjectA(nullptr, nullptr);
        ASSERT_TRUE(job);
        // A run left behind by a failed check ends with the test.
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit{};
        limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit);
    }
    void TearDown() override {
        // Helpers a run leaves (the uninstaller's folder removal) end with the test: a
        // Wine process holds on to the test's output, which CTest waits for.
        TerminateJobObject(job, 1);
        if (pi.hProcess) {
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
        CloseHandle(job);
    }

    void Build(const std::string& keys) {
        CreateDirectoryA(project.c_str(), nullptr);
        CreateDirectoryA((project + "\\payload").c_str(), nullptr);
        WriteFileBytes(project + "\\payload\\a.txt", "alpha");
        WriteMinimalProject(project, keys +
                                         "\r\n[Payload]\r\n"
                                         "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
        ASSERT_TRUE(BuildTestSetup(project, setup));
    }

    // Starts the setup with the token (this process's own when null), in the job.
    void Start(const std::string& args, HANDLE token) {
        const std::string program = setupPath_.empty() ? setup : setupPath_;
        std::string cmd = "\"" + program + "\" " + args;
        std::string env;
        char* all = GetEnvironmentStringsA();
        for (const char* p = all; *p; p += std::strlen(p) + 1)
            if (_strnicmp(p, "TEMP=", 5) != 0 && _strnicmp(p, "TMP=", 4) != 0)
                env.append(p).push_back('\0');
        FreeEnvironmentStringsA(all);
        for (const std::string& v : {"TEMP=" + temp, "TMP=" + temp})
            env.append(v).push_back('\0');
        env.push_back('\0');
        STARTUPINFOA si{};
        si.cb = sizeof si;
        const DWORD flags = CREATE_SUSPENDED;
        const BOOL ok =
            token ? CreateProcessAsUserA(token, program.c_str(), cmd.data(), nullptr, nullptr,
                                         FALSE, flags, env.data(), nullptr, &si, &pi)
                  : CreateProcessA(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, flags,
                                   env.data(), nullptr, &si, &pi);
        ASSERT_TRUE(ok) << GetLastError();
        ASSERT_TRUE(AssignProcessToJobObject(job, pi.hProcess));
        ResumeThread(pi.hThread);
    }

    DWORD ExitCode(DWORD timeoutMs = 60000) const {
        DWORD code = 0xDEADu;
        if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }

    // Processes the run has had in the job, once all of them ended (or 10 s passed).
    DWORD ProcessesOfTheRun() const {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
        for (int i = 0; i < 1000; ++i, Sleep(10)) {
            QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info,
                                      nullptr);
            if (info.ActiveProcesses == 0) break;
        }
        return info.TotalProcesses;
    }

    // The file names of the processes the job had while the started process ran, each
    // process once (polled: every run of interest lives for far longer than a poll).
    std::vector<std::string> ImagesUntilExit() const {
        std::vector<std::pair<DWORD, std::string>> seen;
        for (int i = 0; i < 6000; ++i) {
            const bool ended = WaitForSingleObject(pi.hProcess, 5) == WAIT_OBJECT_0;
            struct {
                JOBOBJECT_BASIC_PROCESS_ID_LIST list;
                ULONG_PTR more[63];
            } ids{};
            ids.list.NumberOfAssignedProcesses = 64;
            if (QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids,
                                          nullptr)) {
                for (DWORD k = 0; k < ids.list.NumberOfProcessIdsInList; ++k) {
                    const DWORD id = static_cast<DWORD>(ids.list.ProcessIdList[k]);
                    bool known = false;
                    for (const auto& s : seen)
                        known |= s.first == id;
                    if (known) continue;
                    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
                    char path[MAX_PATH] = {};
                    DWORD n = sizeof path;
                    if (h && QueryFullProcessImageNameA(h, 0, path, &n))
                        seen.emplace_back(
                            id, std::string(path).substr(std::string(path).find_last_of('\\') + 1));
                    if (h) CloseHandle(h);
                }
            }
            if (ended) break;
        }
        std::vector<std::string> images;
        for (const auto& s : seen)
            images.push_back(s.second);
        return images;
    }

    // Waits for the Welcome page, reads the setup temp folder, then installs.
    std::string WelcomeThenInstall(SecuritySummary& seen) {
        HWND form = nullptr;
        for (int i = 0; i < 3000 && !form; ++i, Sleep(10))
            form = FindProcessWindow(pi.dwProcessId, kFormClassName);
        if (!form) {
            ADD_FAILURE() << "no wizard window";
            return {};
        }
        const std::vector<std::string> folders = ListFolders(temp, "QVTMP");
        if (folders.size() != 1) {
            ADD_FAILURE() << folders.size() << " setup temp folders";
            return {};
        }
        const std::string folder = temp + "\\" + folders[0];
        seen = ReadSecurity(folder);
        EXPECT_TRUE(PathExists(folder + "\\qvsetup.ini"));
        PostMessageA(GetDlgItem(form, kIdBtnNext), BM_CLICK, 0, 0);
        return folder;
    }
};

TEST_F(ElevatedRun, AnElevatedSetupUnpacksIntoAPrivateFolder) {
    Build("DialogWelcome=1\r\n");
    Start("/D \"" + dest + "\"", nullptr);
    SecuritySummary seen;
    const std::string folder = WelcomeThenInstall(seen);
    ASSERT_FALSE(folder.empty());
    ExpectPrivateFolder(folder, work.Path());
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
    // The private folder does not keep the run from removing it.
    EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
}

TEST_F(ElevatedRun, ASetupWithoutElevationKeepsTheDefaultSecurity) {
    HANDLE limited = LimitedToken(TokenPrimary);
    if (!limited) GTEST_SKIP() << "this process does not run with an elevated split token";
    Build("DialogWelcome=1\r\n");
    Start("/D \"" + dest + "\"", limited);
    CloseHandle(limited);
    SecuritySummary seen;
    const std::string folder = WelcomeThenInstall(seen);
    ASSERT_FALSE(folder.empty());
    const std::string plain = work / "default";
    CreateDirectoryA(plain.c_str(), nullptr);
    EXPECT_EQ(seen, ReadSecurity(plain)) << Describe(seen);
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
}

// Under Wine the shell's "runas" starts the program with the caller's own token and
// environment, as Windows does with User Account Control switched off: the new run
// still lacks the rights. It must not ask again (which would start runs without end);
// it refuses, and the first run ends with its code.
TEST_F(ElevatedRun, ARequestThatGivesNoRightsEndsAfterOneMoreRun) {
    HANDLE user = NonAdministratorToken();
    ASSERT_TRUE(user);
    Build("Admin=1\r\nRequestElevation=1\r\n");
    Start("/S /D \"" + dest + "\"", user);
    EXPECT_EQ(ExitCode(), 5u);
    EXPECT_EQ(ProcessesOfTheRun(), 2u);
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
    EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
    CloseHandle(user);
}

// The uninstaller of such a setup asks the same way: its record carries the request.
TEST_F(ElevatedRun, TheUninstallerAsksOnceAsTheSetupDid) {
    CreateDirectoryA(project.c_str(), nullptr);
    CreateDirectoryA((project + "\\setup").c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileA(QV_UNINSTALLER_PATH, (project + "\\setup\\QVUninstall.exe").c_str(), FALSE));
    Build("Admin=1\r\nRequestElevation=1\r\nUninstall=1\r\n");
    Start("/S /D \"" + dest + "\"", nullptr);
    ASSERT_EQ(ExitCode(), 0u);
    const std::string record = dest + "\\Uninstall.ini";
    char value[8] = {};
    GetPrivateProfileStringA("General", "RequestElevation", "", value, sizeof value,
                             record.c_str());
    EXPECT_STREQ(value, "1");

    // Removal by a user without the rights, first with the request taken out of the
    // record, then with it: the request adds exactly one run of the uninstaller the user
    // started (which does not ask again), and both end refused. (The copy in the
    // temporary folder and the helpers that remove its folder run in either case.)
    HANDLE user = NonAdministratorToken();
    ASSERT_TRUE(user);
    setupPath_ = dest + "\\Uninstall.exe";
    int originals[2] = {};
    for (int asks = 0; asks < 2; ++asks) {
        WritePrivateProfileStringA("General", "RequestElevation", asks ? "1" : "0", record.c_str());
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        pi = {};
        Start("/S", user);
        for (const std::string& image : ImagesUntilExit())
            originals[asks] += _stricmp(image.c_str(), "Uninstall.exe") == 0;
        EXPECT_EQ(ExitCode(), 5u) << "asks " << asks;
    }
    CloseHandle(user);
    EXPECT_EQ(originals[0], 1);
    EXPECT_EQ(originals[1], 2);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
}

TEST_F(ElevatedRun, WithoutTheKeyANonAdministratorIsRefusedAtOnce) {
    HANDLE user = NonAdministratorToken();
    ASSERT_TRUE(user);
    Build("Admin=1\r\n");
    Start("/S /D \"" + dest + "\"", user);
    EXPECT_EQ(ExitCode(), 5u);
    EXPECT_EQ(ProcessesOfTheRun(), 1u);
    EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
    CloseHandle(user);
}

} // namespace
