// The run's own prompt for unattended deployments: it writes every question and its
// answer to the event log and, in a quiet run ("/S /Q"), answers without showing
// anything, with the answer that keeps the machine safe and the run defined.
#pragma once

#include "platform/UserPrompt.h"

struct RunContext;

// The answer a quiet run gives to a box of this type (its MB_ buttons): OK for a
// message; otherwise the button that stops rather than goes on: Abort, No or Cancel.
int QuietAnswer(UINT type);
// "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No", ... for a button ID.
std::string AnswerName(int id);

class EventPrompt : public IUserPrompt {
  public:
    // inner shows what a run that is not quiet shows.
    EventPrompt(RunContext& ctx, IUserPrompt& inner) : ctx_(ctx), inner_(inner) {}
    int MessageBox(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override;
    // Quiet: No, which keeps the existing file.
    OverwriteAnswer AskOverwrite(HWND owner, const std::string& text,
                                 const std::string& caption) override;
    // Quiet: cancelled.
    bool ChooseDataFile(HWND owner, std::string& path) override;

  private:
    void Log(const std::string& kind, const std::string& caption, const std::string& text,
             const std::string& answer);
    RunContext& ctx_;
    IUserPrompt& inner_;
};

// Puts an EventPrompt in front of ctx.Prompt (once).
void InstallEventPrompt(RunContext& ctx);
