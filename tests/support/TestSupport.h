// Helpers shared by the tests: a private scratch folder per test, and small file
// reading and writing functions.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

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
// Deterministic pseudo-random bytes (incompressible).
std::string RandomBytes(size_t size, uint32_t seed);
bool PathExists(const std::string& path);

// The bytes as a failure message can show them: control and non-ASCII bytes as \xNN.
std::string Escaped(const std::string& bytes);

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
// The registry view the 32-bit runtime uses unless told otherwise; a 64-bit build of
// the runtime and the tests names it explicitly.
inline constexpr REGSAM kRuntimeView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;

// Points TEMP and TMP of this process (and of the programs it starts) at a folder;
// restores the former values when it goes away.
class TempEnvironment {
  public:
    explicit TempEnvironment(const std::string& folder);
    ~TempEnvironment();

  private:
    std::string oldTemp_, oldTmp_;
    bool hadTemp_, hadTmp_;
};
