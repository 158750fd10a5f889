// The wizard from the keyboard alone, as a dialog answers it: Enter presses the default
// button (Next, Install, Finish) from every control that does not keep Enter itself,
// Escape asks the cancel question, Tab follows the reading order of each page, and
// focus rectangles and mnemonics follow the user's setting.
//
// Drives the wizard from the keyboard, which only the active window receives: no other
// test's window may take the focus meanwhile.
// qv-test-locks: desktop
#include "SetupFiles.h"
#include "WizardDriver.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using namespace wizard_driver;

namespace {

// Each page of the every-page project, in order, by a text that tells it apart.
struct PageMark {
    const char* name;
    int id;           // the control whose text tells the page
    const char* text; // its text
};

const PageMark kPages[] = {
    {"language", kIdLabel1, "Welcome to the Test Product Setup Wizard"},
    {"welcome", kIdLabel1, "Welcome to the Test Product Setup Wizard"},
    {"licence", kIdText1, "License Agreement"},
    {"readme", kIdText1, "Readme Information"},
    {"user information", kIdText1, "User Information"},
    {"destination", kIdText1, "Select Application Folder"},
    {"program group", kIdText1, "Select Programs Menu Folder"},
    {"ready", kIdText1, "Ready to Install"},
};

// The tab stops of the page as GetNextDlgTabItem walks them from the first one.
std::vector<HWND> TabSequence(HWND form) {
    std::vector<HWND> order;
    HWND first = GetNextDlgTabItem(form, nullptr, FALSE);
    for (HWND c = first; c && order.size() < 64;) {
        order.push_back(c);
        c = GetNextDlgTabItem(form, c, FALSE);
        if (c == first) break;
    }
    return order;
}

// Reading order: a control on a later line comes later; on the same line (their
// heights overlap), the one further right.
::testing::AssertionResult InReadingOrder(HWND form, const std::vector<HWND>& order) {
    for (size_t i = 1; i < order.size(); ++i) {
        RECT a, b;
        GetWindowRect(order[i - 1], &a);
        GetWindowRect(order[i], &b);
        const bool sameLine = a.top < b.bottom && b.top < a.bottom;
        const bool after = sameLine ? b.left > a.left : b.top >= a.bottom || b.top > a.top;
        if (!after)
            return ::testing::AssertionFailure()
                   << "tab stop " << i << " (id " << GetDlgCtrlID(order[i]) << ") comes before "
                   << "tab stop " << i - 1 << " (id " << GetDlgCtrlID(order[i - 1]) << ") of "
                   << TextOf(form);
    }
    return ::testing::AssertionSuccess();
}

class WizardKeyboardTest : public SetupFixture {
  protected:
    std::string dest = work / "dest";

    void Build(const std::string& keys = "") {
        WriteEveryPageProject(project, keys);
        ASSERT_TRUE(BuildTestSetup(project, setup));
    }
};

TEST_F(WizardKeyboardTest, EnterAdvancesAndEscapeAsksOnEveryPage) {
    Build();
    Wizard w(setup, "/L /D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.Form()) << w.Failure() << ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    for (const PageMark& page : kPages) {
        SCOPED_TRACE(page.name);
        if (std::string(page.name) == "welcome")
            ASSERT_TRUE(w.WaitText(kIdLPublisher, "Example Software Ltd."));
        else
            ASSERT_TRUE(w.WaitText(page.id, page.text));
        // Next/Install is the default button and is drawn as one.
        EXPECT_EQ(GetWindowLongA(w.Ctl(kIdBtnNext), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
        EXPECT_TRUE(InReadingOrder(w.Form(), TabSequence(w.Form())));

        // Escape: the question of the Cancel button; No keeps the page.
        w.Key(VK_ESCAPE);
        const Box box = Answer(w, "&No");
        ASSERT_TRUE(box.seen) << "Escape asked nothing";
        EXPECT_EQ(box.text, "Are you sure you want to abort the installation?");
        EXPECT_EQ(box.owner, w.Form());
        EXPECT_EQ(box.buttons, (std::vector<std::string>{"&Yes", "&No"}));
        EXPECT_FALSE(w.Exited());
        if (std::string(page.name) != "welcome") {
            EXPECT_EQ(w.Text(page.id), page.text);
        }

        // Enter from wherever the page put the focus (a name field on the user
        // information page, the Next button elsewhere) goes on.
        w.Key(VK_RETURN);
    }
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Completing the Test Product Setup Wizard"));
    EXPECT_TRUE(PathExists(dest + "\\a.txt"));
    EXPECT_EQ(w.Text(kIdBtnNext), "&Finish");
    const std::vector<HWND> finishStops = TabSequence(w.Form());
    EXPECT_EQ(finishStops, (std::vector<HWND>{w.Ctl(kIdCheckLaunchFile), w.Ctl(kIdCheckViewReadme),
                                              w.Ctl(kIdBtnNext)}));
    // Finish, from the keyboard too.
    w.Key(VK_RETURN);
    EXPECT_EQ(w.ExitCode(), 0u);
}

TEST_F(WizardKeyboardTest, EscapeYesEndsTheRunLikeCancel) {
    Build();
    Wizard w(setup, "/L /D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.Form()) << w.Failure() << ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    w.Key(VK_RETURN); // past the language page
    ASSERT_TRUE(w.WaitText(kIdLPublisher, "Example Software Ltd."));
    w.Key(VK_ESCAPE);
    ASSERT_TRUE(Answer(w, "&Yes").seen);
    // As the Cancel button's Yes: the run ends before anything was installed.
    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
}

TEST_F(WizardKeyboardTest, EscapeWhileCopyingAsksAndYesEndsWithCodeOne) {
    // The installation pumps the window's messages itself; Escape still reaches the
    // question. Enough data that the copy is still running when the key comes.
    CreateDirectoryA(project.c_str(), nullptr);
    CreateDirectoryA((project + "\\payload").c_str(), nullptr);
    WriteFileBytes(project + "\\payload\\big.bin", RandomBytes(64 << 20, 11));
    WriteMinimalProject(project, "DialogReady=1\r\n[Payload]\r\n"
                                 "0=payload\\big.bin?<InstallDir>\\big.bin?OVERWRITE?Yes\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    Wizard w(setup, "/D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
    w.Key(VK_RETURN);
    ASSERT_TRUE(w.WaitText(kIdText1, "Installing..."));
    w.Key(VK_ESCAPE);
    const Box box = Answer(w, "&Yes");
    ASSERT_TRUE(box.seen) << "Escape asked nothing during the copy";
    EXPECT_EQ(box.text, "Are you sure you want to abort the installation?");
    EXPECT_EQ(w.ExitCode(), 1u);
}

TEST_F(WizardKeyboardTest, EnterKeepsToTheViewsAndPressesAFocusedButton) {
    Build();
    Wizard w(setup, "/L /D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.Form()) << w.Failure() << ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    w.Key(VK_RETURN);
    ASSERT_TRUE(w.WaitText(kIdLPublisher, "Example Software Ltd."));
    w.Key(VK_RETURN);
    ASSERT_TRUE(w.WaitText(kIdText1, "License Agreement"));

    // The multi-line licence view keeps Enter: the page stays.
    w.Key(VK_RETURN, w.Ctl(kIdRichEdit1));
    Sleep(500);
    EXPECT_EQ(w.Text(kIdText1), "License Agreement");

    // Enter on the focused Back button presses Back, as in a dialog.
    w.Key(VK_RETURN, w.Ctl(kIdBtnBack));
    ASSERT_TRUE(w.WaitText(kIdLPublisher, "Example Software Ltd."));
    EXPECT_FALSE(w.Visible(kIdText1));

    // Enter in a check box goes on with Next.
    w.Key(VK_RETURN);
    ASSERT_TRUE(w.WaitText(kIdText1, "License Agreement"));
}

TEST_F(WizardKeyboardTest, LicenceAcceptanceFromTheKeyboard) {
    Build("AcceptAgreement=1\r\n");
    Wizard w(setup, "/L /D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.Form()) << w.Failure() << ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    w.Key(VK_RETURN);
    ASSERT_TRUE(w.WaitText(kIdLPublisher, "Example Software Ltd."));
    w.Key(VK_RETURN);
    ASSERT_TRUE(w.WaitText(kIdText1, "License Agreement"));
    // The acceptance box has the focus; Enter does nothing while Next is unavailable.
    EXPECT_EQ(w.Focus(), w.Ctl(kIdCheckBox1));
    w.Key(VK_RETURN);
    Sleep(500);
    EXPECT_EQ(w.Text(kIdText1), "License Agreement");
    // Space ticks the box, then Enter goes on.
    w.Key(VK_SPACE);
    for (int i = 0; i < 200 && !IsWindowEnabled(w.Ctl(kIdBtnNext)); ++i)
        Sleep(10);
    w.Key(VK_RETURN);
    EXPECT_TRUE(w.WaitText(kIdText1, "Readme Information"));
}

TEST_F(WizardKeyboardTest, FocusAndMnemonicsFollowTheUsersSetting) {
    Build();
    Wizard w(setup, "/L /D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.Form()) << w.Failure() << ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    BOOL cues = FALSE;
    SystemParametersInfoA(SPI_GETKEYBOARDCUES, 0, &cues, 0);
    const LRESULT hidden = UISF_HIDEFOCUS | UISF_HIDEACCEL;
    EXPECT_EQ(SendMessageA(w.Form(), WM_QUERYUISTATE, 0, 0) & hidden, cues ? 0 : hidden);
    // The state reaches the controls, which draw by it.
    EXPECT_EQ(SendMessageA(w.Ctl(kIdBtnNext), WM_QUERYUISTATE, 0, 0) & hidden, cues ? 0 : hidden);

    // Tab shows the focus rectangle (and moves the focus on); Alt shows the mnemonics.
    w.Key(VK_TAB);
    for (int i = 0; i < 200 && (SendMessageA(w.Form(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS);
         ++i)
        Sleep(10);
    EXPECT_EQ(SendMessageA(w.Form(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, 0);
    EXPECT_EQ(SendMessageA(w.Ctl(kIdBtnNext), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, 0);
    PostMessageA(w.Focus(), WM_SYSKEYDOWN, VK_MENU, 0x20380001);
    PostMessageA(w.Focus(), WM_SYSKEYUP, VK_MENU, 0xC0380001u);
    for (int i = 0; i < 200 && (SendMessageA(w.Form(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL);
         ++i)
        Sleep(10);
    EXPECT_EQ(SendMessageA(w.Form(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL, 0);
}

} // namespace
