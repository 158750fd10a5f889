// The builder's cabinet writer, read back with the system's cabinet library: MSZIP,
// one folder, dates/times/attributes of the sources, failures, sets, history across
// blocks and the checksums.
#include "CabWriter.h"
#include "TestSupport.h"
#include "package/CabSTComps.h"

#include <windows.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

using mksetup::CabEntry;
using mksetup::CabWriterOptions;
using mksetup::WriteCabinet;

namespace {

uint16_t U16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) |
                                 (static_cast<uint8_t>(b[at + 1]) << 8));
}
uint32_t U32(const std::string& b, size_t at) {
    return U16(b, at) | (uint32_t(U16(b, at + 2)) << 16);
}

struct CabFile {
    uint32_t size;
    uint16_t folder, date, time, attribs;
    std::string name;
};

struct CabInfo {
    uint16_t folders = 0, files = 0, flags = 0, compression = 0;
    std::vector<CabFile> entries;
};

// Reads the header, the first folder and the file entries of a cabinet without
// reserve areas.
CabInfo Parse(const std::string& b) {
    CabInfo info;
    EXPECT_GE(b.size(), 44u);
    if (b.size() < 44) return info;
    EXPECT_EQ(b.substr(0, 4), "MSCF");
    const uint32_t coffFiles = U32(b, 16);
    info.folders = U16(b, 26);
    info.files = U16(b, 28);
    info.flags = U16(b, 30);
    size_t at = 36;
    EXPECT_EQ(info.flags & 4, 0) << "no reserve expected";
    for (int strings = ((info.flags & 1) ? 2 : 0) + ((info.flags & 2) ? 2 : 0); strings > 0;
         --strings)
        at = b.find('\0', at) + 1;
    info.compression = U16(b, at + 6);
    size_t f = coffFiles;
    for (int i = 0; i < info.files && f + 16 < b.size(); ++i) {
        CabFile e{U32(b, f), U16(b, f + 8), U16(b, f + 10), U16(b, f + 12), U16(b, f + 14), {}};
        size_t end = b.find('\0', f + 16);
        e.name = b.substr(f + 16, end - (f + 16));
        info.entries.push_back(e);
        f = end + 1;
    }
    return info;
}

void DosTimeOf(const std::string& path, WORD& date, WORD& time) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d));
    FILETIME local;
    ASSERT_TRUE(FileTimeToLocalFileTime(&d.ftLastWriteTime, &local));
    ASSERT_TRUE(FileTimeToDosDateTime(&local, &date, &time));
}

// Named exactly as given: the folder listings below expect these names alone.
std::string Source(const ScratchDir& dir, const std::string& name, const std::string& data) {
    std::string p = dir / name;
    WriteFileBytes(p, data);
    return p;
}

} // namespace

TEST(CabWriter, WritesOneMszipFolderWithAllFiles) {
    ScratchDir dir;
    std::string cab = dir / "out.cab";
    WriteCabinet(cab, {{Source(dir, "a", std::string(1 << 20, 'a')), "a.txt"},
                       {Source(dir, "b", RandomBytes(5000, 3)), "sub\\b.bin"},
                       {Source(dir, "c", ""), "c.txt"}});
    const std::string bytes = ReadFileBytes(cab);
    CabInfo info = Parse(bytes);
    EXPECT_EQ(info.folders, 1);
    EXPECT_EQ(info.files, 3);
    EXPECT_EQ(info.flags & 3, 0); // no previous or next cabinet
    EXPECT_EQ(info.compression & 0x000F, 1) << "MSZIP";
    ASSERT_EQ(info.entries.size(), 3u);
    EXPECT_EQ(info.entries[0].name, "a.txt");
    EXPECT_EQ(info.entries[0].size, 1u << 20);
    EXPECT_EQ(info.entries[1].name, "sub\\b.bin");
    EXPECT_EQ(info.entries[2].size, 0u);
    EXPECT_LT(bytes.size(), 60000u) << "1 MB of one letter must compress";
    EXPECT_EQ(U32(bytes, 8), bytes.size()); // cbCabinet
}

TEST(CabWriter, NoCompressionMode) {
    ScratchDir dir;
    std::string cab = dir / "raw.cab";
    CabWriterOptions opt;
    opt.compress = false;
    auto cabs = WriteCabinet(cab, {{Source(dir, "a", std::string(100000, 'a')), "a.txt"}}, opt);
    ASSERT_EQ(cabs.size(), 1u);
    const std::string bytes = ReadFileBytes(cab);
    CabInfo info = Parse(bytes);
    EXPECT_EQ(info.compression & 0x000F, 0);
    EXPECT_GT(bytes.size(), 100000u);
    TSTCabReader reader;
    reader.ExtractFiles(cab, dir / "x");
    EXPECT_EQ(ReadFileBytes(dir / "x\\a.txt"), std::string(100000, 'a'));
}

TEST(CabWriter, StoresDateTimeAndAttributes) {
    ScratchDir dir;
    std::string a = Source(dir, "a", "A"), b = Source(dir, "b", "B"), c = Source(dir, "c", "C");
    SetFileTimeLocal(a, 2004, 2, 29, 13, 14, 16);
    SetFileTimeLocal(b, 1985, 1, 1, 0, 0, 0);
    ASSERT_TRUE(SetFileAttributesA(b.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                  FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(
        SetFileAttributesA(c.c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
    std::vector<CabEntry> entries = {{a, "a"}, {b, "b"}, {c, "c"}};
    entries[2].execute = true;
    std::string cab = dir / "t.cab";
    WriteCabinet(cab, entries);
    CabInfo info = Parse(ReadFileBytes(cab));
    ASSERT_EQ(info.entries.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        WORD date = 0, time = 0;
        DosTimeOf(entries[i].sourcePath, date, time);
        EXPECT_EQ(info.entries[i].date, date) << i;
        EXPECT_EQ(info.entries[i].time, time) << i;
        const DWORD attrs = GetFileAttributesA(entries[i].sourcePath.c_str()) & 0x27;
        EXPECT_EQ(info.entries[i].attribs & 0x27, attrs) << i;
    }
    EXPECT_EQ(info.entries[0].date, ((2004 - 1980) << 9) | (2 << 5) | 29);
    EXPECT_EQ(info.entries[0].time, (13 << 11) | (14 << 5) | (16 / 2));
    EXPECT_EQ(info.entries[1].attribs & 0x27,
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(info.entries[0].attribs & 0x40, 0);
    EXPECT_EQ(info.entries[2].attribs & 0x40, 0x40) << "execute mark";
    EXPECT_EQ(info.entries[2].attribs & ~0x67, 0) << "only the masked attributes";
    SetFileAttributesA(b.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(CabWriter, StoresAnyNameGiven) {
    ScratchDir dir;
    std::string cab = dir / "h.cab";
    WriteCabinet(
        cab, {{Source(dir, "a", "A"), "..\\evil.txt"}, {Source(dir, "b", "B"), "C:\\evil.txt"}});
    CabInfo info = Parse(ReadFileBytes(cab));
    ASSERT_EQ(info.entries.size(), 2u);
    EXPECT_EQ(info.entries[0].name, "..\\evil.txt");
    EXPECT_EQ(info.entries[1].name, "C:\\evil.txt");
}

TEST(CabWriter, MissingSourceFailsAndLeavesNoFiles) {
    ScratchDir dir;
    std::string cab = dir / "m.cab";
    std::string missing = dir / "does-not-exist.txt";
    try {
        WriteCabinet(cab, {{Source(dir, "a", RandomBytes(100000, 1)), "a"}, {missing, "b"}});
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        const std::string m = e.what();
        EXPECT_EQ(m.find('\n'), std::string::npos) << m;
        EXPECT_EQ(m.find('\r'), std::string::npos) << m;
        EXPECT_NE(m.find("does-not-exist.txt"), std::string::npos) << m;
        EXPECT_NE(m.find("m.cab"), std::string::npos) << m;
    }
    EXPECT_FALSE(PathExists(cab));
    // Only the source remains: no cabinet, no temporary files.
    EXPECT_EQ(ListMatching(dir / "*"), (std::vector<std::string>{"a"}));
}

TEST(CabWriter, UnwritableCabinetFails) {
    ScratchDir dir;
    std::string cab = dir / "no\\such\\folder\\x.cab";
    try {
        WriteCabinet(cab, {{Source(dir, "a", "A"), "a"}});
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        const std::string m = e.what();
        EXPECT_EQ(m.find('\n'), std::string::npos) << m;
        EXPECT_NE(m.find("x.cab"), std::string::npos) << m;
    }
    EXPECT_EQ(ListMatching(dir / "*"), (std::vector<std::string>{"a"}));
}

TEST(CabWriter, ExistingCabinetIsReplaced) {
    ScratchDir dir;
    std::string cab = dir / "r.cab";
    WriteFileBytes(cab, RandomBytes(300000, 9));
    WriteCabinet(cab, {{Source(dir, "a", "A"), "a"}});
    const std::string bytes = ReadFileBytes(cab);
    EXPECT_LT(bytes.size(), 1000u);
    EXPECT_EQ(U32(bytes, 8), bytes.size());
}

TEST(CabWriter, BigFileRoundTrip) {
    ScratchDir dir;
    // 24 MB: random blocks and runs of zeros.
    std::string data;
    for (int i = 0; i < 24; ++i)
        data += (i % 3 == 0) ? std::string(1 << 20, '\0') : RandomBytes(1 << 20, 50 + i);
    std::string src = Source(dir, "big", data);
    std::string cab = dir / "big.cab";
    const auto start = std::chrono::steady_clock::now();
    WriteCabinet(cab, {{src, "big.bin"}});
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 60.0);
    CabInfo info = Parse(ReadFileBytes(cab));
    EXPECT_EQ(info.folders, 1);
    TSTCabReader reader;
    reader.ExtractFiles(cab, dir / "out");
    EXPECT_TRUE(ReadFileBytes(dir / "out\\big.bin") == data);
    EXPECT_EQ(ListMatching(dir / "*.tmp"), std::vector<std::string>{});
    EXPECT_EQ(ListMatching(dir / "fci*"), std::vector<std::string>{});
}

TEST(CabWriter, MultiCabinetSetRespectsMaximumSize) {
    ScratchDir dir;
    std::vector<CabEntry> entries;
    std::string all;
    for (int i = 0; i < 4; ++i) {
        std::string d = RandomBytes(100000, 200 + i);
        entries.push_back({Source(dir, "s" + std::to_string(i), d), "f" + std::to_string(i)});
    }
    CabWriterOptions opt;
    opt.maxCabinetSize = 100000;
    auto cabs = WriteCabinet(dir / "set.cab", entries, opt);
    ASSERT_GE(cabs.size(), 4u);
    EXPECT_EQ(cabs[0], dir / "set.cab");
    EXPECT_EQ(cabs[1], dir / "set2.cab");
    for (size_t i = 0; i < cabs.size(); ++i) {
        const std::string bytes = ReadFileBytes(cabs[i]);
        EXPECT_LE(bytes.size(), 100000u) << cabs[i];
        CabInfo info = Parse(bytes);
        EXPECT_EQ(U16(bytes, 34), i) << "iCabinet";
        EXPECT_EQ((info.flags & 2) != 0, i + 1 < cabs.size()) << "next-cabinet link";
    }
    TSTCabReader reader;
    reader.ExtractFiles(cabs[0], dir / "out");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ReadFileBytes(dir / ("out\\f" + std::to_string(i))),
                  RandomBytes(100000, 200 + i));
}

TEST(CabWriter, CabinetOfEmptyFilesOnly) {
    // No data block at all (Wine's FCI needs the writer's help here, see Seek).
    ScratchDir dir;
    std::string e = Source(dir, "e", "");
    std::string cab = dir / "e.cab";
    WriteCabinet(cab, {{e, "empty.dat"}, {e, "sub\\also.dat"}});
    CabInfo info = Parse(ReadFileBytes(cab));
    EXPECT_EQ(info.files, 2);
    TSTCabReader reader;
    reader.ExtractFiles(cab, dir / "out");
    EXPECT_TRUE(PathExists(dir / "out\\empty.dat"));
    EXPECT_TRUE(PathExists(dir / "out\\sub\\also.dat"));
    EXPECT_EQ(ReadFileBytes(dir / "out\\empty.dat"), "");
}

TEST(CabWriter, NoEntriesGivesAnEmptyCabinet) {
    ScratchDir dir;
    std::string cab = dir / "n.cab";
    WriteCabinet(cab, {});
    const std::string bytes = ReadFileBytes(cab);
    ASSERT_EQ(bytes.size(), 36u); // the header alone
    EXPECT_EQ(bytes.substr(0, 4), "MSCF");
    EXPECT_EQ(U16(bytes, 26), 0); // folders
    EXPECT_EQ(U16(bytes, 28), 0); // files
    TSTCabReader reader;
    reader.ExtractFiles(cab, dir / "out"); // nothing to extract, no error
}

// Each block may refer back into the one before: 20000 bytes of noise repeated over
// four blocks take little more than one copy, and the system's reader restores them.
TEST(CabWriter, BlocksReachBackIntoThePreviousBlock) {
    ScratchDir dir;
    const std::string noise = RandomBytes(20000, 77);
    std::string data;
    while (data.size() < 4 * 32768)
        data += noise;
    std::string cab = dir / "h.cab";
    WriteCabinet(cab, {{Source(dir, "h", data), "h.bin"}, {Source(dir, "t", data), "t.bin"}});
    EXPECT_LT(ReadFileBytes(cab).size(), 20000u + 4000u);
    TSTCabReader reader;
    reader.ExtractFiles(cab, dir / "out");
    EXPECT_TRUE(ReadFileBytes(dir / "out\\h.bin") == data);
    EXPECT_TRUE(ReadFileBytes(dir / "out\\t.bin") == data);
}

// Every data block carries a checksum, and the system's reader refuses a block whose
// bytes changed (here inside a stored block, which would otherwise unpack).
TEST(CabWriter, ChangedDataFailsTheBlockChecksum) {
    ScratchDir dir;
    std::string cab = dir / "c.cab";
    WriteCabinet(cab, {{Source(dir, "n", RandomBytes(40000, 5)), "n.bin"}});
    std::string bytes = ReadFileBytes(cab);
    const size_t firstBlock = U32(bytes, 36);
    ASSERT_NE(U32(bytes, firstBlock), 0u) << "a checksum is written";
    bytes[firstBlock + 8 + 1000] ^= 0x55;
    WriteFileBytes(cab, bytes);
    TSTCabReader reader;
    EXPECT_THROW(reader.ExtractFiles(cab, dir / "out"), ESTCabinet);
}

// In a set, a file that starts in a later cabinet starts a folder there: reading that
// cabinet alone gives every file that starts in it, also one that runs on into the
// cabinets after it. Empty files sit at the boundaries.
TEST(CabWriter, EveryCabinetOfASetGivesTheFilesThatStartInIt) {
    ScratchDir dir;
    std::vector<CabEntry> entries = {{Source(dir, "a", RandomBytes(60000, 1)), "a.bin"},
                                     {Source(dir, "e", ""), "e1.txt"},
                                     {Source(dir, "b", RandomBytes(150000, 2)), "b.bin"},
                                     {Source(dir, "e", ""), "e2.txt"},
                                     {Source(dir, "c", std::string(70000, 'c')), "c.txt"},
                                     {Source(dir, "d", RandomBytes(20000, 4)), "d.bin"}};
    CabWriterOptions opt;
    opt.maxCabinetSize = 50000;
    auto cabs = WriteCabinet(dir / "set.cab", entries, opt);
    ASSERT_GE(cabs.size(), 5u);
    TSTCabReader all;
    all.ExtractFiles(cabs[0], dir / "all");
    for (const CabEntry& e : entries)
        EXPECT_TRUE(ReadFileBytes(dir / ("all\\" + e.nameInCab)) == ReadFileBytes(e.sourcePath))
            << e.nameInCab;

    size_t starting = 0; // files listed where they begin: each in exactly one cabinet
    for (size_t i = 0; i < cabs.size(); ++i) {
        const std::string bytes = ReadFileBytes(cabs[i]);
        EXPECT_LE(bytes.size(), 50000u);
        const std::string out = dir / ("alone" + std::to_string(i));
        TSTCabReader reader;
        reader.ExtractFiles(cabs[i], out, 1);
        for (const CabFile& f : Parse(bytes).entries) {
            if (f.folder == 0xFFFD || f.folder == 0xFFFF) continue; // began before
            ++starting;
            const std::string source =
                dir /
                (f.name == "e1.txt" || f.name == "e2.txt" ? std::string("e") : f.name.substr(0, 1));
            EXPECT_TRUE(ReadFileBytes(out + "\\" + f.name) == ReadFileBytes(source))
                << f.name << " from " << cabs[i];
        }
    }
    EXPECT_EQ(starting, entries.size());
}
