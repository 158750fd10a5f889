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
// dialog, then the second evaluation of the user variables. May end the run.
void RunStartupCommands(RunContext& ctx);

// Handles one [Commands] record for one stage.
void RunCommand(RunContext& ctx, int stage, const std::string& record);

// Starts "program" parameters in the program's folder and waits until it ends.
// True when the program could be started.
bool RunAndWait(const std::string& program, const std::string& parameters, int show);
