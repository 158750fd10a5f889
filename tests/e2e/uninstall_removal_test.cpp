// The uninstaller as a program: a later setup removes an older copy through it; a file
// held open goes at the next restart; a hostile record removes nothing it should not;
// a missing or unreadable record removes nothing at all.
//
// Its setups show windows (questions, boxes), which would take the active window away
// from a window test running beside it, and the window tests check where the focus is.
// qv-test-locks: desktop
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "UninstallRunner.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace {

bool KeyExists(HKEY root, const std::string& key, REGSAM view = 0) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

bool ValueExists(HKEY root, const std::string& key, const std::string& name) {
    return RegGetValueA(root, key.c_str(), name.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

void CreateKey(HKEY root, const std::string& key, REGSAM view = 0) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k,
                              nullptr),
              ERROR_SUCCESS)
        << key;
    RegCloseKey(k);
}

void SetValue(HKEY root, const std::string& key, const std::string& name, const std::string& v) {
    HKEY k;
    ASSERT_EQ(
        RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
        ERROR_SUCCESS);
    RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>(v.size() + 1));
    RegCloseKey(k);
}

std::string ShellFolder(int csidl) {
    char buf[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf);
    return buf;
}

int Count(const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
        ++n;
    return n;
}

class UninstallProgram : public ::testing::Test {
  protected:
    ScratchDir work;
    std::string temp = work / "temp";
    std::string guid = NewGuid();
    std::string tag = guid.substr(1, 8);

    void SetUp() override { CreateDirectoryA(temp.c_str(), nullptr); }
    void TearDown() override {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
                RegDeleteKeyExA(root, (kUninstallKey + guid).c_str(), view, 0);
    }

    // A per-user setup of version installing the files (name, content) below <InstallDir>.
    void BuildSetup(const std::string& project, const std::string& setup,
                    const std::string& version,
                    const std::vector<std::pair<std::string, std::string>>& files,
                    const std::string& more = "") {
        std::string records;
        CreateDirectoryA(project.c_str(), nullptr);
        CreateDirectoryA((project + "\\payload").c_str(), nullptr);
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string source = "payload\\f" + std::to_string(i);
            WriteFileBytes(project + "\\" + source, files[i].second);
            records += std::to_string(i) + "=" + source + "?<InstallDir>\\" + files[i].first +
                       "?OVERWRITE?Yes\r\n";
        }
        WriteMinimalProject(project,
                            "AppName=QV Removal " + tag + "\r\nAppVersion=" + version +
                                "\r\nGUID=" + guid +
                                "\r\nUninstall=1\r\nShowAddRemove=1\r\nInstallLevel=0\r\n" + more +
                                "\r\n[Payload]\r\n" + records);
        AddUninstallerToProject(project);
        ASSERT_TRUE(BuildTestSetup(project, setup));
    }

    // A product folder with the uninstaller and a record written by hand.
    std::string HandMadeProduct(const std::string& record) {
        const std::string dir = work / "product";
        CreateDirectoryA(dir.c_str(), nullptr);
        EXPECT_TRUE(CopyFileA(QV_UNINSTALLER_PATH, (dir + "\\Uninstall.exe").c_str(), FALSE));
        WriteFileBytes(dir + "\\Uninstall.ini", record);
        return dir;
    }
};

TEST_F(UninstallProgram, ANewerSetupRemovesTheOlderCopyThroughItAndInstalls) {
    const std::string setup = work / "setup.exe", first = work / "first", second = work / "second";
    BuildSetup(work / "p1", setup, "1.0", {{"old.txt", "old"}, {"sub\\data.bin", "data"}});
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + first + "\"", temp).exitCode, 0u);
    ASSERT_TRUE(PathExists(first + "\\Uninstall.exe"));

    BuildSetup(work / "p2", setup, "2.0", {{"new.txt", "new"}});
    SetupRun run = RunSetup(setup, "/S /D \"" + second + "\"", temp, 120000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    // The older copy is gone, folder and all; the new one is in, listed once.
    EXPECT_FALSE(PathExists(first));
    EXPECT_EQ(ReadFileBytes(second + "\\new.txt"), "new");
    EXPECT_TRUE(PathExists(second + "\\Uninstall.exe"));
    char location[MAX_PATH] = {};
    DWORD size = sizeof location;
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, (kUninstallKey + guid).c_str(), "InstallLocation",
                           RRF_RT_REG_SZ, nullptr, location, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(location), second);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey + guid));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey + ("QV Removal " + tag)));
    // The removal's temporary copy has cleaned up after itself.
    for (int i = 0; i < 100 && !UninstallerTempFolders(temp).empty(); ++i)
        Sleep(100);
    EXPECT_TRUE(UninstallerTempFolders(temp).empty());
}

TEST_F(UninstallProgram, AFileHeldOpenGoesAtTheRestartAndTheRestNow) {
    const std::string setup = work / "setup.exe", dest = work / "dest";
    BuildSetup(work / "p", setup, "1.0",
               {{"a.txt", "a"}, {"held\\held.txt", "held"}, {"other\\b.txt", "b"}},
               "[Registry]\r\n0=HKCU\\Software\\QV Removal " + tag +
                   "*?V*?REG_SZ*?x*?Yes*?Yes*?Default\r\n");
    ASSERT_EQ(RunSetup(setup, "/S /D \"" + dest + "\"", temp).exitCode, 0u);
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\QV Removal " + tag));

    // Open without sharing, as a program that uses the file would hold it.
    HANDLE held = CreateFileA((dest + "\\held\\held.txt").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    UninstallRun run = RunUninstaller(dest + "\\Uninstall.exe", "/S /L", temp);
    CloseHandle(held);
    const std::string log = ReadFileBytes(temp + "\\QVUNINSTALLLOG.TXT");
    const std::vector<std::string> pending = PendingRestartDeletes(dest, true);

    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.copyExitCode, 2u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_NE(log.find("Files: " + dest + "\\held\\held.txt: scheduled for the next restart"),
              std::string::npos)
        << log;
    // The file, its folder and the product folder wait for the restart, in that order.
    ASSERT_EQ(pending.size(), 3u) << log;
    EXPECT_NE(pending[0].find("held.txt"), std::string::npos);
    EXPECT_EQ(pending[2].substr(pending[2].size() - dest.size()), dest);
    // Everything else is gone.
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
    EXPECT_FALSE(PathExists(dest + "\\other"));
    EXPECT_FALSE(PathExists(dest + "\\Uninstall.exe"));
    EXPECT_FALSE(PathExists(dest + "\\Uninstall.ini"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\QV Removal " + tag));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey + guid));
    EXPECT_EQ(Count(log, "FAILED"), 0) << log;
}

TEST_F(UninstallProgram, AHostileRecordRemovesNothingItShouldNot) {
    // Files and keys planted beside what the entries name; every one must survive.
    const std::string windows = ShellFolder(CSIDL_WINDOWS);
    const std::string programs = ShellFolder(CSIDL_PROGRAMS);
    const std::vector<std::string> plantedFiles = {
        "C:\\qv-plant-" + tag + ".txt", windows + "\\qv-plant-" + tag + ".txt",
        work / ("nonempty\\plant.txt"), work / ("plant-" + tag + ".txt"),
        programs + "\\qv-plant-" + tag + ".txt"};
    CreateDirectoryA((work / "nonempty").c_str(), nullptr);
    for (const std::string& f : plantedFiles)
        WriteFileBytes(f, "planted");
    const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::vector<std::pair<HKEY, std::string>> plantedKeys = {
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\QV Plant " + tag},
        {HKEY_CURRENT_USER, std::string(kUninstallKey) + "QV Plant " + tag},
        {HKEY_CURRENT_USER, "Software\\Classes\\QVPlant" + tag},
        {HKEY_CLASSES_ROOT, "CLSID\\{" + tag + "-0000-0000-0000-000000000000}"}};
    for (const auto& [root, key] : plantedKeys)
        CreateKey(root, key);
    SetValue(HKEY_LOCAL_MACHINE, run, "QV Plant " + tag, "x");
    SetValue(HKEY_CURRENT_USER, "Environment", "QVPLANT_" + tag, "x");

    const std::string dir = HandMadeProduct(
        "[General]\r\nAppName=Hostile\r\nGUID=" + guid + "\r\nInstallDir=" + work.Path() +
        "\r\n[Files]\r\n0=C:\\\r\n1=" + windows + "\r\n2=..\\..\\qv-plant-" + tag +
        ".txt\r\n3=NUL\r\n4=" + work.Path() + "\\COM1.txt\r\n5=" + work.Path() + "\\plant-" + tag +
        ".txt:stream\r\n6=" + work.Path() + "\\*.txt\r\n7=" + work.Path() +
        "\\nonempty\\..\\plant-" + tag + ".txt\r\n8=" + ShellFolder(CSIDL_PROFILE) +
        "\r\n9=" + programs + "\r\n[Folders]\r\n0=C:\\\r\n1=" + windows + "\r\n2=" + work.Path() +
        "\\nonempty\r\n3=..\\..\r\n4=" + programs + "\r\n5=" + ShellFolder(CSIDL_DESKTOPDIRECTORY) +
        "\r\n6=" + ShellFolder(CSIDL_PROFILE) +
        "\\..\r\n"
        "[RegistryKeys]\r\n0=DHKEY_LOCAL_MACHINE\\SOFTWARE\r\n1=DHKEY_LOCAL_MACHINE\\" +
        run + "\r\n2=DHKEY_CURRENT_USER\\" + kUninstallKey +
        "\r\n3=DHKEY_CLASSES_ROOT\\CLSID\r\n"
        "4=DHKEY_CURRENT_USER\\Software\\Classes\r\n5=DHKEY_LOCAL_MACHINE\r\n"
        "6=DHKEY_CURRENT_USER\\Environment\r\n7=6HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\r\n"
        "8=DHKEY_LOCAL_MACHINE\\SOFTWARE\\\\\r\n9=DHKEY_LOCAL_MACHINE\\\\SOFTWARE\\Microsoft\r\n"
        "10=XHKEY_NOWHERE\\Software\r\n"
        "[INIValues]\r\n0=..\\x.ini*?S*?K\r\n");
    UninstallRun result = RunUninstaller(dir + "\\Uninstall.exe", "/S /L", temp);
    const std::string log = ReadFileBytes(temp + "\\QVUNINSTALLLOG.TXT");

    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 2u) << log;
    for (const std::string& f : plantedFiles) {
        EXPECT_TRUE(PathExists(f)) << f << "\n" << log;
        DeleteFileA(f.c_str());
    }
    for (const auto& [root, key] : plantedKeys) {
        EXPECT_TRUE(KeyExists(root, key)) << key << "\n" << log;
        RegDeleteKeyA(root, key.c_str());
    }
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, run, "QV Plant " + tag));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, "Environment", "QVPLANT_" + tag));
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, run.c_str(), ("QV Plant " + tag).c_str());
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Environment", ("QVPLANT_" + tag).c_str());
    // Every entry is accounted for in the log; the folder holding a planted file is
    // left, the others refused; the uninstaller, which the record does not name, stays.
    EXPECT_EQ(Count(log, ": REFUSED"), 10 + 6 + 11 + 1) << log;
    EXPECT_NE(log.find("Folders: " + work.Path() + "\\nonempty: FAILED: RemoveDirectoryA"),
              std::string::npos)
        << log;
    EXPECT_TRUE(PathExists(dir + "\\Uninstall.exe"));
}

TEST_F(UninstallProgram, AMissingOrUnreadableRecordRemovesNothing) {
    const std::string dir = HandMadeProduct("");
    DeleteFileA((dir + "\\Uninstall.ini").c_str());
    WriteFileBytes(dir + "\\keep.txt", "keep");
    UninstallRun run = RunUninstaller(dir + "\\Uninstall.exe", "/S", temp);
    EXPECT_EQ(run.exitCode, 3u);
    EXPECT_TRUE(run.boxes.empty());

    // Without /S the user is told why.
    run = RunUninstaller(dir + "\\Uninstall.exe", "", temp);
    EXPECT_EQ(run.exitCode, 3u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, "Uninstall");
    EXPECT_EQ(run.boxes[0].text, "The uninstall information of this program was not found:\r\n" +
                                     dir + "\\Uninstall.ini\r\n\r\nNothing was removed.");

    // A file that is no record (nothing names the installation's folder) is not read
    // as one with nothing in it.
    WriteFileBytes(dir + "\\Uninstall.ini", "[Files]\r\n0=" + dir + "\\keep.txt\r\n");
    run = RunUninstaller(dir + "\\Uninstall.exe", "", temp);
    EXPECT_EQ(run.exitCode, 3u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_NE(run.boxes[0].text.find("cannot be read"), std::string::npos);
    EXPECT_TRUE(PathExists(dir + "\\keep.txt"));
    EXPECT_TRUE(PathExists(dir + "\\Uninstall.exe"));
    EXPECT_TRUE(UninstallerTempFolders(temp).empty());
}

} // namespace
