// The undo journal of an installation run: what the run created or changed, with what
// is needed to put it back, written line by line to "qvjournal.txt" in the setup temp
// folder as it happens. Each step is journalled before it is taken, so a journal that
// outlives its process (killed, power lost) still names everything that may have been
// touched; undoing a step that never happened finds nothing to do.
//
// Existing files about to be overwritten are kept by renaming them to a hidden backup
// in their own folder (same volume: no copy), and deleted only when the run finished.
// Nothing here undoes anything: the engine's rollback reads the entries back.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

struct RunContext;

// One journal line, taken apart. Kinds:
//   F path                          a file created (none was there)
//   B path backup attributes        an existing file moved to backup
//   N path                          the file is no longer the run's (put back already)
//   D folder                        a folder created
//   K entry                         a registry key created ("D"/"6"/"3" + root\key)
//   V entry existed type hexdata    a registry value written (entry: key entry*?name)
//   I file section key existed old  an INI value written
//   E name existed old              an environment variable written
//   R section path                  a registration (Fonts, ActiveX, TypeLibrary)
struct JournalEntry {
    char Kind = 0;
    std::vector<std::string> Fields;
};

// The journal's first line: product GUID and name, for a later run that finds it.
struct JournalHeader {
    std::string Guid;
    std::string Product;
    bool SystemEnvironment = false; // the run wrote the system's environment
    bool DefaultView64 = false;     // "D" registry entries are in the 64-bit view
    bool Valid = false;
};

class UndoJournal {
  public:
    // Creates (truncates) the journal file and writes the header.
    UndoJournal(const std::string& path, const JournalHeader& header);
    ~UndoJournal();
    UndoJournal(const UndoJournal&) = delete;
    UndoJournal& operator=(const UndoJournal&) = delete;

    bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
    const std::string& Path() const { return path_; }
    // Appends a line; false when it could not be written whole.
    bool Add(char kind, const std::vector<std::string>& fields);

    // Moves an existing file out of the way before it is overwritten: renamed to a
    // hidden, unused name in its folder (copied there and deleted when the rename is
    // refused). Only the first call for a path in a run keeps a backup: later calls
    // (a retry after a failed extraction) meet the run's own partial file, which is
    // simply deleted. True when nothing is left under the path.
    bool MoveAside(const std::string& path);
    // Puts a file's original back now (or removes the run's file where there was
    // none): an extraction given up must not leave a damaged file under the name.
    void PutBack(const std::string& path);
    // The run finished: backups are deleted, and the journal with them.
    void Commit();
    // Closes the file without deleting it (a rollback reads it next).
    void Close();

  private:
    std::string path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::set<std::string> seen_;                               // upper-case paths moved aside
    std::vector<std::pair<std::string, std::string>> backups_; // path, backup
    unsigned counter_ = 0;
};

// Reading a journal back: its header and its entries in order. An entry that a later
// "N" line for the same path gave back is left out.
JournalHeader ReadJournalHeader(const std::string& path);
std::vector<JournalEntry> ReadJournal(const std::string& path);

// The journal file's name in a setup temp folder.
constexpr const char* kJournalName = "qvjournal.txt";

// Helpers for the item handlers: each does nothing when the run keeps no journal.
// Call before the change is made (the previous state is read here).
void JournalCreatedFile(RunContext& ctx, const std::string& path);
void JournalCreatedFolder(RunContext& ctx, const std::string& path);
void JournalCreatedKey(RunContext& ctx, const std::string& entry);
// entry: letter + root name + "\" + key path, as the record writes it.
void JournalRegistryValue(RunContext& ctx, HKEY root, REGSAM view, const std::string& entry,
                          const std::string& keyPath, const std::string& valueName);
void JournalIniValue(RunContext& ctx, const std::string& file, const std::string& section,
                     const std::string& key);
void JournalEnvironment(RunContext& ctx, HKEY root, REGSAM view, const std::string& envKey,
                        const std::string& name);
void JournalRegistration(RunContext& ctx, const std::string& section, const std::string& path);
// Removes an existing file that is about to be overwritten: moved aside when the run
// keeps a journal, else deleted. True when nothing is left under the path.
bool RemoveForOverwrite(RunContext& ctx, const std::string& path);
// A file about to be written over whole (a shortcut): an existing one is moved aside
// first, and the new one is journalled as created.
void JournalReplacedFile(RunContext& ctx, const std::string& path);
// A file that could not be placed: its original back, or the run's partial file gone.
void GiveBackFile(RunContext& ctx, const std::string& path);

// Hex text of bytes and back, for registry data in the journal.
std::string HexText(const std::string& bytes);
std::string HexBytes(const std::string& text);
