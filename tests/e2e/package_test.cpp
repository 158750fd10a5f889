// Opening the setup package, end to end: real setup files built by mksetup are
// started under Windows (Wine) and checked the way a user would see them.
//
// Its setups show windows (questions, boxes), which would take the active window away
// from a window test running beside it, and the window tests check where the focus is.
// qv-test-locks: desktop
#include "CabWriter.h"
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "package/CabSTComps.h"
#include "package/SetupPackage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const char kCorruptText[] = "The setup file is corrupt.\r\n\r\nError code: ";

class PackageTest : public SetupFixture {
  protected:
    mksetup::BuildReport Build(bool requireSetupFiles = true) {
        return BuildSetupFile(project, setup, requireSetupFiles);
    }

    SetupRun Run(const std::string& args = "") { return RunSetup(setup, args, temp); }

    // The run ended through the corrupt-setup box with this code and left nothing behind.
    void ExpectCorrupt(const SetupRun& run, uint32_t code) {
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, code);
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_EQ(run.boxes[0].caption, "Error");
        EXPECT_EQ(run.boxes[0].text, kCorruptText + std::to_string(code));
        EXPECT_EQ(run.boxes[0].owner, nullptr);
        EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
    }

    void ExpectClean(const SetupRun& run) {
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
    }

    void Append(const std::string& bytes) { WriteFileBytes(setup, ReadFileBytes(setup) + bytes); }
};

TEST_F(PackageTest, OpensWithTrailerAtTheVeryEnd) {
    WriteMinimalProject(project);
    auto report = Build();
    std::string file = ReadFileBytes(setup);
    ASSERT_EQ(file.size(), report.setupFileSize);
    EXPECT_EQ(file.substr(file.size() - kTrailerSize), FormatTrailer(report.setupCabinetSize));
    ExpectClean(Run());
}

TEST_F(PackageTest, FindsTrailerBelowAppendedBytes) {
    WriteMinimalProject(project);
    Build();
    // What a code signature adds after the trailer.
    Append(RandomBytes(8192, 7));
    ExpectClean(Run());
}

TEST_F(PackageTest, PassesOverMagicFollowedByNonDigits) {
    WriteMinimalProject(project);
    Build();
    Append("ZYXabcdefghij" + RandomBytes(100, 3) + "ZYX12345678x9");
    ExpectClean(Run());
}

TEST_F(PackageTest, ShortFileFailsWithCodeOne) {
    WriteMinimalProject(project);
    Build();
    std::string file = ReadFileBytes(setup);
    const size_t stub = ReadFileBytes(QV_SETUPSTUB_PATH).size();
    if (stub > kTrailerSearchFloor - 1)
        GTEST_SKIP() << "the runtime is " << stub << " bytes, so no setup made from it can be "
                     << "shorter than the trailer floor; the trailer search's unit tests cover it";
    // One byte short of the smallest file that can hold a trailer above the floor,
    // with a valid-looking trailer at its end that must not be found.
    std::string shortFile =
        file.substr(0, kTrailerSearchFloor + kTrailerSize - 1 - kTrailerSize) + FormatTrailer(100);
    ASSERT_EQ(shortFile.size(), kTrailerSearchFloor + kTrailerSize - 1);
    WriteFileBytes(setup, shortFile);
    ExpectCorrupt(Run(), 1);
}

TEST_F(PackageTest, CorruptBoxAppearsEvenWhenSilent) {
    WriteMinimalProject(project);
    Build();
    std::string file = ReadFileBytes(setup);
    WriteFileBytes(setup, file.substr(0, file.size() - kTrailerSize) + "XYZ0000000100");
    ExpectCorrupt(Run("/S"), 1);
}

TEST_F(PackageTest, TrailerNumbersZeroAndOneCountAsMissing) {
    WriteMinimalProject(project);
    Build();
    std::string file = ReadFileBytes(setup);
    std::string body = file.substr(0, file.size() - kTrailerSize);
    // Zero must not end a broken setup with the exit code of success.
    for (uint32_t n : {0u, 1u}) {
        WriteFileBytes(setup, body + FormatTrailer(n));
        ExpectCorrupt(Run(), 1);
    }
}

TEST_F(PackageTest, LeftoverSetupTempFolderGivesSizeCode) {
    WriteMinimalProject(project);
    auto report = Build();
    // Whatever three digits the run draws, that folder already exists.
    for (int i = 0; i < 1000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "QVTMP%03d", i);
        ASSERT_TRUE(CreateDirectoryA((temp + "\\" + name).c_str(), nullptr));
    }
    SetupRun run = Run();
    EXPECT_EQ(run.exitCode, report.setupCabinetSize);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, kCorruptText + std::to_string(report.setupCabinetSize));
    // The folders were not the run's own: all of them are still there.
    EXPECT_EQ(ListFolders(temp, "QVTMP").size(), 1000u);
}

TEST_F(PackageTest, SizeBeyondStartOfFileGivesThatSize) {
    WriteMinimalProject(project);
    auto report = Build();
    std::string file = ReadFileBytes(setup);
    uint32_t lie = static_cast<uint32_t>(report.setupFileSize); // more than lies in front
    WriteFileBytes(setup, file.substr(0, file.size() - kTrailerSize) + FormatTrailer(lie));
    ExpectCorrupt(Run(), lie);
}

TEST_F(PackageTest, DamagedSetupCabinetGivesSizeCode) {
    WriteMinimalProject(project);
    auto report = Build();
    std::string file = ReadFileBytes(setup);
    size_t cabStart = file.size() - kTrailerSize - report.setupCabinetSize;
    file.replace(cabStart, 64, RandomBytes(64, 11)); // the cabinet header is gone
    WriteFileBytes(setup, file);
    ExpectCorrupt(Run(), report.setupCabinetSize);
}

TEST_F(PackageTest, MissingHeaderPictureGivesCodeTwoAfterUnpacking) {
    WriteMinimalProject(project);
    DeleteFileA((project + "\\setup\\qvheader.bmp").c_str());
    Build(/*requireSetupFiles=*/false);
    SetupRun run = Run();
    ExpectCorrupt(run, 2);
    ASSERT_EQ(run.boxes.size(), 1u);
    const auto& files = run.boxes[0].setupTempFiles;
    for (const char* f : {"qvsetup.ini", "qvwizard.bmp", "Englishqv.lng", "qvsetup.cab"})
        EXPECT_NE(std::find(files.begin(), files.end(), f), files.end()) << f;
}

TEST_F(PackageTest, InvalidWizardPictureGivesCodeTwo) {
    WriteMinimalProject(project);
    WriteFileBytes(project + "\\setup\\qvwizard.bmp", "BM this is not a bitmap");
    Build(/*requireSetupFiles=*/false);
    ExpectCorrupt(Run(), 2);
}

// No language file: code 4 with the corrupt-setup box, which a silent run leaves out.
// The log, which start-up began before the language is chosen, holds its header only.
TEST_F(PackageTest, NoLanguageFileGivesCodeFourAndALogOfTheHeaderOnly) {
    WriteMinimalProject(project);
    DeleteFileA((project + "\\setup\\Englishqv.lng").c_str());
    Build(/*requireSetupFiles=*/false);
    ExpectCorrupt(Run(), 4);
    EXPECT_FALSE(PathExists(temp + "\\QVSETUPLOG.TXT"));

    SetupRun run = Run("/S /L");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 4u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
    const std::string log = ReadFileBytes(temp + "\\QVSETUPLOG.TXT");
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(log.substr(at, end - at));
    ASSERT_EQ(lines.size(), 5u) << log;
    EXPECT_EQ(lines[1], "Test Product 1.0");
    EXPECT_TRUE(lines[4] == "Admin" || lines[4] == "NotAdmin") << lines[4];
}

// A silent run checks the pictures without loading them, with the same outcome.
TEST_F(PackageTest, SilentRunRefusesTheSamePictures) {
    WriteMinimalProject(project);
    WriteFileBytes(project + "\\setup\\qvwizard.bmp", "BM this is not a bitmap");
    Build(/*requireSetupFiles=*/false);
    ExpectCorrupt(Run("/S"), 2);
    WriteMinimalProject(project);
    DeleteFileA((project + "\\setup\\qvheader.bmp").c_str());
    Build(/*requireSetupFiles=*/false);
    ExpectCorrupt(Run("/S"), 2);
}

// A setup cabinet whose size is an exact multiple of the copy block size is still
// copied completely.
TEST_F(PackageTest, SetupCabinetOfExactBlockMultiple) {
    WriteMinimalProject(project);
    mksetup::BuildReport report = Build();
    std::string file = ReadFileBytes(setup);
    const std::string engine = file.substr(0, report.engineSize);

    std::string staging = work / "staging";
    CreateDirectoryA(staging.c_str(), nullptr);
    std::vector<mksetup::CabEntry> entries;
    for (const char* f : {"qvwizard.bmp", "qvheader.bmp", "Englishqv.lng"})
        entries.push_back({project + "\\setup\\" + f, f});
    // Any system the prefix may report counts as supported, so no question comes up.
    std::string ini = "[Setup]\r\nAppName=X\r\n";
    for (const char* os : {"Windows XP", "Windows Vista", "Windows 7", "Windows 8", "Windows 8.1",
                           "Windows Server 2003", "Windows Server 2008", "Windows Server 2008 R2",
                           "Windows Server 2012", "Windows Server 2012 R2"})
        ini += std::string(os) + "=1\r\n";
    WriteFileBytes(staging + "\\qvsetup.ini", ini);
    entries.push_back({staging + "\\qvsetup.ini", "qvsetup.ini"});
    entries.push_back({staging + "\\filler.bin", "filler.bin"});

    // Random filler does not compress, so the cabinet grows with it; adjust until the
    // cabinet is a whole number of 2048-byte blocks.
    std::string cab = staging + "\\setup.cab";
    size_t filler = 10000;
    std::string cabBytes;
    for (int attempt = 0; attempt < 50; ++attempt) {
        WriteFileBytes(staging + "\\filler.bin", RandomBytes(filler, 5));
        mksetup::WriteCabinet(cab, entries);
        cabBytes = ReadFileBytes(cab);
        if (cabBytes.size() % 2048 == 0) break;
        filler += 2048 - cabBytes.size() % 2048;
    }
    ASSERT_EQ(cabBytes.size() % 2048, 0u) << "could not hit a block multiple";
    WriteFileBytes(setup,
                   engine + cabBytes + FormatTrailer(static_cast<uint32_t>(cabBytes.size())));
    ExpectClean(Run());
}

// ---- damaged or crafted setup cabinets ----

// The setup as built, cut in front of its setup cabinet, and that cabinet's files, so
// a test can put a crafted setup cabinet in its place.
class PackageHostileTest : public PackageTest {
  protected:
    std::string files = work / "files"; // the setup cabinet's files
    std::string engine;                 // everything in front of the setup cabinet

    void SetUp() override {
        PackageTest::SetUp();
        WriteMinimalProject(project);
        const mksetup::BuildReport report = Build();
        const std::string file = ReadFileBytes(setup);
        const size_t cabStart = file.size() - kTrailerSize - report.setupCabinetSize;
        engine = file.substr(0, cabStart);
        const std::string cab = work / "built.cab";
        WriteFileBytes(cab, file.substr(cabStart, report.setupCabinetSize));
        TSTCabReader reader;
        reader.ExtractFiles(cab, files);
    }

    // The setup file again, with the given setup cabinet.
    void WriteSetup(const std::string& cabBytes) {
        WriteFileBytes(setup,
                       engine + cabBytes + FormatTrailer(static_cast<uint32_t>(cabBytes.size())));
    }

    std::vector<mksetup::CabEntry> Entries(const std::vector<std::string>& names) {
        std::vector<mksetup::CabEntry> entries;
        for (const auto& n : names)
            entries.push_back({files + "\\" + n, n});
        return entries;
    }
};

// The setup cabinet's header says the set goes on in "..\evil.cab", which from the
// setup temp folder is a cabinet in the temporary folder itself, holding the header
// picture the setup cabinet lacks. It is not read: the picture is missing.
TEST_F(PackageHostileTest, NextCabinetOutsideTheSetupTempFolderIsNotRead) {
    auto entries = Entries({"qvsetup.ini", "Englishqv.lng", "qvwizard.bmp", "qvheader.bmp"});
    entries[3].newCabinet = true;
    mksetup::CabWriterOptions opt;
    opt.maxCabinetSize = 100000000;
    auto cabs = mksetup::WriteCabinet(work / "setcab.cab", entries, opt);
    ASSERT_EQ(cabs.size(), 2u);
    std::string first = ReadFileBytes(cabs[0]);
    const size_t at = first.find(std::string("setcab2.cab") + '\0');
    ASSERT_LT(at, 100u);
    first.replace(at, 11, "..\\evil.cab");
    WriteSetup(first);
    ASSERT_TRUE(CopyFileA(cabs[1].c_str(), (temp + "\\evil.cab").c_str(), FALSE));

    SetupRun run = RunSetup(setup, "", temp);
    ExpectCorrupt(run, 2);
    ASSERT_EQ(run.boxes.size(), 1u);
    const auto& seen = run.boxes[0].setupTempFiles;
    EXPECT_NE(std::find(seen.begin(), seen.end(), "qvwizard.bmp"), seen.end());
    EXPECT_EQ(std::find(seen.begin(), seen.end(), "qvheader.bmp"), seen.end());
}

} // namespace
