// Writes Microsoft Cabinet files through the system's cabinet library (FCI),
// compressed with MSZIP, one folder per cabinet, keeping each source file's
// date, time and attributes.
#pragma once

#include <string>
#include <vector>

namespace mksetup {

struct CabEntry {
    std::string sourcePath; // file on disk
    std::string nameInCab;  // name stored in the cabinet (may hold folder parts)
};

// Writes one cabinet holding the entries in order. Throws std::runtime_error with a
// one-line message naming the cause on failure; a partly written file is removed.
void WriteCabinet(const std::string& cabPath, const std::vector<CabEntry>& entries);

} // namespace mksetup
