// Helpers shared by the tests: a private scratch folder per test, small file reading
// and writing functions, file listings and times, the environment, and names no other
// test or run uses.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The demo's complete English language file, so that tests see the real messages.
inline constexpr char kDemoLanguageFile[] = QV_SOURCE_DIR "\\examples\\demo\\setup\\Englishqv.lng";

// A fresh folder below the process's temporary folder, removed (with everything in
// it) when the object goes away.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }
    // Path() + "\" + name.
    std::string operator/(const std::string& name) const;

  private:
    std::string path_;
};

// Deletes a folder tree (read-only files included). Ignores failures.
void RemoveTree(const std::string& path);

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
// Writes data to dir\src_<name> and returns that path: a source file for a cabinet,
// named apart from whatever the test unpacks into the same folder.
std::string MakeSource(const ScratchDir& dir, const std::string& name, const std::string& data);
// Deterministic pseudo-random bytes (incompressible).
std::string RandomBytes(size_t size, uint32_t seed);
bool PathExists(const std::string& path);

// The names (files and folders, without "." and "..") that match a FindFirstFile
// pattern such as "C:\dir\*.cab", in the order the system lists them.
std::vector<std::string> ListMatching(const std::string& pattern);
// Folders in dir whose names start with prefix.
std::vector<std::string> ListFolders(const std::string& dir, const std::string& prefix);
// Names of the files (not folders) directly in dir.
std::vector<std::string> ListFiles(const std::string& dir);

// A FILETIME as one 64-bit count of 100 ns units.
uint64_t Ticks(const FILETIME& time);
// A file's last-write and creation times as counts of 100 ns units (UTC); 0 when the
// file cannot be read.
uint64_t FileWriteTime(const std::string& path);
uint64_t FileCreationTime(const std::string& path);
// Sets a file's last-write time (local time, given as y m d h m s; even seconds survive
// the cabinets' DOS time format exactly). Fails the test when it cannot.
void SetFileTimeLocal(const std::string& path, int y, int mo, int d, int h, int mi, int s);

// The folder the shell names by the CSIDL value, or "" when it has none.
std::string ShellPath(int csidl);

// The bytes as a failure message can show them: control and non-ASCII bytes as \xNN.
std::string Escaped(const std::string& bytes);

// prefix followed by this process's id, the tick count and a serial number: a key,
// variable or product name that neither another test of this process nor a test
// running beside it uses.
std::string UniqueName(const std::string& prefix);
// A new GUID as a setup's GUID key and the registry spell it,
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": a product of its own for one test, whose
// installed-programs entry no other test or earlier run can have left behind.
std::string NewGuid();

// A small generator whose sequence is fixed by its seed on every platform, for seeded
// tests that must replay the same cases.
class SeededRng {
  public:
    explicit SeededRng(uint32_t seed);
    uint32_t Next();
    size_t Below(size_t n); // 0 .. n-1 (0 when n is 0)
    size_t Between(size_t lo, size_t hi) { return lo + Below(hi - lo + 1); }
    template <class T> const T& Pick(const std::vector<T>& v) { return v[Below(v.size())]; }

  private:
    uint32_t x_;
};
// The seed named by the environment variable (decimal or 0x hexadecimal), else fallback.
uint32_t SeedFromEnvironment(const char* name, uint32_t fallback);
// Whether the system is 64-bit Windows, where the 32-bit runtime runs under WOW64
// (always so for a 64-bit build of the tests).
bool SixtyFourBitWindows();
// Whether the tests run under Wine rather than Windows.
bool UnderWine();
// The registry view the 32-bit runtime uses unless told otherwise; a 64-bit build of
// the runtime and the tests names it explicitly.
inline constexpr REGSAM kRuntimeView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;
// The installed-programs list below HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, with its
// closing backslash: kUninstallKey + guid is a product's entry. The registry ignores
// case; this is the spelling the runtime gives a per-user entry in its record and its
// messages, so that tests can compare those texts with it.
inline constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The value of an environment variable of this process; "" when it is not set.
std::string EnvironmentText(const char* name);

// Sets an environment variable of this process (and so of the programs it starts);
// puts back the former value, or removes it again, when it goes away.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const std::string& name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_, old_;
    bool had_ = false;
};

// Points TEMP and TMP of this process (and of the programs it starts) at a folder;
// restores the former values when it goes away.
class TempEnvironment {
  public:
    explicit TempEnvironment(const std::string& folder)
        : temp_("TEMP", folder), tmp_("TMP", folder) {}

  private:
    ScopedEnvironment temp_, tmp_;
};
