// Installing a setup, measured beside its floor in the same run.
//
//   bench_install <work folder> <repetitions> <set>...
//
// Each set is a folder holding setup.exe (built by scripts/bench-install.sh). For a
// set with payload the figures are: the silent installation (setup.exe /S /D, a fresh
// destination each time); the floor, a program that only extracts the same payload
// cabinets with FDI; the floor again with each cabinet first copied out of the setup
// file (in 64 KB and in 2048-byte reads), and reading each cabinet in place from the
// setup file (as the runtime does); the same setup run again over what it installed (an
// update that overwrites every file); the peak working set of each process. A set
// without payload compares the setup's start to exit with the floor extracting its
// setup cabinet, and shows what starting an empty program costs with and without the
// window libraries the runtime imports. Repetitions are interleaved, so a slow spell of the machine
// touches every variant alike.
#include "TestSupport.h"
#include "package/CabSTComps.h"
#include "platform/FileUtil.h"

#include <windows.h>

#include "BenchClock.h"
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr size_t kTrailer = 13;

struct Sample {
    double seconds = 0;
    size_t peakWorkingSet = 0;
    DWORD exitCode = 0xFFFFFFFF;
};

// Starts a program and waits for it; with sampleMemory, also finds its peak working set.
Sample RunProcess(const std::string& exe, const std::string& args, bool sampleMemory = false) {
    Sample s;
    std::string cmd = "\"" + exe + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    double start = Now();
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return s;
    // Wine reports the counters of a process only while it runs, so the peak is
    // sampled while waiting (a run that is timed is not sampled: the samples would
    // take the processor from the program measured).
    for (;;) {
        DWORD w = WaitForSingleObject(pi.hProcess, sampleMemory ? 2 : INFINITE);
        if (w != WAIT_TIMEOUT) break;
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc))
            s.peakWorkingSet = std::max<size_t>(s.peakWorkingSet, pmc.PeakWorkingSetSize);
    }
    s.seconds = Now() - start;
    GetExitCodeProcess(pi.hProcess, &s.exitCode);
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc))
        s.peakWorkingSet = std::max<size_t>(s.peakWorkingSet, pmc.PeakWorkingSetSize);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return s;
}

struct Stats {
    double median = 0, min = 0, max = 0;
    size_t peak = 0; // peak working set of one run; 0 when not measured
};

Stats Summarise(const std::vector<Sample>& samples) {
    std::vector<double> t;
    Stats st;
    for (const Sample& s : samples)
        t.push_back(s.seconds);
    std::sort(t.begin(), t.end());
    if (t.empty()) return st;
    st.median = t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2;
    st.min = t.front();
    st.max = t.back();
    return st;
}

void Print(const char* what, const Stats& s, double megabytes) {
    std::printf("  %-40s median %7.3f s (min %.3f, max %.3f)", what, s.median, s.min, s.max);
    if (megabytes > 0) std::printf("  %6.1f MB/s", megabytes / s.median);
    if (s.peak) std::printf("  peak WS %6.1f MB", s.peak / 1048576.0);
    std::printf("\n");
}

// Bytes and number of files below a folder.
void CountTree(const std::string& dir, uint64_t& bytes, int& files) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CountTree(dir + "\\" + name, bytes, files);
        } else {
            bytes += (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
            ++files;
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

std::string ReadIni(const std::string& ini, const char* section, const std::string& key) {
    char buf[4096];
    GetPrivateProfileStringA(section, key.c_str(), "", buf, sizeof buf, ini.c_str());
    return buf;
}

// What the benchmark needs to know of a setup file: its setup cabinet and payload
// cabinets cut out as files of their own, and where the cabinets lie.
struct SetupLayout {
    std::string setupCab;  // the setup cabinet, as a file
    std::string cabList;   // one cabinet file a line
    std::string rangeList; // "<offset> <size>" of each cabinet in the setup file
    int cabinets = 0;
    uint64_t cabinetBytes = 0;
};

bool CutSetup(const std::string& setup, const std::string& work, SetupLayout& out) {
    const std::string file = ReadFileBytes(setup);
    if (file.size() < kTrailer || file.compare(file.size() - kTrailer, 3, "ZYX") != 0) {
        std::fprintf(stderr, "%s: no trailer at the end\n", setup.c_str());
        return false;
    }
    const size_t s = std::strtoul(file.substr(file.size() - 10).c_str(), nullptr, 10);
    out.setupCab = work + "\\setup.cab";
    WriteFileBytes(out.setupCab, file.substr(file.size() - kTrailer - s, s));
    const std::string unpacked = work + "\\setupcab";
    CreateDirectoryA(unpacked.c_str(), nullptr);
    try {
        TSTCabReader reader;
        reader.ExtractFiles(out.setupCab, unpacked);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: setup cabinet: %s\n", setup.c_str(), e.what());
        return false;
    }
    const std::string ini = unpacked + "\\qvsetup.ini";
    uint64_t offset = std::strtoull(ReadIni(ini, "Setup", "EngineSize").c_str(), nullptr, 10);
    const int total = std::atoi(ReadIni(ini, "Setup", "TotalFiles").c_str());
    out.cabList = work + "\\cabinets.txt";
    out.rangeList = work + "\\ranges.txt";
    std::ofstream cabs(out.cabList), ranges(out.rangeList);
    for (int i = 0; i < total; ++i) {
        const std::string rec = ReadIni(ini, "Files", std::to_string(i));
        size_t a = rec.find('?'), b = rec.find('?', a + 1);
        if (rec.empty() || a == std::string::npos || b == std::string::npos) continue;
        const uint64_t size = std::strtoull(rec.substr(a + 1, b - a - 1).c_str(), nullptr, 10);
        if (size == 0) continue;
        char name[32];
        std::snprintf(name, sizeof name, "\\cab%04d.cab", i);
        WriteFileBytes(work + name, file.substr(offset, size));
        cabs << work + name << "\n";
        ranges << offset << " " << size << "\n";
        offset += size;
        ++out.cabinets;
        out.cabinetBytes += size;
    }
    return true;
}

std::string Quote(const std::string& s) {
    return "\"" + s + "\"";
}

uint64_t GetFileSizeOr0(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) return 0;
    return (uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_install <work folder> <repetitions> <set>...\n");
        return 2;
    }
    const std::string work = argv[1];
    const int reps = std::max(1, std::atoi(argv[2]));
    const std::string exeDir = ExcludeTrailingBackslash(ExtractFilePath(ModulePath()));
    const std::string floorExe = exeDir + "\\bench_fdifloor.exe";
    const std::string plainExe = exeDir + "\\bench_start_plain.exe";
    const std::string guiExe = exeDir + "\\bench_start_gui.exe";
    bool failed = false;
    auto check = [&](const Sample& s, const char* what) {
        if (s.exitCode != 0) {
            std::fprintf(stderr, "  %s ended with exit code %lu\n", what, s.exitCode);
            failed = true;
        }
        return s;
    };

    std::map<std::string, Stats> setupStats;
    std::map<std::string, double> floorMedians;
    for (int a = 3; a < argc; ++a) {
        const std::string set = argv[a];
        const std::string name = ExtractFileName(set);
        const std::string setup = set + "\\setup.exe";
        const std::string scratch = work + "\\" + name;
        RemoveTree(scratch);
        CreateDirectoryA(scratch.c_str(), nullptr);
        SetupLayout layout;
        if (!CutSetup(setup, scratch, layout)) return 1;
        const std::string temp = scratch + "\\temp", dest = scratch + "\\dest";
        auto fresh = [&](const std::string& dir) {
            RemoveTree(dir);
            CreateDirectoryA(dir.c_str(), nullptr);
        };

        std::vector<Sample> install, update, floor, copy64k, copy2k, inPlace, plainStart, guiStart;
        uint64_t installedBytes = 0, floorBytes = 0;
        int installedFiles = 0, floorFiles = 0;
        for (int r = 0; r < reps; ++r) {
            fresh(temp);
            RemoveTree(dest);
            {
                TempEnvironment env(temp);
                install.push_back(check(RunProcess(setup, "/S /D " + Quote(dest)), "setup"));
            }
            if (r == 0) CountTree(dest, installedBytes, installedFiles);
            if (layout.cabinets > 0) {
                // The same setup again over what it installed: every file is overwritten.
                TempEnvironment env(temp);
                update.push_back(check(RunProcess(setup, "/S /D " + Quote(dest)), "update"));
            }
            fresh(dest);
            if (layout.cabinets == 0) {
                floor.push_back(check(
                    RunProcess(floorExe, Quote(layout.setupCab) + " " + Quote(dest)), "floor"));
                plainStart.push_back(check(RunProcess(plainExe, ""), "empty program"));
                guiStart.push_back(check(RunProcess(guiExe, ""), "empty program"));
                continue;
            }
            floor.push_back(
                check(RunProcess(floorExe, "--list " + Quote(layout.cabList) + " " + Quote(dest)),
                      "floor"));
            if (r == 0) CountTree(dest, floorBytes, floorFiles);
            fresh(dest);
            inPlace.push_back(
                check(RunProcess(floorExe, "--range " + Quote(setup) + " " +
                                               Quote(layout.rangeList) + " " + Quote(dest)),
                      "in-place floor"));
            for (auto [block, samples] : {std::pair{65536, &copy64k}, std::pair{2048, &copy2k}}) {
                fresh(dest);
                samples->push_back(check(
                    RunProcess(floorExe, "--copy " + std::to_string(block) + " " + Quote(setup) +
                                             " " + Quote(layout.rangeList) + " " + Quote(dest)),
                    "copy floor"));
            }
        }
        // One more run of each, untimed, for the peak working set.
        fresh(temp);
        RemoveTree(dest);
        size_t setupPeak, floorPeak;
        {
            TempEnvironment env(temp);
            setupPeak =
                check(RunProcess(setup, "/S /D " + Quote(dest), true), "setup").peakWorkingSet;
        }
        // And one with the runtime's own profile of the placement.
        std::string profile;
        if (layout.cabinets > 0) {
            fresh(temp);
            RemoveTree(dest);
            TempEnvironment env(temp);
            SetEnvironmentVariableA("QV_PROFILE", "1");
            Sample p = check(RunProcess(setup, "/S /D " + Quote(dest)), "setup");
            SetEnvironmentVariableA("QV_PROFILE", nullptr);
            char total[32];
            std::snprintf(total, sizeof total, " process %.4f", p.seconds);
            profile = ReadFileBytes(temp + "\\qvprofile.txt");
            while (!profile.empty() && (profile.back() == '\n' || profile.back() == '\r'))
                profile.pop_back();
            profile += total;
        }
        fresh(dest);
        floorPeak = check(RunProcess(floorExe,
                                     layout.cabinets == 0
                                         ? Quote(layout.setupCab) + " " + Quote(dest)
                                         : "--list " + Quote(layout.cabList) + " " + Quote(dest),
                                     true),
                          "floor")
                        .peakWorkingSet;
        RemoveTree(dest);
        RemoveTree(temp);

        if (layout.cabinets == 0) {
            std::printf("\n%s: a setup with no payload (setup cabinet %.1f KB), %d runs\n",
                        name.c_str(), GetFileSizeOr0(layout.setupCab) / 1024.0, reps);
            Stats s = Summarise(install), f = Summarise(floor);
            s.peak = setupPeak;
            f.peak = floorPeak;
            Print("silent setup, start to exit", s, 0);
            Print("floor: FDI of the setup cabinet", f, 0);
            Print("an empty program (C runtime only)", Summarise(plainStart), 0);
            Print("an empty program with the runtime's DLLs", Summarise(guiStart), 0);
            std::printf("  ratio setup/floor: %.2f\n", s.median / f.median);
            setupStats[name] = s;
            floorMedians[name] = f.median;
            continue;
        }
        const double mb = floorBytes / 1048576.0;
        std::printf("\n%s: %d files, %.1f MB in %d cabinets of %.1f MB, %d runs\n", name.c_str(),
                    floorFiles, mb, layout.cabinets, layout.cabinetBytes / 1048576.0, reps);
        if (installedBytes != floorBytes || installedFiles != floorFiles) {
            std::fprintf(stderr, "  the setup installed %d files, %llu bytes; expected %d, %llu\n",
                         installedFiles, static_cast<unsigned long long>(installedBytes),
                         floorFiles, static_cast<unsigned long long>(floorBytes));
            failed = true;
        }
        Stats s = Summarise(install), f = Summarise(floor), c64 = Summarise(copy64k),
              c2 = Summarise(copy2k), ip = Summarise(inPlace);
        s.peak = setupPeak;
        f.peak = floorPeak;
        Print("silent install (setup /S /D)", s, mb);
        Print("silent update, every file overwritten", Summarise(update), mb);
        Print("floor: FDI of the cabinet files", f, mb);
        Print("floor + copy out in 64 KB reads", c64, mb);
        Print("floor + copy out in 2048-byte reads", c2, mb);
        Print("floor reading in place (64 KB window)", ip, mb);
        std::printf("  ratio install/floor: %.3f (install/in-place floor: %.3f)\n",
                    s.median / f.median, s.median / ip.median);
        std::printf("  runtime profile (QV_PROFILE=1, one run, seconds): %s\n", profile.c_str());
        std::printf("  split of the install: extracting in place %.3f s, the rest %.3f s\n",
                    ip.median, s.median - ip.median);
        setupStats[name] = s;
        floorMedians[name] = f.median;
    }

    if (setupStats.count("small") && setupStats.count("large")) {
        const double d =
            (double(setupStats["large"].peak) - double(setupStats["small"].peak)) / 1048576.0;
        std::printf("\npeak working set of the setup: small %.2f MB, large %.2f MB, "
                    "difference %+.2f MB\n",
                    setupStats["small"].peak / 1048576.0, setupStats["large"].peak / 1048576.0, d);
    }
    std::printf("setupstub.exe: %llu bytes\n",
                static_cast<unsigned long long>(GetFileSizeOr0(QV_SETUPSTUB_PATH)));
    std::printf("\ntargets: install/floor (large) <= 1.15; peak working set difference <= 1 MB;\n"
                "empty setup/floor <= 1.5; setupstub.exe <= 400000 bytes\n");
    return failed ? 1 : 0;
}
