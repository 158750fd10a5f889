#include "FileIo.h"

#include "Builder.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace mksetup {

namespace {

// Big enough that large payloads copy quickly, small enough to keep memory flat.
constexpr DWORD kCopyBlock = 256 * 1024;

class ReadHandle {
  public:
    explicit ReadHandle(const std::string& path)
        : h_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {
        if (h_ == INVALID_HANDLE_VALUE)
            throw BuildError("cannot open " + path + ": " + SystemErrorText(GetLastError()));
    }
    ~ReadHandle() { CloseHandle(h_); }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

} // namespace

std::string SystemErrorText(DWORD code) {
    char* buf = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<char*>(&buf), 0, nullptr);
    std::string text = n && buf ? std::string(buf, n) : std::string();
    if (buf) LocalFree(buf);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty()) text = "system error " + std::to_string(code);
    return text;
}

uint64_t FileSize64(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        throw BuildError("cannot read " + path + ": " + SystemErrorText(GetLastError()));
    return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

std::string ReadSmallFile(const std::string& path, uint64_t maxSize) {
    ReadHandle in(path);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(in.get(), &size))
        throw BuildError("cannot read " + path + ": " + SystemErrorText(GetLastError()));
    if (static_cast<uint64_t>(size.QuadPart) > maxSize)
        throw BuildError(path + " is larger than " + std::to_string(maxSize) + " bytes");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() &&
        (!ReadFile(in.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
         got != bytes.size()))
        throw BuildError("cannot read " + path + ": " + SystemErrorText(GetLastError()));
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    OutputFile out;
    out.Open(path);
    out.Write(bytes.data(), bytes.size());
    out.Close();
}

OutputFile::~OutputFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

void OutputFile::Open(const std::string& path) {
    path_ = path;
    size_ = 0;
    handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE)
        throw BuildError("cannot write " + path + ": " + SystemErrorText(GetLastError()));
}

void OutputFile::Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, kCopyBlock));
        DWORD put = 0;
        if (!WriteFile(handle_, p, chunk, &put, nullptr) || put != chunk)
            throw BuildError("cannot write " + path_ + ": " + SystemErrorText(GetLastError()));
        p += chunk;
        size -= chunk;
        size_ += chunk;
    }
}

void OutputFile::WriteZeros(uint64_t count) {
    std::vector<char> zeros(static_cast<size_t>(std::min<uint64_t>(count, kCopyBlock)), 0);
    while (count > 0) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, zeros.size()));
        Write(zeros.data(), chunk);
        count -= chunk;
    }
}

uint64_t OutputFile::Append(const std::string& path) {
    ReadHandle in(path);
    std::vector<char> buf(kCopyBlock);
    uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.get(), buf.data(), kCopyBlock, &got, nullptr))
            throw BuildError("cannot read " + path + ": " + SystemErrorText(GetLastError()));
        if (got == 0) break;
        Write(buf.data(), got);
        total += got;
    }
    return total;
}

void OutputFile::Close() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    BOOL ok = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (!ok) throw BuildError("cannot write " + path_ + ": " + SystemErrorText(GetLastError()));
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
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

WorkFolder::WorkFolder() {
    static std::atomic<unsigned> counter{0};
    std::string base = TempDir();
    if (base.empty()) throw BuildError("cannot find the temporary folder");
    for (int attempt = 0;; ++attempt) {
        std::string path = base + "\\mksetup-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount()) + "-" + std::to_string(counter++);
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            path_ = path;
            return;
        }
        DWORD err = GetLastError();
        if (err != ERROR_ALREADY_EXISTS || attempt > 100)
            throw BuildError("cannot create a work folder in " + base + ": " +
                             SystemErrorText(err));
    }
}

WorkFolder::~WorkFolder() {
    RemoveFolderTree(path_);
}

} // namespace mksetup
