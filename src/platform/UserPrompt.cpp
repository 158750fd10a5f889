#include "platform/UserPrompt.h"

#include "platform/OverwriteDialog.h"
#include "platform/SystemLibrary.h"

#include <commdlg.h>

#include <vector>

namespace {

// A filter written as "name|pattern|name|pattern" in the form the open dialog takes:
// each part ends with a NUL and the list with a second one.
std::string DialogFilter(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '|') c = '\0';
    out += '\0';
    out += '\0';
    return out;
}

} // namespace

int Win32Prompt::MessageBox(HWND owner, const std::string& text, const std::string& caption,
                            UINT type) {
    // A null caption makes the system use its own default ("Error" on English systems).
    return ::MessageBoxA(owner, text.c_str(), caption.empty() ? nullptr : caption.c_str(), type);
}

OverwriteAnswer IUserPrompt::AskOverwrite(HWND owner, const std::string& text,
                                          const std::string& caption) {
    return ShowOverwriteDialog(owner, text, caption);
}

bool IUserPrompt::ChooseDataFile(HWND owner, std::string& path) {
    const std::string filter = DialogFilter("Data.zip|Data.zip|Archive File (*.zip)|*.zip");
    // Room for long paths; an offered file that does not fit is not offered.
    std::vector<char> file(32768, '\0');
    if (path.size() < file.size()) path.copy(file.data(), path.size());
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    // The working folder stays where it was: later steps may rely on it.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST |
                OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    EnsureCom(); // the dialog browses the shell's namespace
    using OpenFn = BOOL(WINAPI*)(OPENFILENAMEA*);
    auto open = SystemFunction<OpenFn>("comdlg32.dll", "GetOpenFileNameA");
    if (!open || !open(&ofn)) return false;
    path = file.data();
    return true;
}

IUserPrompt& SystemPrompt() {
    static Win32Prompt prompt;
    return prompt;
}
