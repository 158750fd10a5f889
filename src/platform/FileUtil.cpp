#include "platform/FileUtil.h"

#include <windows.h>

#include <vector>

std::string TempDir() {
    char buf[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buf, buf);
    if (n == 0 || n > sizeof buf) return {};
    return ExcludeTrailingBackslash(std::string(buf, n));
}

std::string ModulePath() {
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

bool FileExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FullPath(const std::string& path) {
    // Asked for the length first: a fixed buffer would hand a long path back unchanged,
    // and callers that test where a path really leads would test the wrong text.
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::string full(needed, '\0');
    const DWORD n = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (n == 0 || n >= needed) return path;
    full.resize(n);
    return full;
}

std::wstring WideFromAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

bool WriteFreshFile(const std::string& path, const std::string& text) {
    DeleteFileA(path.c_str());
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    CloseHandle(f);
    return ok;
}

bool ForceDirectories(const std::string& path) {
    std::string dir = ExcludeTrailingBackslash(path);
    if (dir.empty() || DirectoryExists(dir)) return !dir.empty();
    std::string parent = ExcludeTrailingBackslash(ExtractFilePath(dir));
    // Stop at a drive ("C:") or a share root; those cannot be created.
    if (!parent.empty() && parent != dir && parent.back() != ':' && !DirectoryExists(parent))
        if (!ForceDirectories(parent)) return false;
    return CreateDirectoryA(dir.c_str(), nullptr) || DirectoryExists(dir);
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

namespace {
std::string Digits(uint64_t value, int width, unsigned base) {
    static const char kDigits[] = "0123456789ABCDEF";
    char buf[24];
    char* p = buf + sizeof buf;
    do {
        *--p = kDigits[value % base];
        value /= base;
    } while (value != 0);
    while (p > buf && buf + sizeof buf - p < width)
        *--p = '0';
    return std::string(p, buf + sizeof buf);
}
} // namespace

std::string DecimalText(uint64_t value, int width) {
    return Digits(value, width, 10);
}

std::string HexText(uint64_t value, int width) {
    return Digits(value, width, 16);
}

std::string CompactDate() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return DecimalText(t.wYear, 4) + DecimalText(t.wMonth, 2) + DecimalText(t.wDay, 2);
}
