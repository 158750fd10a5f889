#include "record/UninstallRecord.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "run/RunContext.h"
#include "run/SetupKeys.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace {

const char kRecordName[] = "qvuninstall.ini";

std::string RecordPath(const RunContext& ctx) {
    return ctx.Record.UninstallRecordPath.empty() ? JoinPath(ctx.SetupTempDir, kRecordName)
                                                  : ctx.Record.UninstallRecordPath;
}

// A value must stay on its one line: a line break written into the file would cut
// the value short and leave the rest as a line of its own, which could even read
// as another key. Breaks go back to the "<#>" the texts were written with.
std::string OneLine(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            out += "<#>";
        } else {
            out += c;
        }
    }
    return out;
}

void WriteValue(RunContext& ctx, const std::string& section, const std::string& key,
                const std::string& value) {
    if (ctx.Record.UninstallBatchDepth > 0) {
        ctx.Record.UninstallPending.push_back({section, key, OneLine(value)});
        return;
    }
    // The record file's own write failures are not detected (nothing could be done
    // about them in the middle of a run).
    WritePrivateProfileStringA(section.c_str(), key.c_str(), OneLine(value).c_str(),
                               RecordPath(ctx).c_str());
}

// A record file that does not exist yet is written whole in one go, when every held
// value reads back as written and no key comes twice. False: nothing was written.
bool WriteNewRecordFile(const std::string& path, const std::vector<std::string>& sections,
                        const std::vector<std::vector<const std::vector<std::string>*>>& writes) {
    std::string text;
    for (size_t i = 0; i < sections.size(); ++i) {
        text += "[" + sections[i] + "]\r\n";
        std::vector<std::string> keys;
        for (const auto* w : writes[i]) {
            const std::string key = UpperCase((*w)[1]);
            if (!IsPlainIniValue((*w)[2]) || std::find(keys.begin(), keys.end(), key) != keys.end())
                return false;
            keys.push_back(key);
            text += (*w)[1] + "=" + (*w)[2] + "\r\n";
        }
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false; // there already: merged section by section
    DWORD done = 0;
    const bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
                    done == text.size();
    CloseHandle(h);
    if (!ok) DeleteFileA(path.c_str());
    return ok;
}

// Writes one section's held-back values: appended to the section in one write when
// they are all new keys of plain entries, else one by one as they came.
void FlushSection(const std::string& path, const std::string& section,
                  const std::vector<const std::vector<std::string>*>& writes) {
    std::optional<std::vector<std::string>> lines = ReadSectionLines(path, section);
    bool whole = lines.has_value();
    std::vector<std::string> keys;
    if (whole)
        for (const std::string& line : *lines) {
            const size_t eq = line.find('=');
            // A line the system might not write back as it was read: one by one.
            if (eq == std::string::npos || line.front() == ';' || line.front() == ' ')
                whole = false;
            keys.push_back(UpperCase(line.substr(0, eq)));
        }
    for (const auto* w : writes) {
        const std::string key = UpperCase((*w)[1]);
        if (!IsPlainIniValue((*w)[2]) || std::find(keys.begin(), keys.end(), key) != keys.end())
            whole = false;
        keys.push_back(key);
    }
    if (!whole) {
        for (const auto* w : writes)
            WritePrivateProfileStringA(section.c_str(), (*w)[1].c_str(), (*w)[2].c_str(),
                                       path.c_str());
        return;
    }
    std::string block;
    for (const std::string& line : *lines)
        block += line + '\0';
    for (const auto* w : writes)
        block += (*w)[1] + "=" + (*w)[2] + '\0';
    block += '\0';
    WritePrivateProfileSectionA(section.c_str(), block.c_str(), path.c_str());
}

std::string Flag(bool on) {
    return on ? "1" : "0";
}

// Section names in the file ignore case, so "files" is the Files section: numbering
// it once-only by its key count would write over keys the counter hands out.
int* Counter(RunContext& ctx, const std::string& section) {
    if (SameText(section, "Files")) return &ctx.Record.UninstallFilesCount;
    if (SameText(section, "Folders")) return &ctx.Record.UninstallFoldersCount;
    if (SameText(section, "RegistryKeys")) return &ctx.Record.UninstallRegistryKeysCount;
    if (SameText(section, "RegistryValues")) return &ctx.Record.UninstallRegistryValuesCount;
    if (SameText(section, "INIValues")) return &ctx.Record.UninstallINIValuesCount;
    return nullptr;
}

void SetCountersFromRecord(RunContext& ctx) {
    std::string path = RecordPath(ctx);
    for (const char* section : {"Files", "Folders", "RegistryKeys", "RegistryValues", "INIValues"})
        *Counter(ctx, section) = static_cast<int>(RecordKeys(path, section).size());
}

// The sections whose keys number their entries, counted or once-only.
const char* const kListSections[] = {
    "Folders",           "Files",       "RegistryKeys", "RegistryValues",
    "INIValues",         "Environment", "Fonts",        "ActiveX",
    "TypeLibrary",       "ScreenSaver", "Wallpaper",    "ExecBeforeUninstall",
    "ExecAfterUninstall"};

// New entries take the key that is the section's entry count. An installed record
// whose keys are not simply 0, 1, 2, ... (edited by hand, written by something else,
// holding comments or keys such as "99999999999") would have entries overwritten by
// those new keys and lost to the uninstaller; its entries are renumbered from 0 in
// file order first, their values as they stand. A record in order is not touched.
void RenumberListSection(const std::string& path, const char* section) {
    const std::optional<std::vector<std::string>> lines = ReadSectionLines(path, section);
    if (!lines) return; // too large to rewrite: left as it is
    std::vector<std::string> values;
    bool inOrder = true;
    for (const std::string& line : *lines) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || line.front() == ';') {
            inOrder = false; // not an entry: dropped
            continue;
        }
        if (line.compare(0, eq, std::to_string(values.size())) != 0) inOrder = false;
        values.push_back(line.substr(eq + 1));
    }
    if (inOrder) return;
    std::string block;
    for (size_t i = 0; i < values.size(); ++i)
        block += std::to_string(i) + "=" + values[i] + '\0';
    block += '\0';
    WritePrivateProfileSectionA(section, block.c_str(), path.c_str());
}

// Update mode: carries on the installed copy's record so its items stay listed and
// new ones are numbered after them. False when there is none or it cannot be copied;
// the run then starts a record of its own rather than having none.
bool ContinueInstalledRecord(RunContext& ctx) {
    if (!ctx.Wizard.Edit1Disabled) return false;
    std::string installed = JoinPath(ctx.Wizard.Edit1, "Uninstall.ini");
    if (!FileExists(installed)) return false;
    std::string path = RecordPath(ctx);
    if (!CopyFileA(installed.c_str(), path.c_str(), FALSE)) return false;
    // A read-only installed record would make every later write fail unseen.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ProcessMessages();
    for (const char* section : kListSections)
        RenumberListSection(path, section);
    FlushRecordFile(path);
    SetCountersFromRecord(ctx);
    return true;
}

void WriteFixedSections(RunContext& ctx) {
    for (int i = 0; i <= 6; ++i)
        WriteValue(ctx, "Messages", std::to_string(i),
                   ExpandText(ctx, LanguageText(ctx, "Uninstall", i)));
    for (int i = 0; i <= 8; ++i)
        WriteValue(ctx, "Updater", std::to_string(i),
                   ExpandText(ctx, LanguageText(ctx, "Updater", i)));

    const char* g = "General";
    WriteValue(ctx, g, "AppName", ConstantValue(ctx, PathConstant::AppName));
    WriteValue(ctx, g, "AppVersion", ConstantValue(ctx, PathConstant::AppVersion));
    WriteValue(ctx, g, "GUID", ConstantValue(ctx, PathConstant::GUID));
    WriteValue(ctx, g, "Admin", Flag(ReadSetupBool(ctx, "Admin")));
    // The uninstaller asks for the rights too; a record of a setup without it stays as it was.
    if (ReadSetupBool(ctx, "RequestElevation")) WriteValue(ctx, g, "RequestElevation", "1");
    WriteValue(ctx, g, "x64", Flag(ctx.Is64));
    // Which environment the environment items go to, for the uninstaller: it may run
    // with other rights than the installation had.
    WriteValue(ctx, g, "SystemEnvironment", Flag(ctx.Admin));
    std::string mainExe = ReadSetupString(ctx, "MainExecutable");
    if (!mainExe.empty()) WriteValue(ctx, g, "MainExecutable", ExpandText(ctx, mainExe));
    WriteValue(ctx, g, "InstallDir", ctx.Wizard.Edit1);
    WriteValue(ctx, g, "ProgramGroupDir", ConstantValue(ctx, PathConstant::ProgramGroup));
    if (ctx.UninstallOn) {
        WriteValue(ctx, g, "UninstallURL",
                   ReadSetupBool(ctx, "VisitUninstallPage")
                       ? ExpandText(ctx, ReadSetupString(ctx, "UninstallURL"))
                       : std::string());
        WriteValue(ctx, g, "UninstallForce", Flag(ReadSetupBool(ctx, "UninstallForce")));
        WriteValue(ctx, g, "UninstallRestart", Flag(ReadSetupBool(ctx, "UninstallRestart")));
        WriteValue(ctx, g, "SilentMode", Flag(ReadSetupBool(ctx, "SilentUninstall")));
    }
    if (ReadSetupBool(ctx, "Updater"))
        WriteValue(ctx, g, "UpdateURL", ExpandText(ctx, ReadSetupString(ctx, "UpdateURL")));
}

void CopyReplacing(const std::string& from, const std::string& to) {
    CopyFileA(from.c_str(), to.c_str(), FALSE); // failures are not reported
}

} // namespace

std::vector<std::string> RecordKeys(const std::string& path, const std::string& section) {
    return ReadKeyList(path, section).names;
}

std::string RecordValue(const std::string& path, const std::string& section,
                        const std::string& key) {
    std::vector<char> buf(1024);
    DWORD n;
    for (;;) {
        n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buf.data(),
                                     static_cast<DWORD>(buf.size()), path.c_str());
        if (n + 1 < buf.size()) break;
        buf.resize(buf.size() * 2);
    }
    return std::string(buf.data(), n);
}

void FlushRecordFile(const std::string& path) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

void OpenUninstallRecord(RunContext& ctx) {
    ctx.Record.UninstallRecordPath = JoinPath(ctx.SetupTempDir, kRecordName);
    ctx.Record.UninstallFilesCount = ctx.Record.UninstallFoldersCount =
        ctx.Record.UninstallRegistryKeysCount = 0;
    ctx.Record.UninstallRegistryValuesCount = ctx.Record.UninstallINIValuesCount = 0;
    // Nothing cached for this path may survive into the new record.
    FlushRecordFile(ctx.Record.UninstallRecordPath);
    ctx.Record.UninstallRecordContinued = ContinueInstalledRecord(ctx);
    // A fresh record holds only this run's items: counters at 0 over a left-over
    // file would mix old and new keys.
    if (!ctx.Record.UninstallRecordContinued) DeleteFileA(ctx.Record.UninstallRecordPath.c_str());
    ctx.Record.UninstallRecordOpen = true;
    UninstallRecordBatch batch(ctx);
    WriteFixedSections(ctx);
}

void FlushUninstallRecord(RunContext& ctx) {
    if (ctx.Record.UninstallPending.empty()) return;
    std::vector<std::vector<std::string>> pending;
    pending.swap(ctx.Record.UninstallPending);
    const std::string path = RecordPath(ctx);
    // Sections in the order they were first written, each with its writes in order.
    std::vector<std::string> sections;
    for (const auto& w : pending)
        if (std::none_of(sections.begin(), sections.end(),
                         [&](const std::string& s) { return SameText(s, w[0]); }))
            sections.push_back(w[0]);
    std::vector<std::vector<const std::vector<std::string>*>> writes(sections.size());
    for (size_t i = 0; i < sections.size(); ++i)
        for (const auto& w : pending)
            if (SameText(w[0], sections[i])) writes[i].push_back(&w);
    if (WriteNewRecordFile(path, sections, writes)) return;
    for (size_t i = 0; i < sections.size(); ++i)
        FlushSection(path, sections[i], writes[i]);
}

UninstallRecordBatch::UninstallRecordBatch(RunContext& ctx) : ctx_(ctx) {
    ++ctx_.Record.UninstallBatchDepth;
}

UninstallRecordBatch::~UninstallRecordBatch() {
    if (--ctx_.Record.UninstallBatchDepth == 0) {
        try {
            FlushUninstallRecord(ctx_);
        } catch (...) {
            // Out of memory while writing: what was held back is lost, as a failed
            // write of the record would lose it.
        }
    }
}

void RecordUninstallItem(RunContext& ctx, const std::string& section, const std::string& text) {
    if (!ctx.Record.UninstallRecordOpen) return;
    if (int* counter = Counter(ctx, section)) {
        WriteValue(ctx, section, std::to_string(*counter), text);
        ++*counter;
        return;
    }
    FlushUninstallRecord(ctx); // the check below reads the file
    std::string path = RecordPath(ctx);
    std::vector<std::string> keys = RecordKeys(path, section);
    std::string stored = OneLine(text);
    for (const std::string& key : keys)
        if (SameText(RecordValue(path, section, key), stored)) return;
    WriteValue(ctx, section, std::to_string(keys.size()), text);
}

void RecordProgramFiles(RunContext& ctx) {
    // A continued record already lists the uninstaller and its record.
    if (ctx.UninstallOn && !ctx.Record.UninstallRecordContinued) {
        RecordUninstallItem(ctx, "Files", ctx.Wizard.Edit1 + "\\Uninstall.exe");
        RecordUninstallItem(ctx, "Files", ctx.Wizard.Edit1 + "\\Uninstall.ini");
    }
    if (ReadSetupBool(ctx, "Updater"))
        RecordUninstallItem(ctx, "Files", ctx.Wizard.Edit1 + "\\Updater.exe");
}

UpdaterRecords BuildUpdaterRecords(const RunContext& ctx) {
    UpdaterRecords r;
    if (!ReadSetupBool(ctx, "AutoCheckUpdate")) return r;
    // The Run key follows the user's rights, not the installation's scope: an
    // administrator's per-user installation still starts the updater for everyone.
    r.Registry.push_back(std::string(ctx.Admin ? "HKLM" : "HKCU") +
                         "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run*?<AppName>*?REG_SZ*?"
                         "\"<InstallDir>\\Updater.exe\" /X*?Yes*?Yes*?Default");
    const std::string file = "<AppData>\\<AppName>.ini*?Setup*?";
    const std::string tail = "*?Yes*?Yes";
    r.Ini.push_back(file + "AutoCheckUpdate*?1" + tail);
    r.Ini.push_back(file + "UpdateDay*?" + ReadSetupString(ctx, "UpdateDay") + tail);
    r.Ini.push_back(file + "AutoSilentUpdate*?" + Flag(ReadSetupBool(ctx, "AutoSilentUpdate")) +
                    tail);
    r.Ini.push_back(file + "LastCheckDate*?<FormatDate>" + tail);
    return r;
}

void CloseUninstallRecord(RunContext& ctx) {
    if (!ctx.Record.UninstallRecordOpen) return;
    FlushUninstallRecord(ctx);
    FlushRecordFile(RecordPath(ctx));
    ctx.Record.UninstallRecordOpen = false;
}

void PlaceUninstallRecord(RunContext& ctx) {
    std::string record = RecordPath(ctx);
    CloseUninstallRecord(ctx);
    // The profile functions may still hold writes in memory; the copy must see them.
    FlushRecordFile(record);
    if (ctx.UninstallOn) {
        CopyReplacing(record, JoinPath(ctx.Wizard.Edit1, "Uninstall.ini"));
        CopyReplacing(JoinPath(ctx.SetupTempDir, "QVUninstall.exe"),
                      JoinPath(ctx.Wizard.Edit1, "Uninstall.exe"));
    }
    if (ReadSetupBool(ctx, "Updater"))
        CopyReplacing(JoinPath(ctx.SetupTempDir, "QVUpdater.exe"),
                      JoinPath(ctx.Wizard.Edit1, "Updater.exe"));
}
