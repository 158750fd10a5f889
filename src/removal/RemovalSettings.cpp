// Registry values and keys, INI values and environment variables.
#include "removal/RemovalEngine.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Registry.h"
#include "removal/RemovalSafety.h"

#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <optional>

namespace {

const char kSystemEnvironment[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char kUserEnvironment[] = "Environment";

size_t Depth(const std::string& key) {
    return std::count(key.begin(), key.end(), '\\');
}

bool HasClassesPart(const std::string& key) {
    const std::string upper = "\\" + UpperCase(key) + "\\";
    return upper.find("\\CLASSES\\") != std::string::npos;
}

// A "%NAME%" reference, which only an expandable value resolves.
bool HoldsReference(const std::string& text) {
    const size_t first = text.find('%');
    if (first == std::string::npos) return false;
    const size_t second = text.find('%', first + 1);
    return second != std::string::npos && second > first + 1;
}

// The text with one occurrence of the added part taken out: at the end (appended),
// at the start (prepended), or between two others. Nothing when it is not there.
std::optional<std::string> WithoutAddedText(const std::string& value, const std::string& added) {
    const std::string tail = ";" + added;
    if (value.size() >= tail.size() &&
        value.compare(value.size() - tail.size(), tail.size(), tail) == 0)
        return value.substr(0, value.size() - tail.size());
    const std::string head = added + ";";
    if (value.compare(0, head.size(), head) == 0) return value.substr(head.size());
    const size_t middle = value.find(";" + added + ";");
    if (middle != std::string::npos)
        return value.substr(0, middle) + value.substr(middle + added.size() + 1);
    if (value == added) return std::string();
    return std::nullopt;
}

// Whether a section of an INI file holds key (compared as the profile functions do);
// and how many entries it holds in all.
bool IniSectionHolds(const std::string& file, const std::string& section, const std::string& key,
                     size_t& entries) {
    const std::optional<std::vector<std::string>> lines = ReadSectionLines(file, section);
    entries = lines ? lines->size() : 1;
    if (!lines) return true; // too large to look at: let the system try
    for (const std::string& line : *lines)
        if (SameText(Trim(line.substr(0, line.find('='))), key)) return true;
    return false;
}

} // namespace

void TRemovalEngine::RemoveSettings(const RemovalItems& items) {
    for (const RecordedValue& v : items.RegistryValues)
        RemoveValue(v);

    // Deepest first; of keys equally deep, the later recorded first.
    std::vector<const RecordedKey*> keys;
    for (auto it = items.RegistryKeys.rbegin(); it != items.RegistryKeys.rend(); ++it)
        if (!(it->Valid && IsInstalledProgramsEntry(it->Key))) keys.push_back(&*it);
    std::stable_sort(keys.begin(), keys.end(), [](const RecordedKey* a, const RecordedKey* b) {
        return Depth(a->Key) > Depth(b->Key);
    });
    bool classes = false;
    for (const RecordedKey* k : keys) {
        RemoveKey(*k);
        classes = classes || (k->Valid && HasClassesPart(k->Key));
    }
    // File types went with the classes: the shell forgets its pictures of them.
    if (classes) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    ProcessMessages();

    for (auto it = items.IniValues.rbegin(); it != items.IniValues.rend(); ++it)
        RemoveIniValue(*it);

    // Undone in reverse: a variable overwritten and then extended gets its text taken
    // out before its old value comes back.
    bool changed = false;
    for (auto it = items.Environment.rbegin(); it != items.Environment.rend(); ++it)
        changed = UndoEnvironment(*it) || changed;
    if (changed)
        SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>("Environment"), SMTO_ABORTIFHUNG, 5000,
                            nullptr);
    ProcessMessages();
}

void TRemovalEngine::RemoveProductEntries(const RemovalItems& items) {
    for (auto it = items.RegistryKeys.rbegin(); it != items.RegistryKeys.rend(); ++it)
        if (it->Valid && IsInstalledProgramsEntry(it->Key)) RemoveKey(*it);
}

void TRemovalEngine::RemoveValue(const RecordedValue& v) {
    const char* section = "RegistryValues";
    const std::string& item = v.Key.Text;
    HKEY root;
    if (!v.Key.Valid || !ParseRegistryRoot(v.Key.Root, root)) {
        Report(RemovalOutcome::Refused, section, item, "not a registry value entry");
        return;
    }
    if (v.Key.Key.empty()) {
        Report(RemovalOutcome::Refused, section, item, "a registry root");
        return;
    }
    TRegistry reg(ViewAccess(v.Key.View));
    reg.SetRootKey(root);
    if (!reg.OpenKey(v.Key.Key, false)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            Report(RemovalOutcome::Skipped, section, item, "its key is not present");
        else
            Fail(section, item, "RegOpenKeyExA", error);
        return;
    }
    if (!reg.ValueExists(v.Name)) {
        Report(RemovalOutcome::Skipped, section, item, "not present");
        return;
    }
    if (!reg.DeleteValue(v.Name)) {
        Fail(section, item, "RegDeleteValueA", GetLastError());
        return;
    }
    Report(RemovalOutcome::Done, section, item, "deleted");
}

void TRemovalEngine::RemoveKey(const RecordedKey& k) {
    const char* section = "RegistryKeys";
    HKEY root;
    if (!k.Valid || !ParseRegistryRoot(k.Root, root)) {
        Report(RemovalOutcome::Refused, section, k.Text, "not a registry key entry");
        return;
    }
    const std::string why = KeyRefusal(k.Root, k.Key);
    if (!why.empty()) {
        Report(RemovalOutcome::Refused, section, k.Text, why);
        return;
    }
    TRegistry reg(ViewAccess(k.View));
    reg.SetRootKey(root);
    if (!reg.KeyExists(k.Key)) {
        Report(RemovalOutcome::Skipped, section, k.Text, "not present");
        return;
    }
    if (!reg.DeleteKey(k.Key)) {
        Fail(section, k.Text, "RegDeleteKeyExA", GetLastError());
        return;
    }
    Report(RemovalOutcome::Done, section, k.Text, "deleted with everything below it");
}

void TRemovalEngine::RemoveIniValue(const RecordedIniValue& v) {
    const char* section = "INIValues";
    if (!v.Valid) {
        Report(RemovalOutcome::Refused, section, v.Text, "not an INI value entry");
        return;
    }
    if (Refuses(section, v.Text, v.File)) return;
    if (!FileExists(v.File)) {
        Report(RemovalOutcome::Skipped, section, v.Text, "its file is not present");
        return;
    }
    size_t entries = 0;
    if (!IniSectionHolds(v.File, v.Section, v.Key, entries)) {
        Report(RemovalOutcome::Skipped, section, v.Text, "not present");
        return;
    }
    if (!WritePrivateProfileStringA(v.Section.c_str(), v.Key.c_str(), nullptr, v.File.c_str())) {
        Fail(section, v.Text, "WritePrivateProfileStringA", GetLastError());
        return;
    }
    std::string detail = "deleted";
    // The section was there for this value only: it goes with it.
    const std::optional<std::vector<std::string>> left = ReadSectionLines(v.File, v.Section);
    if (left && left->empty()) {
        WritePrivateProfileStringA(v.Section.c_str(), nullptr, nullptr, v.File.c_str());
        detail = "deleted, and its section, left empty";
    }
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, v.File.c_str());
    Report(RemovalOutcome::Done, section, v.Text, detail);
}

bool TRemovalEngine::UndoEnvironment(const RecordedEnvironment& e) {
    const char* section = "Environment";
    if (!e.Valid) {
        Report(RemovalOutcome::Refused, section, e.Text, "not an environment entry");
        return false;
    }
    TRegistry reg(RegistryFullAccess(options_.DefaultView64));
    reg.SetRootKey(options_.SystemEnvironment ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER);
    if (!reg.OpenKey(options_.SystemEnvironment ? kSystemEnvironment : kUserEnvironment, false)) {
        Fail(section, e.Text, "RegOpenKeyExA", GetLastError());
        return false;
    }
    const bool exists = reg.ValueExists(e.Name);
    // The installation wrote plain text; a value that refers to other variables was
    // an expandable one before (as the system's own PATH is), and is again.
    auto write = [&](const std::string& text) {
        const bool expand = reg.ValueType(e.Name) == REG_EXPAND_SZ || HoldsReference(text);
        return expand ? reg.WriteExpandString(e.Name, text) : reg.WriteString(e.Name, text);
    };
    switch (e.Action) {
    case 'D':
        if (!exists) {
            Report(RemovalOutcome::Skipped, section, e.Text, "not present");
            return false;
        }
        if (!reg.DeleteValue(e.Name)) {
            Fail(section, e.Text, "RegDeleteValueA", GetLastError());
            return false;
        }
        Report(RemovalOutcome::Done, section, e.Text, "deleted");
        return true;
    case 'W':
        if (!write(e.Data)) {
            Fail(section, e.Text, "RegSetValueExA", GetLastError());
            return false;
        }
        Report(RemovalOutcome::Done, section, e.Text, "previous value restored");
        return true;
    default: { // 'U'
        std::string value;
        if (!exists || !reg.ReadString(e.Name, value)) {
            Report(RemovalOutcome::Skipped, section, e.Text, "not present");
            return false;
        }
        const std::optional<std::string> without = WithoutAddedText(value, e.Data);
        if (!without) {
            Report(RemovalOutcome::Skipped, section, e.Text, "the added text is no longer in it");
            return false;
        }
        if (!write(*without)) {
            Fail(section, e.Text, "RegSetValueExA", GetLastError());
            return false;
        }
        Report(RemovalOutcome::Done, section, e.Text, "added text taken out");
        return true;
    }
    }
}
