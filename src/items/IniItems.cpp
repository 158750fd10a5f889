// [INI] records: one value written into an INI file through the system's
// profile functions, and what the uninstaller needs to take it out again.
#include "items/ItemHandlers.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "record/ItemFailure.h"
#include "record/UndoJournal.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/SetupLog.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <vector>

namespace {

// Only a path that names its drive or share says where the file goes. The
// profile functions put a bare or relative name into the Windows folder (and a
// drive-relative one depends on the current folder), so such a file field is
// refused instead of written somewhere nobody meant.
bool IsFullPath(const std::string& path) {
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
        (path[2] == '\\' || path[2] == '/'))
        return true;
    return path.size() >= 3 && (path[0] == '\\' || path[0] == '/') &&
           (path[1] == '\\' || path[1] == '/') && path[2] != '\\' && path[2] != '/';
}

// Whether the profile functions can store the entry as asked. A line break would end
// the line early and turn the rest into lines of their own (another key, another
// section); an empty name, a "]" in a section name or a "=" in a key name would be
// read back as another section or key, so the same-key check and the uninstaller
// would miss it.
bool IsStorableEntry(const std::string& section, const std::string& key, const std::string& value) {
    const auto hasLineBreak = [](const std::string& s) {
        return s.find_first_of("\r\n") != std::string::npos;
    };
    return !section.empty() && !key.empty() && section.find(']') == std::string::npos &&
           key.find('=') == std::string::npos && !hasLineBreak(section) && !hasLineBreak(key) &&
           !hasLineBreak(value);
}

// Whether the section of file holds key (compared ignoring case, as the profile
// functions do).
bool IniKeyExists(const std::string& file, const std::string& section, const std::string& key) {
    for (const std::string& name : ReadKeyList(file, section).names)
        if (SameText(name, key)) return true;
    return false;
}

void ReportIniFailure(RunContext& ctx, const std::string& file, const std::string& key,
                      const FailureCause& cause = {}) {
    ReportItemFailure(ctx, "Error INI file: " + file,
                      FormatText(LanguageText(ctx, "Messages", 19), file + "<#>" + key), cause);
}

void WriteIniValue(RunContext& ctx, const std::vector<std::string>& fields) {
    const std::string file = ExpandText(ctx, fields[0]);
    const std::string section = ExpandText(ctx, fields[1]);
    const std::string key = ExpandText(ctx, fields[2]);
    const std::string value = ExpandText(ctx, fields[3]);
    const bool overwrite = UpperCase(fields[4]) == "YES";
    const bool remove = UpperCase(fields[5]) == "YES";

    if (!IsFullPath(file) || !IsStorableEntry(section, key, value)) {
        ReportIniFailure(ctx, file, key);
        return;
    }
    const bool existed = FileExists(file);
    if (!overwrite && existed && IniKeyExists(file, section, key)) return;
    JournalIniValue(ctx, file, section, key);
    if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str())) {
        ReportIniFailure(ctx, file, key, LastErrorCause("WritePrivateProfileStringA"));
        return;
    }
    LogEvent(ctx, "Wrote INI value: " + file + " [" + section + "] " + key);
    // The item may have named one of the setup's own files: what was read of them is
    // read again.
    if (ctx.Config) ctx.Config->Invalidate();
    if (ctx.Language) ctx.Language->Invalidate();
    if (!ctx.UninstallOn || !remove) return;
    // A file the setup made goes as a whole; in a file that was there before only
    // the value is the setup's.
    if (existed)
        RecordUninstallItem(ctx, "INIValues", file + "*?" + section + "*?" + key);
    else
        RecordUninstallItem(ctx, "Files", file);
}

} // namespace

void WriteIniItem(RunContext& ctx, const std::string& record) {
    std::vector<std::string> fields = SplitRecord(record, "*?");
    if (fields.size() != 6) return;
    WriteIniValue(ctx, fields);
    ProcessMessages();
}
