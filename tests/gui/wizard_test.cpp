// The wizard of real setups, driven from outside the way a user would: find the window,
// read its page texts and buttons, click, answer the questions, and check what the run
// left behind (installed files, setup temp folder, exit code). Screenshots of the pages
// are saved as BMP files in the test's scratch folder, and also in the folder named by
// QV_SCREENSHOTS when that is set.
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "wizard/ControlIds.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string TextOf(HWND wnd) {
    char buf[4096] = {};
    DWORD_PTR r = 0;
    SendMessageTimeoutA(wnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                        SMTO_ABORTIFHUNG, 5000, &r);
    return buf;
}

struct Search {
    DWORD pid;
    const char* cls;
    HWND found;
};

BOOL CALLBACK FindOfProcess(HWND wnd, LPARAM param) {
    auto* s = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    char cls[64] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (pid == s->pid && std::strcmp(cls, s->cls) == 0 && IsWindowVisible(wnd)) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// One running setup and its wizard window.
class Wizard {
  public:
    Wizard(const std::string& setup, const std::string& args, const std::string& temp,
           const std::string& shots)
        : shots_(shots) {
        TempEnvironment env(temp);
        std::string cmd = "\"" + setup + "\" " + args;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        if (!CreateProcessA(setup.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &pi_))
            ADD_FAILURE() << "cannot start " << setup;
        form_ = WaitWindow(kFormClassName);
    }
    ~Wizard() {
        if (!pi_.hProcess) return;
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(pi_.hProcess, 99);
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
    }
    HWND Form() const { return form_; }
    HWND Ctl(int id) const { return GetDlgItem(form_, id); }
    std::string Text(int id) const { return TextOf(Ctl(id)); }
    bool Visible(int id) const { return IsWindowVisible(Ctl(id)) != FALSE; }
    bool Enabled(int id) const { return IsWindowEnabled(Ctl(id)) != FALSE; }
    // Posted: a click that opens a question must not block the test.
    void Click(int id) const { PostMessageA(Ctl(id), BM_CLICK, 0, 0); }
    void Type(int id, const std::string& text) const {
        SendMessageA(Ctl(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    // Waits until the control shows the text; true when it did within 20 seconds.
    bool WaitText(int id, const std::string& text) const {
        for (int i = 0; i < 2000 && !Exited(); ++i) {
            if (Visible(id) && Text(id) == text) return true;
            Sleep(10);
        }
        return Visible(id) && Text(id) == text;
    }
    // A visible top-level window of the setup with the class, now or within 20 s.
    HWND FindWindowOf(const char* cls) const {
        Search s{pi_.dwProcessId, cls, nullptr};
        EnumWindows(FindOfProcess, reinterpret_cast<LPARAM>(&s));
        return s.found;
    }
    HWND WaitWindow(const char* cls) const {
        for (int i = 0; i < 2000 && !Exited(); ++i, Sleep(10))
            if (HWND found = FindWindowOf(cls)) return found;
        return nullptr;
    }
    bool Exited() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0; }
    DWORD ExitCode(DWORD timeoutMs = 30000) const {
        if (WaitForSingleObject(pi_.hProcess, timeoutMs) != WAIT_OBJECT_0) return 0xDEADu;
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    // The window's pixels as they are on the screen, as a BMP file.
    void Screenshot(const std::string& name) const {
        Sleep(300); // let the page finish painting
        RECT r;
        GetWindowRect(form_, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        HDC screen = GetDC(nullptr);
        HDC mem = CreateCompatibleDC(screen);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        void* bits = nullptr;
        HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        const DWORD size = ((w * 3 + 3) & ~3) * h;
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42; // "BM"
        fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
        fh.bfSize = fh.bfOffBits + size;
        std::string file(reinterpret_cast<const char*>(&fh), sizeof fh);
        file.append(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
        file.append(static_cast<const char*>(bits), size);
        SelectObject(mem, old);
        DeleteObject(bmp);
        DeleteDC(mem);
        ReleaseDC(nullptr, screen);
        WriteFileBytes(shots_ + "\\" + name + ".bmp", file);
        if (const char* extra = std::getenv("QV_SCREENSHOTS"))
            WriteFileBytes(std::string(extra) + "\\" + name + ".bmp", file);
    }

  private:
    PROCESS_INFORMATION pi_{};
    HWND form_ = nullptr;
    std::string shots_;
};

// A question or message box of the setup, read and answered by its button text.
struct Box {
    std::string caption, text;
    HWND owner = nullptr;
};

BOOL CALLBACK ReadBoxText(HWND child, LPARAM param) {
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    std::string t = TextOf(child);
    if (_stricmp(cls, "Static") == 0 && !t.empty()) *reinterpret_cast<std::string*>(param) = t;
    return TRUE;
}

struct Press {
    const char* text;
    bool done;
};

BOOL CALLBACK PressButton(HWND child, LPARAM param) {
    auto* p = reinterpret_cast<Press*>(param);
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (!p->done && _stricmp(cls, "Button") == 0 && TextOf(child) == p->text) {
        PostMessageA(child, BM_CLICK, 0, 0);
        p->done = true;
    }
    return TRUE;
}

Box Answer(const Wizard& w, const char* button) {
    Box box;
    HWND b = w.WaitWindow("#32770");
    if (!b) {
        ADD_FAILURE() << "no box appeared";
        return box;
    }
    box.caption = TextOf(b);
    box.owner = GetWindow(b, GW_OWNER);
    EnumChildWindows(b, ReadBoxText, reinterpret_cast<LPARAM>(&box.text));
    Press p{button, false};
    EnumChildWindows(b, PressButton, reinterpret_cast<LPARAM>(&p));
    EXPECT_TRUE(p.done) << "no button " << button;
    for (int i = 0; i < 500 && IsWindow(b); ++i)
        Sleep(10);
    return box;
}

class WizardTest : public ::testing::Test {
  protected:
    ScratchDir work;
    std::string temp = work / "temp";
    std::string project = work / "project";
    std::string setup = work / "setup.exe";
    std::string dest = work / "dest";

    void SetUp() override {
        CreateDirectoryA(temp.c_str(), nullptr);
        CreateDirectoryA((project).c_str(), nullptr);
        CreateDirectoryA((project + "\\payload").c_str(), nullptr);
    }
    // A setup with the [Setup] keys and one payload file per name given.
    void Build(const std::string& keys, const std::string& payload) {
        WriteMinimalProject(project, keys + "\r\n[Payload]\r\n" + payload);
        ASSERT_TRUE(BuildTestSetup(project, setup));
    }
    bool NoSetupTempLeft() const { return ListFolders(temp, "QVTMP").empty(); }
};

TEST_F(WizardTest, WalkToFinishInstallsAndRunsTheLaunchAction) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    CopyFileA(QV_FAKE_UNINSTALLER_PATH, (project + "\\payload\\tool.exe").c_str(), FALSE);
    Build("DialogWelcome=1\r\nDialogLicense=1\r\nAcceptAgreement=1\r\n"
          "DialogDestinationFolder=1\r\nDialogReady=1\r\nDialogFinish=1\r\n"
          "LaunchFile=1\r\nLaunchFileChecked=1\r\nLaunchFileName=<InstallDir>\\tool.exe /S\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n"
          "1=payload\\tool.exe?<InstallDir>\\tool.exe?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp, work.Path());
    ASSERT_TRUE(w.Form());
    EXPECT_EQ(TextOf(w.Form()), "Test Product 1.0 Installation");

    // Welcome: nothing before it, so no Back.
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    EXPECT_FALSE(w.Visible(kIdBtnBack));
    EXPECT_EQ(w.Text(kIdBtnNext), "&Next >");
    EXPECT_EQ(w.Text(kIdBtnCancel), "Cancel");
    w.Screenshot("1-welcome");

    // Licence: Next waits for the tick, and the tick is asked again on every visit.
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "License Agreement"));
    EXPECT_TRUE(w.Visible(kIdBtnBack));
    EXPECT_FALSE(w.Enabled(kIdBtnNext));
    w.Click(kIdCheckBox1);
    for (int i = 0; i < 200 && !w.Enabled(kIdBtnNext); ++i)
        Sleep(10);
    EXPECT_TRUE(w.Enabled(kIdBtnNext));
    w.Click(kIdBtnNext);

    ASSERT_TRUE(w.WaitText(kIdText1, "Select Application Folder"));
    EXPECT_EQ(w.Text(kIdEdit1), dest);
    EXPECT_EQ(w.Text(kIdBtnNext), "&Next >"); // the Ready page follows
    EXPECT_EQ(w.Text(kIdButton4), "&Browse...");
    w.Screenshot("2-destination");
    w.Click(kIdBtnBack);
    ASSERT_TRUE(w.WaitText(kIdText1, "License Agreement"));
    EXPECT_FALSE(w.Enabled(kIdBtnNext));
    w.Click(kIdCheckBox1);
    for (int i = 0; i < 200 && !w.Enabled(kIdBtnNext); ++i)
        Sleep(10);
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "Select Application Folder"));
    w.Click(kIdBtnNext);

    ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
    EXPECT_EQ(w.Text(kIdBtnNext), "&Install");
    EXPECT_EQ(w.Text(kIdMemo1).rfind("Destination directory:\r\n\t" + dest + "\r\n", 0), 0u);
    w.Click(kIdBtnNext);

    ASSERT_TRUE(w.WaitText(kIdLabel1, "Completing the Test Product Setup Wizard"));
    EXPECT_EQ(w.Text(kIdBtnNext), "&Finish");
    EXPECT_FALSE(w.Visible(kIdBtnBack));
    EXPECT_FALSE(w.Visible(kIdBtnCancel));
    EXPECT_TRUE(w.Visible(kIdCheckLaunchFile));
    EXPECT_EQ(w.Text(kIdCheckLaunchFile), "Launch Test Product");
    EXPECT_NE(w.Text(kIdLabel2).find("Click Finish to exit Setup."), std::string::npos);
    w.Screenshot("4-finish");
    w.Click(kIdBtnNext);

    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
    EXPECT_TRUE(NoSetupTempLeft());
    // The launch action started the installed tool with its parameter text.
    std::string log;
    for (int i = 0; i < 300 && log.empty(); ++i, Sleep(10))
        log = ReadFileBytes(temp + "\\fake-uninstaller.log");
    EXPECT_NE(log.find("/S"), std::string::npos) << log;
}

TEST_F(WizardTest, CancelAsksFirstAndNoKeepsThePage) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    Build("DialogWelcome=1\r\nDialogReady=1\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp, work.Path());
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));

    w.Click(kIdBtnCancel);
    Box box = Answer(w, "&No");
    EXPECT_EQ(box.caption, "Exit Setup");
    EXPECT_EQ(box.text, "Are you sure you want to abort the installation?");
    EXPECT_EQ(box.owner, w.Form());
    EXPECT_FALSE(w.Exited());
    EXPECT_EQ(w.Text(kIdLabel1), "Welcome to the Test Product Setup Wizard");

    // The close box goes through the same question; Yes ends the run normally.
    PostMessageA(w.Form(), WM_CLOSE, 0, 0);
    Answer(w, "&Yes");
    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
    EXPECT_TRUE(NoSetupTempLeft());
}

TEST_F(WizardTest, CancelWhileCopyingEndsWithCodeOne) {
    // Enough data that the copy is still running when Cancel is clicked (a 64-bit build
    // extracts 24 MB in about 0.2 s under Wine).
    WriteFileBytes(project + "\\payload\\big.bin", RandomBytes(64 << 20, 7));
    Build("DialogReady=1\r\n", "0=payload\\big.bin?<InstallDir>\\big.bin?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp, work.Path());
    ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
    EXPECT_FALSE(w.Visible(kIdBtnBack)); // the only page: nothing to go back to
    EXPECT_EQ(w.Text(kIdBtnNext), "&Install");
    w.Click(kIdBtnNext);

    ASSERT_TRUE(w.WaitText(kIdText1, "Installing..."));
    EXPECT_FALSE(w.Visible(kIdBtnNext));
    EXPECT_FALSE(w.Visible(kIdBtnBack));
    // Clicked first: the copy pauses while the question is open, so the picture
    // still shows the page in the middle of the copy.
    w.Click(kIdBtnCancel);
    w.Screenshot("3-install");
    Answer(w, "&Yes");
    EXPECT_EQ(w.ExitCode(), 1u);
    EXPECT_TRUE(NoSetupTempLeft());
}

TEST_F(WizardTest, PageChecksKeepTheUserOnThePage) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    // No Finish page: the window closes by itself after the installation.
    Build("DialogWelcome=1\r\nDialogUserInfo=1\r\nInfoUserName=1\r\nInfoUserNameReq=1\r\n"
          "DialogDestinationFolder=1\r\nInstallationPath=" +
              dest + "\\<UserName>\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    Wizard w(setup, "", temp, work.Path());
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    w.Click(kIdBtnNext);

    // A required name of blanks keeps the page, without a message.
    ASSERT_TRUE(w.WaitText(kIdText1, "User Information"));
    EXPECT_EQ(w.Text(kIdLUser), "Name:*");
    w.Type(kIdEUser, "   ");
    w.Click(kIdBtnNext);
    Sleep(500);
    EXPECT_EQ(w.Text(kIdText1), "User Information");
    EXPECT_EQ(w.FindWindowOf("#32770"), nullptr);
    w.Type(kIdEUser, "Ann");
    w.Click(kIdBtnNext);

    // The folder follows the typed name; Next is the last step before installing.
    ASSERT_TRUE(w.WaitText(kIdText1, "Select Application Folder"));
    EXPECT_EQ(w.Text(kIdEdit1), dest + "\\Ann");
    EXPECT_EQ(w.Text(kIdBtnNext), "&Install");
    w.Type(kIdEdit1, " x ");
    PostMessageA(w.Ctl(kIdEdit1), WM_KEYDOWN, VK_RETURN, 0); // Enter acts as Next
    Box box = Answer(w, "OK");
    EXPECT_EQ(box.text, "Please choose the directory for the installation.");
    EXPECT_EQ(box.caption, "Test Product 1.0 Installation");
    EXPECT_EQ(w.Text(kIdEdit1), "x"); // trimmed in place
    EXPECT_EQ(w.Text(kIdText1), "Select Application Folder");

    w.Type(kIdEdit1, dest + "\\Ann");
    w.Click(kIdBtnBack);
    ASSERT_TRUE(w.WaitText(kIdText1, "User Information"));
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "Select Application Folder"));
    w.Click(kIdBtnNext);
    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\Ann\\a.txt"), "alpha");
    EXPECT_TRUE(NoSetupTempLeft());
}

} // namespace
