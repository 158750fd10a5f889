// The one way the runtime asks the user something. The program shows real Win32
// boxes; unit tests answer in-process.
#pragma once

#include <windows.h>

#include <string>

class IUserPrompt {
public:
    virtual ~IUserPrompt() = default;
    // A message box: owner may be null; type holds the MB_ button and icon flags.
    // Returns the ID of the button chosen (IDOK, IDYES, ...).
    virtual int MessageBox(HWND owner, const std::string& text, const std::string& caption,
                           UINT type) = 0;
};

// Shows real message boxes.
class Win32Prompt : public IUserPrompt {
public:
    int MessageBox(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override;
};

// The process-wide real prompt.
IUserPrompt& SystemPrompt();
