// TSTCabReader: extraction through the system's FDI, with cabinets made
// by the builder's FCI writer.
#include "CabWriter.h"
#include "TestSupport.h"
#include "package/CabSTComps.h"
#include "package/CabSTConsts.h"

#include <windows.h>

#include <string>
#include <vector>

using mksetup::CabEntry;
using mksetup::CabWriterOptions;
using mksetup::WriteCabinet;

namespace {

DWORD Attrs(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

} // namespace

TEST(CabReader, ErrorTextsTable) {
    EXPECT_STREQ(FdiErrorText(0), "No error");
    EXPECT_STREQ(FdiErrorText(1), "Cabinet not found");
    EXPECT_STREQ(FdiErrorText(2), "Cabinet file does not have the correct format");
    EXPECT_STREQ(FdiErrorText(8), "Failure writing to target file");
    EXPECT_STREQ(FdiErrorText(10), "Cabinet returned on fdintNEXT_CABINET is incorrect");
    EXPECT_STREQ(FdiErrorText(11), "FDI aborted");
    EXPECT_STREQ(FdiErrorText(12), "FDI error");
    EXPECT_STREQ(FdiErrorText(-1), "FDI error");
}

TEST(CabReader, ExtractsSeveralFiles) {
    ScratchDir dir;
    const std::string a = RandomBytes(300000, 1), b = "hello, cabinet\r\n", c;
    const std::string d(200000, 'x'); // compressible
    std::string cab = dir / "set.cab";
    WriteCabinet(cab, {{MakeSource(dir, "a", a), "a.bin"},
                       {MakeSource(dir, "b", b), "b.txt"},
                       {MakeSource(dir, "c", c), "empty.dat"},
                       {MakeSource(dir, "d", d), "d.txt"}});
    std::string out = dir / "out";
    CreateDirectoryA(out.c_str(), nullptr);
    TSTCabReader reader;
    reader.ExtractFiles(cab, out);
    EXPECT_EQ(ReadFileBytes(out + "\\a.bin"), a);
    EXPECT_EQ(ReadFileBytes(out + "\\b.txt"), b);
    EXPECT_TRUE(PathExists(out + "\\empty.dat"));
    EXPECT_EQ(ReadFileBytes(out + "\\empty.dat"), c);
    EXPECT_EQ(ReadFileBytes(out + "\\d.txt"), d);
}

TEST(CabReader, TrailingBackslashAndReuseOfReader) {
    ScratchDir dir;
    std::string cab = dir / "one.cab";
    WriteCabinet(cab, {{MakeSource(dir, "x", "xx"), "x.txt"}});
    std::string out = dir / "out";
    CreateDirectoryA(out.c_str(), nullptr);
    TSTCabReader reader;
    reader.ExtractFiles(cab, out + "\\");
    EXPECT_EQ(ReadFileBytes(out + "\\x.txt"), "xx");
    // A second extraction with the same reader (and its context) works too.
    std::string out2 = dir / "out2";
    CreateDirectoryA(out2.c_str(), nullptr);
    reader.ExtractFiles(cab, out2);
    EXPECT_EQ(ReadFileBytes(out2 + "\\x.txt"), "xx");
}

TEST(CabReader, FolderPartsOfNamesAreCreated) {
    ScratchDir dir;
    std::string cab = dir / "f.cab";
    WriteCabinet(cab, {{MakeSource(dir, "1", "one"), "sub\\deeper\\one.txt"},
                       {MakeSource(dir, "2", "two"), "sub\\two.txt"},
                       {MakeSource(dir, "3", "three"), "top.txt"}});
    std::string out = dir / "out"; // does not exist yet: created as needed
    TSTCabReader reader;
    reader.ExtractFiles(cab, out);
    EXPECT_EQ(ReadFileBytes(out + "\\sub\\deeper\\one.txt"), "one");
    EXPECT_EQ(ReadFileBytes(out + "\\sub\\two.txt"), "two");
    EXPECT_EQ(ReadFileBytes(out + "\\top.txt"), "three");
}

TEST(CabReader, RestoresDateTimeAndAttributes) {
    ScratchDir dir;
    std::string plain = MakeSource(dir, "plain", "plain data");
    std::string ro = MakeSource(dir, "ro", "read-only data");
    std::string hid = MakeSource(dir, "hid", "hidden data");
    SetFileTimeLocal(plain, 2011, 5, 6, 10, 20, 30);
    SetFileTimeLocal(ro, 1999, 12, 31, 23, 59, 58);
    SetFileTimeLocal(hid, 2020, 2, 29, 0, 0, 2);
    ASSERT_TRUE(SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA(hid.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    std::string cab = dir / "t.cab";
    WriteCabinet(cab, {{plain, "plain.txt"}, {ro, "ro.txt"}, {hid, "hid.txt"}});

    std::string out = dir / "out";
    TSTCabReader reader;
    reader.ExtractFiles(cab, out);
    for (auto [src, dst] : {std::pair{plain, out + "\\plain.txt"}, std::pair{ro, out + "\\ro.txt"},
                            std::pair{hid, out + "\\hid.txt"}}) {
        EXPECT_EQ(FileWriteTime(dst), FileWriteTime(src)) << dst;
        EXPECT_EQ(FileCreationTime(dst), FileWriteTime(src)) << dst;
    }
    EXPECT_TRUE(Attrs(out + "\\ro.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(Attrs(out + "\\ro.txt") & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(Attrs(out + "\\hid.txt") & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(Attrs(out + "\\hid.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(Attrs(out + "\\plain.txt") & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    // Extracting again over the read-only and hidden copies works (no option set).
    reader.ExtractFiles(cab, out);
    EXPECT_EQ(ReadFileBytes(out + "\\ro.txt"), "read-only data");
    EXPECT_EQ(ReadFileBytes(out + "\\hid.txt"), "hidden data");
    EXPECT_TRUE(Attrs(out + "\\hid.txt") & FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_NORMAL);

    // An existing file takes the cabinet's attributes even when they are the ones a
    // new file has anyway; a new file keeps exactly those.
    std::string arch = MakeSource(dir, "arch", "archive only");
    ASSERT_TRUE(SetFileAttributesA(arch.c_str(), FILE_ATTRIBUTE_ARCHIVE));
    std::string cab2 = dir / "a.cab";
    WriteCabinet(cab2, {{arch, "hid.txt"}, {arch, "new.txt"}});
    reader.ExtractFiles(cab2, out);
    EXPECT_EQ(Attrs(out + "\\hid.txt"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(Attrs(out + "\\new.txt"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
}

TEST(CabReader, ReadOnlyDestinationIsOverwritten) {
    ScratchDir dir;
    std::string cab = dir / "r.cab";
    WriteCabinet(cab, {{MakeSource(dir, "n", "new content"), "file.txt"}});
    std::string out = dir / "out";
    CreateDirectoryA(out.c_str(), nullptr);
    WriteFileBytes(out + "\\file.txt", "old");
    ASSERT_TRUE(SetFileAttributesA((out + "\\file.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    TSTCabReader reader;
    reader.ExtractFiles(cab, out);
    EXPECT_EQ(ReadFileBytes(out + "\\file.txt"), "new content");
    // The attributes are those of the cabinet's file, which was not read-only.
    EXPECT_FALSE(Attrs(out + "\\file.txt") & FILE_ATTRIBUTE_READONLY);
}

TEST(CabReader, ReadOnlyDestinationIsKeptWithOption) {
    ScratchDir dir;
    std::string cab = dir / "r.cab";
    WriteCabinet(cab, {{MakeSource(dir, "n", "new content"), "file.txt"},
                       {MakeSource(dir, "o", "other"), "other.txt"}});
    std::string out = dir / "out";
    CreateDirectoryA(out.c_str(), nullptr);
    WriteFileBytes(out + "\\file.txt", "old");
    ASSERT_TRUE(SetFileAttributesA((out + "\\file.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    TSTCabReader reader;
    reader.Options = croDontOverwriteReadOnlyFiles;
    reader.ExtractFiles(cab, out); // skipped without error
    EXPECT_EQ(ReadFileBytes(out + "\\file.txt"), "old");
    EXPECT_TRUE(Attrs(out + "\\file.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ReadFileBytes(out + "\\other.txt"), "other");
}

TEST(CabReader, LongerExistingDestinationIsReplacedExactly) {
    ScratchDir dir;
    std::string cab = dir / "l.cab";
    const std::string content = "short";
    WriteCabinet(cab, {{MakeSource(dir, "s", content), "file.txt"}});
    std::string out = dir / "out";
    CreateDirectoryA(out.c_str(), nullptr);
    WriteFileBytes(out + "\\file.txt", RandomBytes(100000, 7));
    TSTCabReader reader;
    reader.ExtractFiles(cab, out);
    EXPECT_EQ(ReadFileBytes(out + "\\file.txt"), content);
}

TEST(CabReader, NotACabinet) {
    ScratchDir dir;
    std::string bogus = dir / "bogus.cab";
    WriteFileBytes(bogus, "This is not a cabinet at all, just some text." + std::string(100, ' '));
    TSTCabReader reader;
    try {
        reader.ExtractFiles(bogus, dir / "out");
        FAIL() << "no exception";
    } catch (const ESTCabinet& e) {
        EXPECT_STREQ(e.what(), "Cabinet file does not have the correct format [0x0002]");
        EXPECT_EQ(e.ErrorNumber, 2);
        EXPECT_TRUE(e.ErrorFlag);
        EXPECT_FALSE(e.CompressionSide);
        EXPECT_EQ(e.OsError, 0u);
    }
}

TEST(CabReader, MissingCabinetFile) {
    ScratchDir dir;
    TSTCabReader reader;
    try {
        reader.ExtractFiles(dir / "nothere.cab", dir / "out");
        FAIL() << "no exception";
    } catch (const ESTCabinet& e) {
        EXPECT_EQ(e.ErrorNumber, 1);
        EXPECT_EQ(std::string(e.what()).rfind("Cabinet not found [0x0001]", 0), 0u) << e.what();
    }
}

TEST(CabReader, SafeNameCheck) {
    for (const char* ok : {"a.txt", "sub\\a.txt", "sub/a.txt", "a..b", "..a", "a..", "x\\.hidden"})
        EXPECT_TRUE(IsSafeCabinetName(ok)) << ok;
    for (const char* bad :
         {"", "..\\evil.txt", "a\\..\\..\\evil.txt", "C:\\evil.txt", "C:evil.txt", "\\evil.txt",
          "/evil.txt", "../evil.txt", "a/../../evil.txt", "\\\\server\\share\\evil.txt",
          "\\\\?\\C:\\evil.txt", "..", "...\\evil.txt", ".. \\evil.txt", "a\\..", "file.txt:ads"})
        EXPECT_FALSE(IsSafeCabinetName(bad)) << bad;
}

class CabReaderHostile : public ::testing::TestWithParam<const char*> {};

TEST_P(CabReaderHostile, NameIsRefused) {
    ScratchDir dir;
    const std::string hostile = GetParam();
    std::string cab = dir / "h.cab";
    WriteCabinet(cab, {{MakeSource(dir, "good", "good"), "good.txt"},
                       {MakeSource(dir, "evil", "evil"), hostile}});
    std::string base = dir / "x";
    CreateDirectoryA(base.c_str(), nullptr);
    std::string out = base + "\\dest";
    CreateDirectoryA(out.c_str(), nullptr);
    const bool rootBefore = PathExists("C:\\evil.txt");
    SetCurrentDirectoryA(out.c_str()); // a rooted name would land on this drive's root
    TSTCabReader reader;
    EXPECT_THROW(reader.ExtractFiles(cab, out), ESTCabinet);
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    SetCurrentDirectoryA(tmp);
    EXPECT_FALSE(PathExists(base + "\\evil.txt"));
    EXPECT_FALSE(PathExists(dir / "evil.txt"));
    EXPECT_FALSE(PathExists(out + "\\evil.txt"));
    EXPECT_FALSE(PathExists(out + "\\a\\evil.txt"));
    EXPECT_EQ(PathExists("C:\\evil.txt"), rootBefore);
    char root[4] = {out[0], ':', '\\', 0};
    EXPECT_FALSE(PathExists(std::string(root) + "evil.txt"));
    // The file before the hostile one was extracted.
    EXPECT_EQ(ReadFileBytes(out + "\\good.txt"), "good");
}

INSTANTIATE_TEST_SUITE_P(Names, CabReaderHostile,
                         ::testing::Values("..\\evil.txt", "a\\..\\..\\evil.txt", "C:\\evil.txt",
                                           "\\evil.txt", "../evil.txt", "a/../../evil.txt",
                                           "...\\evil.txt", "C:evil.txt"));

TEST(CabReader, HostileNameCannotBeRescuedByEvent) {
    ScratchDir dir;
    std::string cab = dir / "h.cab";
    WriteCabinet(cab, {{MakeSource(dir, "evil", "evil"), "..\\evil.txt"}});
    std::string out = dir / "out";
    TSTCabReader reader;
    int calls = 0;
    reader.OnCopyFile = [&](TSTCabReader&, const std::string&, int32_t, uint16_t, uint16_t,
                            uint16_t, uint16_t, std::string&, bool&) { ++calls; };
    try {
        reader.ExtractFiles(cab, out);
        FAIL() << "no exception";
    } catch (const ESTCabinet& e) {
        EXPECT_TRUE(e.ErrorFlag);
        EXPECT_EQ(e.OsError, static_cast<uint32_t>(ERROR_INVALID_NAME)) << e.what();
    }
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(PathExists(dir / "evil.txt"));
}

// ---- cabinet sets ------------------------------------------------------------------

TEST(CabReader, SetWithAllCabinetsExtractsEverything) {
    ScratchDir dir;
    std::vector<CabEntry> entries;
    std::vector<std::string> data;
    for (int i = 0; i < 5; ++i) {
        data.push_back(RandomBytes(40000 + 1000 * i, 100 + i));
        entries.push_back(
            {MakeSource(dir, std::to_string(i), data.back()), "f" + std::to_string(i) + ".bin"});
    }
    CabWriterOptions opt;
    opt.maxCabinetSize = 70000;
    auto cabs = WriteCabinet(dir / "set.cab", entries, opt);
    ASSERT_GE(cabs.size(), 3u);
    TSTCabReader reader;
    std::vector<std::string> infos;
    reader.OnCabinetInfo = [&](TSTCabReader&, const std::string& next, const std::string&,
                               const std::string&, uint16_t, uint16_t no,
                               bool&) { infos.push_back(std::to_string(no) + ":" + next); };
    std::string out = dir / "out";
    reader.ExtractFiles(cabs[0], out);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ReadFileBytes(out + "\\f" + std::to_string(i) + ".bin"), data[i]) << i;
    EXPECT_GE(infos.size(), cabs.size());
}

TEST(CabReader, SetWithMissingNextCabinetStopsWithoutError) {
    ScratchDir dir;
    std::vector<CabEntry> entries = {{MakeSource(dir, "a", RandomBytes(30000, 1)), "a.bin"},
                                     {MakeSource(dir, "b", "bee"), "b.txt"},
                                     {MakeSource(dir, "c", RandomBytes(30000, 3)), "c.bin"}};
    entries[2].newCabinet = true; // no file spans into the second cabinet
    CabWriterOptions opt;
    opt.maxCabinetSize = 1000000;
    auto cabs = WriteCabinet(dir / "m.cab", entries, opt);
    ASSERT_EQ(cabs.size(), 2u);
    {
        // With both cabinets present, everything comes out.
        TSTCabReader reader;
        reader.ExtractFiles(cabs[0], dir / "all");
        EXPECT_TRUE(PathExists(dir / "all\\a.bin"));
        EXPECT_TRUE(PathExists(dir / "all\\c.bin"));
        // flags bit 0: only the first cabinet.
        reader.ExtractFiles(cabs[0], dir / "first", 1);
        EXPECT_TRUE(PathExists(dir / "first\\a.bin"));
        EXPECT_FALSE(PathExists(dir / "first\\c.bin"));
    }
    ASSERT_TRUE(DeleteFileA(cabs[1].c_str()));
    TSTCabReader reader;
    std::string out = dir / "out";
    reader.ExtractFiles(cabs[0], out);
    EXPECT_EQ(ReadFileBytes(out + "\\a.bin"), RandomBytes(30000, 1));
    EXPECT_EQ(ReadFileBytes(out + "\\b.txt"), "bee");
    EXPECT_FALSE(PathExists(out + "\\c.bin"));
}

TEST(CabReader, SetWithMissingCabinetAndSpanningFileFails) {
    ScratchDir dir;
    std::vector<CabEntry> entries = {{MakeSource(dir, "a", RandomBytes(50000, 1)), "a.bin"},
                                     {MakeSource(dir, "b", RandomBytes(50000, 2)), "b.bin"}};
    CabWriterOptions opt;
    opt.maxCabinetSize = 70000;
    auto cabs = WriteCabinet(dir / "s.cab", entries, opt);
    ASSERT_GE(cabs.size(), 2u);
    ASSERT_TRUE(DeleteFileA(cabs[1].c_str()));
    TSTCabReader reader;
    std::string out = dir / "out";
    EXPECT_THROW(reader.ExtractFiles(cabs[0], out), ESTCabinet);
    EXPECT_EQ(ReadFileBytes(out + "\\a.bin"), RandomBytes(50000, 1));
}

// ---- events --------------------------------------------------------------------------

TEST(CabReader, CopyFileEventRedirectsAndSkips) {
    ScratchDir dir;
    std::string cab = dir / "e.cab";
    WriteCabinet(cab, {{MakeSource(dir, "1", "one"), "one.txt"},
                       {MakeSource(dir, "2", "two"), "two.txt"},
                       {MakeSource(dir, "3", "three"), "three.txt"}});
    std::string out = dir / "out";
    std::string elsewhere = dir / "elsewhere\\renamed.txt";
    TSTCabReader reader;
    std::vector<std::string> seen, closed;
    reader.OnCopyFile = [&](TSTCabReader& sender, const std::string& name, int32_t size, uint16_t,
                            uint16_t, uint16_t, uint16_t, std::string& dst, bool&) {
        EXPECT_EQ(&sender, &reader);
        seen.push_back(name + ":" + std::to_string(size));
        if (name == "one.txt") dst = elsewhere;
        if (name == "two.txt") dst.clear();
    };
    reader.OnCloseFile = [&](TSTCabReader&, const std::string& name, uint16_t, uint16_t, uint16_t,
                             uint16_t, bool& exec, const std::string& dst, bool&) {
        EXPECT_FALSE(exec);
        closed.push_back(name + ">" + dst);
    };
    reader.ExtractFiles(cab, out);
    EXPECT_EQ(seen, (std::vector<std::string>{"one.txt:3", "two.txt:3", "three.txt:5"}));
    EXPECT_EQ(ReadFileBytes(elsewhere), "one");
    EXPECT_FALSE(PathExists(out + "\\one.txt"));
    EXPECT_FALSE(PathExists(out + "\\two.txt"));
    EXPECT_EQ(ReadFileBytes(out + "\\three.txt"), "three");
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0], "one.txt>" + elsewhere);
}

TEST(CabReader, CopyFileEventAbortRaises) {
    ScratchDir dir;
    std::string cab = dir / "e.cab";
    WriteCabinet(
        cab, {{MakeSource(dir, "1", "one"), "one.txt"}, {MakeSource(dir, "2", "two"), "two.txt"}});
    TSTCabReader reader;
    reader.OnCopyFile = [&](TSTCabReader&, const std::string& name, int32_t, uint16_t, uint16_t,
                            uint16_t, uint16_t, std::string&,
                            bool& abort) { abort = name == "two.txt"; };
    std::string out = dir / "out";
    try {
        reader.ExtractFiles(cab, out);
        FAIL() << "no exception";
    } catch (const ESTCabinet& e) {
        EXPECT_TRUE(e.ErrorFlag);
        EXPECT_NE(e.ErrorNumber, 0) << e.what();
    }
    EXPECT_EQ(ReadFileBytes(out + "\\one.txt"), "one");
    EXPECT_FALSE(PathExists(out + "\\two.txt"));
}

TEST(CabReader, ExceptionInEventIsRethrownAfterTheLibrary) {
    ScratchDir dir;
    std::string cab = dir / "e.cab";
    WriteCabinet(cab, {{MakeSource(dir, "1", "one"), "one.txt"}});
    TSTCabReader reader;
    reader.OnCloseFile = [&](TSTCabReader&, const std::string&, uint16_t, uint16_t, uint16_t,
                             uint16_t, bool&, const std::string&,
                             bool&) { throw std::logic_error("handler failed"); };
    EXPECT_THROW(reader.ExtractFiles(cab, dir / "out"), std::logic_error);
    // The destination was closed: it can be deleted.
    EXPECT_TRUE(DeleteFileA((dir / "out\\one.txt").c_str()));
}

TEST(CabReader, CloseFileEventSeesExecuteMark) {
    ScratchDir dir;
    std::string cab = dir / "x.cab";
    std::vector<CabEntry> entries = {{MakeSource(dir, "1", "one"), "one.txt"},
                                     {MakeSource(dir, "2", "two"), "run.txt"}};
    entries[1].execute = true;
    WriteCabinet(cab, entries);
    TSTCabReader reader; // croExecuteOnExtract not set: nothing is run
    std::vector<std::string> marks;
    reader.OnCloseFile = [&](TSTCabReader&, const std::string& name, uint16_t, uint16_t,
                             uint16_t attrs, uint16_t, bool& exec, const std::string&, bool&) {
        marks.push_back(name + (exec ? "+" : "-"));
        (void)attrs;
    };
    reader.ExtractFiles(cab, dir / "out");
    EXPECT_EQ(marks, (std::vector<std::string>{"one.txt-", "run.txt+"}));
    // The execute bit is not an attribute of the extracted file.
    EXPECT_EQ(Attrs(dir / "out\\run.txt") & 0x40, 0u);
}

TEST(CabReader, LibraryIsLoadedFromTheSystemFolder) {
    ScratchDir dir;
    std::string cab = dir / "l.cab";
    WriteCabinet(cab, {{MakeSource(dir, "x", "x"), "x.txt"}});
    TSTCabReader reader;
    reader.ExtractFiles(cab, dir / "out");
    ASSERT_TRUE(cabintf::CabinetLibraryLoaded());
    HMODULE h = GetModuleHandleA("cabinet.dll");
    ASSERT_NE(h, nullptr);
    char path[MAX_PATH], sys[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(h, path, MAX_PATH), 0u);
    UINT n = GetSystemDirectoryA(sys, MAX_PATH);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, path, static_cast<int>(n), sys,
                             static_cast<int>(n)),
              CSTR_EQUAL)
        << path << " vs " << sys;
    const auto& lib = cabintf::LoadCabinetLibrary(); // bound once: same entry points
    EXPECT_NE(lib.FDICopy, nullptr);
    EXPECT_NE(lib.FCIAddFile, nullptr);
}

namespace {
// Writes a one-file cabinet whose stored name is flagged as UTF-8 (_A_NAME_IS_UTF).
void WriteUtf8NamedCabinet(const ScratchDir& dir, const std::string& cab,
                           const std::string& utf8Name, const std::string& data) {
    WriteCabinet(cab, {{MakeSource(dir, "u", data), utf8Name}});
    std::string bytes = ReadFileBytes(cab);
    const size_t coffFiles =
        static_cast<uint8_t>(bytes[16]) | (static_cast<uint8_t>(bytes[17]) << 8);
    ASSERT_EQ(bytes.substr(coffFiles + 16, utf8Name.size()), utf8Name);
    bytes[coffFiles + 14] = static_cast<char>(bytes[coffFiles + 14] | 0x80);
    WriteFileBytes(cab, bytes);
}
} // namespace

TEST(CabReader, Utf8NameIsConvertedToTheSystemCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252";
    ScratchDir dir;
    std::string cab = dir / "u.cab";
    WriteUtf8NamedCabinet(dir, cab, "caf\xC3\xA9.txt", "utf");
    TSTCabReader reader;
    reader.ExtractFiles(cab, dir / "out");
    EXPECT_EQ(ReadFileBytes(dir / "out\\caf\xE9.txt"), "utf");
}

TEST(CabReader, Utf8LookAlikeSeparatorsAreRefused) {
    ScratchDir dir;
    std::string cab = dir / "u.cab";
    // U+FF0E U+FF0E U+FF3C "evil.txt": full-width "..\", which best-fit mapping would
    // turn into a real "..\".
    WriteUtf8NamedCabinet(dir, cab,
                          "\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\xBC"
                          "evil.txt",
                          "evil");
    std::string out = dir / "x\\dest";
    TSTCabReader reader;
    EXPECT_THROW(reader.ExtractFiles(cab, out), ESTCabinet);
    EXPECT_FALSE(PathExists(dir / "x\\evil.txt"));
}

// Cabinets stored back to back inside a larger file are extracted in place, also when
// a cabinet spans several of the reader's 64 KB windows; the progress callback sees
// how far the cabinet was read and can stop it; a range that runs past the end of the
// file reads as a cut cabinet.
TEST(CabReader, ExtractsACabinetStoredInsideAnotherFile) {
    ScratchDir dir;
    const std::string big = RandomBytes(300000, 31), small = "small file";
    WriteCabinet(dir / "a.cab", {{MakeSource(dir, "big", big), "big.bin"}});
    WriteCabinet(dir / "b.cab", {{MakeSource(dir, "small", small), "small.txt"}});
    const std::string a = ReadFileBytes(dir / "a.cab"), b = ReadFileBytes(dir / "b.cab");
    const std::string head = RandomBytes(70001, 32); // an odd offset
    const std::string container = dir / "setup.exe";
    WriteFileBytes(container, head + a + b + "tail");
    HANDLE h = CreateFileA(container.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);

    TSTCabReader reader;
    uint32_t furthest = 0;
    int calls = 0;
    reader.ExtractRange(h, container, head.size(), static_cast<uint32_t>(a.size()), dir / "out",
                        [&](uint32_t f) {
                            EXPECT_GT(f, furthest); // only ever forward
                            furthest = f;
                            ++calls;
                            return true;
                        });
    EXPECT_EQ(ReadFileBytes(dir / "out\\big.bin"), big);
    EXPECT_EQ(furthest, a.size());
    EXPECT_GT(calls, 1);
    reader.ExtractRange(h, container, head.size() + a.size(), static_cast<uint32_t>(b.size()),
                        dir / "out");
    EXPECT_EQ(ReadFileBytes(dir / "out\\small.txt"), small);

    // Stopped by the callback: the extraction fails.
    EXPECT_THROW(reader.ExtractRange(h, container, head.size(), static_cast<uint32_t>(a.size()),
                                     dir / "stopped", [](uint32_t f) { return f < 100000; }),
                 ESTCabinet);
    // The second cabinet's range made to run past the end of the file by 1000 bytes,
    // starting 1000 bytes late: not a cabinet there.
    EXPECT_THROW(reader.ExtractRange(h, container, head.size() + a.size() + 1000,
                                     static_cast<uint32_t>(b.size()), dir / "cut"),
                 ESTCabinet);
    // The first cabinet cut short by the end of a file.
    const std::string cutFile = dir / "cut.exe";
    WriteFileBytes(cutFile, head + a.substr(0, a.size() / 2));
    HANDLE c = CreateFileA(cutFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    ASSERT_NE(c, INVALID_HANDLE_VALUE);
    EXPECT_THROW(
        reader.ExtractRange(c, cutFile, head.size(), static_cast<uint32_t>(a.size()), dir / "cut2"),
        ESTCabinet);
    CloseHandle(c);
    CloseHandle(h);
}
