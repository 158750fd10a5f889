// Reads which DLLs a Windows program imports, from its file (the import and the
// delay-load import tables), without loading it.
#pragma once

#include <string>
#include <vector>

struct PeImports {
    bool valid = false;
    std::string error;                    // why the file could not be read, when not valid
    std::vector<std::string> imported;    // loaded before the program's first line
    std::vector<std::string> delayLoaded; // loaded on first use
};

// The imports of a PE32 or PE32+ image held in bytes.
PeImports ReadPeImports(const std::string& bytes);
