// The builder's file access on Windows.
#ifdef _WIN32

#include "FileIo.h"

#include "Builder.h"
#include "platform/Error.h"

#include <windows.h>

#include <algorithm>

namespace mksetup {

namespace {

HANDLE AsHandle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

// 100 ns units from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpoch = 116444736000000000LL;

int64_t UnixSeconds(const FILETIME& ft) {
    const int64_t t = static_cast<int64_t>((uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
    const int64_t d = t - kUnixEpoch;
    return d >= 0 ? d / 10000000 : -((-d + 9999999) / 10000000);
}

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
    throw BuildError("cannot " + what + " " + path + ": " + SystemErrorText(LastSystemError()));
}

} // namespace

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

std::string SystemErrorText(int code) {
    std::string text = SystemErrorMessage(static_cast<uint32_t>(code));
    if (text.empty()) text = "system error " + std::to_string(code);
    return text;
}

bool IsAbsoluteHostPath(const std::string& path) {
    return (path.size() >= 2 && path[1] == ':') ||
           (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

std::string FullHostPath(const std::string& path) {
    const std::string p = HostPath(path);
    const DWORD needed = GetFullPathNameA(p.c_str(), 0, nullptr, nullptr);
    std::string full = p;
    if (needed != 0) {
        std::string buf(needed, '\0');
        const DWORD n = GetFullPathNameA(p.c_str(), needed, buf.data(), nullptr);
        if (n != 0 && n < needed) full.assign(buf, 0, n);
    }
    // "C:\" and "\\server\share\" keep theirs; other trailing backslashes go.
    while (full.size() > 3 && full.back() == '\\')
        full.pop_back();
    return full;
}

bool FileExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsReadOnlyFile(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

std::string ProgramPath() {
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return entries;
        throw BuildError("cannot list " + folder + ": " + SystemErrorText(static_cast<int>(err)));
    }
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        const bool isFolder = fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        // A junction or symbolic link to a folder may lead back up the tree.
        if (isFolder && (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        entries.push_back({name, isFolder});
    } while (FindNextFileA(h, &fd));
    DWORD err = GetLastError();
    FindClose(h);
    if (err != ERROR_NO_MORE_FILES)
        throw BuildError("cannot list " + folder + ": " + SystemErrorText(static_cast<int>(err)));
    return entries;
}

uint64_t FileSize64(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) Fail("read", path);
    return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

void RemoveFile(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

void RemoveFolderTree(const std::string& path) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = path + "\\" + name;
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveFolderTree(full);
            } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryA(full.c_str()); // a link: remove the link, not its target
            } else {
                RemoveFile(full);
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

int64_t LocalOffsetNow() {
    FILETIME now, local;
    GetSystemTimeAsFileTime(&now);
    if (!FileTimeToLocalFileTime(&now, &local)) return 0;
    return UnixSeconds(local) - UnixSeconds(now);
}

InputFile::InputFile(const std::string& path)
    : path_(path), handle_(reinterpret_cast<intptr_t>(
                       CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr))) {
    if (AsHandle(handle_) == INVALID_HANDLE_VALUE) Fail("open", path);
    BY_HANDLE_FILE_INFORMATION info;
    FILETIME local;
    if (!GetFileInformationByHandle(AsHandle(handle_), &info) ||
        !FileTimeToLocalFileTime(&info.ftLastWriteTime, &local)) {
        const int err = LastSystemError();
        CloseHandle(AsHandle(handle_));
        throw BuildError("cannot read " + path + ": " + SystemErrorText(err));
    }
    size_ = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    PackDosDateTime(UnixSeconds(local), stamp_.date, stamp_.time);
    stamp_.attributes = static_cast<uint16_t>(info.dwFileAttributes &
                                              (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
}

InputFile::~InputFile() {
    CloseHandle(AsHandle(handle_));
}

size_t InputFile::Read(void* data, size_t size) {
    char* p = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(AsHandle(handle_), p + done, want, &got, nullptr)) Fail("read", path_);
        if (got == 0) break;
        done += got;
    }
    return done;
}

OutputFile::~OutputFile() {
    if (handle_ != -1) CloseHandle(AsHandle(handle_));
}

void OutputFile::Open(const std::string& path) {
    path_ = path;
    size_ = 0;
    handle_ = reinterpret_cast<intptr_t>(CreateFileA(
        path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (AsHandle(handle_) == INVALID_HANDLE_VALUE) {
        handle_ = -1;
        Fail("write", path);
    }
}

void OutputFile::Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(AsHandle(handle_), p, chunk, &put, nullptr) || put != chunk)
            Fail("write", path_);
        p += chunk;
        size -= chunk;
        size_ += chunk;
    }
}

void OutputFile::Seek(uint64_t offset) {
    LARGE_INTEGER pos;
    pos.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(AsHandle(handle_), pos, nullptr, FILE_BEGIN)) Fail("write", path_);
}

void OutputFile::Close() {
    if (handle_ == -1) return;
    BOOL ok = CloseHandle(AsHandle(handle_));
    handle_ = -1;
    if (!ok) Fail("write", path_);
}

TempOutput::TempOutput(const std::string& output) {
    std::string folder = HostFolderOf(output);
    char buf[MAX_PATH + 1];
    if (folder.empty() || !GetTempFileNameA(folder.c_str(), "mks", 0, buf)) Fail("write", output);
    path_ = buf;
}

TempOutput::~TempOutput() {
    if (!path_.empty()) RemoveFile(path_);
}

void TempOutput::Commit(const std::string& output) {
    if (!MoveFileExA(path_.c_str(), output.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        Fail("write", output);
    path_.clear();
}

} // namespace mksetup

#endif // _WIN32
