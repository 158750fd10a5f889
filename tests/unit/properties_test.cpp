// Properties of the code that reads untrusted text (names stored in cabinets, setup
// destinations, configuration and language files, configured texts, records, version
// texts, the trailer), each checked on many generated inputs. The generators use fixed
// seeds, so a failure names an input that fails again on the next run.
#include "CabWriter.h"
#include "SystemState.h"
#include "TestSupport.h"
#include "config/IniFile.h"
#include "engine/FilePlacement.h"
#include "package/CabSTComps.h"
#include "package/SetupPackage.h"
#include "platform/FileUtil.h"
#include "platform/SafePath.h"
#include "run/RunContext.h"
#include "text/ExpandText.h"
#include "text/Language.h"
#include "text/Versions.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <random>
#include <string>
#include <vector>

namespace {

// A small deterministic generator of texts made of pieces.
class Gen {
  public:
    explicit Gen(uint32_t seed) : rng_(seed) {}
    size_t Below(size_t n) { return static_cast<size_t>(rng_() % n); }
    bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
    template <size_t N> const char* Pick(const char* const (&pieces)[N]) {
        return pieces[Below(N)];
    }
    template <size_t N>
    std::string Join(const char* const (&pieces)[N], size_t minParts, size_t maxParts) {
        std::string s;
        const size_t parts = minParts + Below(maxParts - minParts + 1);
        for (size_t i = 0; i < parts; ++i)
            s += Pick(pieces);
        return s;
    }

  private:
    std::mt19937 rng_;
};

// Shown in a failure message: quoted, every byte outside printable ASCII as \xNN.
std::string Visible(const std::string& s) {
    return "\"" + Escaped(s) + "\"";
}

bool StartsWithIgnoringCase(const std::string& s, const std::string& head) {
    return s.size() >= head.size() && SameText(s.substr(0, head.size()), head);
}

// "\\.\" and "\\?\" name devices and raw object paths, not files of a folder.
bool IsDevicePath(const std::string& full) {
    return full.rfind("\\\\.\\", 0) == 0 || full.rfind("\\\\?\\", 0) == 0;
}

// full lies strictly inside folder (given without trailing backslash).
bool StrictlyInside(const std::string& full, const std::string& folder) {
    const std::string prefix = folder + "\\";
    return full.size() > prefix.size() && StartsWithIgnoringCase(full, prefix);
}

// Pieces of hostile path names: dots, separators, drives, device prefixes and names,
// short-name marks, blanks, bytes outside ASCII and the UTF-8 bytes of full-width
// dots and backslashes as they read in an 8-bit code page.
const char* const kPathPieces[] = {
    "..",    ".",    "...",     ". ",      " .",           "\\",           "/",
    ":",     "C",    "a",       " ",       "\\\\?\\",      "\\\\.\\",      "CON",
    "NUL",   "COM1", "LPT1",    "con.txt", "AUX",          "~1",           "PROGRA~1",
    "$",     "\xE9", "\xA0",    "\x85",    "\xEF\xBC\x8E", "\xEF\xBC\xBC", "\xE2\x88\x95",
    "x.txt", "sub",  "::$DATA", "\t",      "..\\",         "../",          "a.",
    "C:",    "\\\\", "CONIN$",  "nul.",    "b ",
};

} // namespace

// A name stored in a cabinet that IsSafeCabinetName lets through never leaves the
// destination folder: its full path is inside the folder unless the system turns it
// into a device path (the extraction refuses those separately, see below).
TEST(Properties, SafeCabinetNamesStayInsideTheFolder) {
    const std::string dest = "C:\\qvbox\\dest";
    Gen g(20240601);
    int accepted = 0;
    for (int i = 0; i < 6000; ++i) {
        const std::string name = g.Join(kPathPieces, 1, 7);
        if (!IsSafeCabinetName(name)) continue;
        ++accepted;
        const std::string full = FullPath(JoinPath(dest, name));
        if (IsDevicePath(full)) continue;
        EXPECT_TRUE(StrictlyInside(full, dest))
            << "name " << Visible(name) << " leads to " << Visible(full);
    }
    EXPECT_GT(accepted, 300); // the generator does reach the accepted names
}

// The whole gate of the extraction, on real cabinets: whatever name a cabinet stores,
// a successful extraction wrote a file strictly inside the destination folder and
// nothing outside it.
TEST(Properties, ExtractionWritesOnlyInsideTheFolder) {
    ScratchDir dir;
    const std::string source = dir / "payload";
    WriteFileBytes(source, "data");
    Gen g(77);
    int tried = 0, extracted = 0;
    for (int i = 0; tried < 40 && i < 4000; ++i) {
        const std::string name = g.Join(kPathPieces, 1, 5);
        // Mostly names the first check accepts, which the second must still judge.
        if (!IsSafeCabinetName(name) && !g.Chance(10)) continue;
        ++tried;
        const std::string box = dir / ("box" + std::to_string(i));
        const std::string dest = box + "\\in\\dest";
        ASSERT_TRUE(ForceDirectories(dest));
        const std::string cab = box + "\\c.cab";
        try {
            mksetup::WriteCabinet(cab, {{source, name}});
        } catch (const std::exception&) {
            continue; // the writer refuses some names itself
        }
        bool ok = true;
        try {
            TSTCabReader reader;
            reader.ExtractFiles(cab, dest);
        } catch (const ESTCabinet&) {
            ok = false;
        }
        // Nothing new anywhere in the box but inside dest.
        std::vector<std::string> stack{box}, outside;
        while (!stack.empty()) {
            const std::string folder = stack.back();
            stack.pop_back();
            WIN32_FIND_DATAA fd;
            HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
            if (h == INVALID_HANDLE_VALUE) continue;
            do {
                const std::string n = fd.cFileName;
                if (n == "." || n == "..") continue;
                const std::string p = folder + "\\" + n;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    if (!SameText(p, dest) && !StrictlyInside(p, dest)) stack.push_back(p);
                } else if (!StrictlyInside(p, dest) && !SameText(p, cab)) {
                    outside.push_back(p);
                }
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        EXPECT_TRUE(outside.empty()) << "name " << Visible(name) << " wrote " << outside.front();
        if (ok) {
            ++extracted;
            const std::string full = FullPath(JoinPath(dest, name));
            EXPECT_TRUE(StrictlyInside(full, dest) && !IsDevicePath(full))
                << "name " << Visible(name) << " extracted to " << Visible(full);
        }
    }
    EXPECT_EQ(tried, 40);
    EXPECT_GT(extracted, 10);
}

namespace {

std::vector<std::string> SplitAtBackslash(const std::string& p) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t end = p.find('\\', from);
        parts.push_back(p.substr(from, end == std::string::npos ? end : end - from));
        if (end == std::string::npos) return parts;
        from = end + 1;
    }
}

// Destinations as a configuration may give them once expanded: a head (drive, share,
// device prefix, relative forms) and one to four components of hostile pieces.
std::vector<std::string> DestinationsAccepted(uint32_t seed, int count) {
    static const char* const kHeads[] = {"C:\\",        "c:\\",    "D:\\", "\\\\server\\share\\",
                                         "\\\\?\\C:\\", "\\\\.\\", "C:",   "\\"};
    Gen g(seed);
    std::vector<std::string> accepted;
    for (int i = 0; i < count; ++i) {
        std::string path = g.Pick(kHeads);
        const size_t n = 1 + g.Below(4);
        for (size_t k = 0; k < n; ++k) {
            if (k) path += '\\';
            path += g.Join(kPathPieces, 1, 3);
        }
        if (IsSafeDestination(path)) accepted.push_back(path);
    }
    return accepted;
}

} // namespace

// A destination IsSafeDestination accepts is taken by the system where it stands: the
// same drive or share and the same components, each at most losing the trailing dots
// and blanks the system drops from a name; none is removed or made to step back.
TEST(Properties, SafeDestinationsKeepTheirComponents) {
    const std::vector<std::string> accepted = DestinationsAccepted(4242, 6000);
    EXPECT_GT(accepted.size(), 200u);
    for (const std::string& path : accepted) {
        const std::string full = FullPath(path);
        if (IsDevicePath(full)) continue; // see the next test
        const std::vector<std::string> a = SplitAtBackslash(path), b = SplitAtBackslash(full);
        ASSERT_EQ(a.size(), b.size()) << Visible(path) << " became " << Visible(full);
        for (size_t k = 0; k < a.size(); ++k) {
            const bool kept = b[k].empty() == a[k].empty() && b[k].size() <= a[k].size() &&
                              SameText(a[k].substr(0, b[k].size()), b[k]) &&
                              a[k].find_first_not_of(". ", b[k].size()) == std::string::npos;
            EXPECT_TRUE(kept) << Visible(path) << " became " << Visible(full);
        }
    }
}

// Nor is it ever a device: a file name such as "NUL", "COM1" or "CONIN$" (with any
// extension or trailing dots) makes the system open the device instead of a file in
// the folder, so the placement would "install" into it and report success.
TEST(Properties, SafeDestinationsAreNeverDevices) {
    std::vector<std::string> devices;
    for (const std::string& path : DestinationsAccepted(4242, 6000))
        if (IsDevicePath(FullPath(path))) devices.push_back(Visible(path));
    std::string examples;
    for (size_t k = 0; k < devices.size() && k < 5; ++k)
        examples += " " + devices[k];
    EXPECT_TRUE(devices.empty()) << devices.size() << " accepted device paths, such as" << examples;
}

namespace {

// Pieces of configuration lines: blanks, quotes, "=", comment and section marks,
// control characters, bytes outside ASCII and a NUL byte.
const char* const kKeyPieces[] = {"a",    "B",    "k1",   "key",  " ",    "\t",   ";",    "[",
                                  "]",    "\"",   "'",    "#",    "\xE9", "\xC9", "\x85", "\xA0",
                                  "\x01", "\x0B", "\x1A", "\x7F", "\x81", "-",    "_"};
const char* const kValuePieces[] = {"x",    "Y z",  " ",    "\t", "\"",   "'",      "=",    ";",
                                    "[",    "]",    "?",    "*?", "\xE9", "\x85",   "\xA0", "\x01",
                                    "\x0B", "\x1A", "\x7F", "\r", "0",    "C:\\a b"};
const char* const kPlainKeys[] = {"a", "A", "B", "k1", "key", "a b", "aB", "k1a", "missing"};
const char* const kSections[] = {"S", "s", "T", "Setup", "[S]", " S", "S ", "\xE9"};

// The system's own read, with the buffer the configuration reader's cut matches.
std::string SystemRead(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& def) {
    return IniValue(path, section, key, def, 2048);
}

} // namespace

// Whatever a section holds, every key (present or absent) reads the same through the
// kept snapshot as through the system's own read of the file, and the key list and the
// existence of the section are the system's too.
TEST(Properties, SnapshotReadsWhatTheSystemReads) {
    ScratchDir dir;
    Gen g(1234567);
    for (int file = 0; file < 200; ++file) {
        std::string text;
        std::vector<std::string> keys(std::begin(kPlainKeys), std::end(kPlainKeys));
        // Half of the files have plain key names only, so their sections are kept whole
        // and answered from memory; the others hold names the system compares its own way.
        const bool oddKeys = g.Chance(50);
        auto key = [&](size_t maxPieces) {
            return oddKeys && g.Chance(40) ? g.Join(kKeyPieces, 0, maxPieces)
                                           : std::string(g.Pick(kPlainKeys));
        };
        auto value = [&] {
            std::string v = g.Join(kValuePieces, 0, 4);
            if (g.Chance(15)) v = g.Pick(kValuePieces) + v + g.Pick(kValuePieces);
            if (g.Chance(10)) v = "\"" + v + "\"";
            if (g.Chance(5)) v = "'" + v + "'";
            return v;
        };
        const size_t lines = 1 + g.Below(14);
        for (size_t l = 0; l < lines; ++l) {
            std::string line;
            switch (g.Below(12)) {
            case 0:
                line = std::string("[") + g.Pick(kSections) + "]";
                break;
            case 1:
                line = g.Chance(50) ? ";comment=1" : "";
                break;
            case 2: // a line without "="
                line = key(3);
                keys.push_back(line);
                break;
            case 3: { // a long value
                line = g.Pick(kPlainKeys) + std::string("=") +
                       std::string(2040 + g.Below(20), 'v') + g.Join(kValuePieces, 0, 2);
                break;
            }
            case 4: { // a NUL byte inside the line
                const std::string k = key(2);
                line = k + std::string(1, '\0') + g.Pick(kPlainKeys) + "=" + value();
                keys.push_back(k);
                break;
            }
            default: {
                const std::string k = key(3);
                line = k + "=" + value();
                keys.push_back(k);
                break;
            }
            }
            text += line;
            const size_t end = g.Below(10);
            text += end < 7 ? "\r\n" : end < 9 ? "\n" : "\r";
        }
        if (g.Chance(50)) text = std::string("[S]\r\n") + text;
        // A fresh name each time: the system may keep a file it has read.
        const std::string path = dir / ("f" + std::to_string(file) + ".ini");
        WriteFileBytes(path, text);
        TIniFile ini(path);
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        std::vector<std::string> sections{"S"};
        for (int k = 0; k < 2; ++k)
            sections.push_back(g.Pick(kSections));
        for (const std::string& section : sections) {
            SCOPED_TRACE("file " + Visible(text) + " section " + Visible(section));
            EXPECT_EQ(ini.ReadSection(section), IniKeys(path, section));
            EXPECT_EQ(ini.SectionExists(section), !IniKeys(path, section).empty());
            for (const std::string& key : keys)
                EXPECT_EQ(ini.ReadString(section, key, "<def>"),
                          SystemRead(path, section, key, "<def>"))
                    << "key " << Visible(key);
        }
    }
}

namespace {

// Pieces of configured texts: constants, partial names, user variables, environment
// references and the line-break mark.
const char* const kTextPieces[] = {"<InstallDir>",
                                   "<installdir>",
                                   "<ProgramFiles>",
                                   "<#>",
                                   "<%PATH%>",
                                   "<%",
                                   "%>",
                                   "%",
                                   "<",
                                   ">",
                                   "<Inst",
                                   "allDir>",
                                   "<V1>",
                                   "<V2>",
                                   "<V3>",
                                   "<v1>",
                                   "<App",
                                   "x",
                                   " ",
                                   "\xE9",
                                   "<%QV_PROP%>",
                                   "<AppName>",
                                   "%s",
                                   "%%",
                                   "<#",
                                   "#>",
                                   "<%%>",
                                   "<Date"};

} // namespace

// Expansion of any text ends, never yields more than its 16 MiB cap, and leaves a text
// that holds no "<" as it is (every name it could replace starts with "<").
TEST(Properties, ExpansionEndsWithinItsCap) {
    constexpr size_t kCap = size_t{16} << 20;
    // A variable whose value names itself and a user variable.
    SetEnvironmentVariableA("QV_PROP", "<V1><%QV_PROP%><#>");
    RunContext ctx;
    ctx.Wizard.Edit1 = "C:\\Apps\\<V2>\\";
    ctx.UserVariables = {"<V1>?<V2><V2>",
                         "<V2>?<V3><V3><%PATH%>",
                         "<V3>?<V1><InstallDir>",
                         "<InstallDir>?<V1><V1>",
                         "?nameless",
                         "<Empty>?"};
    Gen g(99);
    for (int i = 0; i < 3000; ++i) {
        const std::string text = g.Join(kTextPieces, 0, 12);
        const std::string out = ExpandText(ctx, text);
        ASSERT_LE(out.size(), kCap) << Visible(text);
        if (text.find('<') == std::string::npos) {
            EXPECT_EQ(out, text) << Visible(text);
        }
    }
    // Values that double at every level: the cap stops the growth.
    RunContext big;
    for (int k = 0; k < 30; ++k)
        big.UserVariables.push_back("<L" + std::to_string(k) + ">?<L" + std::to_string(k + 1) +
                                    "><L" + std::to_string(k + 1) + ">");
    big.UserVariables.push_back("<L30>?0123456789");
    for (const char* text : {"<L0><#><l0>"}) {
        const std::string out = ExpandText(big, text);
        EXPECT_LE(out.size(), kCap) << text;
        EXPECT_GT(out.size(), kCap / 4) << text; // it did grow as far as it may
    }
    SetEnvironmentVariableA("QV_PROP", nullptr);
}

// FormatText fills only "%s" and "%%": a text without "%" is only given its line
// breaks, and an argument is put in as it stands (its own "%s" is not filled again).
TEST(Properties, FormatTextFillsOnlyItsOwnMarks) {
    auto breaks = [](const std::string& s) { return ReplaceTextIgnoreCase(s, "<#>", "\r\n"); };
    Gen g(5150);
    for (int i = 0; i < 3000; ++i) {
        const std::string text = g.Join(kTextPieces, 0, 10);
        const std::string arg = g.Join(kTextPieces, 0, 4);
        const std::string one = FormatText(text, arg);
        const std::string two = FormatText(text, arg, arg);
        if (text.find('%') == std::string::npos) {
            EXPECT_EQ(one, breaks(text)) << Visible(text);
            EXPECT_EQ(two, breaks(text)) << Visible(text);
        }
        if (arg.find('<') == std::string::npos && arg.find('>') == std::string::npos &&
            arg.find('#') == std::string::npos) {
            EXPECT_EQ(FormatText("[%s]", arg), "[" + arg + "]") << Visible(arg);
        }
    }
}

namespace {
const char* const kRecordPieces[] = {"a",  "*",    "?", "*?",  "??",    "**?", "\r",
                                     "\n", "\r\n", " ", "x?y", "C:\\f", "?*",  ""};
} // namespace

// SplitRecord: no field ever holds a line break; a record without line breaks is its
// fields joined by the separator again, less one trailing separator (an empty last
// field is lost); a record of separators alone has no fields.
TEST(Properties, RecordsSplitAndJoinBack) {
    Gen g(31337);
    for (const std::string sep : {"*?", "?"}) {
        for (int i = 0; i < 5000; ++i) {
            const std::string record = g.Join(kRecordPieces, 0, 9);
            const std::vector<std::string> fields = SplitRecord(record, sep);
            for (const std::string& f : fields)
                ASSERT_EQ(f.find_first_of("\r\n"), std::string::npos) << Visible(record);
            if (record.find_first_of("\r\n") != std::string::npos) continue;
            std::string onlySeps;
            while (onlySeps.size() < record.size())
                onlySeps += sep;
            if (onlySeps == record) {
                EXPECT_TRUE(fields.empty()) << Visible(record);
                continue;
            }
            std::string joined;
            for (size_t k = 0; k < fields.size(); ++k)
                joined += (k ? sep : "") + fields[k];
            std::string expected = record;
            if (expected.size() >= sep.size() &&
                expected.compare(expected.size() - sep.size(), sep.size(), sep) == 0)
                expected.resize(expected.size() - sep.size());
            EXPECT_EQ(joined, expected) << Visible(record) << " with " << sep;
        }
    }
}

// Version texts: any text reads as four numbers in 0..2147483647, and "newer" is a
// strict order on them: never newer than itself, never both ways.
TEST(Properties, VersionComparisonIsAStrictOrder) {
    static const char* const kPieces[] = {
        "1", "2",  "10", ".",          "..",         ",",           "_", " ",    "beta",
        "0", "00", "-1", "2147483647", "2147483648", "99999999999", "v", "\xE9", "+"};
    Gen g(8086);
    for (int i = 0; i < 5000; ++i) {
        const std::string a = g.Join(kPieces, 0, 8), b = g.Join(kPieces, 0, 8);
        for (int32_t n : ParseVersion(a))
            EXPECT_GE(n, 0) << Visible(a);
        EXPECT_FALSE(IsNewerVersion(a, a)) << Visible(a);
        EXPECT_FALSE(IsNewerVersion(a, b) && IsNewerVersion(b, a)) << Visible(a) << Visible(b);
        // Equal numbers mean neither is newer; different ones mean exactly one is.
        const bool same = ParseVersion(a) == ParseVersion(b);
        EXPECT_EQ(IsNewerVersion(a, b) || IsNewerVersion(b, a), !same) << Visible(a) << Visible(b);
    }
}

// The trailer's number: exactly ten ASCII digits whose value fits a signed 32-bit
// integer; anything else is no number and leaves the value alone.
TEST(Properties, TrailerNumberIsTenDigitsWithinInt32) {
    static const char kChars[] = "0123456789 +-xA\t\xB2\x00";
    Gen g(2718);
    for (int i = 0; i < 20000; ++i) {
        char digits[10];
        const bool allDigits = g.Chance(70);
        int64_t expected = 0;
        bool valid = true;
        for (char& c : digits) {
            c = allDigits ? static_cast<char>('0' + g.Below(10))
                          : kChars[g.Below(sizeof kChars - 1)];
            if (g.Chance(40)) c = '0'; // leading zeros and small numbers
            if (c < '0' || c > '9') valid = false;
            expected = expected * 10 + (c - '0');
        }
        if (valid && expected > INT32_MAX) valid = false;
        uint32_t value = 0xDEADBEEF;
        const bool ok = ParseTrailerNumber(digits, value);
        ASSERT_EQ(ok, valid) << Visible(std::string(digits, 10));
        if (ok)
            EXPECT_EQ(value, static_cast<uint32_t>(expected));
        else
            EXPECT_EQ(value, 0xDEADBEEFu);
    }
    uint32_t v = 0;
    EXPECT_TRUE(ParseTrailerNumber("2147483647", v));
    EXPECT_EQ(v, 2147483647u);
    EXPECT_FALSE(ParseTrailerNumber("2147483648", v));
    EXPECT_FALSE(ParseTrailerNumber("9999999999", v));
}
