// One installation from start to end: uninstall record, files, items, installed
// programs entry, and the record placed in the destination folder.
#pragma once

struct RunContext;

// Returns at its end (also after a malformed [Files] record ended it early), or
// ends the process through AbortSetup.
void RunInstallation(RunContext& ctx);
