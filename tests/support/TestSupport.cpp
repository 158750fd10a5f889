#include "TestSupport.h"

#include "FileIo.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::string GetEnv(const char* name, bool& present) {
    char buf[32768];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    present = n > 0 && n < sizeof buf;
    return present ? std::string(buf, n) : std::string();
}

WIN32_FILE_ATTRIBUTE_DATA Attributes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d);
    return d;
}

// Names matching the pattern that pass the filter, in the order the system lists them.
template <class Keep> std::vector<std::string> Find(const std::string& pattern, Keep keep) {
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        const std::string n = fd.cFileName;
        if (n != "." && n != ".." && keep(fd)) out.push_back(n);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
}
} // namespace

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    char tmp[MAX_PATH + 1];
    GetTempPathA(sizeof tmp, tmp);
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "qvtest-%lu-%u-%lu", GetCurrentProcessId(), counter++,
                      GetTickCount());
        path_ = std::string(tmp) + name;
        if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    }
}

ScratchDir::~ScratchDir() {
    RemoveTree(path_);
}

std::string ScratchDir::operator/(const std::string& name) const {
    return path_ + "\\" + name;
}

void RemoveTree(const std::string& path) {
    mksetup::RemoveFolderTree(path);
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << "cannot create " << path;
    DWORD put = 0;
    BOOL ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(f);
    ASSERT_TRUE(ok && put == bytes.size()) << "cannot write " << path;
}

std::string ReadFileBytes(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string data;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0)
        data.append(buf, got);
    CloseHandle(f);
    return data;
}

std::string MakeSource(const ScratchDir& dir, const std::string& name, const std::string& data) {
    const std::string path = dir / ("src_" + name);
    WriteFileBytes(path, data);
    return path;
}

std::string RandomBytes(size_t size, uint32_t seed) {
    std::string s(size, '\0');
    uint32_t x = seed ? seed : 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListMatching(const std::string& pattern) {
    return Find(pattern, [](const WIN32_FIND_DATAA&) { return true; });
}

std::vector<std::string> ListFolders(const std::string& dir, const std::string& prefix) {
    return Find(dir + "\\" + prefix + "*", [](const WIN32_FIND_DATAA& fd) {
        return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    });
}

std::vector<std::string> ListFiles(const std::string& dir) {
    return Find(dir + "\\*", [](const WIN32_FIND_DATAA& fd) {
        return (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    });
}

uint64_t Ticks(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t FileWriteTime(const std::string& path) {
    return Ticks(Attributes(path).ftLastWriteTime);
}

uint64_t FileCreationTime(const std::string& path) {
    return Ticks(Attributes(path).ftCreationTime);
}

void SetFileTimeLocal(const std::string& path, int y, int mo, int d, int h, int mi, int s) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    FILETIME local, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    HANDLE f = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << "cannot open " << path;
    BOOL ok = SetFileTime(f, nullptr, nullptr, &utc);
    CloseHandle(f);
    ASSERT_TRUE(ok) << "cannot set the time of " << path;
}

std::string ShellPath(int csidl) {
    char buf[MAX_PATH] = {};
    return SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf) == S_OK ? buf : "";
}

std::string UniqueName(const std::string& prefix) {
    static std::atomic<unsigned> serial{0};
    return prefix + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) +
           "-" + std::to_string(++serial);
}

std::string NewGuid() {
    GUID g;
    CoCreateGuid(&g);
    char buf[64];
    std::snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

bool SixtyFourBitWindows() {
    if (sizeof(void*) == 8) return true;
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

std::string EnvironmentText(const char* name) {
    bool present = false;
    return GetEnv(name, present);
}

ScopedEnvironment::ScopedEnvironment(const std::string& name, const std::string& value)
    : name_(name) {
    old_ = GetEnv(name.c_str(), had_);
    SetEnvironmentVariableA(name.c_str(), value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironmentVariableA(name_.c_str(), had_ ? old_.c_str() : nullptr);
}

SeededRng::SeededRng(uint32_t seed) : x_(seed * 2654435761u + 0x9E3779B9u) {
    if (x_ == 0) x_ = 1;
}

uint32_t SeededRng::Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return x_;
}

size_t SeededRng::Below(size_t n) {
    return n == 0 ? 0 : Next() % n;
}

uint32_t SeedFromEnvironment(const char* name, uint32_t fallback) {
    char buf[32] = {};
    if (GetEnvironmentVariableA(name, buf, sizeof buf) > 0)
        return static_cast<uint32_t>(std::strtoul(buf, nullptr, 0));
    return fallback;
}

std::string Escaped(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}
