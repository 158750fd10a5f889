#include "engine/Rollback.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Redirection.h"
#include "platform/Security.h"
#include "record/UndoJournal.h"
#include "removal/RemovalEngine.h"
#include "removal/RemovalSafety.h"
#include "run/RunContext.h"
#include "run/SetupKeys.h"
#include "run/SetupLog.h"

#include <windows.h>

#include <set>

namespace {

constexpr const char* kRollingBack = "Rolling back changes...";

// Passes the removal engine's reports on as rollback steps, and counts them for the
// progress.
class RollbackSink : public IRemovalSink {
  public:
    RollbackSink(const RollbackSinks& sinks, RollbackResult& result, int total)
        : sinks_(sinks), result_(result), total_(total > 0 ? total : 1) {}
    void Report(const RemovalReport& r) override {
        const bool failed = r.Outcome == RemovalOutcome::Failed ||
                            r.Outcome == RemovalOutcome::Refused ||
                            r.Outcome == RemovalOutcome::Scheduled;
        Step(r.Section + ": " + r.Item, failed,
             failed ? (r.Call.empty() ? r.Detail : r.Call + " error " + std::to_string(r.Error))
                    : std::string());
    }
    void Step(const std::string& text, bool failed, const std::string& cause) {
        ++result_.Steps;
        if (failed) ++result_.Failed;
        if (sinks_.Step) sinks_.Step(text, failed, cause);
        if (sinks_.Progress) sinks_.Progress(std::min(100, result_.Steps * 100 / total_));
    }

  private:
    const RollbackSinks& sinks_;
    RollbackResult& result_;
    int total_;
};

HKEY RootByName(const std::string& name) {
    if (name == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
    if (name == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
    if (name == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
    if (name == "HKEY_USERS") return HKEY_USERS;
    return nullptr;
}

// A number field of a journal line (a value type, file attributes); false when the
// line was damaged.
bool JournalNumber(const std::string& text, DWORD& value) {
    int32_t n = 0;
    if (!ParseIniInteger(text, n) || n < 0) return false;
    value = static_cast<DWORD>(n);
    return true;
}

// Writes a registry value's previous type and data back. The cause of a failure, or
// empty.
std::string RestoreValue(const RecordedValue& v, bool defaultView64, const std::string& type,
                         const std::string& hex, bool wide) {
    const HKEY root = RootByName(v.Key.Root);
    DWORD valueType = 0;
    if (!v.Key.Valid || !root || !JournalNumber(type, valueType))
        return "not a registry value entry";
    const bool view64 = v.Key.View == '6' || (v.Key.View == 'D' && defaultView64);
    HKEY k;
    LONG rc = RegOpenKeyExA(root, v.Key.Key.c_str(), 0,
                            KEY_SET_VALUE | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), &k);
    if (rc == ERROR_SUCCESS) {
        const std::string data = HexBytes(hex);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(data.data());
        const DWORD size = static_cast<DWORD>(data.size());
        // Written back through the calls it was read with: text data keep every character.
        rc = wide ? RegSetValueExW(k, WideFromAnsi(v.Name).c_str(), 0, valueType, bytes, size)
                  : RegSetValueExA(k, v.Name.c_str(), 0, valueType, bytes, size);
        RegCloseKey(k);
    }
    return rc == ERROR_SUCCESS ? std::string()
                               : std::string(wide ? "RegSetValueExW" : "RegSetValueExA") +
                                     " error " + std::to_string(rc);
}

// Why a backup entry must not be acted on, or empty: the run only ever moves a file to
// a backup name of its own in the same folder, and the file itself must be one the
// removal may touch.
std::string BackupRefusal(const std::string& path, const std::string& backup) {
    const std::string refused = PathRefusal(path);
    if (!refused.empty()) return refused;
    const size_t slash = path.rfind('\\');
    const std::string name = backup.substr(std::min(backup.size(), slash + 1));
    if (backup.size() <= slash + 1 ||
        !SameText(backup.substr(0, slash + 1), path.substr(0, slash + 1)) ||
        name.find('\\') != std::string::npos || name.rfind("~qvbak", 0) != 0 || name.size() < 10 ||
        !SameText(name.substr(name.size() - 4), ".tmp"))
        return "not a backup of this file";
    return {};
}

// Puts an original file back from its backup, over the run's file if one is there.
// The cause of a failure, or empty.
std::string RestoreBackup(const std::string& path, const std::string& backup,
                          const std::string& attributes) {
    DWORD previous = 0;
    if (!JournalNumber(attributes, previous)) return "not a backup entry";
    const std::string refused = BackupRefusal(path, backup);
    if (!refused.empty()) return refused;
    if (GetFileAttributesA(backup.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!MoveFileExA(backup.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        return "MoveFileExA error " + std::to_string(GetLastError());
    SetFileAttributesA(path.c_str(), previous);
    return {};
}

// Keeps only the first entry for each thing the run changed: its previous state is
// the one from before the run.
bool FirstOf(std::set<std::string>& seen, const std::string& identity) {
    return seen.insert(UpperCase(identity)).second;
}

// Opens a dead run's folder so that it can be trusted while it is undone: the handle
// shares no deletion, so the folder can be neither renamed nor replaced (by a link to
// another folder) until it is closed. Null when the folder is not one to trust: a
// link, or, for an elevated process, a folder that a process of lower rights could
// have made or written into (the user's temporary folder is open to every process of
// the user, and a journal planted there would be carried out with this process's
// rights). A process that is not elevated trusts what its own user could write.
HANDLE OpenTrustedRunFolder(const std::string& tempDir, const std::string& folder, bool elevated) {
    HANDLE h = CreateFileA(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool trusted = GetFileInformationByHandle(h, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                         (!elevated || IsPrivateFolder(h, tempDir));
    if (!trusted) {
        CloseHandle(h);
        return nullptr;
    }
    return h;
}

} // namespace

RollbackResult UndoJournalFile(const std::string& path, const RollbackSinks& sinks) {
    RollbackResult result;
    const JournalHeader header = ReadJournalHeader(path);
    const std::vector<JournalEntry> entries = ReadJournal(path);
    RollbackSink sink(sinks, result, static_cast<int>(entries.size()));

    RemovalItems items;
    std::set<std::string> seen;
    std::vector<const JournalEntry*> backups;
    // Files with a backup are not deleted: the original is moved back over the run's
    // file in one step. A delete that had to wait for a restart (the file briefly in
    // use) would otherwise remove the original put back meanwhile.
    std::set<std::string> replaced;
    for (const JournalEntry& e : entries)
        if (e.Kind == 'B' && e.Fields.size() >= 3) replaced.insert(UpperCase(e.Fields[0]));
    auto created = [&](const std::string& path) { return replaced.count(UpperCase(path)) == 0; };
    // Previous values first, newest first: a value the run created and then wrote
    // again is deleted by the engine afterwards, whatever the second write saw.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const JournalEntry& e = *it;
        const auto& f = e.Fields;
        if (e.Kind == 'V' && f.size() >= 4 && f[1] == "1") {
            const std::string cause = RestoreValue(ParseRecordedValue(f[0]), header.DefaultView64,
                                                   f[2], f[3], f.size() >= 5 && f[4] == "W");
            sink.Step("RegistryValues: " + f[0], !cause.empty(), cause);
        } else if (e.Kind == 'I' && f.size() >= 5 && f[3] == "1") {
            // Only into a file the removal could touch too (a plain absolute path).
            const std::string refused = PathRefusal(f[0]);
            const bool ok =
                refused.empty() &&
                WritePrivateProfileStringA(f[1].c_str(), f[2].c_str(), f[4].c_str(), f[0].c_str());
            sink.Step("INIValues: " + f[0] + " [" + f[1] + "] " + f[2], !ok,
                      ok ? ""
                      : !refused.empty()
                          ? refused
                          : "WritePrivateProfileStringA error " + std::to_string(GetLastError()));
        }
    }
    for (const JournalEntry& e : entries) {
        const auto& f = e.Fields;
        switch (e.Kind) {
        case 'F':
            if (created(f[0])) items.Files.push_back(f[0]);
            break;
        case 'D':
            items.Folders.push_back(f[0]);
            break;
        case 'K':
            items.RegistryKeys.push_back(ParseRecordedKey(f[0]));
            break;
        case 'V':
            if (FirstOf(seen, "V" + f[0]) && f.size() >= 2 && f[1] == "0")
                items.RegistryValues.push_back(ParseRecordedValue(f[0]));
            break;
        case 'I':
            if (f.size() >= 4 && FirstOf(seen, "I" + f[0] + "*?" + f[1] + "*?" + f[2]) &&
                f[3] == "0")
                items.IniValues.push_back(ParseRecordedIniValue(f[0] + "*?" + f[1] + "*?" + f[2]));
            break;
        case 'E':
            if (FirstOf(seen, "E" + f[0]) && f.size() >= 3)
                items.Environment.push_back(
                    ParseRecordedEnvironment(f[1] == "1" ? "W" + f[0] + "*?" + f[2] : "D" + f[0]));
            break;
        case 'R':
            // A registration of a file that replaced an earlier one stays: the original
            // comes back under the same name, and the installed copy needs it.
            if (f.size() < 2 || !created(f[1])) break;
            if (f[0] == "Fonts") items.Fonts.push_back(f[1]);
            if (f[0] == "ActiveX") items.ActiveX.push_back(f[1]);
            if (f[0] == "TypeLibrary") items.TypeLibraries.push_back(f[1]);
            if (f[0] == "ScreenSaver") items.ScreenSavers.push_back(f[1]);
            if (f[0] == "Wallpaper") items.Wallpapers.push_back(f[1]);
            break;
        case 'B':
            if (f.size() >= 3) backups.push_back(&e);
            break;
        default:
            break;
        }
    }

    RemovalOptions options;
    options.DefaultView64 = header.DefaultView64;
    options.SystemEnvironment = header.SystemEnvironment;
    TRemovalEngine engine(sink, options);
    engine.Unregister(items);
    engine.RemoveSettings(items);
    engine.RemoveFiles(items);
    // The originals return before the folders are looked at (a folder that holds one
    // was there before the run and is not removed anyway).
    for (auto it = backups.rbegin(); it != backups.rend(); ++it) {
        const auto& f = (*it)->Fields;
        const std::string cause = RestoreBackup(f[0], f[1], f[2]);
        sink.Step("Files: " + f[0] + " (original)", !cause.empty(), cause);
        if (!cause.empty()) result.KeptBackups.push_back(f[1]);
    }
    engine.RemoveFolders(items);
    engine.RemoveDeferredFiles();
    DeleteFileA(path.c_str());
    return result;
}

bool RollbackArmed(const RunContext& ctx) {
    return ctx.Journal && ctx.Journal->IsOpen();
}

void RollBackInstallation(RunContext& ctx) {
    if (!ctx.Journal) return;
    const std::string path = ctx.Journal->Path();
    ctx.Journal->Close();
    ctx.Journal.reset();

    AddLogLine(ctx, kRollingBack);
    ctx.View.LTask = kRollingBack;
    ctx.View.LFile.clear();
    ctx.View.ProgressBar1 = 0;
    ctx.ShowInstallView();
    // The user sees what happens now, even when the rollback is over in a moment.
    ProcessMessages();
    RollbackSinks sinks;
    sinks.Step = [&ctx](const std::string& step, bool failed, const std::string& cause) {
        if (failed) {
            AddLogLine(ctx, "Rollback step failed: " + step);
            AddLogDetail(ctx, cause);
        }
    };
    DWORD lastPump = GetTickCount();
    sinks.Progress = [&ctx, &lastPump](int percent) {
        if (percent == ctx.View.ProgressBar1) return;
        ctx.View.ProgressBar1 = percent;
        ctx.ShowInstallView();
        // Repaints now and then; the Cancel button has nothing more to cancel.
        if (GetTickCount() - lastPump >= 50) {
            ProcessMessages();
            lastPump = GetTickCount();
        }
    };
    // A 64-bit setup wrote the real system folders: its files are undone there too.
    const bool wasOff = ctx.Redirection.Off;
    if (ctx.Is64) DisableRedirection(ctx.Redirection);
    const RollbackResult result = UndoJournalFile(path, sinks);
    if (!wasOff) RestoreRedirection(ctx.Redirection);
    for (const std::string& backup : result.KeptBackups)
        AddLogLine(ctx, "Original kept in: " + backup);
    ctx.View.ProgressBar1 = 100;
    ctx.ShowInstallView();
}

RollbackResult RecoverUnfinishedRuns(RunContext& ctx, const std::string& tempDir,
                                     const std::string& guid) {
    RollbackResult total;
    if (guid.empty()) return total;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(JoinPath(tempDir, "QVTMP*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return total;
    std::vector<std::string> folders;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            folders.push_back(JoinPath(tempDir, fd.cFileName));
    } while (FindNextFileA(h, &fd));
    FindClose(h);

    const bool elevated = IsElevatedToken();
    for (const std::string& folder : folders) {
        if (SameText(folder, ctx.SetupTempDir)) continue;
        const std::string journal = JoinPath(folder, kJournalName);
        if (!FileExists(journal)) continue;
        HANDLE held = OpenTrustedRunFolder(tempDir, folder, elevated);
        if (!held) {
            AddLogLine(ctx, "Journal not trusted, left alone: " + journal);
            continue;
        }
        const JournalHeader header = ReadJournalHeader(journal);
        // A setup still running holds its journal open for writing: not ours to undo.
        HANDLE probe = header.Valid && SameText(header.Guid, guid)
                           ? CreateFileA(journal.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr)
                           : INVALID_HANDLE_VALUE;
        if (probe == INVALID_HANDLE_VALUE) {
            CloseHandle(held);
            continue;
        }
        CloseHandle(probe);

        AddLogLine(ctx, "Finishing the rollback of an unfinished installation: " + folder);
        RollbackSinks sinks;
        sinks.Step = [&ctx](const std::string& step, bool failed, const std::string& cause) {
            if (failed) {
                AddLogLine(ctx, "Rollback step failed: " + step);
                AddLogDetail(ctx, cause);
            }
        };
        // A 64-bit run wrote the real system folders: undone there too.
        const bool wasOff = ctx.Redirection.Off;
        if (header.DefaultView64) DisableRedirection(ctx.Redirection);
        RollbackResult r = UndoJournalFile(journal, sinks);
        if (!wasOff) RestoreRedirection(ctx.Redirection);
        total.Steps += r.Steps;
        total.Failed += r.Failed;
        total.KeptBackups.insert(total.KeptBackups.end(), r.KeptBackups.begin(),
                                 r.KeptBackups.end());
        // The dead run's own temporary files go with its journal.
        HANDLE f = FindFirstFileA(JoinPath(folder, "*").c_str(), &fd);
        if (f != INVALID_HANDLE_VALUE) {
            do {
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
                const std::string file = JoinPath(folder, fd.cFileName);
                SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(file.c_str());
            } while (FindNextFileA(f, &fd));
            FindClose(f);
        }
        CloseHandle(held);
        RemoveDirectoryA(folder.c_str());
    }
    return total;
}

void BeginInstallJournal(RunContext& ctx) {
    ctx.Journal.reset();
    ctx.Rollback = nullptr;
    if (!ReadSetupBool(ctx, "Rollback") || ctx.SetupTempDir.empty()) return;

    const std::string guid = ReadSetupString(ctx, "GUID");
    const RollbackResult recovered = RecoverUnfinishedRuns(ctx, TempDir(), guid);
    if (!recovered.KeptBackups.empty()) {
        // Where the rollback could not put them back, the user must know where the
        // originals are.
        std::string text = "An earlier installation of this product did not finish. Some of "
                           "the files it replaced could not be put back; the originals are:";
        for (const std::string& b : recovered.KeptBackups)
            text += "\r\n" + b;
        AddLogLine(ctx, text);
        if (!ctx.Silent)
            ctx.Prompt->MessageBox(GetActiveWindow(), text, "Setup", MB_OK | MB_ICONWARNING);
    }

    JournalHeader header;
    header.Guid = guid;
    header.Product = ctx.ProductTitle;
    header.SystemEnvironment = ctx.Admin;
    header.DefaultView64 = ctx.Is64;
    // Not make_shared: without RTTI it needs the library's shared_ptr support object
    // (about 5 KB of the runtime).
    ctx.Journal.reset(new UndoJournal(JoinPath(ctx.SetupTempDir, kJournalName), header));
    if (!ctx.Journal->IsOpen()) {
        // Without a journal nothing could be undone: the run goes on as without rollback.
        AddLogLine(ctx, "Rollback unavailable: the journal could not be created");
        ctx.Journal.reset();
        return;
    }
    ctx.Rollback = [&ctx] { RollBackInstallation(ctx); };
}

void CommitInstallJournal(RunContext& ctx) {
    ctx.Rollback = nullptr;
    if (ctx.Journal) ctx.Journal->Commit();
    ctx.Journal.reset();
}
