#include "SystemState.h"

#include <cstring>

RegValue ReadRegValue(HKEY root, const std::string& key, const std::string& name, REGSAM view) {
    RegValue v;
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return v;
    std::string data(1024, '\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        LONG rc = RegQueryValueExA(k, name.c_str(), nullptr, &v.type,
                                   reinterpret_cast<BYTE*>(data.data()), &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(size);
            continue;
        }
        if (rc == ERROR_SUCCESS) {
            v.present = true;
            data.resize(size);
            v.data = data;
            v.text = data.substr(0, !data.empty() && data.back() == '\0' ? size - 1 : size);
            if (v.type == REG_DWORD && size == sizeof v.number)
                std::memcpy(&v.number, data.data(), sizeof v.number);
        }
        break;
    }
    RegCloseKey(k);
    return v;
}

bool ReadRegText(HKEY root, const std::string& key, const std::string& name, std::string& out,
                 REGSAM view) {
    const RegValue v = ReadRegValue(root, key, name, view);
    if (!v.present) return false;
    out = v.type == REG_DWORD ? std::to_string(v.number) : std::string(v.text.c_str());
    return true;
}

bool RegKeyExists(HKEY root, const std::string& key, REGSAM view) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

bool WriteRegText(HKEY root, const std::string& key, const std::string& name,
                  const std::string& text, REGSAM view) {
    HKEY k;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc =
        RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

void DeleteKeyTree(HKEY root, const std::string& key, REGSAM view) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS | view, &k) != ERROR_SUCCESS) return;
    RegDeleteTreeA(k, nullptr);
    RegCloseKey(k);
    RegDeleteKeyExA(root, key.c_str(), view, 0);
}

void DeleteKeyTreeInBothViews(HKEY root, const std::string& key) {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
        DeleteKeyTree(root, key, view);
}

std::string IniValue(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& def, size_t bufferSize) {
    std::vector<char> buf(bufferSize, '\0');
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf.data(),
                                       static_cast<DWORD>(buf.size()), file.c_str());
    if (n >= buf.size()) n = static_cast<DWORD>(buf.size() - 1);
    return std::string(buf.data(), n);
}

std::vector<std::string> IniKeys(const std::string& file, const std::string& section) {
    std::vector<char> buf(1 << 16, '\0');
    DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, "", buf.data(),
                                       static_cast<DWORD>(buf.size() - 2), file.c_str());
    std::vector<std::string> keys;
    for (size_t pos = 0; pos < n && buf[pos] != '\0'; pos += std::strlen(buf.data() + pos) + 1)
        keys.emplace_back(buf.data() + pos);
    return keys;
}
