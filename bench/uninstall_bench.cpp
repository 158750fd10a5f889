// Removing an installed product, measured beside its floor in the same run.
//
//   bench_uninstall <work folder> <repetitions> <set>
//
// The set is a folder holding setup.exe (built by scripts/bench-install.sh with the
// uninstaller). Each repetition installs it silently (not timed), then times the silent
// removal: "Uninstall.exe /S" from its start until its temporary copy, which finishes
// the work, has ended. The floor is installed the same way and removed by a bare
// program that deletes the same files and folders from a list. Repetitions are
// interleaved, so a slow spell of the machine touches both alike.
#include "TestSupport.h"
#include "platform/FileUtil.h"

#include <windows.h>
#include <tlhelp32.h>

#include "BenchClock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
    double seconds = 0;
    DWORD exitCode = 0xFFFFFFFF;
};

std::string Quote(const std::string& s) {
    return "\"" + s + "\"";
}

// The process parent started as QVUninstall.exe, opened for waiting; null while none.
HANDLE FindCopy(DWORD parent) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return nullptr;
    PROCESSENTRY32 pe{};
    pe.dwSize = sizeof pe;
    HANDLE found = nullptr;
    for (BOOL more = Process32First(snap, &pe); more && !found; more = Process32Next(snap, &pe))
        if (pe.th32ParentProcessID == parent && _stricmp(pe.szExeFile, "QVUninstall.exe") == 0)
            found = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pe.th32ProcessID);
    CloseHandle(snap);
    return found;
}

// Starts a program and waits for it; with followCopy, also for the uninstaller's copy.
Sample Run(const std::string& exe, const std::string& args, bool followCopy) {
    Sample s;
    std::string cmd = Quote(exe) + " " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::string folder = ExcludeTrailingBackslash(ExtractFilePath(exe));
    const double start = Now();
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &si, &pi))
        return s;
    WaitForSingleObject(pi.hProcess, INFINITE);
    // The copy waits for the program to end before it deletes the program's file and
    // folder, so it is still there to be found (looking for it while the removal runs
    // would take the processor from it).
    HANDLE copy = followCopy ? FindCopy(pi.dwProcessId) : nullptr;
    if (copy) {
        WaitForSingleObject(copy, INFINITE);
        CloseHandle(copy);
    }
    s.seconds = Now() - start;
    GetExitCodeProcess(pi.hProcess, &s.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return s;
}

// Every file and folder below dir (and dir itself last), as the floor's list.
void ListTree(const std::string& dir, std::string& out, int& files, int& folders) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                ListTree(dir + "\\" + name, out, files, folders);
            } else {
                out += "F " + dir + "\\" + name + "\r\n";
                ++files;
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    out += "D " + dir + "\r\n";
    ++folders;
}

double Median(std::vector<double> t) {
    std::sort(t.begin(), t.end());
    if (t.empty()) return 0;
    return t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2;
}

void Print(const char* what, const std::vector<double>& t) {
    std::printf("  %-44s median %7.3f s (min %.3f, max %.3f)\n", what, Median(t),
                *std::min_element(t.begin(), t.end()), *std::max_element(t.begin(), t.end()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_uninstall <work folder> <repetitions> <set>\n");
        return 2;
    }
    const std::string work = argv[1];
    const int reps = std::max(1, std::atoi(argv[2]));
    const std::string set = argv[3];
    const std::string setup = set + "\\setup.exe";
    const std::string floorExe =
        ExcludeTrailingBackslash(ExtractFilePath(ModulePath())) + "\\bench_deletefloor.exe";
    const std::string scratch = work + "\\removal";
    RemoveTree(scratch);
    CreateDirectoryA(scratch.c_str(), nullptr);
    const std::string temp = scratch + "\\temp", dest = scratch + "\\dest";
    const std::string list = scratch + "\\tree.txt";
    CreateDirectoryA(temp.c_str(), nullptr);
    TempEnvironment env(temp);

    bool failed = false;
    auto install = [&] {
        RemoveTree(dest);
        const Sample s = Run(setup, "/S /D " + Quote(dest), false);
        if (s.exitCode != 0 || !FileExists(dest + "\\Uninstall.exe")) {
            std::fprintf(stderr, "  the installation failed (exit code %lu)\n", s.exitCode);
            failed = true;
        }
    };
    std::vector<double> removal, floor;
    int files = 0, folders = 0;
    for (int r = 0; r < reps && !failed; ++r) {
        install();
        if (r == 0) {
            std::string tree;
            ListTree(dest, tree, files, folders);
            WriteFileBytes(list, tree);
        }
        Sample u = Run(dest + "\\Uninstall.exe", "/S", true);
        if (u.exitCode != 0 || DirectoryExists(dest)) {
            std::fprintf(stderr, "  the removal left things behind (exit code %lu)\n", u.exitCode);
            failed = true;
        }
        removal.push_back(u.seconds);
        install();
        Sample f = Run(floorExe, Quote(list), false);
        if (f.exitCode != 0 || DirectoryExists(dest)) {
            std::fprintf(stderr, "  the floor left things behind (exit code %lu)\n", f.exitCode);
            failed = true;
        }
        floor.push_back(f.seconds);
    }
    if (failed) return 1;
    std::printf("\nremoval: %d files and %d folders (the large payload with its uninstaller and "
                "record), %d runs\n",
                files, folders, reps);
    Print("silent removal (Uninstall.exe /S, to the copy's end)", removal);
    Print("floor: DeleteFile and RemoveDirectory from a list", floor);
    std::printf("  ratio removal/floor: %.2f (target <= 1.5)\n", Median(removal) / Median(floor));
    std::printf("uninstall.exe: %llu bytes\n", static_cast<unsigned long long>([&] {
                    WIN32_FILE_ATTRIBUTE_DATA d;
                    return GetFileAttributesExA(QV_UNINSTALLER_PATH, GetFileExInfoStandard, &d)
                               ? (uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow
                               : 0;
                }()));
    RemoveTree(scratch);
    return 0;
}
