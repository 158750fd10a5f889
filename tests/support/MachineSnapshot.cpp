#include "MachineSnapshot.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string WithoutTrailingBackslash(std::string s) {
    while (s.size() > 3 && s.back() == '\\')
        s.pop_back();
    return s;
}

// Whether b is a or lies below it (paths or key names, ignoring case).
bool Holds(const std::string& a, const std::string& b) {
    const std::string ua = Upper(WithoutTrailingBackslash(a)), ub = Upper(b);
    if (ua == ub) return true;
    const std::string prefix = ua.back() == '\\' ? ua : ua + "\\";
    return ub.compare(0, prefix.size(), prefix) == 0;
}

uint64_t Digest(const void* data, size_t size, uint64_t h = 1469598103934665603ull) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

std::string Hex(uint64_t v) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

// Size and a digest of the content; the content itself decides, not the file's times,
// so a file written and put back as it was counts as unchanged.
std::string FileFacts(const std::string& path, uint64_t size) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    std::string facts = "size " + std::to_string(size);
    if (h == INVALID_HANDLE_VALUE) return facts + ", unreadable";
    std::vector<char> buf(1 << 16);
    uint64_t digest = 1469598103934665603ull;
    DWORD got = 0;
    while (ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) && got > 0)
        digest = Digest(buf.data(), got, digest);
    CloseHandle(h);
    return facts + ", content " + Hex(digest);
}

std::string ValueFacts(DWORD type, const std::vector<char>& data, DWORD size) {
    std::string facts = "type " + std::to_string(type) + ", ";
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && size < 512)
        return facts + "\"" + std::string(data.data(), strnlen(data.data(), size)) + "\"";
    if (type == REG_DWORD && size == 4) {
        DWORD v;
        std::memcpy(&v, data.data(), 4);
        return facts + std::to_string(v);
    }
    return facts + std::to_string(size) + " bytes " + Hex(Digest(data.data(), size));
}

} // namespace

MachineSnapshot MachineSnapshot::Take(const SnapshotScope& scope) {
    MachineSnapshot s;
    for (const std::string& folder : scope.Folders)
        s.AddTree(WithoutTrailingBackslash(folder), scope);
    if (scope.Registry) {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            s.AddKey(HKEY_LOCAL_MACHINE, "HKLM", "", view, scope);
            s.AddKey(HKEY_CURRENT_USER, "HKCU", "", view, scope);
        }
    }
    return s;
}

void MachineSnapshot::AddTree(const std::string& root, const SnapshotScope& scope) {
    // Ignored paths that hold the root itself do not apply below it: the root was
    // named to be recorded.
    std::vector<std::string> ignored;
    for (const std::string& p : scope.IgnoredPaths)
        if (!Holds(p, root)) ignored.push_back(p);
    std::vector<std::string> pending{root};
    while (!pending.empty()) {
        const std::string folder = pending.back();
        pending.pop_back();
        const std::string base = folder.back() == '\\' ? folder : folder + "\\";
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((base + "*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) continue;
        do {
            const std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = base + name;
            if (std::any_of(ignored.begin(), ignored.end(),
                            [&](const std::string& p) { return Holds(p, path); }))
                continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A link leads to somewhere else (Wine links the user's folders to the
                // host's): recorded, not followed.
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    entries_["link " + path] = "";
                    continue;
                }
                entries_["folder " + path] = "";
                pending.push_back(path);
            } else {
                const uint64_t size =
                    (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
                entries_["file " + path] = FileFacts(path, size);
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
}

void MachineSnapshot::AddKey(HKEY root, const std::string& rootName, const std::string& path,
                             REGSAM view, const SnapshotScope& scope) {
    const std::string full = path.empty() ? rootName : rootName + "\\" + path;
    if (std::any_of(scope.IgnoredKeys.begin(), scope.IgnoredKeys.end(),
                    [&](const std::string& k) { return Holds(k, full); }))
        return;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    const std::string tag = view == KEY_WOW64_64KEY ? "64 " : "32 ";
    entries_["key " + tag + full] = "";
    DWORD subkeys = 0, maxKey = 0, values = 0, maxName = 0, maxData = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &maxKey, nullptr, &values, &maxName,
                     &maxData, nullptr, nullptr);
    std::vector<char> name(maxName + 2), data(maxData + 2);
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()),
              type = 0;
        LONG rc = RegEnumValueA(key, i, name.data(), &nameLen, nullptr, &type,
                                reinterpret_cast<BYTE*>(data.data()), &size);
        if (rc == ERROR_MORE_DATA) { // grew since the question: ask with room
            name.resize(name.size() * 2 + 256);
            data.resize(data.size() * 2 + 4096);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        entries_["value " + tag + full + " : " + std::string(name.data(), nameLen)] =
            ValueFacts(type, data, size);
    }
    std::vector<std::string> children;
    std::vector<char> child(maxKey + 2);
    for (DWORD i = 0;; ++i) {
        DWORD len = static_cast<DWORD>(child.size());
        LONG rc = RegEnumKeyExA(key, i, child.data(), &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_MORE_DATA) {
            child.resize(child.size() * 2 + 256);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) break;
        children.emplace_back(child.data(), len);
    }
    RegCloseKey(key);
    for (const std::string& c : children)
        AddKey(root, rootName, path.empty() ? c : path + "\\" + c, view, scope);
}

std::vector<std::string> MachineSnapshot::DifferencesTo(const MachineSnapshot& later) const {
    std::vector<std::string> out;
    for (const auto& [what, facts] : entries_) {
        auto it = later.entries_.find(what);
        if (it == later.entries_.end())
            out.push_back("removed " + what);
        else if (it->second != facts)
            out.push_back("changed " + what + " (" + facts + " -> " + it->second + ")");
    }
    for (const auto& [what, facts] : later.entries_)
        if (!entries_.count(what))
            out.push_back("added " + what + (facts.empty() ? "" : " (" + facts + ")"));
    std::sort(out.begin(), out.end());
    return out;
}

std::string DifferenceText(const std::vector<std::string>& differences) {
    std::string text;
    for (const std::string& d : differences)
        text += "  " + d + "\n";
    return text;
}
