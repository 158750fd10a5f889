// Prerequisite detection: product levels and versions read from registry layouts
// written under HKEY_LOCAL_MACHINE (the product keys are fixed paths, so whatever
// the prefix holds there is saved first and put back afterwards), and the
// connection test without a network.
//
// Changes fixed, machine-wide product keys (saved and put back around each case), which
// the other tests of product keys read or change too.
// qv-test-locks: machine_state
#include "TestSupport.h"
#include "platform/Registry.h"
#include "sysinfo/SystemInfo.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlwapi.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const char kBackups[] = "Software\\QVPrereqTest";

// Copies the open key's tree to root\path and closes it.
void Copy(HKEY from, HKEY root, const std::string& path, REGSAM view) {
    HKEY to;
    if (!RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &to,
                         nullptr)) {
        SHCopyKeyA(from, nullptr, to, 0);
        RegCloseKey(to);
    }
    RegCloseKey(from);
}

// Takes a machine key away for the test and puts it back as it was afterwards,
// from a copy below kBackups in the current user's hive.
struct SavedKey {
    std::string path, backup = std::string(kBackups) + "\\" + std::to_string(++count);
    REGSAM view;
    bool existed;
    static inline int count = 0;
    SavedKey(const std::string& p, bool view64)
        : path(p), view(view64 ? KEY_WOW64_64KEY : kRuntimeView) {
        HKEY key;
        existed = !RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key);
        if (existed) Copy(key, HKEY_CURRENT_USER, backup, 0);
        Remove();
    }
    void Remove() {
        TRegistry reg(KEY_ALL_ACCESS | view);
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.DeleteKey(path);
    }
    ~SavedKey() {
        Remove();
        HKEY key;
        if (existed && !RegOpenKeyExA(HKEY_CURRENT_USER, backup.c_str(), 0, KEY_READ, &key))
            Copy(key, HKEY_LOCAL_MACHINE, path, view);
        SHDeleteKeyA(HKEY_CURRENT_USER, backup.c_str());
    }
};

const char* const kProductKeys[] = {"SOFTWARE\\Microsoft\\.NETFramework\\Policy\\v1.0",
                                    "SOFTWARE\\Microsoft\\NET Framework Setup",
                                    "SOFTWARE\\Microsoft\\Internet Explorer",
                                    "SOFTWARE\\Adobe\\Acrobat Reader",
                                    "SOFTWARE\\JavaSoft\\Java Runtime Environment",
                                    "SOFTWARE\\Microsoft\\Microsoft SQL Server Compact Edition",
                                    "SOFTWARE\\Microsoft\\Microsoft SQL Server"};

class Prerequisites : public ::testing::Test {
  protected:
    Prerequisites() {
        for (const char* key : kProductKeys)
            saved_.push_back(std::make_unique<SavedKey>(key, false));
    }
    // Replaces the product keys by a layout: "key>name=value;..." below
    // HKLM\SOFTWARE\base, a value beginning with "#" being a number, "key>" a key alone.
    void Write(const std::string& base, const std::string& layout, bool view64 = false) {
        TRegistry reg(RegistryFullAccess(view64));
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!view64) // the 64-bit view's keys are saved by the test that writes there
            for (const char* key : kProductKeys)
                reg.DeleteKey(key);
        for (size_t pos = 0, end; pos < layout.size(); pos = end + 1) {
            end = layout.find(';', pos);
            if (end == std::string::npos) end = layout.size();
            std::string v = layout.substr(pos, end - pos);
            size_t gt = v.find('>'), eq = v.find('=');
            ASSERT_TRUE(reg.OpenKey("SOFTWARE\\" + base + v.substr(0, gt), true)) << v;
            if (eq == std::string::npos) continue;
            std::string name = v.substr(gt + 1, eq - gt - 1), text = v.substr(eq + 1);
            ASSERT_TRUE(text[0] == '#' ? reg.WriteInteger(name, std::stoi(text.substr(1)))
                                       : reg.WriteString(name, text));
        }
    }
    ~Prerequisites() override {
        saved_.clear();
        SHDeleteKeyA(HKEY_CURRENT_USER, kBackups);
    }
    std::vector<std::unique_ptr<SavedKey>> saved_;
};

const char kNet[] = "Microsoft\\NET Framework Setup\\";

TEST_F(Prerequisites, DotNetLevel) {
    const std::pair<const char*, int32_t> cases[] = {
        {"", -1},
        {"NDP\\v1.1.4322>Install=#1", 1},
        {"NDP\\v2.0.50727>Install=#1;NDP\\v3.0\\Setup>InstallSuccess=#1", 3},
        {"NDP\\v2.0.50727>Install=#0", -1},
        {"NDP\\v3.5>Install=#1", 4},
        {"NDP\\v3.5>Install=#1;NDP\\v3.5>SP=#1", 6},
        // The client profile's step comes later and wins with its lower level.
        {"NDP\\v3.5>Install=#1;NDP\\v3.5>SP=#1;DotNetClient\\v3.5>Install=#1", 5},
        {"NDP\\v4\\Client>Install=#1", 7},
        {"NDP\\v4\\Client>Install=#1;NDP\\v4\\Full>Install=#1", 8},
        {"NDP\\v4\\Full>Install=#1;NDP\\v4\\Full>Release=#378388", 8},
        {"NDP\\v4\\Full>Install=#1;NDP\\v4\\Full>Release=#378389", 9},
        {"NDP\\v4\\Full>Install=#1;NDP\\v4\\Full>Release=#378675", 10},
        {"NDP\\v4\\Full>Install=#1;NDP\\v4\\Full>Release=#379892", 10},
        {"NDP\\v4\\Full>Install=#1;NDP\\v4\\Full>Release=#379893", 11},
        // A value of another type ends the detection with the level reached so far.
        {"NDP\\v2.0.50727>Install=#1;NDP\\v3.0\\Setup>InstallSuccess=1;NDP\\v4\\Full>Install=#1",
         2},
        // ... also in the service-pack and release reads, where the level was just set.
        {"NDP\\v3.5>Install=#1;NDP\\v3.5>SP=1;DotNetClient\\v3.5>Install=#1;NDP\\v4\\Client>"
         "Install=#1",
         4},
        {"NDP\\v4\\Full>Install=#1;NDP\\v4\\Full>Release=379893", 8},
        // Only the value 1 counts as installed.
        {"NDP\\v4\\Client>Install=#1;NDP\\v4\\Full>Install=#2;NDP\\v4\\Full>Release=#379893", 7},
    };
    for (const auto& [layout, level] : cases) {
        Write(kNet, layout);
        EXPECT_EQ(TOSInfo::DotNetLevel(false), level) << layout;
    }
    Write("Microsoft\\.NETFramework\\Policy\\", "v1.0>");
    EXPECT_EQ(TOSInfo::DotNetLevel(false), 0);
}

TEST_F(Prerequisites, VersionTexts) {
    struct Case {
        const char* layout;
        std::string ie;
    };
    const Case ie[] = {
        {"", ""},
        {"Internet Explorer>Version=9.11.9600.16428", "9.11.9600.16428"},
        {"Internet Explorer>Version=9.11.9600;Internet Explorer>svcVersion=11.0.9600", "11.0.9600"},
        {"Internet Explorer>Version=#9", ""}};
    for (const Case& c : ie) {
        Write("Microsoft\\", c.layout);
        EXPECT_EQ(TOSInfo::InternetExplorerVersion(false), c.ie) << c.layout;
    }
    // Subkey names, the Acrobat Reader version and the Java version they give.
    const char* const subkeys[][3] = {
        {"", "0.0", "0.0"},
        {"9.0>;11.0>;10.0>", "11.0", "9.0"},
        {"10.0>;9.5>", "10.0", "9.5"},
        {"10.1.2>", "0.0", "0.0"},
        // A year-named release keeps its whole name: it is newer than 11.0, not "2".
        {"2015>;11.0>", "2015", "0.0"},
        {"1.6.0_45>;1.7>", "1.7", "1.7"},
        {"11.0.2>;1.8.0_311>;x.y>", "0.0", "1.8"},
    };
    for (const auto& c : subkeys) {
        Write("Adobe\\Acrobat Reader\\", c[0]);
        EXPECT_EQ(TOSInfo::AcrobatReaderVersion(), c[1]) << c[0];
        Write("JavaSoft\\Java Runtime Environment\\", c[0]);
        EXPECT_EQ(TOSInfo::JavaRuntimeVersion(false), c[2]) << c[0];
    }
}

TEST_F(Prerequisites, SqlLevels) {
    const char* const compact[][2] = {
        {"", "-1"},
        {"v3.5\\ENU>DesktopRuntimeVersion=3.5.5692.0", "0"},
        {"v3.5\\ENU>DesktopRuntimeVersion=3.5.8080.0;v3.5\\ENU>DesktopRuntimeServicePackLevel=2",
         "2"},
        {"v3.5\\ENU>DesktopRuntimeVersion=3.0.1;v3.5\\ENU>DesktopRuntimeServicePackLevel=1", "-1"},
        {"v4.0\\ENU>DesktopRuntimeVersion=4.0.8876.1", "3"},
        {"v3.5\\ENU>DesktopRuntimeVersion=3.5.8080.0;v4.0\\ENU>DesktopRuntimeVersion=4.0.8876.1",
         "3"},
        {"v4.0\\ENU>DesktopRuntimeVersion=40.0", "-1"},
    };
    for (const auto& c : compact) {
        Write("Microsoft\\Microsoft SQL Server Compact Edition\\", c[0]);
        EXPECT_EQ(std::to_string(TOSInfo::SqlCompactLevel(false)), c[1]) << c[0];
    }
    // ">" below stands for "\Tools\ClientSetup\CurrentVersion>CurrentVersion=".
    const char* const server[][2] = {
        {"", "-1"},
        {"90>9.00.5000.00", "4"},
        {"100>10.50.4000.0", "11"},
        {"100>10.50.1600.1", "9"},
        // Client tools present: the Express instance is not consulted.
        {"110>11.0.2100.60;SQLEXPRESS}9.00.1399.06", "12"},
        {"90>9.00.1399.06;110>11.0.3000.0", "13"},
        {"120>12.0.2000.8", "14"},
        // Keys are read oldest first: a newer client replaces an older one, and a key
        // whose text matches nothing keeps what was found before.
        {"90>9.00.5000.00;100>10.00.1600.22", "5"},
        {"100>10.50.4000.0;110>10.0", "11"},
        {"SQLEXPRESS}12.0.2000.8", "14"},
        {"90>8.00.194;SQLEXPRESS}10.50.2500.0", "10"},
        {"110>#11", "-1"},
    };
    for (const auto& c : server) {
        std::string layout;
        for (char ch : std::string(c[0]))
            layout += ch == '>'   ? "\\Tools\\ClientSetup\\CurrentVersion>CurrentVersion="
                      : ch == '}' ? "\\MSSQLServer\\CurrentVersion>CurrentVersion="
                                  : std::string(1, ch);
        Write("Microsoft\\Microsoft SQL Server\\", layout);
        EXPECT_EQ(std::to_string(TOSInfo::SqlServerLevel(false)), c[1]) << c[0];
    }
}

// A 64-bit setup sees the 64-bit registry; Acrobat Reader is always looked up in
// the 32-bit view.
TEST_F(Prerequisites, RegistryView) {
    if (!TOSInfo::IsWow64()) GTEST_SKIP() << "needs 64-bit Windows";
    SavedKey ndp(std::string("SOFTWARE\\") + kNet, true),
        ar("SOFTWARE\\Adobe\\Acrobat Reader", true);
    Write("",
          "Microsoft\\NET Framework Setup\\NDP\\v4\\Full>Install=#1;Adobe\\Acrobat Reader\\11.0>",
          true);
    EXPECT_EQ(TOSInfo::DotNetLevel(true), 8);
    EXPECT_EQ(TOSInfo::DotNetLevel(false), -1);
    EXPECT_EQ(TOSInfo::AcrobatReaderVersion(), "0.0");
}

TEST(Connection, UnreachableAddressesAnswerFalseWithoutHanging) {
    // A name under the reserved ".invalid" domain never resolves, and nothing listens on
    // the discard port of the loopback address, whatever network the machine has. The
    // bound is far above either answer and far below the system's own minute-long waits.
    for (const char* address : {"http://qv-no-such-host.invalid/", "http://127.0.0.1:9/"}) {
        DWORD start = GetTickCount();
        EXPECT_FALSE(TOSInfo::HasInternetConnection(address)) << address;
        EXPECT_LT(GetTickCount() - start, 30000u) << address;
    }
}

} // namespace
