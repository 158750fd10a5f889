// The floor for unpacking: the least a program can do to extract a cabinet with the
// system's FDI. Usage: bench_fdifloor <cabinet> <destination folder>
#include <windows.h>

#include <fcntl.h>
#include <fdi.h>

#include <cstdio>
#include <string>

namespace {
std::string g_dest;

FNALLOC(Alloc) { return HeapAlloc(GetProcessHeap(), 0, cb); }
FNFREE(Free) { HeapFree(GetProcessHeap(), 0, pv); }
FNOPEN(Open) {
    DWORD access = (oflag & 3) == 0 ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD disp = (oflag & _O_CREAT) ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE h = CreateFileA(pszFile, access, FILE_SHARE_READ, nullptr, disp,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    (void)pmode;
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(h);
}
FNREAD(Read) {
    DWORD n = 0;
    return ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &n, nullptr) ? n : UINT(-1);
}
FNWRITE(Write) {
    DWORD n = 0;
    return WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &n, nullptr) ? n : UINT(-1);
}
FNCLOSE(Close) { return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1; }
FNSEEK(Seek) { return SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, seektype); }

FNFDINOTIFY(Notify) {
    switch (fdint) {
    case fdintCOPY_FILE:
        return Open(const_cast<char*>((g_dest + "\\" + pfdin->psz1).c_str()),
                    _O_WRONLY | _O_CREAT, 0);
    case fdintCLOSE_FILE_INFO:
        Close(pfdin->hf);
        return TRUE;
    default:
        return 0;
    }
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::string cab = argv[1];
    g_dest = argv[2];
    size_t slash = cab.find_last_of('\\');
    std::string name = cab.substr(slash + 1), path = cab.substr(0, slash + 1);
    ERF erf{};
    HFDI fdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
    if (!fdi) return 1;
    BOOL ok = FDICopy(fdi, name.data(), path.data(), 0, Notify, nullptr, nullptr);
    FDIDestroy(fdi);
    return ok ? 0 : 1;
}
