// The builder's checks of a project: each mistake a product maker can make in
// setup.ini or the setup folder is reported at its line with the right weight, a
// sound project gets no finding at all, and the builder's knowledge of the
// configuration is the runtime's own.
#include "Builder.h"
#include "CheckText.h"
#include "Checks.h"
#include "Project.h"
#include "SetupIniRules.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "config/IniFile.h"
#include "platform/SafePath.h"
#include "run/SetupKeys.h"
#include "text/PathConstants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using mksetup::Diagnostic;
using mksetup::Severity;

namespace {

const Severity E = Severity::Error;
const Severity W = Severity::Warning;

// A sound [Setup] section: nothing in it deserves a finding.
const char kSetup[] = "[Setup]\r\n"
                      "AppName=Good Product\r\n"
                      "AppVersion=1.0\r\n"
                      "GUID={0C5E2B1A-3F4D-4E5A-9B6C-7D8E9F0A1B2C}\r\n"
                      "InstallationPath=<ProgramFiles>\\Good Product\r\n"
                      "Windows 7=1\r\n"
                      "Windows 8.1=1\r\n";

std::string All(const std::vector<Diagnostic>& findings) {
    std::string out;
    for (const Diagnostic& d : findings)
        out += "\n  " + mksetup::FormatDiagnostic(d);
    return out.empty() ? " (none)" : out;
}

class ChecksTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::vector<std::string> payload = {"<InstallDir>\\app.exe", "<InstallDir>\\doc\\readme.txt"};
    std::vector<std::pair<std::string, std::string>> setupFiles;
    std::vector<Diagnostic> found;

    void SetUp() override {
        CreateDirectoryA((dir / "setup").c_str(), nullptr);
        setupFiles = {{"qvwizard.bmp", MakeBitmapFile(500, 314)},
                      {"qvheader.bmp", MakeBitmapFile(498, 55)},
                      {"Englishqv.lng",
                       ReadFileBytes(QV_SOURCE_DIR "\\examples\\demo\\setup\\Englishqv.lng")}};
    }

    void PutSetupFile(const std::string& name, const std::string& bytes) {
        for (auto& f : setupFiles)
            if (f.first == name) {
                f.second = bytes;
                return;
            }
        setupFiles.emplace_back(name, bytes);
    }

    // Checks a project made of this setup.ini text (the sound [Setup] section first
    // unless the text brings its own), the payload destinations and the setup files.
    const std::vector<Diagnostic>& Check(const std::string& body, bool withSetup = true) {
        ini = (withSetup ? std::string(kSetup) : "") + body;
        mksetup::Project p;
        p.dir = dir.Path();
        p.sections = mksetup::ParseIniText(ini, "setup.ini");
        for (const std::string& d : payload) {
            mksetup::PayloadFile f;
            f.destination = d;
            f.existMode = "OVERWRITE";
            f.line = 1;
            p.payload.push_back(f);
        }
        for (const auto& [name, bytes] : setupFiles) {
            WriteFileBytes(dir / ("setup\\" + name), bytes);
            p.setupFiles.push_back(dir / ("setup\\" + name));
        }
        found = mksetup::CheckProject(p, "setup.ini", "setup");
        return found;
    }

    // The 1-based line of the first line of the last checked text that holds what.
    int LineOf(const std::string& what) const {
        size_t at = ini.find(what);
        return at == std::string::npos
                   ? -1
                   : 1 + static_cast<int>(std::count(ini.begin(), ini.begin() + at, '\n'));
    }

    // A finding of this weight on the line that holds `at` (any line for an empty
    // `at`, for findings about a whole file) whose text contains `text`.
    ::testing::AssertionResult Has(Severity severity, const std::string& at,
                                   const std::string& text,
                                   const std::string& file = "setup.ini") const {
        const int line = at.empty() ? 0 : LineOf(at);
        for (const Diagnostic& d : found)
            if (d.severity == severity && d.file == file && (at.empty() || d.line == line) &&
                d.text.find(text) != std::string::npos)
                return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << (severity == E ? "error" : "warning") << " '" << text << "' at line " << line
               << " of " << file << " not found among:" << All(found);
    }

    size_t Count(Severity severity) const {
        return static_cast<size_t>(
            std::count_if(found.begin(), found.end(),
                          [&](const Diagnostic& d) { return d.severity == severity; }));
    }

    std::string ini;
};

TEST_F(ChecksTest, SoundProjectHasNoFindings) {
    Check(
        "DialogWelcome=1\r\nDialogLicense=1\r\nDialogFinish=1\r\nLaunchFile=1\r\n"
        "LaunchFileName=<InstallDir>\\app.exe /first\r\nMainExecutable=<InstallDir>\\app.exe,0\r\n"
        "Uninstall=1\r\nShowAddRemove=1\r\n\r\n"
        "[Variables]\r\n0=<DataDir>*?HKCU\\Software\\Good*?Data*?STRING*?<AppData>\\Good*?"
        "DEFAULT\r\n"
        "[Shortcuts]\r\n0=<ProgramGroup>\\Good.lnk*?<InstallDir>\\app.exe*?Good*?*?*?*?0*?"
        "Normal\r\n"
        "[Registry]\r\n0=HKCU\\Software\\Good*?Count*?REG_DWORD*?$10*?Yes*?Yes*?Default\r\n"
        "1=HKCU\\Software\\Good*?Blob*?REG_BINARY*?01 a0 ff*?Yes*?Yes*?32-bit\r\n"
        "[INI]\r\n0=<DataDir>\\good.ini*?Main*?Path*?<InstallDir>*?Yes*?Yes\r\n"
        "[Environments]\r\n0=GOOD_HOME*?<InstallDir>*?OVERWRITE*?Yes\r\n"
        "[Extensions]\r\n0=good*?<InstallDir>\\app.exe*?Good Document*?*?0\r\n"
        "[Commands]\r\n0=<InstallDir>\\app.exe*?/setup*?HIDE*?AFTER INSTALLATION*?Yes*?All*?No\r\n"
        "[Prerequisites]\r\n0=Tool*?https://example.invalid/*?*?FOLDER EXISTS*?<WindowsDir>\r\n");
    PutSetupFile("L(Default).rtf", "{\\rtf1 licence}");
    Check(ini, false);
    EXPECT_TRUE(found.empty()) << All(found);
}

TEST_F(ChecksTest, UnknownSetupKeysAndSectionsNameTheNearestKnownOne) {
    Check("DialogWellcome=1\r\nInstalationPath=C:\\x\r\nFrobnicate=1\r\n[Shortcut]\r\n0=x\r\n");
    EXPECT_TRUE(Has(E, "DialogWellcome", "unknown [Setup] key 'DialogWellcome'"));
    EXPECT_TRUE(Has(E, "DialogWellcome", "did you mean 'DialogWelcome'?"));
    EXPECT_TRUE(Has(E, "InstalationPath", "did you mean 'InstallationPath'?"));
    EXPECT_TRUE(Has(E, "Frobnicate", "unknown [Setup] key 'Frobnicate': the setup never reads it"));
    EXPECT_FALSE(Has(E, "Frobnicate", "did you mean")) << "no name is close to it";
    EXPECT_TRUE(Has(E, "[Shortcut]", "unknown section [Shortcut]"));
    EXPECT_TRUE(Has(E, "[Shortcut]", "did you mean 'Shortcuts'?"));
}

TEST_F(ChecksTest, ValuesOfTheWrongKind) {
    Check("Uninstall=Yes\r\nInstallLevel=all\r\nDialogWelcome=2\r\nInstallMode=7\r\nAdmin=\r\n"
          "SQLVersion=0x2\r\nIEVersion=latest\r\nEngineSize=5\r\nListFiles=1\r\n");
    EXPECT_TRUE(
        Has(E, "Uninstall=Yes", "'Uninstall' is a yes/no setting written 1 or 0, not 'Yes'"));
    EXPECT_TRUE(Has(E, "InstallLevel=all",
                    "'InstallLevel' is a number, not 'all'; the setup would read it as 1"));
    EXPECT_TRUE(Has(W, "DialogWelcome=2", "counts as 1"));
    EXPECT_TRUE(Has(W, "InstallMode=7", "outside 0..2"));
    EXPECT_TRUE(Has(W, "Admin=", "'Admin' is empty: the setup uses its default 1"));
    EXPECT_FALSE(Has(E, "SQLVersion", "")) << "hexadecimal is a number too";
    EXPECT_FALSE(Has(W, "SQLVersion", ""));
    EXPECT_TRUE(Has(E, "IEVersion=latest", "is not a version"));
    EXPECT_TRUE(Has(W, "EngineSize=5", "written by the builder"));
    EXPECT_TRUE(Has(W, "ListFiles=1", "not read"));
}

TEST_F(ChecksTest, WindowsTenAndElevenAreWindowsEightPointOneToASetup) {
    Check("[Setup]\r\nAppName=X\r\nWindows 7=1\r\nWindows 10=1\r\n", false);
    EXPECT_TRUE(Has(E, "Windows 10", "set 'Windows 8.1=1' to support them"));
    Check("[Setup]\r\nAppName=X\r\nWindows 8.1=1\r\nWindows 11=1\r\n", false);
    EXPECT_TRUE(Has(W, "Windows 11", "which 'Windows 8.1=1' already supports"));
    EXPECT_EQ(Count(E), 0u) << All(found);
    Check("[Setup]\r\nAppName=X\r\nInstallationPath=C:\\X\r\nWindows 7=0\r\n", false);
    EXPECT_TRUE(Has(W, "[Setup]", "no Windows version is marked as supported"));
}

TEST_F(ChecksTest, SettingsThatNeedAnother) {
    Check("[Setup]\r\nAppName=\r\nUninstall=1\r\nShowAddRemove=1\r\nLaunchFile=1\r\nInfoCompanyReq="
          "1\r\n"
          "AutoCheckUpdate=1\r\nCheckVersions=1\r\nWindows 7=1\r\nGUID=a\\b\r\n",
          false);
    EXPECT_TRUE(Has(W, "AppName=", "'AppName' is empty"));
    EXPECT_TRUE(Has(E, "GUID=a", "must not contain a backslash"));
    EXPECT_TRUE(Has(W, "LaunchFile=1", "'LaunchFileName' is empty"));
    EXPECT_TRUE(Has(W, "InfoCompanyReq", "while 'InfoCompany' is off"));
    EXPECT_TRUE(Has(W, "AutoCheckUpdate", "'Updater=0' does not install"));
    EXPECT_TRUE(Has(W, "CheckVersions", "only to updates"));
    EXPECT_TRUE(Has(W, "[Setup]", "'InstallationPath' is empty and the Destination page is off"));
    Check("[Setup]\r\nAppName=A\r\nUninstall=1\r\nShowAddRemove=1\r\nWindows "
          "7=1\r\nInstallationPath=C:\\A\r\n",
          false);
    EXPECT_TRUE(Has(E, "ShowAddRemove", "needs a 'GUID'"));
    Check("ShowAddRemove=1\r\n");
    EXPECT_TRUE(Has(W, "ShowAddRemove", "does nothing without 'Uninstall=1'"));
}

TEST_F(ChecksTest, RecordsWithTheWrongNumberOfFields) {
    const struct {
        const char* section;
        const char* record;
        const char* expected;
    } cases[] = {
        {"Variables", "<V>*?HKCU\\X*?v*?STRING*?d", "has 5 fields; it needs 6"},
        {"Shortcuts", "<Desktop>\\A.lnk*?<InstallDir>\\app.exe*?d*?*?*?*?0*?",
         "an empty last field is lost"},
        {"Extensions", "abc*?<InstallDir>\\app.exe*?ABC*?", "it needs 5"},
        {"Registry", "HKCU\\X?v?REG_SZ?d?Yes?Yes?Default", "fields are separated by *?, not ?"},
        {"INI", "C:\\a.ini*?S*?K*?V*?Yes",
         "it needs 6: file*?section*?key*?value*?overwrite*?remove on uninstall"},
        {"Environments", "N*?V*?APPEND", "it needs 4"},
        {"Others", "FONT*?C:\\f.ttf*?No*?extra", "has 4 fields; it needs 3"},
        {"Commands", "a.exe*?*?HIDE*?AFTER INSTALLATION*?Yes*?All", "it needs 7"},
        {"Prerequisites", "P*?L*?*?FILE EXISTS", "it needs 6"},
    };
    for (const auto& c : cases) {
        Check(std::string("[") + c.section + "]\r\nk=" + c.record + "\r\n");
        EXPECT_TRUE(Has(E, std::string("k=") + c.record, c.expected)) << c.section;
        EXPECT_TRUE(Has(E, std::string("k=") + c.record, "The setup would skip it")) << c.section;
    }
    // Five fields are enough for a prerequisite: an empty value field is added.
    Check("[Prerequisites]\r\nk=P*?L*?*?FILE EXISTS*?C:\\x.dll\r\n");
    EXPECT_EQ(Count(E), 0u) << All(found);
}

TEST_F(ChecksTest, UnknownWordsInFixedFields) {
    const struct {
        const char* section;
        const char* record;
        Severity severity;
        const char* expected;
    } cases[] = {
        {"Registry", "HKCU\\X*?v*?REG_DWROD*?1*?Yes*?Yes*?Default", E, "did you mean 'REG_DWORD'?"},
        {"Registry", "HKCX\\X*?v*?REG_SZ*?1*?Yes*?Yes*?Default", E,
         "root 'HKCX' is not HKCR, HKCU"},
        {"Registry", "Software\\X*?v*?REG_SZ*?1*?Yes*?Yes*?Default", E, "root 'Software' is not"},
        {"Registry", "HKCU*?v*?REG_SZ*?1*?Yes*?Yes*?Default", E, "needs a root and a key path"},
        {"Registry", "HKCU\\X*?v*?REG_SZ*?1*?Yes*?Yes*?Both", E,
         "view 'Both' is not DEFAULT, 32-BIT or 64-BIT"},
        {"Registry", "HKCU\\X*?v*?REG_SZ*?1*?Yes*?Yes*? 64-BIT", E, "blanks around a word"},
        {"Variables", "<V>*?HKCU\\X*?v*?STRING*?d*?64 bit", E, "did you mean '64-BIT'?"},
        {"Variables", "<V>*?HKCU\\X*?v*?TEXT*?d*?DEFAULT", W, "takes it as an integer (DWORD)"},
        {"Environments", "N*?V*?ADD*?Yes", E,
         "action 'ADD' is not OVERWRITE, APPEND, PREPEND or REMOVE"},
        {"Others", "FONTS*?C:\\f.ttf*?No", E, "did you mean 'FONT'?"},
        {"Commands", "a.exe*?*?HIDE*?AFTER INSTALL*?Yes*?All*?No", E,
         "did you mean 'AFTER INSTALLATION'?"},
        {"Commands", "a.exe*?*?MAXIMISE*?AFTER INSTALLATION*?Yes*?All*?No", W,
         "takes it as a normal window"},
        {"Commands", "a.exe*?*?HIDE*?AFTER INSTALLATION*?Yes*?64*?No", W,
         "takes it as every platform"},
        {"Shortcuts", "<Desktop>\\A.lnk*?C:\\a.exe*?d*?*?*?*?0*?Big", W, "show state 'Big'"},
        {"Prerequisites", "P*?L*?X64*?FILE EXIST*?C:\\x*?", E, "did you mean 'FILE EXISTS'?"},
        {"Prerequisites", "P*?L*?*?*?C:\\x*?v", E, "condition '' is not"},
    };
    for (const auto& c : cases) {
        Check(std::string("[") + c.section + "]\r\nk=" + c.record + "\r\n");
        EXPECT_TRUE(Has(c.severity, std::string("k=") + c.record, c.expected)) << c.record;
    }
}

TEST_F(ChecksTest, YesNoAndNumberFields) {
    Check("[INI]\r\nk=C:\\a.ini*?S*?K*?V*?True*?yes\r\n"
          "[Shortcuts]\r\nk=<Desktop>\\A.lnk*?C:\\a.exe*?d*?*?*?C:\\a.ico*?first*?Normal\r\n");
    EXPECT_TRUE(Has(W, "k=C:\\a.ini", "overwrite 'True' is neither Yes nor No: it counts as No"));
    EXPECT_FALSE(Has(W, "k=C:\\a.ini", "remove on uninstall"));
    EXPECT_TRUE(Has(W, "k=<Desktop>", "icon index 'first' is not a number: it counts as 0"));
}

TEST_F(ChecksTest, RegistryData) {
    Check("[Registry]\r\n"
          "a=HKCU\\X*?v*?REG_DWORD*?12x*?Yes*?Yes*?Default\r\n"
          "b=HKCU\\X*?v*?REG_DWORD*?4294967296*?Yes*?Yes*?Default\r\n"
          "c=HKCU\\X*?v*?REG_DWORD*?-2147483648*?Yes*?Yes*?Default\r\n"
          "d=HKCU\\X*?v*?REG_BINARY*?0A0B*?Yes*?Yes*?Default\r\n"
          "e=HKCU\\X*?v*?REG_BINARY*?01 zz*?Yes*?Yes*?Default\r\n"
          "f=HKCU\\X*?v*?REG_BINARY*?01,02,0*?Yes*?Yes*?Default\r\n"
          "g=HKCU\\X*?v*?REG_DWORD*?<Count>*?Yes*?Yes*?Default\r\n");
    EXPECT_TRUE(Has(E, "a=HKCU", "data '12x' is not a 32-bit number"));
    EXPECT_TRUE(Has(E, "b=HKCU", "is not a 32-bit number"));
    EXPECT_FALSE(Has(E, "c=HKCU", "")) << "the smallest 32-bit number";
    EXPECT_TRUE(Has(W, "d=HKCU", "gives only the byte 0A"));
    EXPECT_TRUE(Has(E, "e=HKCU", "'zz' is not a hexadecimal byte"));
    EXPECT_TRUE(Has(W, "f=HKCU", "ends in a lone character"));
    EXPECT_FALSE(Has(E, "g=HKCU", "not a 32-bit number")) << "known only on the target machine";
}

TEST_F(ChecksTest, UnknownConstantsAndVariables) {
    payload.push_back("<ProgramFile>\\Good\\a.txt");
    Check(
        "ProgramGroup=<AppNam>\r\nCloseAppText=<Product>\r\n"
        "[Variables]\r\n0=<DataDir>*?HKCU\\Software\\Good*?Data*?STRING*?<AppData>*?DEFAULT\r\n"
        "[INI]\r\n0=<DataDir>\\a.ini*?S*?K*?<DataDirr>*?Yes*?Yes\r\n"
        "[Commands]\r\n0=<InstalDir>\\app.exe*?<Path>*?HIDE*?AFTER INSTALLATION*?Yes*?All*?No\r\n");
    EXPECT_TRUE(Has(E, "ProgramGroup=",
                    "names <AppNam>, which is neither a path constant nor a user variable"));
    EXPECT_TRUE(Has(E, "ProgramGroup=", "did you mean '<AppName>'?"));
    EXPECT_TRUE(Has(W, "CloseAppText", "names <Product>")) << "only shown as text";
    EXPECT_TRUE(Has(W, "0=<DataDir>\\a.ini", "did you mean '<DataDir>'?"))
        << "user variables count";
    EXPECT_TRUE(Has(E, "0=<InstalDir>", "[Commands] program names <InstalDir>"));
    EXPECT_TRUE(Has(W, "0=<InstalDir>", "[Commands] parameters names <Path>"));
    // The payload line given to every destination by the test is line 1.
    EXPECT_TRUE(Has(E, "[Setup]", "[Payload] destination names <ProgramFile>"));
    EXPECT_TRUE(Has(E, "[Setup]", "did you mean '<ProgramFiles>'?"));
    EXPECT_FALSE(Has(E, "[Variables]", "<DataDir>")) << "a defined variable is known";
}

TEST_F(ChecksTest, PathsTheRuntimeWouldRefuse) {
    payload = {"<InstallDir>\\..\\evil.exe", "<InstallDir>\\logs\\NUL.txt",
               "<AppName>\\x.txt",           "<InstallDir>app.exe",
               "<InstallDir>\\a\\\\b.txt",   "<InstallDir>\\a:b.txt"};
    Check("[Setup]\r\nAppName=A\r\nWindows 7=1\r\nInstallationPath=Program Files\\Good\r\n"
          "[INI]\r\n0=settings.ini*?S*?K*?V*?Yes*?Yes\r\n"
          "[Shortcuts]\r\n0=<AppData>\\..\\a.lnk*?C:\\a.exe*?d*?*?*?*?0*?Normal\r\n"
          "[Others]\r\n0=FONT*?font.ttf*?No\r\n",
          false);
    EXPECT_TRUE(Has(E, "InstallationPath", "is not a full path"));
    EXPECT_TRUE(Has(E, "0=settings.ini", "[INI] file 'settings.ini' is not a full path"));
    EXPECT_TRUE(Has(E, "0=<AppData>", "climb out of their folder"));
    EXPECT_TRUE(Has(E, "0=FONT", "'font.ttf' is not a full path"));
    EXPECT_TRUE(Has(E, "[Setup]", "'<InstallDir>\\..\\evil.exe' holds '..'"));
    EXPECT_TRUE(Has(E, "[Setup]", "names the device NUL"));
    EXPECT_TRUE(Has(E, "[Setup]", "starts with <AppName>, which is not a folder"));
    EXPECT_TRUE(Has(E, "[Setup]", "needs a backslash after <InstallDir>"));
    EXPECT_TRUE(Has(E, "[Setup]", "holds an empty folder name"));
    EXPECT_TRUE(Has(E, "[Setup]", "'a:b.txt', which has a character not allowed"));
}

// The builder's rule for literal paths is the runtime's: it refuses exactly the
// destinations the runtime would not place a file at.
TEST_F(ChecksTest, PathRuleAgreesWithTheRuntime) {
    const char* const paths[] = {"C:\\Program Files\\App\\a.exe",
                                 "C:\\a\\..\\b.exe",
                                 "C:\\a\\.\\b.exe",
                                 "C:\\a\\NUL",
                                 "C:\\a\\nul.txt",
                                 "C:\\a\\COM1.log",
                                 "C:\\a\\CONIN$",
                                 "C:\\a\\com0.txt",
                                 "C:\\a\\lpt9",
                                 "C:\\a\\b:c.txt",
                                 "C:\\a\\b*.txt",
                                 "C:\\a\\\\b.txt",
                                 "\\\\server\\share\\a.txt",
                                 "\\\\server\\a.txt",
                                 "C:\\a\\b?.txt",
                                 "C:\\a\\...\\b",
                                 "C:\\a\\b|c",
                                 "C:\\a\\con .txt",
                                 "C:\\a\\console.txt",
                                 "C:\\auxiliary\\x"};
    for (const char* path : paths) {
        payload = {path};
        Check("");
        const bool builderRefuses = Count(E) > 0;
        EXPECT_EQ(builderRefuses, !IsSafeDestination(path)) << path << All(found);
    }
}

TEST_F(ChecksTest, FilesBelowInstallDirThatNoPayloadFileInstalls) {
    Check("MainExecutable=<InstallDir>\\<AppName>.exe\r\nLaunchFile=1\r\n"
          "LaunchFileName=<InstallDir>\\ap.exe "
          "/go\r\nViewReadme=1\r\nViewReadmeFile=<InstallDir>\\doc\\readme.txt\r\n"
          "Uninstall=1\r\n"
          "[Shortcuts]\r\n0=<Desktop>\\A.lnk*?<InstallDir>\\bin\\app.exe*?d*?*?*?*?0*?Normal\r\n"
          "1=<Desktop>\\B.lnk*?<InstallDir>\\Uninstall.exe*?d*?*?*?*?0*?Normal\r\n"
          "[Extensions]\r\n0=abc*?\"<InstallDir>\\App.EXE\"*?ABC*?*?0\r\n"
          "[Others]\r\n0=FONT*?<InstallDir>\\font.ttf*?No\r\n"
          "[Commands]\r\n0=<InstallDir>\\setup-db.exe*?*?HIDE*?BEFORE "
          "INSTALLATION*?Yes*?All*?No\r\n");
    EXPECT_TRUE(Has(W, "MainExecutable",
                    "'<InstallDir>\\<AppName>.exe' is not installed by any [Payload] file"));
    EXPECT_TRUE(Has(W, "LaunchFileName", "'<InstallDir>\\ap.exe' is not installed"));
    EXPECT_TRUE(Has(W, "LaunchFileName", "did you mean '<InstallDir>\\app.exe'?"));
    EXPECT_FALSE(Has(W, "ViewReadmeFile", ""));
    EXPECT_TRUE(
        Has(W, "0=<Desktop>", "[Shortcuts] target '<InstallDir>\\bin\\app.exe' is not installed"));
    EXPECT_FALSE(Has(W, "1=<Desktop>", "")) << "the setup places the uninstaller itself";
    EXPECT_FALSE(Has(W, "0=abc", "")) << "quotes and letter case do not matter";
    EXPECT_TRUE(Has(W, "0=FONT", "[Others] file '<InstallDir>\\font.ttf' is not installed"));
    EXPECT_TRUE(Has(W, "setup-db", "before the files are installed"));
    EXPECT_EQ(Count(E), 0u) << All(found);
}

TEST_F(ChecksTest, RecordDetails) {
    Check("[Variables]\r\n0=DataDir*?HKCU\\X*?v*?STRING*?d*?DEFAULT\r\n"
          "[Shortcuts]\r\n0=<Desktop>\\App*?C:\\a.exe*?d*?*?*?*?0*?Normal\r\n"
          "[Extensions]\r\n0=.abc*?C:\\a.exe*?ABC*?*?0\r\n"
          "[INI]\r\n0=C:\\a.ini*?*?K*?V*?Yes*?Yes\r\n1=C:\\a.ini*?S*?K=1*?V*?Yes*?Yes\r\n"
          "[Environments]\r\n0=A=B*?V*?OVERWRITE*?Yes\r\n"
          "[Commands]\r\n0=*?x*?HIDE*?AFTER INSTALLATION*?Yes*?All*?No\r\n"
          "[Prerequisites]\r\n0=P*?L*?*?REGISTRY VALUE CONTENTS*?Software\\X\\v\r\n"
          "[Others]\r\n0=\r\n");
    EXPECT_TRUE(Has(W, "0=DataDir", "not written in angle brackets"));
    EXPECT_TRUE(Has(W, "0=<Desktop>\\App", "does not end in .lnk"));
    EXPECT_TRUE(Has(E, "0=.abc", "without its dot"));
    EXPECT_TRUE(Has(E, "0=C:\\a.ini*?*?", "[INI] section ''"));
    EXPECT_TRUE(Has(E, "1=C:\\a.ini", "[INI] key 'K=1'"));
    EXPECT_TRUE(Has(E, "0=A=B", "not an environment variable name"));
    EXPECT_TRUE(Has(E, "0=*?x", "[Commands] program is empty"));
    EXPECT_TRUE(Has(W, "0=P*?L", "current user's hive"));
    EXPECT_TRUE(Has(W, "0=P*?L", "with an empty value is never met"));
    EXPECT_FALSE(Has(W, "[Others]", "")) << "a blank [Others] record is passed over";
}

TEST_F(ChecksTest, LanguageFiles) {
    PutSetupFile("Germanqv.lng",
                 "[Info]\r\nid=1031\r\n[Title]\r\n0=Installation\r\n"
                 "[Buttons]\r\n0=<\r\n1=>\r\n2=Abbrechen\r\n[Welcome]\r\n0=Willkommen\r\n");
    Check("DefaultLanguage=Deutsch\r\nDialogWelcome=1\r\nDialogReady=1\r\n");
    EXPECT_TRUE(Has(E, "DefaultLanguage", "the setup folder has no Deutschqv.lng"));
    EXPECT_TRUE(Has(E, "DefaultLanguage", "show every text empty"));
    EXPECT_TRUE(Has(W, "", "lacks [Welcome] 1, used by the Welcome page (DialogWelcome=1)",
                    "setup\\Germanqv.lng"));
    EXPECT_TRUE(Has(W, "",
                    "lacks [ReadyToInstall] 0, 1, 2; [Setup] 0, 1, 2, used by the Ready page",
                    "setup\\Germanqv.lng"));
    EXPECT_TRUE(Has(W, "", "[Messages] 0, 1, used by the cancel question", "setup\\Germanqv.lng"));
    EXPECT_FALSE(Has(W, "", "lacks", "setup\\Englishqv.lng")) << "the full English file";

    // Automatic choice may still find a language, so a wrong default only warns; it
    // reads [Info] id, which every file then needs.
    PutSetupFile("Germanqv.lng", "[Title]\r\n0=x\r\n");
    Check("DefaultLanguage=german\r\nAutoDetectLanguage=1\r\nUninstall=1\r\nSilentInstall=1\r\n");
    EXPECT_EQ(Count(E), 0u) << All(found);
    EXPECT_TRUE(Has(W, "", "lacks [Uninstall] 0, 1, 2, 3, 4, 5, 6", "setup\\Germanqv.lng"));
    EXPECT_TRUE(Has(W, "", "lacks [Info] id", "setup\\Germanqv.lng"));
    EXPECT_FALSE(Has(W, "", "[Welcome]", "setup\\Germanqv.lng")) << "a silent setup shows no page";
    Check("DefaultLanguage=Klingon\r\nAutoDetectLanguage=1\r\n");
    EXPECT_TRUE(Has(W, "DefaultLanguage", "only systems whose language matches"));
}

TEST_F(ChecksTest, LicenceAndReadmeTexts) {
    Check("DialogLicense=1\r\nDialogReadme=1\r\n");
    EXPECT_TRUE(Has(W, "DialogLicense", "Licence page without a text for English"));
    EXPECT_TRUE(Has(W, "DialogReadme", "neither REnglish.rtf nor R(Default).rtf"));
    PutSetupFile("LEnglish.rtf", "{\\rtf1 x}");
    PutSetupFile("R(Default).rtf", "{\\rtf1 x}");
    Check("DialogLicense=1\r\nDialogReadme=1\r\n");
    EXPECT_TRUE(found.empty()) << All(found);
}

TEST_F(ChecksTest, Pictures) {
    PutSetupFile("qvwizard.bmp", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\0'));
    PutSetupFile("qvheader.bmp", MakeBitmapFile(16, 32));
    Check("");
    EXPECT_TRUE(
        Has(E, "", "is a PNG image; the wizard pictures must be BMP files", "setup\\qvwizard.bmp"));
    EXPECT_TRUE(Has(E, "", "error code 2", "setup\\qvwizard.bmp"));
    EXPECT_TRUE(Has(W, "", "is 16x32 pixels; the wizard shows it stretched to 498x55",
                    "setup\\qvheader.bmp"));

    std::string cut = MakeBitmapFile(500, 314);
    cut.resize(cut.size() / 2);
    PutSetupFile("qvwizard.bmp", cut);
    std::string jpegInside = MakeBitmapFile(498, 55);
    jpegInside[30] = 4; // BI_JPEG
    PutSetupFile("qvheader.bmp", jpegInside);
    Check("");
    EXPECT_TRUE(Has(E, "", "is cut short", "setup\\qvwizard.bmp"));
    EXPECT_TRUE(Has(E, "", "a kind the system does not load", "setup\\qvheader.bmp"));
    PutSetupFile("qvwizard.bmp", "BM this is not a bitmap");
    Check("");
    EXPECT_TRUE(Has(E, "", "is not a Windows bitmap", "setup\\qvwizard.bmp"));
    std::string odd = MakeBitmapFile(500, 314);
    odd[14] = 20; // a header size no bitmap has
    PutSetupFile("qvwizard.bmp", odd);
    Check("");
    EXPECT_TRUE(Has(E, "", "unknown header", "setup\\qvwizard.bmp"));
}

// The build itself: errors stop it before anything is written, warnings do not
// (unless strict), and every finding reaches the listener in the compilers' form.
class CheckedBuildTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string project = dir / "project";
    std::string output = dir / "setup.exe";
    std::vector<std::string> heard;

    mksetup::BuildOptions Options(mksetup::CheckLevel level) {
        mksetup::BuildOptions o;
        o.projectDir = project;
        o.outputPath = output;
        o.stubPath = QV_SETUPSTUB_PATH;
        o.checks = level;
        o.onDiagnostic = [this](const Diagnostic& d) {
            heard.push_back(mksetup::FormatDiagnostic(d));
        };
        return o;
    }
};

TEST_F(CheckedBuildTest, ErrorsStopTheBuildAndWarningsDoNot) {
    WriteMinimalProject(project, "InstallationPath=<ProgramFiles>\\T\r\nDialogWellcome=1\r\n");
    try {
        mksetup::BuildSetup(Options(mksetup::CheckLevel::Normal));
        ADD_FAILURE() << "an unknown key must stop the build";
    } catch (const mksetup::BuildError& e) {
        EXPECT_STREQ(e.what(), "1 error in the project; no setup was written");
    }
    EXPECT_FALSE(PathExists(output));
    const std::string ini = project + "\\setup.ini";
    ASSERT_FALSE(heard.empty());
    EXPECT_NE(
        std::find(heard.begin(), heard.end(),
                  ini + ":15: error: unknown [Setup] key 'DialogWellcome': the setup never reads "
                        "it (did you mean 'DialogWelcome'?)"),
        heard.end())
        << ::testing::PrintToString(heard);

    // The minimal project's pictures are small: a warning, and the build goes on.
    WriteMinimalProject(project, "InstallationPath=<ProgramFiles>\\T\r\n");
    heard.clear();
    EXPECT_NO_THROW(mksetup::BuildSetup(Options(mksetup::CheckLevel::Normal)));
    EXPECT_TRUE(PathExists(output));
    ASSERT_EQ(heard.size(), 2u) << ::testing::PrintToString(heard);
    EXPECT_EQ(heard[0], project +
                            "\\setup\\qvheader.bmp: warning: is 8x8 pixels; the wizard shows it "
                            "stretched to 498x55");

    DeleteFileA(output.c_str());
    heard.clear();
    EXPECT_THROW(mksetup::BuildSetup(Options(mksetup::CheckLevel::Strict)), mksetup::BuildError);
    EXPECT_FALSE(PathExists(output));
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_NE(heard[0].find(": error: is 8x8 pixels"), std::string::npos) << heard[0];
}

TEST_F(CheckedBuildTest, WithoutListenerTheFindingsAreTheMessageAndOffBuildsAnyway) {
    WriteMinimalProject(project, "InstallationPath=<ProgramFiles>\\T\r\nUninstall=yes\r\n");
    mksetup::BuildOptions o = Options(mksetup::CheckLevel::Normal);
    o.onDiagnostic = nullptr;
    try {
        mksetup::BuildSetup(o);
        ADD_FAILURE() << "a boolean written yes must stop the build";
    } catch (const mksetup::BuildError& e) {
        EXPECT_NE(
            std::string(e.what()).find("setup.ini:15: error: 'Uninstall' is a yes/no setting"),
            std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("\n"), std::string::npos)
            << "warnings follow the error";
    }
    o.checks = mksetup::CheckLevel::Off;
    EXPECT_NO_THROW(mksetup::BuildSetup(o));
    EXPECT_TRUE(PathExists(output));
}

// mksetup.exe itself: the findings on its error stream, its exit code, --strict.
struct ProgramRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output; // standard output and error together
};

ProgramRun RunMksetup(const std::string& args) {
    std::string exe = QV_SETUPSTUB_PATH;
    exe = exe.substr(0, exe.find_last_of('\\') + 1) + "mksetup.exe";
    ProgramRun run;
    if (!PathExists(exe)) {
        ADD_FAILURE() << "not built: " << exe;
        return run;
    }
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = writeEnd;
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + exe + "\" " + args;
    const BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (started) {
        char buf[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got > 0)
            run.output.append(buf, got);
        WaitForSingleObject(pi.hProcess, 60000);
        GetExitCodeProcess(pi.hProcess, &run.exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(readEnd);
    return run;
}

TEST_F(CheckedBuildTest, CommandLinePrintsEachFindingAndStrictStopsOnWarnings) {
    const std::string args =
        "\"" + project + "\" \"" + output + "\" --stub \"" QV_SETUPSTUB_PATH "\"";
    WriteMinimalProject(project, "InstallationPath=<ProgramFiles>\\T\r\nDialogWellcome=1\r\n"
                                 "[Registry]\r\n0=HKCU\\Software\\T*?v*?REG_SZ*?x\r\n");
    ProgramRun run = RunMksetup(args);
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    const std::string ini = project + "\\setup.ini";
    EXPECT_NE(run.output.find(ini + ":15: error: unknown [Setup] key 'DialogWellcome'"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(ini + ":17: error: [Registry] record has 4 fields; it needs 7"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("mksetup: error: 2 errors in the project; no setup was written"),
              std::string::npos)
        << run.output;
    EXPECT_FALSE(PathExists(output));

    WriteMinimalProject(project, "InstallationPath=<ProgramFiles>\\T\r\n");
    run = RunMksetup(args);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("qvheader.bmp: warning: is 8x8 pixels"), std::string::npos)
        << run.output;
    EXPECT_TRUE(PathExists(output));
    DeleteFileA(output.c_str());
    run = RunMksetup(args + " --strict");
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("qvheader.bmp: error: is 8x8 pixels"), std::string::npos)
        << run.output;
    EXPECT_FALSE(PathExists(output));
}

TEST(ProjectFileName, FollowsTheUsersSpelling) {
    EXPECT_EQ(mksetup::ProjectFileName("proj", "setup.ini"), "proj\\setup.ini");
    EXPECT_EQ(mksetup::ProjectFileName("a/proj/", "setup.ini"), "a/proj/setup.ini");
    EXPECT_EQ(mksetup::ProjectFileName("C:\\p\\", "setup"), "C:\\p\\setup");
    EXPECT_EQ(mksetup::ProjectFileName("", "setup.ini"), "setup.ini");
    EXPECT_EQ(mksetup::FormatDiagnostic({"f.ini", 3, Severity::Error, "t"}), "f.ini:3: error: t");
    EXPECT_EQ(mksetup::FormatDiagnostic({"f.bmp", 0, Severity::Warning, "t"}), "f.bmp: warning: t");
}

TEST(NearestName, CatchesSlipsButNotStrangers) {
    const std::vector<std::string> keys = {"DialogWelcome", "Admin", "GUID", "AppName"};
    EXPECT_EQ(mksetup::NearestName("DialogWellcome", keys), "DialogWelcome");
    EXPECT_EQ(mksetup::NearestName("dialogwelcom", keys), "DialogWelcome");
    EXPECT_EQ(mksetup::NearestName("Admn", keys), "Admin");
    EXPECT_EQ(mksetup::NearestName("Uid", keys), "GUID");
    EXPECT_EQ(mksetup::NearestName("Ax", keys), "") << "too short to guess from";
    EXPECT_EQ(mksetup::NearestName("AFTER INSTALL", {"AFTER INSTALLATION", "AFTER UNINSTALLATION"}),
              "AFTER INSTALLATION")
        << "a word cut short";
    EXPECT_EQ(mksetup::NearestName("Frobnicate", keys), "");
    EXPECT_EQ(mksetup::NearestName("admin", keys), "") << "the same name is no misspelling";
}

// What the builder knows must be what the runtime reads.
TEST(BuilderKnowsTheRuntime, PathConstantsInTheRuntimesOrder) {
    const auto& rules = mksetup::PathConstantRules();
    ASSERT_EQ(rules.size(), static_cast<size_t>(PathConstantCount));
    for (int n = 1; n <= PathConstantCount; ++n)
        EXPECT_EQ(rules[static_cast<size_t>(n - 1)].name,
                  PathConstantName(static_cast<PathConstant>(n)))
            << "constant " << n;
}

TEST(BuilderKnowsTheRuntime, SetupKeyDefaults) {
    for (const mksetup::SetupKeyRule& r : mksetup::SetupKeyRules()) {
        std::string runtime = SetupKeyDefault(r.name);
        if (runtime.empty() && r.kind != mksetup::KeyKind::String) runtime = "0";
        EXPECT_EQ(r.def, runtime) << r.name;
    }
    // The runtime has no default of its own for a key the builder does not know.
    EXPECT_EQ(SetupKeyDefault("DialogWellcome"), "");
}

void CollectSources(const std::string& dir, std::vector<std::string>& out) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectSources(dir + "\\" + name, out);
        else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cpp") == 0)
            out.push_back(dir + "\\" + name);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

// Every [Setup] key the runtime's code reads by name is one the builder accepts, of
// the kind it is read as: a key added to the runtime must be added to the checks (and
// the reference) before a product maker can use it.
TEST(BuilderKnowsTheRuntime, EveryKeyTheRuntimeReadsByName) {
    std::vector<std::string> files;
    CollectSources(QV_SOURCE_DIR "\\src", files);
    ASSERT_GT(files.size(), 20u);
    size_t seen = 0;
    for (const std::string& file : files) {
        const std::string text = ReadFileBytes(file);
        for (const std::string call : {"ReadSetupBool(", "ReadSetupInteger(", "ReadSetupString("}) {
            for (size_t at = text.find(call); at != std::string::npos;
                 at = text.find(call, at + 1)) {
                size_t comma = text.find(',', at);
                size_t quote = text.find_first_not_of(" \t\r\n", comma + 1);
                if (comma == std::string::npos || quote == std::string::npos || text[quote] != '"')
                    continue; // a key held in a variable, or the function itself
                const std::string key =
                    text.substr(quote + 1, text.find('"', quote + 1) - quote - 1);
                ++seen;
                const mksetup::SetupKeyRule* rule = mksetup::FindSetupKey(key);
                if (!rule) {
                    ADD_FAILURE() << file << " reads [Setup] " << key
                                  << ", which the builder refuses";
                    continue;
                }
                if (call == "ReadSetupBool(") {
                    EXPECT_EQ(rule->kind, mksetup::KeyKind::Boolean) << key;
                }
                if (call == "ReadSetupInteger(") {
                    EXPECT_NE(rule->kind, mksetup::KeyKind::String) << key;
                }
            }
        }
    }
    EXPECT_GT(seen, 40u) << "the scan found too few keys to be looking at the right code";
}

TEST(BuilderKnowsTheRuntime, RecordSplittingAndNumbers) {
    const char* const records[] = {"a*?b*?c", "a*?*?c",    "a*?b*?",  "*?*?",  "",       "a",
                                   "*?a",     "a*?b\r\nc", "a*?\r\n", "a**?b", "a*?*?*?"};
    for (const char* r : records)
        EXPECT_EQ(mksetup::SplitFields(r, "*?"), SplitRecord(r, "*?")) << Escaped(r);
    const char* const numbers[] = {"0",          "17",         " 17 ",        "-5",         "+5",
                                   "2147483647", "2147483648", "-2147483648", "$10",        "0x1F",
                                   "$FFFFFFFF",  "$100000000", "1.5",         "",           "yes",
                                   "0x",         "$",          "- 1",         "0x00000000F"};
    for (const char* t : numbers) {
        long long mine = 0;
        int32_t theirs = 0;
        const bool a = mksetup::ParseConfigInteger(t, mine), b = ParseIniInteger(t, theirs);
        EXPECT_EQ(a, b) << "'" << t << "'";
        if (a && b) {
            EXPECT_EQ(mine, theirs) << "'" << t << "'";
        }
    }
}

} // namespace
