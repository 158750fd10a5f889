// The floor for unpacking: the least a program can do to extract cabinets with the
// system's FDI, and the same with the cabinets first copied out of one file.
//
//   bench_fdifloor <cabinet> <destination folder>
//       extracts one cabinet.
//   bench_fdifloor --list <list file> <destination folder>
//       extracts every cabinet named in the list (one path a line), in order.
//   bench_fdifloor --copy <block bytes> <source file> <list file> <destination folder>
//       for each "<offset> <size>" line: copies the range of the source file into
//       <destination>\qvfile.dat with reads and writes of the given size, then
//       extracts that file. This is the least a program can do that copies each
//       cabinet out of a setup file before extracting it.
//   bench_fdifloor --range <source file> <list file> <destination folder>
//       for each "<offset> <size>" line: extracts the cabinet in place, FDI reading
//       the range of the source file through its callbacks (as the runtime does).
#include <windows.h>

#include <fcntl.h>
#include <fdi.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {
std::string g_dest;

// The range served to FDI in --range mode: opening "range.cab" gives a handle whose
// reads come from [offset, offset + size) of the source file.
struct Range {
    HANDLE file = INVALID_HANDLE_VALUE;
    long long offset = 0;
    DWORD size = 0, pos = 0;
} g_range;
constexpr INT_PTR kRangeHandle = 0x7FFF0001;

FNALLOC(Alloc) {
    return HeapAlloc(GetProcessHeap(), 0, cb);
}
FNFREE(Free) {
    HeapFree(GetProcessHeap(), 0, pv);
}
FNOPEN(Open) {
    if (g_range.file != INVALID_HANDLE_VALUE &&
        std::string(pszFile).find("range.cab") != std::string::npos) {
        g_range.pos = 0;
        return kRangeHandle;
    }
    DWORD access = (oflag & 3) == 0 ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD disp = (oflag & _O_CREAT) ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE h = CreateFileA(pszFile, access, FILE_SHARE_READ, nullptr, disp,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    (void)pmode;
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(h);
}
FNREAD(Read) {
    if (hf == kRangeHandle) {
        // Served from a 64 KB window of the source file: FDI reads headers of a few
        // bytes between its data blocks, and a system call for each costs more than
        // the copy from the window.
        static std::vector<char> window(65536);
        static long long windowAt = -1;
        static DWORD windowLen = 0;
        const DWORD want =
            g_range.pos < g_range.size ? std::min<DWORD>(cb, g_range.size - g_range.pos) : 0;
        DWORD n = 0;
        while (n < want) {
            const long long at = g_range.offset + g_range.pos + n;
            if (windowAt < 0 || at < windowAt || at >= windowAt + windowLen) {
                LARGE_INTEGER p;
                p.QuadPart = at;
                windowLen = 0;
                if (!SetFilePointerEx(g_range.file, p, nullptr, FILE_BEGIN) ||
                    !ReadFile(g_range.file, window.data(), 65536, &windowLen, nullptr))
                    return UINT(-1);
                if (windowLen == 0) break;
                windowAt = at;
            }
            const DWORD k =
                std::min<DWORD>(want - n, static_cast<DWORD>(windowAt + windowLen - at));
            std::memcpy(static_cast<char*>(pv) + n, window.data() + (at - windowAt), k);
            n += k;
        }
        g_range.pos += n;
        return n;
    }
    DWORD n = 0;
    return ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &n, nullptr) ? n : UINT(-1);
}
FNWRITE(Write) {
    DWORD n = 0;
    return WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &n, nullptr) ? n : UINT(-1);
}
FNCLOSE(Close) {
    if (hf == kRangeHandle) return 0;
    return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1;
}
FNSEEK(Seek) {
    if (hf == kRangeHandle) {
        long long base = seektype == SEEK_CUR   ? g_range.pos
                         : seektype == SEEK_END ? g_range.size
                                                : 0;
        g_range.pos = static_cast<DWORD>(base + dist);
        return static_cast<long>(g_range.pos);
    }
    return SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, seektype);
}

FNFDINOTIFY(Notify) {
    switch (fdint) {
    case fdintCOPY_FILE:
        return Open(const_cast<char*>((g_dest + "\\" + pfdin->psz1).c_str()), _O_WRONLY | _O_CREAT,
                    0);
    case fdintCLOSE_FILE_INFO:
        Close(pfdin->hf);
        return TRUE;
    default:
        return 0;
    }
}

bool ExtractOne(HFDI fdi, const std::string& cab) {
    size_t slash = cab.find_last_of('\\');
    std::string name = cab.substr(slash + 1), path = cab.substr(0, slash + 1);
    return FDICopy(fdi, name.data(), path.data(), 0, Notify, nullptr, nullptr) != FALSE;
}

bool CopyRange(HANDLE src, long long offset, DWORD size, const std::string& to,
               std::vector<char>& buf) {
    HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER pos;
    pos.QuadPart = offset;
    bool ok = SetFilePointerEx(src, pos, nullptr, FILE_BEGIN) != FALSE;
    DWORD left = size;
    while (ok && left > 0) {
        DWORD want = left < buf.size() ? left : static_cast<DWORD>(buf.size()), got = 0, put = 0;
        ok = ReadFile(src, buf.data(), want, &got, nullptr) && got == want &&
             WriteFile(out, buf.data(), got, &put, nullptr) && put == got;
        left -= got;
    }
    CloseHandle(out);
    return ok;
}
} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ERF erf{};
    HFDI fdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
    if (!fdi) return 1;
    bool ok = true;
    if (args.size() == 2) {
        g_dest = args[1];
        ok = ExtractOne(fdi, args[0]);
    } else if (args.size() == 3 && args[0] == "--list") {
        g_dest = args[2];
        std::ifstream list(args[1]);
        for (std::string line; ok && std::getline(list, line);)
            if (!line.empty()) ok = ExtractOne(fdi, line);
    } else if (args.size() == 5 && args[0] == "--copy") {
        g_dest = args[4];
        std::vector<char> buf(std::strtoul(args[1].c_str(), nullptr, 10));
        HANDLE src = CreateFileA(args[2].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        ok = src != INVALID_HANDLE_VALUE && !buf.empty();
        const std::string working = g_dest + "\\qvfile.dat";
        std::ifstream list(args[3]);
        long long offset;
        unsigned long size;
        while (ok && list >> offset >> size)
            ok = CopyRange(src, offset, size, working, buf) && ExtractOne(fdi, working);
        if (src != INVALID_HANDLE_VALUE) CloseHandle(src);
    } else if (args.size() == 4 && args[0] == "--range") {
        g_dest = args[3];
        g_range.file = CreateFileA(args[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        ok = g_range.file != INVALID_HANDLE_VALUE;
        const std::string virtualCab = g_dest + "\\range.cab";
        std::ifstream list(args[2]);
        long long offset;
        unsigned long size;
        while (ok && list >> offset >> size) {
            g_range.offset = offset;
            g_range.size = size;
            ok = ExtractOne(fdi, virtualCab);
        }
        if (g_range.file != INVALID_HANDLE_VALUE) CloseHandle(g_range.file);
    } else {
        std::fprintf(stderr, "usage: see the head of fdi_floor.cpp\n");
        ok = false;
    }
    FDIDestroy(fdi);
    return ok ? 0 : 1;
}
