// The comparison behind "OVERWRITE ONLY IF NEWER", and the release of a library that
// is about to be replaced.
#include "engine/FilePlacement.h"

#include "platform/ContainedCall.h"
#include "platform/FileUtil.h"
#include "sysinfo/SystemInfo.h"

#include <intrin.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> SplitDots(const std::string& s) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = s.find('.', start);
        parts.push_back(
            s.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) return parts;
        start = dot + 1;
    }
}

// A version part: decimal digits only, small enough for 32 bits.
bool ParsePart(const std::string& s, uint32_t& value) {
    if (s.empty() || s.size() > 9) return false;
    value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

uint64_t Ticks(const FILETIME& f) {
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

} // namespace

FILETIME GetFileDate(const std::string& path) {
    FILETIME zero{};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return zero;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return zero;
    // One bias for every file keeps the order of two times intact, which is all the
    // newer test needs (a daylight-saving-aware conversion could swap times that lie
    // in the repeated hour).
    FILETIME local;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local)) return zero;
    return local;
}

bool IsNewerFile(const std::string& newFile, const std::string& existingFile) {
    const std::vector<std::string> a = SplitDots(TOSInfo::FileVersionText(newFile));
    const std::vector<std::string> b = SplitDots(TOSInfo::FileVersionText(existingFile));
    if (a.size() == 4 && b.size() == 4) {
        for (size_t i = 0; i < 4; ++i) {
            uint32_t x, y;
            if (!ParsePart(a[i], x) || !ParsePart(b[i], y)) return false;
            if (x > y) return true;
            if (x < y) return false;
        }
        return false;
    }
    return Ticks(GetFileDate(existingFile)) < Ticks(GetFileDate(newFile));
}

namespace {

struct UnregisterCall {
    FARPROC entry;
};

void CallUnregister(void* arg) {
    using Fn = HRESULT(WINAPI*)();
    reinterpret_cast<Fn>(reinterpret_cast<void*>(static_cast<UnregisterCall*>(arg)->entry))();
}

void CallFree(void* arg) {
    FreeLibrary(static_cast<HMODULE>(arg));
}

} // namespace

void UnregisterLibrary(const std::string& path) {
    if (!FileExists(path)) return;
    // No system error box for a library whose own dependencies are missing.
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Its dependencies are looked for beside it, as when it is registered.
    HMODULE lib = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetErrorMode(oldMode);
    if (!lib) return;
    UnregisterCall call{GetProcAddress(lib, "DllUnregisterServer")};
    if (call.entry) CallContained(&CallUnregister, &call);
    // Released even after a failure, or the file would stay in use and could not be
    // replaced.
    CallContained(&CallFree, lib);
}
