// The cabinet reader and the setup package against damaged or crafted input: cabinet
// headers that name other cabinets, ranges that do not hold what they claim.
#include "CabWriter.h"
#include "TestSupport.h"
#include "package/CabSTComps.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using mksetup::CabEntry;
using mksetup::CabWriterOptions;
using mksetup::WriteCabinet;

namespace {

// Replaces the next-cabinet name in a cabinet's header by another of the same length.
void PatchNextName(const std::string& cab, const std::string& from, const std::string& to) {
    ASSERT_EQ(from.size(), to.size());
    std::string bytes = ReadFileBytes(cab);
    const size_t at = bytes.find(from + '\0');
    ASSERT_NE(at, std::string::npos);
    ASSERT_LT(at, 100u) << "not in the header";
    bytes.replace(at, to.size(), to);
    WriteFileBytes(cab, bytes);
}

// A set of two cabinets "setcab.cab" and "setcab2.cab" in folder. spanning: the second
// file's data runs from the first cabinet into the second; otherwise the second
// cabinet holds the third file alone.
std::vector<std::string> WriteSet(const ScratchDir& dir, const std::string& folder, bool spanning) {
    CreateDirectoryA(folder.c_str(), nullptr);
    std::vector<CabEntry> entries = {{MakeSource(dir, "a", RandomBytes(20000, 1)), "a.bin"},
                                     {MakeSource(dir, "b", RandomBytes(60000, 2)), "b.bin"},
                                     {MakeSource(dir, "c", RandomBytes(5000, 3)), "c.bin"}};
    CabWriterOptions opt;
    if (spanning) {
        opt.maxCabinetSize = 50000;
    } else {
        opt.maxCabinetSize = 1000000;
        entries[2].newCabinet = true;
    }
    auto cabs = WriteCabinet(folder + "\\setcab.cab", entries, opt);
    EXPECT_EQ(cabs.size(), 2u);
    return cabs;
}

} // namespace

// A header naming a next cabinet outside the cabinet's own folder: a set whose files do
// not span the boundary ends there, as if that cabinet were missing; a file whose data
// runs on into it fails the extraction. Either way nothing is read from the file the
// name points at, although it is a valid cabinet of the set.
class OutsideNextCabinet : public ::testing::TestWithParam<const char*> {
  protected:
    ScratchDir dir;
    std::string folder = dir / "set";
    std::string out = dir / "out";

    std::vector<std::string> Write(bool spanning) {
        auto cabs = WriteSet(dir, folder, spanning);
        PatchNextName(cabs[0], "setcab2.cab", GetParam());
        // The second cabinet now lies where the patched name points, and only there.
        EXPECT_TRUE(MoveFileA(cabs[1].c_str(), (dir / "evil.cab").c_str()));
        return cabs;
    }
};

TEST_P(OutsideNextCabinet, SetEndsBeforeIt) {
    auto cabs = Write(false);
    TSTCabReader reader;
    std::string seen;
    reader.OnCabinetInfo = [&](TSTCabReader& r, const std::string& next, const std::string&,
                               const std::string&, uint16_t, uint16_t, bool&) {
        seen = next;
        EXPECT_EQ(r.NextCabinet(), "");
    };
    reader.ExtractFiles(cabs[0], out);
    EXPECT_EQ(seen, GetParam()); // the handler still hears what the header says
    EXPECT_EQ(ReadFileBytes(out + "\\a.bin"), RandomBytes(20000, 1));
    EXPECT_EQ(ReadFileBytes(out + "\\b.bin"), RandomBytes(60000, 2));
    EXPECT_FALSE(PathExists(out + "\\c.bin"));
}

TEST_P(OutsideNextCabinet, SpanningFileFails) {
    auto cabs = Write(true);
    TSTCabReader reader;
    std::vector<std::string> closed;
    reader.OnCloseFile = [&](TSTCabReader&, const std::string& name, uint16_t, uint16_t, uint16_t,
                             uint16_t, bool&, const std::string&,
                             bool&) { closed.push_back(name); };
    try {
        reader.ExtractFiles(cabs[0], out);
        FAIL() << "no exception";
    } catch (const ESTCabinet& e) {
        EXPECT_TRUE(e.ErrorFlag);
        EXPECT_EQ(e.OsError, static_cast<uint32_t>(ERROR_INVALID_NAME)) << e.what();
    }
    EXPECT_EQ(ReadFileBytes(out + "\\a.bin"), RandomBytes(20000, 1));
    EXPECT_FALSE(PathExists(out + "\\c.bin"));
    // The file cut off at the boundary is not reported as a finished one.
    EXPECT_EQ(closed, std::vector<std::string>{"a.bin"});
}

INSTANTIATE_TEST_SUITE_P(Names, OutsideNextCabinet,
                         ::testing::Values("..\\evil.cab", "../evil.cab"));

// A cabinet read in place from a larger file is whole there. When its header says a
// file goes on in a next cabinet, that cabinet is not looked for beside the container,
// even when a file of that name lies there and would complete the file.
TEST(RangeCabinet, NeverContinuesIntoAFileBesideTheContainer) {
    ScratchDir dir;
    const std::string folder = dir / "set";
    auto cabs = WriteSet(dir, folder, true);
    ASSERT_TRUE(PathExists(folder + "\\setcab2.cab"));
    const std::string first = ReadFileBytes(cabs[0]);
    const std::string head = RandomBytes(4097, 9);
    const std::string container = folder + "\\setup.exe";
    WriteFileBytes(container, head + first + "tail");
    HANDLE h = CreateFileA(container.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    TSTCabReader reader;
    try {
        reader.ExtractRange(h, container, head.size(), static_cast<uint32_t>(first.size()),
                            dir / "out");
        ADD_FAILURE() << "no exception";
    } catch (const ESTCabinet& e) {
        EXPECT_TRUE(e.ErrorFlag);
        EXPECT_EQ(e.OsError, static_cast<uint32_t>(ERROR_INVALID_DATA)) << e.what();
    }
    EXPECT_EQ(ReadFileBytes(dir / "out\\a.bin"), RandomBytes(20000, 1));
    EXPECT_NE(ReadFileBytes(dir / "out\\b.bin"), RandomBytes(60000, 2));
    // The same reader goes on to read whole cabinets from the container.
    WriteCabinet(dir / "one.cab", {{MakeSource(dir, "one", "one file"), "one.txt"}});
    const std::string one = ReadFileBytes(dir / "one.cab");
    CloseHandle(h);
    WriteFileBytes(container, head + one);
    h = CreateFileA(container.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    reader.ExtractRange(h, container, head.size(), static_cast<uint32_t>(one.size()), dir / "out");
    EXPECT_EQ(ReadFileBytes(dir / "out\\one.txt"), "one file");
    CloseHandle(h);
}

// Stored names that the system takes for devices, not files in the folder: writing the
// data there could block on a port or print it. They are refused like names that leave
// the folder.
class DeviceStoredName : public ::testing::TestWithParam<const char*> {};

TEST_P(DeviceStoredName, IsRefused) {
    ScratchDir dir;
    const std::string cab = dir / "d.cab";
    WriteCabinet(
        cab, {{MakeSource(dir, "ok", "ok"), "ok.txt"}, {MakeSource(dir, "dev", "x"), GetParam()}});
    TSTCabReader reader;
    try {
        reader.ExtractFiles(cab, dir / "out");
        ADD_FAILURE() << "no exception";
    } catch (const ESTCabinet& e) {
        EXPECT_EQ(e.OsError, static_cast<uint32_t>(ERROR_INVALID_NAME)) << e.what();
    }
    EXPECT_EQ(ReadFileBytes(dir / "out\\ok.txt"), "ok");
}

INSTANTIATE_TEST_SUITE_P(Names, DeviceStoredName,
                         ::testing::Values("CON", "nul.txt", "sub\\COM1.log", "LPT1", "CONOUT$"));
