// The one way the runtime asks the user something. The program shows real Win32
// boxes; unit tests answer in-process.
#pragma once

#include <windows.h>

#include <string>

// The answers of the overwrite question. Closed: the dialog was dismissed without one
// of its four buttons (close box, Escape, Alt+F4).
enum class OverwriteAnswer { Yes, No, NoToAll, YesToAll, Closed };

class IUserPrompt {
  public:
    virtual ~IUserPrompt() = default;
    // A message box: owner may be null; type holds the MB_ button and icon flags.
    // Returns the ID of the button chosen (IDOK, IDYES, ...). An empty caption gives
    // the system's default caption.
    virtual int MessageBox(HWND owner, const std::string& text, const std::string& caption,
                           UINT type) = 0;
    // The overwrite question of file placement: a warning with the buttons Yes, No,
    // No to All and Yes to All. The default shows the real dialog, so a prompt that
    // only answers message boxes still behaves like the program.
    virtual OverwriteAnswer AskOverwrite(HWND owner, const std::string& text,
                                         const std::string& caption);
    // The open dialog for the data file a setup needs beside itself ("Data.zip" or any
    // zip archive; only an existing file can be chosen). path holds the file offered
    // first and receives the choice. False when the user cancelled. The default shows
    // the real dialog.
    virtual bool ChooseDataFile(HWND owner, std::string& path);
};

// Shows real message boxes.
class Win32Prompt : public IUserPrompt {
  public:
    int MessageBox(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override;
};

// The process-wide real prompt.
IUserPrompt& SystemPrompt();
