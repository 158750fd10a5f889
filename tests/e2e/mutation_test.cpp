// Deterministic mutation runs of whole silent setups: a valid setup that uses every
// item section is damaged record by record (cut short, extra separators, empty,
// huge or odd fields, absurd numbers, repeated keys, nested constants) and run with
// "/S". Whatever the damage, a run must end by itself, with an exit code of its own,
// and without leaving its setup temp folder behind.
//
// Every place a record can write to stays inside the test's scratch folders or under
// test-only names: each mutation leaves the leading part of a record's target (a
// destination below <InstallDir>, a registry key below the test's own key, a variable
// or extension name with the test's prefix) untouched and only changes what follows.
//
// A failure prints the seed and the mutated records; QV_MUTATION_SEED=<number> in the
// environment runs the same variants from another seed.
//
// Its setups show windows (questions, boxes), which would take the active window away
// from a window test running beside it, and the window tests check where the focus is.
// qv-test-locks: desktop
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "SystemState.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kDefaultSeed = 0x5EED0451;
// A bound for hangs, not a speed check: a run that answers several questions can take
// ten seconds under Wine on a loaded machine (each hidden box costs about two).
constexpr DWORD kRunTimeoutMs = 120000;

const char kTestKeyBase[] = "Software\\QVTestMut-";
const char kEnvPrefix[] = "QVTESTMUT";
const char kExtPrefix[] = "qvtmut";
const char kUninstallParent[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kSystemEnv[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// A record as a failure message can show it: control and non-ASCII bytes escaped,
// long texts shortened around their middle.
std::string Printable(const std::string& s) {
    std::string out = Escaped(s);
    if (out.size() > 400)
        out = out.substr(0, 200) + "...(" + std::to_string(s.size()) + " bytes)..." +
              out.substr(out.size() - 150);
    return out;
}

// ---- registry clean-up -------------------------------------------------------------

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && _strnicmp(s.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// Deletes the subkeys of parent whose names start with one of the prefixes.
void DeleteSubkeysStartingWith(HKEY root, REGSAM view, const std::string& parent,
                               const std::vector<std::string>& prefixes) {
    HKEY k;
    if (RegOpenKeyExA(root, parent.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return;
    std::vector<std::string> doomed;
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof name;
        LONG r = RegEnumKeyExA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_MORE_DATA) continue;
        if (r != ERROR_SUCCESS) break;
        for (const std::string& p : prefixes)
            if (StartsWithNoCase(std::string(name, n), p)) doomed.emplace_back(name, n);
    }
    RegCloseKey(k);
    for (const std::string& d : doomed)
        DeleteKeyTree(root, parent + "\\" + d, view);
}

void DeleteValuesStartingWith(HKEY root, REGSAM view, const std::string& key,
                              const std::string& prefix) {
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_SET_VALUE | view, &k) != ERROR_SUCCESS)
        return;
    std::vector<std::string> doomed;
    std::vector<char> name(33000);
    for (DWORD i = 0;; ++i) {
        DWORD n = static_cast<DWORD>(name.size());
        if (RegEnumValueA(k, i, name.data(), &n, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        std::string s(name.data(), n);
        if (StartsWithNoCase(s, prefix)) doomed.push_back(s);
    }
    for (const std::string& d : doomed)
        RegDeleteValueA(k, d.c_str());
    RegCloseKey(k);
}

// ---- the INI text of a built setup ------------------------------------------------

struct IniLine {
    std::string section; // upper case, "" before the first header
    std::string text;    // the whole line without its line break
};

std::vector<IniLine> SplitIni(const std::string& ini) {
    std::vector<IniLine> lines;
    std::string section;
    size_t pos = 0;
    while (pos < ini.size()) {
        size_t end = ini.find('\n', pos);
        std::string line =
            ini.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            for (char& c : section)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        }
        lines.push_back({section, line});
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return lines;
}

std::string JoinIni(const std::vector<IniLine>& lines) {
    std::string out;
    for (const IniLine& l : lines)
        out += l.text + "\r\n";
    return out;
}

// ---- the mutations ------------------------------------------------------------------

// Pieces of hostile text. None holds "=", "[" or "..", so a damaged value never
// turns into a new record, a new section or a path that climbs out of its folder.
const std::vector<std::string> kOddTexts = {
    "\"",
    "\"\"",
    "'",
    "<",
    ">",
    "<>",
    "%",
    "%%",
    "%PATH%",
    "*?",
    "*",
    "?",
    "\\",
    "\\\\",
    "/",
    "\t",
    "\x01",
    "\x1A",
    "\x7F",
    "\x80",
    "\xA0",
    "\xE4\xF6\xFC",
    "\xFF",
    "\r",
    "\n",
    " ",
    "\"<InstallDir>\"",
    "%1",
    ";",
    "#",
    "<#>",
    "%s%s%s%n",
    "\xC3\xA9",
    "\x0B\x0C",
};
const std::vector<std::string> kNumbers = {
    "-1",
    "-2147483648",
    "2147483647",
    "2147483648",
    "4294967295",
    "4294967296",
    "99999999999999999999999",
    "0x",
    "$",
    "0xFFFFFFFF",
    "$7FFFFFFF",
    "0x100000000",
    "12x",
    "abc",
    "1e9",
    "--1",
    "+-0",
    " 7 ",
    "-0",
    "00000000000000000000000000000000000001",
    "1.5",
    "",
};
const std::vector<std::string> kNested = {
    "<<InstallDir>>",
    "<Install<AppName>Dir>",
    "<InstallDir<InstallDir>>",
    "<AppName><AppName><AppName>",
    "<<<<>>>>",
    "<",
    "<SetupTempDir",
    "<ProgramGroup><GUID><AppVersion>",
    "<FormatDate><TempDir><SysDir>",
    "<%InstallDir%>",
    "<Install\x01Dir>",
    "<CommonProgramsMenu>",
};

struct Mutator {
    SeededRng& rng;
    std::string log;

    std::string HugeText() {
        const size_t size = rng.Between(10 * 1024, 100 * 1024);
        std::string s;
        switch (rng.Below(3)) {
        case 0: // a constant again and again: the expansion grows far beyond the input
            while (s.size() < size)
                s += "<InstallDir>";
            break;
        case 1:
            while (s.size() < size)
                s += static_cast<char>('A' + rng.Below(26));
            break;
        default: // path-like: a long run of folders
            while (s.size() < size)
                s += "\\d" + std::to_string(rng.Below(1000));
            break;
        }
        return s;
    }

    // Mutates value after its first `keep` characters.
    std::string MutateValue(std::string value, size_t keep, const std::string& sep) {
        if (keep > value.size()) keep = value.size();
        const size_t at = rng.Between(keep, value.size());
        switch (rng.Below(8)) {
        case 0: // cut short
            log += "cut at " + std::to_string(at);
            return value.substr(0, at);
        case 1: { // extra separators
            std::string add;
            for (size_t n = rng.Between(1, 4); n > 0; --n)
                add += sep;
            log += "separators at " + std::to_string(at);
            return value.insert(at, add);
        }
        case 2: { // an emptied field (the protected head stays)
            std::vector<std::pair<size_t, size_t>> fields; // [begin, end)
            size_t b = 0;
            for (;;) {
                size_t e = value.find(sep, b);
                fields.push_back({b, e == std::string::npos ? value.size() : e});
                if (e == std::string::npos) break;
                b = e + sep.size();
            }
            auto [fb, fe] = fields[rng.Below(fields.size())];
            if (fb < keep) fb = keep;
            if (fe < fb) fe = fb;
            log += "emptied " + std::to_string(fb) + ".." + std::to_string(fe);
            return value.erase(fb, fe - fb);
        }
        case 3: { // a huge field in place of the rest of a field
            size_t e = value.find(sep, at);
            if (e == std::string::npos) e = value.size();
            log += "huge text at " + std::to_string(at);
            return value.replace(at, e - at, HugeText());
        }
        case 4: { // a hostile number in place of a whole field after the head
            std::vector<size_t> starts{keep};
            for (size_t p = value.find(sep); p != std::string::npos; p = value.find(sep, p + 1))
                if (p + sep.size() > keep) starts.push_back(p + sep.size());
            const size_t b = rng.Pick(starts);
            size_t e = value.find(sep, b);
            if (e == std::string::npos) e = value.size();
            const std::string n = rng.Pick(kNumbers);
            log += "number '" + n + "' at " + std::to_string(b);
            return value.replace(b, e - b, n);
        }
        case 5:
        case 6: { // odd characters
            std::string add;
            for (size_t n = rng.Between(1, 3); n > 0; --n)
                add += rng.Pick(kOddTexts);
            log += "odd text at " + std::to_string(at);
            return value.insert(at, add);
        }
        default: { // constants nested in each other, sometimes many times
            std::string add = rng.Pick(kNested);
            if (rng.Below(4) == 0) {
                const std::string one = add;
                for (size_t n = rng.Between(10, 300); n > 0; --n)
                    add += one;
            }
            log += "nested constants at " + std::to_string(at);
            return value.insert(at, add);
        }
        }
    }
};

// The head of a record's value that a mutation leaves as it is, so that the record
// can only ever write inside the test's own places.
struct Protection {
    std::string section;  // upper case
    std::string keyOrAny; // a [Setup] key, or "" for every record of the section
    std::string head;     // the value must begin with this and keeps it
};

} // namespace

class MutationTest : public ::testing::Test {
  protected:
    ScratchDir work;
    std::string project = work / "project";
    std::string payload = work / "project\\payload";
    std::string base = work / "base.exe";
    std::string keyPath = kTestKeyBase + std::to_string(GetCurrentProcessId());
    std::string guid = "{QVTESTMUT-" + std::to_string(GetCurrentProcessId()) + "}";
    std::string noProgram = work / "nothere";
    std::vector<Protection> protections;
    uint32_t seed = SeedFromEnvironment("QV_MUTATION_SEED", kDefaultSeed);

    // Each variant's own seed; neighbouring base seeds give unrelated variants.
    uint32_t VariantSeed(int index) const {
        return seed * 2246822519u ^ static_cast<uint32_t>(index) * 2654435761u;
    }

    void SetUp() override {
        CreateDirectoryA(project.c_str(), nullptr);
        CreateDirectoryA(payload.c_str(), nullptr);
        CleanTestState();
        // Files that the [Others] records name: none of them is what its kind needs,
        // so every registration fails (and is reported) without changing the system.
        WriteFileBytes(payload + "\\app.exe", "MZ not really a program");
        WriteFileBytes(payload + "\\readme.txt", "read me\r\n");
        WriteFileBytes(payload + "\\font.ttf", RandomBytes(3000, 7));
        WriteFileBytes(payload + "\\lib.dll", RandomBytes(5000, 8));
        WriteFileBytes(payload + "\\types.tlb", RandomBytes(700, 9));

        const std::string reg = "HKCU\\" + keyPath + "\\";
        const std::string program = noProgram + "\\";
        WriteMinimalProject(
            project,
            "GUID=" + guid +
                "\r\nAppVersion=2.5.1 beta\r\nCompanyName=QV Test\r\nUninstall=1\r\n"
                "ShowAddRemove=1\r\nInstallLevel=0\r\nAdmin=0\r\n64-bit=0\r\nDefaultLanguage="
                "English\r\n"
                "MainExecutable=<InstallDir>\\app.exe\r\n"
                "ProgramGroup=QV Mutation\r\nInstallationPath=" +
                work.Path() + "\\default\r\nInstallMode=0\r\nPromptUninstall=1\r\n" +
                "UninstallURL=https://qv.invalid/bye\r\nVisitUninstallPage=1\r\n"
                "CheckVersions=1\r\nCheckMinVer=1.0\r\nCheckMaxVer=99.0\r\n"
                "\r\n[Payload]\r\n"
                "0=payload\\app.exe?<InstallDir>\\app.exe?OVERWRITE?Yes\r\n"
                "1=payload\\readme.txt?<InstallDir>\\docs\\readme.txt?ASK?Yes\r\n"
                "2=payload\\font.ttf?<InstallDir>\\font.ttf?OVERWRITE ONLY IF NEWER?Yes\r\n"
                "3=payload\\lib.dll?<InstallDir>\\lib.dll?SKIP?Yes\r\n"
                "4=payload\\types.tlb?<InstallDir>\\types.tlb?OVERWRITE?No\r\n"
                "\r\n[Shortcuts]\r\n"
                "s0=<InstallDir>\\links\\App.lnk*?<InstallDir>\\app.exe*?The app*?/a /b"
                "*?<InstallDir>*?<InstallDir>\\app.exe*?0*?Normal\r\n"
                "s1=<InstallDir>\\links\\sub\\Readme.lnk*?<InstallDir>\\docs\\readme.txt"
                "*?Read <AppName>*?*?*?*?3*?Maximized\r\n"
                "\r\n[Registry]\r\n"
                "r0=" +
                reg +
                "Main*?Path*?REG_SZ*?<InstallDir>*?Yes*?Yes*?Default\r\n"
                "r1=" +
                reg +
                "Main\\Deep\\Er*?Count*?REG_DWORD*?$10*?Yes*?Yes*?32-bit\r\n"
                "r2=" +
                reg +
                "Bin*?Blob*?REG_BINARY*?01 a0 ff 7e*?No*?Yes*?Default\r\n"
                "r3=" +
                reg +
                "Exp*?*?REG_EXPAND_SZ*?%TEMP%\\<AppName>*?Yes*?No*?Default\r\n"
                "\r\n[INI]\r\n"
                "i0=<InstallDir>\\conf.ini*?Main*?Folder*?<InstallDir>*?Yes*?Yes\r\n"
                "i1=<InstallDir>\\conf.ini*?Main*?Version*?<AppVersion>*?No*?Yes\r\n"
                "\r\n[Environments]\r\n"
                "e0=QVTESTMUT_A*?<InstallDir>*?APPEND*?Yes\r\n"
                "e1=QVTESTMUT_B*?one*?OVERWRITE*?Yes\r\n"
                "e2=QVTESTMUT_B*?two*?PREPEND*?Yes\r\n"
                "e3=QVTESTMUT_C*?x*?REMOVE*?No\r\n"
                "\r\n[Extensions]\r\n"
                "x0=qvtmutdoc*?<InstallDir>\\app.exe*?QV Mutation Document*?*?0\r\n"
                "x1=qvtmutpic*?<InstallDir>\\app.exe*?Picture*?<InstallDir>\\app.exe*?2\r\n"
                "\r\n[Others]\r\n"
                "o0=FONT*?<InstallDir>\\font.ttf*?No\r\n"
                "o1=DLL/ACTIVEX*?<InstallDir>\\lib.dll*?Yes\r\n"
                "o2=TYPE LIBRARY*?<InstallDir>\\types.tlb*?No\r\n"
                "\r\n[Commands]\r\n"
                "c0=" +
                program +
                "before.exe*?/q*?HIDE*?BEFORE INSTALLATION*?YES*?ALL*?NO\r\n"
                "c1=" +
                program +
                "after.exe*?<InstallDir>*?NORMAL*?AFTER INSTALLATION*?YES*?ALL*?NO\r\n"
                "c2=" +
                program +
                "un.exe*?*?HIDE*?BEFORE UNINSTALLATION*?YES*?ALL*?NO\r\n"
                "c3=" +
                program + "post.exe*?/x*?MINIMIZE*?AFTER UNINSTALLATION*?NO*?X86*?YES\r\n");
        // The stand-in uninstaller, so that a run leaves an installed copy behind that a
        // later setup finds, updates or removes.
        ASSERT_TRUE(CopyFileA(QV_FAKE_UNINSTALLER_PATH,
                              (project + "\\setup\\QVUninstall.exe").c_str(), FALSE));
        ASSERT_TRUE(BuildTestSetup(project, base));

        protections = {
            {"FILES", "", "<InstallDir>\\"},
            {"SHORTCUTS", "", "<InstallDir>\\links\\"},
            {"REGISTRY", "", reg},
            {"INI", "", "<InstallDir>\\"},
            {"ENVIRONMENTS", "", kEnvPrefix},
            {"EXTENSIONS", "", kExtPrefix},
            {"OTHERS", "", ""}, // head: the kind and "*?<InstallDir>\" (see HeadLength)
            {"COMMANDS", "", program},
            {"SETUP", "GUID", guid},
        };
    }

    void TearDown() override { CleanTestState(); }

    // Removes everything a run may have written outside the scratch folders.
    void CleanTestState() {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            DeleteKeyTree(HKEY_CURRENT_USER, keyPath, view);
            for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
                DeleteSubkeysStartingWith(root, view, kUninstallParent, {guid});
                DeleteSubkeysStartingWith(root, view, "Software\\Classes",
                                          {std::string(".") + kExtPrefix, kExtPrefix});
            }
            DeleteSubkeysStartingWith(HKEY_CURRENT_USER, view,
                                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                                      "FileExts",
                                      {std::string(".") + kExtPrefix});
            DeleteValuesStartingWith(HKEY_CURRENT_USER, view, "Environment", kEnvPrefix);
            DeleteValuesStartingWith(HKEY_LOCAL_MACHINE, view, kSystemEnv, kEnvPrefix);
        }
    }

    // The length of the head of value that a mutation must leave alone, or npos when
    // the record may not be mutated at all.
    size_t HeadLength(const std::string& section, const std::string& key,
                      const std::string& value) const {
        for (const Protection& p : protections) {
            if (p.section != section) continue;
            if (!p.keyOrAny.empty() && _stricmp(p.keyOrAny.c_str(), key.c_str()) != 0) continue;
            if (section == "OTHERS") {
                const std::string at = "*?<InstallDir>\\";
                const size_t f = value.find(at);
                return f == std::string::npos ? std::string::npos : f + at.size();
            }
            return value.compare(0, p.head.size(), p.head) == 0 ? p.head.size() : std::string::npos;
        }
        return section == "SETUP" ? 0 : std::string::npos;
    }

    struct Variant {
        std::string ini;
        std::string description; // the mutations and the records they produced
    };

    // One variant: 1 to 3 mutations of the records of the given sections. For [Setup]
    // only the keys in setupKeys are touched.
    Variant Mutate(const std::string& original, uint32_t variantSeed,
                   const std::vector<std::string>& sections,
                   const std::vector<std::string>& setupKeys) {
        SeededRng rng(variantSeed);
        std::vector<IniLine> lines = SplitIni(original);
        Variant v;
        for (size_t m = rng.Between(1, 3); m > 0; --m) {
            std::vector<size_t> candidates;
            for (size_t i = 0; i < lines.size(); ++i) {
                const IniLine& l = lines[i];
                const size_t eq = l.text.find('=');
                if (eq == std::string::npos) continue;
                bool wanted = false;
                for (const std::string& s : sections)
                    wanted = wanted || s == l.section;
                if (!wanted) continue;
                if (l.section == "SETUP") {
                    bool listed = false;
                    for (const std::string& k : setupKeys)
                        listed = listed || _stricmp(k.c_str(), l.text.substr(0, eq).c_str()) == 0;
                    if (!listed) continue;
                }
                if (HeadLength(l.section, l.text.substr(0, eq), l.text.substr(eq + 1)) ==
                    std::string::npos)
                    continue;
                candidates.push_back(i);
            }
            if (candidates.empty()) break;
            const size_t i = rng.Pick(candidates);
            const size_t eq = lines[i].text.find('=');
            const std::string key = lines[i].text.substr(0, eq);
            const std::string value = lines[i].text.substr(eq + 1);
            const size_t head = HeadLength(lines[i].section, key, value);
            Mutator mut{rng, ""};
            if (rng.Below(7) == 0) {
                // The same key again, its copies damaged too, or very many copies of it.
                const size_t copies =
                    rng.Below(3) == 0 ? rng.Between(200, 1500) : rng.Between(1, 4);
                const std::string copy =
                    key + "=" +
                    mut.MutateValue(value, head, lines[i].section == "FILES" ? "?" : "*?");
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, copies,
                             IniLine{lines[i].section, copy});
                v.description += "\n  [" + lines[i].section + "] " + key + " repeated " +
                                 std::to_string(copies) + " times (" + mut.log +
                                 "): " + Printable(copy);
                continue;
            }
            const std::string sep = lines[i].section == "FILES" ? "?" : "*?";
            lines[i].text = key + "=" + mut.MutateValue(value, head, sep);
            v.description += "\n  [" + lines[i].section + "] " + key + " (" + mut.log +
                             "): " + Printable(lines[i].text);
        }
        v.ini = JoinIni(lines);
        return v;
    }

    // Runs one variant and checks how it ended.
    // prepare (when given) readies the run's folders first: (destination, TEMP) -> a
    // description of what it did.
    using Prepare = std::function<std::string(const std::string&, const std::string&)>;

    void RunVariant(int index, Variant v, const Prepare& prepare = nullptr) {
        const std::string dir = work / ("run" + std::to_string(index));
        const std::string temp = dir + "\\temp";
        const std::string dest = dir + "\\dest";
        const std::string setup = dir + "\\setup.exe";
        CreateDirectoryA(dir.c_str(), nullptr);
        CreateDirectoryA(temp.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(base.c_str(), setup.c_str(), FALSE));
        RewriteSetupIni(setup, [&](std::string& ini) { ini = v.ini; });
        if (prepare) v.description += prepare(dest, temp);

        const bool logging = index % 4 == 3;
        const bool ignore = index % 2 == 1;
        const std::string args =
            std::string("/S") + (logging ? " /L" : "") + " /D \"" + dest + "\"";
        // A damaged payload record asks Abort, Retry or Ignore even in a silent run.
        // Retry would try the same damaged record for ever, so the run is answered
        // with Abort or Ignore (alternately, so that both ways on are taken).
        BoxAnswer answer = [ignore](const SeenBox& box) {
            for (const std::string& b : box.buttons) {
                std::string plain;
                for (char c : b)
                    if (c != '&') plain += c;
                if (plain == (ignore ? "Ignore" : "Abort")) return b;
            }
            return std::string();
        };
        const DWORD started = GetTickCount();
        const SetupRun run = RunSetup(setup, args, temp, kRunTimeoutMs, answer);
        const DWORD took = GetTickCount() - started;

        const std::string what = "seed " + std::to_string(seed) + ", variant " +
                                 std::to_string(index) + ", setup " + args + ", answer " +
                                 (ignore ? "Ignore" : "Abort") + v.description;
        EXPECT_FALSE(run.timedOut)
            << "the run did not end within " << kRunTimeoutMs << " ms; " << what;
        if (!run.timedOut) {
            // 0 normal end or quiet stop, 1 abort, 4 no language, 5 refused; the setup
            // package itself is intact, so its own codes (2, 3, its size) cannot arise.
            const uint32_t c = run.exitCode;
            EXPECT_TRUE(c == 0 || c == 1 || c == 4 || c == 5)
                << "exit code 0x" << std::hex << c << std::dec << "; " << what;
            if (logging && (c == 0 || c == 1 || c == 5)) {
                EXPECT_TRUE(PathExists(temp + "\\QVSETUPLOG.TXT"))
                    << "a logged run ended without writing its log; " << what;
            }
        }
        EXPECT_TRUE(ListFolders(temp, "QVTMP").empty()) << "setup temp folder left; " << what;
        for (const SeenBox& box : run.boxes) {
            // A silent run shows only the questions about payload files that could not be
            // placed (Abort, Retry, Ignore); item failures are logged, not shown.
            bool abortRetryIgnore = box.buttons.size() == 3;
            EXPECT_TRUE(abortRetryIgnore) << "silent run showed '" << Printable(box.caption)
                                          << "': " << Printable(box.text) << "; " << what;
        }
        // One line per run, so that a log shows what every variant did.
        std::printf("variant %d: exit %lu%s, %u box(es), %lu ms%s\n", index,
                    static_cast<unsigned long>(run.exitCode), run.timedOut ? " (timed out)" : "",
                    static_cast<unsigned>(run.boxes.size()), static_cast<unsigned long>(took),
                    v.description.c_str());
        CleanTestState();
        RemoveTree(dir);
    }

    std::string BaseIni() {
        std::string ini;
        RewriteSetupIni(base, [&](std::string& text) { ini = text; });
        return ini;
    }

    void RunVariants(int first, int count, const std::vector<std::string>& sections,
                     const std::vector<std::string>& setupKeys) {
        const std::string original = BaseIni();
        ASSERT_NE(original.find("[Registry]"), std::string::npos);
        for (int i = first; i < first + count; ++i) {
            const Variant v = Mutate(original, VariantSeed(i), sections, setupKeys);
            RunVariant(i, v);
        }
    }
};

// Damages an installed copy's uninstall record, which a later setup of the product
// reads back (its version and program group) and, in update mode, continues.
std::string DamageRecord(const std::string& path, uint32_t variantSeed) {
    SeededRng rng(variantSeed ^ 0xA5A5A5A5u);
    std::vector<IniLine> lines = SplitIni(ReadFileBytes(path));
    std::string log;
    const std::vector<std::string> keys = {"99999999999", "-1",   "",      " 3",
                                           "0",           "00",   "1 ",    "4294967296",
                                           ";0",          "\x80", "Files", "[Files]"};
    for (size_t m = rng.Between(1, 4); m > 0; --m) {
        std::vector<size_t> entries;
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].text.find('=') != std::string::npos) entries.push_back(i);
        if (entries.empty()) break;
        const size_t i = rng.Pick(entries);
        const size_t eq = lines[i].text.find('=');
        std::string key = lines[i].text.substr(0, eq), value = lines[i].text.substr(eq + 1);
        Mutator mut{rng, ""};
        switch (rng.Below(5)) {
        case 0: // another key name
            key = rng.Pick(keys);
            mut.log = "key";
            break;
        case 1: // the line without its "="
            lines[i].text = key + value;
            log += "\n  record [" + lines[i].section +
                   "] line without '=': " + Printable(lines[i].text);
            continue;
        case 2: // the section header again further down, with entries of its own
            lines.push_back({lines[i].section, "[" + lines[i].section + "]"});
            for (size_t n = rng.Between(1, 400); n > 0; --n)
                lines.push_back({lines[i].section, key + "=" + value});
            log += "\n  record [" + lines[i].section + "] again with repeated " + key;
            continue;
        default:
            value = mut.MutateValue(value, 0, "*?");
            break;
        }
        lines[i].text = key + "=" + value;
        log +=
            "\n  record [" + lines[i].section + "] (" + mut.log + "): " + Printable(lines[i].text);
    }
    WriteFileBytes(path, JoinIni(lines));
    return log;
}

// The unmutated setup installs everything it names: the variants below start from a
// setup that works, so a failure there is the damage's doing.
TEST_F(MutationTest, BaseSetupInstallsCleanly) {
    const std::string dest = work / "dest";
    const std::string temp = work / "temp";
    CreateDirectoryA(temp.c_str(), nullptr);
    SetupRun run = RunSetup(base, "/S /L /D \"" + dest + "\"", temp, kRunTimeoutMs);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_TRUE(ListFolders(temp, "QVTMP").empty());
    EXPECT_TRUE(PathExists(dest + "\\docs\\readme.txt"));
    EXPECT_TRUE(PathExists(dest + "\\links\\sub\\Readme.lnk"));
    EXPECT_TRUE(PathExists(dest + "\\conf.ini"));
    EXPECT_TRUE(PathExists(dest + "\\Uninstall.exe"));
    ASSERT_TRUE(RegKeyExists(HKEY_CURRENT_USER, keyPath + "\\Main\\Deep\\Er", 0));
}

TEST_F(MutationTest, DamagedItemRecordsEndCleanly) {
    RunVariants(
        0, 16, {"SHORTCUTS", "REGISTRY", "INI", "ENVIRONMENTS", "EXTENSIONS", "OTHERS", "COMMANDS"},
        {});
}

TEST_F(MutationTest, DamagedSetupKeysAndFileRecordsEndCleanly) {
    RunVariants(100, 10, {"SETUP", "FILES"},
                {"TotalFiles", "EngineSize", "FilesSize", "AppName", "AppVersion", "GUID",
                 "InstallLevel", "MainExecutable", "ProgramGroup", "InstallMode", "Uninstall",
                 "ShowAddRemove", "UninstallURL", "DefaultLanguage", "Windows 7", "Admin",
                 "64-bit"});
}

// An installed copy with a damaged uninstall record, found by a setup in update mode
// (which continues the record) or in new-installation mode (which runs the stand-in
// uninstaller first, again and again while the entry stays).
TEST_F(MutationTest, DamagedInstalledRecordEndsCleanly) {
    const std::string original = BaseIni();
    for (int i = 200; i < 206; ++i) {
        Variant v = Mutate(original, VariantSeed(i), {"SETUP"},
                           {"CheckMinVer", "CheckMaxVer", "AppVersion"});
        SetIniValue(v.ini, "InstallMode", i % 3 == 2 ? "0" : "1");
        v.description += i % 3 == 2 ? "\n  InstallMode=0" : "\n  InstallMode=1";
        RunVariant(i, v, [&](const std::string& dest, const std::string& temp) {
            const SetupRun first = RunSetup(base, "/S /D \"" + dest + "\"", temp, kRunTimeoutMs);
            EXPECT_EQ(first.exitCode, 0u);
            EXPECT_TRUE(PathExists(dest + "\\Uninstall.exe"));
            return DamageRecord(dest + "\\Uninstall.ini", VariantSeed(i));
        });
    }
}
