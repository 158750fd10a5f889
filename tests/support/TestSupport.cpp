#include "TestSupport.h"

#include "FileIo.h"

#include <windows.h>

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

bool SixtyFourBitWindows() {
    if (sizeof(void*) == 8) return true;
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

TempEnvironment::TempEnvironment(const std::string& folder) {
    oldTemp_ = GetEnv("TEMP", hadTemp_);
    oldTmp_ = GetEnv("TMP", hadTmp_);
    SetEnvironmentVariableA("TEMP", folder.c_str());
    SetEnvironmentVariableA("TMP", folder.c_str());
}

TempEnvironment::~TempEnvironment() {
    SetEnvironmentVariableA("TEMP", hadTemp_ ? oldTemp_.c_str() : nullptr);
    SetEnvironmentVariableA("TMP", hadTmp_ ? oldTmp_.c_str() : nullptr);
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
