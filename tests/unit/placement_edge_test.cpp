// File placement against hostile [Files] sections: record numbers spread over an
// absurd TotalFiles, cabinet sizes whose sum passes 4 GiB, and records made of
// separators alone.
#include "CabWriter.h"
#include "TestSupport.h"
#include "app/RunContext.h"
#include "config/IniFile.h"
#include "engine/FilePlacement.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

struct RunEnded {
    uint32_t code;
};

// Answers message boxes from a script; an unscripted box or overwrite question fails
// the test and aborts, so a wrong path cannot loop.
class Prompt : public IUserPrompt {
  public:
    int MessageBox(HWND, const std::string& text, const std::string&, UINT) override {
        boxes.push_back(text);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected box: " << text;
            return IDABORT;
        }
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    OverwriteAnswer AskOverwrite(HWND, const std::string& text, const std::string&) override {
        ADD_FAILURE() << "unexpected overwrite question: " << text;
        return OverwriteAnswer::No;
    }
    std::deque<int> answers;
    std::vector<std::string> boxes;
};

class PlacementEdgeTest : public ::testing::Test {
  protected:
    PlacementEdgeTest() {
        CreateDirectoryA(Temp().c_str(), nullptr);
        CreateDirectoryA(Dest().c_str(), nullptr);
        CreateDirectoryA((dir_ / "src").c_str(), nullptr);
        ctx_.SetupTempDir = Temp();
        ctx_.SetupFile = dir_ / "setup.exe";
        ctx_.Prompt = &prompt_;
        ctx_.Terminate = [](uint32_t c) { throw RunEnded{c}; };
        ctx_.TitleCaption = "Demo Setup";
        ctx_.UninstallOn = true;
        ctx_.UninstallRecordPath = Temp() + "\\qvuninstall.ini";
        ctx_.UninstallRecordOpen = true;
        ctx_.InstallViewChanged = [this] { positions_.push_back(ctx_.ProgressBar1); };
        WriteFileBytes(dir_ / "Englishqv.lng", "[Messages]\r\n0=Demo Setup\r\n1=Cancel?\r\n"
                                               "12=Overwrite %s?\r\n13=Cannot create %s\r\n"
                                               "14=Cannot place %s\r\n");
        ctx_.Language = std::make_unique<TIniFile>(dir_ / "Englishqv.lng");
    }

    std::string Temp() const { return dir_ / "tmp"; }
    std::string Dest() const { return dir_ / "dest"; }
    std::string D(const std::string& rel) const { return Dest() + "\\" + rel; }

    std::string Cabinet(const std::string& name, const std::string& content) {
        const std::string src = dir_ / ("src\\" + name);
        WriteFileBytes(src, content);
        const std::string cab = src + ".cab";
        mksetup::WriteCabinet(cab, {{src, name}});
        return ReadFileBytes(cab);
    }

    // qvsetup.ini with the given TotalFiles and [Files] lines; the payload starts at
    // kFiller.
    void Configure(int64_t totalFiles, const std::string& filesLines) {
        WriteFileBytes(Temp() + "\\qvsetup.ini",
                       "[Setup]\r\nTotalFiles=" + std::to_string(totalFiles) + "\r\n[Files]\r\n" +
                           filesLines);
        ctx_.Config = std::make_unique<TIniFile>(Temp() + "\\qvsetup.ini");
        ctx_.PayloadOffset = kFiller;
    }

    // The exit code when the run was ended, else -1.
    int64_t Run(PlacementResult* result = nullptr) {
        try {
            const PlacementResult r = PlaceFiles(ctx_);
            if (result) *result = r;
        } catch (const RunEnded& e) {
            return e.code;
        }
        return -1;
    }

    std::string Recorded(int key) {
        char buf[1024];
        GetPrivateProfileStringA("Files", std::to_string(key).c_str(), "<none>", buf, sizeof buf,
                                 ctx_.UninstallRecordPath.c_str());
        return buf;
    }

    static constexpr uint32_t kFiller = 5000;
    static constexpr const char* kAbsurd = "2147483647"; // the largest size accepted
    ScratchDir dir_;
    RunContext ctx_;
    Prompt prompt_;
    std::vector<int> positions_;
};

// ---- record numbers ----

// Keys spread over a TotalFiles of two billion: each record that exists is placed, in
// number order, with the progress of its number; the missing numbers between them are
// not walked one by one (that took minutes with the window frozen).
TEST_F(PlacementEdgeTest, RecordsSpreadOverAnAbsurdTotalArePlacedInNumberOrder) {
    const std::string a = Cabinet("a.txt", "first");
    const std::string b = Cabinet("b.txt", "middle");
    const std::string c = Cabinet("c.txt", "last");
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
    EXPECT_EQ(Recorded(0), D("a.txt"));
    EXPECT_EQ(Recorded(1), D("b.txt"));
    EXPECT_EQ(Recorded(2), D("c.txt"));
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
TEST_F(PlacementEdgeTest, AbsurdSizesNeverWrapBackToAnEarlierCabinet) {
    const std::string a = Cabinet("a.txt", "only once");
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
    EXPECT_EQ(prompt_.boxes[0], "Cannot place " + D("b.txt"));
    EXPECT_EQ(prompt_.boxes[1], "Cannot place " + D("c.txt"));
    EXPECT_EQ(prompt_.boxes[2], "Cannot place " + D("again\\a.txt"));
    EXPECT_FALSE(PathExists(D("again\\a.txt")));
    EXPECT_TRUE(ctx_.Errors);
    // The run context's 32-bit copy stays at its highest value, beyond the file.
    EXPECT_EQ(ctx_.PayloadOffset, 0xFFFFFFFFu);
}

// A setup file larger than 4 GiB (sparse, so it costs no disk): the cabinet after two
// of 2^31 - 1 bytes lies past 4 GiB and is read there, not at a position cut to 32 bits.
TEST_F(PlacementEdgeTest, CabinetsBeyondFourGiBAreReadWhereTheyLie) {
    const std::string c = Cabinet("c.txt", "past four gigabytes");
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
    EXPECT_EQ(Recorded(0), D("c.txt"));
    DeleteFileA(ctx_.SetupFile.c_str());
}

// ---- records of separators alone ----

// Four separators are four empty fields: the size field is no number, so the setup is
// corrupted (exit code 1), not a record of the wrong length that ends the run quietly.
// Three are three fields and end the run as any short record does.
TEST_F(PlacementEdgeTest, SeparatorsAloneAreEmptyFields) {
    WriteFileBytes(ctx_.SetupFile, RandomBytes(kFiller, 5));
    Configure(2, "0=????\r\n1=" + D("later.txt") + "?1?OVERWRITE?Yes\r\n");
    prompt_.answers = {IDOK};
    EXPECT_EQ(Run(), 1);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0], "The setup file is corrupted.");

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
