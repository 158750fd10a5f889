// The Destination page: the folder field, the space display, the Next check and the
// folder browser.
#include "platform/FileUtil.h"
#include "run/CommandLine.h"
#include "run/RunContext.h"
#include "run/SetupKeys.h"
#include "text/ExpandText.h"
#include "text/Language.h"
#include "wizard/ControlIds.h"
#include "wizard/PageRules.h"
#include "wizard/Unit1.h"

#include <shlobj.h>

#include <climits>

namespace {

char DecimalSeparator() {
    char buf[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf) > 1) return buf[0];
    return '.';
}

// Free bytes available to this user on the drive root; 0 when the query fails.
int64_t DriveFreeSpace(const std::string& root) {
    ULARGE_INTEGER available{};
    if (root.empty() || !GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr)) return 0;
    return available.QuadPart > static_cast<ULONGLONG>(LLONG_MAX)
               ? LLONG_MAX
               : static_cast<int64_t>(available.QuadPart);
}

std::string FolderOfIdList(LPCITEMIDLIST list) {
    char path[MAX_PATH] = {};
    if (!list || !SHGetPathFromIDListA(list, path)) return {};
    return path;
}

int CALLBACK BrowseCallback(HWND dialog, UINT msg, LPARAM lParam, LPARAM data) {
    // Only Win32 calls here: nothing can throw through the shell's frame.
    if (msg == BFFM_INITIALIZED) {
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, data);
    } else if (msg == BFFM_SELCHANGED) {
        char path[MAX_PATH] = {};
        if (SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path))
            SendMessageA(dialog, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

} // namespace

void TForm1::SetupDestinationPage() {
    if (!ctx_.Wizard.Edit1Disabled && userInfoTyped_) {
        // The configured folder may name the user's details: it follows them.
        std::string folder = ExpandText(ctx_, ReadSetupString(ctx_, "InstallationPath"));
        if (int p = FindSwitch(ctx_, "/P")) folder = ExpandText(ctx_, ArgumentAfter(ctx_, p));
        SetText(kIdEdit1, folder);
        ctx_.Wizard.Edit1 = folder;
    }
    SetLangTexts("DestinationFolder", {kIdText1, kIdText2, kIdLabel10});
    const bool browse = !ctx_.Wizard.Edit1Disabled;
    SetVisible(kIdLabel6, browse);
    if (browse) SetText(kIdLabel6, Lang("DestinationFolder", 3));
    SetText(kIdGroupBox1, Lang("DestinationFolder", 4));
    SetText(kIdButton4, Lang("Buttons", kCaptionBrowse));
    const int64_t required = ReadSetupInteger(ctx_, "FilesSize");
    SetText(kIdLSpaceRequired,
            ExpandText(ctx_, FormatText(LanguageText(ctx_, "DestinationFolder", 5),
                                        FormatSize(required, DecimalSeparator()))));
    UpdateSpaceFree(ctx_.Wizard.Edit1);
}

void TForm1::UpdateSpaceFree(const std::string& folder) {
    const int64_t space = DriveFreeSpace(SpaceDriveRoot(folder));
    SetText(kIdLSpaceFree, ExpandText(ctx_, FormatText(LanguageText(ctx_, "DestinationFolder", 6),
                                                       FormatSize(space, DecimalSeparator()))));
}

bool TForm1::CheckDestination() {
    const std::string folder = Trim(Text(kIdEdit1));
    SetText(kIdEdit1, folder);
    ctx_.Wizard.Edit1 = folder;
    switch (ClassifyDestination(folder)) {
    case DestinationCheck::TooShort:
        ctx_.Prompt->MessageBox(wnd_, Lang("DestinationFolder", 1), ctx_.Lang.TitleCaption,
                                MB_OK | MB_ICONWARNING);
        Focus(kIdEdit1);
        return false;
    case DestinationCheck::DriveSpace: {
        const int64_t free = DriveFreeSpace(SpaceDriveRoot(folder));
        if (free >= ReadSetupInteger(ctx_, "FilesSize")) return true;
        UpdateSpaceFree(folder);
        const std::string question = ExpandText(
            ctx_, FormatText(LanguageText(ctx_, "DestinationFolder", 7), folder.substr(0, 2)));
        if (ctx_.Prompt->MessageBox(wnd_, question, ctx_.Lang.TitleCaption,
                                    MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES)
            return true;
        Focus(kIdButton4);
        return false;
    }
    case DestinationCheck::NotTested:
        break;
    }
    return true;
}

void TForm1::Button4Click() {
    const std::string current = Text(kIdEdit1);
    const std::string last = BrowseLastComponent(current);
    const int mode = ReadSetupInteger(ctx_, "SelectFolderMode");
    const std::string start = BrowseStart(current, DirectoryExists);
    const std::string title = Text(kIdText1) + ":";

    BROWSEINFOA info{};
    info.hwndOwner = wnd_;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_VALIDATE;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(start.c_str());
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (!chosen) return;
    const std::string folder = FolderOfIdList(chosen);
    CoTaskMemFree(chosen);
    const std::string path = BrowseResult(folder, last, mode);
    if (path.empty()) return;
    SetText(kIdEdit1, path);
    ctx_.Wizard.Edit1 = path;
    UpdateSpaceFree(path);
    Focus(kIdBtnNext);
}
