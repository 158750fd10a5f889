// The wizard on high-DPI screens: at 100, 125, 150 and 200% every page is the 96-DPI
// layout scaled as a whole, each control's text fits the control in the control's
// font, and no control covers another. Screenshots of the pages are written to the
// folder named by QV_SCREENSHOTS (one subfolder per scale) when that is set.
//
// Wine reads the screen's figure from HKCU\Control Panel\Desktop LogPixels when a
// process starts (HKLM's hardware profile value only when that is missing), so the
// test sets it for the setups it starts and restores it afterwards; it runs alone.
// qv-test-locks: serial
#include "SetupFiles.h"
#include "WizardDriver.h"
#include "wizard/Dpi.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace wizard_driver;

namespace {

TEST(PictureForDpi, ChoosesTheSmallestCopyDrawnForAtLeastTheScale) {
    const std::vector<std::string> copies{"qvwizard-150.bmp", "QVWIZARD-200.BMP",
                                          "qvwizard-300.bmp", "qvheader-200.bmp"};
    EXPECT_EQ(PictureForDpi("qvwizard.bmp", 96, copies), "qvwizard.bmp");
    EXPECT_EQ(PictureForDpi("qvwizard.bmp", 120, copies), "qvwizard-150.bmp");
    EXPECT_EQ(PictureForDpi("qvwizard.bmp", 144, copies), "qvwizard-150.bmp");
    EXPECT_EQ(PictureForDpi("qvwizard.bmp", 192, copies), "QVWIZARD-200.BMP");
    EXPECT_EQ(PictureForDpi("qvwizard.bmp", 240, copies), "qvwizard-300.bmp");
    // Above every copy: the largest there is, still closer than the base.
    EXPECT_EQ(PictureForDpi("qvwizard.bmp", 384, copies), "qvwizard-300.bmp");
    EXPECT_EQ(PictureForDpi("qvheader.bmp", 144, copies), "qvheader-200.bmp");
    // Names that only look alike are no copies.
    EXPECT_EQ(PictureForDpi("qvheader.bmp", 192,
                            {"qvheader-.bmp", "qvheader-2x.bmp", "qvheader-100.bmp",
                             "qvheader-1000.bmp", "qvheader-200.png", "xqvheader-200.bmp"}),
              "qvheader.bmp");
}

TEST(ScaleToDpi, RoundsToTheNearestPixel) {
    EXPECT_EQ(ScaleToDpi(500, 96), 500);
    EXPECT_EQ(ScaleToDpi(500, 120), 625);
    EXPECT_EQ(ScaleToDpi(75, 144), 113); // 112.5
    EXPECT_EQ(ScaleToDpi(23, 192), 46);
    EXPECT_EQ(DpiPercent(144), 150);
}

// Sets the screen's figure for programs started from now on; restores the former one.
class ScreenDpi {
  public:
    explicit ScreenDpi(DWORD dpi) {
        RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key_, nullptr);
        DWORD size = sizeof old_;
        had_ = RegQueryValueExA(key_, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old_),
                                &size) == ERROR_SUCCESS;
        RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                       sizeof dpi);
    }
    ~ScreenDpi() {
        if (had_)
            RegSetValueExA(key_, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_),
                           sizeof old_);
        else
            RegDeleteValueA(key_, "LogPixels");
        RegCloseKey(key_);
    }
    ScreenDpi(const ScreenDpi&) = delete;
    ScreenDpi& operator=(const ScreenDpi&) = delete;

  private:
    HKEY key_ = nullptr;
    DWORD old_ = 0;
    bool had_ = false;
};

std::string ClassOf(HWND wnd) {
    char cls[64] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    return cls;
}

// The control's font as the wizard's layout gives it: Tahoma 8 pt, the large title
// 10 pt bold, the page title 8 pt bold.
HFONT FontOf(int id, int dpi) {
    const int points = id == kIdLabel1 ? 10 : 8;
    const bool bold = id == kIdLabel1 || id == kIdText1;
    return CreateFontA(-MulDiv(points, dpi, 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
}

// Where a control draws, in the form's client coordinates: a label only as far down as
// its text goes (the layout lets a label's box reach under the control below it).
struct Drawn {
    int id;
    RECT rect;
};

class PageCheck {
  public:
    PageCheck(HWND form, int dpi) : form_(form), dpi_(dpi), dc_(GetDC(nullptr)) {}
    ~PageCheck() { ReleaseDC(nullptr, dc_); }
    PageCheck(const PageCheck&) = delete;
    PageCheck& operator=(const PageCheck&) = delete;

    // Checks every visible control of the page; the failures name page and control.
    void Run(const std::string& page) {
        page_ = page;
        drawn_.clear();
        for (HWND c = GetWindow(form_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (IsWindowVisible(c)) Check(c);
        for (size_t i = 0; i < drawn_.size(); ++i)
            for (size_t j = i + 1; j < drawn_.size(); ++j)
                if (!Contains(drawn_[i].id, drawn_[j].id) &&
                    !Contains(drawn_[j].id, drawn_[i].id)) {
                    RECT both;
                    EXPECT_FALSE(IntersectRect(&both, &drawn_[i].rect, &drawn_[j].rect))
                        << page_ << ": control " << drawn_[i].id << " overlaps control "
                        << drawn_[j].id;
                }
    }
    int checked() const { return checked_; }

  private:
    static bool Contains(int outer, int inner) {
        if (outer == kIdGroupBox1) return inner == kIdEdit1 || inner == kIdButton4;
        if (outer == kIdRadioGroup1)
            return inner == kIdRadioRestartNow || inner == kIdRadioRestartLater;
        return false;
    }
    SIZE Extent(HFONT font, const std::string& text, UINT format, int width) {
        HGDIOBJ old = SelectObject(dc_, font);
        RECT r{0, 0, width, 0};
        DrawTextA(dc_, text.c_str(), -1, &r, format | DT_CALCRECT);
        SelectObject(dc_, old);
        return {r.right - r.left, r.bottom - r.top};
    }
    void Check(HWND c) {
        const int id = GetDlgCtrlID(c);
        const std::string cls = ClassOf(c), text = TextOf(c);
        const LONG style = GetWindowLongA(c, GWL_STYLE);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&r), 2);
        const int w = r.right - r.left, h = r.bottom - r.top;
        HFONT font = FontOf(id, dpi_);
        const std::string where = page_ + ": control " + std::to_string(id) + " \"" + text + "\"";
        Drawn d{id, r};
        const auto s = [&](int v) { return MulDiv(v, dpi_, 96); };
        if (_stricmp(cls.c_str(), "Static") == 0) {
            const int type = style & SS_TYPEMASK;
            if (type == SS_LEFT && !(style & SS_PATHELLIPSIS) && !text.empty()) {
                const UINT f =
                    DT_WORDBREAK | DT_EXPANDTABS | (style & SS_NOPREFIX ? DT_NOPREFIX : 0);
                const SIZE e = Extent(font, text, f, w);
                EXPECT_LE(e.cx, w) << where << ": a word is wider than the label";
                EXPECT_LE(e.cy, h) << where << ": the text is taller than the label";
                d.rect.bottom = r.top + e.cy;
                ++checked_;
            }
        } else if (_stricmp(cls.c_str(), "Button") == 0) {
            const int type = style & BS_TYPEMASK;
            const SIZE e = Extent(font, text, DT_SINGLELINE, 0);
            if (type == BS_GROUPBOX) {
                EXPECT_LE(e.cx + s(16), w) << where;
            } else if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX ||
                       type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON) {
                EXPECT_LE(s(13) + s(4) + e.cx, w) << where << ": the text is cut off";
                EXPECT_LE(e.cy, h) << where << ": the text is taller than the box";
            } else {
                EXPECT_LE(e.cx + s(8), w) << where << ": the caption does not fit the button";
                EXPECT_LE(e.cy + s(4), h) << where;
            }
            ++checked_;
        } else if (_stricmp(cls.c_str(), "Edit") == 0 && !(style & ES_MULTILINE)) {
            EXPECT_LE(Extent(font, "Ag", DT_SINGLELINE, 0).cy + 2, h)
                << where << ": a line does not fit";
            ++checked_;
        } else if (_stricmp(cls.c_str(), "ComboBox") == 0) {
            EXPECT_LE(Extent(font, text, DT_SINGLELINE | DT_NOPREFIX, 0).cx +
                          GetSystemMetrics(SM_CXVSCROLL) * dpi_ / 96,
                      w)
                << where;
            EXPECT_GE(h, Extent(font, "Ag", DT_SINGLELINE, 0).cy) << where;
            ++checked_;
        }
        DeleteObject(font);
        drawn_.push_back(d);
    }

    HWND form_;
    int dpi_;
    HDC dc_;
    std::string page_;
    std::vector<Drawn> drawn_;
    int checked_ = 0;
};

class WizardDpiTest : public SetupFixture, public ::testing::WithParamInterface<int> {
  protected:
    std::string dest = work / "dest";
    std::string shots;

    void SetUp() override {
        SeePhysicalPixels();
        SetupFixture::SetUp();
        if (const char* folder = std::getenv("QV_SCREENSHOTS")) {
            shots = std::string(folder) + "\\wizard-" + std::to_string(GetParam());
            CreateDirectoryA(folder, nullptr);
            CreateDirectoryA(shots.c_str(), nullptr);
        }
    }
};

TEST_P(WizardDpiTest, EveryPageIsScaledAndNothingIsCutOrCovered) {
    const int percent = GetParam(), dpi = MulDiv(96, percent, 100);
    WriteEveryPageProject(project, "RestartComputer=0\r\nInfoCustomName=Customer number\r\n"
                                   "InfoCustomReq=1\r\n");
    ASSERT_TRUE(BuildTestSetup(project, setup));
    ScreenDpi screen(static_cast<DWORD>(dpi));
    Wizard w(setup, "/D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.Form()) << w.Failure();

    RECT client;
    GetClientRect(w.Form(), &client);
    EXPECT_EQ(client.right, MulDiv(500, dpi, 96));
    EXPECT_EQ(client.bottom, MulDiv(362, dpi, 96));
    RECT next;
    GetWindowRect(w.Ctl(kIdBtnNext), &next);
    EXPECT_EQ(next.right - next.left, MulDiv(75, dpi, 96));

    struct Page {
        const char* file;
        int id;
        const char* text;
    };
    const Page pages[] = {
        {"01-language", kIdLabel1, "Welcome to the Test Product Setup Wizard"},
        {"02-welcome", kIdLPublisher, "Example Software Ltd."},
        {"03-licence", kIdText1, "License Agreement"},
        {"04-readme", kIdText1, "Readme Information"},
        {"05-user-information", kIdText1, "User Information"},
        {"06-destination", kIdText1, "Select Application Folder"},
        {"07-program-group", kIdText1, "Select Programs Menu Folder"},
        {"08-ready", kIdText1, "Ready to Install"},
        {"10-finish", kIdLabel1, "Completing the Test Product Setup Wizard"},
    };
    PageCheck check(w.Form(), dpi);
    for (const Page& page : pages) {
        SCOPED_TRACE(page.file);
        ASSERT_TRUE(w.WaitText(page.id, page.text));
        const std::string file = page.file;
        if (file == "05-user-information") {
            const std::pair<int, const char*> typed[] = {
                {kIdEUser, "Jane Doe"}, {kIdECompany, "Example Corp."}, {kIdECustomInfo, "12345"}};
            for (const auto& [id, text] : typed)
                SendMessageA(w.Ctl(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
        }
        // Typing a name puts the configured folder (none here) back: the test's again.
        if (file == "06-destination")
            SendMessageA(w.Ctl(kIdEdit1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(dest.c_str()));
        Sleep(200);
        check.Run(page.file);
        if (!shots.empty()) w.Screenshot(shots + "\\" + page.file + ".bmp");
        if (file != "10-finish") PostMessageA(w.Ctl(kIdBtnNext), BM_CLICK, 0, 0);
    }
    EXPECT_GT(check.checked(), 40);
    PostMessageA(w.Ctl(kIdBtnNext), BM_CLICK, 0, 0);
    EXPECT_EQ(w.ExitCode(), 0u);
}

// A one-colour 24-bit bitmap file.
std::string PlainBitmap(int width, int height, BYTE r, BYTE g, BYTE b) {
    const int stride = (width * 3 + 3) & ~3;
    std::string pixels(static_cast<size_t>(stride) * height, '\0');
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            pixels[y * stride + x * 3] = static_cast<char>(b);
            pixels[y * stride + x * 3 + 1] = static_cast<char>(g);
            pixels[y * stride + x * 3 + 2] = static_cast<char>(r);
        }
    BITMAPFILEHEADER fh{};
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = width;
    ih.biHeight = height;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    fh.bfType = 0x4D42; // "BM"
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(pixels.size());
    return std::string(reinterpret_cast<const char*>(&fh), sizeof fh) +
           std::string(reinterpret_cast<const char*>(&ih), sizeof ih) + pixels;
}

TEST(WizardPictures, ALargerCopyIsUsedAtItsScale) {
    SeePhysicalPixels();
    ScratchDir work;
    const std::string temp = work / "temp", project = work / "project", setup = work / "setup.exe";
    CreateDirectoryA(temp.c_str(), nullptr);
    WriteEveryPageProject(project);
    // The required pictures red, the copies for 200% green.
    WriteFileBytes(project + "\\setup\\qvwizard.bmp", PlainBitmap(500, 314, 255, 0, 0));
    WriteFileBytes(project + "\\setup\\qvheader.bmp", PlainBitmap(498, 55, 255, 0, 0));
    WriteFileBytes(project + "\\setup\\qvwizard-200.bmp", PlainBitmap(1000, 628, 0, 255, 0));
    WriteFileBytes(project + "\\setup\\qvheader-200.bmp", PlainBitmap(996, 110, 0, 255, 0));
    ASSERT_TRUE(BuildTestSetup(project, setup));
    for (const int dpi : {96, 192}) {
        SCOPED_TRACE(dpi);
        ScreenDpi screen(static_cast<DWORD>(dpi));
        Wizard w(setup, "/D \"" + (work / "dest") + "\"", temp);
        ASSERT_TRUE(w.Form()) << w.Failure();
        ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
        Sleep(300);
        POINT inside{MulDiv(20, dpi, 96), MulDiv(150, dpi, 96)}; // left of the text
        ClientToScreen(w.Form(), &inside);
        HDC screenDc = GetDC(nullptr);
        const COLORREF seen = GetPixel(screenDc, inside.x, inside.y);
        ReleaseDC(nullptr, screenDc);
        EXPECT_EQ(seen, dpi == 96 ? RGB(255, 0, 0) : RGB(0, 255, 0));
        PostMessageA(w.Form(), WM_CLOSE, 0, 0);
        Answer(w, "&Yes");
        EXPECT_EQ(w.ExitCode(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, WizardDpiTest, ::testing::Values(100, 125, 150, 200),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "At" + std::to_string(info.param);
                         });

} // namespace
