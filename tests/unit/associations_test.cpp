// [Extensions] records against the real registry of the Wine prefix and a real
// uninstall record.
#include "SystemState.h"
#include "TestContext.h"
#include "TestSupport.h"
#include "items/ItemHandlers.h"
#include "platform/Registry.h"
#include "record/UninstallRecord.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const std::string kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.";
const std::string kClasses = "SOFTWARE\\Classes\\";

// The key's default value, or "-" when the key or the value is missing.
std::string Default(HKEY root, const std::string& key) {
    const RegValue v = ReadRegValue(root, key, "");
    return v.present ? v.text : "-";
}

class Associations : public ::testing::Test {
  protected:
    Associations() {
        ctx_.SetupTempDir = temp_.Path();
        ctx_.Wizard.Edit1 = "C:\\Prog";
        ctx_.Prompt = &prompt_;
        ctx_.Language = std::make_unique<TIniFile>(kDemoLanguageFile);
        OpenUninstallRecord(ctx_);
    }
    ~Associations() override {
        CloseUninstallRecord(ctx_);
        RemoveKeys();
    }
    void RemoveKeys() {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            TRegistry reg;
            reg.SetRootKey(root);
            for (auto& k : {kClasses + "." + ext_, kClasses + ext_ + "file", kExplorer + ext_})
                reg.DeleteKey(k);
        }
    }
    // The record's RegistryKeys, each followed by "|".
    std::string Recorded() { return RecordedText(temp_ / "qvuninstall.ini", "RegistryKeys"); }

    ScratchDir temp_;
    RecordingPrompt prompt_;
    RunContext ctx_;
    std::string ext_ = UniqueName("qvt");
};

TEST_F(Associations, ClassKeysGoToTheInstallationsRootAndUserOverridesAreDropped) {
    struct Case {
        bool admin, perUser, uninstall;
        const char *iconFields, *icon;
    } cases[] = {
        {true, false, true, "*?0", "C:\\Prog\\App.exe,0"},                 // all users
        {false, false, false, "C:\\Icons.dll*?2", "C:\\Icons.dll,2"},      // no rights
        {true, true, true, "<InstallDir>\\I.ico*?1", "C:\\Prog\\I.ico,1"}, // per-user
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.icon);
        ctx_.Admin = c.admin;
        ctx_.PerUser = c.perUser;
        ctx_.UninstallOn = c.uninstall;
        // The user's own association and remembered choice, left by an earlier program.
        TRegistry user;
        ASSERT_TRUE(user.OpenKey(kClasses + "." + ext_, true));
        ASSERT_TRUE(user.OpenKey(kExplorer + ext_ + "\\UserChoice", true));
        user.CloseKey();
        CreateAssociation(ctx_, ext_ + "*?<InstallDir>\\App.exe*?ABC Document*?" + c.iconFields);

        const bool machine = c.admin && !c.perUser;
        const HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const std::string cls = kClasses + ext_ + "file";
        EXPECT_EQ(Default(root, kClasses + "." + ext_), ext_ + "file");
        EXPECT_EQ(Default(root, cls), "ABC Document");
        EXPECT_EQ(Default(root, cls + "\\DefaultIcon"), c.icon);
        EXPECT_EQ(Default(root, cls + "\\shell\\open\\command"), "C:\\Prog\\App.exe \"%1\"");
        EXPECT_EQ(Default(HKEY_LOCAL_MACHINE, kClasses + "." + ext_) != "-", machine);
        EXPECT_EQ(Default(HKEY_CURRENT_USER, kClasses + "." + ext_) != "-", !machine);
        EXPECT_EQ(Default(HKEY_CURRENT_USER, kExplorer + ext_), "-");
        RemoveKeys();
    }
    // The 32-bit view letter and the root's full name; the second case had Uninstall off.
    std::string m = "3HKEY_LOCAL_MACHINE\\" + kClasses, u = "3HKEY_CURRENT_USER\\" + kClasses;
    EXPECT_EQ(Recorded(), m + "." + ext_ + "|" + m + ext_ + "file|" + u + "." + ext_ + "|" + u +
                              ext_ + "file|");
    EXPECT_TRUE(ctx_.LogList.empty());
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_FALSE(ctx_.Errors);
}

TEST_F(Associations, MalformedRecordsWriteNothing) {
    ctx_.Admin = ctx_.UninstallOn = true;
    // A wrong field count is passed over silently; an extension that names no key of its
    // own (empty) or reaches into another is a failure.
    for (const std::string& r :
         {std::string("*?*?*?*?*?"), ext_ + "*?C:\\A.exe*?Doc*?C:\\I.ico",
          ext_ + "\\shell*?C:\\A.exe*?Doc*?*?0", std::string("*?C:\\A.exe*?Doc*?*?0")}) {
        CreateAssociation(ctx_, r);
        ctx_.Silent = !ctx_.LogList.empty(); // the last one is silent
    }
    EXPECT_EQ(Default(HKEY_LOCAL_MACHINE, kClasses + "." + ext_), "-");
    const std::string log = "Error creating association: .";
    EXPECT_EQ(ctx_.LogList, (std::vector<std::string>{log + ext_ + "\\shell", log}));
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text,
              "Error creating association for:\r\n." + ext_ + "\\shell\r\n\r\nAccess is denied.");
    EXPECT_EQ(prompt_.boxes[0].caption, "Setup");
    EXPECT_EQ(Recorded(), "");
    EXPECT_TRUE(ctx_.Errors);
}

} // namespace
