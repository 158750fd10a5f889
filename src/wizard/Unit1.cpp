// The wizard window: its window procedure, the message loop and the navigation
// between pages (ShowPage, Next, Back, Cancel and the close query).
#include "wizard/Unit1.h"

#include "engine/Commands.h"
#include "engine/InstallationRun.h"
#include "platform/Redirection.h"
#include "platform/SystemLibrary.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupKeys.h"
#include "text/Language.h"
#include "wizard/ControlIds.h"
#include "wizard/Dpi.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

namespace {

// Posted on the first activation: the first page is shown once the activation itself
// is over, so that the installation (when every page is switched off) never runs
// inside the activation message.
constexpr UINT kMsgFirstPage = WM_APP + 1;

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The form whose installation is running: the message hook below needs its way back.
TForm1* installingForm = nullptr;

bool IsPushButton(HWND wnd) {
    char cls[16] = {};
    if (!wnd || !GetClassNameA(wnd, cls, sizeof cls) || lstrcmpiA(cls, "Button") != 0) return false;
    const LONG type = GetWindowLongA(wnd, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

bool IsDroppedCombo(HWND wnd) {
    char cls[16] = {};
    for (int i = 0; i < 2 && wnd; ++i, wnd = GetParent(wnd)) // the edit inside a combo box
        if (GetClassNameA(wnd, cls, sizeof cls) && lstrcmpiA(cls, "ComboBox") == 0)
            return SendMessageA(wnd, CB_GETDROPPEDSTATE, 0, 0) != 0;
    return false;
}

// Multi-line views (the licence, the readme, the summary) keep Enter for themselves.
bool UsesEnter(HWND wnd) {
    char cls[32] = {};
    if (!wnd || !GetClassNameA(wnd, cls, sizeof cls)) return false;
    const bool edit =
        lstrcmpiA(cls, "Edit") == 0 ||
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, cls, 8, "RichEdit", 8) == CSTR_EQUAL;
    return edit && (GetWindowLongA(wnd, GWL_STYLE) & ES_MULTILINE) != 0;
}

} // namespace

TForm1::TForm1(RunContext& ctx) : ctx_(ctx) {}

TForm1::~TForm1() {
    ctx_.View.InstallViewChanged = nullptr;
    ctx_.View.WizardBack = nullptr;
    if (wnd_) DestroyWindow(wnd_);
    ReleaseGdi();
}

bool TForm1::Create() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (auto init = SystemFunction<InitFn>("comctl32.dll", "InitCommonControlsEx")) init(&icc);
    LoadSystemLibrary("riched20.dll"); // the licence and readme boxes

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClassName;
    wc.hIcon = LoadIconA(wc.hInstance, MAKEINTRESOURCEA(1));
    RegisterClassExA(&wc); // a second form in the same process finds it registered

    dpi_ = StartupDpi();
    CreateFonts();
    CreateBackgrounds();

    RECT r{0, 0, Scaled(500), Scaled(362)};
    AdjustWindowRectEx(&r, kFormStyle, FALSE, WS_EX_CONTROLPARENT);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    wnd_ = CreateWindowExA(WS_EX_CONTROLPARENT, kFormClassName, ctx_.Lang.TitleCaption.c_str(),
                           kFormStyle, x, y, w, h, nullptr, nullptr, wc.hInstance, this);
    if (!wnd_) return false;
    CreateControls();
    FillFromContext();
    InitUiState();

    ctx_.View.InstallViewChanged = [this] { ShowInstallView(); };
    ctx_.View.WizardBack = [this] {
        // A command's stop signal: one page back; the Next that ran the command then
        // advances to the page where it was pressed. The folder field gets the focus.
        stopSignal_ = true;
        ShowPage(page_ - 1, Direction::Backward);
        Focus(kIdEdit1);
    };
    return true;
}

void TForm1::Show() {
    ShowWindow(wnd_, SW_SHOWNORMAL);
    SetForegroundWindow(wnd_);
    // Without a display that grants activation the first page must still come.
    if (firstActivation_) PostMessageA(wnd_, kMsgFirstPage, 0, 0);
}

int TForm1::Run() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (TranslateKey(msg)) continue;
        if (!wnd_ || !IsDialogMessageA(wnd_, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (failed_) AbortSetup(ctx_); // a handler failed in a way the run cannot survive
        if (wnd_) UpdateDefaultButton();
    }
    return 0;
}

int TForm1::Scaled(int value) const {
    return ScaleToDpi(value, dpi_);
}

bool TForm1::TranslateKey(const MSG& msg) {
    if (!wnd_ || (msg.hwnd != wnd_ && !IsChild(wnd_, msg.hwnd))) return false;
    if (msg.message == WM_SYSKEYDOWN && msg.wParam == VK_MENU) {
        // Alt shows the mnemonics, as it does in every dialog.
        if (SendMessageA(wnd_, WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL)
            SendMessageA(wnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL), 0);
        return false;
    }
    if (msg.message != WM_KEYDOWN) return false;
    switch (msg.wParam) {
    case VK_TAB:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
        // Moving the focus from the keyboard shows where it is.
        if (SendMessageA(wnd_, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)
            SendMessageA(wnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        return false;
    case VK_ESCAPE:
        if (IsDroppedCombo(msg.hwnd)) return false; // Escape closes the open list first
        // The same request as the Cancel button and the close box.
        PostMessageA(wnd_, WM_COMMAND, IDCANCEL, 0);
        return true;
    case VK_RETURN: {
        // Enter in the language list, the folder field or the group list acts as Next.
        const bool nextField = IsNextField(msg.hwnd);
        if (!nextField && (IsDroppedCombo(msg.hwnd) || UsesEnter(msg.hwnd))) return false;
        const int id = nextField ? kIdBtnNext : DefaultButton(msg.hwnd);
        PostMessageA(wnd_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Ctl(id)));
        return true;
    }
    default:
        return false;
    }
}

int TForm1::DefaultButton(HWND focus) const {
    // A push button with the focus is the one Enter presses, as in a dialog; the
    // Next/Install/Finish button is the default everywhere else.
    if (focus && GetParent(focus) == wnd_ && IsPushButton(focus) && IsWindowVisible(focus) &&
        IsWindowEnabled(focus))
        return GetDlgCtrlID(focus);
    return kIdBtnNext;
}

void TForm1::UpdateDefaultButton() {
    const int id = DefaultButton(GetFocus());
    if (id == defaultButton_) return;
    if (defaultButton_) SendMessageA(Ctl(defaultButton_), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageA(Ctl(id), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    defaultButton_ = id;
}

void TForm1::InitUiState() {
    // Focus rectangles and mnemonic underlines follow the user's setting: hidden until
    // the keyboard is used, unless the user asked to see them always.
    BOOL cues = FALSE;
    SystemParametersInfoA(SPI_GETKEYBOARDCUES, 0, &cues, 0);
    SendMessageA(wnd_, WM_CHANGEUISTATE,
                 MAKEWPARAM(cues ? UIS_CLEAR : UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
    UpdateDefaultButton();
}

LRESULT CALLBACK TForm1::InstallKeyHook(int code, WPARAM wParam, LPARAM lParam) {
    // The installation pumps the window's messages itself: its loop sees the keys first
    // only through this hook. Only Win32 calls here: nothing can throw through it.
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && installingForm &&
        installingForm->TranslateKey(*msg))
        msg->message = WM_NULL;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool TForm1::IsNextField(HWND wnd) const {
    if (!wnd_ || !wnd) return false;
    for (int id : {kIdComboLng, kIdEdit1, kIdComboBox1}) {
        HWND c = Ctl(id);
        if (wnd != c && GetParent(wnd) != c) continue;
        // An open drop-down list takes its own Enter.
        return id == kIdEdit1 || !SendMessageA(c, CB_GETDROPPEDSTATE, 0, 0);
    }
    return false;
}

LRESULT CALLBACK TForm1::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TForm1* form;
    if (msg == WM_NCCREATE) {
        form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        form->wnd_ = wnd;
    } else {
        form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    }
    if (!form) return DefWindowProcA(wnd, msg, wParam, lParam);
    // No exception may leave a window procedure: it is recorded, and the message loop
    // ends the run once this message is done.
    try {
        return form->HandleMessage(msg, wParam, lParam);
    } catch (...) {
        form->failed_ = true;
        return 0;
    }
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && firstActivation_)
            PostMessageA(wnd_, kMsgFirstPage, 0, 0);
        break;
    case kMsgFirstPage:
        FormActivate();
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(DefaultButton(GetFocus()), DC_HASDEFID);
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_CTLCOLORSTATIC:
        if (HBRUSH b = ControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)))
            return reinterpret_cast<LRESULT>(b);
        break;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_CLOSE:
        FormClose();
        return 0;
    case WM_DESTROY:
        ctx_.View.InstallViewChanged = nullptr;
        ctx_.View.WizardBack = nullptr;
        wnd_ = nullptr;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(wnd_, msg, wParam, lParam);
}

void TForm1::OnCommand(int id, int code) {
    switch (id) {
    case kIdBtnNext:
        if (code == BN_CLICKED) BtnNextClick();
        return;
    case kIdBtnBack:
        if (code == BN_CLICKED) BtnBackClick();
        return;
    case kIdBtnCancel:
        if (code == BN_CLICKED) BtnCancelClick();
        return;
    case IDCANCEL: // Escape
        FormClose();
        return;
    case kIdComboLng:
        if (code == CBN_SELCHANGE) ComboLngChange();
        return;
    case kIdCheckBox1:
        if (code == BN_CLICKED) CheckBox1Click();
        return;
    case kIdCheckPrograms:
        if (code == BN_CLICKED) CheckProgramsClick();
        PullFields();
        return;
    case kIdButton4:
        if (code == BN_CLICKED) Button4Click();
        return;
    case kIdLPublisher:
        if (code == STN_CLICKED) LPublisherClick();
        return;
    case kIdCheckLaunchFile:
    case kIdCheckViewReadme:
    case kIdCheckCustomRun:
    case kIdRadioRestartNow:
    case kIdRadioRestartLater:
        if (code == BN_CLICKED) Focus(kIdBtnNext);
        return;
    case kIdEUser:
    case kIdECompany:
    case kIdECustomInfo:
        if (code == EN_CHANGE && !updating_) {
            userInfoTyped_ = true;
            PullFields();
        }
        return;
    case kIdEdit1:
        if (code == EN_CHANGE && !updating_) PullFields();
        return;
    case kIdComboBox1:
        if (code == CBN_EDITCHANGE || code == CBN_SELCHANGE) PullFields();
        if (code == CBN_SELCHANGE) {
            // The field itself still holds the former text at this point.
            LRESULT sel = SendMessageA(Ctl(kIdComboBox1), CB_GETCURSEL, 0, 0);
            if (sel >= 0 && static_cast<size_t>(sel) < ctx_.Wizard.ProgramGroups.size())
                ctx_.Wizard.ComboBox1 = ctx_.Wizard.ProgramGroups[sel];
        }
        return;
    case kIdCheckDesktop:
    case kIdCheckQuick:
    case kIdCheckAssociate:
        if (code == BN_CLICKED) PullFields();
        return;
    }
}

LRESULT TForm1::OnNotify(NMHDR* header) {
    if (header->code != EN_LINK) return 0;
    auto* link = reinterpret_cast<ENLINK*>(header);
    if (link->msg == WM_LBUTTONDOWN && link->chrg.cpMax > link->chrg.cpMin) {
        const LONG length = link->chrg.cpMax - link->chrg.cpMin;
        std::string text(static_cast<size_t>(length) + 2, '\0');
        TEXTRANGEA range{link->chrg, text.data()};
        SendMessageA(header->hwndFrom, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
        text.resize(std::char_traits<char>::length(text.c_str()));
        SHELLEXECUTEINFOA info{};
        info.cbSize = sizeof info;
        info.hwnd = wnd_;
        info.lpFile = text.c_str();
        info.nShow = SW_SHOWNORMAL;
        ShellExecuteExA(&info);
    }
    return 0; // every link notification is answered with 0
}

void TForm1::FormActivate() {
    if (!firstActivation_) return;
    firstActivation_ = false;
    ShowPage(kPageLanguage, Direction::Forward);
}

void TForm1::ShowPage(int page, Direction direction) {
    page_ = NextPage(page, ctx_.Wizard.PageTable, direction);
    if (page_ == kPageNone) return; // nothing is shown until the next advance

    for (int c = kPanel1; c < kCount; ++c)
        ShowContainer(c, false);
    for (int id :
         {kIdComboLng, kIdCheckLaunchFile, kIdCheckViewReadme, kIdCheckCustomRun, kIdRadioGroup1})
        SetVisible(id, false);
    SetText(kIdBtnBack, LanguageText(ctx_, "Buttons", kCaptionBack));
    SetText(kIdBtnCancel, LanguageText(ctx_, "Buttons", kCaptionCancel));

    const ButtonStates b =
        PageButtons(page_, ctx_.Wizard.PageTable, ReadSetupBool(ctx_, "AcceptAgreement"));
    SetText(kIdBtnNext, LanguageText(ctx_, "Buttons", b.nextCaption));
    SetVisible(kIdBtnBack, b.backVisible);
    SetVisible(kIdBtnNext, b.nextVisible);
    SetVisible(kIdBtnCancel, b.cancelVisible);
    Enable(kIdBtnNext, b.nextEnabled);

    SetupPage(page_);
    ShowContainer(UsesFullPanel(page_) ? kPanel1 : kPanel2, true);
    if (!UsesFullPanel(page_)) ShowContainer(kP1 + page_ - kPageLicense, true);
    ApplyVisibility();
    FocusPage(page_);

    if (page_ == kPageInstall) {
        RunInstallPage();
    } else if (page_ == kPageFinish && !FinishPageWaits(ctx_.Wizard.PageTable)) {
        // Finish at once: posted, so the window closes after this display unwinds and
        // before the page is ever painted.
        PostMessageA(wnd_, WM_COMMAND, MAKEWPARAM(kIdBtnNext, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Ctl(kIdBtnNext)));
    }
}

void TForm1::RunInstallPage() {
    installing_ = true;
    UpdateWindow(wnd_);
    // Escape asks the cancel question during the run as well.
    installingForm = this;
    HHOOK keys = SetWindowsHookExA(WH_GETMESSAGE, InstallKeyHook, nullptr, GetCurrentThreadId());
    struct Unhook {
        HHOOK hook;
        ~Unhook() {
            installingForm = nullptr;
            if (hook) UnhookWindowsHookEx(hook);
        }
    } unhook{keys};
    RunInstallation(ctx_);
    installing_ = false;
    if (ctx_.Cancel) {
        // The user confirmed Cancel while the run was in a phase that goes on to its
        // end: the run is over now; no Finish page and no finish actions, and the
        // exit code tells the caller the installation was cancelled.
        AbortSetup(ctx_);
        return;
    }
    if (wnd_) ShowPage(kPageFinish, Direction::Forward);
}

void TForm1::BtnNextClick() {
    HWND next = Ctl(kIdBtnNext);
    // The page's commands let window messages through: a second click on Next (or
    // Back) then must not advance from the page the first click is still leaving.
    if (installing_ || pageCommands_ || !wnd_ || !IsWindowVisible(next) || !IsWindowEnabled(next))
        return;
    PullFields();
    switch (page_) {
    case kPageUserInfo:
        if (!CheckUserInfo()) return;
        RunStageCommands(kStageUserInformation);
        break;
    case kPageDestination:
        if (!CheckDestination()) return;
        RunStageCommands(kStageFolderSelect);
        break;
    case kPageProgramGroup:
        if (!CheckProgramGroup()) return;
        break;
    case kPageFinish:
        FormClose();
        return;
    default:
        break;
    }
    // The commands may have gone one page back; the advance starts from the page
    // current now.
    if (wnd_ && page_ < kPageInstall) ShowPage(page_ + 1, Direction::Forward);
    // Kept on the Destination page by a command: the folder is what to correct, so
    // it keeps the focus the stop signal gave it.
    if (stopSignal_ && wnd_ && page_ == kPageDestination) Focus(kIdEdit1);
    stopSignal_ = false;
}

void TForm1::BtnBackClick() {
    HWND back = Ctl(kIdBtnBack);
    if (installing_ || pageCommands_ || !IsWindowVisible(back)) return;
    PullFields();
    ShowPage(page_ - 1, Direction::Backward);
}

void TForm1::BtnCancelClick() {
    FormClose();
}

void TForm1::FormClose() {
    if (closing_ || !wnd_) return;
    closing_ = true;
    PullFields();
    const CloseDecision d = FormCloseQuery(ctx_, wnd_, page_ == kPageInstall, page_ == kPageFinish,
                                           ChosenFinishActions());
    closing_ = false;
    // A cancelled run is ended by the run itself, or after it returns (RunInstallPage).
    if (d == CloseDecision::Close && wnd_) DestroyWindow(wnd_);
}

void TForm1::RunStageCommands(int stage) {
    stopSignal_ = false;
    if (!ctx_.Config) return;
    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(pageCommands_);
    // A 64-bit setup's commands see the real system folders.
    const bool redirect = ctx_.Is64 && ctx_.Config->SectionExists("Commands");
    if (redirect) DisableRedirection(ctx_.Redirection);
    for (const std::string& key : ctx_.Config->ReadSection("Commands")) {
        // A Cancel confirmed while a command ran has closed the window and released
        // the configuration: the remaining commands belong to a run that is over.
        if (!wnd_ || !ctx_.Config) break;
        RunCommand(ctx_, stage, ctx_.Config->ReadString("Commands", key, ""));
    }
    if (redirect) RestoreRedirection(ctx_.Redirection);
}
