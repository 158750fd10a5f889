// The file placement phase: every [Files] record's cabinet is read in place from the
// setup file and its one file extracted to the destination. The progress bar and the
// cancel test follow the cabinet's bytes in 2048-byte blocks as the extraction reads them.
#include "engine/FilePlacement.h"

#include "config/IniFile.h"
#include "package/CabSTComps.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/SafePath.h"
#include "record/UndoJournal.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupKeys.h"
#include "run/SetupLog.h"
#include "text/ExpandText.h"
#include "text/Language.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kFilesSection = "Files";
constexpr const char* kModeOverwrite = "OVERWRITE";
constexpr const char* kModeSkip = "SKIP";
constexpr const char* kModeAsk = "ASK";
constexpr const char* kModeIfNewer = "OVERWRITE ONLY IF NEWER";
constexpr const char* kUninstallerMark = "<INSTALLDIR>\\UNINSTALL.EXE";

// The unit of progress and of the cancel test.
constexpr uint32_t kBlock = 2048;
// Pending messages are processed at most this often during an extraction
// (milliseconds): often enough to repaint and to see Cancel, rarely enough not to slow
// the extraction.
constexpr DWORD kPumpInterval = 15;

// QV_PROFILE=1 in the environment: the placement writes where its time went to
// "qvprofile.txt" in the temporary folder. Off by default; it only reads a clock.
class Profile {
  public:
    Profile() {
        char v[4] = "";
        on_ = GetEnvironmentVariableA("QV_PROFILE", v, sizeof v) == 1 && v[0] == '1';
    }
    double Now() const {
        if (!on_) return 0;
        LARGE_INTEGER t, f;
        QueryPerformanceCounter(&t);
        QueryPerformanceFrequency(&f);
        return double(t.QuadPart) / double(f.QuadPart);
    }
    // Adds the time since start to a slot.
    void Add(double& slot, double start) const {
        if (on_) slot += Now() - start;
    }
    void Write(double total, int files) const {
        if (!on_) return;
        FILETIME created, ignored, now;
        GetProcessTimes(GetCurrentProcess(), &created, &ignored, &ignored, &ignored);
        GetSystemTimeAsFileTime(&now);
        auto ticks = [](const FILETIME& t) {
            return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        auto secs = [](double t) {
            const uint64_t tenths = static_cast<uint64_t>(std::max(0.0, t) * 1e4 + 0.5);
            return DecimalText(tenths / 10000) + "." + DecimalText(tenths % 10000, 4);
        };
        const std::string line = "files " + std::to_string(files) + " placement " + secs(total) +
                                 " extract " + secs(extract) + " record " + secs(record) +
                                 " folders " + secs(folders) + " other " +
                                 secs(total - extract - record - folders) + " since-start " +
                                 secs((ticks(now) - ticks(created)) / 1e7) + "\r\n";
        HANDLE h = CreateFileA((TempDir() + "\\qvprofile.txt").c_str(), FILE_APPEND_DATA, 0,
                               nullptr, OPEN_ALWAYS, 0, nullptr);
        DWORD done;
        if (h == INVALID_HANDLE_VALUE) return;
        WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
        CloseHandle(h);
    }
    double extract = 0, record = 0, folders = 0;

  private:
    bool on_ = false;
};

class FileHandle {
  public:
    FileHandle() = default;
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    void Reset(HANDLE h) {
        Close();
        h_ = h;
    }
    void Close() {
        if (Valid()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Get() const { return h_; }

  private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Raised only when the end of the run returned (the program's never does): the
// placement must not go on after the run was ended.
struct RunAlreadyEnded {};

enum class RecordOutcome { Next, Malformed };
enum class OverallAnswer { None, All, Nothing };

// The record numbers below total that [Files] lists, in ascending order. Every other
// number is a missing record, which does nothing, so only these need to be looked at:
// a TotalFiles of two billion with a few keys spread over that range is a few reads,
// not two billion of them with the window frozen. Nothing (no value): the key list is
// beyond reason to read, and every number below total is looked up.
std::optional<std::vector<int>> RecordNumbers(const RunContext& ctx, int total) {
    if (total <= 0) return std::vector<int>{};
    KeyList keys = ReadKeyList(ctx.Config->Path(), kFilesSection);
    if (!keys.complete) return std::nullopt;
    std::vector<int> numbers;
    for (const std::string& key : keys.names) {
        // A key name read as a number the way a size field is (blanks around it, digits,
        // at most 2^31 - 1); a number the lookup then does not find only costs one read.
        uint32_t number;
        if (ParseCabinetSize(key, number) && number < static_cast<uint32_t>(total))
            numbers.push_back(static_cast<int>(number));
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

class Placement {
  public:
    explicit Placement(RunContext& ctx) : ctx_(ctx) {}

    PlacementResult Run() {
        const int total = ReadSetupInteger(ctx_, "TotalFiles");
        total_ = total;
        const double start = profile_.Now();
        offset_ = ctx_.PayloadOffset;
        OpenSetupFile();
        int placed = 0;
        const std::optional<std::vector<int>> numbers =
            ctx_.Config ? RecordNumbers(ctx_, total) : std::vector<int>{};
        auto place = [&](int i) {
            ++placed;
            if (PlaceRecord(i) != RecordOutcome::Malformed) return true;
            setup_.Close();
            return false;
        };
        if (numbers) {
            for (int i : *numbers)
                if (!place(i)) return PlacementResult::MalformedRecord;
        } else {
            for (int i = 0; i < total; ++i)
                if (!place(i)) return PlacementResult::MalformedRecord;
        }
        setup_.Close();
        ProcessMessages();
        profile_.Write(profile_.Now() - start, placed);
        return PlacementResult::Finished;
    }

  private:
    RunContext& ctx_;
    int total_ = 0;
    FileHandle setup_;
    uint64_t setupSize_ = 0;
    // Where the next cabinet starts. Summed in 64 bits: cabinet sizes of up to
    // 2147483647 each must not wrap the position back to an earlier part of the setup
    // file, and a setup file beyond 4 GiB must be read where its cabinets really lie.
    uint64_t offset_ = 0;
    OverallAnswer answer_ = OverallAnswer::None;
    DWORD lastPump_ = GetTickCount();
    // One cabinet reader (one FDI context) serves every record.
    TSTCabReader reader_;
    Profile profile_;
    // The record being placed: its number, its cabinet's size, and how far the blocks
    // of progress have come.
    int record_ = 0;
    uint32_t size_ = 0;
    uint32_t copied_ = 0;
    bool blocksDone_ = false;
    std::string lastFolder_; // the folder of the last file placed

    // The wizard window when it is in front; no owner in a silent run.
    HWND Owner() const { return GetActiveWindow(); }

    void OpenSetupFile() {
        setup_.Reset(CreateFileA(ctx_.SetupFile.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER size{};
        setupSize_ = setup_.Valid() && GetFileSizeEx(setup_.Get(), &size)
                         ? static_cast<uint64_t>(size.QuadPart)
                         : 0;
    }

    // Ends the run with exit code 1 after closing the setup file.
    [[noreturn]] void Abort() {
        setup_.Close();
        AbortSetup(ctx_);
        throw RunAlreadyEnded{};
    }

    void Advance(uint32_t size) {
        offset_ += size; // at most 2^31 records of at most 2^31 - 1 bytes: no overflow
        // The run context keeps a 32-bit copy; past its range it stays at the highest
        // value, which lies beyond any setup file it could describe.
        ctx_.PayloadOffset = static_cast<uint32_t>(std::min<uint64_t>(offset_, 0xFFFFFFFFu));
    }

    // The record was given up: the next cabinet follows, and the file's [Others]
    // items must not be registered.
    void GiveUp(uint32_t size, const std::string& dest) {
        Advance(size);
        CancelOtherItems(ctx_, dest);
    }

    void PumpNow() {
        ProcessMessages();
        lastPump_ = GetTickCount();
    }

    void PumpIfDue() {
        if (GetTickCount() - lastPump_ >= kPumpInterval) PumpNow();
    }

    // The Abort, Retry and Ignore question after a failed extraction (shown in silent
    // runs too). Returns true for Retry, false for Ignore; Abort does not return.
    bool AskAfterExtractionFailure(const std::string& dest) {
        AddLogLine(ctx_, "Error file: " + dest);
        LogEvent(ctx_, "Error file: " + dest);
        int r =
            ctx_.Prompt->MessageBox(Owner(), FormatText(LanguageText(ctx_, "Messages", 14), dest),
                                    "Setup", MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_DEFBUTTON2);
        if (r == IDRETRY) return true;
        if (r == IDIGNORE) return false;
        Abort(); // Abort, or a box that could not be shown
    }

    // A [Files] record, its fields read and its destination expanded.
    struct FileRecord {
        std::string value; // the record as stored
        std::string dest;
        uint32_t size = 0; // of its cabinet
        std::string mode;  // the exist mode, upper case
        bool record = false;
    };
    enum class Parsed { Missing, Malformed, Ready };
    // What becomes of a record whose destination was looked at.
    enum class Decision {
        Place,  // extract it (over the existing file when exists is still set)
        GiveUp, // not placed: its [Others] items are cancelled too
        PassBy, // not placed, its [Others] items stay (the overwrite question was closed)
    };

    // A record is read, decided on, then placed: each step is one method below.
    RecordOutcome PlaceRecord(int i) {
        FileRecord r;
        switch (ParseRecord(i, r)) {
        case Parsed::Missing:
            return RecordOutcome::Next;
        case Parsed::Malformed:
            return RecordOutcome::Malformed;
        case Parsed::Ready:
            break;
        }
        ctx_.View.LFile = ShortDisplayPath(r.dest);
        ctx_.ShowInstallView();

        bool exists = false;
        switch (Decide(r, exists)) {
        case Decision::GiveUp:
            GiveUp(r.size, r.dest);
            return RecordOutcome::Next;
        case Decision::PassBy:
            Advance(r.size);
            return RecordOutcome::Next;
        case Decision::Place:
            break;
        }
        Place(i, r, exists);
        return RecordOutcome::Next;
    }

    // Reads record i. A size field that is no number means a corrupted setup: the run
    // ends here.
    Parsed ParseRecord(int i, FileRecord& r) {
        const double readStart = profile_.Now();
        r.value = ctx_.Config->ReadString(kFilesSection, std::to_string(i), "");
        if (r.value.empty()) return Parsed::Missing;
        std::vector<std::string> fields = SplitRecord(r.value, "?");
        // A value of separators alone splits, as records are defined, into one empty
        // field per separator (the reader's general split gives none): four of them are
        // a record whose size is no number, a corrupted setup rather than a short record.
        if (fields.empty() && r.value.find_first_not_of('?') == std::string::npos)
            fields.assign(r.value.size(), std::string());
        if (fields.size() != 4) return Parsed::Malformed;

        std::string field1 = fields[0];
        if (ctx_.PerUser && !ctx_.Admin) field1 = PerUserDestination(field1);
        r.dest = ExpandText(ctx_, field1);
        if (!ParseCabinetSize(fields[1], r.size)) {
            LogEvent(ctx_, "The setup file is corrupted: [Files] " + std::to_string(i));
            if (!ctx_.Silent)
                ctx_.Prompt->MessageBox(Owner(), "The setup file is corrupted.", "",
                                        MB_OK | MB_ICONERROR);
            Abort();
        }
        r.mode = UpperCase(fields[2]);
        r.record = UpperCase(fields[3]) == "YES";
        profile_.Add(profile_.record, readStart);
        return Parsed::Ready;
    }

    // Whether the record is placed, given its destination and what lies there; asks the
    // overwrite question where the mode says so, and removes a file to be overwritten.
    Decision Decide(FileRecord& r, bool& exists) {
        // A destination that is not a plain absolute path could lead outside any
        // folder the setup means to write: nothing is deleted, created or extracted
        // for it, and the user hears about it as about any file that could not be placed.
        if (!IsSafeDestination(r.dest)) {
            while (AskAfterExtractionFailure(r.dest)) {
            }
            ctx_.Errors = true;
            return Decision::GiveUp;
        }

        // Looked at once; what the placement does to the file afterwards it knows.
        exists = FileExists(r.dest);
        if (!exists) return Decision::Place;
        const std::string mode = r.mode;
        // A quiet run puts the question to its own prompt, which keeps the file.
        if (ctx_.Silent && !ctx_.Quiet && r.mode == kModeAsk) r.mode = kModeOverwrite;
        if (answer_ == OverallAnswer::None && r.mode == kModeAsk) {
            switch (AskOverwrite(r.dest)) {
            case OverwriteAnswer::Yes:
                r.mode = kModeOverwrite;
                break;
            case OverwriteAnswer::No:
                r.mode = kModeSkip;
                break;
            case OverwriteAnswer::YesToAll:
                answer_ = OverallAnswer::All;
                r.mode = kModeOverwrite;
                break;
            case OverwriteAnswer::NoToAll:
                answer_ = OverallAnswer::Nothing;
                r.mode = kModeSkip;
                break;
            case OverwriteAnswer::Closed:
                if (ConfirmClose()) Abort();
                // Not installed, but its [Others] items stay.
                return Decision::PassBy;
            }
        }
        if (r.mode == kModeSkip || answer_ == OverallAnswer::Nothing) {
            LogEvent(ctx_, "Skipped file: " + r.dest + " (exists; mode " + mode + ")");
            return Decision::GiveUp;
        }
        if ((r.mode == kModeOverwrite || answer_ == OverallAnswer::All) &&
            RemoveForOverwrite(ctx_, r.dest))
            exists = false;
        return Decision::Place;
    }

    // Creates the destination's folders and extracts the record's cabinet.
    void Place(int i, const FileRecord& r, bool exists) {
        const double foldersStart = profile_.Now();
        CreateFolders(r.dest, r.record);
        profile_.Add(profile_.folders, foldersStart);

        // The uninstaller is placed at the end of the run, not from the payload.
        if (r.size == 0 && UpperCase(r.value).find(kUninstallerMark) != std::string::npos) return;

        record_ = i;
        size_ = r.size;
        copied_ = 0;
        blocksDone_ = false;
        ExtractRecord(r.dest, r.mode, r.record, exists);
    }

    OverwriteAnswer AskOverwrite(const std::string& dest) {
        return ctx_.Prompt->AskOverwrite(
            Owner(), FormatText(LanguageText(ctx_, "Messages", 12), dest), ctx_.Lang.TitleCaption);
    }

    // Closing the overwrite question asks to close the wizard, as its Cancel does:
    // confirmed, the run is cancelled.
    bool ConfirmClose() {
        int r =
            ctx_.Prompt->MessageBox(Owner(), ExpandText(ctx_, LanguageText(ctx_, "Messages", 1)),
                                    ExpandText(ctx_, LanguageText(ctx_, "Messages", 0)),
                                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        if (r != IDYES) return false;
        ctx_.Cancel = true;
        ProcessMessages();
        return true;
    }

    void CreateFolders(const std::string& dest, bool record) {
        // Files come folder by folder: the folder of the last file is known to exist.
        const std::string parent = dest.substr(0, dest.rfind('\\'));
        if (!lastFolder_.empty() && SameText(parent, lastFolder_)) return;
        // The drive ("C:\") or the server ("\\server\") is never created; the first
        // folder tested is the one below the drive, or the share itself.
        size_t from = 3;
        if (dest.size() > 2 && dest[0] == '\\' && dest[1] == '\\') from = dest.find('\\', 2) + 1;
        for (size_t p = dest.find('\\', from); p != std::string::npos; p = dest.find('\\', p + 1)) {
            const std::string folder = dest.substr(0, p);
            if (DirectoryExists(folder)) continue;
            JournalCreatedFolder(ctx_, folder);
            if (!CreateDirectoryA(folder.c_str(), nullptr)) {
                AddLogLine(ctx_, "Error creating folder: " + folder);
                LogEvent(ctx_, "Error creating folder: " + folder);
                if (!ctx_.Silent)
                    ctx_.Prompt->MessageBox(Owner(),
                                            FormatText(LanguageText(ctx_, "Messages", 13), folder),
                                            "Setup", MB_OK | MB_ICONERROR);
                Abort();
            }
            LogEvent(ctx_, "Created folder: " + folder);
            if (ctx_.UninstallOn && record) RecordUninstallItem(ctx_, "Folders", folder);
        }
        lastFolder_ = parent;
    }

    // One block of the logical copy: the progress position of the formula, a look
    // into the message queue when it is due, and the cancel test. False: cancelled.
    bool Step() {
        ShowProgress(ProgressPosition(record_, total_, copied_, size_));
        PumpIfDue();
        return !ctx_.Cancel;
    }

    // The full blocks up to byte upTo of the record's cabinet. False: cancelled.
    bool AdvanceBlocks(uint32_t upTo) {
        while (!blocksDone_ && copied_ + kBlock <= upTo) {
            copied_ += kBlock;
            if (!Step()) return false;
        }
        return true;
    }

    // After the first extraction of the record: the blocks the extraction did not need
    // to read and the last, short (possibly empty) block, up to the end of the cabinet
    // or of the setup file when that comes first. False: cancelled.
    bool FinishBlocks() {
        if (blocksDone_) return true;
        const uint32_t available = static_cast<uint32_t>(
            offset_ >= setupSize_ ? 0 : std::min<uint64_t>(size_, setupSize_ - offset_));
        if (!AdvanceBlocks(available)) return false;
        blocksDone_ = true;
        copied_ = available;
        return Step();
    }

    void ShowProgress(int position) {
        if (position == ctx_.View.ProgressBar1) return;
        ctx_.View.ProgressBar1 = position;
        ctx_.ShowInstallView();
    }

    // Extracts the record's one file to target (a path in folder), reading the
    // cabinet in place from the setup file. Anything else the cabinet holds is passed
    // over, so a cabinet cannot place files the record does not name. True when target
    // exists afterwards. A cancel during the extraction removes what it wrote (only
    // this run's file: an existing one was deleted or kept before) and ends the run.
    bool Extract(const std::string& folder, const std::string& target) {
        const std::string name = ExtractFileName(target);
        reader_.OnCopyFile = [&](TSTCabReader&, const std::string& stored, int32_t, uint16_t,
                                 uint16_t, uint16_t, uint16_t, std::string& destination, bool&) {
            destination = SameText(stored, name) ? target : std::string();
        };
        // Written and closed: the file is there (no need to look).
        bool placed = false;
        reader_.OnCloseFile = [&](TSTCabReader&, const std::string&, uint16_t, uint16_t, uint16_t,
                                  uint16_t, bool&, const std::string& written, bool&) {
            if (SameText(written, target)) placed = true;
        };
        // The handlers see this call's locals: they must not outlive it.
        struct Unhook {
            TSTCabReader& r;
            ~Unhook() {
                r.OnCopyFile = nullptr;
                r.OnCloseFile = nullptr;
            }
        } unhook{reader_};
        if (!setup_.Valid()) OpenSetupFile(); // a retry may find it readable again
        const double start = profile_.Now();
        bool extracted = false;
        if (setup_.Valid()) {
            try {
                reader_.ExtractRange(setup_.Get(), ctx_.SetupFile, offset_, size_, folder,
                                     [this](uint32_t furthest) { return AdvanceBlocks(furthest); });
                extracted = true;
            } catch (const std::exception&) {
            }
        }
        profile_.Add(profile_.extract, start);
        if (ctx_.Cancel || !FinishBlocks()) {
            SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(target.c_str());
            Abort();
        }
        return extracted && placed;
    }

    // The folder of the newer test's copies: a folder of its own, so that a file named
    // like one of the setup's own files ("qvfile.dat", "qvsetup.ini") cannot overwrite it.
    std::string NewerFolder() const { return ctx_.SetupTempDir + "\\qvnewer"; }

    void RemoveNewerCopy(const std::string& copy) {
        SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(copy.c_str());
        RemoveDirectoryA(NewerFolder().c_str());
    }

    // Places the current record's file (its cabinet's size is size_).
    void ExtractRecord(const std::string& dest, const std::string& mode, bool record, bool exists) {
        auto giveUp = [&] {
            ctx_.Errors = true;
            GiveUp(size_, dest);
        };

        if (mode == kModeIfNewer && exists) {
            const std::string copy = NewerFolder() + "\\" + ExtractFileName(dest);
            // A copy that cannot be extracted is a file that cannot be placed.
            while (!Extract(NewerFolder(), copy)) {
                RemoveNewerCopy(copy);
                if (!AskAfterExtractionFailure(dest)) return giveUp();
            }
            const bool newer = IsNewerFile(copy, dest);
            RemoveNewerCopy(copy);
            if (!newer) {
                LogEvent(ctx_, "Skipped file: " + dest + " (exists; mode " + mode + ": not newer)");
                GiveUp(size_, dest);
                return;
            }
            if (RemoveForOverwrite(ctx_, dest)) exists = false;
        }

        const std::string ext = UpperCase(dest.substr(std::min(dest.size(), dest.rfind('.'))));
        if (exists && (ext == ".DLL" || ext == ".OCX")) {
            UnregisterLibrary(dest);
            Sleep(300);
            PumpNow();
        }

        JournalCreatedFile(ctx_, dest);
        for (;;) {
            if (exists) {
                RemoveForOverwrite(ctx_, dest);
                PumpNow();
            }
            if (Extract(ExtractFilePath(dest), dest)) break;
            if (!AskAfterExtractionFailure(dest)) {
                // No damaged file stays under the real name: the original returns.
                GiveBackFile(ctx_, dest);
                return giveUp();
            }
            exists = FileExists(dest); // a failed attempt may have left part of it
        }

        Advance(size_);
        LogEvent(ctx_, "Placed file: " + dest);
        if (ctx_.UninstallOn && record) RecordUninstallItem(ctx_, "Files", dest);
        PumpNow();
    }
};

} // namespace

PlacementResult PlaceFiles(RunContext& ctx) {
    // A few hundred files and folders are recorded: written once when the phase ends.
    UninstallRecordBatch batch(ctx);
    Placement placement(ctx);
    try {
        return placement.Run();
    } catch (const RunAlreadyEnded&) {
        // Only when the end of the run came back: nothing after placement may run.
        return PlacementResult::MalformedRecord;
    }
}
