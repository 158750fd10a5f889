#include "SystemState.h"
#include "TestSupport.h"
#include "platform/FileUtil.h"
#include "run/RunContext.h"
#include "text/ExpandText.h"

#include <shlobj.h>
#include <windows.h>

#include <cstdio>

namespace {

const char kCV[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char kShell[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Read on its own, without the accessor the runtime uses; empty when absent.
std::string RegText(HKEY root, const char* key, const char* name, bool view64,
                    bool* present = nullptr) {
    const RegValue v = ReadRegValue(root, key, name, view64 ? KEY_WOW64_64KEY : kRuntimeView);
    if (present) *present = v.present;
    return v.text;
}

} // namespace

TEST(ExpandRegistry, ProgramFilesFollowsTheSetupsView) {
    RunContext ctx;
    for (bool view64 : {false, true}) {
        ctx.Is64 = view64;
        std::string pf = RegText(HKEY_LOCAL_MACHINE, kCV, "ProgramFilesDir", view64);
        ASSERT_FALSE(pf.empty());
        // Any letter case names the constant.
        EXPECT_EQ(ExpandText(ctx, "<programfiles>\\App"), pf + "\\App");
        EXPECT_EQ(ExpandText(ctx, "<PROGRAMFILES>"), pf);
        EXPECT_EQ(ExpandText(ctx, "<CommonFiles>"),
                  RegText(HKEY_LOCAL_MACHINE, kCV, "CommonFilesDir", view64));
    }
    if (SixtyFourBitWindows()) {
        ctx.Is64 = false;
        EXPECT_EQ(ExpandText(ctx, "<ProgramFiles>"), "C:\\Program Files (x86)");
        EXPECT_EQ(ExpandText(ctx, "<ProgramFiles86>"), "C:\\Program Files (x86)");
        ctx.Is64 = true;
        EXPECT_EQ(ExpandText(ctx, "<ProgramFiles>"), "C:\\Program Files");
        EXPECT_EQ(ExpandText(ctx, "<ProgramFiles86>"), "C:\\Program Files (x86)");
    }
}

namespace {
// Sets (or, with nullptr, deletes) a value of the user's Shell Folders key for the
// test's lifetime and puts back what was there.
class ShellFolderValue {
  public:
    ShellFolderValue(const char* name, const char* value) : name_(name) {
        old_ = RegText(HKEY_CURRENT_USER, kShell, name, false, &had_);
        Set(value);
    }
    ~ShellFolderValue() { Set(had_ ? old_.c_str() : nullptr); }

  private:
    void Set(const char* value) {
        HKEY k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kShell, 0, KEY_SET_VALUE, &k), 0);
        if (value)
            RegSetValueExA(k, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           static_cast<DWORD>(strlen(value) + 1));
        else
            RegDeleteValueA(k, name_.c_str());
        RegCloseKey(k);
    }
    std::string name_, old_;
    bool had_ = false;
};
} // namespace

TEST(ExpandRegistry, FallbackValuesAndMissingValues) {
    RunContext ctx;
    for (bool view64 : {false, true}) {
        ctx.Is64 = view64;
        bool has = false;
        std::string w6432 = RegText(HKEY_LOCAL_MACHINE, kCV, "ProgramW6432Dir", view64, &has);
        EXPECT_EQ(ExpandText(ctx, "<ProgramFiles64>"),
                  has ? w6432 : RegText(HKEY_LOCAL_MACHINE, kCV, "ProgramFilesDir", view64));
    }
    ctx.Is64 = false;
    const std::string localAppData = RegText(HKEY_CURRENT_USER, kShell, "Local AppData", false);
    ASSERT_FALSE(localAppData.empty());
    {
        ShellFolderValue none("Local Settings", nullptr);
        EXPECT_EQ(ExpandText(ctx, "<LocalSettings>"), localAppData);
    }
    {
        ShellFolderValue set("Local Settings", "C:\\users\\x\\Local Settings\\");
        EXPECT_EQ(ExpandText(ctx, "<LocalSettings>"), "C:\\users\\x\\Local Settings");
    }
    {
        // A missing value is empty text, not an error: the name is replaced.
        ShellFolderValue none("My Music", nullptr);
        EXPECT_EQ(ExpandText(ctx, "[<MyMusic>]"), "[]");
    }
    const struct {
        const char* constant;
        HKEY root;
        const char* value;
    } cases[] = {
        {"<CommonTemplates>", HKEY_LOCAL_MACHINE, "Common Templates"},
        {"<MyPictures>", HKEY_CURRENT_USER, "My Pictures"},
        {"<MyMusic>", HKEY_CURRENT_USER, "My Music"},
        {"<CommonPictures>", HKEY_LOCAL_MACHINE, "CommonPictures"},
        {"<CommonMusic>", HKEY_LOCAL_MACHINE, "CommonMusic"},
        {"<CommonDocuments>", HKEY_LOCAL_MACHINE, "Common Documents"},
        {"<CommonMyDocuments>", HKEY_LOCAL_MACHINE, "Common Documents"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExpandText(ctx, c.constant), RegText(c.root, kShell, c.value, false))
            << c.constant;
}

TEST(ExpandSystem, ShellFoldersAndFoldersBuiltFromThem) {
    RunContext ctx;
    const struct {
        const char* constant;
        int csidl;
    } cases[] = {
        {"<FontsDir>", CSIDL_FONTS},
        {"<MyDocuments>", CSIDL_PERSONAL},
        {"<SentTo>", CSIDL_SENDTO},
        {"<Favorites>", CSIDL_FAVORITES},
        {"<CommonFavorites>", CSIDL_COMMON_FAVORITES},
        {"<Templates>", CSIDL_TEMPLATES},
        {"<AppData>", CSIDL_APPDATA},
        {"<Desktop>", CSIDL_DESKTOPDIRECTORY},
        {"<StartMenu>", CSIDL_STARTMENU},
        {"<ProgramsMenu>", CSIDL_PROGRAMS},
        {"<StartUp>", CSIDL_STARTUP},
        {"<CommonDesktop>", CSIDL_COMMON_DESKTOPDIRECTORY},
        {"<CommonStartMenu>", CSIDL_COMMON_STARTMENU},
        {"<CommonProgramsMenu>", CSIDL_COMMON_PROGRAMS},
        {"<CommonStartUp>", CSIDL_COMMON_STARTUP},
        {"<LocalAppData>", CSIDL_LOCAL_APPDATA},
        {"<CommonAppData>", CSIDL_COMMON_APPDATA},
    };
    for (const auto& c : cases) {
        std::string want = ShellPath(c.csidl);
        EXPECT_FALSE(want.empty()) << c.constant;
        EXPECT_EQ(ExpandText(ctx, c.constant), want) << c.constant;
    }
    char profile[MAX_PATH] = {}, user[256] = {};
    ASSERT_TRUE(GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile));
    EXPECT_TRUE(SameText(ExpandText(ctx, "<UserProfile>"), profile));
    DWORD n = sizeof user;
    ASSERT_TRUE(GetUserNameA(user, &n));
    EXPECT_TRUE(SameText(ExpandText(ctx, "<UserProfileName>"), user));
    std::string commonDesktop = ShellPath(CSIDL_COMMON_DESKTOPDIRECTORY);
    EXPECT_EQ(ExpandText(ctx, "<AllUserProfile>"),
              commonDesktop.substr(0, commonDesktop.rfind('\\')));
    EXPECT_EQ(ExpandText(ctx, "<QuickLaunch>"),
              ShellPath(CSIDL_APPDATA) + "\\Microsoft\\Internet Explorer\\Quick Launch");

    ctx.Wizard.ComboBox1 = "Demo Group";
    ctx.PerUser = true;
    EXPECT_EQ(ExpandText(ctx, "<ProgramGroup>"), ShellPath(CSIDL_PROGRAMS) + "\\Demo Group");
    ctx.PerUser = false;
    EXPECT_EQ(ExpandText(ctx, "<ProgramGroup>"), ShellPath(CSIDL_COMMON_PROGRAMS) + "\\Demo Group");
    ctx.Wizard.ComboBox1.clear();
    EXPECT_EQ(ExpandText(ctx, "<ProgramGroup>"), ShellPath(CSIDL_COMMON_PROGRAMS));
}

TEST(ExpandSystem, SystemFoldersDatesAndLanguageId) {
    ScratchDir temp;
    TempEnvironment env(temp.Path());
    RunContext ctx;
    char win[MAX_PATH], sys[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    GetSystemDirectoryA(sys, sizeof sys);
    EXPECT_EQ(ExpandText(ctx, "<WindowsDir>|<SystemDir>|<SystemDir64>|<SystemDrive>"),
              std::string(win) + "|" + sys + "|" + sys + "|" + std::string(win, 2));
    // The temporary folder comes with a trailing backslash from the system.
    EXPECT_EQ(ExpandText(ctx, "<TempDir>\\x"), temp.Path() + "\\x");
    EXPECT_EQ(ExpandText(ctx, "<SystemLngID>"), std::to_string(GetSystemDefaultLangID()));

    for (int attempt = 0; attempt < 2; ++attempt) { // in case midnight passes in between
        SYSTEMTIME t;
        GetLocalTime(&t);
        char compact[16], shortDate[128];
        std::snprintf(compact, sizeof compact, "%04u%02u%02u", t.wYear, t.wMonth, t.wDay);
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, shortDate,
                       sizeof shortDate);
        std::string got = ExpandText(ctx, "<FormatDate> <Date>");
        if (got == std::string(compact) + " " + shortDate) return;
    }
    ADD_FAILURE() << ExpandText(ctx, "<FormatDate> <Date>");
}

TEST(ExpandFields, InstallDirAndDrive) {
    RunContext ctx;
    EXPECT_EQ(ExpandText(ctx, "[<InstallDir>][<InstallDrive>]"), "[][C:]");
    ctx.Wizard.Edit1 = "D:\\Apps\\Demo\\";
    EXPECT_EQ(ExpandText(ctx, "<InstallDir>\\bin <installdrive>\\x"), "D:\\Apps\\Demo\\bin D:\\x");
    ctx.Wizard.Edit1 = "d:\\";
    EXPECT_EQ(ExpandText(ctx, "<InstallDir>|<InstallDrive>"), "d:|d:");
    // A field holding only a drive still names it; other text without a backslash
    // names no drive.
    ctx.Wizard.Edit1 = "D:";
    EXPECT_EQ(ExpandText(ctx, "<InstallDrive>\\x"), "D:\\x");
    ctx.Wizard.Edit1 = "Apps";
    EXPECT_EQ(ExpandText(ctx, "[<InstallDrive>]"), "[]");
    ctx.Wizard.Edit1 = "1:";
    EXPECT_EQ(ExpandText(ctx, "[<InstallDrive>]"), "[]");
    // Only one trailing backslash goes.
    ctx.Wizard.Edit1 = "C:\\a\\\\";
    EXPECT_EQ(ExpandText(ctx, "<InstallDir>"), "C:\\a\\");
}

TEST(ExpandFields, FieldsAreReadAtEachExpansion) {
    RunContext ctx;
    const std::string text = "<UserName>/<UserCompany>/<CustomUserInfo>/<Language>";
    EXPECT_EQ(ExpandText(ctx, text), "///");
    ctx.Wizard.EUser = "Ann";
    ctx.Wizard.ECompany = "Acme";
    ctx.Wizard.ECustomInfo = "42";
    ctx.Wizard.ComboLng = "English";
    EXPECT_EQ(ExpandText(ctx, text), "Ann/Acme/42/English");
}

TEST(ExpandFields, ValuesContainingNamesNeverLoop) {
    RunContext ctx;
    // Its own name in a value is not replaced again.
    ctx.Wizard.Edit1 = "x<InstallDir>y";
    EXPECT_EQ(ExpandText(ctx, "<InstallDir><INSTALLDIR>"), "x<InstallDir>yx<InstallDir>y");
    // A value is expanded by constants later in the table only.
    ctx.Wizard.EUser = "<CustomUserInfo>+<InstallDir>";
    ctx.Wizard.ECustomInfo = "info";
    EXPECT_EQ(ExpandText(ctx, "<UserName>"), "info+<InstallDir>");
    ctx.Wizard.EUser = "<";
    EXPECT_EQ(ExpandText(ctx, "<<UserName>>"), "<<>");
}

class ExpandConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFileBytes(dir / "qvsetup.ini", "[Setup]\r\n"
                                            "AppName=Demo <AppVersion>\r\n"
                                            "AppVersion=<AppName> 1.2\r\n"
                                            "CompanyName=Acme\r\n"
                                            "WebSite=http://example.test/\r\n"
                                            "BuildDate=2024-05-06\r\n"
                                            "GUID={0A1B}\r\n");
        WriteFileBytes(dir / "Englishqv.lng", "[Info]\r\nid=1033\r\nlng=en\r\n");
        ctx.Config = std::make_unique<TIniFile>(dir / "qvsetup.ini");
        ctx.SetupTempDir = dir / "QVTMP123";
        ctx.SetupFile = dir / "setup.exe";
    }
    ScratchDir dir;
    RunContext ctx;
};

TEST_F(ExpandConfig, SetupKeysAndRunFiles) {
    // AppName is stored text; only later constants (AppVersion) expand inside it.
    EXPECT_EQ(ConstantValue(ctx, "<appname>"), "Demo <AppVersion>");
    EXPECT_EQ(ExpandText(ctx, "<AppName>"), "Demo <AppName> 1.2");
    EXPECT_EQ(ExpandText(ctx, "<CompanyName>|<WebSite>|<SupportLink>|<BuildDate>|<GUID>"),
              "Acme|http://example.test/||2024-05-06|{0A1B}");
    EXPECT_EQ(ExpandText(ctx, "<SetupTempDir>\\qvsetup.ini"), dir / "QVTMP123\\qvsetup.ini");
    EXPECT_EQ(ExpandText(ctx, "<CurrentDir>|<SetupExe>|<SetupFile>"),
              dir.Path() + "|" + (dir / "setup.exe") + "|setup.exe");
}

TEST_F(ExpandConfig, ValuesThatCannotBeComputedLeaveTheName) {
    EXPECT_EQ(ExpandText(ctx, "<Lng>-<LngID>"), "<Lng>-<LngID>");
    ctx.Language = std::make_unique<TIniFile>(dir / "Englishqv.lng");
    EXPECT_EQ(ExpandText(ctx, "<Lng>-<LngID>"), "en-1033");
    ctx.Config.reset();
    EXPECT_EQ(ExpandText(ctx, "<AppName>@<GUID>@<Lng>"), "<AppName>@<GUID>@en");
    EXPECT_EQ(ConstantValue(ctx, "<AppName>"), "");
    EXPECT_EQ(ConstantValue(ctx, "<NoSuchConstant>"), "");
}

TEST(ExpandVariables, VariablesComeFirstAndInOrder) {
    RunContext ctx;
    ctx.Wizard.Edit1 = "C:\\Dest";
    ctx.UserVariables = {
        "<AppName>?Mine",          // redefines a constant
        "?ignored",                // no name
        "no separator",            // no name either
        "<Dir>?<InstallDir>\\sub", // value expanded by the constants
        "<Two>?a<#>b",             // line break produced by a value
        "<Self>?[<Self>]",         // its own name
        "<First>?<Second>",        // a later variable sees an earlier one's value
        "<Second>?2",
    };
    EXPECT_EQ(ExpandText(ctx, "<appname> <Dir> <Two>"), "Mine C:\\Dest\\sub a\r\nb");
    EXPECT_EQ(ExpandText(ctx, "<Self><self>"), "[<Self>][<Self>]");
    EXPECT_EQ(ExpandText(ctx, "<First>"), "2");
    EXPECT_EQ(ExpandText(ctx, "<UserNameVar>?"), "<UserNameVar>?");
}

TEST(ExpandEnvironment, OnlyTheFirstReferenceIsExpanded) {
    ASSERT_TRUE(SetEnvironmentVariableA("QV_EXPAND_ONE", "one"));
    ASSERT_TRUE(SetEnvironmentVariableA("QV_EXPAND_TWO", "two"));
    RunContext ctx;
    EXPECT_EQ(ExpandText(ctx, "<%qv_expand_one%>+<%QV_EXPAND_ONE%>+<%QV_EXPAND_TWO%>"),
              "one+one+<%QV_EXPAND_TWO%>");
    char path[32768];
    DWORD n = GetEnvironmentVariableA("PATH", path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(ExpandText(ctx, "<%PATH%>;<%TEMP%>"), std::string(path, n) + ";<%TEMP%>");
    // "%>" only before "<%": an empty name, found nowhere.
    EXPECT_EQ(ExpandText(ctx, "a%>b<%QV_EXPAND_ONE"), "a%>b<%QV_EXPAND_ONE");
    EXPECT_EQ(ExpandText(ctx, "[<%QV_EXPAND_UNSET%>]"), "[]");
    // A long value is not cut.
    std::string longValue(5000, 'v');
    ASSERT_TRUE(SetEnvironmentVariableA("QV_EXPAND_LONG", longValue.c_str()));
    EXPECT_EQ(ExpandText(ctx, "<%QV_EXPAND_LONG%><#>"), longValue + "\r\n");
}

TEST(ExpandVariables, WhatEachPassSeesInAVariablesValue) {
    ASSERT_TRUE(SetEnvironmentVariableA("QV_EXPAND_VAR", "env"));
    RunContext ctx;
    ctx.Wizard.EUser = "Ann";
    ctx.UserVariables = {
        "<Early>?early",
        "<Late>?<Early>|<Later>|<UserName>|<%QV_EXPAND_VAR%>|<#>",
        "<Later>?later",
    };
    // An earlier variable's name stays; a later one's, constants, the environment
    // reference and line breaks are all expanded.
    EXPECT_EQ(ExpandText(ctx, "<Late>"), "<Early>|later|Ann|env|\r\n");
    // A variable named like a constant hides it; one named like part of a name
    // replaces that part wherever it occurs.
    ctx.UserVariables = {"<UserName>?var", "Name>?N"};
    EXPECT_EQ(ExpandText(ctx, "<UserName>,<AppName>"), "var,<AppN");
}

TEST(ExpandHostile, MarkersAloneAndInsideEachOther) {
    ASSERT_TRUE(SetEnvironmentVariableA("QV_EXPAND_ONE", "one"));
    RunContext ctx;
    const struct {
        const char* text;
        const char* want;
    } cases[] = {
        {"", ""},
        {"<#><#>", "\r\n\r\n"},
        {"<<#>>", "<\r\n>"},
        {"<>", "<>"},
        // An empty reference is looked up with an empty name and removed.
        {"<%%>x<%%>", "x"},
        // "<%>" holds both markers, but nothing follows the opening one.
        {"<%>", "<%>"},
        {"%><%", "%><%"},
        // The environment pass comes before the line breaks.
        {"<%<#>%>!", "!"},
        // The name runs from the first "<%" to the first "%>" after it, whatever
        // it holds: these look up "QV_EXPAND_ONE%" and "<%QV_EXPAND_ONE", both unset.
        {"<%QV_EXPAND_ONE%%>", ""},
        {"<%<%QV_EXPAND_ONE%>", ""},
        {"<<<Date", "<<<Date"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExpandText(ctx, c.text), c.want) << c.text;
}

TEST(ExpandHostile, LongAndMultiplyingValuesStayBounded) {
    RunContext ctx;
    const std::string mib(size_t{1} << 20, 'v');
    ctx.UserVariables = {"<Big>?" + mib};
    // Long values are used in full...
    EXPECT_TRUE(ExpandText(ctx, "<Big>|<big>|<BIG>") == mib + "|" + mib + "|" + mib);
    // ...but a text that would pass 16 MiB keeps the name instead.
    std::string many;
    for (int i = 0; i < 17; ++i)
        many += "<Big>";
    EXPECT_EQ(ExpandText(ctx, many), many);
    ctx.UserVariables.clear();
    ctx.Wizard.Edit1 = mib;
    EXPECT_EQ(ExpandText(ctx, many + "<InstallDir>"), many + mib);
    std::string dirs;
    for (int i = 0; i < 17; ++i)
        dirs += "<InstallDir>";
    EXPECT_EQ(ExpandText(ctx, dirs), dirs);

    // Each variable's value names the next one twice: the text doubles with every
    // variable until the next doubling would pass the limit, and stops there.
    ctx.UserVariables.clear();
    for (int i = 0; i < 40; ++i)
        ctx.UserVariables.push_back("<V" + std::to_string(i) + ">?<V" + std::to_string(i + 1) +
                                    "><V" + std::to_string(i + 1) + ">");
    const std::string got = ExpandText(ctx, "<V0>");
    EXPECT_LE(got.size(), size_t{16} << 20);
    std::string want;
    for (int i = 0; i < (1 << 21); ++i)
        want += "<V21>";
    EXPECT_TRUE(got == want) << got.size();
}
