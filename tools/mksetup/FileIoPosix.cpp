// The builder's file access on Linux (and other POSIX systems).
#ifndef _WIN32

#include "FileIo.h"

#include "Builder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace mksetup {

namespace {

// The attribute bits a cabinet keeps, as Windows names them.
constexpr uint16_t kReadOnly = 0x01;
constexpr uint16_t kHidden = 0x02;
constexpr uint16_t kArchive = 0x20;

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err = errno) {
    throw BuildError("cannot " + what + " " + path + ": " + SystemErrorText(err));
}

bool Stat(const std::string& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

int LastSystemError() {
    return errno;
}

std::string SystemErrorText(int code) {
    const char* text = std::strerror(code);
    return text && *text ? std::string(text) : "system error " + std::to_string(code);
}

bool IsAbsoluteHostPath(const std::string& path) {
    return !path.empty() && (path[0] == '/' || path[0] == '\\');
}

std::string FullHostPath(const std::string& path) {
    std::string p = HostPath(path);
    if (!IsAbsoluteHostPath(p)) {
        std::vector<char> cwd(PATH_MAX);
        while (!::getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE) return p;
            cwd.resize(cwd.size() * 2);
        }
        p = std::string(cwd.data()) + "/" + p;
    }
    // "." and ".." are resolved in the text, as the Windows build does: a link in the
    // path is not followed first.
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= p.size()) {
        size_t next = p.find('/', at);
        if (next == std::string::npos) next = p.size();
        std::string part = p.substr(at, next - at);
        at = next + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else {
            parts.push_back(part);
        }
    }
    std::string full;
    for (const std::string& part : parts)
        full += "/" + part;
    return full.empty() ? "/" : full;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return Stat(path, st) && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path) {
    struct stat st;
    return Stat(path, st) && S_ISDIR(st.st_mode);
}

bool IsReadOnlyFile(const std::string& path) {
    struct stat st;
    return Stat(path, st) && !S_ISDIR(st.st_mode) && (st.st_mode & 0222) == 0;
}

std::string ProgramPath() {
    std::vector<char> buf(PATH_MAX);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
    std::vector<FolderEntry> entries;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno == ENOENT) return entries;
        Fail("list", folder);
    }
    errno = 0;
    while (const dirent* d = ::readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        const std::string full = folder + "/" + name;
        struct stat link, target;
        if (::lstat(full.c_str(), &link) != 0) continue;
        const bool isLink = S_ISLNK(link.st_mode);
        if (isLink && !Stat(full, target)) continue; // a dangling link
        const bool isFolder = S_ISDIR(isLink ? target.st_mode : link.st_mode);
        // A link to a folder may lead back up the tree.
        if (isFolder && isLink) continue;
        entries.push_back({name, isFolder});
        errno = 0;
    }
    const int err = errno;
    ::closedir(dir);
    if (err != 0) Fail("list", folder, err);
    return entries;
}

uint64_t FileSize64(const std::string& path) {
    struct stat st;
    if (!Stat(path, st)) Fail("read", path);
    return static_cast<uint64_t>(st.st_size);
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

void RemoveFolderTree(const std::string& path) {
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* d = ::readdir(dir)) {
            std::string name = d->d_name;
            if (name == "." || name == "..") continue;
            const std::string full = path + "/" + name;
            struct stat st;
            if (::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                RemoveFolderTree(full);
            else
                ::unlink(full.c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(path.c_str());
}

int64_t LocalOffsetNow() {
    const time_t now = ::time(nullptr);
    struct tm local;
    if (!::localtime_r(&now, &local)) return 0;
    return local.tm_gmtoff;
}

InputFile::InputFile(const std::string& path)
    : path_(path), handle_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (handle_ < 0) Fail("open", path);
    struct stat st;
    if (::fstat(static_cast<int>(handle_), &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(static_cast<int>(handle_));
        Fail("read", path, err);
    }
    size_ = static_cast<uint64_t>(st.st_size);
    // Local time with the offset that holds now, as the Windows build's conversion of
    // file times does: both builds give the same cabinet on one machine.
    PackDosDateTime(static_cast<int64_t>(st.st_mtime) + LocalOffsetNow(), stamp_.date, stamp_.time);
    // A file is archived until a backup clears the mark, which Linux does not keep;
    // it is read-only when nobody may write it, and hidden when its name starts with a
    // dot, as Linux shows files.
    stamp_.attributes = kArchive;
    if ((st.st_mode & 0222) == 0) stamp_.attributes |= kReadOnly;
    const std::string name = HostFileName(path);
    if (!name.empty() && name[0] == '.') stamp_.attributes |= kHidden;
}

InputFile::~InputFile() {
    ::close(static_cast<int>(handle_));
}

size_t InputFile::Read(void* data, size_t size) {
    char* p = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(static_cast<int>(handle_), p + done, size - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail("read", path_);
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

OutputFile::~OutputFile() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
}

void OutputFile::Open(const std::string& path) {
    path_ = path;
    size_ = 0;
    handle_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (handle_ < 0) {
        handle_ = -1;
        Fail("write", path);
    }
}

void OutputFile::Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(static_cast<int>(handle_), p, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            Fail("write", path_);
        }
        p += put;
        size -= static_cast<size_t>(put);
        size_ += static_cast<uint64_t>(put);
    }
}

void OutputFile::Seek(uint64_t offset) {
    if (::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) < 0)
        Fail("write", path_);
}

void OutputFile::Close() {
    if (handle_ == -1) return;
    const int rc = ::close(static_cast<int>(handle_));
    handle_ = -1;
    if (rc != 0) Fail("write", path_);
}

TempOutput::TempOutput(const std::string& output) {
    std::string folder = HostFolderOf(output);
    std::string pattern = (folder.empty() ? std::string(".") : folder) + "/.mksetup-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) Fail("write", output);
    ::close(fd);
    path_ = name.data();
}

TempOutput::~TempOutput() {
    if (!path_.empty()) RemoveFile(path_);
}

void TempOutput::Commit(const std::string& output) {
    // mkstemp makes the file private; a setup is as readable as any file written.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(path_.c_str(), 0666 & ~mask);
    if (::rename(path_.c_str(), output.c_str()) != 0) Fail("write", output);
    path_.clear();
}

} // namespace mksetup

#endif // !_WIN32
