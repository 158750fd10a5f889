// mksetup <project folder> <output setup.exe> [options]
#include "Builder.h"
#include "Checks.h"
#include "MsZip.h"
#include "Progress.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr char kVersion[] = "1.0.0";
constexpr int kExitBuildFailed = 1;
constexpr int kExitUsage = 2;

#ifdef _WIN32
constexpr char kHost[] = "Windows";
#else
constexpr char kHost[] = "Linux";
#endif

void PrintUsage(FILE* to) {
    std::fputs("usage: mksetup <project folder> <output setup.exe> [--stub <setupstub.exe>]\n"
               "               [--uninstaller <uninstall.exe>] [--strict]\n",
               to);
}

void PrintHelp() {
    PrintUsage(stdout);
    std::fputs(
        "\n"
        "Builds a setup file from a project folder: setup.ini (the configuration and the\n"
        "[Payload] list of files to install) and the setup\\ folder (pictures, language\n"
        "files, texts). The same project gives the same setup file, byte for byte.\n"
        "Mistakes in setup.ini and the setup folder are reported first, as\n"
        "setup.ini:LINE: error|warning: text; an error stops the build.\n"
        "\n"
        "options:\n"
        "  --stub <file>         the runtime at the front of the setup\n"
        "                        (default: setupstub.exe beside mksetup)\n"
        "  --uninstaller <file>  carried as QVUninstall.exe when setup\\ has none of its own\n"
        "                        (default: uninstall.exe beside mksetup, if there is one)\n"
        "  --strict              warnings stop the build as errors do\n"
        "  --help                this text\n"
        "  --version             the builder's version\n"
        "\n"
        "exit codes: 0 built; 1 the build failed (the message says why, and no output\n"
        "is left behind); 2 the command line is wrong\n",
        stdout);
}

int UsageError(const std::string& what) {
    std::fprintf(stderr, "mksetup: %s\n", what.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    mksetup::BuildOptions options;
    std::vector<std::string> positional;
    bool stubGiven = false, uninstallerGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            PrintHelp();
            return 0;
        }
        if (arg == "--version") {
            std::printf("mksetup %s (%s build, zlib %s)\n", kVersion, kHost,
                        mksetup::DeflateLibraryVersion());
            return 0;
        }
        if (arg == "--stub" || arg == "--uninstaller") {
            bool& given = arg == "--stub" ? stubGiven : uninstallerGiven;
            if (given) return UsageError(arg + " given twice");
            if (i + 1 >= argc) return UsageError(arg + " needs a file name");
            (arg == "--stub" ? options.stubPath : options.uninstallerPath) = argv[++i];
            given = true;
        } else if (arg == "--strict") {
            options.checks = mksetup::CheckLevel::Strict;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            return UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return UsageError("expected a project folder and an output file");
    options.projectDir = positional[0];
    options.outputPath = positional[1];

    options.onDiagnostic = [](const mksetup::Diagnostic& d) {
        std::fprintf(stderr, "%s\n", mksetup::FormatDiagnostic(d).c_str());
    };
    mksetup::ProgressLine progress(stdout);
    options.progress = [&](const mksetup::BuildProgress& p) { progress.Update(p); };
    try {
        mksetup::BuildReport report = mksetup::BuildSetup(options);
        progress.Finish();
        for (const std::string& warning : report.warnings)
            std::fprintf(stderr, "mksetup: warning: %s\n", warning.c_str());
        std::printf("mksetup: %u file(s), %llu bytes of payload, %llu bytes written to %s\n",
                    report.totalFiles, static_cast<unsigned long long>(report.filesSize),
                    static_cast<unsigned long long>(report.setupFileSize),
                    options.outputPath.c_str());
        return 0;
    } catch (const std::exception& e) {
        progress.Finish();
        std::fprintf(stderr, "mksetup: error: %s\n", e.what());
        return kExitBuildFailed;
    }
}
