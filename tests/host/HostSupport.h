// Helpers of the builder's native tests: scratch folders, files with fixed times,
// test data, programs run with their output caught, and the cabinets of a setup
// file read back with zlib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A new folder below $TMPDIR (or /tmp), removed with everything in it.
class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

  private:
    std::string path_;
};

// Writes a file, creating its folders; its modification time is set to `mtime`
// (seconds since 1970, UTC).
void PutFile(const std::string& path, const std::string& bytes, int64_t mtime = 1685620800);
std::string GetFile(const std::string& path);
// Copies a folder tree, keeping modification times and permissions.
void CopyTree(const std::string& from, const std::string& to);

// Deterministic test data: bytes that do not compress, and text that does.
std::string NoiseBytes(size_t size, uint32_t seed);
std::string TextBytes(size_t size, uint32_t seed);

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};
// Runs a program with arguments (no shell), stdout and stderr caught, with extra
// environment entries "NAME=value".
RunResult RunProgram(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment = {});

// The Windows build folder to compare with, or empty.
std::string WindowsBuild();
// A Linux path as the Windows build sees it under Wine (drive Z: is "/").
std::string WinePath(const std::string& path);

// A project with payload files of every kind (text, noise, empty, read-only,
// nested folders, a name with blanks) and a setup folder, all with fixed times.
void WriteSampleProject(const std::string& dir);

// One cabinet as read back: its files' names, sizes, data, DOS date and time and
// attributes; fails the test on a bad checksum or a block that does not inflate.
struct CabFileFound {
    std::string name, data;
    uint16_t date = 0, time = 0, attributes = 0;
};
std::vector<CabFileFound> ReadCabinet(const std::string& cab);

// A setup file split into its parts and every cabinet read back.
struct SetupFound {
    uint32_t engineSize = 0;
    std::string configuration;            // qvsetup.ini
    std::vector<CabFileFound> setupFiles; // the setup cabinet, qvsetup.ini included
    std::vector<CabFileFound> payload;    // one per [Files] record, in order
};
SetupFound ReadSetup(const std::string& setupFile);
