// Configured commands and the ways of starting a program.
#pragma once

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
