// [Registry] records: creates a key (and its missing parents) in the chosen view,
// writes one value, and tells the uninstall record what this setup made.
#include "config/IniFile.h"
#include "items/ItemHandlers.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Registry.h"
#include "record/ItemFailure.h"
#include "record/UndoJournal.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/SetupLog.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The largest REG_BINARY value a record may write; longer data is a write failure.
constexpr size_t kMaxBinaryBytes = 4096;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decimal, or hexadecimal after "$" or "0x"; leading blanks and one sign allowed,
// nothing after the digits. Hexadecimal takes up to eight significant digits as the
// 32-bit pattern; decimal must lie within the signed 32-bit range.
bool ParseDword(const std::string& text, int32_t& out) {
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t v = 0;
    if (i < n && text[i] == '$')
        ++i;
    else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        i += 2;
    else {
        if (i == n) return false;
        const uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
        uint64_t d = 0;
        for (; i < n; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            d = d * 10 + static_cast<uint64_t>(text[i] - '0');
            if (d > limit) return false;
        }
        v = static_cast<uint32_t>(d);
        out = static_cast<int32_t>(negative ? 0u - v : v);
        return true;
    }
    if (i == n) return false;
    int significant = 0;
    for (; i < n; ++i) {
        int h = HexValue(text[i]);
        if (h < 0) return false;
        if (v != 0 || h != 0) ++significant;
        if (significant > 8) return false;
        v = (v << 4) | static_cast<uint32_t>(h);
    }
    out = static_cast<int32_t>(negative ? 0u - v : v);
    return true;
}

// Two hex digits per byte, each pair followed by one separator of any kind (the last
// one may go without). A lone character at the end is passed over. False for a pair
// that is not hexadecimal or for more bytes than a value may hold.
bool DecodeBinary(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i + 2 <= text.size(); i += 3) {
        int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0 || bytes.size() >= kMaxBinaryBytes) return false;
        bytes.push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

void ReportFailure(RunContext& ctx, const std::string& logPrefix, int message,
                   const std::string& item, const FailureCause& cause) {
    ReportItemFailure(ctx, logPrefix + item,
                      FormatText(LanguageText(ctx, "Messages", message), item), cause);
}

// On failure, cause names the refused call; it stays empty for data that is not of
// the value's type, which never reaches the registry.
bool WriteValue(TRegistry& reg, const std::string& type, const std::string& name,
                const std::string& data, FailureCause& cause) {
    bool written;
    if (type == "REG_SZ") {
        written = reg.WriteString(name, data);
    } else if (type == "REG_EXPAND_SZ") {
        written = reg.WriteExpandString(name, data);
    } else if (type == "REG_DWORD") {
        int32_t v = 0;
        if (!ParseDword(data, v)) return false;
        written = reg.WriteInteger(name, v);
    } else {
        std::string bytes;
        if (!DecodeBinary(data, bytes)) return false;
        written = reg.WriteBinary(name, bytes);
    }
    if (!written) cause = LastErrorCause("RegSetValueExA");
    return written;
}

std::string WithoutTrailingBackslashes(std::string s) {
    while (!s.empty() && s.back() == '\\')
        s.pop_back();
    return s;
}

// The key path with one backslash between its names and none before or after them.
// Each key is then walked, tested and recorded under one spelling only: a doubled
// backslash would otherwise give a parent such as "Software\" whose existence test
// may fail where "Software" exists, and hand an existing key to the uninstaller.
std::string CanonicalKeyPath(const std::string& path) {
    std::string out;
    for (size_t i = 0; i < path.size();) {
        const size_t end = std::min(path.find('\\', i), path.size());
        if (end > i) {
            if (!out.empty()) out += '\\';
            out.append(path, i, end - i);
        }
        i = end + 1;
    }
    return out;
}

} // namespace

void WriteRegistryItem(RunContext& ctx, const std::string& record) {
    std::vector<std::string> f = SplitRecord(record, "*?");
    if (f.size() != 7) return;

    std::string keyField = WithoutTrailingBackslashes(f[0]);
    size_t slash = keyField.find('\\');
    if (slash == std::string::npos) return;
    std::string rootText = UpperCase(keyField.substr(0, slash));
    std::string keyPath = ExpandText(ctx, keyField.substr(slash + 1));
    std::string valueName = ExpandText(ctx, f[1]);
    std::string type = UpperCase(f[2]);
    std::string data = ExpandText(ctx, f[3]);
    bool overwrite = UpperCase(f[4]) == "YES";
    bool recordIt = UpperCase(f[5]) == "YES" && ctx.UninstallOn;
    std::string view = UpperCase(f[6]);

    bool view64 = view == "64-BIT" || (view == "DEFAULT" && ctx.Is64);
    // The uninstaller opens the view this letter names. An unknown view field was
    // written in the 32-bit view, so it is recorded as that view rather than under a
    // letter the uninstaller might read as another one.
    char letter = view == "DEFAULT" ? 'D' : view == "64-BIT" ? '6' : '3';

    HKEY root;
    std::string rootName;
    if (!ParseRegistryRoot(rootText, root, &rootName)) return;
    if (ctx.PerUser && !ctx.Admin) {
        if (rootName == "HKEY_LOCAL_MACHINE") {
            rootName = "HKEY_CURRENT_USER";
        } else if (rootName == "HKEY_CLASSES_ROOT") {
            rootName = "HKEY_CURRENT_USER";
            keyPath = "Software\\Classes\\" + keyPath;
        }
        ParseRegistryRoot(rootName, root);
    }
    keyPath = CanonicalKeyPath(keyPath);

    TRegistry reg(RegistryFullAccess(view64));
    reg.SetRootKey(root);
    const std::string keyText = rootName + "\\" + keyPath;
    const std::string entryPrefix = std::string(1, letter) + rootName + "\\";

    bool created = false;
    if (!reg.OpenKey(keyPath, false)) {
        // Existence is tested with read access: a parent the user may not open for
        // writing (HKLM\SOFTWARE for a standard user) still exists and must never be
        // handed to the uninstaller for removal.
        for (size_t i = keyPath.find('\\'); i != std::string::npos; i = keyPath.find('\\', i + 1)) {
            std::string prefix = keyPath.substr(0, i);
            if (prefix.empty() || reg.KeyExists(prefix)) continue;
            if (recordIt) RecordUninstallItem(ctx, "RegistryKeys", entryPrefix + prefix);
            JournalCreatedKey(ctx, entryPrefix + prefix);
        }
        bool existed = reg.KeyExists(keyPath);
        if (!existed) JournalCreatedKey(ctx, entryPrefix + keyPath);
        if (!reg.OpenKey(keyPath, true)) {
            ReportFailure(ctx, "Error creating registry key: ", 17, keyText,
                          LastErrorCause("RegCreateKeyExA"));
            ProcessMessages();
            return;
        }
        created = !existed;
        if (created && recordIt) RecordUninstallItem(ctx, "RegistryKeys", entryPrefix + keyPath);
    }

    if (reg.ValueExists(valueName) && !overwrite) {
        reg.CloseKey();
        ProcessMessages();
        return;
    }

    bool known =
        type == "REG_SZ" || type == "REG_EXPAND_SZ" || type == "REG_DWORD" || type == "REG_BINARY";
    if (known && !created)
        JournalRegistryValue(ctx, root, view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY,
                             entryPrefix + keyPath, keyPath, valueName);
    FailureCause cause;
    if (known && !WriteValue(reg, type, valueName, data, cause)) {
        reg.CloseKey();
        ReportFailure(ctx, "Error writing registry value: ", 18, keyText + ": " + valueName, cause);
        ProcessMessages();
        return;
    }
    reg.CloseKey();
    if (known || created)
        LogEvent(ctx, known ? "Wrote registry value: " + keyText + ": " + valueName
                            : "Created registry key: " + keyText);
    // Only a value this record wrote is the uninstaller's to remove: with an unknown
    // type a value of the same name is someone else's.
    if (known && !created && recordIt)
        RecordUninstallItem(ctx, "RegistryValues", entryPrefix + keyPath + "*?" + valueName);
    ProcessMessages();
}
