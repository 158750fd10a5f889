// System information: the Windows version and product facts, rights, group membership,
// running programs, file versions and registry views.
//
// Reads the machine's product key, which the server cases and the other tests of
// product keys change for a moment, and writes Wine's per-program Windows version.
// qv-test-locks: machine_state
#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "sysinfo/SystemInfo.h"

#include "SetupRunner.h"
#include "TestSupport.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

// Copies of this program serve as the running process FindProcess looks for and
// as the reporter that tells what TOSInfo says under another Windows version.
// A copy started with QV_SYSINFO_CHILD set does its job and ends before any test.
namespace {

class ChildMode : public testing::Environment {
    void SetUp() override {
        std::string mode = EnvironmentText("QV_SYSINFO_CHILD");
        if (mode == "sleep") {
            Sleep(60000);
            ExitProcess(0);
        }
        if (mode != "report") return;
        SystemFacts facts;
        TOSInfo::GatherSystemInfo(facts, false);
        std::string self = ModulePath();
        std::string out = "OsName=" + facts.OsName + "\n" + "OwnerName=" + facts.OwnerName + "\n" +
                          "IsAdmin=" + std::to_string(TOSInfo::IsAdmin()) + "\n" +
                          "Backup=" + std::to_string(TOSInfo::IsGroupMember(551)) + "\n" +
                          "ByPath=" + std::to_string(TOSInfo::FindProcess(self)) + "\n" +
                          "ByName=" + std::to_string(TOSInfo::FindProcess(ExtractFileName(self))) +
                          "\n" + "Pid=" + std::to_string(GetCurrentProcessId()) + "\n";
        FILE* f = std::fopen(EnvironmentText("QV_SYSINFO_REPORT").c_str(), "wb");
        if (f) {
            std::fputs(out.c_str(), f);
            std::fclose(f);
        }
        ExitProcess(f ? 0 : 1);
    }
};
testing::Environment* const childMode = testing::AddGlobalTestEnvironment(new ChildMode);

// Adds (or replaces) one resource in an executable file.
void AddResource(const std::string& exe, LPCSTR type, const std::string& data) {
    HANDLE h = BeginUpdateResourceA(exe.c_str(), FALSE);
    ASSERT_NE(h, nullptr) << "cannot update resources of " << exe;
    ASSERT_TRUE(UpdateResourceA(h, type, MAKEINTRESOURCEA(1),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                const_cast<char*>(data.data()), static_cast<DWORD>(data.size())));
    ASSERT_TRUE(EndUpdateResourceA(h, FALSE));
}

// A version resource holding only the fixed record, with the given file and
// product versions (each as most and least significant halves).
std::string VersionBlock(DWORD fileMS, DWORD fileLS, DWORD prodMS, DWORD prodLS) {
    VS_FIXEDFILEINFO fixed{};
    fixed.dwSignature = VS_FFI_SIGNATURE;
    fixed.dwStrucVersion = VS_FFI_STRUCVERSION;
    fixed.dwFileVersionMS = fileMS;
    fixed.dwFileVersionLS = fileLS;
    fixed.dwProductVersionMS = prodMS;
    fixed.dwProductVersionLS = prodLS;
    fixed.dwFileOS = VOS_NT_WINDOWS32;
    fixed.dwFileType = VFT_APP;
    const wchar_t key[] = L"VS_VERSION_INFO";
    std::string block(6, '\0');
    block.append(reinterpret_cast<const char*>(key), sizeof key);
    block.resize((block.size() + 3) & ~size_t(3));
    block.append(reinterpret_cast<const char*>(&fixed), sizeof fixed);
    WORD header[3] = {static_cast<WORD>(block.size()), sizeof fixed, 0};
    memcpy(block.data(), header, sizeof header);
    return block;
}

// A scratch key below HKEY_CURRENT_USER, removed afterwards.
class ScratchKey {
  public:
    ScratchKey() {
        static int n = 0;
        path_ = "Software\\QVSysinfoTest\\" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++n);
        reg_.OpenKey(path_, true);
    }
    ~ScratchKey() {
        reg_.CloseKey();
        reg_.DeleteKey(path_);
    }
    TRegistry& Reg() { return reg_; }
    TOSInfo::ProductFacts Facts() {
        return TOSInfo::ReadProductFacts(HKEY_CURRENT_USER, path_, RegistryReadAccess(false));
    }

  private:
    std::string path_;
    TRegistry reg_;
};

} // namespace

TEST(OsNameTable, MapsReportedVersionsToExactNames) {
    struct Row {
        DWORD major, minor;
        const char* workstation;
        const char* server;
    } rows[] = {
        {4, 0, "Windows 9x", "Windows 9x"},  // NT 4.0 too
        {4, 90, "Windows 9x", "Windows 9x"}, // Me
        {5, 0, "Windows 2000", "Windows 2000"},
        {5, 1, "Windows XP", "Windows XP"},
        {5, 2, "Windows XP", "Windows Server 2003"},
        {5, 3, "Windows Unknow", "Windows Unknow"},
        {6, 0, "Windows Vista", "Windows Server 2008"},
        {6, 1, "Windows 7", "Windows Server 2008 R2"},
        {6, 2, "Windows 8", "Windows Server 2012"},
        {6, 3, "Windows 8.1", "Windows Server 2012 R2"},
        {6, 4, "Windows 10", "Windows 10"},
        {6, 9, "Windows 10", "Windows 10"},
        {6, 10, "Windows Unknow", "Windows Unknow"},
        {7, 0, "Windows 10", "Windows 10"},
        {3, 51, "Windows Unknow", "Windows Unknow"},
        {10, 0, "Windows Unknow", "Windows Unknow"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(TOSInfo::OsNameFor(r.major, r.minor, false), r.workstation)
            << r.major << "." << r.minor;
        EXPECT_EQ(TOSInfo::OsNameFor(r.major, r.minor, true), r.server)
            << r.major << "." << r.minor << " server";
    }
    EXPECT_EQ(std::string(TOSInfo::UnknownOsName).size(), 14u);
}

TEST(ProductFacts, ServerOnlyFromExactTypeOrCaseSensitiveProductName) {
    struct Case {
        const char* type; // nullptr: value absent
        const char* product;
        bool server;
    } cases[] = {
        {"Server", nullptr, true},
        {"Server Core", "Windows 7 Professional", false},
        {"server", nullptr, false},
        {"Client", "Windows Server 2008 R2 Enterprise", true},
        {nullptr, "Microsoft Windows Server 2003", true},
        {nullptr, "windows server 2003", false},
        {nullptr, "Microsoft Windows 7", false},
    };
    for (const Case& c : cases) {
        ScratchKey key;
        if (c.type) {
            ASSERT_TRUE(key.Reg().WriteString("InstallationType", c.type));
        }
        if (c.product) {
            ASSERT_TRUE(key.Reg().WriteString("ProductName", c.product));
        }
        EXPECT_EQ(key.Facts().Server, c.server)
            << (c.type ? c.type : "-") << " / " << (c.product ? c.product : "-");
    }
}

TEST(ProductFacts, NonTextValueEndsReadingButKeepsWhatWasRead) {
    {
        ScratchKey key;
        key.Reg().WriteInteger("InstallationType", 1);
        key.Reg().WriteString("ProductName", "Windows Server 2012");
        key.Reg().WriteString("RegisteredOwner", "Ann");
        TOSInfo::ProductFacts f = key.Facts();
        EXPECT_FALSE(f.Server);
        EXPECT_EQ(f.Owner, "");
    }
    {
        ScratchKey key;
        key.Reg().WriteString("ProductName", "Windows Server 2012");
        key.Reg().WriteString("RegisteredOwner", "Ann");
        key.Reg().WriteBinary("RegisteredOrganization", "\x01\x02");
        TOSInfo::ProductFacts f = key.Facts();
        EXPECT_TRUE(f.Server);
        EXPECT_EQ(f.Owner, "Ann");
        EXPECT_EQ(f.Organization, "");
    }
    TOSInfo::ProductFacts none = TOSInfo::ReadProductFacts(
        HKEY_CURRENT_USER, "Software\\QVSysinfoTest\\missing\\key", RegistryReadAccess(false));
    EXPECT_FALSE(none.Server);
    EXPECT_EQ(none.Owner, "");
}

TEST(Registry, AccessMasksAndRoots) {
    // A 64-bit build names the 32-bit view that the 32-bit runtime has by default.
    const REGSAM own = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;
    EXPECT_EQ(RegistryReadAccess(false), 0x20019u | own);
    EXPECT_EQ(RegistryReadAccess(true), 0x20119u);
    EXPECT_EQ(RegistryFullAccess(false), 0xF003Fu | own);
    EXPECT_EQ(RegistryFullAccess(true), 0xF013Fu);
    HKEY root = nullptr;
    std::string name;
    ASSERT_TRUE(ParseRegistryRoot("hklm", root, &name));
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(name, "HKEY_LOCAL_MACHINE");
    ASSERT_TRUE(ParseRegistryRoot("HKEY_Classes_Root", root, &name));
    EXPECT_EQ(root, HKEY_CLASSES_ROOT);
    EXPECT_FALSE(ParseRegistryRoot("HKCC", root));
    EXPECT_FALSE(ParseRegistryRoot("", root));
}

TEST(Registry, ReadsTextsSafelyAndRefusesOtherTypes) {
    ScratchKey key;
    HKEY h = key.Reg().CurrentKey();
    ASSERT_NE(h, nullptr);
    // Stored without its terminating zero, and with text after an inner zero.
    RegSetValueExA(h, "bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
    RegSetValueExA(h, "inner", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab\0cd"), 6);
    std::string s = "unchanged";
    ASSERT_TRUE(key.Reg().ReadString("bare", s));
    EXPECT_EQ(s, "abc");
    ASSERT_TRUE(key.Reg().ReadString("inner", s));
    EXPECT_EQ(s, "ab");
    key.Reg().WriteInteger("number", -5);
    s = "unchanged";
    EXPECT_FALSE(key.Reg().ReadString("number", s));
    EXPECT_EQ(s, "unchanged");
    int32_t n = 0;
    ASSERT_TRUE(key.Reg().ReadInteger("number", n));
    EXPECT_EQ(n, -5);
    EXPECT_FALSE(key.Reg().ReadInteger("bare", n));
    EXPECT_FALSE(key.Reg().ReadString("absent", s));
    std::string big(100000, 'x');
    ASSERT_TRUE(key.Reg().WriteString("big", big));
    ASSERT_TRUE(key.Reg().ReadString("big", s));
    EXPECT_EQ(s, big);
}

// The 64-bit flag must reach the system: a value written in the 64-bit view of
// HKLM\SOFTWARE is seen with it and not without it.
TEST(Registry, SixtyFourBitViewFlagSelectsTheView) {
    if (!TOSInfo::IsWow64()) GTEST_SKIP() << "32-bit Windows has a single registry view";
    const std::string path = "SOFTWARE\\QVSysinfoView" + std::to_string(GetCurrentProcessId());
    TRegistry writer(RegistryFullAccess(true));
    writer.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!writer.OpenKey(path, true)) GTEST_SKIP() << "HKLM is not writable for this user";
    writer.WriteString("where", "64");
    TRegistry reader(RegistryReadAccess(true));
    reader.SetRootKey(HKEY_LOCAL_MACHINE);
    std::string s;
    EXPECT_TRUE(reader.OpenKey(path, false) && reader.ReadString("where", s) && s == "64");
    reader.SetAccess(RegistryReadAccess(false));
    EXPECT_FALSE(reader.OpenKey(path, false));
    writer.CloseKey();
    EXPECT_TRUE(writer.DeleteKey(path));
}

TEST(FileVersion, BuiltRuntimeCarriesOneZeroZeroZero) {
    EXPECT_EQ(TOSInfo::FileVersionText(QV_SETUPSTUB_PATH), "1.0.0.0");
}

TEST(FileVersion, UsesFixedFileVersionNotProductVersion) {
    ScratchDir dir;
    struct Case {
        DWORD ms, ls;
        const char* text;
    } cases[] = {
        {MAKELONG(1, 6), MAKELONG(17514, 7601), "6.1.7601.17514"},
        {0, 0, "0.0.0.0"},
        {0xFFFFFFFF, 0xFFFFFFFF, "65535.65535.65535.65535"},
    };
    int i = 0;
    for (const Case& c : cases) {
        std::string exe = dir / ("v" + std::to_string(i++) + ".exe");
        ASSERT_TRUE(CopyFileA(QV_SETUPSTUB_PATH, exe.c_str(), FALSE));
        AddResource(exe, RT_VERSION, VersionBlock(c.ms, c.ls, MAKELONG(8, 9), MAKELONG(6, 7)));
        EXPECT_EQ(TOSInfo::FileVersionText(exe), c.text);
    }
}

TEST(FileVersion, EmptyForFilesWithoutVersion) {
    ScratchDir dir;
    WriteFileBytes(dir / "readme.txt", "just text\r\n");
    EXPECT_EQ(TOSInfo::FileVersionText(dir / "readme.txt"), "");
    EXPECT_EQ(TOSInfo::FileVersionText(dir / "missing.exe"), "");
    // A version block too short to hold the fixed record.
    std::string exe = dir / "short.exe";
    ASSERT_TRUE(CopyFileA(QV_SETUPSTUB_PATH, exe.c_str(), FALSE));
    std::string block = VersionBlock(MAKELONG(1, 2), 0, 0, 0);
    block.resize(48);
    WORD len = 48;
    memcpy(block.data(), &len, sizeof len);
    AddResource(exe, RT_VERSION, block);
    EXPECT_EQ(TOSInfo::FileVersionText(exe), "");
}

TEST(Processes, FindsRunningProgramByPathInOtherCase) {
    ScratchDir dir;
    std::string exe = dir / ("QvFindMe" + std::to_string(GetCurrentProcessId()) + ".exe");
    ASSERT_TRUE(CopyFileA(ModulePath().c_str(), exe.c_str(), FALSE));
    EXPECT_EQ(TOSInfo::FindProcess(exe), -1);
    // Without a console of its own the copy prints nothing into ours.
    StartedProgram copy(exe, "", {{"QV_SYSINFO_CHILD", "sleep"}}, DETACHED_PROCESS);
    ASSERT_TRUE(copy.Started());
    std::string lower = exe;
    for (char& ch : lower)
        ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(TOSInfo::FindProcess(lower), static_cast<int32_t>(copy.Id()));
    EXPECT_TRUE(TOSInfo::IsProcessRunning(UpperCase(ExtractFileName(exe))));
    EXPECT_TRUE(TOSInfo::IsProcessRunning("C:/elsewhere/" + ExtractFileName(exe)));
    copy.Kill();
    EXPECT_FALSE(TOSInfo::IsProcessRunning(exe));
    EXPECT_EQ(TOSInfo::FindProcess("QvNoSuchProgram.exe"), -1);
}

TEST(Processes, NamesThatCannotBeAProgramFindNothing) {
    // An empty name, a folder path, or a name longer than any executable name.
    EXPECT_EQ(TOSInfo::FindProcess(""), -1);
    EXPECT_EQ(TOSInfo::FindProcess("C:\\windows\\system32\\"), -1);
    EXPECT_FALSE(TOSInfo::IsProcessRunning(std::string(100000, 'x') + ".exe"));
    // The running test program itself is found by its bare name, whatever the case.
    const std::string self = ExtractFileName(ModulePath());
    EXPECT_EQ(TOSInfo::FindProcess(UpperCase(self)), static_cast<int32_t>(GetCurrentProcessId()));
}

TEST(Rights, AdministratorUnderWineAndBothMembershipTestsAgree) {
    if (UnderWine()) {
        EXPECT_TRUE(TOSInfo::IsAdmin()) << "Wine users are administrators";
        EXPECT_TRUE(TOSInfo::IsGroupMember(544));
        EXPECT_FALSE(TOSInfo::IsGroupMember(551)) << "Backup Operators";
    }
    for (uint32_t rid : {544u, 545u, 547u, 551u, 555u})
        EXPECT_EQ(TOSInfo::IsGroupMember(rid), TOSInfo::IsGroupMemberByTokenGroups(rid)) << rid;
}

TEST(Wow64, MatchesNativeArchitecture) {
    SYSTEM_INFO native;
    GetNativeSystemInfo(&native);
    bool expected = native.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
    std::string told = EnvironmentText("QV_EXPECT_WOW64"); // set by the prefix matrix script
    if (!told.empty()) {
        EXPECT_EQ(expected, told == "1") << "prefix is not what the script made";
    }
    EXPECT_EQ(TOSInfo::IsWow64(), expected);
}

namespace {

// A copy of this program that Wine tells another Windows version (through the
// per-program version setting) and that reports what TOSInfo finds there.
class Reporter {
  public:
    explicit Reporter(bool withRuntimeManifest) {
        name_ = std::string("QvReport") + (withRuntimeManifest ? "M" : "P") +
                std::to_string(GetCurrentProcessId()) + ".exe";
        exe_ = dir_ / name_;
        if (!CopyFileA(ModulePath().c_str(), exe_.c_str(), FALSE)) {
            ADD_FAILURE() << "cannot copy the test program";
            return;
        }
        if (withRuntimeManifest)
            AddResource(exe_, RT_MANIFEST,
                        ReadFileBytes(QV_SOURCE_DIR "\\src\\app\\setupstub.manifest"));
    }
    ~Reporter() {
        TRegistry reg;
        reg.DeleteKey("Software\\Wine\\AppDefaults\\" + name_);
    }
    // name=value lines of the report, as one text.
    std::string Run(const std::string& version) {
        TRegistry reg;
        if (!reg.OpenKey("Software\\Wine\\AppDefaults\\" + name_, true) ||
            !reg.WriteString("Version", version))
            return "cannot set the version";
        reg.CloseKey();
        std::string report = dir_ / "report.txt";
        DeleteFileA(report.c_str());
        StartedProgram copy(exe_, "",
                            {{"QV_SYSINFO_CHILD", "report"}, {"QV_SYSINFO_REPORT", report}},
                            DETACHED_PROCESS);
        if (!copy.Started()) return "not started";
        const bool ended = copy.WaitExit(30000).has_value();
        return ended && PathExists(report) ? ReadFileBytes(report) : "no report";
    }

  private:
    ScratchDir dir_;
    std::string name_, exe_;
};

std::string Line(const std::string& report, const std::string& name) {
    size_t p = report.find(name + "=");
    if (p == std::string::npos) return "(" + name + " missing from: " + report + ")";
    p += name.size() + 1;
    return report.substr(p, report.find('\n', p) - p);
}

const char* const kProductKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

bool ProductKeyNamesServer() {
    return TOSInfo::ReadProductFacts(HKEY_LOCAL_MACHINE, kProductKey, KEY_READ).Server;
}

} // namespace

// With the runtime's manifest a system later than 8.1 reports 6.3; without it,
// 6.2, as Windows does for programs that declare nothing.
TEST(OsNameUnderWine, VersionsSeenThroughTheRuntimeManifest) {
    if (!UnderWine()) GTEST_SKIP() << "needs Wine's per-program Windows version setting";
    if (ProductKeyNamesServer()) GTEST_SKIP() << "this machine's product key names a server";
    Reporter manifested(true), plain(false);
    struct Row {
        const char* version;
        const char* manifested;
        const char* plain;
    } rows[] = {
        {"win10", "Windows 8.1", "Windows 8"},
        {"win81", "Windows 8.1", "Windows 8"},
        {"win8", "Windows 8", "Windows 8"},
        {"win7", "Windows 7", "Windows 7"},
        {"vista", "Windows Vista", "Windows Vista"},
        {TOSInfo::IsWow64() ? "winxp64" : "winxp", "Windows XP", "Windows XP"},
        {"win2k", "Windows 2000", "Windows 2000"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Line(manifested.Run(r.version), "OsName"), r.manifested) << r.version;
        EXPECT_EQ(Line(plain.Run(r.version), "OsName"), r.plain) << r.version << " no manifest";
    }
}

TEST(OsNameUnderWine, Windows9xCountsEveryoneAsAdministratorAndMatchesWholeNames) {
    if (!UnderWine()) GTEST_SKIP() << "needs Wine's per-program Windows version setting";
    Reporter reporter(true);
    std::string report = reporter.Run("win98");
    EXPECT_EQ(Line(report, "OsName"), "Windows 9x");
    EXPECT_EQ(Line(report, "IsAdmin"), "1");
    EXPECT_EQ(Line(report, "Backup"), "1") << "every group counts on 9x";
    // 9x compares the whole given text with the listed names: a full path does
    // not match, the bare name does.
    EXPECT_EQ(Line(report, "ByPath"), "-1");
    EXPECT_EQ(Line(report, "ByName"), Line(report, "Pid"));
}

// Changes the machine's product key for a moment, so it runs only in a prefix of
// its own (the prefix matrix script sets QV_SYSINFO_OWN_PREFIX).
TEST(OsNameUnderWine, ServerProductsByProductKey) {
    if (!UnderWine()) GTEST_SKIP() << "needs Wine's per-program Windows version setting";
    if (EnvironmentText("QV_SYSINFO_OWN_PREFIX") != "1")
        GTEST_SKIP() << "changes HKLM product key; run by tests/support/sysinfo/prefix_matrix.sh";
    TRegistry reg(RegistryFullAccess(false));
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(kProductKey, false));
    // A 64-bit prefix whose 32-bit half Wine could not set up (a host that runs no
    // 32-bit code) has no product name in the 32-bit view.
    std::string oldName;
    const bool hadName = reg.ReadString("ProductName", oldName);
    Reporter reporter(true);
    reg.WriteString("ProductName", "Windows Server 2008 R2 Standard");
    EXPECT_EQ(Line(reporter.Run("win2008r2"), "OsName"), "Windows Server 2008 R2");
    EXPECT_EQ(Line(reporter.Run("win2003"), "OsName"), "Windows Server 2003");
    EXPECT_EQ(Line(reporter.Run("win10"), "OsName"), "Windows Server 2012 R2");
    reg.WriteString("ProductName", "Windows Web");
    reg.WriteString("InstallationType", "Server");
    reg.WriteString("RegisteredOwner", "Ann Example");
    std::string report = reporter.Run("win2008");
    EXPECT_EQ(Line(report, "OsName"), "Windows Server 2008");
    EXPECT_EQ(Line(report, "OwnerName"), "Ann Example");
    reg.WriteString("InstallationType", "Server Core");
    EXPECT_EQ(Line(reporter.Run("win2008"), "OsName"), "Windows Vista");
    reg.DeleteValue("InstallationType");
    reg.WriteString("RegisteredOwner", "");
    if (hadName)
        reg.WriteString("ProductName", oldName);
    else
        reg.DeleteValue("ProductName");
}
