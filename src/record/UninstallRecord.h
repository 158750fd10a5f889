// The uninstall record: "qvuninstall.ini" built in the setup temp folder during a
// run, then placed in the destination folder as "Uninstall.ini" beside the
// uninstaller, plus the product's entry among the installed programs.
#pragma once

#include <string>
#include <vector>

struct RunContext;

// Opens the record (continuing an installed copy's record in update mode) and
// writes [Messages], [Updater] and [General].
void OpenUninstallRecord(RunContext& ctx);
// Appends one record to a section of the uninstall record. Files, Folders,
// RegistryKeys, RegistryValues and INIValues are numbered by their counters with
// no duplicate check; any other section stores a text only once (ignoring case).
// Does nothing while no record is open.
void RecordUninstallItem(RunContext& ctx, const std::string& section, const std::string& text);
// Records Uninstall.exe, Uninstall.ini and Updater.exe after file placement.
void RecordProgramFiles(RunContext& ctx);
// The fixed records that start the updater at log-on, as the [Registry] and [INI]
// handlers take them. Empty lists when [Setup] AutoCheckUpdate is off.
struct UpdaterRecords {
    std::vector<std::string> Registry;
    std::vector<std::string> Ini;
};
UpdaterRecords BuildUpdaterRecords(const RunContext& ctx);
// The product's entry among the installed programs, when [Setup] Uninstall and
// ShowAddRemove are on. Failures are reported as item failures.
void WriteUninstallEntry(RunContext& ctx);
// Closes the record and copies it, the uninstaller and the updater into the
// destination folder (copy failures are ignored).
void PlaceUninstallRecord(RunContext& ctx);
// Releases the record without placing it (the run was aborted or ended early).
void CloseUninstallRecord(RunContext& ctx);

// Holds the record's writes back while it lives and writes them when it ends, one
// section at a time: each single write rewrites the whole file, which made a record
// of a few hundred files cost a tenth of a second. Reading the record through
// RecordUninstallItem writes what is held first.
class UninstallRecordBatch {
  public:
    explicit UninstallRecordBatch(RunContext& ctx);
    ~UninstallRecordBatch();
    UninstallRecordBatch(const UninstallRecordBatch&) = delete;
    UninstallRecordBatch& operator=(const UninstallRecordBatch&) = delete;

  private:
    RunContext& ctx_;
};
// Writes the held-back record writes now.
void FlushUninstallRecord(RunContext& ctx);

// Reading back a record file (also used by the installed-programs entry).
// The key names of a section in file order; none for a missing section.
std::vector<std::string> RecordKeys(const std::string& path, const std::string& section);
// A key's value; empty when absent. Not cut, whatever its length.
std::string RecordValue(const std::string& path, const std::string& section,
                        const std::string& key);
// Writes any changes the profile functions still hold for path to the disk.
void FlushRecordFile(const std::string& path);
