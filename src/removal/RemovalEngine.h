// The removal engine: undoes what an installation recorded (RemovalItems), step by
// step, and tells its caller about every step. The uninstaller drives it through the
// phases below, in their order, with its own steps between them; a rollback of an
// unfinished installation calls RemoveAll.
//
// Rules it keeps whoever calls it: it touches only what the items name; an entry that
// is not a plain absolute path, or names a folder of the system or the shell, or a
// registry root, first-level or shared key, is refused; folders go only when empty;
// registry keys go deepest first, each with everything below it, in its recorded
// view; the installed-programs entry goes last, so that a removal that stops half-way
// can be run again.
#pragma once

#include "removal/RemovalItems.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

enum class RemovalOutcome {
    Done,      // removed, restored or unregistered
    Skipped,   // nothing to do: already gone, or no longer the installation's own
    Scheduled, // left for the system to delete at the next restart
    Failed,    // the system refused: Call and Error say how
    Refused,   // the entry itself may not be acted on: Detail says why
};

struct RemovalReport {
    RemovalOutcome Outcome = RemovalOutcome::Done;
    std::string Section; // the record section of the entry: "Files", "RegistryKeys", ...
    std::string Item;    // the entry as recorded (or the path acted on)
    std::string Detail;  // why it was skipped or refused; what was done
    std::string Call;    // the system call that failed
    DWORD Error = 0;     // its error code
};

// What the caller wants done with a file that is in use.
enum class InUseAnswer {
    Retry,    // try to delete it again
    Schedule, // delete it at the next restart
    Leave,    // leave it where it is (a failure)
};

// Where the engine reports; also asked about files in use.
class IRemovalSink {
  public:
    virtual ~IRemovalSink() = default;
    virtual void Report(const RemovalReport& report) = 0;
    // A file could not be deleted because something holds it (error: the system's
    // answer). Asked again after each Retry.
    virtual InUseAnswer FileInUse(const std::string& path, DWORD error);
};

struct RemovalOptions {
    // The record's "x64": entries of the default view ("D") are in the 64-bit view.
    bool DefaultView64 = false;
    // Environment entries belong to the system's environment (the installation was
    // made with administrator rights), else to the user's.
    bool SystemEnvironment = false;
    // Files that RemoveFiles leaves for RemoveDeferredFiles, after everything else
    // (the running uninstaller's own program, say). Only those the items list go.
    std::vector<std::string> DeferredFiles;
};

class TRemovalEngine {
  public:
    TRemovalEngine(IRemovalSink& sink, RemovalOptions options);

    // Everything below in its order, for a caller with no steps of its own between.
    void RemoveAll(const RemovalItems& items);

    // ActiveX servers (DllUnregisterServer), type libraries, fonts, then the screen
    // saver and the wallpaper while they still name the installed file: before the
    // files they name are deleted.
    void Unregister(const RemovalItems& items);
    // Registry values, then keys deepest first (but not installed-programs entries),
    // INI values (and a section left empty), then the environment variables, with one
    // change notice to every window.
    void RemoveSettings(const RemovalItems& items);
    // Files in reverse order (not the deferred ones); a file in use goes to the sink's
    // answer. Shortcuts deleted are announced to the shell.
    void RemoveFiles(const RemovalItems& items);
    // Folders in reverse order, each only when empty. A folder that holds only files
    // waiting for the next restart is left to the restart too; one that holds only
    // deferred files waits for RemoveDeferredFiles.
    void RemoveFolders(const RemovalItems& items);
    // The installed-programs entries among the registry keys.
    void RemoveProductEntries(const RemovalItems& items);
    // The deferred files, then the folders that were waiting for them.
    void RemoveDeferredFiles();

    struct Tally {
        int Done = 0, Skipped = 0, Scheduled = 0, Failed = 0, Refused = 0;
    };
    const Tally& Counts() const { return tally_; }
    // Something was left behind: scheduled, failed or refused.
    bool HasLeftovers() const { return tally_.Scheduled + tally_.Failed + tally_.Refused > 0; }

  private:
    void Report(RemovalOutcome outcome, const std::string& section, const std::string& item,
                const std::string& detail, const std::string& call = {}, DWORD error = 0);
    void Fail(const std::string& section, const std::string& item, const std::string& call,
              DWORD error);
    REGSAM ViewAccess(char view) const;
    bool Refuses(const std::string& section, const std::string& item, const std::string& path);

    // Unregistering (RemovalRegistrations.cpp).
    void UnregisterActiveX(const std::string& path);
    void UnregisterTypeLibrary(const std::string& path);
    void RemoveFont(const std::string& path);
    void ResetScreenSaver(const std::string& path);
    void ResetWallpaper(const std::string& path);

    // Settings (RemovalSettings.cpp).
    void RemoveValue(const RecordedValue& v);
    void RemoveKey(const RecordedKey& k);
    void RemoveIniValue(const RecordedIniValue& v);
    bool UndoEnvironment(const RecordedEnvironment& e);

    // Files and folders (RemovalEngine.cpp).
    void RemoveFile(const std::string& section, const std::string& path);
    bool Schedule(const std::string& section, const std::string& path, const char* what);
    void RemoveFolder(const std::string& path, bool retry);
    // What a non-empty folder still holds apart from the entries of allowed (upper-case
    // full paths). Empty when nothing else is in it.
    std::string OtherContent(const std::string& folder, const std::set<std::string>& allowed) const;
    bool IsDeferred(const std::string& path) const;

    IRemovalSink& sink_;
    RemovalOptions options_;
    Tally tally_;
    std::set<std::string> scheduled_;         // upper-case paths left for the restart
    std::vector<std::string> deferred_;       // recorded files that RemoveDeferredFiles deletes
    std::vector<std::string> waitingFolders_; // folders left until the deferred files go
    std::set<std::string> shortcutFolders_;   // folders of deleted shortcuts (upper case)
    std::vector<std::string> shortcutFolderNames_; // the same as written, for the shell
};

// The outcome as the log writes it: "removed", "skipped", ...
const char* OutcomeText(RemovalOutcome outcome);
