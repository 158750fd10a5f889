// Reads a project folder: setup.ini (configuration sections and the [Payload]
// list of files to install) and the setup\ folder (files for the setup cabinet).
// Everything is checked here, before the builder writes a single byte.
#pragma once

#include "IniText.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mksetup {

// One [Payload] record as written: source?destination?exist mode?uninstall flag.
struct PayloadRecord {
    std::string source;      // as written (relative to the project folder or absolute)
    std::string destination; // full installed path with path constants
    std::string existMode;   // upper case: OVERWRITE, SKIP, ASK, OVERWRITE ONLY IF NEWER
    bool uninstall = false;
    int line = 0; // of the record in setup.ini
};

// One file to install, after folder sources were expanded.
struct PayloadFile {
    std::string sourcePath;  // full path on disk
    std::string destination; // full installed path, becomes [Files] field 1
    std::string existMode;
    bool uninstall = false;
    int line = 0; // of its [Payload] record in setup.ini
    uint64_t size = 0;
    // The name stored in the file's cabinet: the destination without its folder.
    std::string NameInCab() const;
};

struct Project {
    std::string dir;                     // full path, no trailing backslash
    std::vector<IniSection> sections;    // setup.ini without [Payload]
    std::vector<PayloadFile> payload;    // in [Files] order
    std::vector<std::string> setupFiles; // full paths of the setup\ files, sorted by name
    uint64_t payloadSize = 0;            // sum of the payload files' sizes
};

// Splits and checks one [Payload] value. Throws BuildError naming the record.
PayloadRecord ParsePayloadRecord(const std::string& value);

// Every file below folder (recursively), as paths relative to it, sorted by name
// ASCII case-insensitively within each folder, a folder's files and subfolders
// merged in that order. Folders that are reparse points are not entered.
std::vector<std::string> ListFilesRecursive(const std::string& folder);

// Reads and checks the whole project. Throws BuildError.
Project ReadProject(const std::string& projectDir, bool requireSetupFiles);

} // namespace mksetup
