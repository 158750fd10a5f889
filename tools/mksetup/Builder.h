// mksetup: turns a project folder into a setup file
//   runtime (padded to >= 400000 bytes) | payload cabinets | setup cabinet | trailer
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace mksetup {

// A build failure, with a one-line message naming the cause.
class BuildError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct BuildOptions {
    std::string projectDir; // holds setup.ini and the setup\ folder
    std::string outputPath; // the setup file to write (replaced only when the build succeeds)
    std::string stubPath;   // the runtime; empty: setupstub.exe beside the running program
    // Refuse a project whose setup\ folder lacks qvwizard.bmp, qvheader.bmp or a
    // language file. Tests switch it off to build deliberately broken setups.
    bool requireSetupFiles = true;
};

struct BuildReport {
    uint32_t engineSize = 0;            // padded runtime length = offset of the first cabinet
    uint32_t totalFiles = 0;            // [Files] records written
    uint64_t filesSize = 0;             // sum of the payload files' sizes
    std::vector<uint32_t> cabinetSizes; // per [Files] record, in order
    uint32_t setupCabinetSize = 0;      // S, as written in the trailer
    uint64_t setupFileSize = 0;
};

// Builds the setup. Throws BuildError; never leaves a half-written output behind.
BuildReport BuildSetup(const BuildOptions& options);

} // namespace mksetup
