#include "CabWriter.h"

#include "package/CabIntf.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace mksetup {

namespace {

constexpr int kOCreat = 0x0100;
constexpr int kOTrunc = 0x0200;
constexpr int kOExcl = 0x0400;

// State shared by the FCI callbacks of one WriteCabinet call (the pv argument).
struct Writer {
    std::string folder;                 // with trailing backslash
    std::string stem;                   // cabinet name without extension
    std::string ext;                    // extension with its dot, or empty
    std::vector<std::string> cabinets;  // every cabinet name handed to FCI, full paths
    std::vector<std::string> created;   // the cabinets FCI actually created
    std::vector<std::string> tempFiles; // temporary files handed out and not yet deleted
    DWORD lastError = 0;
    std::string failedSource; // a source file that could not be opened
};

std::string OsText(DWORD error) {
    char* buffer = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = (n && buffer) ? std::string(buffer, n) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '.' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    char code[32];
    std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(error));
    return text.empty() ? std::string(code) : text + " (" + code + ")";
}

const char* FciErrorText(int error) {
    switch (error) {
    case FCIERR_NONE:
        return "no error";
    case FCIERR_OPEN_SRC:
        return "cannot open a source file";
    case FCIERR_READ_SRC:
        return "cannot read a source file";
    case FCIERR_ALLOC_FAIL:
        return "out of memory";
    case FCIERR_TEMP_FILE:
        return "cannot create or use a temporary file";
    case FCIERR_BAD_COMPR_TYPE:
        return "unknown compression type";
    case FCIERR_CAB_FILE:
        return "cannot create or write the cabinet file";
    case FCIERR_USER_ABORT:
        return "aborted";
    case FCIERR_MCI_FAIL:
        return "compression failed";
    default:
        return "unknown FCI error";
    }
}

std::string CabinetName(const Writer& w, int index) { // index 1 = the first cabinet
    if (index <= 1) return w.stem + w.ext;
    return w.stem + std::to_string(index) + w.ext;
}

// ---- FCI callbacks ------------------------------------------------------------------

void* DIAMONDAPI Alloc(ULONG cb) {
    return HeapAlloc(GetProcessHeap(), 0, cb);
}
void DIAMONDAPI Free(void* p) {
    if (p) HeapFree(GetProcessHeap(), 0, p);
}

INT_PTR OpenFileFlags(const char* path, int oflag, int* err, Writer* w) {
    DWORD access = (oflag & 3) == 0   ? GENERIC_READ
                   : (oflag & 3) == 1 ? GENERIC_WRITE
                                      : GENERIC_READ | GENERIC_WRITE;
    const bool create = (oflag & kOCreat) != 0;
    DWORD disposition = (create && (oflag & kOExcl)) ? CREATE_NEW
                        : (oflag & kOTrunc)          ? (create ? CREATE_ALWAYS : TRUNCATE_EXISTING)
                        : create                     ? OPEN_ALWAYS
                                                     : OPEN_EXISTING;
    HANDLE h = CreateFileA(path, access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *err = static_cast<int>(GetLastError());
        if (w) w->lastError = GetLastError();
        return -1;
    }
    return reinterpret_cast<INT_PTR>(h);
}

INT_PTR DIAMONDAPI Open(char* pszFile, int oflag, int /*pmode*/, int* err, void* pv) {
    Writer* w = static_cast<Writer*>(pv);
    INT_PTR hf = OpenFileFlags(pszFile, oflag, err, w);
    if (hf != -1 && (oflag & kOCreat))
        for (const auto& c : w->cabinets)
            if (lstrcmpiA(c.c_str(), pszFile) == 0) {
                w->created.push_back(c);
                break;
            }
    return hf;
}

UINT DIAMONDAPI Read(INT_PTR hf, void* memory, UINT cb, int* err, void* pv) {
    DWORD done = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(hf), memory, cb, &done, nullptr)) {
        *err = static_cast<int>(GetLastError());
        static_cast<Writer*>(pv)->lastError = GetLastError();
        return static_cast<UINT>(-1);
    }
    return done;
}

UINT DIAMONDAPI Write(INT_PTR hf, void* memory, UINT cb, int* err, void* pv) {
    DWORD done = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(hf), memory, cb, &done, nullptr)) {
        *err = static_cast<int>(GetLastError());
        static_cast<Writer*>(pv)->lastError = GetLastError();
        return static_cast<UINT>(-1);
    }
    return done;
}

int DIAMONDAPI Close(INT_PTR hf, int* err, void* pv) {
    if (!CloseHandle(reinterpret_cast<HANDLE>(hf))) {
        *err = static_cast<int>(GetLastError());
        static_cast<Writer*>(pv)->lastError = GetLastError();
        return -1;
    }
    return 0;
}

__LONG32 DIAMONDAPI Seek(INT_PTR hf, __LONG32 dist, int seektype, int* err, void* pv) {
    // Wine's FCI seeks its data temp file even when no data block was ever written
    // (a cabinet holding only empty files), and that file was never created: its
    // handle is -1. Nothing is read from it afterwards, so report position 0.
    if (hf == -1) return 0;
    DWORD method = seektype == SEEK_CUR   ? FILE_CURRENT
                   : seektype == SEEK_END ? FILE_END
                                          : FILE_BEGIN;
    DWORD pos = SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, method);
    if (pos == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        *err = static_cast<int>(GetLastError());
        static_cast<Writer*>(pv)->lastError = GetLastError();
        return -1;
    }
    return static_cast<__LONG32>(pos);
}

int DIAMONDAPI Delete(char* pszFile, int* err, void* pv) {
    Writer* w = static_cast<Writer*>(pv);
    if (!DeleteFileA(pszFile)) {
        *err = static_cast<int>(GetLastError());
        w->lastError = GetLastError();
        return -1;
    }
    for (auto it = w->tempFiles.begin(); it != w->tempFiles.end(); ++it)
        if (lstrcmpiA(it->c_str(), pszFile) == 0) {
            w->tempFiles.erase(it);
            break;
        }
    return 0;
}

// A unique temporary file name in the cabinet's folder, else in %TEMP%. The file
// GetTempFileName creates is removed again: FCI creates it itself (it may ask for
// exclusive creation).
WINBOOL DIAMONDAPI GetTempFile(char* pszTempName, int cbTempName, void* pv) {
    Writer* w = static_cast<Writer*>(pv);
    char name[MAX_PATH];
    bool made = GetTempFileNameA(w->folder.c_str(), "fci", 0, name) != 0;
    if (!made) {
        char temp[MAX_PATH];
        DWORD n = GetTempPathA(MAX_PATH, temp);
        made = n > 0 && n < MAX_PATH && GetTempFileNameA(temp, "fci", 0, name) != 0;
    }
    if (!made) {
        w->lastError = GetLastError();
        return FALSE;
    }
    DeleteFileA(name);
    if (static_cast<int>(std::strlen(name)) >= cbTempName) return FALSE;
    std::strcpy(pszTempName, name);
    w->tempFiles.push_back(name);
    return TRUE;
}

int DIAMONDAPI FilePlaced(PCCAB, char*, __LONG32, WINBOOL, void*) {
    return 0;
}

__LONG32 DIAMONDAPI Status(UINT typeStatus, ULONG /*cb1*/, ULONG cb2, void* /*pv*/) {
    if (typeStatus == statusCabinet) return static_cast<__LONG32>(cb2); // keep the size
    return 0;
}

WINBOOL DIAMONDAPI GetNextCabinet(PCCAB pccab, ULONG /*cbPrevCab*/, void* pv) {
    Writer* w = static_cast<Writer*>(pv);
    // FCI has already incremented iCab (0-based) for the new cabinet.
    const std::string name = CabinetName(*w, pccab->iCab + 1);
    if (name.size() >= sizeof pccab->szCab) return FALSE;
    std::strcpy(pccab->szCab, name.c_str());
    std::snprintf(pccab->szDisk, sizeof pccab->szDisk, "DISK%d", pccab->iDisk);
    w->cabinets.push_back(w->folder + name);
    return TRUE;
}

// Opens a source file for FCI and reports its date, time (last write, as local time
// in the packed DOS format) and attributes (read-only, hidden, system, archive).
INT_PTR DIAMONDAPI GetOpenInfo(char* pszName, USHORT* pdate, USHORT* ptime, USHORT* pattribs,
                               int* err, void* pv) {
    Writer* w = static_cast<Writer*>(pv);
    INT_PTR hf = OpenFileFlags(pszName, 0, err, w);
    if (hf == -1) {
        w->failedSource = pszName;
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(hf), &info) ||
        !FileTimeToLocalFileTime(&info.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time)) {
        *err = static_cast<int>(GetLastError());
        w->lastError = GetLastError();
        w->failedSource = pszName;
        CloseHandle(reinterpret_cast<HANDLE>(hf));
        return -1;
    }
    *pdate = date;
    *ptime = time;
    *pattribs = static_cast<USHORT>(info.dwFileAttributes &
                                    (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    return hf;
}

std::vector<char> Buffer(const std::string& s) {
    std::vector<char> b(s.begin(), s.end());
    b.push_back('\0');
    return b;
}

} // namespace

std::vector<std::string> WriteCabinet(const std::string& cabPath,
                                      const std::vector<CabEntry>& entries,
                                      const CabWriterOptions& options) {
    char fullBuf[MAX_PATH * 2];
    char* filePart = nullptr;
    DWORD n = GetFullPathNameA(cabPath.c_str(), sizeof fullBuf, fullBuf, &filePart);
    if (n == 0 || n >= sizeof fullBuf || !filePart || !*filePart)
        throw std::runtime_error("Cannot write cabinet \"" + cabPath + "\": invalid path");
    const std::string full(fullBuf, n);

    Writer w;
    const size_t nameAt = static_cast<size_t>(filePart - fullBuf);
    w.folder = full.substr(0, nameAt);
    const std::string name = full.substr(nameAt);
    const size_t dot = name.rfind('.');
    w.stem = dot == std::string::npos ? name : name.substr(0, dot);
    w.ext = dot == std::string::npos ? std::string() : name.substr(dot);
    w.cabinets.push_back(full);

    auto fail = [&](const std::string& why) -> std::runtime_error {
        return std::runtime_error("Cannot write cabinet \"" + full + "\": " + why);
    };

    CCAB ccab;
    std::memset(&ccab, 0, sizeof ccab);
    ccab.cb = options.maxCabinetSize ? options.maxCabinetSize : 0x7FFFFFFF;
    ccab.cbFolderThresh = 0x7FFFFFFF; // one folder
    ccab.iCab = 0;
    ccab.iDisk = 1;
    ccab.setID = 0x5156; // "QV"
    if (w.folder.size() >= sizeof ccab.szCabPath || name.size() >= sizeof ccab.szCab)
        throw fail("path too long for the cabinet library");
    std::strcpy(ccab.szCabPath, w.folder.c_str());
    std::strcpy(ccab.szCab, name.c_str());
    std::strcpy(ccab.szDisk, "DISK1");

    const auto& lib = cabintf::LoadCabinetLibrary(); // throws ESTCabinet

    ERF erf;
    std::memset(&erf, 0, sizeof erf);
    HFCI fci = lib.FCICreate(&erf, FilePlaced, Alloc, Free, Open, Read, Write, Close, Seek, Delete,
                             GetTempFile, &ccab, &w);

    auto cleanUp = [&](bool removeCabinets) {
        if (fci) lib.FCIDestroy(fci);
        fci = nullptr;
        for (const auto& t : w.tempFiles)
            DeleteFileA(t.c_str());
        w.tempFiles.clear();
        if (removeCabinets)
            for (const auto& c : w.created)
                DeleteFileA(c.c_str());
    };
    auto describe = [&]() {
        std::string why = FciErrorText(erf.erfOper);
        if (erf.erfOper == FCIERR_OPEN_SRC || erf.erfOper == FCIERR_READ_SRC) {
            if (!w.failedSource.empty()) why += " \"" + w.failedSource + "\"";
        }
        DWORD os = w.lastError ? w.lastError : static_cast<DWORD>(erf.erfType);
        if (os) why += ": " + OsText(os);
        return why;
    };

    if (!fci) {
        cleanUp(true);
        throw fail(describe());
    }

    // MSZIP: Wine's FCI implements it (through zlib), as does Windows'.
    const TCOMP compression = options.compress ? tcompTYPE_MSZIP : tcompTYPE_NONE;
    bool first = true;
    for (const auto& e : entries) {
        if (e.newCabinet && !first) {
            if (!lib.FCIFlushCabinet(fci, TRUE, GetNextCabinet, Status)) {
                std::string why = describe();
                cleanUp(true);
                throw fail(why);
            }
        }
        first = false;
        std::vector<char> src = Buffer(e.sourcePath);
        std::vector<char> stored = Buffer(e.nameInCab);
        if (e.nameInCab.empty() || e.nameInCab.size() >= CB_MAX_FILENAME) {
            cleanUp(true);
            throw fail("invalid name in cabinet \"" + e.nameInCab + "\"");
        }
        w.lastError = 0;
        if (!lib.FCIAddFile(fci, src.data(), stored.data(), e.execute ? TRUE : FALSE,
                            GetNextCabinet, Status, GetOpenInfo, compression)) {
            std::string why = describe();
            if (w.failedSource.empty() && erf.erfOper == FCIERR_OPEN_SRC)
                why += " \"" + e.sourcePath + "\"";
            cleanUp(true);
            throw fail(why);
        }
    }
    if (!lib.FCIFlushCabinet(fci, FALSE, GetNextCabinet, Status)) {
        std::string why = describe();
        cleanUp(true);
        throw fail(why);
    }
    cleanUp(false);

    std::vector<std::string> written;
    for (const auto& c : w.cabinets)
        if (GetFileAttributesA(c.c_str()) != INVALID_FILE_ATTRIBUTES) written.push_back(c);
    return written;
}

void WriteCabinet(const std::string& cabPath, const std::vector<CabEntry>& entries) {
    WriteCabinet(cabPath, entries, CabWriterOptions{});
}

} // namespace mksetup
