// The wizard's controls, fonts and backgrounds: a fixed layout of 500 x 362 pixels at
// 96 dots per inch, scaled as a whole to the screen's figure when the window is made.
#include "platform/FileUtil.h"
#include "run/RunContext.h"
#include "wizard/Appearance.h"
#include "wizard/ControlIds.h"
#include "wizard/Dpi.h"
#include "wizard/Unit1.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {

constexpr int kPageTop = 65; // the inner page bodies start below the header strip
constexpr DWORD kLabel = SS_LEFT;
constexpr DWORD kCheck = BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER;

HFONT MakeFont(const std::string& face, int points, int dpi, int charset, bool bold,
               bool underline) {
    const int height = -MulDiv(points, dpi, 72);
    return CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline, FALSE,
                       static_cast<BYTE>(charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

// A copy of picture stretched to w x h over a white ground, drawn at (x, y) of a
// bitmap of bw x bh. The halftone mode averages the source pixels, so a picture
// enlarged for a high-DPI screen is smoothed rather than blocky.
HBITMAP StretchedCopy(HBITMAP picture, int bw, int bh, int x, int y, int w, int h) {
    HDC screen = GetDC(nullptr);
    HDC dst = CreateCompatibleDC(screen);
    HBITMAP result = CreateCompatibleBitmap(screen, bw, bh);
    HGDIOBJ oldDst = SelectObject(dst, result);
    RECT all{0, 0, bw, bh};
    FillRect(dst, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    BITMAP info{};
    if (picture && GetObjectA(picture, sizeof info, &info)) {
        HDC src = CreateCompatibleDC(screen);
        HGDIOBJ oldSrc = SelectObject(src, picture);
        SetStretchBltMode(dst, HALFTONE);
        SetBrushOrgEx(dst, 0, 0, nullptr);
        StretchBlt(dst, x, y, w, h, src, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
        SelectObject(src, oldSrc);
        DeleteDC(src);
    }
    SelectObject(dst, oldDst);
    DeleteDC(dst);
    ReleaseDC(nullptr, screen);
    return result;
}

void DrawPicture(HDC dc, HBITMAP picture, int x, int y) {
    BITMAP info{};
    if (!picture || !GetObjectA(picture, sizeof info, &info)) return;
    HDC src = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(src, picture);
    BitBlt(dc, x, y, info.bmWidth, info.bmHeight, src, 0, 0, SRCCOPY);
    SelectObject(src, old);
    DeleteDC(src);
}

// An icon of the system's shell32.dll at size x size pixels, so that the pages' small
// pictures are as sharp as the rest at any scale; the standard size where the system
// cannot give another.
HICON ShellIcon(int index, int size) {
    char dir[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryA(dir, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        const std::string file = std::string(dir, n) + "\\shell32.dll";
        HICON icon = nullptr;
        if (SHDefExtractIconA(file.c_str(), index, 0, &icon, nullptr, MAKELONG(size, 16)) == S_OK &&
            icon)
            return icon;
    }
    HICON icon = ExtractIconA(GetModuleHandleA(nullptr), "shell32.dll", index);
    return reinterpret_cast<INT_PTR>(icon) > 1 ? icon : nullptr;
}

void HorizontalBevel(HDC dc, int y, int width) {
    RECT r{0, y, width, y + 2};
    DrawEdge(dc, &r, EDGE_ETCHED, BF_TOP);
}

} // namespace

void TForm1::AddControl(int container, int id, const char* cls, DWORD style, int x, int y, int w,
                        int h) {
    HWND c = CreateWindowExA(0, cls, "", WS_CHILD | style, Scaled(x), Scaled(y), Scaled(w),
                             Scaled(h), wnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleA(nullptr), nullptr);
    if (c) {
        SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_), FALSE);
        controls_.push_back({c, id, container, true});
    }
}

namespace {

// Window classes of the controls, by index in the layout table.
enum ControlClass : unsigned char { kButton, kStatic, kEditBox, kCombo, kRich, kProgress };
const char* const kClassNames[] = {"BUTTON",   "STATIC",        "EDIT",
                                   "COMBOBOX", RICHEDIT_CLASSA, PROGRESS_CLASSA};

struct Layout {
    unsigned char container, cls;
    short id;
    DWORD style;
    short x, y, w, h;
};

constexpr short T = kPageTop;
// Enter belongs to the views (ES_WANTRETURN): without it they hand Enter on to the
// default button, and a reader paging through the licence would leave the page.
constexpr DWORD kRichStyle =
    ES_MULTILINE | ES_WANTRETURN | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;

} // namespace

void TForm1::CreateControls() {
    static const Layout kLayout[] = {
        // The order of this table is the Tab order: each page in reading order, then the
        // bottom row.
        // Full-size panel: text starts at 178, right of the wizard picture.
        {kPanel1, kStatic, kIdLabel1, kLabel, 178, 18, 308, 71},
        {kPanel1, kStatic, kIdLabel2, kLabel, 178, 88, 308, 169},
        {kPanel1, kCombo, kIdComboLng, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 178, 110, 308,
         200},
        {kPanel1, kButton, kIdCheckLaunchFile, kCheck, 178, 184, 308, 17},
        {kPanel1, kButton, kIdCheckViewReadme, kCheck, 178, 208, 308, 17},
        {kPanel1, kButton, kIdCheckCustomRun, kCheck, 178, 232, 308, 17},
        {kPanel1, kButton, kIdRadioGroup1, BS_GROUPBOX, 178, 184, 308, 73},
        {kPanel1, kButton, kIdRadioRestartNow, BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 186, 204,
         292, 17},
        {kPanel1, kButton, kIdRadioRestartLater, BS_AUTORADIOBUTTON, 186, 228, 292, 17},
        {kPanel1, kStatic, kIdLabel9, kLabel, 178, 288, 68, 14},
        {kPanel1, kStatic, kIdLPublisher, kLabel | SS_NOTIFY | SS_NOPREFIX, 248, 288, 238, 14},
        // Header of the inner pages.
        {kPanel2, kStatic, kIdText1, kLabel | SS_CENTERIMAGE, 24, 5, 409, 20},
        {kPanel2, kStatic, kIdText2, kLabel, 40, 26, 393, 30},
        // Licence.
        {kP1, kStatic, kIdLabel4, kLabel, 40, T, 420, 28},
        {kP1, kRich, kIdRichEdit1, kRichStyle, 40, T + 32, 420, 156},
        {kP1, kStatic, kIdLabel11, kLabel, 40, T + 194, 420, 28},
        {kP1, kButton, kIdCheckBox1, kCheck, 40, T + 198, 420, 17},
        // Readme.
        {kP2, kStatic, kIdLabel18, kLabel, 40, T, 420, 28},
        {kP2, kRich, kIdRichEdit2, kRichStyle, 40, T + 32, 420, 200},
        // User information.
        {kP3, kStatic, kIdLabel5, kLabel, 40, T, 420, 28},
        {kP3, kStatic, kIdLUser, kLabel, 40, T + 40, 420, 14},
        {kP3, kEditBox, kIdEUser, kEdit, 40, T + 56, 420, 21},
        {kP3, kStatic, kIdLCompany, kLabel, 40, T + 88, 420, 14},
        {kP3, kEditBox, kIdECompany, kEdit, 40, T + 104, 420, 21},
        {kP3, kStatic, kIdLCustomInfo, kLabel, 40, T + 136, 420, 14},
        {kP3, kEditBox, kIdECustomInfo, kEdit, 40, T + 152, 420, 21},
        // Destination.
        {kP4, kStatic, kIdImage5, SS_ICON | SS_CENTERIMAGE, 40, T, 37, 37},
        {kP4, kStatic, kIdLabel10, kLabel, 88, T + 4, 372, 30},
        {kP4, kStatic, kIdLabel6, kLabel, 40, T + 48, 420, 28},
        {kP4, kButton, kIdGroupBox1, BS_GROUPBOX, 40, T + 92, 420, 56},
        {kP4, kEditBox, kIdEdit1, kEdit, 56, T + 114, 300, 21},
        {kP4, kButton, kIdButton4, kPush, 368, T + 113, 80, 23},
        {kP4, kStatic, kIdLSpaceRequired, kLabel, 40, T + 196, 420, 14},
        {kP4, kStatic, kIdLSpaceFree, kLabel, 40, T + 214, 420, 14},
        // Program group.
        {kP5, kStatic, kIdImage3, SS_ICON | SS_CENTERIMAGE, 40, T, 45, 39},
        {kP5, kStatic, kIdLabel3, kLabel, 96, T + 4, 364, 30},
        {kP5, kCombo, kIdComboBox1, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 40,
         T + 48, 420, 200},
        {kP5, kButton, kIdCheckPrograms, kCheck, 40, T + 80, 420, 17},
        {kP5, kButton, kIdCheckDesktop, kCheck, 40, T + 120, 420, 17},
        {kP5, kButton, kIdCheckQuick, kCheck, 40, T + 144, 420, 17},
        {kP5, kButton, kIdCheckAssociate, kCheck, 40, T + 168, 420, 17},
        // Ready.
        {kP6, kStatic, kIdLabel7, kLabel, 40, T, 420, 28},
        {kP6, kEditBox, kIdMemo1,
         ES_MULTILINE | ES_WANTRETURN | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER |
             WS_TABSTOP,
         40, T + 32, 420, 200},
        // Install.
        {kP7, kStatic, kIdLTask, kLabel | SS_NOPREFIX, 40, T + 8, 420, 14},
        {kP7, kStatic, kIdLFile, kLabel | SS_NOPREFIX | SS_PATHELLIPSIS, 40, T + 28, 420, 14},
        {kP7, kProgress, kIdProgressBar1, 0, 40, T + 50, 420, 17},
        // Bottom row: Back and Next touch, Cancel stands apart. Each starts a group, so
        // the arrow keys of the restart choice stay within it.
        {kBottom, kButton, kIdBtnBack, kPush | WS_GROUP, 256, 328, 75, 23},
        {kBottom, kButton, kIdBtnNext, kPush | WS_GROUP, 331, 328, 75, 23},
        {kBottom, kButton, kIdBtnCancel, kPush | WS_GROUP, 415, 328, 75, 23},
    };
    controls_.reserve(sizeof kLayout / sizeof kLayout[0]);
    for (const Layout& l : kLayout)
        AddControl(l.container, l.id, kClassNames[l.cls], l.style, l.x, l.y, l.w, l.h);

    SetWindowTextA(Ctl(kIdLabel9), "Publisher:");
    SendMessageA(Ctl(kIdProgressBar1), PBM_SETRANGE32, 0, 100);
    SendMessageA(Ctl(kIdImage5), STM_SETICON, reinterpret_cast<WPARAM>(folderIcon_), 0);
    SendMessageA(Ctl(kIdImage3), STM_SETICON, reinterpret_cast<WPARAM>(groupIcon_), 0);

    // Fonts of their own.
    SendMessageA(Ctl(kIdLabel1), WM_SETFONT, reinterpret_cast<WPARAM>(largeTitleFont_), FALSE);
    SendMessageA(Ctl(kIdText1), WM_SETFONT, reinterpret_cast<WPARAM>(pageTitleFont_), FALSE);
    SendMessageA(Ctl(kIdLPublisher), WM_SETFONT, reinterpret_cast<WPARAM>(publisherFont_), FALSE);
    // Subclassed through user32 alone, so the common controls library is not needed
    // before the wizard exists.
    if (HWND publisher = Ctl(kIdLPublisher)) {
        SetWindowLongPtrA(publisher, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        publisherBaseProc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(publisher, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PublisherProc)));
    }

    // Licence and readme links open in the browser.
    for (int id : {kIdRichEdit1, kIdRichEdit2}) {
        HWND r = Ctl(id);
        if (!r) continue;
        // Without a limit the control keeps only the first 32767 characters: a long
        // licence (a GPL text, say) would end in the middle.
        SendMessageA(r, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
        SendMessageA(r, EM_AUTOURLDETECT, TRUE, 0);
        LRESULT mask = SendMessageA(r, EM_GETEVENTMASK, 0, 0);
        SendMessageA(r, EM_SETEVENTMASK, 0, mask | ENM_LINK);
    }
}

void TForm1::CreateFonts() {
    const WizardFont f = ReadWizardFont(ctx_);
    formFont_ = MakeFont(f.face, f.textSize, dpi_, f.charset, false, false);
    largeTitleFont_ = MakeFont(f.face, f.largeTitleSize, dpi_, f.charset, true, false);
    pageTitleFont_ = MakeFont(f.face, f.pageTitleSize, dpi_, f.charset, true, false);
    publisherFont_ = MakeFont("Tahoma", 8, dpi_, DEFAULT_CHARSET, false, false);
    publisherHotFont_ = MakeFont("Tahoma", 8, dpi_, DEFAULT_CHARSET, false, true);
}

void TForm1::CreateBackgrounds() {
    // Pictures stretched once; the labels over them paint with pattern brushes cut
    // from the same bitmaps, which looks transparent and still erases old text.
    // Above 100% a larger copy of a picture that the setup carries is the source.
    HBITMAP wizard = LargerPicture("qvwizard.bmp"), header = LargerPicture("qvheader.bmp");
    panel1Picture_ = StretchedCopy(wizard ? wizard : ctx_.WizardPicture, Scaled(500), Scaled(314),
                                   0, 0, Scaled(500), Scaled(314));
    headerPicture_ = StretchedCopy(header ? header : ctx_.HeaderPicture, Scaled(500), Scaled(58),
                                   Scaled(1), Scaled(1), Scaled(498), Scaled(55));
    if (wizard) DeleteObject(wizard);
    if (header) DeleteObject(header);
    panel1Brush_ = CreatePatternBrush(panel1Picture_);
    headerBrush_ = CreatePatternBrush(headerPicture_);
    whiteBrush_ = CreateSolidBrush(RGB(255, 255, 255));
    folderIcon_ = ShellIcon(3, Scaled(32));
    groupIcon_ = ShellIcon(19, Scaled(32));
}

HBITMAP TForm1::LargerPicture(const char* base) const {
    if (ctx_.SetupTempDir.empty() || DpiPercent(dpi_) <= 100) return nullptr;
    std::vector<std::string> present;
    WIN32_FIND_DATAA fd;
    const std::string stem(base, std::string(base).rfind('.'));
    HANDLE h = FindFirstFileA(JoinPath(ctx_.SetupTempDir, stem + "-*.bmp").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) present.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    const std::string chosen = PictureForDpi(base, dpi_, present);
    if (chosen == base) return nullptr;
    // A copy the system cannot load is passed over: the required picture still serves.
    return static_cast<HBITMAP>(LoadImageA(nullptr, JoinPath(ctx_.SetupTempDir, chosen).c_str(),
                                           IMAGE_BITMAP, 0, 0,
                                           LR_LOADFROMFILE | LR_CREATEDIBSECTION));
}

void TForm1::ReleaseGdi() {
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(formFont_), static_cast<HGDIOBJ>(largeTitleFont_),
                      static_cast<HGDIOBJ>(pageTitleFont_), static_cast<HGDIOBJ>(publisherFont_),
                      static_cast<HGDIOBJ>(publisherHotFont_), static_cast<HGDIOBJ>(panel1Picture_),
                      static_cast<HGDIOBJ>(headerPicture_), static_cast<HGDIOBJ>(panel1Brush_),
                      static_cast<HGDIOBJ>(headerBrush_), static_cast<HGDIOBJ>(whiteBrush_)})
        if (o) DeleteObject(o);
    if (folderIcon_) DestroyIcon(folderIcon_);
    if (groupIcon_) DestroyIcon(groupIcon_);
    formFont_ = largeTitleFont_ = pageTitleFont_ = publisherFont_ = publisherHotFont_ = nullptr;
    panel1Picture_ = headerPicture_ = nullptr;
    panel1Brush_ = headerBrush_ = whiteBrush_ = nullptr;
    folderIcon_ = groupIcon_ = nullptr;
}

void TForm1::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd_, &ps);
    if (containerShown_[kPanel1]) {
        DrawPicture(dc, panel1Picture_, 0, 0);
        if (OwnVisible(kIdRadioGroup1)) {
            RECT r;
            GetWindowRect(Ctl(kIdRadioGroup1), &r);
            MapWindowPoints(nullptr, wnd_, reinterpret_cast<POINT*>(&r), 2);
            FillRect(dc, &r, whiteBrush_);
        }
    }
    if (containerShown_[kPanel2]) {
        DrawPicture(dc, headerPicture_, 0, 0);
        HorizontalBevel(dc, Scaled(58), Scaled(500));
    }
    HorizontalBevel(dc, Scaled(314), Scaled(500));
    EndPaint(wnd_, &ps);
}

HBRUSH TForm1::ControlColor(HDC dc, HWND control) {
    const int id = GetDlgCtrlID(control);
    auto aligned = [&](HBRUSH brush) {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, wnd_, reinterpret_cast<POINT*>(&r), 2);
        SetBrushOrgEx(dc, -r.left, -r.top, nullptr);
        SetBkMode(dc, TRANSPARENT);
        return brush;
    };
    switch (id) {
    case kIdLPublisher:
        SetTextColor(dc, GetSysColor(COLOR_HOTLIGHT));
        return aligned(panel1Brush_);
    case kIdLabel1:
    case kIdLabel2:
    case kIdLabel9:
        return aligned(panel1Brush_);
    case kIdText1:
    case kIdText2:
        return aligned(headerBrush_);
    case kIdCheckLaunchFile:
    case kIdCheckViewReadme:
    case kIdCheckCustomRun:
    case kIdRadioGroup1:
    case kIdRadioRestartNow:
    case kIdRadioRestartLater:
        SetBkColor(dc, RGB(255, 255, 255));
        return whiteBrush_;
    default:
        return nullptr;
    }
}

void TForm1::SetVisible(int id, bool visible) {
    for (Control& c : controls_)
        if (c.id == id) c.visible = visible;
}

bool TForm1::OwnVisible(int id) const {
    for (const Control& c : controls_)
        if (c.id == id) return c.visible && containerShown_[c.container];
    return false;
}

void TForm1::ApplyVisibility() {
    containerShown_[kBottom] = true;
    for (const Control& c : controls_) {
        bool shown = c.visible && containerShown_[c.container];
        if (c.container >= kP1) shown = shown && containerShown_[kPanel2];
        // The restart choices belong to their group.
        if (c.id == kIdRadioRestartNow || c.id == kIdRadioRestartLater)
            shown = shown && OwnVisible(kIdRadioGroup1);
        if ((IsWindowVisible(c.wnd) != FALSE) != shown)
            ShowWindow(c.wnd, shown ? SW_SHOWNA : SW_HIDE);
    }
    RedrawWindow(wnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TForm1::SetText(int id, const std::string& text) {
    if (Text(id) == text) return;
    updating_ = true;
    SetWindowTextA(Ctl(id), text.c_str());
    updating_ = false;
}

std::string TForm1::Text(int id) const {
    HWND c = Ctl(id);
    int n = GetWindowTextLengthA(c);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    n = GetWindowTextA(c, s.data(), n + 1);
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

bool TForm1::Checked(int id) const {
    return SendMessageA(Ctl(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TForm1::SetChecked(int id, bool checked) {
    SendMessageA(Ctl(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TForm1::Enable(int id, bool enabled) {
    EnableWindow(Ctl(id), enabled);
}

void TForm1::Focus(int id) {
    HWND c = Ctl(id);
    if (c && IsWindowVisible(c) && IsWindowEnabled(c)) SetFocus(c);
}

void TForm1::SetPublisherHot(bool hot) {
    if (hot == publisherHot_) return;
    publisherHot_ = hot;
    HWND c = Ctl(kIdLPublisher);
    SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(hot ? publisherHotFont_ : publisherFont_),
                 TRUE);
}

LRESULT CALLBACK TForm1::PublisherProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Only Win32 calls here: nothing can throw through this frame.
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    const WNDPROC base = form->publisherBaseProc_;
    switch (msg) {
    case WM_MOUSEMOVE:
        if (!form->publisherHot_) {
            TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, wnd, 0};
            TrackMouseEvent(&t);
            form->SetPublisherHot(true);
        }
        break;
    case WM_MOUSELEAVE:
        form->SetPublisherHot(false);
        break;
    case WM_SETCURSOR:
        SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
        return TRUE;
    case WM_NCDESTROY:
        SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(base));
        break;
    }
    return CallWindowProcA(base, wnd, msg, wParam, lParam);
}
