// Drives a running setup's wizard from outside, as the keyboard and the eye would: the
// window and its controls, keys posted to the control that has the focus, the message
// boxes the setup shows, and screenshots. Shared by the wizard's window tests.
#pragma once

#include "SetupRunner.h"
#include "TestSupport.h"
#include "wizard/ControlIds.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace wizard_driver {

// This test process sees the setup's windows in physical pixels whatever the setup's
// scale (otherwise Wine maps them to the scale this process started with).
inline void SeePhysicalPixels() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    auto set = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE
    if (!set || !set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3)))) SetProcessDPIAware();
}

class Wizard {
  public:
    Wizard(const std::string& setup, const std::string& args, const std::string& temp)
        : program_(setup, args, TempAt(temp), 0, 99) {
        if (!program_.Started()) ADD_FAILURE() << "cannot start " << setup;
        form_ = WaitWindow(kFormClassName);
    }

    HWND Form() const { return form_; }
    HWND Ctl(int id) const { return GetDlgItem(form_, id); }
    std::string Text(int id) const { return TextOf(Ctl(id)); }
    bool Visible(int id) const { return IsWindowVisible(Ctl(id)) != FALSE; }
    bool Enabled(int id) const { return IsWindowEnabled(Ctl(id)) != FALSE; }
    // Posted: a click that opens a question must not block the test.
    void Click(int id) const { PostMessageA(Ctl(id), BM_CLICK, 0, 0); }
    // Replaces the text of an edit control or combo box, as typing it over would.
    void Type(int id, const std::string& text) const {
        SendMessageA(Ctl(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }

    // The control with the keyboard focus in the wizard's thread.
    HWND Focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(form_, nullptr), &info)) return nullptr;
        return info.hwndFocus;
    }
    // The focus once it reached expected, or where it is after 10 seconds: the wizard
    // moves it while handling a click, which a loaded machine may not have done yet.
    HWND WaitFocus(HWND expected) const {
        HWND focus = Focus();
        for (int i = 0; i < 1000 && focus != expected; ++i, Sleep(10))
            focus = Focus();
        return focus;
    }
    // A key as the keyboard gives it: posted to the focused control (or to target).
    void Key(WPARAM vk, HWND target = nullptr) const {
        HWND to = target ? target : Focus();
        if (!to) to = form_;
        const UINT scan = MapVirtualKeyA(static_cast<UINT>(vk), 0);
        PostMessageA(to, WM_KEYDOWN, vk, 1 | (scan << 16));
        PostMessageA(to, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
    }
    // Waits until the control shows the text; true when it did within 20 seconds.
    bool WaitText(int id, const std::string& text) const {
        for (int i = 0; i < 2000 && !Exited(); ++i, Sleep(10))
            if (Visible(id) && Text(id) == text) return true;
        return Visible(id) && Text(id) == text;
    }
    HWND FindWindowOf(const char* cls) const { return FindProcessWindow(program_.Id(), cls); }
    HWND WaitWindow(const char* cls, int ms = 20000) const {
        for (int i = 0; i < ms / 10 && !Exited(); ++i, Sleep(10))
            if (HWND found = FindWindowOf(cls)) return found;
        return nullptr;
    }
    // Why the wizard did not come: the box the setup shows, or its exit code.
    std::string Failure() const {
        if (HWND box = FindWindowOf("#32770"))
            return "the setup shows \"" + TextOf(box) + "\": " + BoxText(box);
        return Exited() ? "the setup ended with code " + std::to_string(ExitCode(0))
                        : "the setup shows no window";
    }
    bool Exited() const { return program_.Exited(); }
    DWORD ExitCode(DWORD timeoutMs = 30000) const {
        return program_.WaitExit(timeoutMs).value_or(0xDEADu);
    }
    // The pixels of the window's client area as they are on the screen, as a BMP file.
    void Screenshot(const std::string& file) const { WriteFileBytes(file, Pixels(false)); }
    // The pixels of the client area, or with wholeWindow of the window with its frame
    // and caption, as they are on the screen: the bytes of a BMP file.
    std::string Pixels(bool wholeWindow) const {
        Sleep(300); // let the page finish painting
        RECT r;
        if (wholeWindow) {
            GetWindowRect(form_, &r);
        } else {
            GetClientRect(form_, &r);
            MapWindowPoints(form_, nullptr, reinterpret_cast<POINT*>(&r), 2);
        }
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
        std::string bytes(reinterpret_cast<const char*>(&fh), sizeof fh);
        bytes.append(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
        bytes.append(static_cast<const char*>(bits), size);
        SelectObject(mem, old);
        DeleteObject(bmp);
        DeleteDC(mem);
        ReleaseDC(nullptr, screen);
        return bytes;
    }

  private:
    StartedProgram program_;
    HWND form_ = nullptr;
};

// A message box of the setup: its texts and owner, answered with the button of the
// given text; empty when no box came within the time.
struct Box {
    bool seen = false;
    std::string caption, text;
    HWND owner = nullptr;
    std::vector<std::string> buttons;
};

inline Box Answer(const Wizard& w, const char* button, int ms = 10000) {
    Box box;
    HWND b = w.WaitWindow("#32770", ms);
    if (!b) return box;
    box.seen = true;
    box.caption = TextOf(b);
    box.owner = GetWindow(b, GW_OWNER);
    box.buttons = BoxButtons(b);
    box.text = BoxText(b);
    HWND press = BoxButton(b, button);
    EXPECT_TRUE(press != nullptr) << "no button " << button;
    if (press) PostMessageA(press, BM_CLICK, 0, 0);
    for (int i = 0; i < 500 && IsWindow(b); ++i)
        Sleep(10);
    return box;
}

// A project whose wizard shows every page: two languages (so the Language page comes
// first), the demo's pictures, a licence and a readme, all three user fields, and the
// finish page's two boxes (not ticked: nothing is opened at the end).
inline void WriteEveryPageProject(const std::string& project, const std::string& extraKeys = "") {
    CreateDirectoryA(project.c_str(), nullptr);
    CreateDirectoryA((project + "\\payload").c_str(), nullptr);
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    WriteMinimalProject(
        project, "DialogWelcome=1\r\nDialogLicense=1\r\nDialogReadme=1\r\n"
                 "DialogUserInfo=1\r\nInfoUserName=1\r\nInfoCompany=1\r\nInfoCustom=1\r\n"
                 "DialogDestinationFolder=1\r\nDialogProgramGroup=1\r\n"
                 "ProgramGroup=Test Product\r\nDialogReady=1\r\nDialogFinish=1\r\n"
                 "ShowPublisher=1\r\n"
                 "CompanyName=Example Software Ltd.\r\nWebSite=http://example.com/\r\n"
                 "LaunchFile=1\r\nLaunchFileName=<InstallDir>\\a.txt\r\n"
                 "ViewReadme=1\r\nViewReadmeFile=<InstallDir>\\a.txt\r\n" +
                     extraKeys +
                     "\r\n[Payload]\r\n0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    const std::string setupDir = project + "\\setup\\";
    const std::string demo = QV_SOURCE_DIR "\\examples\\demo\\setup\\";
    for (const char* picture : {"qvwizard.bmp", "qvheader.bmp"})
        WriteFileBytes(setupDir + picture, ReadFileBytes(demo + picture));
    WriteFileBytes(setupDir + "Germanqv.lng", ReadFileBytes(setupDir + "Englishqv.lng"));
    const std::string rtf = "{\\rtf1\\ansi Licence terms of the product.\\par "
                            "See http://example.com/licence for details.\\par}";
    WriteFileBytes(setupDir + "L(Default).rtf", rtf);
    WriteFileBytes(setupDir + "R(Default).rtf", rtf);
}

} // namespace wizard_driver
