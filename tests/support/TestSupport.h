// Helpers shared by the tests: a private scratch folder per test, and small file
// reading and writing functions.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

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
