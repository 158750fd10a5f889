// Rolling back an installation that did not finish: the run keeps an undo journal
// (record/UndoJournal) while it changes the machine; when it ends early, the journal is
// undone in reverse with the removal engine (same safety rules as the uninstaller),
// previous values are written back and the originals of overwritten files return.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct RunContext;

// What undoing a journal did.
struct RollbackResult {
    int Steps = 0;  // entries acted on or found to need nothing
    int Failed = 0; // steps that failed (each reported); the rollback went on
    // Backups that could not be put back: where the originals are now.
    std::vector<std::string> KeptBackups;
};

// Reports of one rollback: each step's text and whether it failed, and the progress
// (0..100).
struct RollbackSinks {
    std::function<void(const std::string& step, bool failed, const std::string& cause)> Step;
    std::function<void(int percent)> Progress;
};

// Undoes the journal file at path and deletes it (with the backups it put back).
RollbackResult UndoJournalFile(const std::string& path, const RollbackSinks& sinks);

// Starts the run's journal when [Setup] Rollback is on, and arms the rollback that
// the ends of the run call. First finishes what an earlier run of the same product
// left unfinished (its process died).
void BeginInstallJournal(RunContext& ctx);
// The installation has finished: nothing is undone any more; backups go.
void CommitInstallJournal(RunContext& ctx);
// Whether the run keeps a journal (a cancelled run will be rolled back).
bool RollbackArmed(const RunContext& ctx);
// Undoes the run now: "Rolling back changes..." on the Install page (or in the log).
void RollBackInstallation(RunContext& ctx);
// Looks in tempDir for journals of runs of the product guid whose process has gone,
// and undoes them. Returns what was done (summed).
RollbackResult RecoverUnfinishedRuns(RunContext& ctx, const std::string& tempDir,
                                     const std::string& guid);
