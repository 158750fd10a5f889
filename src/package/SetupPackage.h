// The setup file and how start-up opens it.
//
//   offset 0            +---------------------------+
//                       | engine (this runtime)     |  EngineSize bytes ([Setup] EngineSize)
//   EngineSize          +---------------------------+
//                       | payload cabinet of [Files] 0 |  one MSZIP cabinet per installed
//                       | payload cabinet of [Files] 1 |  file, sizes in the [Files] records
//                       | ...                       |
//   T - S               +---------------------------+
//                       | setup cabinet             |  S bytes: qvsetup.ini, *qv.lng,
//                       |                           |  qvwizard.bmp, qvheader.bmp, ...
//   T (>= 400000)       +---------------------------+
//                       | "ZYX" + 10 decimal digits |  trailer: S, zero-padded
//   T + 13              +---------------------------+
//                       | tail (ignored)            |  e.g. a code signature
//                       +---------------------------+
//
// The trailer is searched for from the end of the file backwards, never below offset
// 400000, so the engine is padded to at least that size by the builder. Every number
// here comes from a file off the internet and is checked against the real file size.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct RunContext;

constexpr uint32_t kTrailerSearchFloor = 400000;
constexpr uint32_t kTrailerSize = 13;
constexpr char kTrailerMagic[] = "ZYX";

struct TrailerInfo {
    bool found = false;
    uint64_t offset = 0;  // T: where "ZYX" starts
    uint32_t cabSize = 0; // S
};

// Ten ASCII decimal digits whose value fits a signed 32-bit integer.
bool ParseTrailerNumber(const char* digits, uint32_t& value);
// Formats the 13-byte trailer for a setup cabinet of the given size.
std::string FormatTrailer(uint32_t cabSize);

// True when a file is a bitmap the system's picture loader can load: the
// file and information headers, a known pixel format, and the pixels inside the file.
// A silent run checks its pictures with this instead of loading them: it never shows
// them, and under Wine the first picture loaded connects to the display (~35 ms).
// head: the file's first bytes (at least its two headers when the file has them);
// fileSize: the whole file's size.
bool IsLoadableBitmap(const std::string& head, uint64_t fileSize);
// The most a bitmap's file and information headers take.
constexpr size_t kBitmapHeaders = 14 + 124;

// Backward search over the open file (read access) of the given size.
TrailerInfo FindTrailer(HANDLE file, uint64_t fileSize);

// <tempDir> + "\QVTMP" + three digits, each uniform over 0..9 and changing from
// run to run.
std::string DrawSetupTempDir(const std::string& tempDir);

// Copies S bytes in front of the trailer into "qvsetup.cab" inside a newly created
// setup temp folder and unpacks it there, then loads the two wizard pictures (with
// headersOnly, a run that shows no window, only checks that they could be loaded).
// Returns 0 on success, else the stage code that FailSetup must end the run with.
// ctx.SetupTempDir must already hold the folder.
uint32_t UnpackSetupPackage(RunContext& ctx, const std::string& setupFile, bool headersOnly);

// The first step of start-up: draws the setup temp folder and unpacks the package of
// ctx.SetupFile (the running program). Does not return on failure (FailSetup).
void OpenPackage(RunContext& ctx, bool headersOnly);
