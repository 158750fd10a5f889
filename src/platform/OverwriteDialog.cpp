#include "platform/OverwriteDialog.h"

#include "platform/FileUtil.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr int kIdIcon = 1000;
constexpr int kIdText = 1003;

// Layout in dialog units; the text's height is fitted when the dialog opens.
constexpr short kMargin = 7;
constexpr short kIconSize = 21;
constexpr short kTextLeft = kMargin + kIconSize + 8;
constexpr short kButtonWidth = 54;
constexpr short kButtonHeight = 14;
constexpr short kButtonGap = 4;
constexpr short kWidth = kMargin * 2 + 4 * kButtonWidth + 3 * kButtonGap + 20;
constexpr short kTextWidth = kWidth - kTextLeft - kMargin;
constexpr short kTextHeight = kIconSize;

// Builds a DLGTEMPLATE with its items in a WORD buffer (the layout the dialog
// manager reads: header, menu, class, title, font, then DWORD-aligned items).
class TemplateBuilder {
  public:
    void Word(uint16_t w) { data_.push_back(w); }
    void Dword(uint32_t d) {
        Word(static_cast<uint16_t>(d & 0xFFFF));
        Word(static_cast<uint16_t>(d >> 16));
    }
    void Text(const std::string& s) {
        // The template holds UTF-16 texts; convert from the system code page.
        for (wchar_t c : WideFromAnsi(s))
            Word(static_cast<uint16_t>(c));
        Word(0);
    }
    void AlignDword() {
        if (data_.size() % 2) Word(0);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, int id, uint16_t atom,
              const std::string& text) {
        AlignDword();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0); // extended style
        Word(static_cast<uint16_t>(x));
        Word(static_cast<uint16_t>(y));
        Word(static_cast<uint16_t>(cx));
        Word(static_cast<uint16_t>(cy));
        Word(static_cast<uint16_t>(id));
        Word(0xFFFF); // predefined class by atom
        Word(atom);
        Text(text);
        Word(0); // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(data_.data()); }

  private:
    std::vector<uint16_t> data_;
};

constexpr uint16_t kButtonAtom = 0x0080;
constexpr uint16_t kStaticAtom = 0x0082;

struct ButtonDef {
    int id;
    const char* caption;
};
constexpr ButtonDef kButtons[] = {
    {IDYES, "Yes"}, {IDNO, "No"}, {kIdNoToAll, "No to All"}, {kIdYesToAll, "Yes to All"}};

TemplateBuilder BuildTemplate(const std::string& caption) {
    TemplateBuilder b;
    const short buttonsY = kMargin + kTextHeight + 10;
    const short height = buttonsY + kButtonHeight + kMargin;
    b.Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
    b.Dword(0); // extended style
    b.Word(2 + std::size(kButtons));
    b.Word(0);
    b.Word(0);
    b.Word(static_cast<uint16_t>(kWidth));
    b.Word(static_cast<uint16_t>(height));
    b.Word(0); // no menu
    b.Word(0); // standard dialog class
    b.Text(caption);
    b.Word(8);
    b.Text("MS Shell Dlg");
    b.Item(SS_ICON, kMargin, kMargin, kIconSize, kIconSize, kIdIcon, kStaticAtom, "");
    b.Item(SS_LEFT | SS_NOPREFIX, kTextLeft, kMargin, kTextWidth, kTextHeight, kIdText, kStaticAtom,
           "");
    const short total = 4 * kButtonWidth + 3 * kButtonGap;
    short x = static_cast<short>((kWidth - total) / 2);
    for (const ButtonDef& def : kButtons) {
        DWORD style = WS_TABSTOP | (def.id == IDYES ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        if (def.id == IDYES) style |= WS_GROUP;
        b.Item(style, x, buttonsY, kButtonWidth, kButtonHeight, def.id, kButtonAtom, def.caption);
        x = static_cast<short>(x + kButtonWidth + kButtonGap);
    }
    return b;
}

struct DialogState {
    const std::string* text;
};

// Sets the message text and grows the dialog so that all of it shows.
void FitText(HWND dlg, const std::string& text) {
    HWND label = GetDlgItem(dlg, kIdText);
    SetWindowTextA(label, text.c_str());
    RECT rc;
    GetWindowRect(label, &rc);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&rc), 2);
    const int oldHeight = rc.bottom - rc.top;

    HDC dc = GetDC(label);
    HFONT old = static_cast<HFONT>(
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0))));
    RECT measure{0, 0, rc.right - rc.left, 0};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &measure,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    SelectObject(dc, old);
    ReleaseDC(label, dc);

    const int newHeight = std::max(oldHeight, static_cast<int>(measure.bottom));
    const int delta = newHeight - oldHeight;
    if (delta <= 0) return;
    SetWindowPos(label, nullptr, 0, 0, rc.right - rc.left, newHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const ButtonDef& def : kButtons) {
        HWND button = GetDlgItem(dlg, def.id);
        RECT br;
        GetWindowRect(button, &br);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&br), 2);
        SetWindowPos(button, nullptr, br.left, br.top + delta, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT wr;
    GetWindowRect(dlg, &wr);
    SetWindowPos(dlg, nullptr, wr.left, wr.top - delta / 2, wr.right - wr.left,
                 wr.bottom - wr.top + delta, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Dialog results are the answer plus one: the dialog manager itself returns 0 for an
// invalid owner and -1 when the dialog cannot be created.
void End(HWND dlg, OverwriteAnswer a) {
    EndDialog(dlg, static_cast<INT_PTR>(a) + 1);
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Nothing may throw through the dialog manager's frames.
    try {
        switch (msg) {
        case WM_INITDIALOG: {
            auto* state = reinterpret_cast<DialogState*>(lParam);
            SendDlgItemMessageA(dlg, kIdIcon, STM_SETICON,
                                reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_WARNING)), 0);
            FitText(dlg, *state->text);
            MessageBeep(MB_ICONWARNING);
            return TRUE; // focus goes to the default button
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDYES:
                End(dlg, OverwriteAnswer::Yes);
                return TRUE;
            case IDNO:
                End(dlg, OverwriteAnswer::No);
                return TRUE;
            case kIdNoToAll:
                End(dlg, OverwriteAnswer::NoToAll);
                return TRUE;
            case kIdYesToAll:
                End(dlg, OverwriteAnswer::YesToAll);
                return TRUE;
            case IDCANCEL: // close box, Escape, Alt+F4
                End(dlg, OverwriteAnswer::Closed);
                return TRUE;
            }
            break;
        }
    } catch (...) {
        End(dlg, OverwriteAnswer::Closed);
        return TRUE;
    }
    return FALSE;
}

} // namespace

OverwriteAnswer ShowOverwriteDialog(HWND owner, const std::string& text,
                                    const std::string& caption) {
    const TemplateBuilder tmpl = BuildTemplate(caption);
    DialogState state{&text};
    INT_PTR r = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), tmpl.Get(), owner, DialogProc,
                                        reinterpret_cast<LPARAM>(&state));
    if (r >= 1 && r <= static_cast<INT_PTR>(OverwriteAnswer::Closed) + 1)
        return static_cast<OverwriteAnswer>(r - 1);
    return OverwriteAnswer::Closed; // the dialog could not be shown
}
