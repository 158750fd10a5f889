// The engine's core, files and folders.
#include "removal/RemovalEngine.h"

#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Registry.h"
#include "removal/RemovalSafety.h"

#include <shlobj.h>
#include <windows.h>

#include <utility>

namespace {

bool IsShortcut(const std::string& path) {
    const std::string name = UpperCase(ExtractFileName(path));
    for (const char* ext : {".LNK", ".PIF", ".URL"})
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ext) == 0) return true;
    return false;
}

// The system's answers that mean another program holds the file open (or runs it).
bool MeansInUse(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE;
}

bool MeansAbsent(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

} // namespace

InUseAnswer IRemovalSink::FileInUse(const std::string&, DWORD) {
    return InUseAnswer::Schedule;
}

const char* OutcomeText(RemovalOutcome outcome) {
    switch (outcome) {
    case RemovalOutcome::Done:
        return "done";
    case RemovalOutcome::Skipped:
        return "skipped";
    case RemovalOutcome::Scheduled:
        return "scheduled for the next restart";
    case RemovalOutcome::Failed:
        return "FAILED";
    case RemovalOutcome::Refused:
        return "REFUSED";
    }
    return "";
}

TRemovalEngine::TRemovalEngine(IRemovalSink& sink, RemovalOptions options)
    : sink_(sink), options_(std::move(options)) {}

void TRemovalEngine::RemoveAll(const RemovalItems& items) {
    Unregister(items);
    RemoveSettings(items);
    RemoveFiles(items);
    RemoveFolders(items);
    RemoveProductEntries(items);
    RemoveDeferredFiles();
}

void TRemovalEngine::Report(RemovalOutcome outcome, const std::string& section,
                            const std::string& item, const std::string& detail,
                            const std::string& call, DWORD error) {
    switch (outcome) {
    case RemovalOutcome::Done:
        ++tally_.Done;
        break;
    case RemovalOutcome::Skipped:
        ++tally_.Skipped;
        break;
    case RemovalOutcome::Scheduled:
        ++tally_.Scheduled;
        break;
    case RemovalOutcome::Failed:
        ++tally_.Failed;
        break;
    case RemovalOutcome::Refused:
        ++tally_.Refused;
        break;
    }
    RemovalReport r;
    r.Outcome = outcome;
    r.Section = section;
    r.Item = item;
    r.Detail = detail;
    r.Call = call;
    r.Error = error;
    sink_.Report(r);
}

void TRemovalEngine::Fail(const std::string& section, const std::string& item,
                          const std::string& call, DWORD error) {
    Report(RemovalOutcome::Failed, section, item, {}, call, error);
}

REGSAM TRemovalEngine::ViewAccess(char view) const {
    return RegistryFullAccess(view == '6' || (view == 'D' && options_.DefaultView64));
}

bool TRemovalEngine::Refuses(const std::string& section, const std::string& item,
                             const std::string& path) {
    const std::string why = PathRefusal(path);
    if (why.empty()) return false;
    Report(RemovalOutcome::Refused, section, item, why);
    return true;
}

bool TRemovalEngine::IsDeferred(const std::string& path) const {
    for (const std::string& f : options_.DeferredFiles)
        if (SameText(f, path)) return true;
    return false;
}

void TRemovalEngine::RemoveFiles(const RemovalItems& items) {
    for (auto it = items.Files.rbegin(); it != items.Files.rend(); ++it) {
        if (IsDeferred(*it)) {
            deferred_.push_back(*it);
            continue;
        }
        RemoveFile("Files", *it);
    }
}

void TRemovalEngine::RemoveFile(const std::string& section, const std::string& path) {
    if (Refuses(section, path, path)) return;
    // The delete is tried first: almost every recorded file simply goes, and a look at
    // its attributes beforehand would cost a second file-system call for each.
    bool attributesSeen = false;
    for (;;) {
        if (DeleteFileA(path.c_str())) {
            Report(RemovalOutcome::Done, section, path, "deleted");
            if (IsShortcut(path)) {
                SHChangeNotify(SHCNE_DELETE, SHCNF_PATHA, path.c_str(), nullptr);
                const std::string folder = ExcludeTrailingBackslash(ExtractFilePath(path));
                if (shortcutFolders_.insert(UpperCase(folder)).second)
                    shortcutFolderNames_.push_back(folder);
            }
            return;
        }
        const DWORD error = GetLastError();
        if (MeansAbsent(error)) {
            Report(RemovalOutcome::Skipped, section, path, "not present");
            return;
        }
        if (error == ERROR_ACCESS_DENIED && !attributesSeen) {
            // Refused: a folder under the name, or a file the installation made
            // read-only (which goes all the same); else it is in use.
            attributesSeen = true;
            const DWORD attributes = GetFileAttributesA(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                Report(RemovalOutcome::Refused, section, path, "a folder, recorded as a file");
                return;
            }
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
                continue;
        }
        if (!MeansInUse(error)) {
            Fail(section, path, "DeleteFileA", error);
            return;
        }
        switch (sink_.FileInUse(path, error)) {
        case InUseAnswer::Retry:
            continue;
        case InUseAnswer::Schedule:
            Schedule(section, path, "in use");
            return;
        case InUseAnswer::Leave:
            Fail(section, path, "DeleteFileA", error);
            return;
        }
    }
}

bool TRemovalEngine::Schedule(const std::string& section, const std::string& path,
                              const char* why) {
    if (!MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        Fail(section, path, "MoveFileExA", GetLastError());
        return false;
    }
    scheduled_.insert(UpperCase(path));
    Report(RemovalOutcome::Scheduled, section, path, why);
    return true;
}

void TRemovalEngine::RemoveFolders(const RemovalItems& items) {
    for (auto it = items.Folders.rbegin(); it != items.Folders.rend(); ++it)
        RemoveFolder(*it, false);
    // The shell shows folders whose shortcuts went without reading them again.
    for (const std::string& folder : shortcutFolderNames_)
        if (DirectoryExists(folder))
            SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA, folder.c_str(), nullptr);
}

std::string TRemovalEngine::OtherContent(const std::string& folder,
                                         const std::set<std::string>& allowed) const {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(JoinPath(folder, "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string other;
    do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        const std::string full = JoinPath(folder, name);
        if (!allowed.count(UpperCase(full))) other = full;
    } while (other.empty() && FindNextFileA(h, &fd));
    FindClose(h);
    return other;
}

void TRemovalEngine::RemoveFolder(const std::string& path, bool retry) {
    const char* section = "Folders";
    if (!retry && Refuses(section, path, path)) return;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (MeansAbsent(error))
            Report(RemovalOutcome::Skipped, section, path, "not present");
        else
            Fail(section, path, "GetFileAttributesA", error);
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Report(RemovalOutcome::Refused, section, path, "a file, recorded as a folder");
        return;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (RemoveDirectoryA(path.c_str())) {
        Report(RemovalOutcome::Done, section, path, "deleted");
        if (shortcutFolders_.count(UpperCase(path)))
            SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHA, path.c_str(), nullptr);
        return;
    }
    const DWORD error = GetLastError();
    // Held as its current folder by a program that is still ending (the uninstaller
    // the user started, say): tried again with the deferred files.
    if (error == ERROR_SHARING_VIOLATION && !retry && !deferred_.empty()) {
        waitingFolders_.push_back(path);
        return;
    }
    if (error == ERROR_DIR_NOT_EMPTY) {
        // What is left in it goes at the restart: so does the folder, after it.
        if (!scheduled_.empty() && OtherContent(path, scheduled_).empty()) {
            Schedule(section, path, "holds only what goes at the restart");
            return;
        }
        if (!retry && !deferred_.empty()) {
            std::set<std::string> allowed = scheduled_;
            for (const std::string& f : deferred_)
                allowed.insert(UpperCase(f));
            for (const std::string& f : waitingFolders_)
                allowed.insert(UpperCase(f));
            if (OtherContent(path, allowed).empty()) {
                waitingFolders_.push_back(path);
                return;
            }
        }
        Report(RemovalOutcome::Failed, section, path,
               "not empty: " + OtherContent(path, scheduled_), "RemoveDirectoryA", error);
        return;
    }
    Fail(section, path, "RemoveDirectoryA", error);
}

void TRemovalEngine::RemoveDeferredFiles() {
    std::vector<std::string> files;
    files.swap(deferred_);
    for (const std::string& f : files)
        RemoveFile("Files", f);
    std::vector<std::string> folders;
    folders.swap(waitingFolders_);
    for (const std::string& folder : folders)
        RemoveFolder(folder, true);
    ProcessMessages();
}
