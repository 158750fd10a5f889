#include "platform/Registry.h"

#include "platform/FileUtil.h"

#include <cstring>

namespace {

// Only the view bits of an access mask (KEY_WOW64_32KEY or KEY_WOW64_64KEY).
REGSAM ViewBits(REGSAM access) {
    return access & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
}

// Key paths are relative to the root: a leading backslash would make the
// registry functions fail.
std::string Relative(const std::string& key) {
    size_t i = key.find_first_not_of('\\');
    return i == std::string::npos ? std::string() : key.substr(i);
}

// The registry functions return their error instead of setting the thread's last
// error: it is set here, so a caller can report why an operation failed. True when
// rc is success.
bool Succeeded(LONG rc) {
    if (rc != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(rc));
    return rc == ERROR_SUCCESS;
}

} // namespace

// The runtime is a 32-bit program, so its own view is the 32-bit one. A 64-bit build
// (the tests' build on hosts that run no 32-bit code) asks for that view by name,
// so both builds read and write the same keys.
constexpr REGSAM kOwnView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;

REGSAM RegistryReadAccess(bool view64) {
    return KEY_READ | (view64 ? KEY_WOW64_64KEY : kOwnView);
}

REGSAM RegistryFullAccess(bool view64) {
    return KEY_ALL_ACCESS | (view64 ? KEY_WOW64_64KEY : kOwnView);
}

bool ParseRegistryRoot(const std::string& name, HKEY& root, std::string* longName) {
    static const struct {
        const char* shortName;
        const char* longName;
        HKEY key;
    } roots[] = {
        {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKU", "HKEY_USERS", HKEY_USERS},
    };
    for (const auto& r : roots) {
        if (SameText(name, r.shortName) || SameText(name, r.longName)) {
            root = r.key;
            if (longName) *longName = r.longName;
            return true;
        }
    }
    return false;
}

TRegistry::TRegistry(REGSAM access) : access_(access) {}

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    root_ = root;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    CloseKey();
    HKEY h = nullptr;
    LONG rc;
    if (canCreate)
        rc = RegCreateKeyExA(root_, Relative(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             access_, nullptr, &h, nullptr);
    else
        rc = RegOpenKeyExA(root_, Relative(key).c_str(), 0, access_, &h);
    if (rc != ERROR_SUCCESS) return Succeeded(rc);
    key_ = h;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    CloseKey();
    HKEY h = nullptr;
    if (RegOpenKeyExA(root_, Relative(key).c_str(), 0, KEY_READ | ViewBits(access_), &h) !=
        ERROR_SUCCESS)
        return false;
    key_ = h;
    return true;
}

void TRegistry::CloseKey() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
}

bool TRegistry::KeyExists(const std::string& key) const {
    HKEY h = nullptr;
    if (RegOpenKeyExA(root_, Relative(key).c_str(), 0, KEY_READ | ViewBits(access_), &h) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

bool TRegistry::ValueExists(const std::string& name) const {
    return key_ && RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
                       ERROR_SUCCESS;
}

DWORD TRegistry::ValueType(const std::string& name) const {
    DWORD type = REG_NONE;
    if (!key_ ||
        RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return REG_NONE;
    return type;
}

bool TRegistry::QueryRaw(const std::string& name, DWORD& type, std::string& data) const {
    if (!key_) return false;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size);
    // The value can grow between the two calls: ask again until it fits.
    for (int attempt = 0; rc == ERROR_SUCCESS && attempt < 8; ++attempt) {
        data.assign(size, '\0');
        DWORD got = size;
        rc = RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &got);
        if (rc == ERROR_SUCCESS) {
            data.resize(got);
            return true;
        }
        if (rc == ERROR_MORE_DATA) {
            size = got;
            rc = ERROR_SUCCESS;
        }
    }
    return false;
}

bool TRegistry::ReadString(const std::string& name, std::string& out) const {
    DWORD type = REG_NONE;
    std::string data;
    if (!QueryRaw(name, type, data) || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    // Stored strings need not carry their terminating zero; anything from the
    // first zero on is not part of the text.
    size_t end = data.find('\0');
    if (end != std::string::npos) data.resize(end);
    out = data;
    return true;
}

bool TRegistry::ReadInteger(const std::string& name, int32_t& out) const {
    DWORD type = REG_NONE;
    std::string data;
    if (!QueryRaw(name, type, data) || type != REG_DWORD || data.size() != sizeof(DWORD))
        return false;
    DWORD v;
    memcpy(&v, data.data(), sizeof v);
    out = static_cast<int32_t>(v);
    return true;
}

bool TRegistry::ReadBinary(const std::string& name, std::string& out) const {
    DWORD type = REG_NONE;
    return QueryRaw(name, type, out);
}

bool TRegistry::SetRaw(const std::string& name, DWORD type, const void* data, size_t size) {
    if (!key_) return Succeeded(ERROR_INVALID_HANDLE);
    if (size > MAXDWORD) return Succeeded(ERROR_INVALID_PARAMETER);
    return Succeeded(RegSetValueExA(key_, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(size)));
}

bool TRegistry::WriteString(const std::string& name, const std::string& value) {
    return SetRaw(name, REG_SZ, value.c_str(), value.size() + 1);
}

bool TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
    return SetRaw(name, REG_EXPAND_SZ, value.c_str(), value.size() + 1);
}

bool TRegistry::WriteInteger(const std::string& name, int32_t value) {
    DWORD v = static_cast<DWORD>(value);
    return SetRaw(name, REG_DWORD, &v, sizeof v);
}

bool TRegistry::WriteBinary(const std::string& name, const std::string& bytes) {
    return SetRaw(name, REG_BINARY, bytes.data(), bytes.size());
}

bool TRegistry::DeleteValue(const std::string& name) {
    if (!key_) return Succeeded(ERROR_INVALID_HANDLE);
    return Succeeded(RegDeleteValueA(key_, name.c_str()));
}

bool TRegistry::GetValueNames(std::vector<std::string>& names) const {
    names.clear();
    if (!key_) return false;
    DWORD count = 0, maxLen = 0;
    if (RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         &maxLen, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::string buf(maxLen + 1, '\0');
    for (DWORD i = 0; i < count; ++i) {
        DWORD len = static_cast<DWORD>(buf.size());
        if (RegEnumValueA(key_, i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
            names.emplace_back(buf.data(), len);
    }
    return true;
}

bool TRegistry::GetKeyNames(std::vector<std::string>& names) const {
    names.clear();
    if (!key_) return false;
    DWORD count = 0, maxLen = 0;
    if (RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, &count, &maxLen, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::string buf(maxLen + 1, '\0');
    for (DWORD i = 0; i < count; ++i) {
        DWORD len = static_cast<DWORD>(buf.size());
        if (RegEnumKeyExA(key_, i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
            names.emplace_back(buf.data(), len);
    }
    return true;
}

bool TRegistry::DeleteKey(const std::string& key) {
    std::string rel = Relative(key);
    // An empty path would name the root itself.
    if (rel.empty()) return Succeeded(ERROR_INVALID_PARAMETER);
    HKEY h = nullptr;
    LONG rc = RegOpenKeyExA(root_, rel.c_str(), 0, KEY_ALL_ACCESS | ViewBits(access_), &h);
    if (rc != ERROR_SUCCESS) return Succeeded(rc);
    RegDeleteTreeA(h, nullptr);
    RegCloseKey(h);
    return Succeeded(RegDeleteKeyExA(root_, rel.c_str(), ViewBits(access_), 0));
}
