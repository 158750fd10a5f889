#include "package/SetupPackage.h"

#include "package/CabSTComps.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Security.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Reads are done in large blocks: one system call per probe would make a search
// over a signed file's appended bytes cost one call per byte.
constexpr size_t kBlock = 64 * 1024;

bool ReadAt(HANDLE file, uint64_t offset, void* buf, size_t len) {
    LARGE_INTEGER pos;
    pos.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, pos, nullptr, FILE_BEGIN)) return false;
    char* p = static_cast<char*>(buf);
    while (len > 0) {
        DWORD got = 0;
        if (!ReadFile(file, p, static_cast<DWORD>(len), &got, nullptr) || got == 0) return false;
        p += got;
        len -= got;
    }
    return true;
}

struct HandleCloser {
    HANDLE h;
    ~HandleCloser() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

uint32_t NextRandom(uint32_t& state) {
    // xorshift32: plenty for picking a folder name, and tiny.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Copies exactly count bytes from the setup file's current position into out.
bool CopyBytes(HANDLE in, HANDLE out, uint32_t count) {
    std::vector<char> buf(kBlock);
    while (count > 0) {
        DWORD want = count < kBlock ? count : static_cast<DWORD>(kBlock);
        DWORD got = 0, put = 0;
        if (!ReadFile(in, buf.data(), want, &got, nullptr) || got != want) return false;
        if (!WriteFile(out, buf.data(), got, &put, nullptr) || put != got) return false;
        count -= got;
    }
    return true;
}

HBITMAP LoadPicture(const std::string& path) {
    return static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0,
                                           LR_LOADFROMFILE | LR_CREATEDIBSECTION));
}

// Only the headers are read: the pixels' size is checked against the file's size.
bool IsLoadableBitmapFile(const std::string& path) {
    HandleCloser f{CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (f.h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(f.h, &size)) return false;
    std::string head(kBitmapHeaders, '\0');
    DWORD got = 0;
    if (!ReadFile(f.h, head.data(), static_cast<DWORD>(head.size()), &got, nullptr)) return false;
    head.resize(got);
    return IsLoadableBitmap(head, static_cast<uint64_t>(size.QuadPart));
}

uint32_t Le(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}

} // namespace

bool IsLoadableBitmap(const std::string& b, uint64_t fileSize) {
    constexpr size_t kFileHeader = 14;
    if (b.size() < kFileHeader + 12 || b[0] != 'B' || b[1] != 'M') return false;
    const uint64_t bitsAt = Le(b, 10, 4);
    const uint32_t infoSize = Le(b, 14, 4);
    int64_t width, height;
    uint32_t planes, bpp, compression = 0, imageSize = 0;
    if (infoSize == 12) { // the old core header
        width = Le(b, 18, 2);
        height = Le(b, 20, 2);
        planes = Le(b, 22, 2);
        bpp = Le(b, 24, 2);
    } else if (infoSize >= 40 && infoSize <= 124 && b.size() >= kFileHeader + infoSize) {
        width = static_cast<int32_t>(Le(b, 18, 4));
        height = static_cast<int32_t>(Le(b, 22, 4));
        planes = Le(b, 26, 2);
        bpp = Le(b, 28, 2);
        compression = Le(b, 30, 4);
        imageSize = Le(b, 34, 4);
    } else {
        return false;
    }
    if (height < 0) height = -height; // top-down rows
    if (width <= 0 || height <= 0 || planes != 1) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    if (bitsAt < kFileHeader + infoSize || bitsAt > fileSize) return false;
    const uint64_t available = fileSize - bitsAt;
    switch (compression) {
    case BI_RGB:
    case BI_BITFIELDS: {
        if (compression == BI_BITFIELDS && bpp != 16 && bpp != 32) return false;
        const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
        return stride <= available / static_cast<uint64_t>(height);
    }
    case BI_RLE8:
    case BI_RLE4:
        if (bpp != (compression == BI_RLE8 ? 8u : 4u)) return false;
        return imageSize > 0 && imageSize <= available;
    default:
        return false;
    }
}

bool ParseTrailerNumber(const char* digits, uint32_t& value) {
    uint64_t v = 0;
    for (int i = 0; i < 10; ++i) {
        if (digits[i] < '0' || digits[i] > '9') return false;
        v = v * 10 + static_cast<uint64_t>(digits[i] - '0');
    }
    if (v > 0x7FFFFFFF) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

std::string FormatTrailer(uint32_t cabSize) {
    return "ZYX" + DecimalText(cabSize, 10);
}

TrailerInfo FindTrailer(HANDLE file, uint64_t fileSize) {
    TrailerInfo info;
    if (fileSize < uint64_t{kTrailerSearchFloor} + kTrailerSize) return info;
    std::vector<char> buf(kBlock + kTrailerSize);
    uint64_t top = fileSize - kTrailerSize; // highest candidate offset of this block
    for (;;) {
        uint64_t low =
            top - kTrailerSearchFloor >= kBlock - 1 ? top - (kBlock - 1) : kTrailerSearchFloor;
        size_t len = static_cast<size_t>(top - low) + kTrailerSize;
        if (!ReadAt(file, low, buf.data(), len)) return info;
        for (uint64_t p = top + 1; p-- > low;) {
            const char* at = buf.data() + (p - low);
            uint32_t value;
            if (std::memcmp(at, kTrailerMagic, 3) == 0 && ParseTrailerNumber(at + 3, value)) {
                info.found = true;
                info.offset = p;
                info.cabSize = value;
                return info;
            }
        }
        if (low == kTrailerSearchFloor) return info;
        top = low - 1;
    }
}

std::string DrawSetupTempDir(const std::string& tempDir) {
    LARGE_INTEGER qpc;
    QueryPerformanceCounter(&qpc);
    uint32_t state = GetTickCount() ^ static_cast<uint32_t>(qpc.QuadPart) ^
                     (GetCurrentProcessId() << 16) ^ static_cast<uint32_t>(qpc.QuadPart >> 32);
    if (state == 0) state = 0x9E3779B9;
    std::string name = "\\QVTMP";
    for (int i = 0; i < 3; ++i) {
        uint32_t r;
        // Rejection keeps each digit exactly uniform over 0..9.
        do
            r = NextRandom(state);
        while (r >= 4294967290u);
        name += static_cast<char>('0' + r % 10);
    }
    return tempDir + name;
}

uint32_t UnpackSetupPackage(RunContext& ctx, const std::string& setupFile, bool headersOnly) {
    HandleCloser file{CreateFileA(setupFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) return kExitAbort;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.h, &size)) return kExitAbort;

    TrailerInfo trailer = FindTrailer(file.h, static_cast<uint64_t>(size.QuadPart));
    // A size of 1 cannot be told from "no trailer"; a size of 0 would end a corrupt
    // setup with exit code 0, which reads as success, so it is treated alike.
    if (!trailer.found || trailer.cabSize <= 1) return kExitAbort;
    const uint32_t S = trailer.cabSize;

    if (S > trailer.offset) return S;
    const std::string dir = ctx.SetupTempDir;
    // Private when elevated: the files unpacked here are later read and run with the
    // elevated rights, and the user's temporary folder is open to all the user's programs.
    if (!CreateWorkFolder(dir)) return S;
    ctx.SetupTempDirCreated = true;
    const std::string cab = dir + "\\qvsetup.cab";
    {
        HandleCloser out{CreateFileA(cab.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (out.h == INVALID_HANDLE_VALUE) return S;
        LARGE_INTEGER pos;
        pos.QuadPart = static_cast<LONGLONG>(trailer.offset - S);
        if (!SetFilePointerEx(file.h, pos, nullptr, FILE_BEGIN)) return S;
        if (!CopyBytes(file.h, out.h, S)) return S;
    }

    ProcessMessages();
    try {
        TSTCabReader reader;
        reader.ExtractFiles(cab, dir);
    } catch (const std::exception&) {
        return S;
    }

    ProcessMessages();
    const std::string wizard = dir + "\\qvwizard.bmp", header = dir + "\\qvheader.bmp";
    if (headersOnly) {
        if (!IsLoadableBitmapFile(wizard) || !IsLoadableBitmapFile(header)) return kExitPicture;
    } else {
        ctx.WizardPicture = LoadPicture(wizard);
        ctx.HeaderPicture = LoadPicture(header);
        if (!ctx.WizardPicture || !ctx.HeaderPicture) return kExitPicture;
    }
    return 0;
}

void OpenPackage(RunContext& ctx, bool headersOnly) {
    ctx.SetupTempDir = DrawSetupTempDir(TempDir());
    uint32_t code = UnpackSetupPackage(ctx, ctx.SetupFile, headersOnly);
    if (code != 0) FailSetup(ctx, code);
}
