// What the native builder writes, read back with zlib: every cabinet inflates block
// by block with the previous block as its window, every checksum holds, and each file
// comes back with its data, DOS date and time and attributes.
#include "Builder.h"
#include "CabWriter.h"
#include "FileIo.h"
#include "HostSupport.h"
#include "MsZip.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>
#include <ctime>
#include <map>

namespace {

constexpr uint16_t kArchive = 0x20, kReadOnly = 0x01;

// Sets the process's time zone for the test and restores it afterwards.
class TimeZone {
  public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~TimeZone() {
        had_ ? ::setenv("TZ", saved_.c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::string saved_;
    bool had_ = false;
};

uint16_t DosDate(int y, int m, int d) {
    return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}
uint16_t DosTime(int h, int mi, int s) {
    return static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2));
}

TEST(HostLayout, SetupReadsBackAsBuilt) {
    TimeZone utc("UTC");
    Scratch s;
    WriteSampleProject(s / "p");
    PutFile(s / "stub.exe", NoiseBytes(3000, 1));
    PutFile(s / "uninstall.exe", NoiseBytes(777, 2));
    mksetup::BuildOptions o;
    o.projectDir = s / "p";
    o.outputPath = s / "setup.exe";
    o.stubPath = s / "stub.exe";
    o.uninstallerPath = s / "uninstall.exe";
    const mksetup::BuildReport report = mksetup::BuildSetup(o);
    EXPECT_TRUE(report.warnings.empty());

    SetupFound found = ReadSetup(s / "setup.exe");
    EXPECT_EQ(found.engineSize, 400000u);
    std::map<std::string, std::string> expected = {
        {"app.exe", GetFile(s / "p/payload/app.exe")},
        {"read me.txt", GetFile(s / "p/payload/docs/read me.txt")},
        {"locked.txt", "read-only"},
        {"notes.log", GetFile(s / "p/payload/docs/sub/notes.log")},
        {"empty.dat", ""}};
    ASSERT_EQ(found.payload.size(), 5u);
    // [Payload] order, a folder's files sorted by name, subfolders after files.
    EXPECT_EQ(found.payload[0].name, "app.exe");
    EXPECT_EQ(found.payload[1].name, "read me.txt");
    EXPECT_EQ(found.payload[2].name, "locked.txt");
    EXPECT_EQ(found.payload[3].name, "notes.log");
    EXPECT_EQ(found.payload[4].name, "empty.dat");
    for (const CabFileFound& f : found.payload) {
        EXPECT_TRUE(f.data == expected[f.name]) << f.name;
        EXPECT_EQ(f.attributes, f.name == "locked.txt" ? kArchive | kReadOnly : kArchive) << f.name;
    }
    // The sample's files are a minute apart from 2023-06-01 12:00 UTC on; app.exe is the
    // fifth file written.
    EXPECT_EQ(found.payload[0].date, DosDate(2023, 6, 1));
    EXPECT_EQ(found.payload[0].time, DosTime(12, 5, 0));
    EXPECT_NE(found.configuration.find("[Files]\r\n0=<InstallDir>\\app.exe?"), std::string::npos)
        << found.configuration;
    EXPECT_NE(found.configuration.find("3=<InstallDir>\\docs\\sub\\notes.log?"), std::string::npos)
        << found.configuration;

    std::map<std::string, CabFileFound> setup;
    for (const CabFileFound& f : found.setupFiles)
        setup[f.name] = f;
    EXPECT_EQ(setup.size(), 5u);
    EXPECT_TRUE(setup["QVUninstall.exe"].data == NoiseBytes(777, 2));
    EXPECT_TRUE(setup["qvwizard.bmp"].data == GetFile(s / "p/setup/qvwizard.bmp"));
    // The configuration carries setup.ini's time, not the build's: the first file written.
    EXPECT_EQ(setup["qvsetup.ini"].date, DosDate(2023, 6, 1));
    EXPECT_EQ(setup["qvsetup.ini"].time, DosTime(12, 1, 0));
}

// Local time with the offset from UTC that holds now, as Windows converts file times:
// a file of June and one of January get the same offset, whatever the season today.
TEST(HostLayout, FileTimesAreLocalWithTodaysOffset) {
    Scratch s;
    PutFile(s / "june", "x", 1685620800);    // 2023-06-01 12:00:00 UTC
    PutFile(s / "january", "x", 1673784000); // 2023-01-15 12:00:00 UTC
    for (const auto& [tz, hour] : {std::pair{"UTC", 12}, std::pair{"Asia/Tokyo", 21}}) {
        TimeZone zone(tz);
        mksetup::InputFile in(s / "june");
        EXPECT_EQ(in.Stamp().date, DosDate(2023, 6, 1)) << tz;
        EXPECT_EQ(in.Stamp().time, DosTime(hour, 0, 0)) << tz;
    }
    TimeZone ny("America/New_York");
    const int64_t offset = mksetup::LocalOffsetNow();
    ASSERT_TRUE(offset == -5 * 3600 || offset == -4 * 3600) << offset;
    const int hour = static_cast<int>(12 + offset / 3600);
    EXPECT_EQ(mksetup::InputFile(s / "june").Stamp().time, DosTime(hour, 0, 0));
    EXPECT_EQ(mksetup::InputFile(s / "january").Stamp().time, DosTime(hour, 0, 0));
}

TEST(HostLayout, DosTimesOutsideTheirRangeAreClamped) {
    uint16_t date = 0, time = 0;
    mksetup::PackDosDateTime(0, date, time); // 1970
    EXPECT_EQ(date, DosDate(1980, 1, 1));
    EXPECT_EQ(time, 0);
    mksetup::PackDosDateTime(951782399, date, time); // 2000-02-28 23:59:59
    EXPECT_EQ(date, DosDate(2000, 2, 28));
    EXPECT_EQ(time, DosTime(23, 59, 58));
    mksetup::PackDosDateTime(951782400, date, time); // leap day 2000
    EXPECT_EQ(date, DosDate(2000, 2, 29));
    mksetup::PackDosDateTime(int64_t{1} << 40, date, time);
    EXPECT_EQ(date, DosDate(2107, 12, 31));
    EXPECT_EQ(time, DosTime(23, 59, 58));
}

// Compression reaches across blocks: 20000 bytes of noise repeated compress to little
// more than one copy, which the blocks after the first reach only through the
// previous block's data (each would hold 20000 new bytes without it).
TEST(HostLayout, BlocksUseThePreviousBlockAsHistory) {
    Scratch s;
    const std::string noise = NoiseBytes(20000, 5);
    std::string data;
    while (data.size() < 4 * 32768)
        data += noise;
    PutFile(s / "r", data);
    mksetup::WriteCabinet(s / "r.cab", {{s / "r", "r.bin"}});
    const std::string cab = GetFile(s / "r.cab");
    EXPECT_LT(cab.size(), 20000u + 3000u);
    std::vector<CabFileFound> files = ReadCabinet(cab);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].data == data);
}

TEST(HostLayout, StoredBlocksForNoiseAndManyFilesInOneFolder) {
    Scratch s;
    std::vector<mksetup::CabEntry> entries;
    std::map<std::string, std::string> data;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "sub\\f" + std::to_string(i);
        data[name] = i % 2 ? NoiseBytes(5000 + 7919 * i, i) : TextBytes(3000 * i, i);
        PutFile(s / ("f" + std::to_string(i)), data[name]);
        entries.push_back({s / ("f" + std::to_string(i)), name});
    }
    mksetup::WriteCabinet(s / "m.cab", entries);
    const std::string cab = GetFile(s / "m.cab");
    size_t total = 0;
    for (const auto& [name, bytes] : data)
        total += bytes.size();
    // Noise is stored: a few bytes per block more than the data, never the deflate
    // library's worst case.
    EXPECT_LT(cab.size(), total);
    std::vector<CabFileFound> files = ReadCabinet(cab);
    ASSERT_EQ(files.size(), 12u);
    for (const CabFileFound& f : files)
        EXPECT_TRUE(f.data == data[f.name]) << f.name;

    mksetup::CabWriterOptions stored;
    stored.compress = false;
    mksetup::WriteCabinet(s / "s.cab", entries, stored);
    for (const CabFileFound& f : ReadCabinet(GetFile(s / "s.cab")))
        EXPECT_TRUE(f.data == data[f.name]) << f.name;
}

// A payload of more files than the process may hold open at once (1024 on a usual
// Linux system): each file is open only while it is read.
TEST(HostLayout, MoreFilesThanTheProcessMayKeepOpen) {
    Scratch s;
    std::vector<mksetup::CabEntry> entries;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "f" + std::to_string(i);
        PutFile(s / name, "file " + std::to_string(i));
        entries.push_back({s / name, "d\\" + name});
    }
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 128;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::string error;
    try {
        mksetup::WriteCabinet(s / "many.cab", entries);
    } catch (const std::exception& e) {
        error = e.what();
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_EQ(error, "");
    const std::vector<CabFileFound> files = ReadCabinet(GetFile(s / "many.cab"));
    ASSERT_EQ(files.size(), 300u);
    EXPECT_EQ(files[299].name, "d\\f299");
    EXPECT_EQ(files[299].data, "file 299");
}

// The checksum of the cabinet format, on fixed bytes: words XORed little-endian, a
// tail of one to three bytes taken first byte highest.
TEST(HostLayout, ChecksumOfKnownBytes) {
    EXPECT_EQ(mksetup::CabChecksum("", 0, 0), 0u);
    EXPECT_EQ(mksetup::CabChecksum("\x01\x02\x03\x04", 4, 0), 0x04030201u);
    EXPECT_EQ(mksetup::CabChecksum("\x01\x02\x03\x04\x05\x06\x07", 7, 0), 0x04030201u ^ 0x050607u);
    EXPECT_EQ(mksetup::CabChecksum("\x05\x06", 2, 0x11110000u), 0x11110506u);
}

} // namespace
