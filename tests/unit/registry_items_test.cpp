// [Registry] records against the Wine prefix's real registry: value encodings,
// overwrite, views, roots, per-user redirection, the uninstall record's entries and
// the failure reports. Every key lives under a name unique to this process and test.
#include "SystemState.h"
#include "TestContext.h"
#include "TestSupport.h"
#include "items/ItemHandlers.h"
#include "platform/Error.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string Dword(int32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
}

class RegistryItemTest : public ::testing::Test {
  protected:
    RegistryItemTest() {
        name_ = UniqueName("QVTest-");
        base_ = "Software\\" + name_;
        UseConfig(ctx_, temp_ / "qvsetup.ini", "[Setup]\r\nAppName=RegDemo\r\nAppVersion=1\r\n");
        UseLanguage(ctx_, temp_ / "Englishqv.lng", ReadFileBytes(kDemoLanguageFile));
        ctx_.SetupTempDir = temp_.Path();
        ctx_.Wizard.Edit1 = temp_ / "dest";
        ctx_.Prompt = &prompt_;
        ctx_.UninstallOn = true;
        ObserveRunEnd(ctx_);
        OpenUninstallRecord(ctx_);
    }
    ~RegistryItemTest() override {
        CloseUninstallRecord(ctx_);
        CleanUp();
    }
    void CleanUp() {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            DeleteKeyTreeInBothViews(root, base_);
            DeleteKeyTreeInBothViews(root, "Software\\Classes\\" + name_);
        }
    }
    // One record for the base key (plus rest), with the given tail of fields.
    void Write(const std::string& rest, const std::string& fields) {
        WriteRegistryItem(ctx_, "HKCU\\" + base_ + rest + "*?" + fields);
    }
    std::vector<std::string> Section(const std::string& section) {
        return RecordedValues(ctx_.Record.UninstallRecordPath, section);
    }
    std::string Entry(const std::string& rest = "") {
        return "DHKEY_CURRENT_USER\\" + base_ + rest;
    }
    std::string Value(const std::string& key, const std::string& name) {
        return ReadRegValue(HKEY_CURRENT_USER, key, name).data;
    }

    ScratchDir temp_;
    RecordingPrompt prompt_;
    RunContext ctx_;
    std::string name_, base_;
};

TEST_F(RegistryItemTest, ValueTypesAndEncodings) {
    struct Case {
        const char *type, *data;
        bool ok;
        DWORD regType;
        std::string bytes;
    } cases[] = {
        {"REG_SZ", "hello", true, REG_SZ, std::string("hello\0", 6)},
        {"reg_expand_sz", "%TEMP%\\x", true, REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9)},
        {"REG_DWORD", "$10", true, REG_DWORD, Dword(16)},
        {"REG_DWORD", "0x1F", true, REG_DWORD, Dword(31)},
        {"REG_DWORD", "  -5", true, REG_DWORD, Dword(-5)},
        {"REG_DWORD", "+7", true, REG_DWORD, Dword(7)},
        {"REG_DWORD", "-$10", true, REG_DWORD, Dword(-16)},
        {"REG_DWORD", "$FFFFFFFF", true, REG_DWORD, Dword(-1)},
        {"REG_DWORD", "-2147483648", true, REG_DWORD, Dword(INT32_MIN)},
        {"REG_DWORD", "abc", false, 0, ""},
        {"REG_DWORD", "2147483648", false, 0, ""},
        {"REG_DWORD", "12 ", false, 0, ""},
        {"REG_DWORD", "0x", false, 0, ""},
        {"REG_DWORD", "$123456789", false, 0, ""},
        {"REG_BINARY", "01 a0 ff", true, REG_BINARY, "\x01\xA0\xFF"},
        {"REG_BINARY", "01,a0,FF,", true, REG_BINARY, "\x01\xA0\xFF"},
        {"REG_BINARY", "0A0B", true, REG_BINARY, "\x0A"},
        {"REG_BINARY", "01-0", true, REG_BINARY, "\x01"},
        {"REG_BINARY", "01 zz 02", false, 0, ""},
        {"REG_BINARY", "0x", false, 0, ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::string(c.type) + " " + c.data);
        ctx_.Errors = false;
        std::string v = "v" + std::to_string(i);
        Write("", v + "*?" + c.type + "*?" + c.data + "*?Yes*?No*?Default");
        const RegValue read = ReadRegValue(HKEY_CURRENT_USER, base_, v);
        EXPECT_EQ(read.present, c.ok);
        EXPECT_EQ(ctx_.Errors, !c.ok);
        if (c.ok) {
            EXPECT_EQ(read.type, c.regType);
            EXPECT_EQ(read.data, c.bytes);
        }
    }
    // Empty data gives an empty binary value; 4096 bytes fit, while one more and a
    // huge hostile text are write failures that leave nothing behind.
    auto pairs = [](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i)
            s += "7f ";
        return s;
    };
    ctx_.Errors = false;
    Write("", "e*?REG_BINARY*?*?Yes*?No*?Default");
    const RegValue empty = ReadRegValue(HKEY_CURRENT_USER, base_, "e");
    EXPECT_TRUE(empty.present);
    EXPECT_EQ(empty.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(empty.data, "");
    Write("", "max*?REG_BINARY*?" + pairs(4096) + "*?Yes*?No*?Default");
    EXPECT_EQ(Value(base_, "max"), std::string(4096, '\x7f'));
    EXPECT_FALSE(ctx_.Errors);
    for (size_t n : {4097u, 200000u}) {
        ctx_.Errors = false;
        Write("", "big*?REG_BINARY*?" + pairs(n) + "*?Yes*?No*?Default");
        EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, base_, "big").present) << n;
        EXPECT_TRUE(ctx_.Errors) << n;
    }
}

TEST_F(RegistryItemTest, OverwriteOffKeepsAValueAndOnlyWrittenValuesAreRecorded) {
    Write("", "v*?REG_SZ*?old*?Yes*?No*?Default"); // key made, remove off: nothing recorded
    Write("", "v*?REG_SZ*?new*?No*?Yes*?Default");
    EXPECT_EQ(Value(base_, "v"), std::string("old\0", 4));
    EXPECT_TRUE(Section("RegistryValues").empty());
    Write("", "v*?REG_SZ*?new*?yes*?yes*?Default");
    EXPECT_EQ(Value(base_, "v"), std::string("new\0", 4));
    // An unknown type writes nothing, so the value is not this record's to remove.
    Write("", "v*?REG_MULTI_SZ*?other*?Yes*?Yes*?Default");
    EXPECT_EQ(Value(base_, "v"), std::string("new\0", 4));
    EXPECT_EQ(Section("RegistryValues"), std::vector<std::string>{Entry("*?v")});
    EXPECT_TRUE(Section("RegistryKeys").empty());
    EXPECT_FALSE(ctx_.Errors);
}

TEST_F(RegistryItemTest, RecordsCreatedKeysShortestFirstAndValuesOnlyInExistingKeys) {
    Write("\\A\\B\\", "n*?REG_SZ*?x*?Yes*?Yes*?Default"); // the trailing backslash is dropped
    WriteRegistryItem(ctx_, "hkey_current_user\\" + base_ +
                                "\\A\\<AppName>*?<AppName>*?REG_NONE*?d*?Yes*?Yes*?Default");
    Write("\\A", "m*?REG_SZ*?y*?Yes*?Yes*?Default");
    EXPECT_EQ(Value(base_ + "\\A\\B", "n"), std::string("x\0", 2));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, base_ + "\\A\\RegDemo", kRuntimeView));
    EXPECT_EQ(Value(base_ + "\\A\\RegDemo", "RegDemo"), "");
    EXPECT_EQ(
        Section("RegistryKeys"),
        (std::vector<std::string>{Entry(), Entry("\\A"), Entry("\\A\\B"), Entry("\\A\\RegDemo")}));
    EXPECT_EQ(Section("RegistryValues"), std::vector<std::string>{Entry("\\A*?m")});
    // Without an uninstall record nothing is recorded, whatever the remove flag says.
    ctx_.UninstallOn = false;
    Write("\\C", "n*?REG_SZ*?x*?Yes*?Yes*?Default");
    Write("\\A", "o*?REG_SZ*?x*?Yes*?Yes*?Default");
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, base_ + "\\C", kRuntimeView));
    EXPECT_EQ(Section("RegistryKeys").size(), 4u);
    EXPECT_EQ(Section("RegistryValues").size(), 1u);
    EXPECT_FALSE(ctx_.Errors);
}

// Doubled, leading and trailing backslashes, written or expanded, name the same keys
// as single ones: each key is made and recorded once under its plain spelling, and a
// parent that exists is never handed to the uninstaller.
TEST_F(RegistryItemTest, RepeatedBackslashesNameEachKeyOnce) {
    ctx_.UserVariables = {"<QvSep>?\\\\"};
    WriteRegistryItem(ctx_, "HKCU\\\\Software\\\\" + name_ +
                                "<QvSep>A\\\\\\B\\\\*?n*?REG_SZ*?x*?Yes*?Yes*?Default");
    EXPECT_EQ(Value(base_ + "\\A\\B", "n"), std::string("x\0", 2));
    EXPECT_EQ(Section("RegistryKeys"),
              (std::vector<std::string>{Entry(), Entry("\\A"), Entry("\\A\\B")}));
    WriteRegistryItem(ctx_, "HKCU\\" + base_ + "\\\\A<QvSep>*?m*?REG_SZ*?y*?Yes*?Yes*?Default");
    EXPECT_EQ(Value(base_ + "\\A", "m"), std::string("y\0", 2));
    EXPECT_EQ(Section("RegistryValues"), std::vector<std::string>{Entry("\\A*?m")});
    EXPECT_EQ(Section("RegistryKeys").size(), 3u);

    // Redirected into the user's classes the same way.
    ctx_.PerUser = true;
    WriteRegistryItem(ctx_, "HKCR\\\\" + name_ + "\\*?v*?REG_SZ*?d*?Yes*?Yes*?Default");
    EXPECT_EQ(Section("RegistryKeys").back(), "DHKEY_CURRENT_USER\\Software\\Classes\\" + name_);
    EXPECT_FALSE(ctx_.Errors);
}

TEST_F(RegistryItemTest, MalformedRecordsAndUnknownRootsAreIgnoredSilently) {
    const std::string tail = "*?v*?REG_SZ*?d*?Yes*?Yes";
    for (const std::string& record : {
             "HKCU\\" + base_ + tail,                  // six fields
             "HKCU\\" + base_ + tail + "*?",           // an empty last field is lost
             "HKCU\\" + base_ + tail + "*?Default*?x", // eight fields
             "HKXX\\" + base_ + tail + "*?Default",    // unknown root
             "HKEY_CURRENT_USERS\\" + base_ + tail + "*?Default",
             name_ + tail + "*?Default",                                  // no root at all
             "HKCU\\*?" + name_ + "*?REG_SZ*?d*?Yes*?Yes*?Default",       // a root alone
             std::string("*?*?*?*?*?*?"), std::string("\\*?*?*?*?*?*?x"), // separators only
         }) {
        WriteRegistryItem(ctx_, record);
        EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, base_, kRuntimeView)) << record;
    }
    EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, "", name_).present); // nothing at the hive's top
    EXPECT_TRUE(ctx_.LogList.empty());
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_FALSE(ctx_.Errors);
    EXPECT_TRUE(Section("RegistryKeys").empty());
}

TEST_F(RegistryItemTest, ViewFollowsTheFieldAndThe64BitMark) {
    struct Case {
        bool is64;
        const char* view;
        bool in64;
        char letter;
    } cases[] = {
        {false, "Default", false, 'D'}, {true, "default", true, 'D'}, {false, "32-bit", false, '3'},
        {true, "32-BIT", false, '3'},   {false, "64-bit", true, '6'}, {true, "64-Bit", true, '6'},
        {true, "64", false, '3'}, // unknown: the 32-bit view, and recorded as that
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.view) + (c.is64 ? " in a 64-bit setup" : ""));
        CleanUp();
        ctx_.Is64 = c.is64;
        WriteRegistryItem(ctx_, "HKLM\\" + base_ + "\\K*?v*?REG_SZ*?d*?Yes*?Yes*?" + c.view);
        EXPECT_EQ(RegKeyExists(HKEY_LOCAL_MACHINE, base_ + "\\K", KEY_WOW64_64KEY), c.in64);
        EXPECT_EQ(RegKeyExists(HKEY_LOCAL_MACHINE, base_ + "\\K", KEY_WOW64_32KEY), !c.in64);
        std::vector<std::string> keys = Section("RegistryKeys");
        ASSERT_GE(keys.size(), 2u);
        EXPECT_EQ(keys[keys.size() - 2], c.letter + ("HKEY_LOCAL_MACHINE\\" + base_));
        EXPECT_EQ(keys.back(), c.letter + ("HKEY_LOCAL_MACHINE\\" + base_ + "\\K"));
    }
    EXPECT_FALSE(ctx_.Errors);
}

TEST_F(RegistryItemTest, PerUserNonAdminRedirectsMachineRootsToTheCurrentUser) {
    const std::string classes = "Software\\Classes\\" + name_;
    struct Case {
        bool admin, perUser;
        std::string field;
        HKEY root;
        std::string key, entry;
    } cases[] = {
        {false, true, "HKCR\\" + name_, HKEY_CURRENT_USER, classes,
         "DHKEY_CURRENT_USER\\" + classes},
        {false, true, "HKEY_LOCAL_MACHINE\\" + base_, HKEY_CURRENT_USER, base_,
         "DHKEY_CURRENT_USER\\" + base_},
        {true, true, "HKCR\\" + name_, HKEY_CLASSES_ROOT, name_, "DHKEY_CLASSES_ROOT\\" + name_},
        {false, false, "HKLM\\" + base_, HKEY_LOCAL_MACHINE, base_,
         "DHKEY_LOCAL_MACHINE\\" + base_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field + (c.admin ? " admin" : "") + (c.perUser ? " per-user" : ""));
        CleanUp();
        ctx_.Admin = c.admin;
        ctx_.PerUser = c.perUser;
        WriteRegistryItem(ctx_, c.field + "*?v*?REG_SZ*?d*?Yes*?Yes*?Default");
        EXPECT_TRUE(ReadRegValue(c.root, c.key, "v").present);
        if (c.root == HKEY_CURRENT_USER) {
            EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, base_, kRuntimeView));
            EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, classes, kRuntimeView));
        }
        EXPECT_EQ(Section("RegistryKeys").back(), c.entry);
    }
    EXPECT_FALSE(ctx_.Errors);
}

// Names longer than the registry allows end as the failures they are, with the
// whole name in the log, and the next record is unaffected.
TEST_F(RegistryItemTest, OversizedNamesAreReportedFailures) {
    ctx_.Silent = true;
    const std::string hkcu = "HKEY_CURRENT_USER\\" + base_;
    const std::string longKey(300, 'k'), longValue(20000, 'n');
    Write("\\" + longKey, "v*?REG_SZ*?x*?Yes*?Yes*?Default");
    Write("", longValue + "*?REG_SZ*?x*?Yes*?Yes*?Default");
    Write("", "ok*?REG_SZ*?" + std::string(100000, 'd') + "*?Yes*?Yes*?Default");
    EXPECT_EQ(ctx_.LogList, (std::vector<std::string>{
                                "Error creating registry key: " + hkcu + "\\" + longKey,
                                "Error writing registry value: " + hkcu + ": " + longValue,
                            }));
    EXPECT_TRUE(ctx_.Errors);
    EXPECT_TRUE(prompt_.boxes.empty());
    ASSERT_TRUE(RegKeyExists(HKEY_CURRENT_USER, base_));
    const RegValue ok = ReadRegValue(HKEY_CURRENT_USER, base_, "ok");
    EXPECT_TRUE(ok.present);
    EXPECT_EQ(ok.data.size(), 100001u);
    // The first record noted the missing base key as a parent before its own key failed;
    // the second made the base key itself.
    EXPECT_EQ(Section("RegistryKeys"), (std::vector<std::string>{Entry(), Entry()}));
    EXPECT_EQ(Section("RegistryValues"), std::vector<std::string>{Entry("*?ok")});
}

TEST_F(RegistryItemTest, FailuresAreLoggedShownAndFlaggedAndTheRunGoesOn) {
    // Below a volatile key no lasting key can be made.
    HKEY h, vol;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, base_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &h, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(h, "Vol", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &vol, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(vol);
    RegCloseKey(h);
    const std::string hkcu = "HKEY_CURRENT_USER\\" + base_;

    Write("\\Vol\\Sub\\Deep", "v*?REG_SZ*?x*?Yes*?Yes*?Default");
    Write("\\V", "num*?REG_DWORD*?ten*?Yes*?Yes*?Default");
    ctx_.Silent = true;
    Write("\\V", "bin*?REG_BINARY*?0g*?Yes*?Yes*?Default");

    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, base_ + "\\Vol\\Sub", kRuntimeView));
    EXPECT_EQ(ctx_.LogList, (std::vector<std::string>{
                                "Error creating registry key: " + hkcu + "\\Vol\\Sub\\Deep",
                                "Error writing registry value: " + hkcu + "\\V: num",
                                "Error writing registry value: " + hkcu + "\\V: bin",
                            }));
    ASSERT_EQ(prompt_.boxes.size(), 2u); // none in the silent run
    EXPECT_EQ(prompt_.boxes[0].text, "Error creating registry key:\r\n" + hkcu +
                                         "\\Vol\\Sub\\Deep\r\n\r\nAccess is denied.");
    EXPECT_EQ(prompt_.boxes[1].text,
              "Error creating registry value:\r\n" + hkcu + "\\V: num\r\n\r\nAccess is denied.");
    for (const Box& b : prompt_.boxes) {
        EXPECT_EQ(b.caption, "Setup");
        EXPECT_EQ(b.type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    }
    // The detail lines keep what the fixed failure lines leave out: the call the
    // system refused and its error. A value that is not a number never reached it.
    ASSERT_EQ(ctx_.LogDetails.size(), 1u);
    EXPECT_EQ(ctx_.LogDetails[0], "Error creating registry key: " + hkcu +
                                      "\\Vol\\Sub\\Deep: RegCreateKeyExA failed: error 1021 (" +
                                      SystemErrorMessage(ERROR_CHILD_MUST_BE_VOLATILE) + ")");
    EXPECT_TRUE(ctx_.Errors);
    // The missing parent recorded before the failed creation and the key made before
    // the failed value stay; no value is recorded.
    EXPECT_EQ(Section("RegistryKeys"),
              (std::vector<std::string>{Entry("\\Vol\\Sub"), Entry("\\V")}));
    EXPECT_TRUE(Section("RegistryValues").empty());
}

} // namespace
