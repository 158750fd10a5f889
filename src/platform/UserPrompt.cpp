#include "platform/UserPrompt.h"

#include "platform/OverwriteDialog.h"

int Win32Prompt::MessageBox(HWND owner, const std::string& text, const std::string& caption,
                            UINT type) {
    // A null caption makes the system use its own default ("Error" on English systems).
    return ::MessageBoxA(owner, text.c_str(), caption.empty() ? nullptr : caption.c_str(), type);
}

OverwriteAnswer IUserPrompt::AskOverwrite(HWND owner, const std::string& text,
                                          const std::string& caption) {
    return ShowOverwriteDialog(owner, text, caption);
}

IUserPrompt& SystemPrompt() {
    static Win32Prompt prompt;
    return prompt;
}
