// Opening a damaged or crafted setup package, end to end: setup cabinets whose headers
// point outside the setup temp folder.
#include "Builder.h"
#include "CabWriter.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "package/CabSTComps.h"
#include "package/SetupPackage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char kCorruptText[] = "The setup file is corrupt.\r\n\r\nError code: ";

class PackageHostileTest : public ::testing::Test {
  protected:
    ScratchDir work;
    std::string temp = work / "temp";
    std::string project = work / "project";
    std::string setup = work / "setup.exe";
    std::string files = work / "files"; // the setup cabinet's files
    std::string engine;                 // everything in front of the setup cabinet

    void SetUp() override {
        CreateDirectoryA(temp.c_str(), nullptr);
        WriteMinimalProject(project);
        mksetup::BuildOptions o;
        o.projectDir = project;
        o.outputPath = setup;
        o.stubPath = QV_SETUPSTUB_PATH;
        const mksetup::BuildReport report = mksetup::BuildSetup(o);
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

    void ExpectCorrupt(const SetupRun& run, uint32_t code) {
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, code);
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_EQ(run.boxes[0].caption, "Error");
        EXPECT_EQ(run.boxes[0].text, kCorruptText + std::to_string(code));
        EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
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
