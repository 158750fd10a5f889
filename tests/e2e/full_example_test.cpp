// The full example (examples/full) passes the builder's strictest checks, installs
// silently, and every item it describes arrives where the reference says: files in
// nested folders, shortcuts, registry values of each type, INI values, environment
// variables, the file association, the command and the installed-programs entry.
//
// Its setups show windows (questions, boxes), which would take the active window away
// from a window test running beside it, and the window tests check where the focus is.
// qv-test-locks: desktop
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "ShellLink.h"
#include "TestSupport.h"
#include "sysinfo/SystemInfo.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <string>

namespace {

const char kProduct[] = "QV Full Example";
const char kSystemEnvironment[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

void CopyTree(const std::string& from, const std::string& to) {
    CreateDirectoryA(to.c_str(), nullptr);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((from + "\\*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << from;
    do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyTree(from + "\\" + name, to + "\\" + name);
        else
            ASSERT_TRUE(CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE));
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

// A registry value's type and raw bytes; type REG_NONE when it cannot be read.
struct RegValue {
    DWORD type = REG_NONE;
    std::string data;
    std::string Text() const { return data.substr(0, data.find('\0')); }
};

RegValue ReadValue(HKEY root, const std::string& key, const std::string& name) {
    RegValue v;
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | kRuntimeView, &k) != ERROR_SUCCESS) return v;
    char buf[4096];
    DWORD size = sizeof buf, type = REG_NONE;
    if (RegQueryValueExA(k, name.empty() ? nullptr : name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS) {
        v.type = type;
        v.data.assign(buf, size);
    }
    RegCloseKey(k);
    return v;
}

std::string IniValue(const std::string& file, const std::string& section, const std::string& key) {
    char buf[2048] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "(missing)", buf, sizeof buf,
                             file.c_str());
    return buf;
}

class FullExampleTest : public ::testing::Test {
  protected:
    ScratchDir work;
    std::string temp = work / "temp";
    std::string project = work / "full";
    std::string setup = work / "full-setup.exe";
    std::string dest = work / "QV Full Example";
    std::string guid = NewGuid();
    // Where an installation for all users puts its items (the setup installs for all
    // users when run by an administrator, as the tests are under Wine).
    bool admin = TOSInfo::IsAdmin();
    HKEY itemRoot = admin ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;

    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CreateDirectoryA(temp.c_str(), nullptr);
        RemoveItems();
    }
    void TearDown() override { RemoveItems(); }

    std::string Group() const {
        return ShellPath(admin ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS) + "\\" + kProduct;
    }
    std::string Desktop() const {
        return ShellPath(admin ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY);
    }

    // Everything the example creates outside its folder.
    void RemoveItems() {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QV Full Example");
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            RegDeleteTreeA(root, "Software\\Classes\\.qvfull");
            RegDeleteTreeA(root, "Software\\Classes\\qvfullfile");
            RegDeleteTreeA(root, (kUninstallKey + guid).c_str());
        }
        for (const char* name : {"QV_FULL_EXAMPLE_HOME", "QV_FULL_EXAMPLE_PATH"}) {
            HKEY k;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_ALL_ACCESS, &k) ==
                ERROR_SUCCESS) {
                RegDeleteValueA(k, name);
                RegCloseKey(k);
            }
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSystemEnvironment, 0, KEY_ALL_ACCESS, &k) ==
                ERROR_SUCCESS) {
                RegDeleteValueA(k, name);
                RegCloseKey(k);
            }
        }
        RemoveTree(Group());
        DeleteFileA((Desktop() + "\\QV Full Example.lnk").c_str());
    }

    // The example as shipped, with a GUID of this test's own.
    void CopyExample() {
        CopyTree(QV_SOURCE_DIR "\\examples\\full", project);
        std::string ini = ReadFileBytes(project + "\\setup.ini");
        const std::string shipped = "GUID={621F467B-8077-454A-A366-9B9A655EFB35}";
        const size_t at = ini.find(shipped);
        ASSERT_NE(at, std::string::npos);
        ini.replace(at, shipped.size(), "GUID=" + guid);
        WriteFileBytes(project + "\\setup.ini", ini);
    }
};

TEST_F(FullExampleTest, BuildsStrictlyAndEveryItemArrives) {
    CopyExample();
    ASSERT_TRUE(BuildTestSetup(project, setup, true, mksetup::CheckLevel::Strict));
    SetupRun run = RunSetup(setup, "/S /L /D \"" + dest + "\"", temp);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    // A log of the header only: no item failed.
    const std::string log = ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;

    // Files, the folders of the payload included, byte for byte.
    for (const char* rel : {"bin\\start.cmd", "docs\\readme.txt", "docs\\guide\\chapter1.txt"})
        EXPECT_EQ(ReadFileBytes(dest + "\\" + rel),
                  ReadFileBytes(std::string(QV_SOURCE_DIR "\\examples\\full\\payload\\") + rel))
            << rel;

    // Shortcuts in the program group and on the desktop.
    Link app = ReadLink(Group() + "\\QV Full Example.lnk");
    ASSERT_TRUE(app.loaded) << Group();
    EXPECT_EQ(app.target, dest + "\\bin\\start.cmd");
    EXPECT_EQ(app.arguments, "/hello");
    EXPECT_EQ(app.workDir, dest);
    EXPECT_EQ(app.showCmd, SW_SHOWNORMAL);
    Link readme = ReadLink(Group() + "\\Readme.lnk");
    EXPECT_EQ(readme.target, dest + "\\docs\\readme.txt");
    EXPECT_EQ(readme.showCmd, SW_SHOWMAXIMIZED);
    EXPECT_EQ(ReadLink(Desktop() + "\\QV Full Example.lnk").target, dest + "\\bin\\start.cmd");

    // Registry values of every type; the user variable had no earlier version to read.
    const std::string key = "Software\\QV Full Example";
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key, "InstallDir").Text(), dest);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key, "Version").Text(), "2.1.0");
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key, "PreviousVersion").Text(), "none");
    RegValue installs = ReadValue(HKEY_CURRENT_USER, key, "Installs");
    EXPECT_EQ(installs.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(installs.data, std::string("\x10\0\0\0", 4));
    RegValue flags = ReadValue(HKEY_CURRENT_USER, key + "\\Options", "Flags");
    EXPECT_EQ(flags.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(flags.data, std::string("\x01\x02\x0a\xff", 4));
    RegValue data = ReadValue(HKEY_CURRENT_USER, key + "\\Options", "Data");
    EXPECT_EQ(data.type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(data.Text(), "%APPDATA%\\QV Full Example");

    // INI values.
    const std::string settings = dest + "\\settings.ini";
    EXPECT_EQ(IniValue(settings, "General", "InstallDir"), dest);
    EXPECT_EQ(IniValue(settings, "General", "Language"), "English");
    EXPECT_EQ(IniValue(settings, "Paths", "Guide"), dest + "\\docs\\guide");

    // Environment variables: the system's for an administrator, else the user's.
    HKEY envRoot = admin ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::string envKey = admin ? kSystemEnvironment : "Environment";
    EXPECT_EQ(ReadValue(envRoot, envKey, "QV_FULL_EXAMPLE_HOME").Text(), dest);
    EXPECT_EQ(ReadValue(envRoot, envKey, "QV_FULL_EXAMPLE_PATH").Text(), dest + "\\bin");

    // The file association.
    EXPECT_EQ(ReadValue(itemRoot, "SOFTWARE\\Classes\\.qvfull", "").Text(), "qvfullfile");
    EXPECT_EQ(ReadValue(itemRoot, "SOFTWARE\\Classes\\qvfullfile", "").Text(),
              "QV Full Example Document");
    EXPECT_EQ(ReadValue(itemRoot, "SOFTWARE\\Classes\\qvfullfile\\shell\\open\\command", "").Text(),
              dest + "\\bin\\start.cmd \"%1\"");

    // The command ran after the installation; its uninstall counterpart is recorded.
    EXPECT_TRUE(PathExists(dest + "\\installed.txt"));
    const std::string record = dest + "\\Uninstall.ini";
    EXPECT_EQ(IniValue(record, "General", "AppName"), kProduct);
    EXPECT_EQ(IniValue(record, "General", "MainExecutable"), dest + "\\bin\\start.cmd");
    EXPECT_NE(
        IniValue(record, "ExecBeforeUninstall", "0").find("del \"" + dest + "\\installed.txt\""),
        std::string::npos);
    EXPECT_EQ(IniValue(record, "Environment", "0"), "DQV_FULL_EXAMPLE_HOME");

    // The entry among the installed programs.
    EXPECT_EQ(ReadValue(itemRoot, kUninstallKey + guid, "DisplayName").Text(), kProduct);
    EXPECT_EQ(ReadValue(itemRoot, kUninstallKey + guid, "DisplayIcon").Text(),
              dest + "\\bin\\start.cmd");
}

} // namespace
