// Findings of the builder's checks, one per mistake, in the form compilers use
// ("setup.ini:12: error: text") so that editors and CI logs lead to the line.
#pragma once

#include <functional>
#include <string>

namespace mksetup {

enum class Severity { Warning, Error };

struct Diagnostic {
    std::string file; // as shown to the user
    int line = 0;     // 1-based; 0 when the finding concerns the whole file
    Severity severity = Severity::Error;
    std::string text;
};

// "file:line: error: text", or "file: warning: text" without a line.
std::string FormatDiagnostic(const Diagnostic& d);

// How the project is checked before anything is written.
enum class CheckLevel {
    Off,    // no checks: for deliberately broken setups in tests
    Normal, // errors stop the build, warnings are reported
    Strict, // warnings count as errors
};

using DiagnosticSink = std::function<void(const Diagnostic&)>;

} // namespace mksetup
