// What an installation recorded for its removal, as data: the list sections of an
// uninstall record ("Uninstall.ini", or the "qvuninstall.ini" of a run in progress),
// each entry taken apart into its fields. Nothing here touches the system.
#pragma once

#include <string>
#include <vector>

// A registry key entry: view letter, root name, "\", key path.
struct RecordedKey {
    std::string Text;   // the entry as recorded
    bool Valid = false; // the fields below could be read
    char View = 'D';    // 'D' the setup's default view, '6' the 64-bit view, else the 32-bit view
    std::string Root;   // long root name ("HKEY_LOCAL_MACHINE", ...)
    std::string Key;    // path below the root, without leading or trailing backslash
};

// A registry value entry: a key entry, "*?", the value name (empty: the default value).
struct RecordedValue {
    RecordedKey Key;
    std::string Name;
};

// An INI value entry: file, "*?", section, "*?", key.
struct RecordedIniValue {
    std::string Text;
    bool Valid = false;
    std::string File, Section, Key;
};

// An environment entry: "D" + name (the variable was created), "W" + name + "*?" +
// previous value (it was overwritten), "U" + name + "*?" + text (the text was appended
// or prepended).
struct RecordedEnvironment {
    std::string Text;
    bool Valid = false;
    char Action = 0; // 'D', 'W' or 'U'
    std::string Name;
    std::string Data; // previous value (W) or added text (U)
};

struct RemovalItems {
    std::vector<std::string> Files;   // in recorded order
    std::vector<std::string> Folders; // outermost first, as recorded
    std::vector<RecordedKey> RegistryKeys;
    std::vector<RecordedValue> RegistryValues;
    std::vector<RecordedIniValue> IniValues;
    std::vector<RecordedEnvironment> Environment;
    std::vector<std::string> Fonts, ActiveX, TypeLibraries, ScreenSavers, Wallpapers;
};

// The parts of one entry. An entry that does not have them comes back not Valid (the
// removal refuses it and says so).
RecordedKey ParseRecordedKey(const std::string& text);
RecordedValue ParseRecordedValue(const std::string& text);
RecordedIniValue ParseRecordedIniValue(const std::string& text);
RecordedEnvironment ParseRecordedEnvironment(const std::string& text);

// The values of a list section of a record file in file order, each read whole
// (however long), in one read of the section. Empty for a missing section.
std::vector<std::string> ReadRecordList(const std::string& recordPath, const std::string& section);

// Every list section of a record file that the removal undoes.
RemovalItems ReadRemovalItems(const std::string& recordPath);
