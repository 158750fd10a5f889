// The newer-file comparison (versions, else times), file dates, and the release of a
// library before it is replaced, with the containment of faults inside it.
#include "TestSupport.h"
#include "engine/FilePlacement.h"
#include "platform/ContainedCall.h"
#include "sysinfo/SystemInfo.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void SetWriteTime(const std::string& path, int year) {
    SetFileTimeLocal(path, year, 5, 6, 12, 0, 0);
}

std::array<uint32_t, 4> Parts(const std::string& v) {
    std::array<uint32_t, 4> p{};
    std::sscanf(v.c_str(), "%u.%u.%u.%u", &p[0], &p[1], &p[2], &p[3]);
    return p;
}

// Two system libraries whose versions differ so that the first differing part says
// "higher" while a later part says "lower": only a comparison from the first part
// gets them right. Copied under a neutral extension so nothing loads them.
struct VersionPair {
    std::string higher, lower;
};

bool FindVersionPair(const ScratchDir& dir, VersionPair& pair) {
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    std::vector<std::string> paths, versions;
    for (const char* name :
         {"kernel32.dll", "advapi32.dll", "user32.dll", "ole32.dll", "gdi32.dll", "shell32.dll",
          "comctl32.dll", "oleaut32.dll", "shlwapi.dll", "urlmon.dll", "msvcrt.dll", "wininet.dll",
          "cabinet.dll", "version.dll", "comdlg32.dll"}) {
        std::string p = std::string(sys) + "\\" + name;
        std::string v = TOSInfo::FileVersionText(p);
        if (!v.empty()) {
            paths.push_back(p);
            versions.push_back(v);
        }
    }
    for (size_t a = 0; a < paths.size(); ++a)
        for (size_t b = 0; b < paths.size(); ++b) {
            auto x = Parts(versions[a]), y = Parts(versions[b]);
            size_t k = 0;
            while (k < 4 && x[k] == y[k])
                ++k;
            if (k >= 3 || x[k] <= y[k]) continue;
            bool laterLower = false;
            for (size_t m = k + 1; m < 4; ++m)
                laterLower |= x[m] < y[m];
            if (!laterLower) continue;
            pair.higher = dir / "higher.bin";
            pair.lower = dir / "lower.bin";
            return CopyFileA(paths[a].c_str(), pair.higher.c_str(), FALSE) &&
                   CopyFileA(paths[b].c_str(), pair.lower.c_str(), FALSE);
        }
    return false;
}

TEST(IsNewerFile, VersionsDecideBeforeTimes) {
    ScratchDir dir;
    VersionPair pair;
    if (!FindVersionPair(dir, pair)) GTEST_SKIP() << "no two suitable versioned libraries";
    // The higher version carries the older date.
    SetWriteTime(pair.higher, 2001);
    SetWriteTime(pair.lower, 2020);
    EXPECT_TRUE(IsNewerFile(pair.higher, pair.lower));
    EXPECT_FALSE(IsNewerFile(pair.lower, pair.higher));
}

TEST(IsNewerFile, EqualVersionsAreNotNewerWhateverTheTimes) {
    ScratchDir dir;
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    const std::string source = std::string(sys) + "\\kernel32.dll";
    ASSERT_FALSE(TOSInfo::FileVersionText(source).empty());
    ASSERT_TRUE(CopyFileA(source.c_str(), (dir / "new.bin").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(source.c_str(), (dir / "old.bin").c_str(), FALSE));
    SetWriteTime(dir / "new.bin", 2020);
    SetWriteTime(dir / "old.bin", 2001);
    EXPECT_FALSE(IsNewerFile(dir / "new.bin", dir / "old.bin"));
}

TEST(IsNewerFile, WithoutTwoVersionsTheTimesDecide) {
    ScratchDir dir;
    WriteFileBytes(dir / "a.txt", "a");
    WriteFileBytes(dir / "b.txt", "b");
    SetWriteTime(dir / "a.txt", 2010);
    SetWriteTime(dir / "b.txt", 2005);
    EXPECT_TRUE(IsNewerFile(dir / "a.txt", dir / "b.txt"));
    EXPECT_FALSE(IsNewerFile(dir / "b.txt", dir / "a.txt"));
    SetWriteTime(dir / "b.txt", 2010);
    EXPECT_FALSE(IsNewerFile(dir / "a.txt", dir / "b.txt")); // equal times: not newer

    // A versioned file against one without a version: still by time.
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    ASSERT_TRUE(
        CopyFileA((std::string(sys) + "\\kernel32.dll").c_str(), (dir / "v.bin").c_str(), FALSE));
    SetWriteTime(dir / "v.bin", 2001);
    EXPECT_FALSE(IsNewerFile(dir / "v.bin", dir / "a.txt"));
    EXPECT_TRUE(IsNewerFile(dir / "a.txt", dir / "v.bin"));

    // A missing existing file has no date: anything is newer; a missing new file is not.
    EXPECT_TRUE(IsNewerFile(dir / "a.txt", dir / "missing.txt"));
    EXPECT_FALSE(IsNewerFile(dir / "missing.txt", dir / "a.txt"));
}

TEST(GetFileDate, LocalLastWriteTimeOrZero) {
    ScratchDir dir;
    WriteFileBytes(dir / "f.txt", "x");
    SetWriteTime(dir / "f.txt", 2012);
    WIN32_FILE_ATTRIBUTE_DATA d{};
    ASSERT_TRUE(GetFileAttributesExA((dir / "f.txt").c_str(), GetFileExInfoStandard, &d));
    FILETIME local;
    FileTimeToLocalFileTime(&d.ftLastWriteTime, &local);
    EXPECT_EQ(Ticks(GetFileDate(dir / "f.txt")), Ticks(local));
    SYSTEMTIME st;
    FileTimeToSystemTime(&local, &st);
    EXPECT_EQ(st.wYear, 2012);
    EXPECT_EQ(Ticks(GetFileDate(dir / "missing.txt")), 0u);
    EXPECT_EQ(Ticks(GetFileDate(dir.Path())), 0u); // a folder is no file
}

// ---- containment of faults inside foreign code ----

void Fine(void* arg) {
    ++*static_cast<int*>(arg);
}

void Faulting(void* arg) {
    volatile int* volatile bad = reinterpret_cast<int*>(static_cast<char*>(arg) - 1);
    *bad = 42; // arg is a small number: this writes near address zero
}

void Raising(void*) {
    RaiseException(0xE0001234, 0, 0, nullptr);
}

void NestedFault(void* arg) {
    *static_cast<bool*>(arg) = CallContained(&Faulting, reinterpret_cast<void*>(16));
}

TEST(CallContained, NormalReturnAndContainedFaults) {
    int counter = 0;
    EXPECT_TRUE(CallContained(&Fine, &counter));
    EXPECT_EQ(counter, 1);
    EXPECT_FALSE(CallContained(&Faulting, reinterpret_cast<void*>(16)));
    EXPECT_FALSE(CallContained(&Raising, nullptr));
    // The inner guard contains the fault; the outer call returns normally.
    bool inner = true;
    EXPECT_TRUE(CallContained(&NestedFault, &inner));
    EXPECT_FALSE(inner);
    // Exception handling of our own code still works afterwards.
    bool caught = false;
    try {
        throw std::runtime_error("after");
    } catch (const std::runtime_error&) {
        caught = true;
    }
    EXPECT_TRUE(caught);
    EXPECT_TRUE(CallContained(&Fine, &counter));
    EXPECT_EQ(counter, 2);
}

void Throwing(void*) {
    throw 7;
}

// A C++ exception that leaves a guarded call passes through unchanged and takes the
// guard with it: a later fault outside any guard is the process's end, not a jump back
// into the stack frame of a call that is long gone.
TEST(CallContainedDeathTest, ACppExceptionPassesThroughAndLeavesNoGuardBehind) {
    EXPECT_EXIT(
        {
            int caught = 0;
            try {
                CallContained(&Throwing, nullptr);
            } catch (int value) {
                caught = value;
            }
            if (caught != 7) ExitProcess(1);
            RaiseException(0xE0004321, EXCEPTION_NONCONTINUABLE, 0, nullptr);
            ExitProcess(2);
        },
        testing::ExitedWithCode(static_cast<int>(0xE0004321)), "");
}

TEST(UnregisterLibrary, MissingOrUnloadableFilesAreIgnored) {
    ScratchDir dir;
    UnregisterLibrary(dir / "missing.dll");
    WriteFileBytes(dir / "notalibrary.dll", "MZ but nothing else");
    UnregisterLibrary(dir / "notalibrary.dll");
    // Not held open: the file can be replaced right after.
    EXPECT_TRUE(DeleteFileA((dir / "notalibrary.dll").c_str()));
}

} // namespace
