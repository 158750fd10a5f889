// Opening a setup, measured beside its floor in the same run:
//  - start-to-exit of a setup whose setup cabinet holds 20 MB, against a minimal
//    program that only extracts the same cabinet with FDI;
//  - the trailer search with 64 KB after the trailer, against one sequential read
//    of the same file;
//  - the size of setupstub.exe.
#include "Builder.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "package/SetupPackage.h"
#include "platform/FileUtil.h"

#include <windows.h>

#include "BenchClock.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Stats {
    double median, min, max;
};

Stats Measure(int reps, const std::function<void()>& fn) {
    std::vector<double> t;
    for (int i = 0; i < reps; ++i) {
        double a = Now();
        fn();
        t.push_back(Now() - a);
    }
    std::sort(t.begin(), t.end());
    return {t[t.size() / 2], t.front(), t.back()};
}

void Print(const char* what, const Stats& s, const char* unit, double scale) {
    std::printf("  %-44s median %9.3f %s  (min %.3f, max %.3f)\n", what, s.median * scale, unit,
                s.min * scale, s.max * scale);
}

uint32_t RunProcess(const std::string& exe, const std::string& args) {
    std::string cmd = "\"" + exe + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// Source-like text that compresses well, then data that does not.
std::string MixedData(size_t size) {
    std::string s;
    s.reserve(size);
    const char* words[] = {"int ",  "return ", "value", " = ",   "(index + 1);\r\n", "if (",
                           "count", ") {\r\n", "    ",  "}\r\n", "std::string ",     "name"};
    uint32_t x = 12345;
    while (s.size() < size / 2) {
        x = x * 1103515245 + 12345;
        s += words[(x >> 16) % 12];
    }
    s.resize(size / 2);
    s += RandomBytes(size - s.size(), 99);
    return s;
}

} // namespace

int main() {
    const std::string exeDir = ExcludeTrailingBackslash(ExtractFilePath(ModulePath()));
    const std::string floorExe = exeDir + "\\bench_fdifloor.exe";
    const int reps = 7;
    ScratchDir work;
    const std::string temp = work / "temp", project = work / "project", setup = work / "setup.exe";
    CreateDirectoryA(temp.c_str(), nullptr);

    WriteMinimalProject(project);
    WriteFileBytes(project + "\\setup\\data.bin", MixedData(20u << 20));
    mksetup::BuildOptions o;
    o.projectDir = project;
    o.outputPath = setup;
    o.stubPath = QV_SETUPSTUB_PATH;
    mksetup::BuildReport report;
    try {
        report = mksetup::BuildSetup(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "build failed: %s\n", e.what());
        return 1;
    }
    // The same setup cabinet as a file of its own, for the floor.
    const std::string file = ReadFileBytes(setup);
    const std::string cab = work / "setup.cab";
    WriteFileBytes(cab, file.substr(file.size() - kTrailerSize - report.setupCabinetSize,
                                    report.setupCabinetSize));
    const double cabMB = report.setupCabinetSize / 1048576.0;

    std::printf("Opening a setup whose setup cabinet holds 20 MB (%.1f MB packed), %d runs\n",
                cabMB, reps);
    uint32_t setupCode = 0, floorCode = 0;
    Stats open = Measure(reps, [&] {
        TempEnvironment env(temp);
        setupCode |= RunProcess(setup, "/S");
    });
    Stats floor = Measure(reps, [&] {
        std::string dest = work / "floor";
        CreateDirectoryA(dest.c_str(), nullptr);
        floorCode |= RunProcess(floorExe, "\"" + cab + "\" \"" + dest + "\"");
        RemoveTree(dest);
    });
    if (setupCode != 0 || floorCode != 0) {
        std::fprintf(stderr, "a run failed: setup %u, floor %u\n", setupCode, floorCode);
        return 1;
    }
    Print("silent setup start to exit", open, "s", 1);
    Print("floor: FDI extraction of the same cabinet", floor, "s", 1);
    std::printf("  ratio setup/floor: %.2f\n\n", open.median / floor.median);

    std::printf("Trailer search with 64 KB after the trailer (%.1f MB file), 21 runs\n",
                (file.size() + 65536) / 1048576.0);
    WriteFileBytes(setup, file + RandomBytes(65536, 4));
    HANDLE h = CreateFileA(setup.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    LARGE_INTEGER size;
    GetFileSizeEx(h, &size);
    bool found = true;
    Stats search =
        Measure(21, [&] { found &= FindTrailer(h, static_cast<uint64_t>(size.QuadPart)).found; });
    std::vector<char> buf(65536);
    Stats read = Measure(21, [&] {
        SetFilePointer(h, 0, nullptr, FILE_BEGIN);
        DWORD got;
        while (ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) && got) {
        }
    });
    CloseHandle(h);
    if (!found) {
        std::fprintf(stderr, "trailer not found\n");
        return 1;
    }
    Print("backward trailer search", search, "ms", 1000);
    Print("floor: one sequential read of the file", read, "ms", 1000);
    std::printf("  ratio search/read: %.3f\n\n", search.median / read.median);

    HANDLE stub = CreateFileA(QV_SETUPSTUB_PATH, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER stubSize{};
    GetFileSizeEx(stub, &stubSize);
    CloseHandle(stub);
    // The target is the shipped 32-bit runtime's; a 64-bit build is only measured.
    std::printf("setupstub.exe (%d-bit build): %lld bytes (target for the 32-bit runtime: at "
                "most %u)\n",
                static_cast<int>(sizeof(void*) * 8), static_cast<long long>(stubSize.QuadPart),
                kTrailerSearchFloor);
    return 0;
}
