#include "package/CabSTComps.h"

#include "package/CabSTConsts.h"
#include "platform/FileUtil.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

using cabintf::LastOsError;

namespace {

// The open destination handles of the FDICopy running on this thread; the close
// callback keeps the list up to date, and ExtractFiles closes what a failure left.
thread_local std::vector<INT_PTR>* t_openHandles = nullptr;

// The cabinet range of the ExtractRange running on this thread: opening its path
// gives a handle of the range, which the read, seek and close callbacks serve from
// the container file. FDI may hold more than one such handle, each with its position.
struct RangeSource {
    std::string path;
    HANDLE file = INVALID_HANDLE_VALUE;
    uint64_t offset = 0;
    uint32_t size = 0;
    const TSTCabReader::ReadProgress* onRead = nullptr;
    uint32_t furthest = 0;
    std::vector<std::unique_ptr<uint32_t>> positions; // one per open handle
    // FDI reads headers of a few bytes between its data blocks; each served by a
    // system call of its own would cost more than the data (under Wine twice the
    // extraction). Reads come from this window of the range instead.
    std::vector<char> window;
    uint32_t windowAt = 0, windowLen = 0;
};
constexpr uint32_t kRangeWindow = 64 * 1024;
thread_local RangeSource* t_range = nullptr;

// The position of a range handle, or null when hf is an ordinary file handle.
uint32_t* RangePosition(INT_PTR hf) {
    if (!t_range) return nullptr;
    for (auto& p : t_range->positions)
        if (reinterpret_cast<INT_PTR>(p.get()) == hf) return p.get();
    return nullptr;
}

// C-runtime style open flags passed by the library.
constexpr int kOAppend = 0x0008;
constexpr int kORandom = 0x0010;
constexpr int kOSequential = 0x0020;
constexpr int kOTemporary = 0x0040;
constexpr int kOCreat = 0x0100;
constexpr int kOTrunc = 0x0200;
constexpr int kOExcl = 0x0400;
constexpr int kOShortLived = 0x1000;

// ---- callbacks handed to FDI ------------------------------------------------------

void* DIAMONDAPI MemAlloc(ULONG cb) {
    return HeapAlloc(GetProcessHeap(), 0, cb);
}

void DIAMONDAPI MemFree(void* pv) {
    if (pv) HeapFree(GetProcessHeap(), 0, pv);
}

INT_PTR DIAMONDAPI FileOpen(char* pszFile, int oflag, int /*pmode*/) {
    if (t_range && (oflag & 3) == 0 && SameText(pszFile, t_range->path)) {
        t_range->positions.push_back(std::make_unique<uint32_t>(0));
        return reinterpret_cast<INT_PTR>(t_range->positions.back().get());
    }
    DWORD access;
    switch (oflag & 3) {
    case 0:
        access = GENERIC_READ;
        break;
    case 1:
        access = GENERIC_WRITE;
        break;
    default:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    }
    const bool create = (oflag & kOCreat) != 0;
    DWORD disposition;
    if (create && (oflag & kOExcl))
        disposition = CREATE_NEW;
    else if (oflag & kOTrunc)
        disposition = create ? CREATE_ALWAYS : TRUNCATE_EXISTING;
    else
        disposition = create ? OPEN_ALWAYS : OPEN_EXISTING;
    DWORD attrs =
        (create && (oflag & kOShortLived)) ? FILE_ATTRIBUTE_TEMPORARY : FILE_ATTRIBUTE_NORMAL;
    if (oflag & kOSequential) attrs |= FILE_FLAG_SEQUENTIAL_SCAN;
    if (oflag & kORandom) attrs |= FILE_FLAG_RANDOM_ACCESS;
    if (create && (oflag & kOTemporary)) attrs |= FILE_FLAG_DELETE_ON_CLOSE;
    HANDLE h = CreateFileA(pszFile, access, FILE_SHARE_READ, nullptr, disposition, attrs, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        LastOsError = GetLastError();
        return -1;
    }
    if (oflag & kOAppend) {
        if (SetFilePointer(h, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR) {
            LastOsError = GetLastError();
            CloseHandle(h);
            return -1;
        }
    }
    return reinterpret_cast<INT_PTR>(h);
}

// Refills the window from the range position at. False on a read error.
bool FillWindow(RangeSource& r, uint32_t at) {
    if (r.window.empty()) r.window.resize(kRangeWindow);
    r.windowAt = at;
    r.windowLen = 0;
    const DWORD want = std::min<uint32_t>(kRangeWindow, r.size - at);
    LARGE_INTEGER from;
    from.QuadPart = static_cast<LONGLONG>(r.offset + at);
    DWORD got = 0;
    if (!SetFilePointerEx(r.file, from, nullptr, FILE_BEGIN) ||
        !ReadFile(r.file, r.window.data(), want, &got, nullptr)) {
        LastOsError = GetLastError();
        return false;
    }
    r.windowLen = got;
    return true;
}

UINT RangeRead(uint32_t& pos, void* pv, UINT cb) {
    RangeSource& r = *t_range;
    const uint32_t want = pos < r.size ? std::min<uint32_t>(cb, r.size - pos) : 0;
    uint32_t done = 0;
    while (done < want) {
        const uint32_t at = pos + done;
        if (at < r.windowAt || at >= r.windowAt + r.windowLen) {
            if (!FillWindow(r, at)) return static_cast<UINT>(-1);
            if (r.windowLen == 0) break; // the setup file ends inside the range
        }
        const uint32_t n = std::min(want - done, r.windowAt + r.windowLen - at);
        std::memcpy(static_cast<char*>(pv) + done, r.window.data() + (at - r.windowAt), n);
        done += n;
    }
    pos += done;
    if (pos > r.furthest) {
        r.furthest = pos;
        if (r.onRead && *r.onRead && !(*r.onRead)(r.furthest)) {
            LastOsError = ERROR_CANCELLED;
            return static_cast<UINT>(-1);
        }
    }
    return done;
}

UINT DIAMONDAPI FileRead(INT_PTR hf, void* pv, UINT cb) {
    if (uint32_t* pos = RangePosition(hf)) return RangeRead(*pos, pv, cb);
    DWORD done = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &done, nullptr)) {
        LastOsError = GetLastError();
        return static_cast<UINT>(-1);
    }
    return done;
}

UINT DIAMONDAPI FileWrite(INT_PTR hf, void* pv, UINT cb) {
    DWORD done = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &done, nullptr)) {
        LastOsError = GetLastError();
        return static_cast<UINT>(-1);
    }
    return done;
}

int DIAMONDAPI FileClose(INT_PTR hf) {
    // Wine's FDI closes a handle of 0 when it gives up on a missing next cabinet: not
    // a handle this layer gave out, and not an OS failure worth reporting.
    if (hf == 0 || hf == -1) return 0;
    if (RangePosition(hf)) {
        auto& open = t_range->positions;
        open.erase(std::find_if(open.begin(), open.end(), [&](const auto& p) {
            return reinterpret_cast<INT_PTR>(p.get()) == hf;
        }));
        return 0;
    }
    if (t_openHandles) {
        auto it = std::find(t_openHandles->begin(), t_openHandles->end(), hf);
        if (it != t_openHandles->end()) t_openHandles->erase(it);
    }
    if (!CloseHandle(reinterpret_cast<HANDLE>(hf))) {
        LastOsError = GetLastError();
        return -1;
    }
    return 0;
}

__LONG32 DIAMONDAPI FileSeek(INT_PTR hf, __LONG32 dist, int seektype) {
    if (uint32_t* pos = RangePosition(hf)) {
        const int64_t base = seektype == SEEK_CUR ? *pos : seektype == SEEK_END ? t_range->size : 0;
        const int64_t to = base + dist;
        if (to < 0 || to > 0x7FFFFFFF) {
            LastOsError = ERROR_NEGATIVE_SEEK;
            return -1;
        }
        *pos = static_cast<uint32_t>(to);
        return static_cast<__LONG32>(to);
    }
    DWORD method = seektype == SEEK_CUR   ? FILE_CURRENT
                   : seektype == SEEK_END ? FILE_END
                                          : FILE_BEGIN;
    DWORD pos = SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, method);
    if (pos == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        LastOsError = GetLastError();
        return -1;
    }
    return static_cast<__LONG32>(pos);
}

// ---- helpers ------------------------------------------------------------------------

std::string Join(const std::string& a, const std::string& b) {
    return JoinPath(a, b);
}

std::string Str(const char* p) {
    return p ? std::string(p) : std::string();
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// True when full (a normalised full path) lies strictly below folder (a normalised
// full path with one trailing backslash), compared without regard to case.
bool IsBelow(const std::string& full, const std::string& folder) {
    if (full.size() <= folder.size()) return false;
    return SameText(full.substr(0, folder.size()), folder);
}

// Restores the creation and last-write times (local DOS date/time in the cabinet)
// through the handle the data was written with, just before it is closed: opening
// the file again for that would cost a second open and close for every file.
// Failures are ignored: the file then keeps its current times.
void StampTimes(INT_PTR hf, uint16_t date, uint16_t time) {
    if (hf == 0 || hf == -1) return;
    FILETIME local, utc;
    if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(reinterpret_cast<HANDLE>(hf), &utc, nullptr, &utc);
}

// Sets the attributes (masked with read-only, hidden, system, archive) once the file
// is closed. A file this extraction created has the archive attribute alone, so it is
// left as it is when that is what the cabinet asks for (the call would open the file
// once more). A failure is ignored: the file keeps its current attributes.
void StampAttributes(const std::string& path, uint16_t attribs, bool existed) {
    DWORD attrs = attribs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (!existed && attrs == FILE_ATTRIBUTE_ARCHIVE) return;
    SetFileAttributesA(path.c_str(), attrs ? attrs : FILE_ATTRIBUTE_NORMAL);
}

// The name as the cabinet stores it, in the system code page. A name flagged as
// UTF-8 (_A_NAME_IS_UTF) is converted without best-fit mapping (which could turn
// look-alike characters such as a full-width reverse solidus into '\\'); a name
// that does not convert gives an empty text, which the copy notification refuses.
std::string StoredName(const FDINOTIFICATION& n) {
    std::string raw = Str(n.psz1);
    if (!(n.attribs & _A_NAME_IS_UTF) || raw.empty()) return raw;
    int wn = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, raw.data(),
                                 static_cast<int>(raw.size()), nullptr, 0);
    if (wn <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(wn), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, raw.data(), static_cast<int>(raw.size()),
                        wide.data(), wn);
    BOOL usedDefault = FALSE;
    int an = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wn, nullptr, 0, nullptr,
                                 &usedDefault);
    if (an <= 0 || usedDefault) return std::string();
    std::string ansi(static_cast<size_t>(an), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wn, ansi.data(), an, nullptr,
                        &usedDefault);
    if (usedDefault) return std::string();
    return ansi;
}

// A name that the header of a cabinet gives for the next cabinet of its set. The
// cabinets of a set lie side by side in one folder, so it is a plain file name; a
// name with a folder part, a drive, a root or dots (a damaged or crafted header)
// would make the reader open a file elsewhere, on another drive or on a network
// share, and take its files for the set's.
bool IsPlainCabinetName(const std::string& name) {
    return IsSafeCabinetName(name) && name.find_first_of("\\/") == std::string::npos;
}

} // namespace

bool IsSafeCabinetName(const std::string& name) {
    if (name.empty()) return false;
    if (IsSeparator(name[0])) return false;                // rooted, UNC, \\?\, \\.\ .
    if (name.find(':') != std::string::npos) return false; // drive, "C:x", streams
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        const std::string part = name.substr(start, end - start);
        // A component made only of dots and spaces: "..", and what Win32 path
        // normalisation may turn into ".." ("...", ".. ", ". .").
        if (!part.empty() && part.find_first_not_of(". ") == std::string::npos) return false;
        start = end + 1;
    }
    return true;
}

TSTCabReader::TSTCabReader(void* owner) : owner_(owner) {}

TSTCabReader::~TSTCabReader() {
    if (context_) {
        const auto& lib = cabintf::LoadCabinetLibrary(); // already loaded: cannot throw
        lib.FDIDestroy(context_);                        // a failure is ignored here
        context_ = nullptr;
    }
}

void TSTCabReader::CreateContext() {
    const auto& lib = cabintf::LoadCabinetLibrary();
    std::memset(&error_, 0, sizeof error_);
    context_ = lib.FDICreate(MemAlloc, MemFree, FileOpen, FileRead, FileWrite, FileClose, FileSeek,
                             cpuUNKNOWN, &error_);
    if (!context_) RaiseError();
}

void TSTCabReader::RaiseError() {
    // A notification after the refusal (see DoCloseFile) has cleared the last OS error.
    error_.erfType = static_cast<int>(LastOsError != 0 ? LastOsError : abortError_);
    const int32_t number = error_.erfOper;
    const uint32_t osError = static_cast<uint32_t>(error_.erfType);
    const bool flag = error_.fError != 0;
    std::string message;
    if (flag)
        message = std::string(FdiErrorText(number)) + " [0x" +
                  HexText(static_cast<uint32_t>(number), 4) + "]";
    else
        message = "FDI error";
    if (flag && osError != 0)
        message += ".\r\n" + SystemErrorMessage(osError) + " [0x" + HexText(osError, 4) + "].";
    throw ESTCabinet(message, number, osError, flag, false);
}

void TSTCabReader::ExtractFiles(const std::string& cabinetFile, const std::string& destFolder,
                                uint8_t flags) {
    cabinetFile_ = FullPath(cabinetFile);
    destFolder_ = IncludeTrailingBackslash(FullPath(destFolder));
    open_.clear();
    std::vector<std::string> visited; // guards against a set whose links form a loop

    std::string current = cabinetFile_;
    while (!current.empty()) {
        nextCabinet_.clear();
        nextDisk_.clear();
        continuationPath_.clear();
        continuationSeen_ = false;
        currentCabinet_ = current;
        visited.push_back(current);

        if (!context_) CreateContext();
        const auto& lib = cabintf::LoadCabinetLibrary();

        std::string name = ExtractFileName(current);
        std::string folder = IncludeTrailingBackslash(ExtractFilePath(current));
        std::vector<char> nameBuf(name.begin(), name.end());
        nameBuf.push_back('\0');
        std::vector<char> folderBuf(folder.begin(), folder.end());
        folderBuf.push_back('\0');

        std::vector<INT_PTR> openHandles;
        pending_ = nullptr;
        aborted_ = false;
        abortError_ = 0;
        LastOsError = 0;
        std::vector<INT_PTR>* const savedHandles = t_openHandles;
        t_openHandles = &openHandles;
        const BOOL ok =
            lib.FDICopy(context_, nameBuf.data(), folderBuf.data(), 0, Notify, nullptr, this);
        t_openHandles = savedHandles;
        // Destination files the library left open after a failure.
        for (INT_PTR h : openHandles)
            CloseHandle(reinterpret_cast<HANDLE>(h));
        if (!ok || pending_) {
            open_.clear();
            if (pending_) {
                std::exception_ptr e = pending_;
                pending_ = nullptr;
                std::rethrow_exception(e);
            }
            RaiseError();
        }

        if (continuationSeen_)
            current = continuationPath_;
        else if (!SameText(current, nextCabinet_))
            current = nextCabinet_;
        else
            current.clear();
        if ((flags & 1) || (!current.empty() && !FileExists(current))) current.clear();
        for (const auto& v : visited)
            if (!current.empty() && SameText(v, current)) current.clear();
    }
}

void TSTCabReader::ExtractRange(HANDLE container, const std::string& containerPath, uint64_t offset,
                                uint32_t size, const std::string& destFolder,
                                const ReadProgress& onRead) {
    RangeSource range;
    range.path = FullPath(containerPath);
    range.file = container;
    range.offset = offset;
    range.size = size;
    range.onRead = &onRead;
    RangeSource* const saved = t_range;
    t_range = &range;
    try {
        ExtractFiles(range.path, destFolder, 1);
    } catch (...) {
        t_range = saved;
        throw;
    }
    t_range = saved;
}

INT_PTR DIAMONDAPI TSTCabReader::Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification) {
    LastOsError = 0;
    TSTCabReader* self = static_cast<TSTCabReader*>(notification->pv);
    INT_PTR result;
    try {
        result = self->HandleNotify(type, *notification);
    } catch (...) {
        // No C++ exception may cross the library: keep it, abort, rethrow later.
        self->pending_ = std::current_exception();
        result = -1;
    }
    if (result == -1 && !self->aborted_) {
        self->aborted_ = true;
        self->abortError_ = LastOsError;
    }
    return result;
}

INT_PTR TSTCabReader::HandleNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n) {
    switch (type) {
    case fdintCABINET_INFO:
        return DoCabinetInfo(n);
    case fdintPARTIAL_FILE:
        return DoPartialFile(n);
    case fdintCOPY_FILE:
        return DoCopyFile(n);
    case fdintCLOSE_FILE_INFO:
        return DoCloseFile(n);
    case fdintNEXT_CABINET:
        return DoNextCabinet(n);
    default: {
        int32_t result = 0;
        if (OnUnrecognizedNotify) OnUnrecognizedNotify(*this, type, n, result);
        return result;
    }
    }
}

INT_PTR TSTCabReader::DoCabinetInfo(FDINOTIFICATION& n) {
    if (!continuationPath_.empty()) currentCabinet_ = continuationPath_;
    const std::string nextName = Str(n.psz1);
    const std::string nextDisk = Str(n.psz2);
    const std::string cabPath = Str(n.psz3);
    // A next cabinet that is not a plain name ends the set here, as a missing one does.
    nextCabinet_ = IsPlainCabinetName(nextName) ? Join(cabPath, nextName) : std::string();
    nextDisk_ = nextDisk;
    bool abort = false;
    if (OnCabinetInfo)
        OnCabinetInfo(*this, nextName, nextDisk, cabPath, n.setID, n.iCabinet, abort);
    return abort ? -1 : 0;
}

INT_PTR TSTCabReader::DoPartialFile(FDINOTIFICATION& n) {
    const std::string name = StoredName(n);
    std::string dst;
    for (const OpenFile& f : open_)
        if (f.name == name) {
            dst = f.dst;
            break;
        }
    bool abort = false;
    if (OnCopyPartialFile) OnCopyPartialFile(*this, name, Str(n.psz2), Str(n.psz3), dst, abort);
    return abort ? -1 : 0;
}

INT_PTR TSTCabReader::DoCopyFile(FDINOTIFICATION& n) {
    const std::string name = StoredName(n);
    // A stored name must never lead outside the destination folder.
    if (!IsSafeCabinetName(name)) {
        LastOsError = ERROR_INVALID_NAME;
        return -1;
    }
    std::string dst = Join(destFolder_, name);
    {
        const std::string full = FullPath(dst);
        if (!IsBelow(full, destFolder_)) { // e.g. a device name such as "CON"
            LastOsError = ERROR_INVALID_NAME;
            return -1;
        }
    }
    bool abort = false;
    if (OnCopyFile) OnCopyFile(*this, name, n.cb, n.date, n.time, n.attribs, n.iFolder, dst, abort);
    if (abort) return -1;
    if (dst.empty()) return 0; // skipped

    // Write only, sequential, create when missing, truncate: the extracted data
    // replaces the whole former content. The file is opened first and looked at only
    // when that fails: a new file in an existing folder, the usual case, then costs one
    // call instead of four.
    auto open = [&] {
        return CreateFileA(dst.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    };
    // Kept read-only files are looked for first: an open does not always fail on one
    // (under Wine an administrator writes it).
    if (Options & croDontOverwriteReadOnlyFiles) {
        const DWORD attrs = GetFileAttributesA(dst.c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) &&
            !(attrs & FILE_ATTRIBUTE_DIRECTORY))
            return 0;
    }
    HANDLE h = open();
    bool existed = h != INVALID_HANDLE_VALUE && GetLastError() == ERROR_ALREADY_EXISTS;
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        bool retry = false;
        if (error == ERROR_PATH_NOT_FOUND) {
            const std::string folder = ExtractFilePath(dst);
            retry = !folder.empty() && ForceDirectories(ExcludeTrailingBackslash(folder));
        } else if (error == ERROR_ACCESS_DENIED) {
            const DWORD attrs = GetFileAttributesA(dst.c_str());
            constexpr DWORD kBlocking =
                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
            if (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
                // Read-only cannot be written; hidden or system make CREATE_ALWAYS fail.
                // The attributes from the cabinet are set when the file is closed.
                retry = (attrs & kBlocking) && SetFileAttributesA(dst.c_str(), attrs & ~kBlocking);
            }
        }
        if (retry) {
            h = open();
            existed = GetLastError() == ERROR_ALREADY_EXISTS;
        }
        if (h == INVALID_HANDLE_VALUE) {
            LastOsError = retry ? GetLastError() : error;
            return -1;
        }
    }
    const INT_PTR hf = reinterpret_cast<INT_PTR>(h);
    if (t_openHandles) t_openHandles->push_back(hf);
    open_.push_back({name, dst, existed});
    return hf;
}

INT_PTR TSTCabReader::DoCloseFile(FDINOTIFICATION& n) {
    const std::string name = StoredName(n);
    std::string dst;
    bool found = false, existed = true;
    auto it =
        std::find_if(open_.begin(), open_.end(), [&](const OpenFile& f) { return f.name == name; });
    // Wine's FDI still sends the close notification of the file it was writing when a
    // handler has stopped the extraction (at the next cabinet, say). Windows' FDI only
    // closes the handle, so the file is left as it is: not complete, so it is neither
    // given the cabinet's date and attributes nor reported as closed.
    if (aborted_) {
        if (it != open_.end()) open_.erase(it);
        FileClose(n.hf);
        return -1;
    }
    if (it != open_.end()) {
        dst = it->dst;
        existed = it->existed;
        open_.erase(it);
        found = true;
    }
    if (found) StampTimes(n.hf, n.date, n.time);
    FileClose(n.hf);
    if (found) StampAttributes(dst, n.attribs, existed);
    bool exec = (n.cb & 1) != 0;
    bool abort = false;
    if (OnCloseFile)
        OnCloseFile(*this, name, n.date, n.time, n.attribs, n.iFolder, exec, dst, abort);
    if (abort) return -1;
    if (exec && (Options & croExecuteOnExtract) && !dst.empty())
        ShellExecuteA(nullptr, "open", dst.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return 1;
}

INT_PTR TSTCabReader::DoNextCabinet(FDINOTIFICATION& n) {
    const std::string cabName = Str(n.psz1);
    // A cabinet read in place from a range is whole there: data said to go on in a
    // next cabinet must not be looked for in the files beside the container.
    if (t_range) {
        LastOsError = ERROR_INVALID_DATA;
        return -1;
    }
    if (!IsPlainCabinetName(cabName)) {
        LastOsError = ERROR_INVALID_NAME;
        return -1;
    }
    INT_PTR result;
    if (OnNextCabinet) {
        std::string path = Str(n.psz3);
        bool abort = false;
        OnNextCabinet(*this, cabName, Str(n.psz2), path, n.fdie, abort);
        if (abort) {
            result = -1;
        } else {
            path = IncludeTrailingBackslash(path);
            if (path.size() >= CB_MAX_CAB_PATH) {
                LastOsError = ERROR_FILENAME_EXCED_RANGE;
                return -1;
            }
            std::memcpy(n.psz3, path.c_str(), path.size() + 1);
            result = 0;
        }
    } else {
        result = n.fdie != FDIERROR_NONE ? -1 : 0;
    }
    continuationPath_ = Join(Str(n.psz3), cabName);
    continuationSeen_ = true;
    return result;
}
