// Rolling back an unfinished installation in-process: the real item handlers change
// files, the registry, INI files and the environment of the Wine prefix with a journal
// kept, then an end of the run undoes it; and a journal left by a run that died is
// finished by the next run of the same product.
//
// Compares the whole machine (files, the registry) before and after: nothing else may
// change it meanwhile.
// qv-test-locks: serial
#include "TestContext.h"
#include "SystemState.h"
#include "TestSupport.h"
#include "config/IniFile.h"
#include "engine/Rollback.h"
#include "items/ItemHandlers.h"
#include "platform/FileUtil.h"
#include "platform/Security.h"
#include "record/UndoJournal.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

// A text value of HKEY_CURRENT_USER, or "<none>".
std::string RegText(const std::string& key, const std::string& name) {
    std::string value;
    return ReadRegText(HKEY_CURRENT_USER, key, name, value) ? value : "<none>";
}

void SetRegText(const std::string& key, const std::string& name, const std::string& value) {
    ASSERT_TRUE(WriteRegText(HKEY_CURRENT_USER, key, name, value)) << key << " " << name;
}

bool KeyExists(const std::string& key) {
    return RegKeyExists(HKEY_CURRENT_USER, key);
}

// The names in a folder that start with the backup prefix.
int BackupsIn(const std::string& folder) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "\\~qvbak*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do
        ++n;
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return n;
}

class RollbackTest : public ::testing::Test {
  protected:
    ScratchDir temp_, dest_;
    TempEnvironment env_{temp_.Path()};
    std::string setupTemp_ = temp_ / "QVTMP100";
    std::string tag_ = std::to_string(GetTickCount()) + std::to_string(GetCurrentProcessId());
    std::string key_ = "Software\\QV Rollback Test " + tag_;
    std::string var_ = "QVRB_" + tag_;
    std::string guid_ = "{QVRB-" + tag_ + "}";
    RecordingPrompt prompt_;
    RunContext ctx_;

    void SetUp() override {
        CreateDirectoryA(setupTemp_.c_str(), nullptr);
        StartRun(ctx_, setupTemp_, "");
    }
    void TearDown() override {
        CloseUninstallRecord(ctx_);
        RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
        HKEY k;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Environment", 0, KEY_ALL_ACCESS, &k) ==
            ERROR_SUCCESS) {
            RegDeleteValueA(k, (var_ + "_OLD").c_str());
            RegDeleteValueA(k, (var_ + "_NEW").c_str());
            RegCloseKey(k);
        }
    }

    // A run of the product with its configuration (setupBody joins [Setup]).
    void StartRun(RunContext& ctx, const std::string& folder, const std::string& setupBody) {
        ctx.SetupTempDir = folder;
        ctx.SetupTempDirCreated = true;
        ctx.Wizard.Edit1 = dest_.Path();
        ctx.Prompt = &prompt_;
        ctx.UninstallOn = true;
        ObserveRunEnd(ctx);
        WriteFileBytes(folder + "\\qvsetup.ini", "[Setup]\r\nAppName=Rollback\r\nAppVersion=1.0\r\n"
                                                 "Uninstall=1\r\nGUID=" +
                                                     guid_ + "\r\n" + setupBody);
        ctx.Config = std::make_unique<TIniFile>(folder + "\\qvsetup.ini");
        OpenUninstallRecord(ctx);
    }

    uint32_t Abort(RunContext& ctx) {
        try {
            AbortSetup(ctx);
        } catch (const RunEndedForTest& e) {
            return e.code;
        }
        ADD_FAILURE() << "the run did not end";
        return 0xFFFFFFFF;
    }

    // What an installation finds in place and must find again after the rollback.
    void MakeExistingState() {
        SetRegText(key_, "Old", "before");
        SetRegText("Environment", var_ + "_OLD", "old value");
        WriteFileBytes(dest_ / "settings.ini", "[Main]\r\nKeep=1\r\nOver=before\r\n");
        WriteFileBytes(dest_ / "app.exe", "the installed program");
        SetFileAttributesA((dest_ / "app.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    }

    // What a run does to it: every kind of change, through the real handlers where
    // there is one, and as the file placement does it for files.
    void ChangeEverything(RunContext& ctx) {
        WriteRegistryItem(ctx, "HKCU\\" + key_ + "*?Old*?REG_SZ*?after*?Yes*?No*?Default");
        WriteRegistryItem(ctx, "HKCU\\" + key_ + "*?Added*?REG_SZ*?new*?Yes*?No*?Default");
        WriteRegistryItem(ctx, "HKCU\\" + key_ + "\\Deep\\Er*?N*?REG_DWORD*?5*?Yes*?No*?Default");
        const std::string ini = dest_ / "settings.ini";
        WriteIniItem(ctx, ini + "*?Main*?Over*?after*?Yes*?No");
        WriteIniItem(ctx, ini + "*?Main*?Added*?x*?Yes*?No");
        WriteIniItem(ctx, ini + "*?New*?Key*?y*?Yes*?No");
        WriteIniItem(ctx, dest_ / "created.ini" + "*?A*?B*?c*?Yes*?No");
        WriteEnvironmentItem(ctx, var_ + "_OLD*?new value*?OVERWRITE*?Yes");
        WriteEnvironmentItem(ctx, var_ + "_NEW*?created*?OVERWRITE*?Yes");

        const std::string app = dest_ / "app.exe";
        JournalCreatedFile(ctx, app);
        ASSERT_TRUE(RemoveForOverwrite(ctx, app));
        WriteFileBytes(app, "the new program");
        const std::string folder = dest_ / "data";
        JournalCreatedFolder(ctx, folder);
        CreateDirectoryA(folder.c_str(), nullptr);
        JournalCreatedFolder(ctx, folder + "\\sub");
        CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
        JournalCreatedFile(ctx, folder + "\\sub\\new.txt");
        WriteFileBytes(folder + "\\sub\\new.txt", "new");
    }

    void ExpectExistingState() {
        EXPECT_EQ(RegText(key_, "Old"), "before");
        EXPECT_EQ(RegText(key_, "Added"), "<none>");
        EXPECT_FALSE(KeyExists(key_ + "\\Deep"));
        EXPECT_EQ(RegText("Environment", var_ + "_OLD"), "old value");
        EXPECT_EQ(RegText("Environment", var_ + "_NEW"), "<none>");
        EXPECT_EQ(ReadFileBytes(dest_ / "settings.ini"), "[Main]\r\nKeep=1\r\nOver=before\r\n");
        EXPECT_FALSE(PathExists(dest_ / "created.ini"));
        EXPECT_EQ(ReadFileBytes(dest_ / "app.exe"), "the installed program");
        // Read-only as it was, and no longer hidden as its backup was.
        EXPECT_EQ(GetFileAttributesA((dest_ / "app.exe").c_str()) &
                      (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
                  static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        EXPECT_FALSE(PathExists(dest_ / "data"));
        EXPECT_EQ(BackupsIn(dest_.Path()), 0);
    }
};

TEST_F(RollbackTest, AnAbortedRunPutsEveryChangeBack) {
    MakeExistingState();
    BeginInstallJournal(ctx_);
    ASSERT_TRUE(RollbackArmed(ctx_));
    ChangeEverything(ctx_);
    // The changes really happened, or the rollback would prove nothing.
    ASSERT_EQ(RegText(key_, "Old"), "after");
    ASSERT_EQ(IniValue(dest_ / "settings.ini", "Main", "Over"), "after");
    ASSERT_EQ(RegText("Environment", var_ + "_NEW"), "created");
    ASSERT_EQ(ReadFileBytes(dest_ / "app.exe"), "the new program");
    ASSERT_EQ(BackupsIn(dest_.Path()), 1);

    EXPECT_EQ(Abort(ctx_), 1u);
    ExpectExistingState();
    EXPECT_FALSE(PathExists(setupTemp_)) << "journal and setup temp folder are cleaned up";
    EXPECT_NE(std::find(ctx_.LogList.begin(), ctx_.LogList.end(), "Rolling back changes..."),
              ctx_.LogList.end());
    EXPECT_EQ(ctx_.View.LTask, "Rolling back changes...");
    EXPECT_EQ(ctx_.View.ProgressBar1, 100);
}

TEST_F(RollbackTest, AFinishedRunKeepsItsChangesAndDropsTheBackups) {
    MakeExistingState();
    BeginInstallJournal(ctx_);
    ChangeEverything(ctx_);
    CommitInstallJournal(ctx_);
    EXPECT_FALSE(RollbackArmed(ctx_));
    EXPECT_EQ(BackupsIn(dest_.Path()), 0);
    EXPECT_FALSE(PathExists(setupTemp_ + "\\" + kJournalName));
    EXPECT_EQ(Abort(ctx_), 1u);
    EXPECT_EQ(RegText(key_, "Old"), "after");
    EXPECT_EQ(ReadFileBytes(dest_ / "app.exe"), "the new program");
    EXPECT_TRUE(PathExists(dest_ / "data\\sub\\new.txt"));
}

TEST_F(RollbackTest, RollbackOffKeepsTodaysBehaviour) {
    CloseUninstallRecord(ctx_);
    RunContext ctx;
    StartRun(ctx, setupTemp_, "Rollback=0\r\n");
    MakeExistingState();
    BeginInstallJournal(ctx);
    EXPECT_FALSE(RollbackArmed(ctx));
    SetFileAttributesA((dest_ / "app.exe").c_str(), FILE_ATTRIBUTE_NORMAL);
    ChangeEverything(ctx);
    EXPECT_EQ(BackupsIn(dest_.Path()), 0) << "an overwritten file is deleted, as before";
    EXPECT_EQ(Abort(ctx), 1u);
    EXPECT_EQ(RegText(key_, "Old"), "after");
    EXPECT_EQ(RegText("Environment", var_ + "_NEW"), "created");
    EXPECT_EQ(ReadFileBytes(dest_ / "app.exe"), "the new program");
    EXPECT_TRUE(PathExists(dest_ / "data\\sub\\new.txt"));
    CloseUninstallRecord(ctx);
}

TEST_F(RollbackTest, BackupsAreHiddenUniqueAndGivenBackOnce) {
    const std::string file = dest_ / "lib.dll";
    WriteFileBytes(file, "original");
    // A file that happens to carry a backup-like name is never taken for a backup.
    const std::string decoy = dest_ / ("~qvbak" + std::to_string(GetCurrentProcessId()) + "-1.tmp");
    WriteFileBytes(decoy, "someone else's");
    {
        UndoJournal journal(setupTemp_ + "\\j.txt", JournalHeader{});
        ASSERT_TRUE(journal.MoveAside(file));
        EXPECT_FALSE(PathExists(file));
        EXPECT_EQ(ReadFileBytes(decoy), "someone else's");
        ASSERT_EQ(BackupsIn(dest_.Path()), 2);
        const std::string backup =
            dest_ / ("~qvbak" + std::to_string(GetCurrentProcessId()) + "-2.tmp");
        EXPECT_EQ(ReadFileBytes(backup), "original");
        EXPECT_TRUE(GetFileAttributesA(backup.c_str()) & FILE_ATTRIBUTE_HIDDEN);

        // A failed extraction left part of a file: a second call deletes it and keeps
        // the first backup.
        WriteFileBytes(file, "");
        EXPECT_TRUE(journal.MoveAside(file));
        EXPECT_FALSE(PathExists(file));
        EXPECT_EQ(BackupsIn(dest_.Path()), 2);

        // Given up: the original is back under its name, not hidden.
        WriteFileBytes(file, "partial");
        journal.PutBack(file);
        EXPECT_EQ(ReadFileBytes(file), "original");
        EXPECT_FALSE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_HIDDEN);
        EXPECT_EQ(BackupsIn(dest_.Path()), 1);
        journal.Close();
    }
    // The journal no longer lists the file: a rollback leaves the original alone.
    for (const JournalEntry& e : ReadJournal(setupTemp_ + "\\j.txt"))
        EXPECT_TRUE(e.Kind != 'F' && e.Kind != 'B') << e.Kind << " " << e.Fields[0];
    RollbackResult r = UndoJournalFile(setupTemp_ + "\\j.txt", {});
    EXPECT_EQ(r.Failed, 0);
    EXPECT_EQ(ReadFileBytes(file), "original");
    EXPECT_EQ(ReadFileBytes(decoy), "someone else's");
}

TEST_F(RollbackTest, JournalKeepsOddTextsAndDropsACutOffLine) {
    const std::string path = setupTemp_ + "\\j.txt";
    {
        JournalHeader h;
        h.Guid = guid_;
        h.DefaultView64 = true;
        UndoJournal journal(path, h);
        journal.Add('I', {"C:\\a.ini", "Sec", "Key", "1", "tab\there\\ and\r\nlines"});
        journal.Add('F', {"C:\\x"});
    }
    // A crash in the middle of a line leaves it without its end.
    HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD n;
    WriteFile(f, "F\tC:\\cut", 8, &n, nullptr);
    CloseHandle(f);

    const JournalHeader h = ReadJournalHeader(path);
    EXPECT_TRUE(h.Valid);
    EXPECT_EQ(h.Guid, guid_);
    EXPECT_TRUE(h.DefaultView64);
    const std::vector<JournalEntry> entries = ReadJournal(path);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Kind, 'I');
    ASSERT_EQ(entries[0].Fields.size(), 5u);
    EXPECT_EQ(entries[0].Fields[4], "tab\there\\ and\r\nlines");
    EXPECT_EQ(entries[1].Fields[0], "C:\\x");
    EXPECT_EQ(HexBytes(HexText(std::string("\0\x01\xFFz", 4))), std::string("\0\x01\xFFz", 4));
}

TEST_F(RollbackTest, TheNextRunFinishesTheRollbackOfARunThatDied) {
    MakeExistingState();
    // The first run dies in the middle: its journal stays, unfinished, in its folder
    // (made as every run makes it: private when the process is elevated).
    const std::string deadFolder = temp_ / "QVTMP200";
    ASSERT_TRUE(CreateWorkFolder(deadFolder));
    RunContext dead;
    StartRun(dead, deadFolder, "");
    BeginInstallJournal(dead);
    ChangeEverything(dead);
    CloseUninstallRecord(dead);
    dead.Journal->Close(); // what the system does when the process is killed
    dead.Rollback = nullptr;

    // Another product's journal and a run still alive are not touched.
    const std::string otherFolder = temp_ / "QVTMP300";
    CreateDirectoryA(otherFolder.c_str(), nullptr);
    JournalHeader other;
    other.Guid = "{another product}";
    UndoJournal(otherFolder + "\\" + kJournalName, other).Close();
    const std::string liveFolder = temp_ / "QVTMP400";
    CreateDirectoryA(liveFolder.c_str(), nullptr);
    JournalHeader liveHeader;
    liveHeader.Guid = guid_;
    UndoJournal live(liveFolder + "\\" + kJournalName, liveHeader);

    const RollbackResult r = RecoverUnfinishedRuns(ctx_, temp_.Path(), guid_);
    EXPECT_GT(r.Steps, 0);
    EXPECT_EQ(r.Failed, 0);
    EXPECT_TRUE(r.KeptBackups.empty());
    ExpectExistingState();
    EXPECT_FALSE(PathExists(deadFolder));
    EXPECT_TRUE(PathExists(otherFolder + "\\" + kJournalName));
    EXPECT_TRUE(PathExists(liveFolder + "\\" + kJournalName));
}

// A previous value is written back as it was, also text the program's ANSI code page
// has no characters for (a user's name in another script in a path, say).
TEST_F(RollbackTest, APreviousTextValueComesBackWithEveryCharacter) {
    const std::wstring original = L"C:\\Users\\\u0391\u03a9\u4e2d\\bin";
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, WideFromAnsi(key_).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, L"Wide", 0, REG_SZ, reinterpret_cast<const BYTE*>(original.c_str()),
                   static_cast<DWORD>((original.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
    BeginInstallJournal(ctx_);
    WriteRegistryItem(ctx_, "HKCU\\" + key_ + "*?Wide*?REG_SZ*?after*?Yes*?No*?Default");
    ASSERT_EQ(RegText(key_, "Wide"), "after");
    EXPECT_EQ(Abort(ctx_), 1u);
    wchar_t back[128] = {};
    DWORD size = sizeof back;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, WideFromAnsi(key_).c_str(), L"Wide", RRF_RT_REG_SZ,
                           nullptr, back, &size),
              ERROR_SUCCESS);
    EXPECT_TRUE(original == back) << "the value came back changed";
}

// Under Wine every process holds a full administrator token, as a setup started with
// "Run as administrator" does on Windows. The user's temporary folder is writable by
// all of that user's processes, elevated or not: a journal found in a folder that a
// process of lower rights could have made must not be carried out with these rights.
TEST_F(RollbackTest, AJournalPlantedWhereLowerRightsCouldWriteIsNotCarriedOut) {
    ASSERT_TRUE(IsElevatedToken()) << "the test stands for an elevated setup";
    const std::string victim = dest_ / "victim.dll";
    WriteFileBytes(victim, "precious");
    const std::string planted = dest_ / "~qvbak1-1.tmp";
    WriteFileBytes(planted, "planted");
    auto plant = [&](const std::string& folder) {
        JournalHeader h;
        h.Guid = guid_;
        UndoJournal journal(folder + "\\" + kJournalName, h);
        journal.Add('F', {victim});
        journal.Add('B', {victim, planted, "32"});
        journal.Close();
    };
    // Made with the default security, as any process of the user could make it.
    const std::string open = temp_ / "QVTMP500";
    ASSERT_TRUE(CreateDirectoryA(open.c_str(), nullptr));
    plant(open);
    RollbackResult r = RecoverUnfinishedRuns(ctx_, temp_.Path(), guid_);
    EXPECT_EQ(r.Steps, 0);
    EXPECT_EQ(ReadFileBytes(victim), "precious");
    EXPECT_EQ(ReadFileBytes(planted), "planted");
    EXPECT_TRUE(PathExists(open + "\\" + kJournalName));
    EXPECT_NE(std::find(ctx_.LogList.begin(), ctx_.LogList.end(),
                        "Journal not trusted, left alone: " + open + "\\" + kJournalName),
              ctx_.LogList.end());

    // The same journal in a folder only administrators can write is a dead run's own,
    // and is carried out: the check above is what kept the file.
    RemoveTree(open);
    const std::string own = temp_ / "QVTMP600";
    ASSERT_TRUE(CreatePrivateDirectory(own));
    plant(own);
    r = RecoverUnfinishedRuns(ctx_, temp_.Path(), guid_);
    EXPECT_GT(r.Steps, 0);
    EXPECT_EQ(ReadFileBytes(victim), "planted");
    EXPECT_FALSE(PathExists(own));
}

// A damaged journal (a disk error, an edit) is undone as far as its lines hold, each
// damaged line a failed step; nothing outside the run's own changes is touched.
TEST_F(RollbackTest, DamagedLinesAreFailedStepsAndTouchNothingElse) {
    const std::string mine = dest_ / "mine.txt";
    WriteFileBytes(mine, "mine");
    const std::string elsewhere = dest_ / "other";
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    const std::string foreign = elsewhere + "\\~qvbak1-1.tmp";
    WriteFileBytes(foreign, "foreign");
    const std::string created = dest_ / "created.txt";
    WriteFileBytes(created, "the run's");
    SetRegText(key_, "Other", "x");
    // Lines as the journal writes them: tab-separated, backslashes doubled.
    auto line = [](const std::vector<std::string>& fields) {
        std::string text;
        for (const std::string& f : fields) {
            if (!text.empty()) text += '\t';
            for (char c : f)
                text += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        return text + "\r\n";
    };
    const std::string path = setupTemp_ + "\\j.txt";
    WriteFileBytes(
        path, line({"H", "QVJOURNAL1", guid_, "Product", "0", "0"}) +
                  line({"I", "x"}) // too few fields
                  + line({"V", "DHKEY_CURRENT_USER\\" + key_ + "*?n", "1", "not a number", "00"}) +
                  line({"B", mine, foreign, "32"}) // a backup in another folder
                  + line({"B", mine, dest_ / "~qvbak1-2.tmp", "abc"}) +
                  line({"B", mine, dest_ / "notabackup.txt", "32"}) +
                  line({"I", "relative.ini", "S", "K", "1", "old"}) + line({"F", created}));
    RollbackSinks sinks;
    std::string failed;
    sinks.Step = [&failed](const std::string& step, bool bad, const std::string& cause) {
        if (bad) failed += step + " (" + cause + ")\n";
    };
    const RollbackResult r = UndoJournalFile(path, sinks);
    EXPECT_EQ(r.Failed, 5) << failed;
    EXPECT_EQ(ReadFileBytes(mine), "mine");
    EXPECT_EQ(ReadFileBytes(foreign), "foreign");
    EXPECT_FALSE(PathExists(created));
    EXPECT_EQ(RegText(key_, "n"), "<none>");
    EXPECT_FALSE(PathExists(path));
}

} // namespace
