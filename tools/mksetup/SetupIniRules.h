// What the runtime understands in a setup's configuration: the [Setup] keys with
// their kinds and defaults, the path constants, the sections, and the fields and
// words of every item record. The builder's checks accept exactly this, and
// docs/setup-ini.md documents exactly this (a test compares the two).
#pragma once

#include "Diagnostics.h"

#include <string>
#include <vector>

namespace mksetup {

enum class KeyKind { String, Integer, Boolean };

struct SetupKeyRule {
    const char* name;
    KeyKind kind;
    bool expanded;   // passed through text expansion before use
    const char* def; // the runtime's default, as text
    // Integers whose other values mean nothing of their own; min > max: any number.
    int min = 1, max = 0;
    bool builderWritten = false; // EngineSize, TotalFiles, FilesSize
    bool ignored = false;        // accepted for old projects; the runtime never reads it
};

// Every [Setup] key, in the order of the reference.
const std::vector<SetupKeyRule>& SetupKeyRules();
// The rule of a key (compared ignoring case), or nullptr.
const SetupKeyRule* FindSetupKey(const std::string& name);

struct PathConstantRule {
    const char* name; // with its angle brackets, as the runtime spells it
    bool folder;      // its value is a full folder path (or a drive such as "C:")
};

// Every path constant, in the runtime's order of replacement.
const std::vector<PathConstantRule>& PathConstantRules();
const PathConstantRule* FindPathConstant(const std::string& name);

// The sections the runtime (or, for [Payload], the builder) reads.
const std::vector<std::string>& KnownSections();

enum class FieldKind {
    Text,        // passed through text expansion
    Literal,     // used as written
    Path,        // expanded; must name a file by a full path
    Words,       // one of a fixed set of words, compared in upper case
    Flag,        // "Yes" (any case) is true, anything else false
    Number,      // a decimal number, used as written
    RegistryKey, // root, backslash, key path; the key path is expanded
};

struct FieldRule {
    const char* name;
    FieldKind kind = FieldKind::Text;
    std::vector<std::string> words = {}; // upper case; Words only
    // An unknown word: an error when the record would then do nothing (or something
    // else), a warning when the runtime falls back to a sensible default.
    Severity unknownWord = Severity::Error;
};

struct RecordRule {
    const char* section;
    std::vector<FieldRule> fields;
    // Fewer fields accepted: the runtime adds an empty last field itself.
    size_t minFields;
};

// The record formats of the item sections, in the order the runtime works them.
const std::vector<RecordRule>& RecordRules();
const RecordRule* FindRecordRule(const std::string& section);

// "HKCR", "HKEY_CLASSES_ROOT", ...: the registry roots records may name.
const std::vector<std::string>& RegistryRoots();

// [Payload] exist modes, upper case.
const std::vector<std::string>& ExistModes();

} // namespace mksetup
