// Writes Microsoft Cabinet files through the system's cabinet library (FCI),
// compressed with MSZIP, one folder per cabinet, keeping each source file's
// date, time and attributes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mksetup {

struct CabEntry {
    std::string sourcePath;  // file on disk
    std::string nameInCab;   // name stored in the cabinet (may hold folder parts)
    bool execute = false;    // mark the file to be run after extraction (_A_EXEC)
    bool newCabinet = false; // close the current cabinet before this entry and go on
                             // in the next cabinet of a set (no file spans that
                             // boundary); ignored for the first entry
};

struct CabWriterOptions {
    // Largest size of one cabinet in bytes; 0: no limit. With a limit (or entries
    // marked newCabinet) the writer produces a set: the first cabinet is cabPath, the
    // following ones are cabPath's name with "2", "3", ... before the extension, in
    // the same folder; files and the folder's data span cabinet boundaries.
    uint32_t maxCabinetSize = 0;
    bool compress = true; // MSZIP; false stores the data uncompressed
};

// Writes one cabinet holding the entries in order. Throws std::runtime_error with a
// one-line message naming the cause on failure; a partly written file is removed.
void WriteCabinet(const std::string& cabPath, const std::vector<CabEntry>& entries);

// The same with options; returns the paths of the cabinets written, in set order.
// On failure every cabinet of the set written so far is removed.
std::vector<std::string> WriteCabinet(const std::string& cabPath,
                                      const std::vector<CabEntry>& entries,
                                      const CabWriterOptions& options);

} // namespace mksetup
