// mksetup <project folder> <output setup.exe> [--stub <setupstub.exe>]
#include "Builder.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

constexpr int kExitBuildFailed = 1;
constexpr int kExitUsage = 2;

void PrintUsage(FILE* to) {
    std::fputs("usage: mksetup <project folder> <output setup.exe> [--stub <setupstub.exe>]\n", to);
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
    bool stubGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            PrintUsage(stdout);
            return 0;
        }
        if (arg == "--stub") {
            if (stubGiven) return UsageError("--stub given twice");
            if (i + 1 >= argc) return UsageError("--stub needs a file name");
            options.stubPath = argv[++i];
            stubGiven = true;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            return UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return UsageError("expected a project folder and an output file");
    options.projectDir = positional[0];
    options.outputPath = positional[1];

    try {
        mksetup::BuildReport report = mksetup::BuildSetup(options);
        std::printf("mksetup: %u file(s), %llu bytes of payload, %llu bytes written to %s\n",
                    report.totalFiles, static_cast<unsigned long long>(report.filesSize),
                    static_cast<unsigned long long>(report.setupFileSize),
                    options.outputPath.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mksetup: error: %s\n", e.what());
        return kExitBuildFailed;
    }
}
