// Writes Microsoft Cabinet files: MSZIP through zlib (or stored), keeping each source
// file's date, time and attributes, with a checksum in every data block. The same
// code runs in the Windows and the Linux builds of the builder, and the output
// depends on nothing but the entries: no time, random number or path of the build.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mksetup {

class OutputFile;

struct CabEntry {
    std::string sourcePath;  // file on disk
    std::string nameInCab;   // name stored in the cabinet (may hold folder parts)
    bool execute = false;    // mark the file to be run after extraction (_A_EXEC)
    bool newCabinet = false; // close the current cabinet before this entry and go on
                             // in the next cabinet of a set (no file spans that
                             // boundary); ignored for the first entry
    // When set, these bytes are stored instead of the file's contents; the date,
    // time and attributes still come from sourcePath.
    std::optional<std::string> contents = std::nullopt;
};

struct CabWriterOptions {
    // Largest size of one cabinet in bytes; 0: no limit. With a limit (or entries
    // marked newCabinet) the writer produces a set: the first cabinet is cabPath, the
    // following ones are cabPath's name with "2", "3", ... before the extension, in
    // the same folder; a file's data may run on into the next cabinet.
    uint32_t maxCabinetSize = 0;
    bool compress = true; // MSZIP; false stores the data uncompressed
    // Called after each data block with the number of the entries' bytes it held.
    std::function<void(uint64_t bytes)> progress;
};

// Writes one cabinet holding the entries in order, in one folder. Throws
// std::runtime_error with a one-line message naming the cause on failure; a partly
// written file is removed.
void WriteCabinet(const std::string& cabPath, const std::vector<CabEntry>& entries);

// The same with options; returns the paths of the cabinets written, in set order.
// On failure every cabinet of the set written so far is removed.
std::vector<std::string> WriteCabinet(const std::string& cabPath,
                                      const std::vector<CabEntry>& entries,
                                      const CabWriterOptions& options);

// Writes one cabinet (options.maxCabinetSize and newCabinet marks are not used) at the
// end of an open file and returns its size. The data is streamed: memory use does not
// depend on the files' sizes. Throws std::runtime_error (BuildError for file errors).
uint64_t AppendCabinet(OutputFile& out, const std::vector<CabEntry>& entries,
                       const CabWriterOptions& options = {});

} // namespace mksetup
