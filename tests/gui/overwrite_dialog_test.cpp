// The real overwrite dialog: shown by this process, found among the top-level windows
// by its dialog class and process, read and answered from a second thread the way a
// user would.
//
// Shows a real dialog and finds it among the desktop's top-level windows; like the other
// window tests it has the desktop to itself, so that no other test's window takes the
// activation (and the dialog's focus) away from it.
// qv-test-locks: desktop
#include "WindowText.h"
#include "platform/OverwriteDialog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

// The dialog of this process with the dialog class and the caption, once visible.
HWND WaitForDialog(const std::string& caption) {
    for (int i = 0; i < 1000; ++i) {
        HWND hwnd = FindWindowA("#32770", caption.c_str());
        DWORD pid = 0;
        if (hwnd) GetWindowThreadProcessId(hwnd, &pid);
        if (hwnd && pid == GetCurrentProcessId() && IsWindowVisible(hwnd)) return hwnd;
        Sleep(5);
    }
    return nullptr;
}

struct Seen {
    bool found = false;
    std::vector<std::string> buttons; // in tab order
    std::vector<std::string> statics;
    bool hasIcon = false;
};

BOOL CALLBACK CollectChildren(HWND child, LPARAM param) {
    auto* seen = reinterpret_cast<Seen*>(param);
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0) seen->buttons.push_back(TextOf(child));
    if (lstrcmpiA(cls, "Static") == 0) {
        if (SendMessageA(child, STM_GETICON, 0, 0))
            seen->hasIcon = true;
        else
            seen->statics.push_back(TextOf(child));
    }
    return TRUE;
}

// What the second thread, the user, gets: the dialog to wait for, what to record, what
// to do.
struct User {
    const std::string* caption;
    Seen* seen;
    void (*act)(HWND);
};

DWORD WINAPI ActAsUser(LPVOID param) {
    const auto* user = static_cast<const User*>(param);
    HWND dlg = WaitForDialog(*user->caption);
    if (!dlg) return 0;
    user->seen->found = true;
    EnumChildWindows(dlg, &CollectChildren, reinterpret_cast<LPARAM>(user->seen));
    user->act(dlg);
    return 0;
}

// Shows the dialog on this thread while another thread reads it and then acts. A
// Win32 thread: the compilers' thread model has no std::thread.
OverwriteAnswer ShowAndAct(const std::string& caption, const std::string& text, Seen& seen,
                           void (*act)(HWND)) {
    User user{&caption, &seen, act};
    HANDLE thread = CreateThread(nullptr, 0, &ActAsUser, &user, 0, nullptr);
    if (!thread) {
        ADD_FAILURE() << "CreateThread failed: " << GetLastError();
        return OverwriteAnswer::Closed;
    }
    OverwriteAnswer answer = ShowOverwriteDialog(nullptr, text, caption);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return answer;
}

void ClickNoToAll(HWND dlg) {
    SendMessageA(GetDlgItem(dlg, kIdNoToAll), BM_CLICK, 0, 0);
}
void ClickYesToAll(HWND dlg) {
    SendMessageA(GetDlgItem(dlg, kIdYesToAll), BM_CLICK, 0, 0);
}
void ClickYes(HWND dlg) {
    SendMessageA(GetDlgItem(dlg, IDYES), BM_CLICK, 0, 0);
}
void CloseBox(HWND dlg) {
    PostMessageA(dlg, WM_CLOSE, 0, 0);
}
void Escape(HWND dlg) {
    PostMessageA(dlg, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(dlg, WM_KEYUP, VK_ESCAPE, 0);
}

TEST(OverwriteDialog, ShowsTheFourButtonsAndAnswersNoToAll) {
    Seen seen;
    const std::string text = "The file C:\\Apps\\Demo\\demo.dll exists.\r\nOverwrite it?";
    EXPECT_EQ(ShowAndAct("Demo Setup 1", text, seen, &ClickNoToAll), OverwriteAnswer::NoToAll);
    ASSERT_TRUE(seen.found) << "no dialog of class #32770 appeared";
    EXPECT_EQ(seen.buttons, (std::vector<std::string>{"Yes", "No", "No to All", "Yes to All"}));
    ASSERT_EQ(seen.statics.size(), 1u);
    EXPECT_EQ(seen.statics[0], text);
    EXPECT_TRUE(seen.hasIcon);
}

TEST(OverwriteDialog, EveryButtonAndEveryWayOfClosing) {
    Seen a, b, c, d;
    EXPECT_EQ(ShowAndAct("Demo Setup 2", "x", a, &ClickYes), OverwriteAnswer::Yes);
    EXPECT_EQ(ShowAndAct("Demo Setup 3", "x", b, &ClickYesToAll), OverwriteAnswer::YesToAll);
    EXPECT_EQ(ShowAndAct("Demo Setup 4", "x", c, &CloseBox), OverwriteAnswer::Closed);
    EXPECT_EQ(ShowAndAct("Demo Setup 5", "x", d, &Escape), OverwriteAnswer::Closed);
    EXPECT_TRUE(a.found && b.found && c.found && d.found);
}

TEST(OverwriteDialog, ALongTextGrowsTheDialogAndKeepsTheButtonsBelowIt) {
    std::string text;
    for (int i = 0; i < 12; ++i)
        text += "Line " + std::to_string(i) + " of a long message.\r\n";
    static RECT textRect, buttonRect;
    Seen seen;
    auto measure = [](HWND dlg) {
        HWND label = nullptr;
        for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            char cls[32] = {};
            GetClassNameA(c, cls, sizeof cls);
            if (lstrcmpiA(cls, "Static") == 0 && !SendMessageA(c, STM_GETICON, 0, 0)) label = c;
        }
        GetWindowRect(label, &textRect);
        GetWindowRect(GetDlgItem(dlg, IDYES), &buttonRect);
        SendMessageA(GetDlgItem(dlg, IDNO), BM_CLICK, 0, 0);
    };
    EXPECT_EQ(ShowAndAct("Demo Setup 6", text, seen, measure), OverwriteAnswer::No);
    ASSERT_TRUE(seen.found);
    EXPECT_GT(textRect.bottom - textRect.top, 12 * 10); // room for twelve lines
    EXPECT_GE(buttonRect.top, textRect.bottom);
}

} // namespace
