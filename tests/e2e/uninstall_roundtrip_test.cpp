// Install, then remove with "Uninstall.exe /S": a setup that uses every kind of item
// leaves the machine as it found it. The file tree of the drive and the registry (HKLM
// and HKCU, both views) are compared before the installation and after the removal;
// only the differences of the short list below are allowed.
//
// Compares the whole machine (the drive's files, the registry) before the installation
// and after the removal: nothing else may change it meanwhile.
// qv-test-locks: serial
#include "MachineSnapshot.h"
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "UninstallRunner.h"
#include "sysinfo/SystemInfo.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

const char kWineOverrides[] = "Software\\Wine\\DllOverrides";
const char kMenuBuilder[] = "winemenubuilder.exe";
const char kSystemEnvironment[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

std::string ShellFolder(int csidl) {
    char buf[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf);
    return buf;
}

bool KeyExists(HKEY root, REGSAM view, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

std::string RegText(HKEY root, const std::string& key, const std::string& name) {
    char buf[1024] = {};
    DWORD size = sizeof buf;
    if (RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buf, &size) !=
        ERROR_SUCCESS)
        return "<none>";
    return buf;
}

void SetRegText(HKEY root, const std::string& key, const std::string& name,
                const std::string& value) {
    HKEY k;
    ASSERT_EQ(
        RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
        ERROR_SUCCESS);
    RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(k);
}

// A font file to install: one of the prefix's, else one of the host's.
std::string FontToInstall() {
    for (const std::string& dir : {ShellFolder(CSIDL_FONTS) + "\\",
                                   std::string("Z:\\usr\\share\\fonts\\truetype\\dejavu\\")}) {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((dir + "*.ttf").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) continue;
        FindClose(h);
        return dir + fd.cFileName;
    }
    return {};
}

void WriteTypeLibrary(const std::string& path) {
    ICreateTypeLib2* lib = nullptr;
    ASSERT_EQ(CreateTypeLib2(SYS_WIN32, std::wstring(path.begin(), path.end()).c_str(), &lib),
              S_OK);
    GUID guid;
    CoCreateGuid(&guid);
    lib->SetGuid(guid);
    lib->SetVersion(1, 0);
    lib->SetName(const_cast<LPOLESTR>(L"QVRoundTrip"));
    ASSERT_EQ(lib->SaveAllChanges(), S_OK);
    lib->Release();
}

class UninstallRoundTrip : public SetupFixture {
  protected:
    std::string dest = work / "Product Folder";
    std::string guid = NewGuid();
    std::string tag = guid.substr(1, 8);
    std::string appName = "QV RoundTrip " + tag;
    std::string existingIni = work / "existing.ini";
    std::string existingKey = "Software\\QV RoundTrip Existing " + tag;
    bool admin = TOSInfo::IsAdmin();
    HKEY envRoot = admin ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    std::string envKey = admin ? kSystemEnvironment : "Environment";
    std::string var = "QVRT_" + tag + "_";
    bool menuBuilderWasOn = false;

    void SetUp() override {
        SetupFixture::SetUp();
        // Wine copies every shortcut into the host's menus (files outside the prefix, and
        // their list in HKCU\Software\Wine\MenuFiles); Windows has no such thing. Its
        // helper is switched off for the test (the environment's overrides are not
        // handed on to the programs a test starts, the prefix's are).
        HKEY k;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kWineOverrides, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k, nullptr) == ERROR_SUCCESS) {
            menuBuilderWasOn = RegQueryValueExA(k, kMenuBuilder, nullptr, nullptr, nullptr,
                                                nullptr) != ERROR_SUCCESS;
            RegSetValueExA(k, kMenuBuilder, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
            RegCloseKey(k);
        }
        // What the installation finds in place and must leave as it was.
        WriteFileBytes(existingIni, "[Keep]\r\nOld=1\r\n");
        SetRegText(HKEY_CURRENT_USER, existingKey, "Old", "1");
        SetRegText(envRoot, envKey, var + "OVER", "old value");
        SetRegText(envRoot, envKey, var + "APP", "a;b");
        SetRegText(envRoot, envKey, var + "PRE", "x");
    }
    void TearDown() override {
        if (menuBuilderWasOn) RegDeleteKeyValueA(HKEY_CURRENT_USER, kWineOverrides, kMenuBuilder);
        RegDeleteKeyA(HKEY_CURRENT_USER, existingKey.c_str());
        HKEY k;
        if (RegOpenKeyExA(envRoot, envKey.c_str(), 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
            for (const char* v : {"OVER", "APP", "PRE", "NEW"})
                RegDeleteValueA(k, (var + v).c_str());
            RegCloseKey(k);
        }
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
                RegDeleteKeyExA(root, (kUninstallKey + guid).c_str(), view, 0);
    }

    // Builds the setup: payload in nested folders, shortcuts in the program group and
    // on the desktop, registry keys and values in both views, INI values in a new and
    // an existing file, environment variables created, overwritten, appended and
    // prepended, a file association, a font, a self-registering library, a type
    // library, and commands before and after the removal.
    void BuildProject(bool perUser) {
        const std::string payload = project + "\\payload";
        const std::string marker = work / "marker";
        CreateDirectoryA(project.c_str(), nullptr);
        CreateDirectoryA(payload.c_str(), nullptr);
        CreateDirectoryA((payload + "\\docs").c_str(), nullptr);
        CreateDirectoryA((payload + "\\docs\\deep").c_str(), nullptr);
        WriteFileBytes(payload + "\\app.exe", "not really a program");
        WriteFileBytes(payload + "\\docs\\a.txt", "a");
        WriteFileBytes(payload + "\\docs\\deep\\b.txt", RandomBytes(70000, 7));
        ASSERT_TRUE(CopyFileA(QV_SELFREG_DLL_PATH, (payload + "\\qv_selfreg.dll").c_str(), FALSE));
        WriteTypeLibrary(payload + "\\qvtest.tlb");
        const std::string font = FontToInstall();
        ASSERT_FALSE(font.empty()) << "no .ttf font to install";
        ASSERT_TRUE(CopyFileA(font.c_str(), (payload + "\\qvfont.ttf").c_str(), FALSE));

        const std::string cmd = "<SystemDir>\\cmd.exe";
        const std::string hkcu = "HKCU\\Software\\QV RoundTrip " + tag;
        const std::string hklm = "HKLM\\Software\\QV RoundTrip " + tag;
        WriteMinimalProject(
            project,
            "AppName=" + appName + "\r\nGUID=" + guid +
                "\r\nUninstall=1\r\nShowAddRemove=1\r\nInstallLevel=" + (perUser ? "0" : "1") +
                "\r\nProgramGroup=" + appName +
                "\r\nMainExecutable=<InstallDir>\\app.exe\r\n"
                "[Payload]\r\n"
                "0=payload\\app.exe?<InstallDir>\\app.exe?OVERWRITE?Yes\r\n"
                "1=payload\\docs?<InstallDir>\\docs?OVERWRITE?Yes\r\n"
                "2=payload\\qv_selfreg.dll?<InstallDir>\\bin\\qv_selfreg.dll?OVERWRITE?Yes\r\n"
                "3=payload\\qvtest.tlb?<InstallDir>\\bin\\qvtest.tlb?OVERWRITE?Yes\r\n"
                "4=payload\\qvfont.ttf?<InstallDir>\\fonts\\qvfont.ttf?OVERWRITE?Yes\r\n"
                "[Shortcuts]\r\n"
                "0=<ProgramGroup>\\App.lnk*?<InstallDir>\\app.exe*?The app*?*?*?*?0*?NORMAL\r\n"
                "1=<Desktop>\\" +
                appName +
                ".lnk*?<InstallDir>\\app.exe*?The app*?*?*?*?0*?NORMAL\r\n"
                "[Registry]\r\n"
                "0=" +
                hklm +
                "\\Deep\\Er*?Name*?REG_SZ*?thirty-two*?Yes*?Yes*?32-BIT\r\n"
                "1=" +
                hklm +
                "\\Wide*?Name*?REG_SZ*?sixty-four*?Yes*?Yes*?64-BIT\r\n"
                "2=" +
                hkcu +
                "*?Count*?REG_DWORD*?5*?Yes*?Yes*?Default\r\n"
                "3=HKCU\\" +
                existingKey +
                "*?New*?REG_SZ*?added*?Yes*?Yes*?Default\r\n"
                "[INI]\r\n"
                "0=<AppData>\\" +
                appName +
                ".ini*?Main*?Key*?1*?Yes*?Yes\r\n"
                "1=" +
                existingIni +
                "*?Added*?Key*?v*?Yes*?Yes\r\n"
                "2=" +
                existingIni +
                "*?Keep*?NewKey*?v*?Yes*?Yes\r\n"
                "[Environments]\r\n"
                "0=" +
                var +
                "NEW*?created*?OVERWRITE*?Yes\r\n"
                "1=" +
                var +
                "OVER*?new value*?OVERWRITE*?Yes\r\n"
                "2=" +
                var +
                "APP*?tail*?APPEND*?Yes\r\n"
                "3=" +
                var +
                "PRE*?head*?PREPEND*?Yes\r\n"
                "[Extensions]\r\n"
                "0=qvrt" +
                tag +
                "*?<InstallDir>\\app.exe*?QV RoundTrip Document*?*?0\r\n"
                "[Others]\r\n"
                "0=FONT*?<InstallDir>\\fonts\\qvfont.ttf*?No\r\n"
                "1=DLL/ACTIVEX*?<InstallDir>\\bin\\qv_selfreg.dll*?No\r\n"
                "2=TYPE LIBRARY*?<InstallDir>\\bin\\qvtest.tlb*?No\r\n"
                "[Commands]\r\n"
                // Before: the product is still there. After: it is gone.
                "0=" +
                cmd + "*?/c if exist \"<InstallDir>\\app.exe\" echo before> \"" + marker +
                "-before.txt\"*?HIDE*?BEFORE UNINSTALLATION*?Yes*?Any*?No\r\n"
                "1=" +
                cmd + "*?/c if not exist \"<InstallDir>\\app.exe\" echo after> \"" + marker +
                "-after.txt\"*?HIDE*?AFTER UNINSTALLATION*?Yes*?Any*?No\r\n");
        AddUninstallerToProject(project);
        ASSERT_TRUE(BuildTestSetup(project, setup));
    }

    SnapshotScope Scope() const {
        SnapshotScope s;
        s.Folders = {"C:\\", work.Path()};
        // Other programs' temporary files (this test's own folder lies inside, and is
        // recorded as a root of its own).
        s.IgnoredPaths = {TempDir(), work / "project", setup};
        // The console's default settings, which the system writes the first time a
        // console program (here the commands' cmd.exe) opens a console.
        s.IgnoredKeys = {"HKCU\\Console"};
        return s;
    }

    static std::string TempDir() {
        char buf[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, buf);
        std::string t = buf;
        if (!t.empty() && t.back() == '\\') t.pop_back();
        return t;
    }

    void RoundTrip(bool perUser) {
        BuildProject(perUser);
        if (HasFatalFailure()) return;
        auto t0 = std::chrono::steady_clock::now();
        const MachineSnapshot before = MachineSnapshot::Take(Scope());
        auto t1 = std::chrono::steady_clock::now();
        std::printf("snapshot: %zu entries in %.1f s\n", before.Size(),
                    std::chrono::duration<double>(t1 - t0).count());

        SetupRun install = RunSetup(setup, "/S /D \"" + dest + "\"", temp);
        ASSERT_EQ(install.exitCode, 0u);
        // The installation did what it says, or the comparison would prove nothing.
        ASSERT_TRUE(PathExists(dest + "\\Uninstall.exe"));
        ASSERT_TRUE(PathExists(dest + "\\docs\\deep\\b.txt"));
        const HKEY entryRoot = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        ASSERT_TRUE(KeyExists(entryRoot, 0, kUninstallKey + guid));
        EXPECT_EQ(RegText(envRoot, envKey, var + "APP"), "a;b;tail");
        EXPECT_EQ(RegText(envRoot, envKey, var + "PRE"), "head;x");
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, 0, "Software\\QV Self-Registration Test"));
        const std::string record = dest + "\\Uninstall.ini";
        for (const char* section :
             {"Files", "Folders", "RegistryKeys", "RegistryValues", "INIValues", "Environment",
              "Fonts", "ActiveX", "TypeLibrary", "ExecBeforeUninstall", "ExecAfterUninstall"}) {
            char buf[16] = {};
            GetPrivateProfileStringA(section, "0", "", buf, sizeof buf, record.c_str());
            EXPECT_NE(buf[0], '\0') << "nothing recorded in " << section;
        }

        UninstallRun removal = RunUninstaller(dest + "\\Uninstall.exe", "/S /L", temp);
        const std::string log = ReadFileBytes(temp + "\\QVUNINSTALLLOG.TXT");
        DeleteFileA((temp + "\\QVUNINSTALLLOG.TXT").c_str());
        SCOPED_TRACE("uninstall log:\n" + log);
        ASSERT_FALSE(removal.timedOut);
        EXPECT_TRUE(removal.copySeen);
        EXPECT_EQ(removal.exitCode, 0u);
        EXPECT_EQ(removal.copyExitCode, 0u);
        EXPECT_TRUE(removal.boxes.empty());
        // The commands ran at their moments.
        EXPECT_EQ(ReadFileBytes(work / "marker-before.txt"), "before\r\n");
        EXPECT_EQ(ReadFileBytes(work / "marker-after.txt"), "after\r\n");
        DeleteFileA((work / "marker-before.txt").c_str());
        DeleteFileA((work / "marker-after.txt").c_str());

        const MachineSnapshot after = MachineSnapshot::Take(Scope());
        std::vector<std::string> differences = before.DifferencesTo(after);
        // Keys every program shares, which the installation creates (empty but for
        // its own keys) in a test user's hive that lacks them (a real user's hive has
        // them) and which the removal never deletes: the user's classes and the user's
        // installed-programs list.
        for (const char* shared : {"HKCU\\Software\\Classes",
                                   "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"})
            for (const char* view : {"32 ", "64 "})
                differences.erase(std::remove(differences.begin(), differences.end(),
                                              std::string("added key ") + view + shared),
                                  differences.end());
        EXPECT_TRUE(differences.empty()) << DifferenceText(differences);
        EXPECT_TRUE(PendingRestartDeletes(work.Path(), true).empty());
    }
};

TEST_F(UninstallRoundTrip, AllUsersInstallationLeavesNothingBehind) {
    RoundTrip(false);
}

TEST_F(UninstallRoundTrip, PerUserInstallationLeavesNothingBehind) {
    RoundTrip(true);
}

} // namespace
