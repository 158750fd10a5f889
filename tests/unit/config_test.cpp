// The configuration reader's rules: cut values, number forms, the key-list limit,
// record splitting, and the [Setup] defaults.
#include "TestSupport.h"
#include "config/IniFile.h"
#include "run/RunContext.h"
#include "run/SetupKeys.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class ConfigTest : public ::testing::Test {
  protected:
    // Writes qvsetup.ini with the given text and returns a reader on it.
    TIniFile Write(const std::string& text) {
        WriteFileBytes(path_, text);
        return TIniFile(path_);
    }
    ScratchDir dir_;
    std::string path_ = dir_ / "qvsetup.ini";
};

TEST_F(ConfigTest, StringsAreCutAndEmptyDiffersFromAbsent) {
    std::string huge(100 * 1024, 'v');
    huge[0] = 'A';
    TIniFile ini = Write("[Setup]\r\nBig=" + huge + "\r\nEmpty=\r\nname=x\r\n");
    std::string big = ini.ReadString("Setup", "Big", "def");
    EXPECT_EQ(big.size(), 2047u);
    EXPECT_EQ(big, huge.substr(0, 2047));
    EXPECT_EQ(ini.ReadString("Setup", "Empty", "def"), "");
    EXPECT_EQ(ini.ReadString("Setup", "Missing", "def"), "def");
    EXPECT_EQ(ini.ReadString("SETUP", "NAME", ""), "x"); // names ignore case
    // An empty value is no number: integers and booleans take their default.
    EXPECT_EQ(ini.ReadInteger("Setup", "Empty", 7), 7);
    EXPECT_TRUE(ini.ReadBool("Setup", "Empty", true));
    EXPECT_FALSE(ini.ReadBool("Setup", "Empty", false));
}

TEST_F(ConfigTest, IntegerForms) {
    TIniFile ini = Write("[S]\r\nh1=0x1F\r\nh2=$ff\r\nbad=12abc\r\nneg=-5\r\nbig=99999999999\r\n"
                         "all=$FFFFFFFF\r\nb0=0\r\nb2=2\r\n");
    EXPECT_EQ(ini.ReadInteger("S", "h1", -1), 31);
    EXPECT_EQ(ini.ReadInteger("S", "h2", -1), 255);
    EXPECT_EQ(ini.ReadInteger("S", "bad", -1), -1);
    EXPECT_EQ(ini.ReadInteger("S", "neg", 0), -5);
    EXPECT_EQ(ini.ReadInteger("S", "big", 3), 3);
    EXPECT_EQ(ini.ReadInteger("S", "all", 0), -1);
    EXPECT_FALSE(ini.ReadBool("S", "b0", true));
    EXPECT_TRUE(ini.ReadBool("S", "b2", false));
}

TEST(ParseIniInteger, SignsBlanksAndRange) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {" 42\t", true, 42},
        {"+7", true, 7},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"0X1f", true, 31},
        {"$000000001", true, 1},
        {"$100000000", false, 0},
        {"0x", false, 0},
        {"$", false, 0},
        {"-$10", false, 0},
        {"1 2", false, 0},
        {"- 5", false, 0},
        {"-", false, 0},
        {"", false, 0},
        {"1.5", false, 0},
        {"$fg", false, 0},
    };
    for (const Case& c : cases) {
        int32_t v = 12345;
        EXPECT_EQ(ParseIniInteger(c.text, v), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(v, c.ok ? c.value : 12345) << '"' << c.text << '"';
    }
}

TEST_F(ConfigTest, ReadSectionKeepsFileOrderAndStopsAtTheLimit) {
    TIniFile small = Write("[Reg]\r\nb=1\r\na=2\r\n10=3\r\n2=4\r\n[Other]\r\nz=1\r\n");
    EXPECT_EQ(small.ReadSection("reg"), (std::vector<std::string>{"b", "a", "10", "2"}));
    EXPECT_TRUE(small.ReadSection("None").empty());

    // 5000 names of 7 characters take 8 bytes each: exactly 2048 fit 16384 bytes.
    std::string text = "[Big]\r\n";
    for (int i = 0; i < 5000; ++i) {
        char key[16];
        snprintf(key, sizeof key, "key%04d", i);
        text += std::string(key) + "=v\r\n";
    }
    std::vector<std::string> names = Write(text).ReadSection("Big");
    ASSERT_EQ(names.size(), 2048u);
    EXPECT_EQ(names.front(), "key0000");
    EXPECT_EQ(names.back(), "key2047");
}

TEST_F(ConfigTest, ReadSectionNeverReturnsACutName) {
    // The second name would end beyond 16384 bytes: it and everything after it are left
    // out, even a short name that would still fit.
    std::string a(16000, 'a'), b(500, 'b');
    TIniFile ini = Write("[L]\r\n" + a + "=1\r\n" + b + "=2\r\nc=3\r\n");
    EXPECT_EQ(ini.ReadSection("L"), (std::vector<std::string>{a}));
}

// The one-call snapshot must answer every key exactly as the system's own read does,
// including the entries it leaves to the system.
TEST_F(ConfigTest, SectionSnapshotReadsLikeTheSystem) {
    const std::string huge(3000, 'h');
    TIniFile ini = Write("[Files]\r\n"
                         "0=plain?12?OVERWRITE?Yes\r\n"
                         "1= padded value \r\n"
                         "2=\"quoted\"\r\n"
                         "3='single'\r\n"
                         "4=\"half\r\n"
                         "5=\r\n"
                         "6=" +
                         huge +
                         "\r\n"
                         "7=first\r\n7=second\r\n"
                         "8=\"x\"\r\n8=later plain\r\n"
                         "Name=Value\r\n"
                         "a=b=c\r\n"
                         "bare\r\n"
                         "[Other]\r\n9=elsewhere\r\n");
    const TIniSection files(ini, "Files");
    for (const char* key : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "NAME", "name", "a",
                            "bare", "missing", ""})
        EXPECT_EQ(files.ReadString(key, "def"), ini.ReadString("Files", key, "def")) << key;
    EXPECT_EQ(files.ReadString("6", "").size(), 2047u);
    EXPECT_EQ(files.ReadString("7", ""), "first");

    // Blanks around a key name or a comment make the snapshot leave every key to the
    // system: it can no longer tell which entry comes first.
    TIniFile odd = Write("[Files]\r\n 0 = spaced\r\n;note\r\n0=later\r\n1=one\r\n");
    const TIniSection oddFiles(odd, "Files");
    for (const char* key : {"0", "1", "2"})
        EXPECT_EQ(oddFiles.ReadString(key, "def"), odd.ReadString("Files", key, "def")) << key;

    // The reader keeps what it read until told the file was written.
    TIniFile kept = Write("[S]\r\nk=old\r\n");
    EXPECT_EQ(kept.ReadString("S", "k", ""), "old");
    WritePrivateProfileStringA("S", "k", "new", path_.c_str());
    EXPECT_EQ(kept.ReadString("S", "k", ""), "old");
    kept.Invalidate();
    EXPECT_EQ(kept.ReadString("S", "k", ""), "new");

    // A moved reader reads on (what it kept belongs to the object it was read for).
    TIniFile moved = std::move(kept);
    EXPECT_EQ(moved.ReadString("S", "k", ""), "new");

    // A missing section reads as missing keys.
    EXPECT_EQ(TIniSection(ini, "Nothing").ReadString("0", "def"), "def");
}

TEST_F(ConfigTest, SectionExistsNeedsAKey) {
    TIniFile ini = Write("[Extensions]\r\n0=txt\r\n[Bare]\r\n[Next]\r\nk=v\r\n");
    EXPECT_TRUE(ini.SectionExists("extensions"));
    EXPECT_FALSE(ini.SectionExists("Bare"));
    EXPECT_FALSE(ini.SectionExists("Missing"));
}

TEST(SplitRecord, FieldsAndTheLostLastField) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitRecord("a*?b*?c", "*?"), (V{"a", "b", "c"}));
    EXPECT_EQ(SplitRecord("a*?*?c", "*?"), (V{"a", "", "c"}));
    EXPECT_EQ(SplitRecord("a*?b*?", "*?"), (V{"a", "b"})); // not three
    EXPECT_EQ(SplitRecord("*?a", "*?"), (V{"", "a"}));
    EXPECT_EQ(SplitRecord("a*?b?c", "*?"), (V{"a", "b?c"}));
    EXPECT_EQ(SplitRecord("d\\f.exe?10?ALWAYS?Yes", "?"), (V{"d\\f.exe", "10", "ALWAYS", "Yes"}));
    EXPECT_EQ(SplitRecord("a\r\nb\rc*?d", "*?"), (V{"a", "b", "c", "d"}));
    // Nothing but separators carries no data.
    EXPECT_TRUE(SplitRecord("*?*?*?", "*?").empty());
    EXPECT_TRUE(SplitRecord("????", "?").empty());
    EXPECT_TRUE(SplitRecord("", "*?").empty());
    // "*?*" is not only separators: a lone "*" field after an empty one.
    EXPECT_EQ(SplitRecord("*?*", "*?"), (V{"", "*"}));
}

TEST_F(ConfigTest, SetupKeyDefaults) {
    RunContext ctx;
    // Without any configuration every key reads as its default.
    EXPECT_EQ(ReadSetupString(ctx, "IEVersion"), "3.0");
    EXPECT_EQ(ReadSetupInteger(ctx, "InstallLevel"), 1);

    WriteFileBytes(path_, "[Setup]\r\nTotalFiles=many\r\nIEVersion=\r\nInstallLevel=\r\n"
                          "Admin=0\r\nAppName=Demo\r\n");
    ctx.Config = std::make_unique<TIniFile>(path_);
    EXPECT_EQ(ReadSetupInteger(ctx, "TotalFiles"), 0);
    EXPECT_EQ(ReadSetupString(ctx, "IEVersion"), "");    // present but empty: empty text
    EXPECT_EQ(ReadSetupInteger(ctx, "InstallLevel"), 1); // present but empty: default
    EXPECT_FALSE(ReadSetupBool(ctx, "Admin"));
    EXPECT_TRUE(ReadSetupBool(ctx, "PromptUninstall"));
    EXPECT_EQ(ReadSetupString(ctx, "arversion"), "5.0");
    EXPECT_EQ(ReadSetupString(ctx, "JavaVersion"), "1.2");
    EXPECT_EQ(ReadSetupString(ctx, "UpdateDay"), "1");
    EXPECT_EQ(ReadSetupString(ctx, "DefaultLanguage"), "English");
    EXPECT_EQ(ReadSetupString(ctx, "AppName"), "Demo");
    EXPECT_EQ(ReadSetupString(ctx, "GUID"), "");
    EXPECT_FALSE(ReadSetupBool(ctx, "Windows 8.1"));
}

// ---- hostile files: odd lines, huge values, odd number forms ----

// Every key a handler may ask for reads the same from the snapshot as from the system,
// whatever else the section holds; asked twice, the kept answer does not drift.
TEST_F(ConfigTest, OddLinesReadAsTheSystemReadsThem) {
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
TEST_F(ConfigTest, HugeRecordsAreCutAndListed) {
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
