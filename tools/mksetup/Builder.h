// mksetup: turns a project folder into a setup file
//   runtime (padded to >= 400000 bytes) | payload cabinets | setup cabinet | trailer
#pragma once

#include "Diagnostics.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mksetup {

// A build failure, with a one-line message naming the cause.
class BuildError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// How far the packing of the payload has come.
struct BuildProgress {
    uint32_t filesDone = 0, totalFiles = 0;
    uint64_t bytesDone = 0, totalBytes = 0;
};

struct BuildOptions {
    std::string projectDir; // holds setup.ini and the setup\ folder
    std::string outputPath; // the setup file to write (replaced only when the build succeeds)
    std::string stubPath;   // the runtime; empty: setupstub.exe beside the running program
    // Refuse a project whose setup\ folder lacks qvwizard.bmp, qvheader.bmp or a
    // language file. Tests switch it off to build deliberately broken setups.
    bool requireSetupFiles = true;
    // How the project is checked before anything is written, and who hears of each
    // finding (without a listener the findings make up the BuildError's message).
    CheckLevel checks = CheckLevel::Normal;
    DiagnosticSink onDiagnostic;
    // The uninstaller to carry as QVUninstall.exe when the setup folder has none of its
    // own; empty: uninstall.exe beside the running program, if there is one.
    std::string uninstallerPath;
    // Called as the payload is packed (after each data block and each file).
    std::function<void(const BuildProgress&)> progress;
};

struct BuildReport {
    uint32_t engineSize = 0;            // padded runtime length = offset of the first cabinet
    uint32_t totalFiles = 0;            // [Files] records written
    uint64_t filesSize = 0;             // sum of the payload files' sizes
    std::vector<uint32_t> cabinetSizes; // per [Files] record, in order
    uint32_t setupCabinetSize = 0;      // S, as written in the trailer
    uint64_t setupFileSize = 0;
    std::vector<std::string> warnings; // what the build went on without
};

// Builds the setup. Throws BuildError; never leaves a half-written output behind.
BuildReport BuildSetup(const BuildOptions& options);

} // namespace mksetup
