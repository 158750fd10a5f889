// TForm1: the wizard window. It shows the run context's field values in its controls
// and writes the user's changes straight back, so the installation run reads the same
// state as in a silent run. Page order and button states come from PageSequence.
#pragma once

#include "wizard/CloseQuery.h"
#include "wizard/PageSequence.h"

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

struct RunContext;

class TForm1 {
  public:
    explicit TForm1(RunContext& ctx);
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Creates the window and its controls, hidden, filled from the run context.
    // False when the window cannot be made.
    bool Create();
    // Shows the window; its first activation shows page 1.
    void Show();
    // Runs the message loop until the window has closed; returns the exit code.
    int Run();

    // Displays page, skipping switched-off pages in direction.
    void ShowPage(int page, Direction direction);
    int CurrentPage() const { return page_; }
    HWND Handle() const { return wnd_; }

  private:
    // Groups of controls shown and hidden together. The inner page bodies lie on the
    // header panel and show only with it.
    enum Container : int { kBottom, kPanel1, kPanel2, kP1, kP2, kP3, kP4, kP5, kP6, kP7, kCount };
    struct Control {
        HWND wnd;
        int id;
        int container;
        bool visible; // the control's own visibility within its container
    };

    // ---- Unit1.cpp: window, messages, navigation ----
    static LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnCommand(int id, int code);
    LRESULT OnNotify(NMHDR* header);
    void FormActivate();
    void BtnNextClick();
    void BtnBackClick();
    void BtnCancelClick();
    void FormClose();
    void RunStageCommands(int stage);
    void RunInstallPage();
    bool IsNextField(HWND wnd) const;
    // Enter, Escape and the keys that reveal focus and mnemonics, as a dialog answers
    // them; true when the key is consumed.
    bool TranslateKey(const MSG& msg);
    // The push button Enter presses: the focused one, else Next.
    int DefaultButton(HWND focus) const;
    void UpdateDefaultButton();
    void InitUiState();
    static LRESULT CALLBACK InstallKeyHook(int code, WPARAM wParam, LPARAM lParam);

    // ---- FormControls.cpp: controls, fonts, painting ----
    void CreateControls();
    void AddControl(int container, int id, const char* cls, DWORD style, int x, int y, int w,
                    int h);
    void CreateFonts();
    void CreateBackgrounds();
    HBITMAP LargerPicture(const char* base) const;
    void ReleaseGdi();
    void Paint();
    HBRUSH ControlColor(HDC dc, HWND control);
    HWND Ctl(int id) const { return GetDlgItem(wnd_, id); }
    // A layout figure of 96 dots per inch at the wizard's scale.
    int Scaled(int value) const;
    void SetVisible(int id, bool visible);
    bool OwnVisible(int id) const;
    void ShowContainer(int container, bool shown) { containerShown_[container] = shown; }
    void ApplyVisibility();
    void SetText(int id, const std::string& text);
    std::string Text(int id) const;
    bool Checked(int id) const;
    void SetChecked(int id, bool checked);
    void Enable(int id, bool enabled);
    void Focus(int id);
    void SetPublisherHot(bool hot);
    static LRESULT CALLBACK PublisherProc(HWND, UINT, WPARAM, LPARAM);

    // ---- Pages.cpp: what each page shows, and the controls' own events ----
    // The language text (section, index), expanded.
    std::string Lang(const char* section, int index) const;
    // Gives the controls, in order, the texts 0, 1, 2, ... of a language section.
    void SetLangTexts(const char* section, std::initializer_list<int> ids);
    bool SetupFlag(const char* key) const;
    void SetupPage(int page);
    void SetupLanguagePage();
    void SetupWelcomePage();
    void SetupLicensePage();
    void SetupReadmePage();
    void SetupUserInfoPage();
    void SetupProgramGroupPage();
    void SetupReadyPage();
    void SetupInstallPage();
    void SetupFinishPage();
    void FocusPage(int page);
    void ComboLngChange();
    void CheckBox1Click();
    void CheckProgramsClick();
    void LPublisherClick();
    bool CheckUserInfo();
    bool CheckProgramGroup();
    void LoadRichText(int id, const std::string& prefix);
    void FillFromContext();
    void PullFields();
    void ShowInstallView();
    FinishChoices ChosenFinishActions() const;

    // ---- DestinationPage.cpp ----
    void SetupDestinationPage();
    bool CheckDestination();
    void Button4Click();
    void UpdateSpaceFree(const std::string& folder);

    RunContext& ctx_;
    HWND wnd_ = nullptr;
    std::vector<Control> controls_;
    bool containerShown_[kCount] = {};
    int page_ = kPageNone;
    bool firstActivation_ = true;
    bool userInfoTyped_ = false; // the user typed into a user-information field
    bool updating_ = false;      // the program itself is changing control texts
    bool installing_ = false;    // the installation run is active below this window
    bool closing_ = false;       // the close query is running
    bool pageCommands_ = false;  // Next is running the commands of its page
    bool stopSignal_ = false;    // a command of the page asked the wizard to stay
    bool failed_ = false;        // a handler failed; the run ends once the handler is left
    bool publisherHot_ = false;
    int dpi_ = 96;          // the screen's dots per inch at start-up
    int defaultButton_ = 0; // the push button drawn as the default one
    WNDPROC publisherBaseProc_ = nullptr;

    HFONT formFont_ = nullptr, largeTitleFont_ = nullptr, pageTitleFont_ = nullptr;
    HFONT publisherFont_ = nullptr, publisherHotFont_ = nullptr;
    HBITMAP panel1Picture_ = nullptr, headerPicture_ = nullptr;
    HBRUSH panel1Brush_ = nullptr, headerBrush_ = nullptr, whiteBrush_ = nullptr;
    HICON folderIcon_ = nullptr, groupIcon_ = nullptr;
};
