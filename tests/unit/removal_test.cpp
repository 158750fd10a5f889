// The removal engine against real files, the real registry of the Wine prefix and real
// registrations: what each kind of entry undoes, in which order, what it refuses, and
// what it tells its caller.
//
// Sets and resets the desktop's wallpaper and screen saver, which belong to the whole
// machine.
// qv-test-locks: machine_state
#include "SetupRunner.h"
#include "TestSupport.h"
#include "UninstallRunner.h"
#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "removal/RemovalEngine.h"
#include "removal/RemovalItems.h"
#include "removal/RemovalSafety.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <vector>

namespace {

std::string ShellFolder(int csidl) {
    char buf[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf);
    return buf;
}

// Records every report as "outcome section item (detail)" and answers the in-use
// question from a script (Schedule when the script has run out).
class RecordingSink : public IRemovalSink {
  public:
    void Report(const RemovalReport& r) override {
        reports.push_back(r);
        lines.push_back(std::string(OutcomeText(r.Outcome)) + " " + r.Section + " " + r.Item);
    }
    InUseAnswer FileInUse(const std::string& path, DWORD error) override {
        inUse.push_back(path);
        lastError = error;
        if (onInUse) onInUse();
        if (answers.empty()) return InUseAnswer::Schedule;
        InUseAnswer a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    std::vector<RemovalReport> reports;
    std::vector<std::string> lines;
    std::vector<std::string> inUse;
    std::vector<InUseAnswer> answers;
    std::function<void()> onInUse;
    DWORD lastError = 0;
};

bool KeyExists(HKEY root, const std::string& key, REGSAM view) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

void CreateKey(HKEY root, const std::string& key, REGSAM view, const char* value = nullptr) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k,
                              nullptr),
              ERROR_SUCCESS);
    if (value) RegSetValueExA(k, value, 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    RegCloseKey(k);
}

// ---- the entries ----

TEST(RemovalItems, EntriesAreTakenApartIntoTheirFields) {
    RecordedKey k = ParseRecordedKey("dHKLM\\Software\\\\Vendor\\Tool\\");
    EXPECT_TRUE(k.Valid);
    EXPECT_EQ(k.View, 'D');
    EXPECT_EQ(k.Root, "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(k.Key, "Software\\Vendor\\Tool"); // one spelling of the key
    k = ParseRecordedKey("6HKEY_CURRENT_USER");
    EXPECT_TRUE(k.Valid);
    EXPECT_EQ(k.Key, ""); // a root: valid, and refused when removed
    for (const char* bad : {"", "D", "HKEY_LOCAL_MACHINE\\Software", "3HKEY_NOWHERE\\X"})
        EXPECT_FALSE(ParseRecordedKey(bad).Valid) << bad;

    RecordedValue v = ParseRecordedValue("3HKEY_CURRENT_USER\\Software\\A*?");
    EXPECT_TRUE(v.Key.Valid);
    EXPECT_EQ(v.Name, ""); // the key's default value
    v = ParseRecordedValue("DHKCU\\Software\\A*?Name*?with separator");
    EXPECT_EQ(v.Name, "Name*?with separator");
    EXPECT_FALSE(ParseRecordedValue("DHKCU\\Software\\A").Key.Valid);

    RecordedIniValue i = ParseRecordedIniValue("C:\\a.ini*?Sec*?Key");
    EXPECT_TRUE(i.Valid);
    EXPECT_EQ(i.File + "|" + i.Section + "|" + i.Key, "C:\\a.ini|Sec|Key");
    EXPECT_FALSE(ParseRecordedIniValue("C:\\a.ini*?Sec").Valid);
    EXPECT_FALSE(ParseRecordedIniValue("C:\\a.ini*?*?Key").Valid);

    RecordedEnvironment e = ParseRecordedEnvironment("DNAME");
    EXPECT_TRUE(e.Valid);
    EXPECT_EQ(e.Action, 'D');
    EXPECT_EQ(e.Name, "NAME");
    e = ParseRecordedEnvironment("WPATH*?");
    EXPECT_TRUE(e.Valid);
    EXPECT_EQ(e.Data, ""); // overwritten while empty: restored empty
    e = ParseRecordedEnvironment("uPATH*?C:\\x;C:\\y");
    EXPECT_EQ(e.Action, 'U');
    EXPECT_EQ(e.Data, "C:\\x;C:\\y");
    for (const char* bad : {"", "D", "UPATH*?", "UPATH", "XNAME*?v", "WA=B*?v", "D="})
        EXPECT_FALSE(ParseRecordedEnvironment(bad).Valid) << bad;
}

TEST(RemovalItems, ListSectionsAreReadWholeInFileOrder) {
    ScratchDir dir;
    const std::string record = dir / "Uninstall.ini";
    const std::string longValue = "C:\\" + std::string(5000, 'x');
    WriteFileBytes(record, "[Files]\r\n0=C:\\a\r\n; a comment\r\n2=  C:\\padded  \r\n1=" +
                               longValue + "\r\n[Environment]\r\n0=UPATH*?C:\\tool\r\n");
    EXPECT_EQ(ReadRecordList(record, "Files"),
              (std::vector<std::string>{"C:\\a", "C:\\padded", longValue}));
    RemovalItems items = ReadRemovalItems(record);
    EXPECT_EQ(items.Files.size(), 3u);
    ASSERT_EQ(items.Environment.size(), 1u);
    EXPECT_EQ(items.Environment[0].Data, "C:\\tool");
    EXPECT_TRUE(items.Folders.empty());
    EXPECT_TRUE(ReadRemovalItems(dir / "missing.ini").Files.empty());
}

// ---- what may be deleted ----

TEST(RemovalSafety, PathsThatAreNotPlainOrNameSystemFoldersAreRefused) {
    ScratchDir dir;
    const std::string fonts = ShellFolder(CSIDL_FONTS);
    const std::string profile = ShellFolder(CSIDL_PROFILE);
    const std::string profiles = profile.substr(0, profile.find_last_of('\\'));
    for (const std::string& p :
         {std::string("C:\\"), std::string("C:"), std::string("relative\\file.txt"),
          std::string("..\\..\\x"), dir / "a\\..\\b", std::string("NUL"), dir / "COM1.txt",
          dir / "file.txt:stream", dir / "*.txt", dir / "a?.txt", std::string("\\\\server"),
          ShellFolder(CSIDL_WINDOWS), ShellFolder(CSIDL_SYSTEM), ShellFolder(CSIDL_PROGRAM_FILES),
          ShellFolder(CSIDL_DESKTOPDIRECTORY), ShellFolder(CSIDL_COMMON_PROGRAMS),
          ShellFolder(CSIDL_STARTMENU), ShellFolder(CSIDL_APPDATA), fonts, profile, profiles,
          profiles + "\\SomeoneElse", ShellFolder(CSIDL_COMMON_APPDATA) + "\\Microsoft",
          UpperCase(ShellFolder(CSIDL_WINDOWS)) + "\\",
          // The system drops dots and blanks at the end of a part.
          ShellFolder(CSIDL_WINDOWS) + " ", ShellFolder(CSIDL_DESKTOPDIRECTORY) + ".",
          ShellFolder(CSIDL_PROGRAM_FILES) + ". .", dir.Path().substr(0, dir.Path().rfind('\\'))})
        EXPECT_NE(PathRefusal(p), "") << p;
    // What an installation can own: its folders and files, also inside system folders.
    for (const std::string& p :
         {dir / "Product", dir / "Product\\file.txt", fonts + "\\product.ttf",
          ShellFolder(CSIDL_PROGRAM_FILES) + "\\Vendor\\Product",
          ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\Product Group",
          std::string("\\\\server\\share\\x")})
        EXPECT_EQ(PathRefusal(p), "") << p;
    // The caller's own protected folders.
    EXPECT_NE(PathRefusal(dir / "Product", {dir / "Product\\Data"}), "");
}

TEST(RemovalSafety, RootsFirstLevelAndSharedKeysAreRefusedInEveryView) {
    const char* refused[][2] = {
        {"HKEY_LOCAL_MACHINE", ""},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Wow6432Node"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft"},
        {"HKEY_LOCAL_MACHINE", "Software\\Microsoft\\Windows\\CurrentVersion"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\CLSID"},
        {"HKEY_LOCAL_MACHINE", "SYSTEM\\ControlSet001\\Services"},
        {"HKEY_LOCAL_MACHINE", "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"},
        {"HKEY_CURRENT_USER", "Environment"},
        {"HKEY_CURRENT_USER", "Software"},
        {"HKEY_CURRENT_USER", "Software\\Classes\\Wow6432Node\\CLSID"},
        {"HKEY_CURRENT_USER", "Control Panel\\Desktop"},
        {"HKEY_CLASSES_ROOT", ""},
        {"HKEY_CLASSES_ROOT", "CLSID"},
        {"HKEY_CLASSES_ROOT", "*\\shell"},
        {"HKEY_CLASSES_ROOT", ".exe"},
        {"HKEY_CLASSES_ROOT", "Installer"},
        {"HKEY_LOCAL_MACHINE", "SYSTEM\\MountedDevices"},
        {"HKEY_LOCAL_MACHINE", "SYSTEM\\Setup"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer"},
        {"HKEY_USERS", "S-1-5-21-1"},
        {"HKEY_USERS", "S-1-5-21-1\\Software"},
        {"HKEY_USERS", "S-1-5-21-1\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {"HKEY_USERS", "S-1-5-21-1_Classes\\CLSID"},
    };
    for (const auto& [root, key] : refused)
        EXPECT_NE(KeyRefusal(root, key), "") << root << "\\" << key;
    const char* allowed[][2] = {
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Vendor"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Wow6432Node\\Vendor\\Product"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{G}"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\.abc"},
        {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\CLSID\\{G}"},
        {"HKEY_LOCAL_MACHINE", "SYSTEM\\CurrentControlSet\\Services\\ProductService"},
        {"HKEY_CURRENT_USER", "Software\\Vendor"},
        {"HKEY_CLASSES_ROOT", "abcfile"},
        {"HKEY_CLASSES_ROOT", "Directory\\shell\\ProductTool"},
        {"HKEY_USERS", "S-1-5-21-1\\Software\\Vendor"},
    };
    for (const auto& [root, key] : allowed)
        EXPECT_EQ(KeyRefusal(root, key), "") << root << "\\" << key;

    EXPECT_TRUE(
        IsInstalledProgramsEntry("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{G}"));
    EXPECT_TRUE(IsInstalledProgramsEntry(
        "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Product"));
    EXPECT_TRUE(IsInstalledProgramsEntry(
        "S-1-5-21-1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{G}"));
    EXPECT_FALSE(
        IsInstalledProgramsEntry("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
    EXPECT_FALSE(IsInstalledProgramsEntry(
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{G}\\Sub"));
    EXPECT_FALSE(IsInstalledProgramsEntry("SOFTWARE\\Vendor\\Uninstall\\{G}"));
}

// ---- the engine ----

class RemovalEngineTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    RecordingSink sink;
    std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    std::string key = "Software\\QV Removal Test " + tag;

    void TearDown() override {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
            RegDeleteKeyExA(HKEY_CURRENT_USER, key.c_str(), view, 0);
        }
        PendingRestartDeletes(dir.Path(), true);
    }
    std::vector<std::string> Lines(RemovalOutcome outcome) const {
        std::vector<std::string> out;
        for (const RemovalReport& r : sink.reports)
            if (r.Outcome == outcome) out.push_back(r.Section + " " + r.Item);
        return out;
    }
};

TEST_F(RemovalEngineTest, FilesGoInReverseOrderAndFoldersOnlyWhenEmpty) {
    RemovalItems items;
    for (const char* f : {"p", "p\\sub", "p\\sub\\deeper", "p\\kept"})
        CreateDirectoryA((dir / f).c_str(), nullptr);
    WriteFileBytes(dir / "p\\a.txt", "a");
    WriteFileBytes(dir / "p\\sub\\deeper\\b.txt", "b");
    WriteFileBytes(dir / "p\\kept\\user.txt", "the user's own");
    SetFileAttributesA((dir / "p\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    items.Files = {dir / "p\\a.txt", dir / "p\\sub\\deeper\\b.txt", dir / "p\\gone.txt"};
    items.Folders = {dir / "p", dir / "p\\sub", dir / "p\\sub\\deeper", dir / "p\\kept"};
    TRemovalEngine engine(sink, {});
    engine.RemoveFiles(items);
    engine.RemoveFolders(items);
    EXPECT_EQ(sink.lines,
              (std::vector<std::string>{
                  "skipped Files " + dir / "p\\gone.txt",
                  "done Files " + dir / "p\\sub\\deeper\\b.txt", "done Files " + dir / "p\\a.txt",
                  "FAILED Folders " + dir / "p\\kept", "done Folders " + dir / "p\\sub\\deeper",
                  "done Folders " + dir / "p\\sub", "FAILED Folders " + dir / "p"}));
    EXPECT_EQ(sink.reports[3].Call, "RemoveDirectoryA");
    EXPECT_EQ(sink.reports[3].Error, static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_NE(sink.reports[3].Detail.find("user.txt"), std::string::npos);
    EXPECT_TRUE(PathExists(dir / "p\\kept\\user.txt"));
    EXPECT_EQ(engine.Counts().Done, 4);
    EXPECT_EQ(engine.Counts().Failed, 2);
    EXPECT_TRUE(engine.HasLeftovers());
}

TEST_F(RemovalEngineTest, AFileInUseIsRetriedScheduledOrLeftAsTheCallerSays) {
    CreateDirectoryA((dir / "p").c_str(), nullptr);
    for (const char* f : {"p\\retry.txt", "p\\leave.txt", "p\\later.txt"})
        WriteFileBytes(dir / f, "x");
    HANDLE retry = CreateFileA((dir / "p\\retry.txt").c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE leave = CreateFileA((dir / "p\\leave.txt").c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE later = CreateFileA((dir / "p\\later.txt").c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(retry, INVALID_HANDLE_VALUE);
    RemovalItems items;
    items.Files = {dir / "p\\later.txt", dir / "p\\leave.txt", dir / "p\\retry.txt"};
    items.Folders = {dir / "p"};
    // retry.txt: Retry, and the holder lets go before the second try.
    sink.answers = {InUseAnswer::Retry, InUseAnswer::Leave, InUseAnswer::Schedule};
    sink.onInUse = [&] {
        if (sink.inUse.size() == 1) CloseHandle(retry);
    };
    TRemovalEngine engine(sink, {});
    engine.RemoveFiles(items);
    engine.RemoveFolders(items);
    CloseHandle(leave);
    CloseHandle(later);
    EXPECT_EQ(sink.inUse, (std::vector<std::string>{dir / "p\\retry.txt", dir / "p\\leave.txt",
                                                    dir / "p\\later.txt"}));
    EXPECT_EQ(sink.lastError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(Lines(RemovalOutcome::Done),
              std::vector<std::string>{"Files " + dir / "p\\retry.txt"});
    EXPECT_EQ(Lines(RemovalOutcome::Failed),
              (std::vector<std::string>{"Files " + dir / "p\\leave.txt", "Folders " + dir / "p"}));
    EXPECT_EQ(Lines(RemovalOutcome::Scheduled),
              std::vector<std::string>{"Files " + dir / "p\\later.txt"});
    EXPECT_EQ(PendingRestartDeletes(dir.Path(), true).size(), 1u);
}

TEST_F(RemovalEngineTest, DeferredFilesAndTheirFoldersGoLast) {
    CreateDirectoryA((dir / "p").c_str(), nullptr);
    WriteFileBytes(dir / "p\\app.txt", "x");
    WriteFileBytes(dir / "p\\Uninstall.exe", "x");
    WriteFileBytes(dir / "Unlisted.ini", "x");
    RemovalItems items;
    items.Files = {dir / "p\\app.txt", dir / "p\\Uninstall.exe"};
    items.Folders = {dir / "p"};
    RemovalOptions options;
    // Only what the record lists goes, whatever the caller defers.
    options.DeferredFiles = {dir / "P\\UNINSTALL.EXE", dir / "Unlisted.ini"};
    TRemovalEngine engine(sink, options);
    engine.RemoveFiles(items);
    engine.RemoveFolders(items);
    // The folder waits for its deferred file, without a word yet.
    EXPECT_EQ(sink.lines, std::vector<std::string>{"done Files " + dir / "p\\app.txt"});
    EXPECT_TRUE(PathExists(dir / "p\\Uninstall.exe"));
    EXPECT_FALSE(engine.HasLeftovers());
    engine.RemoveDeferredFiles();
    EXPECT_EQ(sink.lines, (std::vector<std::string>{"done Files " + dir / "p\\app.txt",
                                                    "done Files " + dir / "p\\Uninstall.exe",
                                                    "done Folders " + dir / "p"}));
    EXPECT_TRUE(PathExists(dir / "Unlisted.ini"));
    EXPECT_FALSE(engine.HasLeftovers());
}

TEST_F(RemovalEngineTest, AFolderWaitingForDeferredFilesStillFailsWhenItHoldsMore) {
    CreateDirectoryA((dir / "p").c_str(), nullptr);
    WriteFileBytes(dir / "p\\Uninstall.exe", "x");
    WriteFileBytes(dir / "p\\user.txt", "x");
    RemovalItems items;
    items.Files = {dir / "p\\Uninstall.exe"};
    items.Folders = {dir / "p"};
    RemovalOptions options;
    options.DeferredFiles = {dir / "p\\Uninstall.exe"};
    TRemovalEngine engine(sink, options);
    engine.RemoveFiles(items);
    engine.RemoveFolders(items);
    EXPECT_EQ(Lines(RemovalOutcome::Failed), std::vector<std::string>{"Folders " + dir / "p"});
}

TEST_F(RemovalEngineTest, RegistryKeysGoDeepestFirstInTheirViewsWithTheEntryLast) {
    const std::string entry =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QV Removal Test " + tag;
    CreateKey(HKEY_CURRENT_USER, key + "\\A\\B", KEY_WOW64_32KEY);
    CreateKey(HKEY_CURRENT_USER, key + "\\Other", KEY_WOW64_32KEY, "Kept");
    CreateKey(HKEY_CURRENT_USER, entry, 0);
    const std::string root = "HKEY_CURRENT_USER\\";
    RemovalItems items;
    for (const std::string& k :
         {"D" + root + entry, "3" + root + key, "3" + root + key + "\\A",
          "3" + root + key + "\\A\\B", "6" + root + key + "\\Missing", "D" + root + "Software"})
        items.RegistryKeys.push_back(ParseRecordedKey(k));
    for (const std::string& v :
         {"3" + root + key + "\\Other*?Kept", "3" + root + key + "\\Other*?Absent",
          "3" + root + key + "\\Nowhere*?Kept"})
        items.RegistryValues.push_back(ParseRecordedValue(v));
    TRemovalEngine engine(sink, {});
    engine.RemoveSettings(items);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, entry, 0)); // not yet
    EXPECT_EQ(sink.lines,
              (std::vector<std::string>{"done RegistryValues 3" + root + key + "\\Other*?Kept",
                                        "skipped RegistryValues 3" + root + key + "\\Other*?Absent",
                                        "skipped RegistryValues 3" + root + key + "\\Nowhere*?Kept",
                                        "done RegistryKeys 3" + root + key + "\\A\\B",
                                        "skipped RegistryKeys 6" + root + key + "\\Missing",
                                        "done RegistryKeys 3" + root + key + "\\A",
                                        "done RegistryKeys 3" + root + key,
                                        "REFUSED RegistryKeys D" + root + "Software"}));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key, KEY_WOW64_32KEY));
    engine.RemoveProductEntries(items);
    EXPECT_EQ(sink.lines.back(), "done RegistryKeys D" + root + entry);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, entry, 0));
}

TEST_F(RemovalEngineTest, TheDefaultViewFollowsTheRecordsSixtyFourBitMark) {
    // HKLM\SOFTWARE has a key of its own in each view on 64-bit Windows.
    const std::string machine = "SOFTWARE\\QV Removal View " + tag;
    HKEY k;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, machine.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &k, nullptr) != ERROR_SUCCESS)
        GTEST_SKIP() << "no administrator rights";
    RegCloseKey(k);
    if (KeyExists(HKEY_LOCAL_MACHINE, machine, KEY_WOW64_64KEY)) {
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, machine.c_str(), KEY_WOW64_32KEY, 0);
        GTEST_SKIP() << "one registry view only";
    }
    CreateKey(HKEY_LOCAL_MACHINE, machine, KEY_WOW64_64KEY);
    RemovalItems items;
    items.RegistryKeys.push_back(ParseRecordedKey("DHKEY_LOCAL_MACHINE\\" + machine));
    RemovalOptions options;
    options.DefaultView64 = true;
    TRemovalEngine(sink, options).RemoveSettings(items);
    const bool gone64 = !KeyExists(HKEY_LOCAL_MACHINE, machine, KEY_WOW64_64KEY);
    const bool kept32 = KeyExists(HKEY_LOCAL_MACHINE, machine, KEY_WOW64_32KEY);
    // Without the mark the same entry names the 32-bit view's key.
    TRemovalEngine(sink, {}).RemoveSettings(items);
    const bool gone32 = !KeyExists(HKEY_LOCAL_MACHINE, machine, KEY_WOW64_32KEY);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, machine.c_str(), KEY_WOW64_32KEY, 0);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, machine.c_str(), KEY_WOW64_64KEY, 0);
    EXPECT_TRUE(gone64);
    EXPECT_TRUE(kept32);
    EXPECT_TRUE(gone32);
}

TEST_F(RemovalEngineTest, IniValuesGoAndTheirSectionWhenLeftEmpty) {
    const std::string ini = dir / "settings.ini";
    WriteFileBytes(ini, "[Keep]\r\nOld=1\r\nNew=2\r\n[Added]\r\nKey=v\r\n");
    RemovalItems items;
    for (const std::string& v : {ini + "*?Keep*?New", ini + "*?Added*?key", ini + "*?Keep*?Absent",
                                 dir / "missing.ini*?S*?K", std::string("rel.ini*?S*?K")})
        items.IniValues.push_back(ParseRecordedIniValue(v));
    TRemovalEngine(sink, {}).RemoveSettings(items);
    EXPECT_EQ(Lines(RemovalOutcome::Done).size(), 2u);
    EXPECT_EQ(Lines(RemovalOutcome::Skipped).size(), 2u);
    EXPECT_EQ(Lines(RemovalOutcome::Refused), std::vector<std::string>{"INIValues rel.ini*?S*?K"});
    char buf[64] = {};
    GetPrivateProfileStringA("Keep", "Old", "", buf, sizeof buf, ini.c_str());
    EXPECT_EQ(std::string(buf), "1");
    GetPrivateProfileStringA("Keep", "New", "gone", buf, sizeof buf, ini.c_str());
    EXPECT_EQ(std::string(buf), "gone");
    const std::string text = ReadFileBytes(ini);
    EXPECT_EQ(text.find("[Added]"), std::string::npos) << text;
}

TEST_F(RemovalEngineTest, EnvironmentVariablesAreDeletedRestoredAndTakenOutOf) {
    const std::string v = "QVREM_" + tag + "_";
    TRegistry env;
    ASSERT_TRUE(env.OpenKey("Environment", false));
    env.WriteString(v + "NEW", "created");
    env.WriteString(v + "OVER", "new");
    env.WriteString(v + "MID", "a;added;b");
    env.WriteString(v + "HEAD", "added;a");
    env.WriteString(v + "TAIL", "a;added");
    env.WriteString(v + "BOTH", "first;x;added"); // overwritten, then appended to
    env.WriteString(v + "GONE", "a;b");
    RemovalItems items;
    for (const std::string& e :
         {"D" + v + "NEW", "W" + v + "OVER*?%SystemRoot%\\old", "U" + v + "MID*?added",
          "U" + v + "HEAD*?added", "U" + v + "TAIL*?added", "W" + v + "BOTH*?before",
          "U" + v + "BOTH*?added", "U" + v + "GONE*?added", "D" + v + "ABSENT"})
        items.Environment.push_back(ParseRecordedEnvironment(e));
    TRemovalEngine(sink, {}).RemoveSettings(items); // the user's environment
    std::string value;
    EXPECT_FALSE(env.ValueExists(v + "NEW"));
    ASSERT_TRUE(env.ReadString(v + "OVER", value));
    EXPECT_EQ(value, "%SystemRoot%\\old");
    EXPECT_EQ(env.ValueType(v + "OVER"), static_cast<DWORD>(REG_EXPAND_SZ));
    for (const char* name : {"MID", "HEAD", "TAIL"}) {
        ASSERT_TRUE(env.ReadString(v + name, value));
        EXPECT_EQ(value, name == std::string("MID") ? "a;b" : "a") << name;
        EXPECT_EQ(env.ValueType(v + name), static_cast<DWORD>(REG_SZ));
    }
    ASSERT_TRUE(env.ReadString(v + "BOTH", value));
    EXPECT_EQ(value, "before"); // undone in reverse: the text out first, then the old value
    ASSERT_TRUE(env.ReadString(v + "GONE", value));
    EXPECT_EQ(value, "a;b");
    EXPECT_EQ(Lines(RemovalOutcome::Skipped),
              (std::vector<std::string>{"Environment D" + v + "ABSENT",
                                        "Environment U" + v + "GONE*?added"}));
    for (const char* name : {"NEW", "OVER", "MID", "HEAD", "TAIL", "BOTH", "GONE"})
        env.DeleteValue(v + name);
}

TEST_F(RemovalEngineTest, RegistrationsAreTakenBack) {
    // A self-registering library, registered as the installation would.
    const std::string dll = dir / "qv_selfreg.dll";
    ASSERT_TRUE(CopyFileA(QV_SELFREG_DLL_PATH, dll.c_str(), FALSE));
    HMODULE lib = LoadLibraryA(dll.c_str());
    ASSERT_NE(lib, nullptr);
    using Fn = HRESULT(WINAPI*)();
    ASSERT_EQ(
        reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(lib, "DllRegisterServer")))(),
        S_OK);
    FreeLibrary(lib);
    // The library names its key after its own path, slashes for backslashes.
    std::string named = dll;
    for (char& c : named)
        if (c == '\\') c = '/';
    const std::string regKey = "Software\\QV Self-Registration Test\\" + named;
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, regKey, 0));

    // A type library.
    const std::string tlb = dir / "qvtest.tlb";
    ICreateTypeLib2* ctl = nullptr;
    ASSERT_EQ(CreateTypeLib2(SYS_WIN32, std::wstring(tlb.begin(), tlb.end()).c_str(), &ctl), S_OK);
    GUID guid;
    CoCreateGuid(&guid);
    ctl->SetGuid(guid);
    ctl->SetVersion(1, 10);
    ASSERT_EQ(ctl->SaveAllChanges(), S_OK);
    ctl->Release();
    ITypeLib* typeLib = nullptr;
    std::wstring wtlb(tlb.begin(), tlb.end());
    ASSERT_EQ(LoadTypeLibEx(wtlb.c_str(), REGKIND_NONE, &typeLib), S_OK);
    ASSERT_EQ(RegisterTypeLib(typeLib, wtlb.data(), nullptr), S_OK);
    typeLib->Release();

    WriteFileBytes(dir / "text.dll", "not a library");
    RemovalItems items;
    items.ActiveX = {dll, dir / "text.dll"};
    items.TypeLibraries = {tlb};
    TRemovalEngine engine(sink, {});
    engine.Unregister(items);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, regKey, 0));
    EXPECT_NE(UnRegisterTypeLib(guid, 1, 10, 0, SYS_WIN32), S_OK) << "still registered";
    EXPECT_EQ(Lines(RemovalOutcome::Done),
              (std::vector<std::string>{"ActiveX " + dll, "TypeLibrary " + tlb}));
    ASSERT_EQ(Lines(RemovalOutcome::Failed),
              std::vector<std::string>{"ActiveX " + dir / "text.dll"});
    EXPECT_EQ(sink.reports[0].Call, "LoadLibraryExA");
    // Once more: nothing is registered any more.
    RemovalItems again;
    again.TypeLibraries = {tlb};
    engine.Unregister(again);
    EXPECT_EQ(sink.reports.back().Outcome, RemovalOutcome::Skipped);
}

TEST_F(RemovalEngineTest, FontsLeaveTheFontTableAndTheFontsKey) {
    std::string font;
    for (const std::string& d : {ShellFolder(CSIDL_FONTS) + "\\",
                                 std::string("Z:\\usr\\share\\fonts\\truetype\\dejavu\\")}) {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((d + "*.ttf").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) continue;
        FindClose(h);
        font = d + fd.cFileName;
        break;
    }
    if (font.empty()) GTEST_SKIP() << "no .ttf font";
    const std::string copy = dir / "qvremoval.ttf", probe = dir / "probe.ttf";
    ASSERT_TRUE(CopyFileA(font.c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(font.c_str(), probe.c_str(), FALSE));
    // A font the installation also put into the Fonts key.
    const std::string fontsKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    const std::string valueName = "QV Removal " + tag + " (TrueType)";
    const bool keyWritable =
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, fontsKey.c_str(), valueName.c_str(), REG_SZ,
                        copy.c_str(), static_cast<DWORD>(copy.size() + 1)) == ERROR_SUCCESS;
    ASSERT_GT(AddFontResourceA(copy.c_str()), 0);
    ASSERT_GT(AddFontResourceA(copy.c_str()), 0); // listed twice, added twice
    // Wine adds fonts but cannot take them out again.
    ASSERT_GT(AddFontResourceA(probe.c_str()), 0);
    const bool tableWorks = RemoveFontResourceA(probe.c_str()) != 0;

    RemovalItems items;
    items.Fonts = {copy};
    TRemovalEngine engine(sink, {});
    engine.Unregister(items);
    if (keyWritable || tableWorks) {
        EXPECT_EQ(sink.lines, std::vector<std::string>{"done Fonts " + copy});
    }
    EXPECT_FALSE(RegGetValueA(HKEY_LOCAL_MACHINE, fontsKey.c_str(), valueName.c_str(), RRF_RT_ANY,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS);
    if (tableWorks) {
        EXPECT_EQ(RemoveFontResourceA(copy.c_str()), 0) << "still in the font table";
        engine.Unregister(items);
        EXPECT_EQ(sink.lines.back(), "skipped Fonts " + copy);
    }
}

TEST_F(RemovalEngineTest, WallpaperAndScreenSaverAreResetOnlyWhileTheyAreTheInstalledOnes) {
    TRegistry desktop;
    ASSERT_TRUE(desktop.OpenKey("Control Panel\\Desktop", true));
    std::string oldPaper, oldSaver;
    const bool hadPaper = desktop.ReadString("Wallpaper", oldPaper);
    const bool hadSaver = desktop.ReadString("SCRNSAVE.EXE", oldSaver);
    const std::string paper = dir / "paper.bmp", saver = dir / "saver.scr";
    WriteFileBytes(paper, MakeBitmapFile(4, 4));
    WriteFileBytes(saver, "x");

    RemovalItems items;
    items.Wallpapers = {paper};
    items.ScreenSavers = {saver};
    desktop.WriteString("Wallpaper", dir / "someone-else.bmp");
    desktop.WriteString("SCRNSAVE.EXE", dir / "someone-else.scr");
    TRemovalEngine(sink, {}).Unregister(items);
    std::string value;
    desktop.ReadString("Wallpaper", value);
    EXPECT_EQ(value, dir / "someone-else.bmp");
    desktop.ReadString("SCRNSAVE.EXE", value);
    EXPECT_EQ(value, dir / "someone-else.scr");
    EXPECT_EQ(Lines(RemovalOutcome::Skipped).size(), 2u);

    desktop.WriteString("Wallpaper", paper);
    desktop.WriteString("SCRNSAVE.EXE", saver);
    TRemovalEngine(sink, {}).Unregister(items);
    desktop.CloseKey();
    ASSERT_TRUE(desktop.OpenKey("Control Panel\\Desktop", false));
    value = "unread";
    desktop.ReadString("Wallpaper", value);
    EXPECT_EQ(value, "");
    EXPECT_FALSE(desktop.ValueExists("SCRNSAVE.EXE"));
    EXPECT_EQ(Lines(RemovalOutcome::Done),
              (std::vector<std::string>{"ScreenSaver " + saver, "Wallpaper " + paper}));

    // The desktop as it was.
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, oldPaper.data(), 0);
    hadPaper ? desktop.WriteString("Wallpaper", oldPaper) : desktop.DeleteValue("Wallpaper");
    hadSaver ? desktop.WriteString("SCRNSAVE.EXE", oldSaver) : desktop.DeleteValue("SCRNSAVE.EXE");
}

} // namespace
