// The uninstaller without "/S", driven through its boxes as a user would: it asks with
// the record's texts, removes, and says so; a No leaves everything in place.
//
// Drives the uninstaller's boxes and checks where the focus is: no other test's window
// may take it meanwhile.
// qv-test-locks: desktop
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "UninstallRunner.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

bool KeyExists(HKEY root, const std::string& key) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

class UninstallWizard : public SetupFixture {
  protected:
    std::string dest = work / "dest";
    std::string guid = "{QV-UNINSTALL-GUI-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount()) + "}";

    void SetUp() override {
        SetupFixture::SetUp();
        WriteMinimalProject(project, "AppName=Gadget\r\nAppVersion=3.0\r\nGUID=" + guid +
                                         "\r\nUninstall=1\r\nShowAddRemove=1\r\nInstallLevel=0\r\n"
                                         "[Payload]\r\n0=payload\\gadget.txt?<InstallDir>\\"
                                         "gadget.txt?OVERWRITE?Yes\r\n");
        CreateDirectoryA((project + "\\payload").c_str(), nullptr);
        WriteFileBytes(project + "\\payload\\gadget.txt", "gadget");
        // The product's own texts for the removal, with a line break and the product's
        // name, as a language file gives them.
        const std::string lng = project + "\\setup\\Englishqv.lng";
        for (const auto& [key, text] : std::vector<std::pair<const char*, const char*>>{
                 {"0", "Remove <AppName>"},
                 {"1", "Take <AppName> off this computer?<#>All its parts go."},
                 {"2", "<AppName> is gone."}})
            WritePrivateProfileStringA("Uninstall", key, text, lng.c_str());
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, lng.c_str());
        AddUninstallerToProject(project);
        ASSERT_TRUE(BuildTestSetup(project, setup));
        ASSERT_EQ(RunSetup(setup, "/S /D \"" + dest + "\"", temp).exitCode, 0u);
        ASSERT_TRUE(PathExists(dest + "\\gadget.txt"));
    }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, (kUninstallKey + guid).c_str()); }
};

TEST_F(UninstallWizard, AsksWithTheRecordsTextsRemovesAndSaysSo) {
    UninstallRun run =
        RunUninstaller(dest + "\\Uninstall.exe", "", temp, 60000, [](const SeenBox& box) {
            return std::string(box.buttons.size() == 2 ? "&Yes" : "");
        });
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.copyExitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].caption, "Remove Gadget");
    EXPECT_EQ(run.boxes[0].text, "Take Gadget off this computer?\r\nAll its parts go.");
    EXPECT_EQ(run.boxes[0].buttons, (std::vector<std::string>{"&Yes", "&No"}));
    EXPECT_EQ(run.boxes[1].caption, "Remove Gadget");
    EXPECT_EQ(run.boxes[1].text, "Gadget is gone.");
    EXPECT_EQ(run.boxes[1].buttons, std::vector<std::string>{"OK"});
    // No window of the product owns them: the uninstaller has none.
    EXPECT_EQ(run.boxes[0].owner, nullptr);
    EXPECT_FALSE(PathExists(dest));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUninstallKey + guid));
}

TEST_F(UninstallWizard, NoLeavesTheProductInPlace) {
    UninstallRun run = RunUninstaller(dest + "\\Uninstall.exe", "", temp, 60000,
                                      [](const SeenBox&) { return std::string("&No"); });
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, "Remove Gadget");
    EXPECT_TRUE(PathExists(dest + "\\gadget.txt"));
    EXPECT_TRUE(PathExists(dest + "\\Uninstall.exe"));
    EXPECT_TRUE(PathExists(dest + "\\Uninstall.ini"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kUninstallKey + guid));
    // The temporary copy is gone as well.
    EXPECT_TRUE(UninstallerTempFolders(temp).empty());
}

} // namespace
