// The backward trailer search over real files: boundaries of the search floor, the
// blocks it reads in, and what counts as a trailer.
#include "TestSupport.h"
#include "package/SetupPackage.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

class TrailerTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string path = dir / "setup.bin";

    // A file of `size` filler bytes with `text` written at `offset`.
    void Make(size_t size, std::initializer_list<std::pair<size_t, std::string>> texts) {
        std::string data(size, 'A');
        for (const auto& [offset, text] : texts)
            data.replace(offset, text.size(), text);
        WriteFileBytes(path, data);
    }

    TrailerInfo Find() {
        HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
        EXPECT_NE(f, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size;
        GetFileSizeEx(f, &size);
        TrailerInfo info = FindTrailer(f, static_cast<uint64_t>(size.QuadPart));
        CloseHandle(f);
        return info;
    }
};

TEST_F(TrailerTest, FoundAtTheEnd) {
    const size_t size = 500000;
    Make(size, {{size - 13, "ZYX0000001234"}});
    TrailerInfo t = Find();
    ASSERT_TRUE(t.found);
    EXPECT_EQ(t.offset, size - 13);
    EXPECT_EQ(t.cabSize, 1234u);
}

TEST_F(TrailerTest, SearchFloorIsInclusive) {
    // Exactly at the floor: found. One byte below: never looked at.
    Make(kTrailerSearchFloor + 13, {{kTrailerSearchFloor, "ZYX0000000042"}});
    EXPECT_TRUE(Find().found);
    Make(kTrailerSearchFloor + 200, {{kTrailerSearchFloor - 1, "ZYX0000000042"}});
    EXPECT_FALSE(Find().found);
}

TEST_F(TrailerTest, FileTooShortForAnyTrailer) {
    Make(kTrailerSearchFloor + 12, {{kTrailerSearchFloor - 1, "ZYX0000000042"}});
    EXPECT_FALSE(Find().found);
}

TEST_F(TrailerTest, FoundAcrossEveryReadBlockBoundary) {
    // The search reads the file in blocks from the end; a trailer may straddle any
    // block edge. Try every position around the first few edges.
    const size_t size = 400000 + 3 * 65536 + 500;
    for (size_t edge : {size_t(65536), size_t(2 * 65536)}) {
        for (size_t back = edge - 14; back <= edge + 2; ++back) {
            size_t offset = size - 13 - back;
            Make(size, {{offset, "ZYX0000000777"}});
            TrailerInfo t = Find();
            ASSERT_TRUE(t.found) << "trailer " << back << " bytes before the last position";
            EXPECT_EQ(t.offset, offset);
        }
    }
}

TEST_F(TrailerTest, HighestValidTrailerWins) {
    const size_t size = 600000;
    Make(size, {{450000, "ZYX0000000001"},
                {500000, "ZYX0000000500"},
                {550000, "ZYXnot-digits"},
                {560000, "ZYX99999999999"}});
    TrailerInfo t = Find();
    ASSERT_TRUE(t.found);
    EXPECT_EQ(t.offset, 500000u);
    EXPECT_EQ(t.cabSize, 500u);
}

TEST_F(TrailerTest, MagicIsCaseSensitive) {
    Make(500000, {{499987, "zyx0000000042"}});
    EXPECT_FALSE(Find().found);
}

TEST(TrailerNumber, OnlyTenDigitsThatFitASignedInteger) {
    uint32_t v = 0;
    EXPECT_TRUE(ParseTrailerNumber("0000000000", v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseTrailerNumber("2147483647", v));
    EXPECT_EQ(v, 2147483647u);
    EXPECT_FALSE(ParseTrailerNumber("2147483648", v)); // would wrap to a negative size
    EXPECT_FALSE(ParseTrailerNumber("9999999999", v));
    EXPECT_FALSE(ParseTrailerNumber(" 000000012", v));
    EXPECT_FALSE(ParseTrailerNumber("-000000012", v));
    EXPECT_FALSE(ParseTrailerNumber("00000000x1", v));
    EXPECT_EQ(FormatTrailer(1234), "ZYX0000001234");
}

TEST(SetupTempDir, ThreeDigitsBelowTheTempFolder) {
    std::string a = DrawSetupTempDir("C:\\T");
    ASSERT_EQ(a.size(), std::string("C:\\T\\QVTMP000").size());
    EXPECT_EQ(a.substr(0, 10), "C:\\T\\QVTMP");
    for (char c : a.substr(10))
        EXPECT_TRUE(c >= '0' && c <= '9');
    // Every digit takes every value over many draws: no digit is stuck.
    bool seen[3][10] = {};
    for (int i = 0; i < 2000; ++i) {
        std::string d = DrawSetupTempDir("C:\\T").substr(10);
        for (int k = 0; k < 3; ++k)
            seen[k][d[k] - '0'] = true;
        Sleep(i % 50 == 0 ? 1 : 0);
    }
    for (int k = 0; k < 3; ++k)
        for (int v = 0; v < 10; ++v)
            EXPECT_TRUE(seen[k][v]) << "digit " << k << " value " << v;
}

} // namespace

namespace {

// A bitmap file: 14-byte file header, 40-byte information header, pixels.
std::string Bitmap(int32_t width, int32_t height, uint16_t bpp, uint32_t compression,
                   const std::string& pixels, uint32_t imageSize = 0) {
    auto le = [](uint32_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += static_cast<char>((v >> (8 * i)) & 0xFF);
        return s;
    };
    const uint32_t bitsAt = 14 + 40;
    return "BM" + le(bitsAt + static_cast<uint32_t>(pixels.size()), 4) + le(0, 4) + le(bitsAt, 4) +
           le(40, 4) + le(static_cast<uint32_t>(width), 4) + le(static_cast<uint32_t>(height), 4) +
           le(1, 2) + le(bpp, 2) + le(compression, 4) + le(imageSize, 4) + std::string(16, '\0') +
           pixels;
}

// The check as the setup makes it: the headers, and the size of the whole file.
bool Loadable(const std::string& file) {
    return IsLoadableBitmap(file.substr(0, kBitmapHeaders), file.size());
}

} // namespace

TEST(BitmapCheck, AcceptsWhatThePictureLoaderLoads) {
    // 3 pixels of 24 bits make rows of 12 bytes (rounded up to four).
    EXPECT_TRUE(Loadable(Bitmap(3, 2, 24, BI_RGB, std::string(24, 'x'))));
    EXPECT_TRUE(Loadable(Bitmap(3, -2, 24, BI_RGB, std::string(24, 'x')))); // top-down
    EXPECT_TRUE(Loadable(Bitmap(2, 2, 32, BI_BITFIELDS, std::string(16, 'x'))));
    EXPECT_TRUE(Loadable(Bitmap(8, 8, 8, BI_RLE8, std::string("\x00\x01", 2), 2)));
    // The demo's pictures, made by an ordinary image tool.
    for (const char* name : {"qvwizard.bmp", "qvheader.bmp"}) {
        const std::string file =
            ReadFileBytes(std::string(QV_SOURCE_DIR) + "\\examples\\demo\\setup\\" + name);
        ASSERT_FALSE(file.empty()) << name;
        EXPECT_TRUE(Loadable(file)) << name;
    }
}

TEST(BitmapCheck, RefusesDamagedOrForeignFiles) {
    EXPECT_FALSE(Loadable(""));
    EXPECT_FALSE(Loadable("BM this is not a bitmap"));
    std::string good = Bitmap(3, 2, 24, BI_RGB, std::string(24, 'x'));
    EXPECT_FALSE(Loadable("PK" + good.substr(2)));
    EXPECT_FALSE(Loadable(good.substr(0, good.size() - 1))); // a pixel row cut short
    EXPECT_FALSE(Loadable(Bitmap(0, 2, 24, BI_RGB, "")));
    EXPECT_FALSE(Loadable(Bitmap(3, 2, 7, BI_RGB, std::string(24, 'x'))));
    EXPECT_FALSE(Loadable(Bitmap(3, 2, 24, BI_BITFIELDS, std::string(24, 'x'))));
    EXPECT_FALSE(
        Loadable(Bitmap(8, 8, 8, BI_RLE8, std::string("\x00\x01", 2), 3))); // beyond the file
    EXPECT_FALSE(Loadable(Bitmap(8, 8, 8, 9, std::string(64, 'x'))));
    // Sizes that would overflow a 32-bit product.
    EXPECT_FALSE(Loadable(Bitmap(0x7FFFFFFF, 0x7FFFFFFF, 32, BI_RGB, "x")));
}
