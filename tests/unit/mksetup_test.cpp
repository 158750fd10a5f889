// The setup builder: the layout of the file it writes (read back with the runtime's
// own cabinet reader and the profile functions), the project folder it reads, and
// that a failed build leaves neither an output nor a temporary file behind.
#include "Builder.h"
#include "IniText.h"
#include "Project.h"
#include "SetupFiles.h"
#include "SystemState.h"
#include "TestSupport.h"
#include "package/CabSTComps.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <vector>

namespace {

// The names in dir, sorted.
std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names = ListMatching(dir + "\\*");
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0, q;
    while ((q = s.find(sep, start)) != std::string::npos) {
        parts.push_back(s.substr(start, q - start));
        start = q + 1;
    }
    parts.push_back(s.substr(start));
    return parts;
}

// One [Files] record as found in a built setup, with its cabinet unpacked.
struct FoundFile {
    std::string destination, mode, flag;
    uint32_t cabSize = 0;
    std::vector<std::string> namesInCab;
    std::string content; // of the single file in the cabinet
};

class MksetupTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string temp = dir / "temp";
    std::string project = dir / "project";
    std::string outDir = dir / "out";
    std::string output = outDir + "\\setup.exe";
    std::string stub = dir / "stub.exe";
    std::string stubBytes = RandomBytes(1000, 7);
    std::string ini; // qvsetup.ini unpacked from the last inspected setup
    TempEnvironment tempEnv{temp};

    void SetUp() override {
        for (const std::string& d : {temp, project, outDir, project + "\\setup"})
            CreateDirectoryA(d.c_str(), nullptr);
        WriteFileBytes(stub, stubBytes);
        Put("setup\\qvwizard.bmp", RandomBytes(3000, 1));
        Put("setup\\qvheader.bmp", RandomBytes(2000, 2));
        Put("setup\\Englishqv.lng", "[Info]\r\nid=1033\r\n");
    }

    // Writes a file below the project folder, creating its folders.
    void Put(const std::string& rel, const std::string& bytes) {
        std::string path = project + "\\" + rel;
        for (size_t p = project.size() + 1; (p = path.find('\\', p)) != std::string::npos; ++p)
            CreateDirectoryA(path.substr(0, p).c_str(), nullptr);
        WriteFileBytes(path, bytes);
    }

    mksetup::BuildReport Build(bool requireSetupFiles = true) {
        // These projects are about the layout (pictures of random bytes, records the
        // runtime would drop); the checks of their contents have tests of their own.
        return BuildSetupFile(project, output, requireSetupFiles, stub, mksetup::CheckLevel::Off);
    }

    // Checks the frame of the built file and unpacks the setup cabinet and every
    // payload cabinet, walking the payload exactly as the runtime does.
    std::vector<FoundFile> Inspect(const mksetup::BuildReport& report) {
        std::string data = ReadFileBytes(output);
        EXPECT_EQ(data.size(), report.setupFileSize);
        EXPECT_GE(data.size(), 400013u);
        const size_t t = data.size() - 13;
        EXPECT_EQ(data.substr(t, 3), "ZYX");
        std::string digits = data.substr(t + 3);
        EXPECT_TRUE(std::all_of(digits.begin(), digits.end(), ::isdigit)) << digits;
        const uint32_t s = static_cast<uint32_t>(std::stoul(digits));
        EXPECT_EQ(s, report.setupCabinetSize);
        EXPECT_LE(s, t);

        std::string setupDir = dir / "unpacked-setup";
        Unpack(data.substr(t - s, s), setupDir);
        ini = setupDir + "\\qvsetup.ini";
        const uint32_t engine =
            static_cast<uint32_t>(std::stoul(IniValue(ini, "Setup", "EngineSize")));
        EXPECT_EQ(engine, report.engineSize);
        EXPECT_GE(engine, 400000u);
        EXPECT_TRUE(data.compare(0, stubBytes.size(), stubBytes) == 0) << "runtime at the front";
        if (engine > stubBytes.size()) {
            EXPECT_TRUE(data.compare(stubBytes.size(), engine - stubBytes.size(),
                                     std::string(engine - stubBytes.size(), '\0')) == 0)
                << "padding must be zeros";
        }

        const int total = std::stoi(IniValue(ini, "Setup", "TotalFiles"));
        EXPECT_EQ(static_cast<uint32_t>(total), report.totalFiles);
        std::vector<FoundFile> found;
        uint64_t offset = engine;
        for (int i = 0; i < total; ++i) {
            std::vector<std::string> f = Split(IniValue(ini, "Files", std::to_string(i)), '?');
            if (f.size() != 4) {
                ADD_FAILURE() << "record " << i << " has " << f.size() << " fields";
                break;
            }
            FoundFile ff{f[0], f[2], f[3], static_cast<uint32_t>(std::stoul(f[1])), {}, {}};
            EXPECT_EQ(ff.cabSize, report.cabinetSizes.at(i));
            if (offset + ff.cabSize > t - s) {
                ADD_FAILURE() << "cabinet " << i << " runs into the setup cabinet";
                break;
            }
            std::string to = dir / ("unpacked-" + std::to_string(i));
            Unpack(data.substr(offset, ff.cabSize), to);
            ff.namesInCab = FilesIn(to);
            if (ff.namesInCab.size() == 1) ff.content = ReadFileBytes(to + "\\" + ff.namesInCab[0]);
            found.push_back(ff);
            offset += ff.cabSize;
        }
        EXPECT_EQ(offset, t - s) << "the payload must end where the setup cabinet starts";
        return found;
    }

    void Unpack(const std::string& cabBytes, const std::string& to) {
        std::string cab = to + ".cab";
        WriteFileBytes(cab, cabBytes);
        CreateDirectoryA(to.c_str(), nullptr);
        try {
            TSTCabReader reader;
            reader.ExtractFiles(cab, to);
        } catch (const ESTCabinet& e) {
            ADD_FAILURE() << "cannot unpack " << cab << ": " << e.what();
        }
    }

    // The build fails with a message containing `cause`, and leaves nothing behind:
    // no output, no temporary file beside it, no work folder.
    void ExpectFailure(const std::string& cause, bool requireSetupFiles = true) {
        try {
            Build(requireSetupFiles);
            ADD_FAILURE() << "the build succeeded; expected: " << cause;
        } catch (const mksetup::BuildError& e) {
            EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
        }
        EXPECT_EQ(FilesIn(outDir), std::vector<std::string>{});
        EXPECT_EQ(FilesIn(temp), std::vector<std::string>{});
    }
};

TEST_F(MksetupTest, LayoutOfABuiltSetupIsConsistent) {
    std::string big = RandomBytes(300000, 11), small = "hello\r\n";
    Put("bin\\app.exe", big);
    Put("notes.txt", small);
    Put("setup\\LEnglish.rtf", "{\\rtf1 licence}");
    Put("setup.ini", "[Setup]\r\nAppName=Demo\r\n\r\n[Payload]\r\n"
                     "a=bin\\app.exe?<InstallDir>\\bin\\app.exe?OVERWRITE?Yes\r\n"
                     "b=notes.txt?<InstallDir>\\notes.txt?overwrite only if newer?no\r\n"
                     "c=notes.txt?<AppData>\\Demo\\notes.txt?Ask?YES\r\n");
    mksetup::BuildReport report = Build();
    EXPECT_EQ(report.engineSize, 400000u);
    EXPECT_EQ(report.totalFiles, 3u);
    EXPECT_EQ(report.filesSize, big.size() + 2 * small.size()); // notes.txt goes to two places

    std::vector<FoundFile> files = Inspect(report);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(IniValue(ini, "Setup", "FilesSize"), std::to_string(report.filesSize));
    EXPECT_EQ(IniValue(ini, "Setup", "AppName"), "Demo");
    EXPECT_EQ(files[0].destination, "<InstallDir>\\bin\\app.exe");
    EXPECT_EQ(files[0].namesInCab, std::vector<std::string>{"app.exe"});
    EXPECT_TRUE(files[0].content == big);
    EXPECT_EQ(files[0].mode + "|" + files[0].flag, "OVERWRITE|Yes");
    EXPECT_EQ(files[1].namesInCab, std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(files[1].content, small);
    EXPECT_EQ(files[1].mode + "|" + files[1].flag, "OVERWRITE ONLY IF NEWER|No");
    EXPECT_EQ(files[2].destination, "<AppData>\\Demo\\notes.txt");
    EXPECT_EQ(files[2].content, small);
    EXPECT_EQ(files[2].mode + "|" + files[2].flag, "ASK|Yes");

    // The setup cabinet holds the configuration and the setup folder, unchanged.
    std::string setupDir = dir / "unpacked-setup";
    EXPECT_EQ(FilesIn(setupDir),
              (std::vector<std::string>{"Englishqv.lng", "LEnglish.rtf", "qvheader.bmp",
                                        "qvsetup.ini", "qvwizard.bmp"}));
    EXPECT_TRUE(ReadFileBytes(setupDir + "\\qvwizard.bmp") == RandomBytes(3000, 1));
    EXPECT_EQ(FilesIn(temp), std::vector<std::string>{}) << "work files must be removed";
    EXPECT_EQ(FilesIn(outDir), std::vector<std::string>{"setup.exe"});
}

// An empty file still needs a cabinet: a size of 0 in [Files] means "no cabinet",
// and the runtime would then have nothing to extract.
TEST_F(MksetupTest, EmptyPayloadFileGetsACabinet) {
    Put("empty.dat", "");
    Put("setup.ini", "[Payload]\r\n0=empty.dat?<InstallDir>\\empty.dat?SKIP?No\r\n");
    mksetup::BuildReport report = Build();
    std::vector<FoundFile> files = Inspect(report);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(files[0].cabSize, 0u);
    EXPECT_EQ(files[0].namesInCab, std::vector<std::string>{"empty.dat"});
    EXPECT_EQ(files[0].content, "");
    EXPECT_EQ(report.filesSize, 0u);
}

TEST_F(MksetupTest, RuntimeLargerThanTheFloorIsNotPadded) {
    stubBytes = RandomBytes(450001, 3);
    WriteFileBytes(stub, stubBytes);
    Put("setup.ini", "[Setup]\r\n");
    mksetup::BuildReport report = Build();
    EXPECT_EQ(report.engineSize, 450001u);
    EXPECT_TRUE(Inspect(report).empty());
    EXPECT_EQ(IniValue(ini, "Setup", "TotalFiles"), "0");
}

TEST_F(MksetupTest, FolderSourceExpandsRecursivelyInNameOrder) {
    Put("p\\b.txt", "b");
    Put("p\\A.txt", "a");
    Put("p\\sub\\deeper\\d.txt", "d");
    Put("p\\sub\\c.txt", "c");
    Put("p\\z\\e.txt", "e");
    Put("one.txt", "1");
    Put("setup.ini", "[Payload]\r\n1=one.txt?<InstallDir>\\one.txt?SKIP?No\r\n"
                     "2=p?<InstallDir>\\data\\?ASK?Yes\r\n");
    std::vector<FoundFile> files = Inspect(Build());
    std::vector<std::string> got;
    for (const FoundFile& f : files)
        got.push_back(f.destination + "=" + f.content + "," + f.mode + "," + f.flag);
    EXPECT_EQ(got, (std::vector<std::string>{"<InstallDir>\\one.txt=1,SKIP,No",
                                             "<InstallDir>\\data\\A.txt=a,ASK,Yes",
                                             "<InstallDir>\\data\\b.txt=b,ASK,Yes",
                                             "<InstallDir>\\data\\sub\\c.txt=c,ASK,Yes",
                                             "<InstallDir>\\data\\sub\\deeper\\d.txt=d,ASK,Yes",
                                             "<InstallDir>\\data\\z\\e.txt=e,ASK,Yes"}));
    EXPECT_EQ(files[4].namesInCab, std::vector<std::string>{"d.txt"});
}

TEST_F(MksetupTest, ConfigurationKeepsSectionsAndOverridesLayoutKeys) {
    Put("f.bin", RandomBytes(5000, 5));
    Put("setup.ini", "; comment\r\n[Shortcuts]\r\nk2=second*?x\r\nk1=first*?y\r\n"
                     "[Setup]\r\nengineSize=1\r\nAppName=App\r\nTotalFiles=99\r\nFilesSize=7\r\n"
                     "[Payload]\r\n0=f.bin?C:\\App\\f.bin?OVERWRITE?No\r\n"
                     "[Registry]\r\nr=HKCU*?Software\\X\r\n");
    mksetup::BuildReport report = Build();
    Inspect(report);
    std::string text = ReadFileBytes(ini);
    EXPECT_EQ(text, "[Shortcuts]\r\nk2=second*?x\r\nk1=first*?y\r\n\r\n"
                    "[Setup]\r\nengineSize=400000\r\nAppName=App\r\nTotalFiles=1\r\n"
                    "FilesSize=5000\r\n\r\n[Files]\r\n0=C:\\App\\f.bin?" +
                        std::to_string(report.cabinetSizes.at(0)) +
                        "?OVERWRITE?No\r\n\r\n[Registry]\r\nr=HKCU*?Software\\X\r\n");
}

TEST_F(MksetupTest, RebuildReplacesAnExistingOutput) {
    WriteFileBytes(output, "old setup");
    Put("setup.ini", "[Setup]\r\nAppName=New\r\n");
    Inspect(Build());
    EXPECT_EQ(IniValue(ini, "Setup", "AppName"), "New");
    EXPECT_EQ(FilesIn(outDir), std::vector<std::string>{"setup.exe"});
}

TEST_F(MksetupTest, ProjectErrorsLeaveNothingBehind) {
    Put("setup.ini", "[Payload]\r\n0=missing.txt?<InstallDir>\\m.txt?SKIP?No\r\n");
    ExpectFailure("payload source not found");
    Put("a.txt", "a");
    Put("setup.ini", "[Payload]\r\n0=a.txt?<InstallDir>\\a.txt?SKIP\r\n");
    ExpectFailure("found 3 field(s)");
    Put("setup.ini", "[Payload]\r\n0=a.txt?<InstallDir>\\a.txt?SKIP?No?\r\n");
    ExpectFailure("found 5 field(s)");
    Put("setup.ini", "[Payload]\r\n0=a.txt?<InstallDir>\\a.txt?REPLACE?No\r\n");
    ExpectFailure("exist mode must be");
    Put("setup.ini", "[Payload]\r\n0=a.txt?<InstallDir>\\a.txt?SKIP?maybe\r\n");
    ExpectFailure("uninstall flag must be Yes or No");
    Put("setup.ini", "[Files]\r\n0=<InstallDir>\\a.txt?100?SKIP?No\r\n");
    ExpectFailure("[Files] is written by the builder");
    Put("setup.ini", "[Payload]\r\n0=a.txt?<InstallDir>\\<AppName>.txt?SKIP?No\r\n");
    ExpectFailure("must be literal");
    Put("setup.ini", "[Payload]\r\n0=a.txt?a.txt?SKIP?No\r\n");
    ExpectFailure("must be a full path");
    Put("setup.ini", "[Payload]\r\n0=a.txt?<InstallDir>\\x\\?SKIP?No\r\n");
    ExpectFailure("no file name");
    Put("setup.ini", "[Payload]\r\n0=a.txt?<InstallDir>\\a.txt?SKIP?No\r\n"
                     "1=a.txt?<installdir>\\A.TXT?SKIP?No\r\n");
    ExpectFailure("two payload files have the destination");
    CreateDirectoryA((project + "\\nothing").c_str(), nullptr);
    Put("setup.ini", "[Payload]\r\n0=nothing?<InstallDir>\\n?SKIP?No\r\n");
    ExpectFailure("holds no files");
}

TEST_F(MksetupTest, MissingSetupFilesAreRefusedUnlessNotRequired) {
    Put("setup.ini", "[Setup]\r\n");
    DeleteFileA((project + "\\setup\\qvheader.bmp").c_str());
    ExpectFailure("lacks qvheader.bmp");
    Put("setup\\qvheader.bmp", "x");
    DeleteFileA((project + "\\setup\\qvwizard.bmp").c_str());
    ExpectFailure("lacks qvwizard.bmp");
    Put("setup\\qvwizard.bmp", "x");
    DeleteFileA((project + "\\setup\\Englishqv.lng").c_str());
    ExpectFailure("no language file");

    // A deliberately broken setup for the runtime's own tests.
    DeleteFileA((project + "\\setup\\qvwizard.bmp").c_str());
    Inspect(Build(false));
    EXPECT_EQ(FilesIn(dir / "unpacked-setup"),
              (std::vector<std::string>{"qvheader.bmp", "qvsetup.ini"}));
    DeleteFileA(output.c_str());

    // The runtime makes these itself in its temp folder; a copy in the cabinet
    // would be overwritten there or overwrite the cabinet being unpacked.
    Put("setup\\qvsetup.cab", "x");
    ExpectFailure("must not contain qvsetup.cab", false);
}

TEST_F(MksetupTest, MissingInputsAndUnwritableOutputAreClearErrors) {
    Put("setup.ini", "[Setup]\r\n");
    stub = dir / "no-stub.exe";
    ExpectFailure("runtime not found");
    stub = dir / "stub.exe";

    output = outDir + "\\missing-folder\\setup.exe";
    ExpectFailure("cannot write");
    output = outDir + "\\setup.exe";

    // A read-only setup of an earlier build stays as it was.
    WriteFileBytes(output, "old");
    SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_THROW(Build(), mksetup::BuildError);
    EXPECT_TRUE(ReadFileBytes(output) == "old");
    EXPECT_EQ(FilesIn(outDir), std::vector<std::string>{"setup.exe"});
    SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(output.c_str());

    std::string realProject = project;
    project = dir / "no-project";
    ExpectFailure("project folder not found");
    project = realProject;
    DeleteFileA((project + "\\setup.ini").c_str());
    ExpectFailure("project has no setup.ini");
}

TEST_F(MksetupTest, FailureWhilePackingKeepsTheOldOutputAndRemovesTheTemporaryFile) {
    WriteFileBytes(output, "old");
    Put("ok.txt", "fine");
    Put("locked.txt", "locked");
    Put("setup.ini", "[Payload]\r\n0=ok.txt?<InstallDir>\\ok.txt?SKIP?No\r\n"
                     "1=locked.txt?<InstallDir>\\locked.txt?SKIP?No\r\n");
    std::string locked = project + "\\locked.txt";
    HANDLE h = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    try {
        Build();
        ADD_FAILURE() << "packing a locked file succeeded";
    } catch (const mksetup::BuildError& e) {
        EXPECT_NE(std::string(e.what()).find("locked.txt"), std::string::npos) << e.what();
    }
    CloseHandle(h);
    EXPECT_EQ(ReadFileBytes(output), "old");
    EXPECT_EQ(FilesIn(outDir), std::vector<std::string>{"setup.exe"});
    EXPECT_EQ(FilesIn(temp), std::vector<std::string>{});
}

TEST(MksetupIniText, ReadsInOrderAndRefusesWhatTheRuntimeWouldMisread) {
    auto sections = mksetup::ParseIniText(
        "\xEF\xBB\xBF[A]\r\n  k = v 1 \r\n;c\r\n[B]\nx=\n[a]\r\nm=a=b", "t.ini");
    ASSERT_EQ(sections.size(), 2u);
    EXPECT_EQ(sections[0].name, "A");
    using Items = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(sections[0].items, (Items{{"k", "v 1"}, {"m", "a=b"}}));
    EXPECT_EQ(sections[1].items, (Items{{"x", ""}}));

    auto fails = [](const std::string& text, const std::string& cause) {
        try {
            mksetup::ParseIniText(text, "t.ini");
            ADD_FAILURE() << "accepted text expected to fail with: " << cause;
        } catch (const mksetup::BuildError& e) {
            EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
        }
    };
    fails("k=v\r\n", "line 1: text before the first [section]");
    fails("[A]\r\nk=1\r\nK=2\r\n", "line 3: key 'K' appears twice");
    fails("[A]\r\njust text\r\n", "expected Key=Value");
    fails("[A]\r\n=v\r\n", "key name missing");
    fails("[A\r\n", "without ']'");
    fails("[A]\r\nk=" + std::string(2048, 'x') + "\r\n", "value longer than 2047");
    fails("\xFF\xFE[\0A\0]\0", "UTF-16");
    std::string many = "[A]\r\n";
    for (int i = 0; i < 3000; ++i)
        many += "key" + std::to_string(i) + "=v\r\n";
    fails(many, "exceed 16384 bytes");
}

TEST(MksetupPayloadRecord, FieldsAreTrimmedAndNormalised) {
    mksetup::PayloadRecord r = mksetup::ParsePayloadRecord(
        " a b.txt ?  <InstallDir>\\a b.txt ? Overwrite Only If Newer?yes");
    EXPECT_EQ(r.source, "a b.txt");
    EXPECT_EQ(r.destination, "<InstallDir>\\a b.txt");
    EXPECT_EQ(r.existMode, "OVERWRITE ONLY IF NEWER");
    EXPECT_TRUE(r.uninstall);
    EXPECT_FALSE(mksetup::ParsePayloadRecord("a?b?skip?NO").uninstall);
    EXPECT_THROW(mksetup::ParsePayloadRecord("?<InstallDir>\\a?SKIP?No"), mksetup::BuildError);
    EXPECT_THROW(mksetup::ParsePayloadRecord("a??SKIP?No"), mksetup::BuildError);
}

} // namespace
