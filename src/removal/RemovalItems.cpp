#include "removal/RemovalItems.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "record/UninstallRecord.h"

#include <windows.h>

#include <optional>

namespace {

const char kSeparator[] = "*?";

// The text before and after the first separator; false when there is none.
bool SplitOnce(const std::string& text, std::string& head, std::string& tail) {
    const size_t at = text.find(kSeparator);
    if (at == std::string::npos) return false;
    head = text.substr(0, at);
    tail = text.substr(at + 2);
    return true;
}

// A key path with its backslashes tidied: none at either end, none doubled, so that
// the depth and the protected-key comparisons see one spelling of each key.
std::string TidyKeyPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    if (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

} // namespace

RecordedKey ParseRecordedKey(const std::string& text) {
    RecordedKey k;
    k.Text = text;
    if (text.size() < 2) return k;
    k.View = static_cast<char>(UpperCase(text.substr(0, 1))[0]);
    const std::string rest = text.substr(1);
    const size_t slash = rest.find('\\');
    HKEY root;
    std::string longName;
    if (!ParseRegistryRoot(rest.substr(0, slash), root, &longName)) return k;
    k.Root = longName;
    k.Key = slash == std::string::npos ? std::string() : TidyKeyPath(rest.substr(slash + 1));
    k.Valid = true;
    return k;
}

RecordedValue ParseRecordedValue(const std::string& text) {
    RecordedValue v;
    std::string key;
    if (!SplitOnce(text, key, v.Name)) {
        v.Key.Text = text;
        return v;
    }
    v.Key = ParseRecordedKey(key);
    v.Key.Text = text;
    return v;
}

RecordedIniValue ParseRecordedIniValue(const std::string& text) {
    RecordedIniValue v;
    v.Text = text;
    const std::vector<std::string> f = SplitRecord(text, kSeparator);
    if (f.size() != 3 || f[1].empty() || f[2].empty()) return v;
    v.File = f[0];
    v.Section = f[1];
    v.Key = f[2];
    v.Valid = true;
    return v;
}

RecordedEnvironment ParseRecordedEnvironment(const std::string& text) {
    RecordedEnvironment e;
    e.Text = text;
    if (text.size() < 2) return e;
    e.Action = static_cast<char>(UpperCase(text.substr(0, 1))[0]);
    const std::string rest = text.substr(1);
    if (e.Action == 'D') {
        e.Name = rest;
    } else if (e.Action == 'W' || e.Action == 'U') {
        if (!SplitOnce(rest, e.Name, e.Data)) return e;
        // Taking out an empty text would take out a lone ";".
        if (e.Action == 'U' && e.Data.empty()) return e;
    } else {
        return e;
    }
    e.Valid = !e.Name.empty() && e.Name.find('=') == std::string::npos;
    return e;
}

std::vector<std::string> ReadRecordList(const std::string& recordPath, const std::string& section) {
    std::vector<std::string> values;
    const std::optional<std::vector<std::string>> lines = ReadSectionLines(recordPath, section);
    if (!lines) {
        // Too large to read in one go: key by key, as the system reads them.
        for (const std::string& key : RecordKeys(recordPath, section))
            values.push_back(RecordValue(recordPath, section, key));
        return values;
    }
    for (const std::string& line : *lines) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || line.front() == ';') continue; // not an entry
        const std::string value = line.substr(eq + 1);
        // A value with a blank or a quote at either end reads as the system reads it.
        values.push_back(IsPlainIniValue(value)
                             ? value
                             : RecordValue(recordPath, section, Trim(line.substr(0, eq))));
    }
    return values;
}

RemovalItems ReadRemovalItems(const std::string& recordPath) {
    RemovalItems items;
    items.Files = ReadRecordList(recordPath, "Files");
    items.Folders = ReadRecordList(recordPath, "Folders");
    for (const std::string& t : ReadRecordList(recordPath, "RegistryKeys"))
        items.RegistryKeys.push_back(ParseRecordedKey(t));
    for (const std::string& t : ReadRecordList(recordPath, "RegistryValues"))
        items.RegistryValues.push_back(ParseRecordedValue(t));
    for (const std::string& t : ReadRecordList(recordPath, "INIValues"))
        items.IniValues.push_back(ParseRecordedIniValue(t));
    for (const std::string& t : ReadRecordList(recordPath, "Environment"))
        items.Environment.push_back(ParseRecordedEnvironment(t));
    items.Fonts = ReadRecordList(recordPath, "Fonts");
    items.ActiveX = ReadRecordList(recordPath, "ActiveX");
    items.TypeLibraries = ReadRecordList(recordPath, "TypeLibrary");
    items.ScreenSavers = ReadRecordList(recordPath, "ScreenSaver");
    items.Wallpapers = ReadRecordList(recordPath, "Wallpaper");
    return items;
}
