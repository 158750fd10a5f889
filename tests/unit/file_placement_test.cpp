// File placement run in-process: setup files assembled from filler bytes and real
// cabinets, a configuration with [Files] records, and a prompt that answers with
// scripted buttons.
#include "CabWriter.h"
#include "SystemState.h"
#include "TestContext.h"
#include "TestSupport.h"
#include "config/IniFile.h"
#include "engine/FilePlacement.h"
#include "run/RunContext.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

void SetWriteTime(const std::string& path, int year, int month, int day) {
    SetFileTimeLocal(path, year, month, day, 10, 0, 0);
}

struct Item {
    Item(std::string d = "", std::string c = "", std::string m = "OVERWRITE", std::string f = "Yes")
        : dest(std::move(d)), content(std::move(c)), mode(std::move(m)), flag(std::move(f)) {}
    std::string dest;    // destination field
    std::string content; // the file's bytes
    std::string mode;
    std::string flag;
    std::string nameInCab; // default: the destination's file name
    std::string sizeField; // default: the cabinet's real size
    std::string rawRecord; // when set, the whole [Files] value
    bool noCabinet = false;
    size_t cutCabinetTo = std::string::npos; // keep only this many bytes of it
};

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('\\') + 1);
}

class PlacementTest : public ::testing::Test {
  protected:
    PlacementTest() {
        CreateDirectoryA(Temp().c_str(), nullptr);
        CreateDirectoryA(Dest().c_str(), nullptr);
        CreateDirectoryA((dir_ / "src").c_str(), nullptr);
        ctx_.SetupTempDir = Temp();
        ctx_.SetupFile = dir_ / "setup.exe";
        ctx_.Prompt = &prompt_;
        ObserveRunEnd(ctx_);
        ctx_.Lang.TitleCaption = "Demo Setup";
        ctx_.UninstallOn = true;
        ctx_.Record.UninstallRecordPath = Temp() + "\\qvuninstall.ini";
        ctx_.Record.UninstallRecordOpen = true;
        ctx_.View.InstallViewChanged = [this] {
            if (ctx_.View.ProgressBar1 != (positions_.empty() ? 0 : positions_.back()))
                positions_.push_back(ctx_.View.ProgressBar1);
            if (onView_) onView_();
        };
        UseLanguage(ctx_, dir_ / "Englishqv.lng",
                    "[Messages]\r\n0=Demo Setup\r\n1=Cancel the setup?\r\n"
                    "12=Overwrite %s?\r\n13=Cannot create %s\r\n14=Cannot place %s\r\n");
    }

    std::string Temp() const { return dir_ / "tmp"; }
    std::string Dest() const { return dir_ / "dest"; }
    std::string D(const std::string& rel) const { return Dest() + "\\" + rel; }

    // A cabinet holding one file with the given bytes, stored under name; the source
    // file carries a fixed date so the extracted file's date can be checked.
    std::string MakeCabinet(const std::string& name, const std::string& content) {
        std::string src = dir_ / ("src\\" + name);
        WriteFileBytes(src, content);
        SetWriteTime(src, 2011, 3, 4);
        std::string cab = dir_ / ("src\\" + name + ".cab");
        mksetup::WriteCabinet(cab, {{src, name}});
        return ReadFileBytes(cab);
    }

    // Writes setup.exe (filler, then the cabinets) and qvsetup.ini.
    void Build(const std::vector<Item>& items, const std::string& extra = "", int totalFiles = -1) {
        std::string setup = RandomBytes(kFiller, 7);
        std::string files = "[Files]\r\n";
        for (size_t i = 0; i < items.size(); ++i) {
            const Item& it = items[i];
            std::string cab;
            if (!it.noCabinet)
                cab =
                    MakeCabinet(it.nameInCab.empty() ? NameOf(it.dest) : it.nameInCab, it.content);
            cabSizes_.push_back(cab.size());
            std::string size = it.sizeField.empty() ? std::to_string(cab.size()) : it.sizeField;
            setup += cab.substr(0, it.cutCabinetTo);
            std::string value = it.rawRecord.empty()
                                    ? it.dest + "?" + size + "?" + it.mode + "?" + it.flag
                                    : it.rawRecord;
            files += std::to_string(i) + "=" + value + "\r\n";
        }
        WriteFileBytes(ctx_.SetupFile, setup);
        int total = totalFiles < 0 ? static_cast<int>(items.size()) : totalFiles;
        UseConfig(ctx_, Temp() + "\\qvsetup.ini",
                  "[Setup]\r\nTotalFiles=" + std::to_string(total) + "\r\n" + files + extra);
        ctx_.PayloadOffset = kFiller;
    }

    // qvsetup.ini with the given TotalFiles and [Files] lines as they stand (any keys,
    // in any order); the payload starts at kFiller.
    void Configure(int64_t totalFiles, const std::string& filesLines) {
        UseConfig(ctx_, Temp() + "\\qvsetup.ini",
                  "[Setup]\r\nTotalFiles=" + std::to_string(totalFiles) + "\r\n[Files]\r\n" +
                      filesLines);
        ctx_.PayloadOffset = kFiller;
    }

    // Runs the phase; the exit code when the run was ended, else -1.
    int64_t Run(PlacementResult* result = nullptr) {
        const std::optional<uint32_t> end = EndCodeOf([&] {
            PlacementResult r = PlaceFiles(ctx_);
            if (result) *result = r;
        });
        return end ? int64_t(*end) : -1;
    }

    std::string Recorded(const std::string& section, int key) {
        return IniValue(ctx_.Record.UninstallRecordPath, section, std::to_string(key), "<none>");
    }

    std::string Others(int key) {
        return IniValue(Temp() + "\\qvsetup.ini", "Others", std::to_string(key), "<none>");
    }

    // The setup file was closed before the run ended: it can be deleted (an open
    // handle without delete sharing would refuse it).
    void ExpectFilesClosed() { EXPECT_TRUE(DeleteFileA(ctx_.SetupFile.c_str())); }

    static constexpr uint32_t kFiller = 5000;
    static constexpr const char* kAbsurd = "2147483647"; // the largest size accepted
    ScratchDir dir_;
    RunContext ctx_;
    ScriptedPrompt prompt_;
    std::vector<size_t> cabSizes_;
    std::vector<int> positions_;
    std::function<void()> onView_;
};

uint32_t Sum(const std::vector<size_t>& v) {
    uint32_t s = 0;
    for (size_t x : v)
        s += static_cast<uint32_t>(x);
    return s;
}

// ---- placing files ----

TEST_F(PlacementTest, PlacesFilesByteIdenticalWithTheCabinetsDate) {
    const std::string big = RandomBytes(300000, 3);
    Build({{D("a.txt"), "hello\r\n"}, {D("sub\\deeper\\big.bin"), big}, {D("empty.dat"), ""}});
    PlacementResult result{};
    ASSERT_EQ(Run(&result), -1);
    EXPECT_EQ(result, PlacementResult::Finished);
    EXPECT_EQ(ReadFileBytes(D("a.txt")), "hello\r\n");
    EXPECT_EQ(ReadFileBytes(D("sub\\deeper\\big.bin")), big);
    EXPECT_TRUE(PathExists(D("empty.dat")));
    EXPECT_EQ(FileWriteTime(D("sub\\deeper\\big.bin")), FileWriteTime(dir_ / "src\\big.bin"));
    EXPECT_EQ(ctx_.PayloadOffset, kFiller + Sum(cabSizes_));
    EXPECT_FALSE(ctx_.Errors);
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_EQ(Recorded("Files", 0), D("a.txt"));
    EXPECT_EQ(Recorded("Files", 1), D("sub\\deeper\\big.bin"));
    EXPECT_EQ(Recorded("Files", 2), D("empty.dat"));
    EXPECT_EQ(ctx_.View.LFile, D("empty.dat"));
}

TEST_F(PlacementTest, CreatedFoldersAreRecordedOutermostFirstOnlyWhenCreatedAndFlagged) {
    CreateDirectoryA(D("old").c_str(), nullptr);
    Build({{D("old\\new\\inner\\f.txt"), "x"},
           {D("unflagged\\g.txt"), "y", "OVERWRITE", "No"},
           {D("old\\new\\h.txt"), "z"}});
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(Recorded("Folders", 0), D("old\\new"));
    EXPECT_EQ(Recorded("Folders", 1), D("old\\new\\inner"));
    EXPECT_EQ(Recorded("Folders", 2), "<none>");
    EXPECT_EQ(Recorded("Files", 0), D("old\\new\\inner\\f.txt"));
    EXPECT_EQ(Recorded("Files", 1), D("old\\new\\h.txt"));
    EXPECT_EQ(ReadFileBytes(D("unflagged\\g.txt")), "y");
}

TEST_F(PlacementTest, MissingRecordsAndZeroFilesMoveNothing) {
    Build({{D("a.txt"), "a"}}, "", 0);
    ASSERT_EQ(Run(), -1);
    EXPECT_FALSE(PathExists(D("a.txt")));
    EXPECT_EQ(ctx_.PayloadOffset, kFiller);
    EXPECT_TRUE(positions_.empty());
    EXPECT_EQ(ctx_.View.ProgressBar1, 0);

    // Record 0 missing, record 1 present: its cabinet is the first of the payload.
    ScratchDir other;
    const std::string cab = MakeCabinet("b.txt", "bee");
    WriteFileBytes(ctx_.SetupFile, RandomBytes(kFiller, 7) + cab);
    WriteFileBytes(Temp() + "\\qvsetup.ini",
                   "[Setup]\r\nTotalFiles=2\r\n[Files]\r\n1=" + D("b.txt") + "?" +
                       std::to_string(cab.size()) + "?OVERWRITE?Yes\r\n");
    ctx_.Config = std::make_unique<TIniFile>(Temp() + "\\qvsetup.ini"); // a new run's reader
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("b.txt")), "bee");
}

TEST_F(PlacementTest, AbsurdTotalFilesEndsAfterTheLastRecordThatExists) {
    Build({{D("a.txt"), "a"}}, "", 2000000000);
    DWORD start = GetTickCount();
    ASSERT_EQ(Run(), -1);
    // Walking two billion missing records would take far longer than this.
    EXPECT_LT(GetTickCount() - start, 60000u);
    EXPECT_EQ(ReadFileBytes(D("a.txt")), "a");
}

TEST_F(PlacementTest, UninstallerPlaceholderExtractsNothing) {
    ctx_.Wizard.Edit1 = D("app");
    Item placeholder;
    placeholder.noCabinet = true;
    placeholder.rawRecord = "<InstallDir>\\Uninstall.exe?0?OVERWRITE?Yes";
    Build({placeholder, {D("app\\b.txt"), "b"}});
    ASSERT_EQ(Run(), -1);
    EXPECT_FALSE(PathExists(D("app\\Uninstall.exe")));
    EXPECT_EQ(Recorded("Folders", 0), D("app")); // its folder is still made
    EXPECT_EQ(Recorded("Files", 0), D("app\\b.txt"));
    EXPECT_EQ(ReadFileBytes(D("app\\b.txt")), "b");
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(PlacementTest, ACabinetOfExactly4096BytesIsFollowedCorrectly) {
    // Stored (uncompressed) cabinets grow with their content byte for byte, so the
    // content can be sized to make the cabinet exactly two blocks long.
    auto storedCab = [&](size_t n) {
        std::string src = dir_ / "src\\even.bin";
        WriteFileBytes(src, RandomBytes(n, 11));
        mksetup::CabWriterOptions o;
        o.compress = false;
        mksetup::WriteCabinet(dir_ / "src\\even.cab", {{src, "even.bin"}}, o);
        return ReadFileBytes(dir_ / "src\\even.cab");
    };
    std::string cab = storedCab(4000);
    cab = storedCab(4000 + 4096 - cab.size());
    ASSERT_EQ(cab.size(), 4096u);
    const std::string content = ReadFileBytes(dir_ / "src\\even.bin");
    const std::string next = MakeCabinet("next.txt", "after the even cabinet");
    WriteFileBytes(ctx_.SetupFile, RandomBytes(kFiller, 7) + cab + next);
    WriteFileBytes(Temp() + "\\qvsetup.ini",
                   "[Setup]\r\nTotalFiles=2\r\n[Files]\r\n0=" + D("even.bin") +
                       "?4096?OVERWRITE?Yes\r\n1=" + D("next.txt") + "?" +
                       std::to_string(next.size()) + "?OVERWRITE?Yes\r\n");
    ctx_.Config = std::make_unique<TIniFile>(Temp() + "\\qvsetup.ini");
    ctx_.PayloadOffset = kFiller;
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("even.bin")), content);
    EXPECT_EQ(ReadFileBytes(D("next.txt")), "after the even cabinet");
    // T = 2: 25 after 2048 bytes, 50 after 4096 (the empty third block moves nothing).
    ASSERT_GE(positions_.size(), 2u);
    EXPECT_EQ(positions_[0], 25);
    EXPECT_EQ(positions_[1], 50);
    EXPECT_EQ(ctx_.PayloadOffset, kFiller + 4096 + next.size());
}

// The blocks follow the extraction's reading of the cabinet, yet the bar takes every
// position of the formula once, in order, ending with the short last block; a second
// extraction of the same record (the newer test) moves it no further.
TEST_F(PlacementTest, ProgressTakesEachBlocksPositionOnceWhateverTheExtractionReads) {
    const std::string data = RandomBytes(30000, 21); // does not compress: ~15 blocks
    WriteFileBytes(D("big.bin"), "older");
    SetWriteTime(D("big.bin"), 2001, 1, 1);
    Item big{D("big.bin"), data};
    big.mode = "OVERWRITE ONLY IF NEWER";
    Build({big});
    const uint32_t size = static_cast<uint32_t>(cabSizes_[0]);
    std::vector<int> expected;
    for (uint32_t copied = 2048;; copied += 2048) {
        const int p = ProgressPosition(0, 1, std::min(copied, size), size);
        if (expected.empty() || p != expected.back()) expected.push_back(p);
        if (copied >= size) break;
    }
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("big.bin")), data);
    EXPECT_EQ(positions_, expected);
}

// ---- exist modes ----

class ExistModeTest : public PlacementTest {
  protected:
    void Existing(const std::string& rel, const std::string& content) {
        WriteFileBytes(D(rel), content);
        SetWriteTime(D(rel), 2005, 6, 7);
    }
    bool Kept(const std::string& rel, const std::string& content) {
        FILETIME expected;
        SYSTEMTIME st{};
        st.wYear = 2005;
        st.wMonth = 6;
        st.wDay = 7;
        st.wHour = 10;
        FILETIME local;
        SystemTimeToFileTime(&st, &local);
        LocalFileTimeToFileTime(&local, &expected);
        return ReadFileBytes(D(rel)) == content && FileWriteTime(D(rel)) == Ticks(expected);
    }
};

TEST_F(ExistModeTest, SkipKeepsTheFileAndCancelsItsOtherItems) {
    Existing("font.ttf", "old font");
    Build({{D("font.ttf"), "new font", "skip"}, {D("b.txt"), "b"}},
          "[Others]\r\n0=" + D("FONT.TTF") + "*?Font*?Demo\r\n1=" + D("other.ttf") +
              "*?Font*?Other\r\n");
    ASSERT_EQ(Run(), -1);
    EXPECT_TRUE(Kept("font.ttf", "old font"));
    EXPECT_EQ(Others(0), "");
    EXPECT_EQ(Others(1), D("other.ttf") + "*?Font*?Other");
    EXPECT_EQ(Recorded("Files", 0), D("b.txt")); // the skipped file is not recorded
    EXPECT_EQ(ReadFileBytes(D("b.txt")), "b");   // and the offset moved past its cabinet
}

TEST_F(ExistModeTest, OverwriteAndUnknownModesReplace) {
    Existing("a.txt", "old a");
    Existing("b.txt", "old b");
    Build({{D("a.txt"), "new a", "Overwrite"}, {D("b.txt"), "new b", "WHATEVER"}});
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("a.txt")), "new a");
    EXPECT_EQ(ReadFileBytes(D("b.txt")), "new b");
    EXPECT_TRUE(prompt_.questions.empty());
}

TEST_F(ExistModeTest, AskYesAndNo) {
    Existing("a.txt", "old a");
    Existing("b.txt", "old b");
    Build({{D("a.txt"), "new a", "ask"}, {D("b.txt"), "new b", "ASK"}});
    prompt_.overwrite = {OverwriteAnswer::Yes, OverwriteAnswer::No};
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("a.txt")), "new a");
    EXPECT_TRUE(Kept("b.txt", "old b"));
    ASSERT_EQ(prompt_.questions.size(), 2u);
    EXPECT_EQ(prompt_.questions[0], "Overwrite " + D("a.txt") + "?");
    EXPECT_EQ(prompt_.questionCaptions[0], "Demo Setup");
}

TEST_F(ExistModeTest, NoToAllKeepsEveryLaterExistingFileWhateverItsMode) {
    Existing("a.txt", "old a");
    Existing("b.txt", "old b");
    Existing("c.txt", "old c");
    Build({{D("a.txt"), "new a", "ASK"},
           {D("b.txt"), "new b", "OVERWRITE"},
           {D("new.txt"), "fresh", "OVERWRITE"},
           {D("c.txt"), "new c", "ASK"}},
          "[Others]\r\n0=" + D("b.txt") + "*?Activex\r\n");
    prompt_.overwrite = {OverwriteAnswer::NoToAll};
    ASSERT_EQ(Run(), -1);
    EXPECT_TRUE(Kept("a.txt", "old a"));
    EXPECT_TRUE(Kept("b.txt", "old b"));
    EXPECT_TRUE(Kept("c.txt", "old c"));
    EXPECT_EQ(ReadFileBytes(D("new.txt")), "fresh"); // a missing file is still placed
    EXPECT_EQ(prompt_.questions.size(), 1u);
    EXPECT_EQ(Others(0), "");
}

TEST_F(ExistModeTest, YesToAllReplacesWithoutAskingAgainButSkipStillSkips) {
    Existing("a.txt", "old a");
    Existing("b.txt", "old b");
    Existing("c.txt", "old c");
    Build({{D("a.txt"), "new a", "ASK"},
           {D("b.txt"), "new b", "ASK"},
           {D("c.txt"), "new c", "SKIP"}});
    prompt_.overwrite = {OverwriteAnswer::YesToAll};
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("a.txt")), "new a");
    EXPECT_EQ(ReadFileBytes(D("b.txt")), "new b");
    EXPECT_TRUE(Kept("c.txt", "old c"));
    EXPECT_EQ(prompt_.questions.size(), 1u);
}

TEST_F(ExistModeTest, SilentAskOverwritesWithoutAQuestion) {
    ctx_.Silent = true;
    Existing("a.txt", "old a");
    Build({{D("a.txt"), "new a", "ASK"}});
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("a.txt")), "new a");
    EXPECT_TRUE(prompt_.questions.empty());
}

TEST_F(ExistModeTest, ClosedQuestionDeclinedToCloseLeavesFileAndItsOtherItems) {
    Existing("a.txt", "old a");
    Build({{D("a.txt"), "new a", "ASK"}, {D("b.txt"), "b"}},
          "[Others]\r\n0=" + D("a.txt") + "*?Font\r\n");
    prompt_.overwrite = {OverwriteAnswer::Closed};
    prompt_.answers = {IDNO};
    ASSERT_EQ(Run(), -1);
    EXPECT_TRUE(Kept("a.txt", "old a"));
    EXPECT_EQ(Others(0), D("a.txt") + "*?Font");
    EXPECT_EQ(ReadFileBytes(D("b.txt")), "b");
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "Cancel the setup?");
    EXPECT_EQ(prompt_.boxes[0].caption, "Demo Setup");
    EXPECT_EQ(prompt_.boxes[0].type, UINT(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2));
    EXPECT_FALSE(ctx_.Cancel);
}

TEST_F(ExistModeTest, ClosedQuestionConfirmedEndsTheRun) {
    Existing("a.txt", "old a");
    Build({{D("a.txt"), "new a", "ASK"}, {D("b.txt"), "b"}});
    prompt_.overwrite = {OverwriteAnswer::Closed};
    prompt_.answers = {IDYES};
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(ctx_.Cancel);
    EXPECT_FALSE(PathExists(D("b.txt")));
    ExpectFilesClosed();
}

TEST_F(ExistModeTest, IfNewerComparesTimesWhenThereAreNoVersions) {
    // The cabinet's copy is dated 2011-03-04.
    WriteFileBytes(D("older.txt"), "older");
    SetWriteTime(D("older.txt"), 2001, 1, 1);
    WriteFileBytes(D("newer.txt"), "newer");
    SetWriteTime(D("newer.txt"), 2020, 1, 1);
    Build({{D("older.txt"), "from setup 1", "overwrite only if newer"},
           {D("newer.txt"), "from setup 2", "OVERWRITE ONLY IF NEWER"},
           {D("missing.txt"), "from setup 3", "OVERWRITE ONLY IF NEWER"}},
          "[Others]\r\n0=" + D("newer.txt") + "*?Font\r\n1=" + D("older.txt") + "*?Font\r\n");
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("older.txt")), "from setup 1");
    EXPECT_EQ(ReadFileBytes(D("newer.txt")), "newer");
    EXPECT_EQ(ReadFileBytes(D("missing.txt")), "from setup 3");
    EXPECT_EQ(Others(0), "");
    EXPECT_EQ(Others(1), D("older.txt") + "*?Font");
    // The comparison copy does not stay behind.
    EXPECT_FALSE(PathExists(Temp() + "\\qvnewer\\newer.txt"));
    EXPECT_FALSE(PathExists(Temp() + "\\newer.txt"));
}

TEST_F(ExistModeTest, IfNewerComparesVersionsFirst) {
    // Copies of two system libraries under a neutral extension (nothing loads them).
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    const std::string high = std::string(sys) + "\\kernel32.dll";
    const std::string low = std::string(sys) + "\\advapi32.dll";
    if (!IsNewerFile(high, low) || IsNewerFile(low, high))
        GTEST_SKIP() << "the prefix's libraries do not have the expected versions";
    // Same version, existing file dated long before the cabinet's copy: kept.
    CopyFileA(high.c_str(), D("same.bin").c_str(), FALSE);
    SetWriteTime(D("same.bin"), 2001, 1, 1);
    // Lower version, existing file dated after the cabinet's copy: replaced.
    CopyFileA(low.c_str(), D("lower.bin").c_str(), FALSE);
    SetWriteTime(D("lower.bin"), 2020, 1, 1);
    const std::string image = ReadFileBytes(high);
    Build({{D("same.bin"), image, "OVERWRITE ONLY IF NEWER"},
           {D("lower.bin"), image, "OVERWRITE ONLY IF NEWER"}});
    ASSERT_EQ(Run(), -1);
    EXPECT_NE(FileWriteTime(D("same.bin")), FileWriteTime(dir_ / "src\\same.bin"));
    EXPECT_EQ(ReadFileBytes(D("lower.bin")), image);
    EXPECT_EQ(Recorded("Files", 0), D("lower.bin"));
}

TEST_F(ExistModeTest, IfNewerCopyNamedLikeTheWorkingFileDoesNotSpoilIt) {
    // The comparison copy is made beside the setup's own files; a file named like the
    // working file or the configuration must not overwrite them.
    WriteFileBytes(D("qvsetup.ini"), "old");
    SetWriteTime(D("qvsetup.ini"), 2001, 1, 1);
    Build({{D("qvsetup.ini"), "[X]\r\n", "OVERWRITE ONLY IF NEWER"}, {D("b.txt"), "b"}});
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("qvsetup.ini")), "[X]\r\n");
    EXPECT_EQ(ReadFileBytes(D("b.txt")), "b"); // the configuration still listed it
}

// ---- failures ----

TEST_F(PlacementTest, SizeThatIsNotANumberEndsTheSetup) {
    for (const char* bad : {"12x", "-5", "", "99999999999", "0x10"}) {
        SCOPED_TRACE(bad);
        prompt_.boxes.clear();
        CreateDirectoryA(Temp().c_str(), nullptr);
        Item it{D("a.txt"), "a"};
        it.sizeField = bad;
        if (std::string(bad).empty()) it.rawRecord = D("a.txt") + "? ?OVERWRITE?Yes";
        Build({it});
        prompt_.answers = {IDOK};
        EXPECT_EQ(Run(), 1);
        ASSERT_EQ(prompt_.boxes.size(), 1u);
        EXPECT_EQ(prompt_.boxes[0].text, "The setup file is corrupted.");
        EXPECT_EQ(prompt_.boxes[0].caption, ""); // the system's default caption
        EXPECT_EQ(prompt_.boxes[0].type, UINT(MB_OK | MB_ICONERROR));
        EXPECT_FALSE(PathExists(D("a.txt")));
    }
    // Silent: the same end without the box.
    ctx_.Silent = true;
    prompt_.boxes.clear();
    Item it{D("a.txt"), "a"};
    it.sizeField = " 12x ";
    Build({it});
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(PlacementTest, ARecordWithoutFourFieldsEndsThePhase) {
    Item bad;
    bad.noCabinet = true;
    bad.rawRecord = D("b.txt") + "?10?OVERWRITE";
    Build({{D("a.txt"), "a"}, bad, {D("c.txt"), "c"}});
    PlacementResult result{};
    ASSERT_EQ(Run(&result), -1);
    EXPECT_EQ(result, PlacementResult::MalformedRecord);
    EXPECT_EQ(ReadFileBytes(D("a.txt")), "a");
    EXPECT_FALSE(PathExists(D("c.txt")));
}

TEST_F(PlacementTest, CabinetCutShortAsksAndIgnoreGoesOn) {
    Item cut{D("cut.bin"), RandomBytes(50000, 9)};
    cut.cutCabinetTo = 3000;
    // The setup file ends inside the first cabinet: the next record finds nothing.
    Build({cut, {D("next.txt"), "n"}});
    prompt_.answers = {IDIGNORE, IDIGNORE};
    ASSERT_EQ(Run(), -1);
    EXPECT_TRUE(ctx_.Errors);
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(prompt_.boxes[0].text, "Cannot place " + D("cut.bin"));
    EXPECT_EQ(prompt_.boxes[0].caption, "Setup");
    EXPECT_EQ(prompt_.boxes[0].type, UINT(MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_DEFBUTTON2));
    EXPECT_EQ(prompt_.boxes[1].text, "Cannot place " + D("next.txt"));
    ASSERT_GE(ctx_.LogList.size(), 2u);
    EXPECT_EQ(ctx_.LogList[0], "Error file: " + D("cut.bin"));
    EXPECT_EQ(ctx_.PayloadOffset, kFiller + Sum(cabSizes_)); // full sizes, cut or not
    EXPECT_EQ(Recorded("Files", 0), "<none>");
}

TEST_F(PlacementTest, ExtractionQuestionsAppearInSilentRunsAndAbortEnds) {
    ctx_.Silent = true;
    Item cut{D("cut.bin"), RandomBytes(50000, 9)};
    cut.cutCabinetTo = 100;
    Build({cut, {D("next.txt"), "n"}});
    prompt_.answers = {IDABORT};
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(prompt_.boxes.size(), 1u);
    ExpectFilesClosed();
}

TEST_F(PlacementTest, RetryAfterALockedDestinationSucceeds) {
    WriteFileBytes(D("locked.txt"), "old");
    HANDLE lock =
        CreateFileA(D("locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    Build({{D("locked.txt"), "new"}});
    prompt_.answers = {IDRETRY};
    prompt_.onBox = [&](size_t) { CloseHandle(lock); };
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(ReadFileBytes(D("locked.txt")), "new");
    EXPECT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_FALSE(ctx_.Errors);
    EXPECT_EQ(Recorded("Files", 0), D("locked.txt"));
}

TEST_F(PlacementTest, UnreadableSetupFileAsksAndRetryReadsItAgain) {
    Build({{D("a.txt"), "a"}, {D("b.txt"), "b"}});
    // Opened without sharing: the placement cannot open the setup file.
    HANDLE lock =
        CreateFileA(ctx_.SetupFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    prompt_.answers = {IDIGNORE, IDRETRY};
    prompt_.onBox = [&](size_t n) {
        if (n == 2) CloseHandle(lock);
    };
    ASSERT_EQ(Run(), -1);
    ASSERT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(prompt_.boxes[0].text, "Cannot place " + D("a.txt"));
    EXPECT_EQ(prompt_.boxes[0].type, UINT(MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_DEFBUTTON2));
    EXPECT_EQ(prompt_.boxes[1].text, "Cannot place " + D("b.txt"));
    EXPECT_TRUE(ctx_.Errors);
    EXPECT_FALSE(PathExists(D("a.txt")));
    EXPECT_EQ(ReadFileBytes(D("b.txt")), "b"); // the offset moved past the ignored one
    // The cabinets are read in place: no working copy is left in the temporary folder.
    EXPECT_FALSE(PathExists(Temp() + "\\qvfile.dat"));
}

TEST_F(PlacementTest, CancelDuringACopyEndsAfterTheCurrentBlock) {
    Build({{D("long.bin"), RandomBytes(400000, 4)}, {D("after.txt"), "x"}});
    int calls = 0, positionAtCancel = -1;
    onView_ = [&] {
        if (ctx_.View.ProgressBar1 > 0 && ++calls == 3) {
            ctx_.Cancel = true;
            positionAtCancel = ctx_.View.ProgressBar1;
        }
    };
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(ctx_.View.ProgressBar1, positionAtCancel); // no further block was copied
    EXPECT_LT(ctx_.View.ProgressBar1, 50);
    EXPECT_FALSE(PathExists(D("long.bin")));
    EXPECT_FALSE(PathExists(D("after.txt")));
    ExpectFilesClosed();
}

TEST_F(PlacementTest, FolderThatCannotBeCreatedEndsTheSetup) {
    // A file where a folder must go.
    WriteFileBytes(D("blocker"), "");
    Build({{D("blocker\\inner\\a.txt"), "a"}});
    prompt_.answers = {IDOK};
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "Cannot create " + D("blocker"));
    EXPECT_EQ(prompt_.boxes[0].caption, "Setup");
    EXPECT_EQ(prompt_.boxes[0].type, UINT(MB_OK | MB_ICONERROR));
    EXPECT_EQ(ctx_.LogList.at(0), "Error creating folder: " + D("blocker"));
}

TEST_F(PlacementTest, FolderOnAMissingDriveEndsASilentSetupToo) {
    char drive = 0;
    DWORD used = GetLogicalDrives();
    for (char d = 'Q'; d <= 'Y' && !drive; ++d)
        if (!(used & (1u << (d - 'A')))) drive = d;
    ASSERT_NE(drive, 0);
    ctx_.Silent = true;
    const std::string dest = std::string(1, drive) + ":\\qvmissing\\a.txt";
    Build({{dest, "a"}});
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_EQ(ctx_.LogList.at(0), "Error creating folder: " + dest.substr(0, 12));
}

TEST_F(PlacementTest, UnsafeDestinationsAreNotWrittenAndCountAsFailedFiles) {
    Item relative{"sub\\rel.txt", "r"};
    Item dotted{D("in\\..\\..\\escaped.txt"), "e"};
    Build({relative, dotted, {D("ok.txt"), "ok"}});
    prompt_.answers = {IDRETRY, IDIGNORE, IDIGNORE};
    ASSERT_EQ(Run(), -1);
    ASSERT_EQ(prompt_.boxes.size(), 3u); // Retry asks again
    EXPECT_EQ(prompt_.boxes[0].text, "Cannot place sub\\rel.txt");
    EXPECT_EQ(prompt_.boxes[2].text, "Cannot place " + D("in\\..\\..\\escaped.txt"));
    EXPECT_FALSE(PathExists(dir_ / "escaped.txt"));
    EXPECT_FALSE(PathExists(D("in")));
    EXPECT_TRUE(ctx_.Errors);
    EXPECT_EQ(ReadFileBytes(D("ok.txt")), "ok");
}

TEST_F(PlacementTest, ACabinetHoldingAnotherNamePlacesNothing) {
    Item wrong{D("wanted.txt"), "w"};
    wrong.nameInCab = "planted.dll";
    Build({wrong});
    prompt_.answers = {IDIGNORE};
    ASSERT_EQ(Run(), -1);
    EXPECT_FALSE(PathExists(D("planted.dll")));
    EXPECT_FALSE(PathExists(D("wanted.txt")));
    EXPECT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(Recorded("Files", 0), "<none>");
}

TEST_F(ExistModeTest, IfNewerWithAnUnreadableCabinetAsksLikeAFailedExtraction) {
    Existing("a.txt", "old a");
    Item cut{D("a.txt"), RandomBytes(30000, 2), "OVERWRITE ONLY IF NEWER"};
    cut.cutCabinetTo = 500;
    Build({cut});
    prompt_.answers = {IDIGNORE};
    ASSERT_EQ(Run(), -1);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "Cannot place " + D("a.txt"));
    EXPECT_TRUE(Kept("a.txt", "old a"));
    EXPECT_TRUE(ctx_.Errors);
}

TEST_F(PlacementTest, PerUserInstallsWithoutRightsUseTheUsersFolders) {
    ctx_.PerUser = true;
    ctx_.Admin = false;
    char name[64];
    wsprintfA(name, "qvplace-%lu", GetCurrentProcessId());
    Item it{std::string("<ProgramFiles>\\") + name + "\\p.txt", "p"};
    Build({it});
    ASSERT_EQ(Run(), -1);
    char appData[MAX_PATH];
    ASSERT_TRUE(GetEnvironmentVariableA("APPDATA", appData, sizeof appData));
    const std::string folder = std::string(appData) + "\\" + name;
    EXPECT_EQ(ReadFileBytes(folder + "\\p.txt"), "p");
    RemoveTree(folder);
}

TEST_F(PlacementTest, CancelOtherItemsBlanksRecordsNamingThePathAfterExpansion) {
    ctx_.Wizard.Edit1 = "C:\\Apps\\Demo";
    Build({},
          "[Others]\r\n0=<InstallDir>\\demo.ttf*?Font*?Demo\r\n1=C:\\Apps\\Demo\\x.ocx*?Activex\r\n"
          "2=<InstallDir>\\DEMO.TTF2*?Font\r\n");
    CancelOtherItems(ctx_, "c:\\apps\\demo\\demo.ttf");
    EXPECT_EQ(Others(0), "");
    EXPECT_EQ(Others(1), "C:\\Apps\\Demo\\x.ocx*?Activex");
    EXPECT_EQ(Others(2), ""); // contains the path
    CancelOtherItems(ctx_, "");
    EXPECT_EQ(Others(1), "C:\\Apps\\Demo\\x.ocx*?Activex");
}

// ---- record numbers ----

// Keys spread over a TotalFiles of two billion: each record that exists is placed, in
// number order, with the progress of its number; the missing numbers between them are
// not walked one by one (that took minutes with the window frozen).
TEST_F(PlacementTest, RecordsSpreadOverAnAbsurdTotalArePlacedInNumberOrder) {
    const std::string a = MakeCabinet("a.txt", "first");
    const std::string b = MakeCabinet("b.txt", "middle");
    const std::string c = MakeCabinet("c.txt", "last");
    WriteFileBytes(ctx_.SetupFile, RandomBytes(kFiller, 5) + a + b + c);
    // File order differs from number order, and keys that are no record number of
    // this run stand between them.
    Configure(2147483647, "2147483646=" + D("c.txt") + "?" + std::to_string(c.size()) +
                              "?OVERWRITE?Yes\r\n" + "0=" + D("a.txt") + "?" +
                              std::to_string(a.size()) + "?OVERWRITE?Yes\r\n" +
                              "x7=ignored\r\n2147483647=" + D("beyond.txt") +
                              "?1?OVERWRITE?Yes\r\n" + "1073741823=" + D("b.txt") + "?" +
                              std::to_string(b.size()) + "?OVERWRITE?Yes\r\n");
    PlacementResult result{};
    ASSERT_EQ(Run(&result), -1);
    EXPECT_EQ(result, PlacementResult::Finished);
    EXPECT_EQ(ReadFileBytes(D("a.txt")), "first");
    EXPECT_EQ(ReadFileBytes(D("b.txt")), "middle");
    EXPECT_EQ(ReadFileBytes(D("c.txt")), "last");
    EXPECT_FALSE(PathExists(D("beyond.txt"))); // key TotalFiles is not a record
    EXPECT_EQ(Recorded("Files", 0), D("a.txt"));
    EXPECT_EQ(Recorded("Files", 1), D("b.txt"));
    EXPECT_EQ(Recorded("Files", 2), D("c.txt"));
    EXPECT_TRUE(prompt_.boxes.empty());
    // The middle record's bar starts at R(1073741823 * 100 / 2147483647) = 50.
    ASSERT_FALSE(positions_.empty());
    EXPECT_NE(std::find(positions_.begin(), positions_.end(), 50), positions_.end());
    EXPECT_EQ(ctx_.PayloadOffset, kFiller + a.size() + b.size() + c.size());
}

// ---- cabinet offsets ----

// Sizes of 2^31 - 1 each: four records later the position is kFiller + 2^32, which in
// 32 bits is kFiller again, where the first cabinet lies. Summed soundly it lies
// beyond the setup file, and the record fails like a cabinet that cannot be read.
TEST_F(PlacementTest, AbsurdSizesNeverWrapBackToAnEarlierCabinet) {
    const std::string a = MakeCabinet("a.txt", "only once");
    WriteFileBytes(ctx_.SetupFile, RandomBytes(kFiller, 5) + a);
    const std::string sz = std::to_string(a.size());
    Configure(4, "0=" + D("a.txt") + "?" + kAbsurd + "?OVERWRITE?Yes\r\n" + "1=" + D("b.txt") +
                     "?" + kAbsurd + "?OVERWRITE?Yes\r\n" + "2=" + D("c.txt") +
                     "?2?OVERWRITE?Yes\r\n" + "3=" + D("again\\a.txt") + "?" + sz +
                     "?OVERWRITE?Yes\r\n");
    prompt_.answers = {IDIGNORE, IDIGNORE, IDIGNORE};
    ASSERT_EQ(Run(), -1);
    // The first cabinet is whole where its record says it starts.
    EXPECT_EQ(ReadFileBytes(D("a.txt")), "only once");
    ASSERT_EQ(prompt_.boxes.size(), 3u);
    EXPECT_EQ(prompt_.boxes[0].text, "Cannot place " + D("b.txt"));
    EXPECT_EQ(prompt_.boxes[1].text, "Cannot place " + D("c.txt"));
    EXPECT_EQ(prompt_.boxes[2].text, "Cannot place " + D("again\\a.txt"));
    EXPECT_FALSE(PathExists(D("again\\a.txt")));
    EXPECT_TRUE(ctx_.Errors);
    // The run context's 32-bit copy stays at its highest value, beyond the file.
    EXPECT_EQ(ctx_.PayloadOffset, 0xFFFFFFFFu);
}

// A setup file larger than 4 GiB (sparse, so it costs no disk): the cabinet after two
// of 2^31 - 1 bytes lies past 4 GiB and is read there, not at a position cut to 32 bits.
TEST_F(PlacementTest, CabinetsBeyondFourGiBAreReadWhereTheyLie) {
    const std::string c = MakeCabinet("c.txt", "past four gigabytes");
    const uint64_t at = uint64_t{kFiller} + 2 * uint64_t{2147483647};
    ASSERT_GT(at, 0xFFFFFFFFull);
    {
        HANDLE h = CreateFileA(ctx_.SetupFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD done = 0;
        // Sparse where the file system can (Wine's files on Linux are sparse anyway).
        DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &done, nullptr);
        const std::string filler = RandomBytes(kFiller, 5);
        EXPECT_TRUE(WriteFile(h, filler.data(), kFiller, &done, nullptr));
        LARGE_INTEGER pos;
        pos.QuadPart = static_cast<LONGLONG>(at);
        EXPECT_TRUE(SetFilePointerEx(h, pos, nullptr, FILE_BEGIN));
        EXPECT_TRUE(WriteFile(h, c.data(), static_cast<DWORD>(c.size()), &done, nullptr));
        EXPECT_EQ(done, c.size());
        CloseHandle(h);
    }
    Configure(3, "0=" + D("a.bin") + "?" + kAbsurd + "?OVERWRITE?Yes\r\n" + "1=" + D("b.bin") +
                     "?" + kAbsurd + "?OVERWRITE?Yes\r\n" + "2=" + D("c.txt") + "?" +
                     std::to_string(c.size()) + "?OVERWRITE?Yes\r\n");
    // The first two find only zeros where their cabinets should be.
    prompt_.answers = {IDIGNORE, IDIGNORE};
    ASSERT_EQ(Run(), -1);
    EXPECT_EQ(prompt_.boxes.size(), 2u);
    EXPECT_EQ(ReadFileBytes(D("c.txt")), "past four gigabytes");
    EXPECT_EQ(Recorded("Files", 0), D("c.txt"));
    DeleteFileA(ctx_.SetupFile.c_str());
}

// ---- records of separators alone ----

// Four separators are four empty fields: the size field is no number, so the setup is
// corrupted (exit code 1), not a record of the wrong length that ends the run quietly.
// Three are three fields and end the run as any short record does.
TEST_F(PlacementTest, SeparatorsAloneAreEmptyFields) {
    WriteFileBytes(ctx_.SetupFile, RandomBytes(kFiller, 5));
    Configure(2, "0=????\r\n1=" + D("later.txt") + "?1?OVERWRITE?Yes\r\n");
    prompt_.answers = {IDOK};
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "The setup file is corrupted.");

    prompt_.boxes.clear();
    CreateDirectoryA(Temp().c_str(), nullptr);
    Configure(2, "0=???\r\n1=" + D("later.txt") + "?1?OVERWRITE?Yes\r\n");
    PlacementResult result{};
    ASSERT_EQ(Run(&result), -1);
    EXPECT_EQ(result, PlacementResult::MalformedRecord);
    EXPECT_TRUE(prompt_.boxes.empty());

    // Five are five fields: the same quiet end.
    Configure(1, "0=?????\r\n");
    ASSERT_EQ(Run(&result), -1);
    EXPECT_EQ(result, PlacementResult::MalformedRecord);
    EXPECT_FALSE(PathExists(D("later.txt")));
}

} // namespace
