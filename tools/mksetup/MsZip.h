// MSZIP data blocks of a cabinet folder and the cabinet checksum.
//
// A folder's data is cut into blocks of at most 32 KiB. Each block is stored as "CK"
// followed by one complete deflate stream, and the reader keeps its window from one
// block to the next, so a block may refer back into the previous block's data: it
// is compressed with that data as its dictionary, which makes a folder compress
// almost as well as one continuous stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mksetup {

constexpr size_t kCabBlockSize = 32768;

class MsZipCompressor {
  public:
    // level: zlib's 1 (fast) to 9 (small).
    explicit MsZipCompressor(int level = 9);
    ~MsZipCompressor();
    MsZipCompressor(const MsZipCompressor&) = delete;
    MsZipCompressor& operator=(const MsZipCompressor&) = delete;

    // Compresses one block of 1 to kCabBlockSize bytes into out (replaced), with the
    // previous block since the last Reset as history. A block that deflate cannot
    // shrink is stored, so out is never longer than size + 7.
    void Compress(const char* data, size_t size, std::string& out);
    // The next block starts without history (a new folder, or a new cabinet that
    // must be readable without the one before).
    void Reset();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The version of the deflate library: the compressed bytes, and so a setup file
// byte for byte, are the same for the same version.
const char* DeflateLibraryVersion();

// The cabinet checksum of a data block: XOR of the little-endian 32-bit words, the
// last one to three bytes taken first-byte-highest, starting from seed. A block's
// field is the checksum of its size fields (4 bytes) seeded with that of its data.
uint32_t CabChecksum(const void* data, size_t size, uint32_t seed);

} // namespace mksetup
