// Closing the wizard: the close question, the finish actions of the Finish page, the
// release of what the run holds, and the restart of the computer.
#pragma once

#include <windows.h>

#include <string>

struct RunContext;

// The finish options the user left visible and ticked on the Finish page.
struct FinishChoices {
    bool launchFile = false;
    bool viewReadme = false;
    bool customRun = false;
    bool restart = false; // RadioGroup1 shown with its first choice selected
};

enum class CloseDecision {
    Stay,      // the user answered No: the wizard stays where it was
    Close,     // finished and released: the window may go
    CancelRun, // confirmed on the Install page: the cancel flag is set for the run
};

// FormCloseQuery: on the Finish page (onFinishPage) runs the chosen finish actions and
// releases everything without asking; elsewhere asks the close question first.
CloseDecision FormCloseQuery(RunContext& ctx, HWND owner, bool onInstallPage, bool onFinishPage,
                             const FinishChoices& choices);

// Runs the finish actions (when choices is given) in the order launch, readme,
// custom action, restart; then releases the readers and lists, removes the wizard
// font and cleans up the setup files.
void FinishAndRelease(RunContext& ctx, const FinishChoices* choices);

// Opens a configured target: the text before its first " /" names it and the rest,
// from the "/" on, are its parameters. An existing file is opened in its own folder
// with those parameters; anything else (a web address) is handed to the shell whole.
// False when the shell could not open it.
bool OpenTarget(const std::string& text);

// Asks Windows to restart; when refused, switches the shutdown privilege on and asks
// once more. Failures are silent.
void RestartComputer();
