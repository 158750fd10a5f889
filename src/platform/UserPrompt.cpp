#include "platform/UserPrompt.h"

int Win32Prompt::MessageBox(HWND owner, const std::string& text, const std::string& caption,
                            UINT type) {
    return ::MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

IUserPrompt& SystemPrompt() {
    static Win32Prompt prompt;
    return prompt;
}
