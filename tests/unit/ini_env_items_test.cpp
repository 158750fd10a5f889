// The [INI] and [Environments] handlers against real files, the real registry of
// the Wine prefix and a real uninstall record.
#include "SystemState.h"
#include "TestContext.h"
#include "TestSupport.h"
#include "items/ItemHandlers.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "text/Language.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

const char kUserEnv[] = "Environment";
const char kSystemEnv[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// A run with its configuration, the English language file and an open record.
class IniEnvFixture : public ::testing::Test {
  protected:
    IniEnvFixture() {
        ctx_.SetupTempDir = setupTemp_.Path();
        ctx_.Wizard.Edit1 = dest_.Path();
        ctx_.Prompt = &prompt_;
        ctx_.UninstallOn = true;
        ObserveRunEnd(ctx_);
        UseConfig(ctx_, setupTemp_ / "qvsetup.ini",
                  "[Setup]\r\nAppName=IniEnv\r\nAppVersion=1.0\r\nUninstall=1\r\n");
        UseLanguage(ctx_, setupTemp_ / "Englishqv.lng", ReadFileBytes(kDemoLanguageFile));
        OpenUninstallRecord(ctx_);
    }
    ~IniEnvFixture() override { CloseUninstallRecord(ctx_); }

    // The values of a section of the record, in key order.
    std::vector<std::string> Recorded(const std::string& section) {
        return RecordedValues(setupTemp_ / "qvuninstall.ini", section);
    }
    void ExpectNoFailure() {
        EXPECT_TRUE(ctx_.LogList.empty());
        EXPECT_TRUE(prompt_.boxes.empty());
        EXPECT_FALSE(ctx_.Errors);
    }

    ScratchDir setupTemp_, dest_;
    RecordingPrompt prompt_;
    RunContext ctx_;
};

// ---------------------------------------------------------------- INI values

using IniEnvIni = IniEnvFixture;

TEST_F(IniEnvIni, NewFileIsCreatedAndRecordedWhole) {
    const std::string file = dest_ / "new.ini";
    WriteIniItem(ctx_, "<InstallDir>\\new.ini*?Sec*?Key*?<AppName> value*?No*?yes");
    WriteIniItem(ctx_, "<InstallDir>\\new.ini*?Sec*?Other*?2*?No*?Yes");
    EXPECT_EQ(IniValue(file, "Sec", "Key"), "IniEnv value");
    EXPECT_EQ(IniValue(file, "Sec", "Other"), "2");
    // Only the first value made the file; the second found it there.
    EXPECT_EQ(Recorded("Files"), std::vector<std::string>{file});
    EXPECT_EQ(Recorded("INIValues"), std::vector<std::string>{file + "*?Sec*?Other"});
    ExpectNoFailure();
}

TEST_F(IniEnvIni, ExistingFileFollowsOverwriteAndUninstallFlags) {
    struct Case {
        const char* key;
        const char* overwrite;
        const char* remove;
        bool uninstallOn;
        const char* expected;
        bool recorded;
    } cases[] = {
        {"Old", "No", "Yes", true, "old", false},    // kept, nothing recorded
        {"OLD", "no", "Yes", true, "old", false},    // keys match ignoring case
        {"Old", "Yes", "Yes", true, "new", true},    // replaced and recorded
        {"Old", "YES", "No", true, "new", false},    // replaced, not to be removed
        {"Fresh", "No", "Yes", true, "new", true},   // a key not there yet is written
        {"Fresh", "No", "Yes", false, "new", false}, // no uninstall record wanted
        {"Fresh", "No", "Maybe", true, "new", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.overwrite + " " + c.remove);
        const std::string file = dest_ / "existing.ini";
        WriteFileBytes(file, "[Sec]\r\nOld=old\r\nKeep=me\r\n");
        ctx_.UninstallOn = c.uninstallOn;
        size_t before = Recorded("INIValues").size();
        WriteIniItem(ctx_, file + "*?Sec*?" + c.key + "*?new*?" + c.overwrite + "*?" + c.remove);
        EXPECT_EQ(IniValue(file, "Sec", c.key), c.expected);
        EXPECT_EQ(IniValue(file, "Sec", "Keep"), "me");
        std::vector<std::string> rec = Recorded("INIValues");
        ASSERT_EQ(rec.size(), before + (c.recorded ? 1 : 0));
        if (c.recorded) {
            EXPECT_EQ(rec.back(), file + "*?Sec*?" + c.key);
        }
        EXPECT_TRUE(Recorded("Files").empty());
        DeleteFileA(file.c_str());
    }
    ExpectNoFailure();
}

TEST_F(IniEnvIni, WrongFieldCountsAreIgnored) {
    const std::string file = dest_ / "count.ini";
    for (const std::string& record :
         {file + "*?Sec*?Key*?v*?Yes", file + "*?Sec*?Key*?v*?Yes*?Yes*?Extra", file, std::string(),
          std::string("*?*?*?*?*?"), std::string("*?*?*?*?*?*?*?*?")})
        WriteIniItem(ctx_, record);
    EXPECT_FALSE(PathExists(file));
    EXPECT_TRUE(Recorded("Files").empty());
    ExpectNoFailure();
}

TEST_F(IniEnvIni, FailuresAreReportedAndNothingIsRecorded) {
    char windows[MAX_PATH] = {}, current[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetCurrentDirectoryA(MAX_PATH, current);
    const std::string lineBreakFile = dest_ / "break.ini";
    WriteFileBytes(lineBreakFile, "[Sec]\r\nK=old\r\n");
    const std::string missing = dest_ / "no such folder\\x.ini";
    struct Case {
        std::string file, value;
        bool silent;
        std::string section = "Sec", key = "K";
    } cases[] = {
        {missing, "v", false},                // the folder does not exist
        {missing, "v", true},                 // silent: no box, the rest the same
        {"qv_relative_item.ini", "v", false}, // would land in the Windows folder
        {"sub\\qv_relative_item.ini", "v", false},
        {"C:qv_relative_item.ini", "v", false},   // drive-relative
        {"\\qv_relative_item.ini", "v", false},   // root of whichever drive is current
        {lineBreakFile, "a<#>[Injected]", false}, // a line break would add lines
        // Names that would read back as another section or key.
        {lineBreakFile, "v", false, "Sec", ""},
        {lineBreakFile, "v", false, "", "K"},
        {lineBreakFile, "v", false, "Sec]x", "K"},
        {lineBreakFile, "v", false, "Sec", "K=old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " [" + c.section + "] " + c.key +
                     " silent=" + std::to_string(c.silent));
        ctx_.Silent = c.silent;
        ctx_.Errors = false;
        ctx_.LogList.clear();
        prompt_.boxes.clear();
        WriteIniItem(ctx_,
                     c.file + "*?" + c.section + "*?" + c.key + "*?" + c.value + "*?Yes*?Yes");
        EXPECT_EQ(ctx_.LogList, std::vector<std::string>{"Error INI file: " + c.file});
        EXPECT_TRUE(ctx_.Errors);
        if (c.silent) {
            EXPECT_TRUE(prompt_.boxes.empty());
        } else {
            ASSERT_EQ(prompt_.boxes.size(), 1u);
            EXPECT_EQ(prompt_.boxes[0].caption, "Setup");
            EXPECT_EQ(prompt_.boxes[0].text,
                      FormatText(LanguageText(ctx_, "Messages", 19), c.file + "<#>" + c.key));
            EXPECT_NE(prompt_.boxes[0].text.find("\r\n" + c.file + "\r\n" + c.key + "\r\n"),
                      std::string::npos);
            EXPECT_EQ(prompt_.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
        }
    }
    EXPECT_FALSE(PathExists(missing));
    for (const std::string& folder :
         {std::string(windows), std::string(current), std::string("C:")}) {
        EXPECT_FALSE(PathExists(folder + "\\qv_relative_item.ini")) << folder;
        DeleteFileA((folder + "\\qv_relative_item.ini").c_str()); // keep a regression local
    }
    EXPECT_EQ(ReadFileBytes(lineBreakFile), "[Sec]\r\nK=old\r\n");
    EXPECT_TRUE(Recorded("Files").empty());
    EXPECT_TRUE(Recorded("INIValues").empty());
}

// ------------------------------------------------------- environment variables

// One variable in the environment key the handler should use.
class EnvVar {
  public:
    EnvVar(bool system, const std::string& name)
        : root_(system ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER),
          path_(system ? kSystemEnv : kUserEnv), name_(name) {
        RegOpenKeyExA(root_, path_.c_str(), 0, KEY_ALL_ACCESS, &key_);
        Remove();
    }
    ~EnvVar() {
        Remove();
        if (key_) RegCloseKey(key_);
    }
    bool Open() const { return key_ != nullptr; }
    void Set(const std::string& text, DWORD type) {
        RegSetValueExA(key_, name_.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    }
    void SetNumber(DWORD n) {
        RegSetValueExA(key_, name_.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n),
                       sizeof n);
    }
    void Remove() {
        if (key_) RegDeleteValueA(key_, name_.c_str());
    }
    // The text, or "<absent>"; type receives the value's type.
    std::string Get(DWORD* type = nullptr) const {
        const RegValue v = ReadRegValue(root_, path_, name_, 0);
        if (!v.present) return "<absent>";
        if (type) *type = v.type;
        return v.text.c_str();
    }

  private:
    HKEY root_;
    std::string path_, name_;
    HKEY key_ = nullptr;
};

// A variable name no other test or run uses.
std::string UniqueVariable(const char* tag) {
    return UniqueName("QVT_" + std::string(tag) + "_");
}

using IniEnvEnvironment = IniEnvFixture;

TEST_F(IniEnvEnvironment, EachActionInTheUserOrSystemEnvironment) {
    const DWORD kNone = REG_NONE;
    struct Case {
        DWORD initialType; // REG_NONE: the variable does not exist
        const char* action;
        const char* expected;
        const char* entry; // recorded: letter, then what follows the name ("" none)
    } cases[] = {
        {kNone, "OVERWRITE", "c", "D"},
        {kNone, "Append", "c", "D"}, // a missing variable is created
        {kNone, "PREPEND", "c", "D"},
        {REG_SZ, "APPEND", "a;b;c", "U*?c"},
        {REG_SZ, "prepend", "c;a;b", "U*?c"},
        {REG_SZ, "OVERWRITE", "c", "W*?a;b"},
        {REG_EXPAND_SZ, "APPEND", "a;b;c", "U*?c"}, // and becomes a plain string
        {REG_EXPAND_SZ, "OVERWRITE", "c", "W*?a;b"},
        {REG_SZ, "REMOVE", "<absent>", ""},
        {kNone, "REMOVE", "<absent>", ""},
        {REG_SZ, "REPLACE", "a;b", ""}, // not an action: nothing happens
    };
    for (bool admin : {false, true}) {
        ctx_.Admin = admin;
        ctx_.PerUser = false; // an all-users installation
        for (const Case& c : cases) {
            const std::string name = UniqueVariable("ACT");
            SCOPED_TRACE(name + " " + c.action + (admin ? " admin" : " user"));
            EnvVar var(admin, name), other(!admin, name);
            ASSERT_TRUE(var.Open() && other.Open());
            if (c.initialType != kNone) var.Set("a;b", c.initialType);
            size_t before = Recorded("Environment").size();
            WriteEnvironmentItem(ctx_, name + "*?c*?" + c.action + "*?Yes");
            DWORD type = REG_NONE;
            EXPECT_EQ(var.Get(&type), c.expected);
            if (std::string(c.expected) != "<absent>" && std::string(c.action) != "REPLACE") {
                EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
            }
            EXPECT_EQ(other.Get(), "<absent>"); // the other environment is untouched
            std::vector<std::string> rec = Recorded("Environment");
            if (*c.entry) {
                ASSERT_EQ(rec.size(), before + 1);
                EXPECT_EQ(rec.back(), c.entry[0] + name + (c.entry + 1));
            } else {
                EXPECT_EQ(rec.size(), before);
            }
        }
    }
    ExpectNoFailure();
}

TEST_F(IniEnvEnvironment, RecordsOnlyWhenAskedAndEachEntryOnce) {
    const std::string name = UniqueVariable("ONCE");
    EnvVar var(false, name);
    var.Set("a", REG_SZ);
    WriteEnvironmentItem(ctx_, name + "*?c*?APPEND*?Yes");
    WriteEnvironmentItem(ctx_, name + "*?C*?APPEND*?YES"); // same entry, other case
    WriteEnvironmentItem(ctx_, name + "*?d*?APPEND*?No");
    ctx_.UninstallOn = false;
    WriteEnvironmentItem(ctx_, name + "*?e*?APPEND*?Yes");
    // Appending never looks at what the variable already holds.
    EXPECT_EQ(var.Get(), "a;c;C;d;e");
    EXPECT_EQ(Recorded("Environment"), std::vector<std::string>{"U" + name + "*?c"});
    ExpectNoFailure();
}

TEST_F(IniEnvEnvironment, WrongFieldCountsAreIgnored) {
    const std::string name = UniqueVariable("COUNT");
    EnvVar var(false, name);
    for (const std::string& record : {name + "*?v*?OVERWRITE", name + "*?v*?OVERWRITE*?Yes*?Extra",
                                      name, std::string("*?*?*?"), std::string("*?*?*?*?")})
        WriteEnvironmentItem(ctx_, record);
    EXPECT_EQ(var.Get(), "<absent>");
    EXPECT_TRUE(Recorded("Environment").empty());
    ExpectNoFailure();
}

TEST_F(IniEnvEnvironment, FailuresAreReportedAndTheRunGoesOn) {
    const std::string number = UniqueVariable("DWORD");
    EnvVar numberVar(false, number);
    numberVar.SetNumber(7);
    ctx_.UserVariables = {"<QvEmpty>?"};
    struct Case {
        std::string name;
        const char* action;
        bool silent;
    } cases[] = {
        {std::string(17000, 'Q'), "OVERWRITE", false}, // the registry refuses the name
        {std::string(17000, 'Q'), "APPEND", true},
        {number, "APPEND", false}, // not text: cannot be extended nor given back
        {"QVT=BAD", "OVERWRITE", false},
        {"<QvEmpty>", "OVERWRITE", false}, // would be the key's default value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20) + " " + c.action);
        ctx_.Silent = c.silent;
        ctx_.Errors = false;
        ctx_.LogList.clear();
        prompt_.boxes.clear();
        WriteEnvironmentItem(ctx_, c.name + "*?v*?" + c.action + "*?Yes");
        const std::string name = c.name == "<QvEmpty>" ? "" : c.name;
        EXPECT_EQ(ctx_.LogList,
                  std::vector<std::string>{"Error setting environment variable: " + name});
        EXPECT_TRUE(ctx_.Errors);
        if (c.silent) {
            EXPECT_TRUE(prompt_.boxes.empty());
        } else {
            ASSERT_EQ(prompt_.boxes.size(), 1u);
            EXPECT_EQ(prompt_.boxes[0].text, "Error environment variable: " + name);
            EXPECT_EQ(prompt_.boxes[0].caption, "Setup");
            EXPECT_EQ(prompt_.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
        }
    }
    DWORD type = REG_NONE;
    numberVar.Get(&type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)); // left as it was
    EXPECT_TRUE(Recorded("Environment").empty());

    // The next record still works.
    const std::string next = UniqueVariable("NEXT");
    EnvVar nextVar(false, next);
    WriteEnvironmentItem(ctx_, next + "*?v*?OVERWRITE*?Yes");
    EXPECT_EQ(nextVar.Get(), "v");
    EXPECT_EQ(Recorded("Environment"), std::vector<std::string>{"D" + next});
}

} // namespace
