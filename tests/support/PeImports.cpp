#include "PeImports.h"

#include <cstdint>
#include <cstring>

namespace {

struct Section {
    uint32_t rva, size, fileOffset, fileSize;
};

class Image {
  public:
    explicit Image(const std::string& bytes) : b_(bytes) {}

    bool U16(size_t at, uint32_t& v) const { return Le(at, 2, v); }
    bool U32(size_t at, uint32_t& v) const { return Le(at, 4, v); }

    // The file offset of an address relative to the image base, through the sections.
    bool Offset(uint32_t rva, size_t& at) const {
        for (const Section& s : sections) {
            const uint32_t extent = s.size > s.fileSize ? s.size : s.fileSize;
            if (rva >= s.rva && rva - s.rva < extent) {
                if (rva - s.rva >= s.fileSize) return false; // not backed by the file
                at = static_cast<size_t>(s.fileOffset) + (rva - s.rva);
                return at < b_.size();
            }
        }
        return false;
    }
    // A NUL-terminated name at an address; false when it runs off the file.
    bool Name(uint32_t rva, std::string& name) const {
        size_t at;
        if (!Offset(rva, at)) return false;
        const size_t end = b_.find('\0', at);
        if (end == std::string::npos || end - at > 260) return false;
        name = b_.substr(at, end - at);
        return !name.empty();
    }

    std::vector<Section> sections;

  private:
    bool Le(size_t at, int n, uint32_t& v) const {
        if (at > b_.size() || b_.size() - at < static_cast<size_t>(n)) return false;
        v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | static_cast<uint8_t>(b_[at + i]);
        return true;
    }
    const std::string& b_;
};

PeImports Fail(const std::string& why) {
    PeImports r;
    r.error = why;
    return r;
}

} // namespace

PeImports ReadPeImports(const std::string& bytes) {
    Image img(bytes);
    uint32_t mz = 0, peAt = 0, sig = 0;
    if (!img.U16(0, mz) || mz != 0x5A4D) return Fail("no MZ header");
    if (!img.U32(0x3C, peAt) || !img.U32(peAt, sig) || sig != 0x00004550)
        return Fail("no PE signature");
    const size_t fileHeader = peAt + 4, optional = fileHeader + 20;
    uint32_t sectionCount = 0, optionalSize = 0, magic = 0;
    if (!img.U16(fileHeader + 2, sectionCount) || !img.U16(fileHeader + 16, optionalSize) ||
        !img.U16(optional, magic))
        return Fail("cut file header");
    // The data directories follow the fixed part of the optional header, which is 16
    // bytes longer in PE32+.
    size_t directories;
    if (magic == 0x10B)
        directories = optional + 96;
    else if (magic == 0x20B)
        directories = optional + 112;
    else
        return Fail("unknown optional header");
    uint32_t directoryCount = 0, imageBase = 0;
    if (!img.U32(directories - 4, directoryCount)) return Fail("cut optional header");
    // The low half of the image base: old-style delay-load tables hold addresses in
    // the loaded image, not relative ones (32-bit programs only use that style).
    if (!img.U32(optional + (magic == 0x10B ? 28 : 24), imageBase))
        return Fail("cut optional header");

    const size_t sectionTable = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const size_t at = sectionTable + 40 * static_cast<size_t>(i);
        Section s{};
        if (!img.U32(at + 8, s.size) || !img.U32(at + 12, s.rva) || !img.U32(at + 16, s.fileSize) ||
            !img.U32(at + 20, s.fileOffset))
            return Fail("cut section table");
        img.sections.push_back(s);
    }

    PeImports r;
    // Directory 1: one 20-byte descriptor per DLL (name at +12), ended by one of zeros.
    uint32_t importRva = 0, delayRva = 0;
    if (directoryCount > 1 && !img.U32(directories + 8, importRva)) return Fail("cut directories");
    if (directoryCount > 13 && !img.U32(directories + 13 * 8, delayRva))
        return Fail("cut directories");
    if (importRva) {
        size_t at;
        if (!img.Offset(importRva, at)) return Fail("import table outside the file");
        for (;; at += 20) {
            uint32_t lookup = 0, nameRva = 0, thunks = 0;
            if (!img.U32(at, lookup) || !img.U32(at + 12, nameRva) || !img.U32(at + 16, thunks))
                return Fail("cut import table");
            if (lookup == 0 && nameRva == 0 && thunks == 0) break;
            std::string name;
            if (!img.Name(nameRva, name)) return Fail("unreadable imported DLL name");
            r.imported.push_back(name);
        }
    }
    // Directory 13: one 32-byte descriptor per DLL (name at +4), ended by one of zeros.
    if (delayRva) {
        size_t at;
        if (!img.Offset(delayRva, at)) return Fail("delay-load table outside the file");
        for (;; at += 32) {
            uint32_t attributes = 0, nameRva = 0;
            if (!img.U32(at, attributes) || !img.U32(at + 4, nameRva))
                return Fail("cut delay-load table");
            if (nameRva == 0) break;
            if (!(attributes & 1)) nameRva -= imageBase;
            std::string name;
            if (!img.Name(nameRva, name)) return Fail("unreadable delay-loaded DLL name");
            r.delayLoaded.push_back(name);
        }
    }
    r.valid = true;
    return r;
}
