// What each wizard page shows when it is set up, and the events of its controls.
// Texts are read from the current language file at every display.
#include "platform/FileUtil.h"
#include "run/RunContext.h"
#include "run/SetupKeys.h"
#include "text/ExpandText.h"
#include "text/Language.h"
#include "wizard/ControlIds.h"
#include "wizard/PageRules.h"
#include "wizard/Unit1.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

namespace {

DWORD CALLBACK ReadStream(DWORD_PTR file, LPBYTE buffer, LONG size, LONG* read) {
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, static_cast<DWORD>(size), &got, nullptr))
        return 1;
    *read = static_cast<LONG>(got);
    return 0;
}

bool LoadRtf(HWND view, const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    EDITSTREAM es{reinterpret_cast<DWORD_PTR>(f), 0, ReadStream};
    SendMessageA(view, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&es));
    CloseHandle(f);
    return es.dwError == 0;
}

} // namespace

std::string TForm1::Lang(const char* section, int index) const {
    return ExpandText(ctx_, LanguageText(ctx_, section, index));
}

void TForm1::SetLangTexts(const char* section, std::initializer_list<int> ids) {
    int index = 0;
    for (int id : ids)
        SetText(id, Lang(section, index++));
}

bool TForm1::SetupFlag(const char* key) const {
    return ReadSetupBool(ctx_, key);
}

void TForm1::FillFromContext() {
    updating_ = true;
    HWND lng = Ctl(kIdComboLng);
    for (const std::string& name : ctx_.Lang.Languages)
        SendMessageA(lng, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendMessageA(lng, CB_SETCURSEL, ctx_.Lang.LanguageIndex, 0);
    HWND group = Ctl(kIdComboBox1);
    for (const std::string& g : ctx_.Wizard.ProgramGroups)
        SendMessageA(group, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(g.c_str()));
    updating_ = false;
    SetText(kIdComboBox1, ctx_.Wizard.ComboBox1);
    SetText(kIdEdit1, ctx_.Wizard.Edit1);
    SetText(kIdEUser, ctx_.Wizard.EUser);
    SetText(kIdECompany, ctx_.Wizard.ECompany);
    SetText(kIdECustomInfo, ctx_.Wizard.ECustomInfo);
    SetChecked(kIdCheckPrograms, ctx_.Wizard.CheckPrograms);
    SetChecked(kIdCheckDesktop, ctx_.Wizard.CheckDesktop);
    SetChecked(kIdCheckQuick, ctx_.Wizard.CheckQuickLaunch);
    SetChecked(kIdCheckAssociate, ctx_.Wizard.CheckAssociate);
    SetVisible(kIdCheckDesktop, ctx_.Wizard.CheckDesktopVisible);
    SetVisible(kIdCheckQuick, ctx_.Wizard.CheckQuickLaunchVisible);
    SetVisible(kIdCheckAssociate, ctx_.Lang.ShowAssociate);
    // Update mode: the installed copy's folder and group are fixed.
    Enable(kIdEdit1, !ctx_.Wizard.Edit1Disabled);
    Enable(kIdButton4, !ctx_.Wizard.Edit1Disabled);
    Enable(kIdComboBox1, !ctx_.Wizard.ComboBox1Disabled && !ctx_.Wizard.CheckPrograms);
    Enable(kIdCheckPrograms, !ctx_.Wizard.ComboBox1Disabled);
}

void TForm1::PullFields() {
    if (!wnd_) return;
    ctx_.Wizard.Edit1 = Text(kIdEdit1);
    ctx_.Wizard.ComboBox1 = Text(kIdComboBox1);
    ctx_.Wizard.EUser = Text(kIdEUser);
    ctx_.Wizard.ECompany = Text(kIdECompany);
    ctx_.Wizard.ECustomInfo = Text(kIdECustomInfo);
    ctx_.Wizard.CheckPrograms = Checked(kIdCheckPrograms);
    ctx_.Wizard.CheckDesktop = Checked(kIdCheckDesktop);
    ctx_.Wizard.CheckQuickLaunch = Checked(kIdCheckQuick);
    ctx_.Wizard.CheckAssociate = Checked(kIdCheckAssociate);
}

void TForm1::SetupPage(int page) {
    switch (page) {
    case kPageLanguage:
        SetupLanguagePage();
        break;
    case kPageWelcome:
        SetupWelcomePage();
        break;
    case kPageLicense:
        SetupLicensePage();
        break;
    case kPageReadme:
        SetupReadmePage();
        break;
    case kPageUserInfo:
        SetupUserInfoPage();
        break;
    case kPageDestination:
        SetupDestinationPage();
        break;
    case kPageProgramGroup:
        SetupProgramGroupPage();
        break;
    case kPageReady:
        SetupReadyPage();
        break;
    case kPageInstall:
        SetupInstallPage();
        break;
    case kPageFinish:
        SetupFinishPage();
        break;
    }
}

void TForm1::FocusPage(int page) {
    switch (page) {
    case kPageLicense:
        Focus(OwnVisible(kIdCheckBox1) ? kIdCheckBox1 : kIdBtnNext);
        break;
    case kPageUserInfo:
        for (int id : {kIdEUser, kIdECompany, kIdECustomInfo})
            if (OwnVisible(id)) {
                Focus(id);
                return;
            }
        Focus(kIdBtnNext);
        break;
    case kPageInstall:
        Focus(kIdBtnCancel);
        break;
    default:
        Focus(kIdBtnNext);
    }
}

void TForm1::SetupLanguagePage() {
    SetLangTexts("Language", {kIdLabel1, kIdLabel2});
    SetVisible(kIdComboLng, true);
    SetVisible(kIdLabel9, false);
    SetVisible(kIdLPublisher, false);
}

void TForm1::ComboLngChange() {
    const int index = static_cast<int>(SendMessageA(Ctl(kIdComboLng), CB_GETCURSEL, 0, 0));
    SelectLanguage(ctx_, index);
    SetWindowTextA(wnd_, ctx_.Lang.TitleCaption.c_str());
    SetText(kIdLabel1, ctx_.Lang.LanguageLabel1);
    SetText(kIdLabel2, ctx_.Lang.LanguageLabel2);
    SetText(kIdBtnBack, ctx_.Lang.BtnBackCaption);
    SetText(kIdBtnCancel, ctx_.Lang.BtnCancelCaption);
    const ButtonStates b = PageButtons(page_, ctx_.Wizard.PageTable, false);
    SetText(kIdBtnNext, LanguageText(ctx_, "Buttons", b.nextCaption));
    // Applying a language shows and ticks the association box again.
    if (ctx_.Lang.ShowAssociate) {
        SetText(kIdCheckAssociate, ctx_.Lang.AssociateCaption);
        SetVisible(kIdCheckAssociate, true);
        SetChecked(kIdCheckAssociate, ctx_.Wizard.CheckAssociate);
    }
}

void TForm1::SetupWelcomePage() {
    SetLangTexts("Welcome", {kIdLabel1, kIdLabel2});
    const bool publisher = SetupFlag("ShowPublisher");
    SetVisible(kIdLabel9, publisher);
    SetVisible(kIdLPublisher, publisher);
    if (publisher) SetText(kIdLPublisher, ConstantValue(ctx_, "<CompanyName>"));
}

void TForm1::LPublisherClick() {
    const std::string site = ConstantValue(ctx_, "<WebSite>");
    if (!site.empty()) ShellExecuteA(wnd_, "open", site.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void TForm1::SetupLicensePage() {
    SetLangTexts("LicenseAgreement", {kIdText1, kIdText2, kIdLabel4, kIdLabel11, kIdCheckBox1});
    const bool accept = SetupFlag("AcceptAgreement");
    // With acceptance required the box must be ticked again at every display; the
    // Next button follows it (PageButtons made it inactive).
    SetChecked(kIdCheckBox1, !accept);
    SetVisible(kIdCheckBox1, accept);
    SetVisible(kIdLabel11, !accept);
    LoadRichText(kIdRichEdit1, "L");
}

void TForm1::CheckBox1Click() {
    const bool ticked = Checked(kIdCheckBox1);
    Enable(kIdBtnNext, ticked);
    if (ticked) Focus(kIdBtnNext);
}

void TForm1::LoadRichText(int id, const std::string& prefix) {
    const std::string dir = ctx_.SetupTempDir + "\\";
    const std::string own = dir + prefix + ctx_.Wizard.ComboLng + ".rtf";
    const std::string fallback = dir + prefix + "(Default).rtf";
    // A missing or unreadable file leaves the view as it was.
    if (GetFileAttributesA(own.c_str()) != INVALID_FILE_ATTRIBUTES)
        LoadRtf(Ctl(id), own);
    else
        LoadRtf(Ctl(id), fallback);
}

void TForm1::SetupReadmePage() {
    SetLangTexts("Readme", {kIdText1, kIdText2, kIdLabel18});
    LoadRichText(kIdRichEdit2, "R");
}

void TForm1::SetupUserInfoPage() {
    SetLangTexts("UserInformation", {kIdText1, kIdText2, kIdLabel5});
    static const struct {
        const char *shown, *required;
        int label, field;
    } kRows[] = {
        {"InfoUserName", "InfoUserNameReq", kIdLUser, kIdEUser},
        {"InfoCompany", "InfoCompanyReq", kIdLCompany, kIdECompany},
        {"InfoCustom", "InfoCustomReq", kIdLCustomInfo, kIdECustomInfo},
    };
    for (int i = 0; i < 3; ++i) {
        const bool shown = SetupFlag(kRows[i].shown);
        SetVisible(kRows[i].label, shown);
        SetVisible(kRows[i].field, shown);
        if (!shown) continue;
        // The custom item is named by the configuration, the others by the language.
        std::string caption = i < 2
                                  ? Lang("UserInformation", 3 + i)
                                  : ExpandText(ctx_, ReadSetupString(ctx_, "InfoCustomName") + ":");
        if (SetupFlag(kRows[i].required)) caption += "*";
        SetText(kRows[i].label, caption);
    }
}

bool TForm1::CheckUserInfo() {
    InfoField fields[3] = {
        {SetupFlag("InfoUserName"), SetupFlag("InfoUserNameReq"), ctx_.Wizard.EUser},
        {SetupFlag("InfoCompany"), SetupFlag("InfoCompanyReq"), ctx_.Wizard.ECompany},
        {SetupFlag("InfoCustom"), SetupFlag("InfoCustomReq"), ctx_.Wizard.ECustomInfo},
    };
    const int missing = FirstMissingField(fields);
    if (missing < 0) return true;
    const int ids[] = {kIdEUser, kIdECompany, kIdECustomInfo};
    Focus(ids[missing]);
    return false;
}

void TForm1::SetupProgramGroupPage() {
    SetLangTexts("ShortcutsFolder",
                 {kIdText1, kIdText2, kIdLabel3, kIdCheckPrograms, kIdCheckDesktop, kIdCheckQuick});
    SetText(kIdCheckAssociate, ctx_.Lang.AssociateCaption);
}

void TForm1::CheckProgramsClick() {
    SetText(kIdComboBox1, ExpandText(ctx_, ReadSetupString(ctx_, "ProgramGroup")));
    Enable(kIdComboBox1, !Checked(kIdCheckPrograms) && !ctx_.Wizard.ComboBox1Disabled);
}

bool TForm1::CheckProgramGroup() {
    if (!Trim(ctx_.Wizard.ComboBox1).empty()) return true;
    ctx_.Prompt->MessageBox(wnd_, Lang("ShortcutsFolder", 0), ctx_.Lang.TitleCaption,
                            MB_OK | MB_ICONWARNING);
    Focus(kIdComboBox1);
    return false;
}

void TForm1::SetupReadyPage() {
    SetLangTexts("ReadyToInstall", {kIdText1, kIdText2, kIdLabel7});
    ReadyInput in;
    in.destinationLabel = LanguageText(ctx_, "Setup", 0);
    in.groupLabel = LanguageText(ctx_, "Setup", 1);
    in.tasksLabel = LanguageText(ctx_, "Setup", 2);
    in.destination = ctx_.Wizard.Edit1;
    in.group = ctx_.Wizard.ComboBox1;
    in.noProgramGroup = ctx_.Wizard.CheckPrograms;
    in.desktop = ctx_.Wizard.CheckDesktop;
    in.quickLaunch = ctx_.Wizard.CheckQuickLaunch;
    in.associate = ctx_.Wizard.CheckAssociate;
    in.desktopCaption = Lang("ShortcutsFolder", 4);
    in.quickLaunchCaption = Lang("ShortcutsFolder", 5);
    in.associateCaption = Text(kIdCheckAssociate);
    SetText(kIdMemo1, ReadySummary(in));
}

void TForm1::SetupInstallPage() {
    SetLangTexts("Install", {kIdText1, kIdText2, kIdLTask});
    SetText(kIdLFile, "");
    SendMessageA(Ctl(kIdProgressBar1), PBM_SETPOS, 0, 0);
}

void TForm1::ShowInstallView() {
    if (!wnd_) return;
    SetText(kIdLTask, ctx_.View.LTask);
    SetText(kIdLFile, ctx_.View.LFile);
    SendMessageA(Ctl(kIdProgressBar1), PBM_SETPOS, ctx_.View.ProgressBar1, 0);
}

void TForm1::SetupFinishPage() {
    SetVisible(kIdLabel9, false);
    SetVisible(kIdLPublisher, false);
    SetText(kIdLabel1, Lang("SetupComplete", 0));
    const bool restart = SetupFlag("RestartComputer");
    if (restart) {
        SetText(kIdLabel2, Lang("SetupComplete", 6));
        SetText(kIdRadioGroup1, Lang("SetupComplete", 7));
        SetText(kIdRadioRestartNow, Lang("SetupComplete", 8));
        SetText(kIdRadioRestartLater, Lang("SetupComplete", 9));
        SetChecked(kIdRadioRestartNow, true);
        SetChecked(kIdRadioRestartLater, false);
    } else {
        SetText(kIdLabel2,
                ExpandText(ctx_, LanguageText(ctx_, "SetupComplete", 1) + "<#><#>" +
                                     LanguageText(ctx_, "SetupComplete", ctx_.Errors ? 2 : 3)));
    }
    SetVisible(kIdRadioGroup1, restart);

    static const struct {
        int id;
        const char *shown, *ticked;
    } kBoxes[] = {
        {kIdCheckLaunchFile, "LaunchFile", "LaunchFileChecked"},
        {kIdCheckViewReadme, "ViewReadme", "ViewReadmeChecked"},
        {kIdCheckCustomRun, "CustomAction", "CustomActionChecked"},
    };
    // The boxes share their place with the restart choice; with both, the boxes move
    // below it, one close under the other.
    int below = 260;
    for (int i = 0; i < 3; ++i) {
        const int id = kBoxes[i].id;
        const bool shown = SetupFlag(kBoxes[i].shown);
        SetText(id, i < 2 ? Lang("SetupComplete", 4 + i)
                          : ExpandText(ctx_, ReadSetupString(ctx_, "CustomActionName")));
        SetChecked(id, SetupFlag(kBoxes[i].ticked));
        SetVisible(id, shown);
        int top = 184 + 24 * i;
        if (restart && shown) {
            top = below;
            below += 18;
        }
        SetWindowPos(Ctl(id), nullptr, Scaled(178), Scaled(top), Scaled(308), Scaled(17),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

FinishChoices TForm1::ChosenFinishActions() const {
    FinishChoices c;
    c.launchFile = OwnVisible(kIdCheckLaunchFile) && Checked(kIdCheckLaunchFile);
    c.viewReadme = OwnVisible(kIdCheckViewReadme) && Checked(kIdCheckViewReadme);
    c.customRun = OwnVisible(kIdCheckCustomRun) && Checked(kIdCheckCustomRun);
    c.restart = OwnVisible(kIdRadioGroup1) && Checked(kIdRadioRestartNow);
    return c;
}
