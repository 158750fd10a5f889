#include "record/UndoJournal.h"

#include "platform/FileUtil.h"
#include "run/RunContext.h"

#include <windows.h>

#include <map>

namespace {

constexpr const char* kMagic = "QVJOURNAL1";

std::string Escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

std::vector<std::string> SplitLine(const std::string& line) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (;;) {
        const size_t tab = line.find('\t', from);
        fields.push_back(Unescape(line.substr(from, tab - from)));
        if (tab == std::string::npos) return fields;
        from = tab + 1;
    }
}

// A journal holds a line per change of one installation; far beyond what any run
// writes, a file is damaged (or not a journal) and is not read into memory.
constexpr LONGLONG kJournalLimit = 64 << 20;

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return lines;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size) || size.QuadPart > kJournalLimit) {
        CloseHandle(h);
        return lines;
    }
    std::string text;
    text.reserve(static_cast<size_t>(size.QuadPart));
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        text.append(buf, got);
    CloseHandle(h);
    size_t from = 0;
    for (;;) {
        const size_t nl = text.find('\n', from);
        // A last line without its end was cut off by a crash: it is not trusted.
        if (nl == std::string::npos) break;
        std::string line = text.substr(from, nl - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        from = nl + 1;
    }
    return lines;
}

// The journal of the running setup, or nothing when the run keeps none.
UndoJournal* Journal(RunContext& ctx) {
    return ctx.Journal && ctx.Journal->IsOpen() ? ctx.Journal.get() : nullptr;
}

// A registry value as type and raw data; false when there is none. wide: the bytes of
// the wide calls, in which text data come back exactly, also characters the ANSI code
// page has no place for.
bool ReadRawValue(HKEY root, REGSAM view, const std::string& keyPath, const std::string& name,
                  DWORD& type, std::string& data, bool wide = false) {
    HKEY k;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS)
        return false;
    const std::wstring wname = wide ? WideFromAnsi(name) : std::wstring();
    auto query = [&](BYTE* out, DWORD* size) {
        return wide ? RegQueryValueExW(k, wname.c_str(), nullptr, &type, out, size)
                    : RegQueryValueExA(k, name.c_str(), nullptr, &type, out, size);
    };
    DWORD size = 0;
    LONG rc = query(nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        data.assign(size, '\0');
        rc = query(reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(size);
    }
    RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

} // namespace

std::string HexText(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string HexBytes(const std::string& text) {
    auto nibble = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) break;
        out += static_cast<char>(hi << 4 | lo);
    }
    return out;
}

UndoJournal::UndoJournal(const std::string& path, const JournalHeader& header) : path_(path) {
    file_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    Add('H', {kMagic, header.Guid, header.Product, header.SystemEnvironment ? "1" : "0",
              header.DefaultView64 ? "1" : "0"});
}

UndoJournal::~UndoJournal() {
    Close();
}

bool UndoJournal::Add(char kind, const std::vector<std::string>& fields) {
    if (!IsOpen()) return false;
    std::string line(1, kind);
    for (const std::string& f : fields)
        line += "\t" + Escape(f);
    line += "\r\n";
    // Straight to the system: a process that dies next still leaves the line behind.
    DWORD written = 0;
    return WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

bool UndoJournal::MoveAside(const std::string& path) {
    const std::string upper = UpperCase(path);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (!seen_.insert(upper).second || !IsOpen()) {
        // The run's own file (a partial extraction): the original is kept already.
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileA(path.c_str()) != 0;
    }
    const std::string folder = path.substr(0, path.rfind('\\') + 1);
    const std::string stem = folder + "~qvbak" + std::to_string(GetCurrentProcessId()) + "-";
    std::string backup;
    do
        backup = stem + std::to_string(++counter_) + ".tmp";
    while (GetFileAttributesA(backup.c_str()) != INVALID_FILE_ATTRIBUTES);
    // Journalled first: if the process dies after the rename, the next run still
    // knows where the original went. A line that cannot be written (a full disk) keeps
    // the original where it is, and this run does not overwrite it.
    if (!Add('B', {path, backup, std::to_string(attributes)})) {
        seen_.erase(upper);
        return false;
    }
    // A rename never replaces: the backup name cannot take the place of another file.
    bool kept = MoveFileExA(path.c_str(), backup.c_str(), 0) != 0;
    bool gone = kept;
    if (!kept) {
        // In use or otherwise refused: a copy keeps the original, then the file goes.
        // The copy takes the backup name only when it is whole, so a process that dies
        // while copying never leaves a part of the original to be put back over it
        // (the part itself is journalled as the run's file, and goes in the rollback).
        const std::string part = backup.substr(0, backup.size() - 4) + ".part";
        kept = Add('F', {part}) && CopyFileA(path.c_str(), part.c_str(), TRUE) &&
               MoveFileExA(part.c_str(), backup.c_str(), 0);
        if (kept) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            gone = DeleteFileA(path.c_str()) != 0;
        } else {
            DeleteFileA(part.c_str());
        }
    }
    if (!kept) {
        // Not even a copy: the original stays, and this run does not overwrite it.
        Add('N', {path});
        seen_.erase(upper);
        return false;
    }
    SetFileAttributesA(backup.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
    backups_.emplace_back(path, backup);
    return gone;
}

void UndoJournal::PutBack(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    const std::string upper = UpperCase(path);
    for (auto it = backups_.begin(); it != backups_.end(); ++it) {
        if (UpperCase(it->first) != upper) continue;
        const DWORD attributes = GetFileAttributesA(it->second.c_str());
        if (MoveFileExA(it->second.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) &&
            attributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_HIDDEN);
        backups_.erase(it);
        break;
    }
    seen_.erase(upper);
    Add('N', {path});
}

void UndoJournal::Commit() {
    for (const auto& b : backups_) {
        SetFileAttributesA(b.second.c_str(), FILE_ATTRIBUTE_NORMAL);
        // A library still loaded from its old file (renamed while in use) goes at the
        // next restart.
        if (!DeleteFileA(b.second.c_str()))
            MoveFileExA(b.second.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    backups_.clear();
    Close();
    DeleteFileA(path_.c_str());
}

void UndoJournal::Close() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

JournalHeader ReadJournalHeader(const std::string& path) {
    JournalHeader h;
    const std::vector<std::string> lines = ReadLines(path);
    if (lines.empty()) return h;
    const std::vector<std::string> f = SplitLine(lines[0]);
    if (f.size() < 6 || f[0] != "H" || f[1] != kMagic) return h;
    h.Guid = f[2];
    h.Product = f[3];
    h.SystemEnvironment = f[4] == "1";
    h.DefaultView64 = f[5] == "1";
    h.Valid = true;
    return h;
}

std::vector<JournalEntry> ReadJournal(const std::string& path) {
    std::vector<JournalEntry> entries;
    // The file entries so far by upper-case path, for the "N" lines that cancel them.
    std::map<std::string, std::vector<size_t>> files;
    const std::vector<std::string> lines = ReadLines(path);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> f = SplitLine(lines[i]);
        if (f[0].size() != 1 || f.size() < 2) continue;
        JournalEntry e{f[0][0], std::vector<std::string>(f.begin() + 1, f.end())};
        if (e.Kind == 'N') {
            // Given back: the file's earlier entries no longer apply.
            auto it = files.find(UpperCase(e.Fields[0]));
            if (it == files.end()) continue;
            for (size_t at : it->second)
                entries[at].Kind = 0;
            files.erase(it);
            continue;
        }
        if (e.Kind == 'F' || e.Kind == 'B') files[UpperCase(e.Fields[0])].push_back(entries.size());
        entries.push_back(std::move(e));
    }
    std::erase_if(entries, [](const JournalEntry& e) { return e.Kind == 0; });
    return entries;
}

void JournalCreatedFile(RunContext& ctx, const std::string& path) {
    // A folder under the name is not the run's file, and no file will take its place.
    if (DirectoryExists(path)) return;
    if (UndoJournal* j = Journal(ctx)) j->Add('F', {path});
}

void JournalCreatedFolder(RunContext& ctx, const std::string& path) {
    if (UndoJournal* j = Journal(ctx)) j->Add('D', {path});
}

void JournalCreatedKey(RunContext& ctx, const std::string& entry) {
    if (UndoJournal* j = Journal(ctx)) j->Add('K', {entry});
}

void JournalRegistryValue(RunContext& ctx, HKEY root, REGSAM view, const std::string& entry,
                          const std::string& keyPath, const std::string& valueName) {
    UndoJournal* j = Journal(ctx);
    if (!j) return;
    DWORD type = 0;
    std::string data;
    const bool existed = ReadRawValue(root, view, keyPath, valueName, type, data, true);
    // "W": the data are the wide calls' bytes (a journal without the mark holds the
    // ANSI calls' bytes).
    j->Add('V', {entry + "*?" + valueName, existed ? "1" : "0", std::to_string(type), HexText(data),
                 "W"});
}

void JournalIniValue(RunContext& ctx, const std::string& file, const std::string& section,
                     const std::string& key) {
    UndoJournal* j = Journal(ctx);
    if (!j) return;
    if (!FileExists(file)) {
        j->Add('F', {file});
        return;
    }
    // Two different defaults tell a missing key from one that holds either of them.
    std::string a(65536, '\0'), b(65536, '\0');
    const DWORD na = GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01", a.data(),
                                              static_cast<DWORD>(a.size()), file.c_str());
    const DWORD nb = GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x02", b.data(),
                                              static_cast<DWORD>(b.size()), file.c_str());
    a.resize(na);
    b.resize(nb);
    const bool existed = a == b;
    j->Add('I', {file, section, key, existed ? "1" : "0", existed ? a : std::string()});
}

void JournalEnvironment(RunContext& ctx, HKEY root, REGSAM view, const std::string& envKey,
                        const std::string& name) {
    UndoJournal* j = Journal(ctx);
    if (!j) return;
    DWORD type = 0;
    std::string data;
    const bool existed = ReadRawValue(root, view, envKey, name, type, data);
    if (existed && !data.empty() && data.back() == '\0') data.pop_back();
    j->Add('E', {name, existed ? "1" : "0", existed ? data : std::string()});
}

void JournalRegistration(RunContext& ctx, const std::string& section, const std::string& path) {
    if (UndoJournal* j = Journal(ctx)) j->Add('R', {section, path});
}

bool RemoveForOverwrite(RunContext& ctx, const std::string& path) {
    if (UndoJournal* j = Journal(ctx)) return j->MoveAside(path);
    return DeleteFileA(path.c_str()) != 0;
}

void JournalReplacedFile(RunContext& ctx, const std::string& path) {
    UndoJournal* j = Journal(ctx);
    if (!j) return;
    if (FileExists(path)) j->MoveAside(path);
    j->Add('F', {path});
}

void GiveBackFile(RunContext& ctx, const std::string& path) {
    if (UndoJournal* j = Journal(ctx)) j->PutBack(path);
}
