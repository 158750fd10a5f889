// The frame of a setup file as both its reader (the runtime) and its writer (the
// builder) see it. Portable C++ only: the builder is also built for Linux.
//
//   offset 0            engine (the runtime), padded to at least kTrailerSearchFloor
//   EngineSize          one cabinet per [Files] record, back to back
//   T - S               the setup cabinet, S bytes
//   T                   trailer: "ZYX" + ten decimal digits giving S, zero-padded
//   T + 13              tail (ignored)
#pragma once

#include <cstdint>
#include <string>

namespace qvcommon {

// The trailer is searched for backwards from the end of the file, never below this
// offset, so the builder pads a smaller engine to it.
constexpr uint32_t kTrailerSearchFloor = 400000;
constexpr uint32_t kTrailerSize = 13;
constexpr char kTrailerMagic[] = "ZYX";
// The runtime keeps every offset and size of its own file in signed 32-bit integers.
constexpr uint64_t kMaxSetupFile = 0x7FFFFFFF;

// Ten ASCII decimal digits whose value fits a signed 32-bit integer.
bool ParseTrailerNumber(const char* digits, uint32_t& value);
// The 13-byte trailer for a setup cabinet of the given size.
std::string FormatTrailer(uint32_t cabSize);

} // namespace qvcommon
