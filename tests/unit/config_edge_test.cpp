// The configuration reader against hostile files: odd lines in a list section, huge
// values, numbers in odd forms. What the kept section snapshot answers must be what
// the system's own read answers for the same key.
#include "config/IniFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ConfigEdgeTest : public ::testing::Test {
  protected:
    TIniFile Write(const std::string& text) {
        WriteFileBytes(path_, text);
        return TIniFile(path_);
    }
    ScratchDir dir_;
    std::string path_ = dir_ / "qvsetup.ini";
};

// Every key a handler may ask for reads the same from the snapshot as from the system,
// whatever else the section holds; asked twice, the kept answer does not drift.
TEST_F(ConfigEdgeTest, OddLinesReadAsTheSystemReadsThem) {
    const std::string longValue = std::string(2046, 'v') + "\"tail\"";
    const std::string text = "[Files]\r\n"
                             "0=C:\\a.txt?10?OVERWRITE?Yes\r\n"
                             "0=C:\\second.txt?10?OVERWRITE?Yes\r\n" // a repeated key
                             "1=\"C:\\quoted.txt?1?SKIP?No\"\r\n"
                             "2=  C:\\blanks.txt?1?ASK?Yes  \r\n"
                             "3=\r\n"
                             "4\r\n" // no '=' at all
                             "=orphan\r\n"
                             "5=????\r\n"
                             "6=a=b?c\r\n"
                             "7='single'\r\n"
                             "8=\"\r\n"
                             "9=" +
                             longValue +
                             "\r\n"
                             "[files]\r\n" // the same section again, other case
                             "10=late\r\n"
                             "[Setup]\r\n"
                             "TotalFiles= 12 \r\n";
    TIniFile ini = Write(text);
    for (int round = 0; round < 2; ++round) {
        for (const char* key : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", ""}) {
            SCOPED_TRACE(std::string("key ") + key);
            EXPECT_EQ(ini.ReadString("Files", key, "<def>"),
                      ini.ReadStringFromFile("Files", key, "<def>"));
        }
    }
    EXPECT_EQ(ini.ReadString("Files", "0", ""), "C:\\a.txt?10?OVERWRITE?Yes"); // the first
    EXPECT_EQ(ini.ReadString("Files", "5", ""), "????");
    EXPECT_EQ(ini.ReadInteger("Setup", "TotalFiles", 0), 12);
    EXPECT_LE(ini.ReadString("Files", "9", "").size(), 2047u);
}

// A section of many huge records: each read is cut at 2047 characters, the key list
// keeps its limit, and nothing reads past what the file holds.
TEST_F(ConfigEdgeTest, HugeRecordsAreCutAndListed) {
    std::string text = "[Others]\r\n";
    for (int i = 0; i < 200; ++i)
        text += std::to_string(i) + "=" + std::string(5000 + i, static_cast<char>('a' + i % 26)) +
                "*?Font\r\n";
    TIniFile ini = Write(text);
    const std::vector<std::string> keys = ini.ReadSection("Others");
    ASSERT_EQ(keys.size(), 200u);
    for (int i : {0, 57, 199}) {
        const std::string v = ini.ReadString("Others", keys[i], "");
        EXPECT_EQ(v, std::string(2047, static_cast<char>('a' + i % 26)));
        EXPECT_EQ(v, ini.ReadStringFromFile("Others", keys[i], ""));
    }
}

// Numbers as a hostile builder may write them: only a plain decimal within 32 bits or
// "$"/"0x" with at most eight hex digits is a number; all else gives the default.
TEST(ConfigEdgeNumbers, OddFormsGiveTheDefault) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"2147483647", true, 2147483647},
        {"2147483648", false, 0},
        {"-2147483648", true, INT32_MIN},
        {"-2147483649", false, 0},
        {"00000000000000000000042", true, 42}, // leading zeros do not overflow
        {"$00000000000000000FF", true, 255},
        {"0x100000000", false, 0}, // nine significant digits
        {"1e3", false, 0},
        {"12.5", false, 0},
        {"0x-1", false, 0},
        {"-$1", false, 0},
        {"$ 1", false, 0},
        {"+", false, 0},
        {"-", false, 0},
        {"\t7\t", true, 7},
        {"\xef\xbc\x91", false, 0}, // a full-width digit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int32_t v = -77;
        EXPECT_EQ(ParseIniInteger(c.text, v), c.ok);
        EXPECT_EQ(v, c.ok ? c.value : -77); // untouched when it is no number
    }
}

// Separators only, and separators around empty fields, in both kinds of record.
TEST(ConfigEdgeSplit, SeparatorRuns) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitRecord("?a??", "?"), (V{"", "a", ""}));   // last empty one lost
    EXPECT_EQ(SplitRecord("a?? ", "?"), (V{"a", "", " "}));  // a blank is a field
    EXPECT_EQ(SplitRecord("*?*?x", "*?"), (V{"", "", "x"})); // leading run
    EXPECT_EQ(SplitRecord("**??", "*?"), (V{"*", "?"}));     // left to right
    EXPECT_EQ(SplitRecord("*?*?*", "*?"), (V{"", "", "*"})); // half a separator
    EXPECT_EQ(SplitRecord(std::string(3000, '?') + "x", "?").size(), 3001u);
}

} // namespace
