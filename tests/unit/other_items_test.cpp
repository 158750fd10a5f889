// [Others] records against the real system of the Wine prefix and a real uninstall
// record.
//
// Changes the desktop's wallpaper (put back afterwards), the session's font table and
// the registered type libraries, which belong to the whole machine.
// qv-test-locks: machine_state
#include "TestContext.h"
#include "TestSupport.h"
#include "items/ItemHandlers.h"
#include "platform/Registry.h"
#include "record/UninstallRecord.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class OtherItems : public ::testing::Test {
  protected:
    OtherItems() {
        ctx_.SetupTempDir = temp_.Path();
        ctx_.Wizard.Edit1 = dir_.Path();
        ctx_.Prompt = &prompt_;
        ctx_.UninstallOn = true;
        ctx_.View.LTask = "before";
        ctx_.Language = std::make_unique<TIniFile>(kDemoLanguageFile);
        OpenUninstallRecord(ctx_);
    }
    ~OtherItems() override { CloseUninstallRecord(ctx_); }
    // A section of the record, each entry followed by "|".
    std::string Recorded(const std::string& section) {
        return RecordedText(temp_ / "qvuninstall.ini", section);
    }
    void ExpectOneFailure(const std::string& log, const std::string& box) {
        EXPECT_EQ(ctx_.LogList, std::vector<std::string>{log});
        ASSERT_EQ(prompt_.boxes.size(), 1u);
        EXPECT_EQ(prompt_.boxes[0].text, box);
        EXPECT_EQ(prompt_.boxes[0].caption + std::to_string(prompt_.boxes[0].type),
                  "Setup" + std::to_string(MB_OK | MB_ICONERROR));
        EXPECT_TRUE(ctx_.Errors);
        ctx_.LogList.clear();
        prompt_.boxes.clear();
    }

    ScratchDir temp_, dir_;
    RecordingPrompt prompt_;
    RunContext ctx_;
};

TEST_F(OtherItems, MissingFilesAreReportedAndBlankOrUnknownRecordsPassedOver) {
    for (const char* r : {"", "FONT*?C:\\x.ttf", "REGISTRY*?C:\\x.ttf*?No", "*?*?"})
        ProcessOtherItem(ctx_, r);
    EXPECT_EQ(ctx_.View.LTask, "before");
    const std::string missing = dir_ / "missing.bin";
    for (auto [kind, word] : {std::pair{"FONT", "font"},
                              {"dll/activex", "activex"},
                              {"Type Library", "tlb"},
                              {"SCREENSAVER", "src"}}) {
        ProcessOtherItem(ctx_, std::string(kind) + "*?<InstallDir>\\missing.bin*?No");
        ExpectOneFailure("Error " + std::string(word) + " file: " + missing,
                         "File not found:\r\n" + missing);
    }
    EXPECT_EQ(Recorded("Fonts") + Recorded("ActiveX") + Recorded("TypeLibrary"), "");
    ctx_.Silent = true; // the log line and the flag, no box
    ProcessOtherItem(ctx_, "FONT*?" + missing + "*?No");
    EXPECT_EQ(ctx_.LogList.size() + prompt_.boxes.size(), 1u);
}

LRESULT CALLBACK CountFontChanges(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_FONTCHANGE)
        SetWindowLongPtrA(w, GWLP_USERDATA, GetWindowLongPtrA(w, GWLP_USERDATA) + 1);
    return DefWindowProcA(w, msg, wp, lp);
}

TEST_F(OtherItems, FontIsAddedAnnouncedAndRecordedOnce) {
    std::string fonts = "C:\\windows\\Fonts\\";
    std::vector<std::string> found = ListMatching(fonts + "*.ttf");
    if (found.empty()) { // Wine's prefix may have none; the host's fonts then
        fonts = "Z:\\usr\\share\\fonts\\truetype\\dejavu\\";
        found = ListMatching(fonts + "*.ttf");
    }
    if (found.empty()) GTEST_SKIP() << "no .ttf in C:\\windows\\Fonts to register";
    const std::string font = dir_ / "qvtest.ttf", junk = dir_ / "junk.ttf";
    WriteFileBytes(font, ReadFileBytes(fonts + found.front()));
    WriteFileBytes(junk, "not a font");

    WNDCLASSA wc{};
    wc.lpfnWndProc = CountFontChanges;
    wc.lpszClassName = "QvFontWatcher";
    RegisterClassA(&wc);
    HWND watcher = CreateWindowA(wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
    std::string upper = font;
    CharUpperA(upper.data());
    ProcessOtherItem(ctx_, "font*?" + font + "*?No");
    ProcessOtherItem(ctx_, "FONT*?" + upper + "*?No"); // the same file: recorded once
    ProcessOtherItem(ctx_, "FONT*?" + font + "*?yes"); // kept after removal
    EXPECT_EQ(ctx_.View.LTask, "Registering Fonts...");
    EXPECT_EQ(GetWindowLongPtrA(watcher, GWLP_USERDATA), 3);
    DestroyWindow(watcher);
    while (RemoveFontResourceA(font.c_str())) {
    }
    ProcessOtherItem(ctx_, "FONT*?" + junk + "*?No"); // refused by the system
    ExpectOneFailure("Error font: " + junk, "Error registering font:\r\n" + junk);
    EXPECT_EQ(Recorded("Fonts"), font + "|");
}

TEST_F(OtherItems, LibrariesAreRegisteredOnlyFromFullPathsWithTheirEntryPoint) {
    char sys[MAX_PATH] = {};
    GetSystemDirectoryA(sys, MAX_PATH);
    const std::string ocx = sys + std::string("\\hhctrl.ocx"),
                      k32 = sys + std::string("\\kernel32.dll");
    WriteFileBytes(dir_ / "text.dll", "plain text");
    WriteFileBytes(dir_ / "plant.ocx", ReadFileBytes(ocx));
    ProcessOtherItem(ctx_, "DLL/ACTIVEX*?" + ocx + "*?No");
    ProcessOtherItem(ctx_, "DLL/ACTIVEX*?" + ocx + "*?Yes");
    EXPECT_EQ(ctx_.View.LTask, "Registering ActiveX...");
    ProcessOtherItem(ctx_, "DLL/ACTIVEX*?<InstallDir>\\text.dll*?No"); // no library: no word
    // A library planted in the current folder is never loaded by a bare name.
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    SetCurrentDirectoryA(dir_.Path().c_str());
    ProcessOtherItem(ctx_, "DLL/ACTIVEX*?plant.ocx*?No");
    SetCurrentDirectoryA(cwd);
    ExpectOneFailure("Error activex file: plant.ocx", "File not found:\r\nplant.ocx");
    ProcessOtherItem(ctx_, "DLL/ACTIVEX*?" + k32 + "*?No"); // no DllRegisterServer
    ExpectOneFailure("Error activex: " + k32, "Unable to register DLL/OCX:\r\n" + k32);
    EXPECT_EQ(Recorded("ActiveX"), ocx + "|");
}

TEST_F(OtherItems, TypeLibraryIsRegisteredAndRecorded) {
    const std::string tlb = dir_ / "qvtest.tlb";
    GUID guid;
    ICreateTypeLib2* ctl = nullptr;
    ASSERT_EQ(CoCreateGuid(&guid), S_OK);
    ASSERT_EQ(CreateTypeLib2(SYS_WIN32, std::wstring(tlb.begin(), tlb.end()).c_str(), &ctl), S_OK);
    ctl->SetGuid(guid);
    ASSERT_EQ(ctl->SaveAllChanges(), S_OK);
    ctl->Release();
    ProcessOtherItem(ctx_, "TYPE LIBRARY*?" + tlb + "*?No");
    EXPECT_EQ(ctx_.View.LTask, "Registering Type Library...");
    EXPECT_EQ(UnRegisterTypeLib(guid, 0, 0, 0, SYS_WIN32), S_OK); // it was registered
    EXPECT_EQ(Recorded("TypeLibrary"), tlb + "|");
}

TEST_F(OtherItems, WallpaperAndScreenSaverAreWrittenAndRecorded) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Control Panel\\Desktop", true));
    std::string oldPaper, oldTile, paper, tile;
    const bool hadPaper = reg.ReadString("Wallpaper", oldPaper);
    const bool hadTile = reg.ReadString("TileWallpaper", oldTile);
    const std::string missing = dir_ / "missing.bmp"; // existence is not required
    ProcessOtherItem(ctx_, "WALLPAPER*?" + missing + "*?No");
    ASSERT_TRUE(reg.OpenKey("Control Panel\\Desktop", false));
    reg.ReadString("Wallpaper", paper);
    reg.ReadString("TileWallpaper", tile);
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, oldPaper.data(), 0); // the desktop as it was
    hadPaper ? reg.WriteString("Wallpaper", oldPaper) : reg.DeleteValue("Wallpaper");
    hadTile ? reg.WriteString("TileWallpaper", oldTile) : reg.DeleteValue("TileWallpaper");
    EXPECT_EQ(paper + "|" + tile, missing + "|0");
    EXPECT_EQ(Recorded("Wallpaper"), missing + "|");

    WriteFileBytes(dir_ / "qvtest.scr", "screen saver");
    ProcessOtherItem(ctx_, "screensaver*?<InstallDir>\\qvtest.scr*?Yes");
    EXPECT_EQ(Recorded("ScreenSaver"), (dir_ / "qvtest.scr") + "|");
    EXPECT_EQ(ctx_.View.LTask, "before");
    EXPECT_FALSE(ctx_.Errors);
}

} // namespace
