// The state of a machine as an installation changes it, for before/after comparisons:
// the files and folders below chosen folders (each file by size and content) and the
// registry below HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER in both views (each key, and
// each value by type and data). What the comparison leaves out is listed explicitly by
// the caller, each entry with its reason.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct SnapshotScope {
    // File trees to record, e.g. "C:\". A folder below an ignored one is still
    // recorded when it is named here (a test's own folder inside the temporary folder).
    std::vector<std::string> Folders;
    // Files and folders left out, with everything below them: full paths, compared
    // without regard to case.
    std::vector<std::string> IgnoredPaths;
    // Whether to record the registry, and the keys left out with everything below
    // them, written "HKLM\..." or "HKCU\..." (both views).
    bool Registry = true;
    std::vector<std::string> IgnoredKeys;
};

class MachineSnapshot {
  public:
    static MachineSnapshot Take(const SnapshotScope& scope);

    // What differs in later, one line each, sorted: "added ", "removed " or "changed "
    // followed by "file <path>", "folder <path>", "key <view> <key>" or
    // "value <view> <key> : <name>" (view "32" or "64").
    std::vector<std::string> DifferencesTo(const MachineSnapshot& later) const;

    size_t Size() const { return entries_.size(); }

  private:
    void AddTree(const std::string& folder, const SnapshotScope& scope);
    void AddKey(HKEY root, const std::string& rootName, const std::string& path, REGSAM view,
                const SnapshotScope& scope);

    // "file C:\..." -> size and content digest; "key 64 HKLM\..." -> ""; and so on.
    std::map<std::string, std::string> entries_;
};

// The differences as one text for a failure message.
std::string DifferenceText(const std::vector<std::string>& differences);
