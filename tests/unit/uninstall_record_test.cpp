// The uninstall record built during a run and placed beside the uninstaller, the
// updater's records, and the product's entry among the installed programs, against
// real files and the real registry of the Wine prefix.
#include "SystemState.h"
#include "TestContext.h"
#include "TestSupport.h"
#include "engine/InstallationRun.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;
using Sections = std::vector<std::pair<std::string, Keys>>;

// The file as the uninstaller would see it on disk: sections and keys in file order.
Sections ParseIni(const std::string& bytes) {
    Sections out;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line.front() == '[' && line.back() == ']') {
            out.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        size_t eq = line.find('=');
        EXPECT_NE(eq, std::string::npos) << "stray line: " << line;
        if (eq == std::string::npos || out.empty()) continue;
        out.back().second.push_back({line.substr(0, eq), line.substr(eq + 1)});
    }
    return out;
}

bool Has(const Sections& s, const std::string& name) {
    for (const auto& section : s)
        if (section.first == name) return true;
    return false;
}

// The section's keys; none when it is missing.
Keys Find(const Sections& s, const std::string& name) {
    for (const auto& section : s)
        if (section.first == name) return section.second;
    return {};
}

class UninstallRecordTest : public ::testing::Test {
  protected:
    UninstallRecordTest() {
        ctx_.SetupTempDir = setupTemp_.Path();
        ctx_.Wizard.Edit1 = dest_.Path();
        ctx_.Prompt = &prompt_;
        ctx_.PerUser = true;
        ctx_.UninstallOn = true;
        ctx_.Wizard.ComboBox1 = "Demo Group";
        UseLanguage(ctx_, setupTemp_ / "Englishqv.lng",
                    "[Uninstall]\r\n0=<AppName> Uninstall\r\n1=Remove <AppName>?<#>All of it.\r\n"
                    "2=Removed.\r\n3=Visit?\r\n4=Close it.\r\n5=Restart?\r\n"
                    "[Updater]\r\n0=Updater of <AppName>\r\n"
                    "[Messages]\r\n15=Cannot create the key %s.\r\n");
        WriteFileBytes(setupTemp_ / "QVUninstall.exe", "uninstaller bytes");
        WriteFileBytes(setupTemp_ / "QVUpdater.exe", "updater bytes");
    }
    void Config(const std::string& setupKeys) {
        UseConfig(ctx_, setupTemp_ / "qvsetup.ini", "[Setup]\r\n" + setupKeys);
    }
    Sections Placed() { return ParseIni(ReadFileBytes(dest_ / "Uninstall.ini")); }

    ScratchDir temp_;
    TempEnvironment env_{temp_.Path()};
    ScratchDir setupTemp_, dest_;
    RecordingPrompt prompt_;
    RunContext ctx_;
};

const char kFullConfig[] = "AppName=Demo\r\nAppVersion=2.5\r\nGUID={DEMO-GUID}\r\n"
                           "MainExecutable=<InstallDir>\\demo.exe\r\nUpdater=1\r\n"
                           "UpdateURL=http://example.test/upd\r\nVisitUninstallPage=1\r\n"
                           "UninstallURL=http://example.test/bye?p=<AppName>\r\n"
                           "UninstallForce=1\r\nSilentUninstall=1\r\n";

TEST_F(UninstallRecordTest, FreshRunPlacesTheRecordWithEverySectionInOrder) {
    Config(kFullConfig);
    const std::string d = dest_.Path();
    OpenUninstallRecord(ctx_);
    RecordUninstallItem(ctx_, "Folders", d);
    RecordUninstallItem(ctx_, "Files", d + "\\app.exe");
    RecordProgramFiles(ctx_);
    RecordUninstallItem(ctx_, "Environment", "DPATHX");
    PlaceUninstallRecord(ctx_);

    const Sections expected = {
        {"Messages",
         {{"0", "Demo Uninstall"},
          {"1", "Remove Demo?<#>All of it."}, // the break stays on its line
          {"2", "Removed."},
          {"3", "Visit?"},
          {"4", "Close it."},
          {"5", "Restart?"},
          {"6", ""}}},
        {"Updater",
         {{"0", "Updater of Demo"},
          {"1", ""},
          {"2", ""},
          {"3", ""},
          {"4", ""},
          {"5", ""},
          {"6", ""},
          {"7", ""},
          {"8", ""}}},
        {"General",
         {{"AppName", "Demo"},
          {"AppVersion", "2.5"},
          {"GUID", "{DEMO-GUID}"},
          {"Admin", "1"},
          {"x64", "0"},
          {"SystemEnvironment", ctx_.Admin ? "1" : "0"},
          {"MainExecutable", d + "\\demo.exe"},
          {"InstallDir", d},
          {"ProgramGroupDir", ShellPath(CSIDL_PROGRAMS) + "\\Demo Group"},
          {"UninstallURL", "http://example.test/bye?p=Demo"},
          {"UninstallForce", "1"},
          {"UninstallRestart", "0"},
          {"SilentMode", "1"},
          {"UpdateURL", "http://example.test/upd"}}},
        {"Folders", {{"0", d}}},
        {"Files",
         {{"0", d + "\\app.exe"},
          {"1", d + "\\Uninstall.exe"},
          {"2", d + "\\Uninstall.ini"},
          {"3", d + "\\Updater.exe"}}},
        {"Environment", {{"0", "DPATHX"}}},
    };
    EXPECT_EQ(Placed(), expected);
    EXPECT_EQ(ReadFileBytes(dest_ / "Uninstall.exe"), "uninstaller bytes");
    EXPECT_EQ(ReadFileBytes(dest_ / "Updater.exe"), "updater bytes");
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(UninstallRecordTest, GeneralLeavesOutWhatIsSwitchedOff) {
    Config("AppName=Demo\r\nAdmin=0\r\nUninstallURL=http://example.test/bye\r\n");
    ctx_.UninstallOn = false;
    ctx_.Is64 = true;
    OpenUninstallRecord(ctx_);
    CloseUninstallRecord(ctx_);
    Sections s = ParseIni(ReadFileBytes(setupTemp_ / "qvuninstall.ini"));
    Keys general = Find(s, "General");
    std::vector<std::string> names;
    for (const auto& k : general)
        names.push_back(k.first);
    // No MainExecutable, nothing of the uninstaller's, no UpdateURL.
    EXPECT_EQ(names,
              (std::vector<std::string>{"AppName", "AppVersion", "GUID", "Admin", "x64",
                                        "SystemEnvironment", "InstallDir", "ProgramGroupDir"}));
    ASSERT_EQ(general.size(), 8u);
    EXPECT_EQ(general[3].second, "0");
    EXPECT_EQ(general[4].second, "1");

    // With Uninstall on but the page visit off, the URL is written empty.
    ctx_.UninstallOn = true;
    OpenUninstallRecord(ctx_);
    CloseUninstallRecord(ctx_);
    s = ParseIni(ReadFileBytes(setupTemp_ / "qvuninstall.ini"));
    general = Find(s, "General");
    ASSERT_EQ(general.size(), 12u);
    EXPECT_EQ(general[8], (std::pair<std::string, std::string>{"UninstallURL", ""}));
}

TEST_F(UninstallRecordTest, UpdateRunContinuesTheInstalledRecord) {
    Config("AppName=Demo\r\nAppVersion=2.5\r\nGUID={DEMO-GUID}\r\n");
    const std::string d = dest_.Path();
    WriteFileBytes(dest_ / "Uninstall.ini",
                   "[Messages]\r\n0=Old title\r\n[General]\r\nAppName=Demo\r\nAppVersion=1.0\r\n"
                   "[Files]\r\n0=" +
                       d + "\\old.exe\r\n1=" + d + "\\Uninstall.exe\r\n2=" + d +
                       "\\Uninstall.ini\r\n[Folders]\r\n0=" + d +
                       "\r\n[Environment]\r\n0=DPATHX\r\n");
    ctx_.Wizard.Edit1Disabled = true;
    OpenUninstallRecord(ctx_);
    RecordUninstallItem(ctx_, "Folders", d + "\\sub");
    RecordUninstallItem(ctx_, "Files", d + "\\new.exe");
    RecordProgramFiles(ctx_);
    RecordUninstallItem(ctx_, "Environment", "dpathx");
    RecordUninstallItem(ctx_, "Environment", "DOTHER");
    RecordUninstallItem(ctx_, "RegistryKeys", "DHKEY_CURRENT_USER\\Software\\Demo");
    PlaceUninstallRecord(ctx_);

    Sections s = Placed();
    EXPECT_EQ(Find(s, "Files"), (Keys{{"0", d + "\\old.exe"},
                                      {"1", d + "\\Uninstall.exe"},
                                      {"2", d + "\\Uninstall.ini"},
                                      {"3", d + "\\new.exe"}}));
    EXPECT_EQ(Find(s, "Folders"), (Keys{{"0", d}, {"1", d + "\\sub"}}));
    EXPECT_EQ(Find(s, "Environment"), (Keys{{"0", "DPATHX"}, {"1", "DOTHER"}}));
    EXPECT_EQ(Find(s, "RegistryKeys"), (Keys{{"0", "DHKEY_CURRENT_USER\\Software\\Demo"}}));
    EXPECT_EQ(Find(s, "Messages").at(0).second, "Demo Uninstall");
    const Keys general = Find(s, "General");
    EXPECT_EQ(general.at(1), (std::pair<std::string, std::string>{"AppVersion", "2.5"}));
    EXPECT_EQ(general.at(2), (std::pair<std::string, std::string>{"GUID", "{DEMO-GUID}"}));
}

// An installed record whose list keys are not 0, 1, 2, ... keeps every entry: they
// are renumbered in file order before new ones follow, instead of being overwritten
// by the keys handed out next. A record in order is left exactly as it was.
TEST_F(UninstallRecordTest, UpdateRunRenumbersAnInstalledRecordWithGapsOrStrayKeys) {
    Config("AppName=Demo\r\n");
    const std::string d = dest_.Path();
    WriteFileBytes(dest_ / "Uninstall.ini",
                   "[Files]\r\n0=" + d + "\\a.exe\r\n2=" + d + "\\b.exe\r\n99999999999=" + d +
                       "\\c.exe\r\nname=" + d +
                       "\\d.exe\r\n;comment=x\r\n"
                       "[Folders]\r\n1=" +
                       d + "\\f1\r\n0=" + d +
                       "\\f0\r\n"
                       "[Environment]\r\n0=DONE\r\n5=DFIVE\r\n"
                       "[RegistryKeys]\r\n0=DHKEY_CURRENT_USER\\Software\\Demo\r\n");
    ctx_.Wizard.Edit1Disabled = true;
    OpenUninstallRecord(ctx_);
    RecordUninstallItem(ctx_, "Files", d + "\\new1.exe");
    RecordUninstallItem(ctx_, "Files", d + "\\new2.exe");
    RecordUninstallItem(ctx_, "Folders", d + "\\f2");
    RecordUninstallItem(ctx_, "Environment", "dfive"); // still there: once only
    RecordUninstallItem(ctx_, "Environment", "DSIX");
    RecordUninstallItem(ctx_, "RegistryKeys", "DHKEY_CURRENT_USER\\Software\\Other");
    PlaceUninstallRecord(ctx_);

    const Sections s = Placed();
    EXPECT_EQ(Find(s, "Files"), (Keys{{"0", d + "\\a.exe"},
                                      {"1", d + "\\b.exe"},
                                      {"2", d + "\\c.exe"},
                                      {"3", d + "\\d.exe"},
                                      {"4", d + "\\new1.exe"},
                                      {"5", d + "\\new2.exe"}}));
    EXPECT_EQ(Find(s, "Folders"), (Keys{{"0", d + "\\f1"}, {"1", d + "\\f0"}, {"2", d + "\\f2"}}));
    EXPECT_EQ(Find(s, "Environment"), (Keys{{"0", "DONE"}, {"1", "DFIVE"}, {"2", "DSIX"}}));
    EXPECT_EQ(Find(s, "RegistryKeys"), (Keys{{"0", "DHKEY_CURRENT_USER\\Software\\Demo"},
                                             {"1", "DHKEY_CURRENT_USER\\Software\\Other"}}));
}

// Writes held back by a batch land when it ends, in the order they were made, and
// read exactly as single writes would; a once-only check inside the batch sees them.
TEST_F(UninstallRecordTest, BatchedWritesLandWhenTheBatchEnds) {
    Config(kFullConfig);
    const std::string d = dest_.Path();
    OpenUninstallRecord(ctx_);
    RecordProgramFiles(ctx_);
    {
        UninstallRecordBatch batch(ctx_);
        RecordUninstallItem(ctx_, "Folders", d + "\\sub");
        RecordUninstallItem(ctx_, "Files", d + "\\sub\\a.txt");
        RecordUninstallItem(ctx_, "Files", " 'quoted' ");
        RecordUninstallItem(ctx_, "Files", "two<#>lines\r\nhere");
        EXPECT_EQ(RecordKeys(ctx_.Record.UninstallRecordPath, "Files").size(), 3u); // held back
        RecordUninstallItem(ctx_, "Environment", "DPATH");
        RecordUninstallItem(ctx_, "Environment", "dpath"); // sees the first one
    }
    EXPECT_EQ(RecordKeys(ctx_.Record.UninstallRecordPath, "Files").size(), 6u);
    PlaceUninstallRecord(ctx_);
    const Sections s = Placed();
    EXPECT_EQ(Find(s, "Files"), (Keys{{"0", d + "\\Uninstall.exe"},
                                      {"1", d + "\\Uninstall.ini"},
                                      {"2", d + "\\Updater.exe"},
                                      {"3", d + "\\sub\\a.txt"},
                                      {"4", "'quoted'"}, // as a single write stores it
                                      {"5", "two<#>lines<#>here"}}));
    EXPECT_EQ(Find(s, "Folders"), (Keys{{"0", d + "\\sub"}}));
    EXPECT_EQ(Find(s, "Environment"), (Keys{{"0", "DPATH"}}));
    EXPECT_EQ(Find(s, "Messages").at(0).second, "Demo Uninstall");
}

TEST_F(UninstallRecordTest, UpdateRunStartsAFreshRecordWhenTheInstalledOneCannotBeCopied) {
    Config("AppName=Demo\r\n");
    const std::string d = dest_.Path();
    WriteFileBytes(dest_ / "Uninstall.ini", "[Files]\r\n0=" + d + "\\old.exe\r\n");
    ctx_.Wizard.Edit1Disabled = true;
    // Held open without sharing, the installed record cannot be read.
    HANDLE h = CreateFileA((dest_ / "Uninstall.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    OpenUninstallRecord(ctx_);
    RecordProgramFiles(ctx_);
    CloseUninstallRecord(ctx_);
    CloseHandle(h);
    Sections s = ParseIni(ReadFileBytes(setupTemp_ / "qvuninstall.ini"));
    // The fresh record must list the uninstaller itself, as any new record does.
    EXPECT_EQ(Find(s, "Files"), (Keys{{"0", d + "\\Uninstall.exe"}, {"1", d + "\\Uninstall.ini"}}));
    ASSERT_TRUE(Has(s, "General"));
}

TEST_F(UninstallRecordTest, FreshRunIgnoresALeftOverRecord) {
    Config("AppName=Demo\r\n");
    WriteFileBytes(setupTemp_ / "qvuninstall.ini", "[Files]\r\n0=a\r\n1=b\r\n[Fonts]\r\n0=f\r\n");
    OpenUninstallRecord(ctx_);
    RecordUninstallItem(ctx_, "Files", "c");
    RecordUninstallItem(ctx_, "Fonts", "g");
    CloseUninstallRecord(ctx_);
    Sections s = ParseIni(ReadFileBytes(setupTemp_ / "qvuninstall.ini"));
    EXPECT_EQ(Find(s, "Files"), (Keys{{"0", "c"}}));
    EXPECT_EQ(Find(s, "Fonts"), (Keys{{"0", "g"}}));
}

TEST_F(UninstallRecordTest, UninstallOffPlacesNoRecordNorUninstaller) {
    Config("AppName=Demo\r\nUpdater=1\r\n");
    ctx_.UninstallOn = false;
    OpenUninstallRecord(ctx_);
    RecordProgramFiles(ctx_);
    RecordUninstallItem(ctx_, "Files", dest_ / "app.exe");
    PlaceUninstallRecord(ctx_);
    EXPECT_FALSE(PathExists(dest_ / "Uninstall.ini"));
    EXPECT_FALSE(PathExists(dest_ / "Uninstall.exe"));
    EXPECT_EQ(ReadFileBytes(dest_ / "Updater.exe"), "updater bytes");
    // The record was still built in the temp folder.
    Sections s = ParseIni(ReadFileBytes(setupTemp_ / "qvuninstall.ini"));
    EXPECT_EQ(Find(s, "Files"), (Keys{{"0", dest_ / "Updater.exe"}, {"1", dest_ / "app.exe"}}));
}

TEST_F(UninstallRecordTest, PlacingReplacesAndMissingProgramsAreSkipped) {
    Config("AppName=Demo\r\nUpdater=1\r\n");
    DeleteFileA((setupTemp_ / "QVUpdater.exe").c_str());
    WriteFileBytes(dest_ / "Uninstall.ini", "[General]\r\nAppName=Old\r\n[Fonts]\r\n0=x\r\n");
    WriteFileBytes(dest_ / "Uninstall.exe", "old uninstaller");
    OpenUninstallRecord(ctx_);
    PlaceUninstallRecord(ctx_);
    Sections s = Placed();
    EXPECT_FALSE(Has(s, "Fonts"));
    EXPECT_EQ(Find(s, "General").at(0).second, "Demo");
    EXPECT_EQ(ReadFileBytes(dest_ / "Uninstall.exe"), "uninstaller bytes");
    EXPECT_FALSE(PathExists(dest_ / "Updater.exe"));
}

TEST_F(UninstallRecordTest, OnceOnlySectionsIgnoreCaseCountedSectionsDoNot) {
    Config("AppName=Demo\r\n");
    OpenUninstallRecord(ctx_);
    RecordUninstallItem(ctx_, "Environment", "WPATHX*?C:\\Old");
    RecordUninstallItem(ctx_, "Environment", "wpathx*?c:\\old");
    RecordUninstallItem(ctx_, "Environment", "UPATHX*?;C:\\Bin");
    RecordUninstallItem(ctx_, "Fonts", "C:\\f.ttf");
    RecordUninstallItem(ctx_, "Fonts", "C:\\F.TTF");
    RecordUninstallItem(ctx_, "Files", "C:\\a.txt");
    RecordUninstallItem(ctx_, "Files", "C:\\a.txt");
    RecordUninstallItem(ctx_, "RegistryValues", "DHKEY_CURRENT_USER\\Software\\X*?v");
    RecordUninstallItem(ctx_, "RegistryValues", "DHKEY_CURRENT_USER\\Software\\X*?v");
    // The file's section names ignore case, so "files" is the counted section too:
    // numbered after the others, never written over one of them.
    RecordUninstallItem(ctx_, "files", "C:\\b.txt");
    CloseUninstallRecord(ctx_);
    Sections s = ParseIni(ReadFileBytes(setupTemp_ / "qvuninstall.ini"));
    EXPECT_EQ(Find(s, "Environment"), (Keys{{"0", "WPATHX*?C:\\Old"}, {"1", "UPATHX*?;C:\\Bin"}}));
    EXPECT_EQ(Find(s, "Fonts"), (Keys{{"0", "C:\\f.ttf"}}));
    EXPECT_EQ(Find(s, "Files"), (Keys{{"0", "C:\\a.txt"}, {"1", "C:\\a.txt"}, {"2", "C:\\b.txt"}}));
    EXPECT_EQ(Find(s, "RegistryValues").size(), 2u);

    // Once closed, nothing more reaches the record.
    RecordUninstallItem(ctx_, "Files", "C:\\late.txt");
    FlushRecordFile(setupTemp_ / "qvuninstall.ini");
    s = ParseIni(ReadFileBytes(setupTemp_ / "qvuninstall.ini"));
    EXPECT_EQ(Find(s, "Files").size(), 3u);
}

TEST_F(UninstallRecordTest, RecordValuesAreNotCut) {
    Config("AppName=Demo\r\n");
    OpenUninstallRecord(ctx_);
    std::string longText = "E" + std::string(5000, 'x');
    RecordUninstallItem(ctx_, "ExecAfterUninstall", longText);
    RecordUninstallItem(ctx_, "ExecAfterUninstall", longText);
    CloseUninstallRecord(ctx_);
    EXPECT_EQ(RecordKeys(setupTemp_ / "qvuninstall.ini", "ExecAfterUninstall").size(), 1u);
    EXPECT_EQ(RecordValue(setupTemp_ / "qvuninstall.ini", "ExecAfterUninstall", "0"), longText);
}

// ---- the updater's records ----

TEST_F(UninstallRecordTest, UpdaterRunKeyFollowsAdministratorRightsNotScope) {
    Config("AutoCheckUpdate=1\r\n");
    ctx_.PerUser = true;
    ctx_.Admin = true;
    UpdaterRecords r = BuildUpdaterRecords(ctx_);
    ASSERT_EQ(r.Registry.size(), 1u);
    EXPECT_EQ(r.Registry[0], "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run*?<AppName>*?"
                             "REG_SZ*?\"<InstallDir>\\Updater.exe\" /X*?Yes*?Yes*?Default");
    ctx_.Admin = false;
    ctx_.PerUser = false;
    r = BuildUpdaterRecords(ctx_);
    ASSERT_EQ(r.Registry.size(), 1u);
    EXPECT_EQ(r.Registry[0], "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run*?<AppName>*?"
                             "REG_SZ*?\"<InstallDir>\\Updater.exe\" /X*?Yes*?Yes*?Default");
}

TEST_F(UninstallRecordTest, UpdaterIniRecords) {
    Config("AutoCheckUpdate=1\r\n");
    EXPECT_EQ(BuildUpdaterRecords(ctx_).Ini,
              (std::vector<std::string>{
                  "<AppData>\\<AppName>.ini*?Setup*?AutoCheckUpdate*?1*?Yes*?Yes",
                  "<AppData>\\<AppName>.ini*?Setup*?UpdateDay*?1*?Yes*?Yes",
                  "<AppData>\\<AppName>.ini*?Setup*?AutoSilentUpdate*?0*?Yes*?Yes",
                  "<AppData>\\<AppName>.ini*?Setup*?LastCheckDate*?<FormatDate>*?Yes*?Yes"}));
    Config("AutoCheckUpdate=1\r\nUpdateDay=7\r\nAutoSilentUpdate=1\r\n");
    std::vector<std::string> ini = BuildUpdaterRecords(ctx_).Ini;
    ASSERT_EQ(ini.size(), 4u);
    EXPECT_EQ(ini[1], "<AppData>\\<AppName>.ini*?Setup*?UpdateDay*?7*?Yes*?Yes");
    EXPECT_EQ(ini[2], "<AppData>\\<AppName>.ini*?Setup*?AutoSilentUpdate*?1*?Yes*?Yes");

    Config("Updater=1\r\n");
    UpdaterRecords off = BuildUpdaterRecords(ctx_);
    EXPECT_TRUE(off.Registry.empty());
    EXPECT_TRUE(off.Ini.empty());
}

// ---- the installed-programs entry ----

std::string UniqueGuid() {
    return "{" + UniqueName("QVTEST-") + "}";
}

// Removes the test's entry from both views, whatever happened.
class EntryCleanup {
  public:
    EntryCleanup(HKEY root, std::string key) : root_(root), key_(std::move(key)) {}
    ~EntryCleanup() { DeleteKeyTreeInBothViews(root_, key_); }

  private:
    HKEY root_;
    std::string key_;
};

class UninstallEntryTest : public UninstallRecordTest {
  protected:
    // A configuration with a fresh GUID and the entry switched on; the record open.
    std::string Setup(const std::string& extraKeys) {
        guid_ = UniqueGuid();
        Config("AppName=Demo\r\nGUID=" + guid_ + "\r\nShowAddRemove=1\r\n" + extraKeys);
        OpenUninstallRecord(ctx_);
        return guid_;
    }
    std::string guid_;
};

TEST_F(UninstallEntryTest, PerUserEntryHoldsEveryValueWithItsType) {
    std::string key = kUninstallKey + Setup("AppVersion=1.23\r\nCompanyName=Demo Co\r\n"
                                            "WebSite=http://example.test/<AppName>\r\n"
                                            "SupportLink=http://example.test/help\r\n"
                                            "FilesSize=1048576\r\n"
                                            "MainExecutable=<InstallDir>\\demo.exe\r\n");
    EntryCleanup cleanup(HKEY_CURRENT_USER, key);
    ctx_.Admin = true; // an administrator's per-user installation stays per-user
    WriteUninstallEntry(ctx_);
    CloseUninstallRecord(ctx_);

    SYSTEMTIME t;
    GetLocalTime(&t);
    char today[16];
    snprintf(today, sizeof today, "%04u%02u%02u", t.wYear, t.wMonth, t.wDay);
    const std::string d = dest_.Path();
    const struct {
        const char* name;
        DWORD type;
        std::string text;
        DWORD number;
    } expected[] = {
        {"DisplayName", REG_SZ, "Demo", 0},
        {"DisplayVersion", REG_SZ, "1.23", 0},
        {"DisplayIcon", REG_SZ, d + "\\demo.exe", 0},
        {"InstallLocation", REG_SZ, d, 0},
        {"EstimatedSize", REG_DWORD, "", 1024},
        {"InstallDate", REG_SZ, today, 0},
        {"HelpLink", REG_SZ, "http://example.test/help", 0},
        {"Publisher", REG_SZ, "Demo Co", 0},
        {"UninstallString", REG_SZ, d + "\\Uninstall.exe", 0},
        {"URLInfoAbout", REG_SZ, "http://example.test/Demo", 0},
        {"NoModify", REG_DWORD, "", 1},
        {"NoRepair", REG_DWORD, "", 1},
        {"NoRemove", REG_DWORD, "", 0},
        {"VersionMajor", REG_DWORD, "", 1},
        {"VersionMinor", REG_DWORD, "", 23},
    };
    for (const auto& e : expected) {
        RegValue v = ReadRegValue(HKEY_CURRENT_USER, key, e.name, 0);
        ASSERT_TRUE(v.present) << e.name;
        EXPECT_EQ(v.type, e.type) << e.name;
        if (e.type == REG_SZ) {
            EXPECT_EQ(v.text, e.text) << e.name;
        } else {
            EXPECT_EQ(v.number, e.number) << e.name;
        }
    }
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE,
                              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                              "Uninstall\\" +
                                  guid_,
                              0));
    EXPECT_EQ(RecordValue(ctx_.Record.UninstallRecordPath, "RegistryKeys", "0"),
              "DHKEY_CURRENT_USER\\" + key);
    EXPECT_FALSE(ctx_.Errors);
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(UninstallEntryTest, SizeAndVersionNumbers) {
    const struct {
        const char* config;
        DWORD size, major, minor;
    } cases[] = {
        {"FilesSize=1023\r\nAppVersion=2.1 beta\r\n", 0, 2, 1},
        {"FilesSize=1048576\r\nAppVersion=1.23\r\n", 1024, 1, 23},
        {"FilesSize=2047\r\n", 1, 0, 0}, // no version at all
        // A negative size has nothing to estimate; a version part too large for a
        // number counts as 0.
        {"FilesSize=-2048\r\nAppVersion=99999999999.7\r\n", 0, 0, 7},
        {"FilesSize=2147483647\r\nAppVersion=beta\r\n", 2097151, 0, 0},
    };
    for (const auto& c : cases) {
        std::string key = kUninstallKey + Setup(c.config);
        EntryCleanup cleanup(HKEY_CURRENT_USER, key);
        WriteUninstallEntry(ctx_);
        EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, key, "EstimatedSize", 0).number, c.size)
            << c.config;
        EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, key, "VersionMajor", 0).number, c.major)
            << c.config;
        EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, key, "VersionMinor", 0).number, c.minor)
            << c.config;
        // Without a main executable there is no icon value.
        EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, key, "DisplayIcon", 0).present);
    }
}

TEST_F(UninstallEntryTest, AllUsersEntryLandsInTheSetupsView) {
    for (bool is64 : {false, true}) {
        ctx_.PerUser = false;
        ctx_.Is64 = is64;
        std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Setup("");
        EntryCleanup cleanup(HKEY_LOCAL_MACHINE, key);
        WriteUninstallEntry(ctx_);
        REGSAM own = is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        REGSAM other = is64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, key, "DisplayName", own).text, "Demo") << is64;
        EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, kUninstallKey + guid_, kRuntimeView)) << is64;
        if (SixtyFourBitWindows()) {
            EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, key, other)) << is64;
        }
        EXPECT_EQ(RecordValue(ctx_.Record.UninstallRecordPath, "RegistryKeys", "0"),
                  "DHKEY_LOCAL_MACHINE\\" + key);
    }
}

TEST_F(UninstallEntryTest, NothingWithoutUninstallOrShowAddRemove) {
    std::string key = kUninstallKey + Setup("");
    EntryCleanup cleanup(HKEY_CURRENT_USER, key);
    ctx_.UninstallOn = false;
    WriteUninstallEntry(ctx_);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, key, kRuntimeView));

    ctx_.UninstallOn = true;
    Config("AppName=Demo\r\nGUID=" + guid_ + "\r\n");
    WriteUninstallEntry(ctx_);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, key, kRuntimeView));
    EXPECT_TRUE(RecordKeys(ctx_.Record.UninstallRecordPath, "RegistryKeys").empty());
}

TEST_F(UninstallEntryTest, AGuidThatNamesNoKeyOfItsOwnIsRefused) {
    // An existing subkey that a GUID with a backslash would reach into.
    std::string victim = UniqueGuid();
    std::string victimKey = kUninstallKey + victim;
    EntryCleanup cleanupVictim(HKEY_CURRENT_USER, victimKey);
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, victimKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    const std::string uninstall = std::string(kUninstallKey).substr(0, strlen(kUninstallKey) - 1);
    RegValue before = ReadRegValue(HKEY_CURRENT_USER, uninstall, "DisplayName", 0);

    for (const std::string& guid : {std::string(), victim + "\\sub", std::string("..\\Run")}) {
        prompt_.boxes.clear();
        ctx_.LogList.clear();
        ctx_.Errors = false;
        Config("AppName=Demo\r\nGUID=" + guid + "\r\nShowAddRemove=1\r\n");
        OpenUninstallRecord(ctx_);
        WriteUninstallEntry(ctx_);
        const std::string keyText = "HKEY_CURRENT_USER\\" + std::string(kUninstallKey) + guid;
        EXPECT_EQ(ctx_.LogList,
                  (std::vector<std::string>{"Error creating registry key: " + keyText}));
        ASSERT_EQ(prompt_.boxes.size(), 1u) << guid;
        EXPECT_EQ(prompt_.boxes[0].text, "Cannot create the key " + keyText + ".");
        EXPECT_EQ(prompt_.boxes[0].caption, "Setup");
        EXPECT_EQ(prompt_.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
        EXPECT_TRUE(ctx_.Errors);
        EXPECT_TRUE(RecordKeys(ctx_.Record.UninstallRecordPath, "RegistryKeys").empty()) << guid;
    }
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, victimKey + "\\sub", kRuntimeView));
    RegValue after = ReadRegValue(HKEY_CURRENT_USER, uninstall, "DisplayName", 0);
    EXPECT_EQ(after.present, before.present);
    EXPECT_EQ(after.text, before.text);

    // A silent run reports the failure without a box.
    prompt_.boxes.clear();
    ctx_.Silent = true;
    ctx_.Errors = false;
    Config("AppName=Demo\r\nShowAddRemove=1\r\n");
    WriteUninstallEntry(ctx_);
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_TRUE(ctx_.Errors);
}

// A whole run of an empty payload, seen through the Install page: the status texts in
// phase order (the language has no [Install] texts, so the built-in ones show), a
// Cancel confirmed while shortcuts are made skips the registry phase entirely but no
// later phase, and the run still ends with the bar full and the record placed.
TEST_F(UninstallRecordTest, RunPhasesInOrderAndACancelSkipsOnlyTheRegistry) {
    const std::string key = "Software\\QvRunTest" + UniqueGuid();
    // Without rollback: a cancelled run goes on to its end and places its record (with
    // rollback it stops before the commands, and its end undoes it).
    Config(
        "AppName=Demo\r\nTotalFiles=0\r\nRollback=0\r\n[Registry]\r\n0=HKCU\\" + key +
        "*?v*?REG_SZ*?x*?Yes*?No*?Default\r\n[INI]\r\n0=<InstallDir>\\a.ini*?S*?K*?V*?Yes*?No\r\n");
    std::vector<std::string> tasks;
    const std::string* cancelAt = nullptr;
    ctx_.View.InstallViewChanged = [&] {
        if (tasks.empty() || tasks.back() != ctx_.View.LTask) tasks.push_back(ctx_.View.LTask);
        if (cancelAt && ctx_.View.LTask == *cancelAt) ctx_.Cancel = true;
    };
    ctx_.Wizard.Edit1 = "  " + dest_.Path() + "\\ ";
    auto registryWritten = [&] { return RegKeyExists(HKEY_CURRENT_USER, key, 0); };

    // Without a cancel every phase writes.
    RunInstallation(ctx_);
    EXPECT_EQ(ctx_.Wizard.Edit1, dest_.Path()); // trimmed, no trailing backslash
    EXPECT_EQ(tasks,
              (std::vector<std::string>{"Installing files...", "Creating shortcuts...",
                                        "Creating registry entries...", "Modifying INI files...",
                                        "Creating registry entries...", "Finishing setup..."}));
    EXPECT_TRUE(registryWritten());
    EXPECT_EQ(ctx_.View.ProgressBar1, 100);
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    DeleteFileA((dest_ / "a.ini").c_str());
    DeleteFileA((dest_ / "Uninstall.ini").c_str());

    const std::string shortcuts = "Creating shortcuts...";
    cancelAt = &shortcuts;
    tasks.clear();
    RunInstallation(ctx_);
    EXPECT_FALSE(registryWritten());
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    EXPECT_EQ(IniValue(dest_ / "a.ini", "S", "K", ""), "V");
    EXPECT_EQ(tasks.back(), "Finishing setup...");
    EXPECT_EQ(ctx_.View.ProgressBar1, 100);
    EXPECT_TRUE(PathExists(dest_ / "Uninstall.ini"));
    EXPECT_EQ(ReadFileBytes(dest_ / "Uninstall.exe"), "uninstaller bytes");
    EXPECT_FALSE(ctx_.Errors);

    // The language's own status texts are expanded like every text of the page.
    WriteFileBytes(setupTemp_ / "Englishqv.lng", ReadFileBytes(setupTemp_ / "Englishqv.lng") +
                                                     "[Install]\r\n3=Linking <AppName>...\r\n");
    cancelAt = nullptr;
    tasks.clear();
    RunInstallation(ctx_);
    ASSERT_GE(tasks.size(), 2u);
    EXPECT_EQ(tasks[1], "Linking Demo...");
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
}

} // namespace
