// The uninstall record: "qvuninstall.ini" built in the setup temp folder during a
// run, then placed in the destination folder as "Uninstall.ini" beside the
// uninstaller, plus the product's entry among the installed programs.
#pragma once

#include <string>

struct RunContext;

// Opens the record (continuing an installed copy's record in update mode) and
// writes [Messages], [Updater] and [General].
void OpenUninstallRecord(RunContext& ctx);
// Appends one record to a section of the uninstall record.
void RecordUninstallItem(RunContext& ctx, const std::string& section, const std::string& text);
// Records Uninstall.exe, Uninstall.ini and Updater.exe after file placement.
void RecordProgramFiles(RunContext& ctx);
// The fixed registry and INI records that start the updater at log-on.
void WriteUpdaterSettings(RunContext& ctx);
// The product's entry among the installed programs.
void WriteUninstallEntry(RunContext& ctx);
// Closes the record and copies it, the uninstaller and the updater into the
// destination folder (copy failures are ignored).
void PlaceUninstallRecord(RunContext& ctx);
// Releases the record without placing it (the run was aborted or ended early).
void CloseUninstallRecord(RunContext& ctx);
