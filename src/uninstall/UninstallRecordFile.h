// Reading an installed product's "Uninstall.ini": its messages, its [General] facts,
// the commands to run around the removal, and the items to remove.
#pragma once

#include "removal/RemovalItems.h"

#include <string>
#include <vector>

// A command of ExecBeforeUninstall or ExecAfterUninstall: program, parameters, window
// ("MAXIMIZE", "MINIMIZE", "HIDE", else normal), wait and elevate ("YES" or not).
struct UninstallCommand {
    std::string Text;
    bool Valid = false;
    std::string Program, Parameters;
    int Show = 1;
    bool Wait = false, Elevate = false;
};

// The [Messages] of a record, by their place.
enum UninstallMessage {
    kMsgTitle = 0,
    kMsgQuestion = 1,
    kMsgSuccess = 2,
    kMsgWebPage = 3,
    kMsgCloseProgram = 4,
    kMsgRestart = 5,
    kMsgAdministrator = 6,
};

struct UninstallRecordData {
    std::string Path;
    // [General]
    std::string AppName, AppVersion, GUID, MainExecutable, InstallDir, ProgramGroupDir,
        UninstallURL;
    bool Admin = false, X64 = false, UninstallForce = false, UninstallRestart = false,
         SilentMode = false;
    // Whether the installation wrote the system's environment (1) or the user's (0);
    // -1 in a record that does not say (written before the key existed).
    int SystemEnvironment = -1;
    // [Messages] 0 to 6, ready to show: line breaks in place of "<#>", the built-in
    // English text (naming AppName) where the record's is empty.
    std::string Messages[7];
    std::vector<UninstallCommand> ExecBefore, ExecAfter;
    RemovalItems Items;
};

enum class RecordProblem {
    None,
    Missing,    // no file at the path
    Unreadable, // the file cannot be opened, or is no uninstall record ([General] has no
                // InstallDir)
};

// Reads the record at path into out. Nothing is guessed: a record that is missing or
// unreadable gives its problem and leaves out empty.
RecordProblem ReadUninstallRecordFile(const std::string& path, UninstallRecordData& out);

// One ExecBeforeUninstall or ExecAfterUninstall entry taken apart.
UninstallCommand ParseUninstallCommand(const std::string& text);

// The built-in English text of [Messages] index, for a product named appName.
std::string DefaultUninstallMessage(int index, const std::string& appName);
