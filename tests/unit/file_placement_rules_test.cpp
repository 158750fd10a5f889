// The small rules of file placement: the progress position, the shortened display
// path, the cabinet-size field, the destination check and the per-user folders.
#include "engine/FilePlacement.h"
#include "platform/SafePath.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PlacementProgress, FollowsTheRoundingRule) {
    // The worked examples: 3 files, second file, 2048 of 10000 bytes.
    EXPECT_EQ(ProgressPosition(1, 3, 2048, 10000), 40);
    // 200 files: R(100 / 200) = R(0.5) = 0, so only whole files move the bar.
    EXPECT_EQ(ProgressPosition(0, 200, 1000000, 1000000), 0);
    EXPECT_EQ(ProgressPosition(1, 200, 0, 10), 0);     // R(0.5) = 0
    EXPECT_EQ(ProgressPosition(3, 200, 0, 10), 2);     // R(1.5) = 2
    EXPECT_EQ(ProgressPosition(5, 200, 0, 10), 2);     // R(2.5) = 2
    EXPECT_EQ(ProgressPosition(199, 200, 5, 10), 100); // R(99.5) = 100
    // One file: nearly 100 at the end, halves to even inside.
    EXPECT_EQ(ProgressPosition(0, 1, 0, 100), 0);
    EXPECT_EQ(ProgressPosition(0, 1, 100, 100), 99); // R(10000 / 101) = R(99.0)
    EXPECT_EQ(ProgressPosition(0, 1, 5, 999), 0);    // R(500 / 1000) = R(0.5) = 0
    EXPECT_EQ(ProgressPosition(0, 1, 15, 999), 2);   // R(1.5) = 2
    // Large sizes do not overflow the product.
    EXPECT_EQ(ProgressPosition(0, 1, 2147483647u, 2147483647u), 100);
    EXPECT_EQ(ProgressPosition(0, 0, 10, 10), 0);
}

TEST(PlacementRules, ShortDisplayPath) {
    const std::string sixty = "C:\\" + std::string(50, 'a') + "\\file.x"; // 3 + 50 + 7
    ASSERT_EQ(sixty.size(), 60u);
    EXPECT_EQ(ShortDisplayPath(sixty), sixty);
    EXPECT_EQ(
        ShortDisplayPath("C:\\Program Files\\Vendor Name\\Product Name\\Sub\\Folder\\file.dll"),
        "C:\\Program Files\\Vendor Name\\Product Name\\..\\file.dll");
    const std::string longName = "C:\\" + std::string(70, 'n');
    EXPECT_EQ(ShortDisplayPath(longName), longName);
    EXPECT_EQ(ShortDisplayPath("C:\\D1\\" + std::string(70, 'n')),
              "C:\\D1\\" + std::string(70, 'n'));
    EXPECT_EQ(ShortDisplayPath("C:\\F\\D1\\D2\\" + std::string(60, 'n')),
              "C:\\F\\..\\" + std::string(60, 'n'));
}

TEST(PlacementRules, CabinetSizeField) {
    uint32_t v = 99;
    EXPECT_TRUE(ParseCabinetSize(" 1234\t", v));
    EXPECT_EQ(v, 1234u);
    EXPECT_TRUE(ParseCabinetSize("0", v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseCabinetSize("2147483647", v));
    EXPECT_EQ(v, 2147483647u);
    for (const char* bad : {"", "  ", "12x", "+5", "-5", "1 2", "2147483648", "0x10", "$10"})
        EXPECT_FALSE(ParseCabinetSize(bad, v)) << bad;
}

TEST(PlacementRules, SafeDestinations) {
    for (const char* ok : {"C:\\a.txt", "c:\\Program Files\\App\\x.dll", "\\\\server\\share\\f.txt",
                           "\\\\server\\share\\d\\f.txt", "C:\\a.b\\c..d\\...e"})
        EXPECT_TRUE(IsSafeDestination(ok)) << ok;
    for (const char* bad :
         {"", "a.txt", "sub\\a.txt", "\\rooted\\a.txt", "C:a.txt", "C:\\", "C:\\dir\\",
          "C:\\a\\..\\b.txt", "C:\\a\\.\\b.txt", "C:\\a\\...\\b.txt", "C:\\a\\. .\\b.txt",
          "C:\\a\\\\b.txt", "C:\\a/../b.txt", "C:\\a\\b.txt:stream", "C:\\a\\*.txt",
          "\\\\?\\C:\\a.txt", "\\\\.\\pipe\\x", "\\\\server\\share", "\\\\server\\\\f.txt",
          "\\\\..\\share\\f.txt", "1:\\a.txt",
          // Names the system opens as devices, not files.
          "C:\\app\\NUL", "C:\\app\\nul.txt", "C:\\app\\COM1.log", "C:\\app\\CONIN$",
          "C:\\app\\aux. "})
        EXPECT_FALSE(IsSafeDestination(bad)) << bad;
    // Names that only resemble a device are files.
    for (const char* ok : {"C:\\app\\null.txt", "C:\\app\\COM10x", "C:\\app\\my CON.txt"})
        EXPECT_TRUE(IsSafeDestination(ok)) << ok;
}

TEST(PlacementRules, PerUserSubstitutionReplacesTheFirstOccurrenceOfEach) {
    EXPECT_EQ(PerUserDestination("<programfiles>\\A\\<ProgramFiles>"),
              "<AppData>\\A\\<ProgramFiles>");
    EXPECT_EQ(
        PerUserDestination("<CommonFiles>\\<CommonDocuments>\\<CommonPictures>\\<CommonMusic>"),
        "<CommonAppData>\\<MyDocuments>\\<MyPictures>\\<MyMusic>");
    EXPECT_EQ(PerUserDestination("<InstallDir>\\a.txt"), "<InstallDir>\\a.txt");
}

} // namespace
