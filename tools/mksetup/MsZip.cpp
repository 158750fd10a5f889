#include "MsZip.h"

#include <zlib.h>

#include <stdexcept>

namespace mksetup {

struct MsZipCompressor::State {
    z_stream z{};
    std::string history; // the previous block's data since the last Reset
    std::string buffer;
};

MsZipCompressor::MsZipCompressor(int level) : state_(std::make_unique<State>()) {
    // Raw deflate (no zlib header), full 32 KiB window: a block may reach back into
    // every byte of the one before.
    if (deflateInit2(&state_->z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("cannot start the deflate compressor");
    state_->buffer.resize(deflateBound(&state_->z, kCabBlockSize) + 64);
}

MsZipCompressor::~MsZipCompressor() {
    deflateEnd(&state_->z);
}

void MsZipCompressor::Reset() {
    state_->history.clear();
}

void MsZipCompressor::Compress(const char* data, size_t size, std::string& out) {
    State& s = *state_;
    z_stream& z = s.z;
    bool deflated = deflateReset(&z) == Z_OK;
    if (deflated && !s.history.empty())
        deflated = deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(s.history.data()),
                                        static_cast<uInt>(s.history.size())) == Z_OK;
    if (deflated) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        z.avail_in = static_cast<uInt>(size);
        z.next_out = reinterpret_cast<Bytef*>(s.buffer.data());
        z.avail_out = static_cast<uInt>(s.buffer.size());
        deflated = deflate(&z, Z_FINISH) == Z_STREAM_END;
    }
    const size_t stored = size + 5; // one stored deflate block: header byte, LEN, NLEN, data
    out.assign("CK");
    if (deflated && z.total_out < stored) {
        out.append(s.buffer.data(), z.total_out);
    } else {
        const unsigned len = static_cast<unsigned>(size);
        const char head[5] = {1, // final block, stored
                              static_cast<char>(len & 0xFF), static_cast<char>(len >> 8),
                              static_cast<char>(~len & 0xFF),
                              static_cast<char>((~len >> 8) & 0xFF)};
        out.append(head, sizeof head);
        out.append(data, size);
    }
    s.history.assign(data, size);
}

const char* DeflateLibraryVersion() {
    return zlibVersion();
}

uint32_t CabChecksum(const void* data, size_t size, uint32_t seed) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint32_t sum = seed;
    for (size_t n = size / 4; n > 0; --n, p += 4)
        sum ^= uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
               (uint32_t{p[3]} << 24);
    uint32_t last = 0;
    for (size_t n = size % 4; n > 0; --n)
        last = (last << 8) | *p++;
    return sum ^ last;
}

} // namespace mksetup
