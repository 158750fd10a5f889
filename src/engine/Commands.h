// Configured commands and the ways of starting a program.
#pragma once

#include <windows.h>

#include <string>

struct RunContext;

// Stages of [Commands] records.
enum CommandStage {
    kStageBeforeInstallation = 0,
    kStageUserInformation = 1,
    kStageFolderSelect = 2,
    kStageAfterInstallation = 3,
};

// Start-up's pass over [Commands] (stage "before installation"), with the data-file
// dialog, then the second evaluation of the user variables. May end the run: a record
// that needs "<CurrentDir>\data.zip" while it is missing asks for the file, and a
// cancelled dialog or a chosen file that does not exist quits the setup (exit code 0).
void RunStartupCommands(RunContext& ctx);

// Handles one [Commands] record for one stage: records the uninstaller's commands at
// stage 3, starts the record's program when its stage is the one given, and at the two
// wizard stages performs the wizard's Back action while "donotcontinue.txt" lies in
// the setup temp folder. Wrong records and start failures are passed over silently.
void RunCommand(RunContext& ctx, int stage, const std::string& record);

// Starts "program" parameters in the program's folder and waits until it ends.
// True when the program could be started.
bool RunAndWait(const std::string& program, const std::string& parameters, int show);

// Asks the shell to start program with the verb "runas". True when the shell accepted
// the request (false when the user declined elevation or the file is missing). With
// wait, returns once the program has ended (or the application is quitting), serving
// the window meanwhile.
bool RunElevated(HWND owner, const std::string& program, const std::string& parameters, bool wait,
                 int show);
