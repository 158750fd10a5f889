// User variables: registry values read by kind, root and view, defaults, the stop
// request, evaluation order and the second pass, and hostile registry data.
#include "SystemState.h"
#include "TestContext.h"
#include "TestSupport.h"
#include "run/RunContext.h"
#include "text/ExpandText.h"
#include "text/UserVariables.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string UniqueKey() {
    return UniqueName("Software\\QVTest-");
}

// A key created for one test in one root and view, deleted with everything in it.
class TestKey {
  public:
    TestKey(HKEY root, const std::string& path, REGSAM view = kRuntimeView)
        : root_(root), path_(path), view_(view) {
        ok_ = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                              &key_, nullptr) == ERROR_SUCCESS;
    }
    ~TestKey() {
        if (!ok_) return;
        RegCloseKey(key_);
        DeleteKeyTree(root_, path_, view_);
    }
    bool Ok() const { return ok_; }
    const std::string& Path() const { return path_; }
    void Set(const std::string& name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(RegSetValueExA(key_, name.c_str(), 0, type,
                                 reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }
    void Text(const std::string& name, const std::string& text) {
        Set(name, REG_SZ, std::string(text.c_str(), text.size() + 1));
    }
    void Number(const std::string& name, DWORD v) {
        Set(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&v), sizeof v));
    }

  private:
    HKEY root_;
    std::string path_;
    REGSAM view_;
    HKEY key_ = nullptr;
    bool ok_ = false;
};

class UserVariablesTest : public ::testing::Test {
  protected:
    ScratchDir temp;
    TempEnvironment env{temp.Path()};
    RecordingPrompt prompt;
    RunContext ctx;
    TestKey hkcu{HKEY_CURRENT_USER, UniqueKey()};

    void SetUp() override {
        ASSERT_TRUE(hkcu.Ok());
        ctx.Prompt = &prompt;
        ObserveRunEnd(ctx);
        ctx.ProductTitle = "Demo 1.0";
        ctx.SetupTempDir = temp / "QVTMP123";
        CreateDirectoryA(ctx.SetupTempDir.c_str(), nullptr);
        ctx.SetupTempDirCreated = true;
        Config("");
    }

    void Config(const std::string& variables) {
        UseConfig(ctx, ctx.SetupTempDir + "\\qvsetup.ini",
                  "[Setup]\r\nAppName=Demo\r\nAppVersion=1.0\r\n[Variables]\r\n" + variables);
    }

    // The value one record defines, or nothing.
    std::optional<std::string> Eval(const std::string& record) {
        ctx.UserVariables.clear();
        EvaluateVariable(ctx, record);
        if (ctx.UserVariables.empty()) return std::nullopt;
        EXPECT_EQ(ctx.UserVariables.size(), 1u) << record;
        const std::string& e = ctx.UserVariables[0];
        EXPECT_EQ(e.substr(0, e.find('?')), "<V>") << record;
        return e.substr(e.find('?') + 1);
    }

    std::string Rec(const std::string& key, const std::string& name, const std::string& kind,
                    const std::string& def, const std::string& view = "DEFAULT") {
        return "<V>*?" + key + "*?" + name + "*?" + kind + "*?" + def + "*?" + view;
    }
};

TEST_F(UserVariablesTest, ReadsByKindWithDefaultsForMissingOrWrongValues) {
    hkcu.Text("Dir", "C:\\Old App");
    hkcu.Number("One", 1);
    hkcu.Number("Neg", 0xFFFFFFFF);
    hkcu.Text("NumText", "7");
    hkcu.Text("", "key default");
    const std::string k = "HKCU\\" + hkcu.Path();
    struct Case {
        std::string record;
        std::optional<std::string> value;
    } cases[] = {
        {Rec(k, "Dir", "STRING", "none"), "C:\\Old App"},
        {Rec(k, "Dir", "string", "none"), "C:\\Old App"},
        {Rec(k, "One", "DWORD", "none"), "1"},
        {Rec(k, "Neg", "Integer", "none"), "-1"},
        {Rec(k, "", "STRING", "none"), "key default"},
        // Wrong kind, missing value, missing key: the default, expanded.
        {Rec(k, "NumText", "DWORD", "d"), "d"},
        {Rec(k, "One", "STRING", "d"), "d"},
        {Rec(k, "Missing", "STRING", "<AppName> x<#>y"), "Demo x\r\ny"},
        {Rec(k + "\\Nope", "Dir", "STRING", "d"), "d"},
        {Rec(k, "Missing", "STRING", ""), ""},
        // Six fields exactly, else nothing.
        {"<V>*?" + k + "*?Dir*?STRING*?d", std::nullopt},
        {Rec(k, "Dir", "STRING", "d") + "*?extra", std::nullopt},
        {"", std::nullopt},
        // Roots: known ones in any case; anything else, or no backslash, defines nothing.
        {Rec("HKEY_CURRENT_USER\\" + hkcu.Path(), "Dir", "STRING", "d"), "C:\\Old App"},
        {Rec("hkey_current_user\\" + hkcu.Path(), "Dir", "STRING", "d"), "C:\\Old App"},
        {Rec("hkcu\\" + hkcu.Path(), "Dir", "STRING", "d"), "C:\\Old App"},
        {Rec("HKCC\\" + hkcu.Path(), "Dir", "STRING", "d"), std::nullopt},
        {Rec("HKCU", "Dir", "STRING", "d"), std::nullopt},
        {Rec("\\HKCU\\" + hkcu.Path(), "Dir", "STRING", "d"), std::nullopt},
        // An unknown root never stops the run, even with a stop request as default.
        {Rec("HKXX\\x", "Dir", "STRING", "HALT(stop)"), std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Eval(c.record), c.value) << c.record;
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(UserVariablesTest, EachRootFormReachesItsHive) {
    const std::string path = UniqueKey();
    struct Root {
        HKEY hive;
        std::string prefix, shortName, longName;
    } roots[] = {
        {HKEY_CLASSES_ROOT, "", "HKCR", "HKEY_CLASSES_ROOT"},
        {HKEY_CURRENT_USER, "", "HKCU", "HKEY_CURRENT_USER"},
        {HKEY_LOCAL_MACHINE, "", "hklm", "HKEY_LOCAL_MACHINE"},
        {HKEY_USERS, ".DEFAULT\\", "HKU", "hkey_users"},
    };
    for (const Root& r : roots) {
        TestKey key(r.hive, r.prefix + path);
        if (!key.Ok()) {
            ADD_FAILURE() << "cannot create a test key below " << r.longName;
            continue;
        }
        key.Text("Where", r.longName);
        for (const std::string& name : {r.shortName, r.longName})
            EXPECT_EQ(Eval(Rec(name + "\\" + r.prefix + path, "Where", "STRING", "d")), r.longName)
                << name;
    }
}

TEST_F(UserVariablesTest, ViewFieldChoosesTheRegistryView) {
    if (!SixtyFourBitWindows()) GTEST_SKIP() << "one registry view only on 32-bit Windows";
    const std::string path = UniqueKey();
    TestKey k32(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
    TestKey k64(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
    if (!k32.Ok() || !k64.Ok()) GTEST_SKIP() << "no write access to the local machine";
    k32.Text("View", "v32");
    k64.Text("View", "v64");
    struct Case {
        bool is64;
        std::string view, value;
    } cases[] = {
        {false, "DEFAULT", "v32"},
        {true, "DEFAULT", "v64"},
        {true, "default", "v64"},
        {true, "32-BIT", "v32"},
        {true, "32-bit", "v32"},
        {false, "64-BIT", "v64"},
        {false, "64-bit", "v64"},
        {false, "32-BIT", "v32"},
        // Any other view: full access in the process's own view, whatever the setup says.
        {true, "OTHER", "v32"},
        {false, "NATIVE", "v32"},
    };
    for (const Case& c : cases) {
        ctx.Is64 = c.is64;
        EXPECT_EQ(Eval(Rec("HKLM\\" + path, "View", "STRING", "d", c.view)), c.value)
            << c.view << " 64-bit setup " << c.is64;
    }
}

TEST_F(UserVariablesTest, StopRequestEndsTheRunLikeQuit) {
    const std::string k = "HKCU\\" + hkcu.Path();
    struct Case {
        bool silent;
        std::string def, message;
    } cases[] = {
        {false, "HALT(Please install <AppName> first.)", "Please install Demo first."},
        {false, "halt(Line one<#>two)", "Line one\r\ntwo"},
        // The last character is dropped whatever it is.
        {false, "HALT(abcd", "abc"},
        {true, "HALT(Not shown)", ""},
    };
    for (const Case& c : cases) {
        SetUp();
        prompt.boxes.clear();
        ctx.Silent = c.silent;
        Config("1=" + Rec(k, "Missing", "STRING", c.def) +
               "\r\n2=" + Rec(k, "Missing", "STRING", "later") + "\r\n");
        EXPECT_EQ(EndCodeOf([&] { EvaluateVariables(ctx); }), 0u) << c.def;
        EXPECT_TRUE(ctx.UserVariables.empty()) << c.def;
        EXPECT_FALSE(ctx.Config) << c.def;
        EXPECT_FALSE(PathExists(ctx.SetupTempDir)) << c.def;
        if (c.silent) {
            EXPECT_TRUE(prompt.boxes.empty());
            continue;
        }
        ASSERT_EQ(prompt.boxes.size(), 1u) << c.def;
        EXPECT_EQ(prompt.boxes[0].owner, nullptr);
        EXPECT_EQ(prompt.boxes[0].text, c.message);
        EXPECT_EQ(prompt.boxes[0].caption, "Demo 1.0");
        EXPECT_EQ(prompt.boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    }
}

TEST_F(UserVariablesTest, StopRequestIgnoredWhenTheValueIsReadOrTooShort) {
    hkcu.Text("Dir", "C:\\App");
    hkcu.Text("Stored", "HALT(stored)");
    const std::string k = "HKCU\\" + hkcu.Path();
    struct Case {
        std::string name, def, value;
    } cases[] = {
        {"Dir", "HALT(missing)", "C:\\App"},
        // A value read from the registry is never a stop request, whatever it says.
        {"Stored", "HALT(missing)", "HALT(stored)"},
        {"Missing", "HALT()", "HALT()"},
        {"Missing", "HALT)x", "HALT)x"},
        {"Missing", "XHALT(no)", "XHALT(no)"},
    };
    for (const Case& c : cases) {
        std::optional<std::string> v;
        EXPECT_EQ(EndCodeOf([&] { v = Eval(Rec(k, c.name, "STRING", c.def)); }), std::nullopt);
        EXPECT_EQ(v, c.value) << c.def;
    }
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(UserVariablesTest, LaterVariablesBuildOnEarlierOnesInFileOrder) {
    TestKey sub(HKEY_CURRENT_USER, hkcu.Path() + "\\Sub");
    ASSERT_TRUE(sub.Ok());
    hkcu.Text("Next", "Sub");
    sub.Text("Leaf", "found");
    sub.Number("Count", 42);
    // Key names are not interpreted: the order is the file's.
    Config("z=<Base>*?HKCU\\x*?y*?STRING*?" + hkcu.Path() +
           "*?DEFAULT\r\n"
           "a=<Next>*?HKCU\\<Base>*?Next*?STRING*?none*?DEFAULT\r\n"
           "m=<Leaf>*?HKCU\\<Base>\\<Next>*?Leaf*?STRING*?none*?DEFAULT\r\n"
           "b=<Num>*?HKCU\\<Base>\\<Next>*?Count*?DWORD*?<Leaf>-default*?DEFAULT\r\n"
           "c=<Broken>*?HKCU\\<Base>*?Next*?STRING*?none\r\n"
           "d=<Odd?Name>*?HKCU\\<Base>*?Next*?STRING*?none*?DEFAULT\r\n"
           "e=<Def>*?HKCU\\<Base>*?Gone*?STRING*?<Leaf>/<Num>/<Broken>*?DEFAULT\r\n");
    EvaluateVariables(ctx);
    EXPECT_EQ(ctx.UserVariables,
              (std::vector<std::string>{"<Base>?" + hkcu.Path(), "<Next>?Sub", "<Leaf>?found",
                                        "<Num>?42", "<Def>?found/42/<Broken>"}));
    EXPECT_EQ(ExpandText(ctx, "<leaf> <Num> <Odd"), "found 42 <Odd");
}

TEST_F(UserVariablesTest, SecondPassSeesTheChangedRegistry) {
    const std::string k = "HKCU\\" + hkcu.Path();
    Config("1=<Port>*?" + k +
           "*?Port*?DWORD*?80*?DEFAULT\r\n"
           "2=<Dir>*?" +
           k + "*?Dir*?STRING*?HALT(gone)*?DEFAULT\r\n");
    hkcu.Text("Dir", "C:\\First");
    EvaluateVariables(ctx);
    EXPECT_EQ(ctx.UserVariables, (std::vector<std::string>{"<Port>?80", "<Dir>?C:\\First"}));

    // What a start-up command changes in between.
    hkcu.Number("Port", 8080);
    hkcu.Text("Dir", "C:\\Second");
    ctx.UserVariables.clear();
    EvaluateVariables(ctx);
    EXPECT_EQ(ctx.UserVariables, (std::vector<std::string>{"<Port>?8080", "<Dir>?C:\\Second"}));

    // A value removed in between now stops the run.
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_CURRENT_USER, hkcu.Path().c_str(), "Dir"), ERROR_SUCCESS);
    ctx.UserVariables.clear();
    ctx.Silent = true;
    EXPECT_EQ(EndCodeOf([&] { EvaluateVariables(ctx); }), 0u);
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(UserVariablesTest, HostileRegistryDataGivesDefinedResults) {
    const std::string huge = RandomBytes(1 << 20, 7);
    std::string hugeText = huge;
    for (char& c : hugeText)
        c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
    hkcu.Text("Huge", hugeText);
    hkcu.Set("Binary", REG_BINARY, huge.substr(0, 4096));
    hkcu.Set("Four", REG_BINARY, std::string("\x01\0\0\0", 4));
    hkcu.Set("Qword", REG_QWORD, std::string("\x05\0\0\0\0\0\0\0", 8));
    hkcu.Set("ShortDword", REG_DWORD, std::string("\x05\0", 2));
    hkcu.Set("Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
    hkcu.Set("Embedded", REG_SZ, std::string("left\0right\0", 11));
    hkcu.Set("Unterminated", REG_SZ, "abc");
    hkcu.Set("Empty", REG_SZ, "");
    const std::string k = "HKCU\\" + hkcu.Path();
    struct Case {
        std::string name, kind, value;
    } cases[] = {
        {"Binary", "STRING", "d"},      {"Four", "DWORD", "d"},
        {"Qword", "DWORD", "d"},        {"ShortDword", "DWORD", "d"},
        {"Multi", "STRING", "d"},       {"Binary", "DWORD", "d"},
        {"Embedded", "STRING", "left"}, {"Unterminated", "STRING", "abc"},
        {"Empty", "STRING", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Eval(Rec(k, c.name, c.kind, "d")), c.value) << c.name;

    std::optional<std::string> v = Eval(Rec(k, "Huge", "STRING", "d"));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->size(), hugeText.size());
    EXPECT_TRUE(*v == hugeText);
    // A key path far beyond what the registry accepts opens nothing: the default.
    EXPECT_EQ(Eval(Rec(k + "\\" + std::string(5000, 'k'), "Huge", "STRING", "d")), "d");
}

TEST_F(UserVariablesTest, DegenerateRecordsGiveDefinedResults) {
    hkcu.Text("Dir", "C:\\App");
    hkcu.Text("Empty", "");
    const std::string k = "HKCU\\" + hkcu.Path();
    // Separators only, or fields too empty to name a root: nothing is defined.
    for (const std::string& record :
         {std::string("*?*?*?*?*?"), std::string("*?*?*?*?*?*?"), std::string("*?*?*?*?*?x"),
          std::string(4096, '*'), std::string(4096, '?'), Rec("\\\\\\", "Dir", "STRING", "d"),
          Rec("", "Dir", "STRING", "HALT(no root)")}) {
        ctx.UserVariables.clear();
        EXPECT_EQ(EndCodeOf([&] { EvaluateVariable(ctx, record); }), std::nullopt);
        EXPECT_TRUE(ctx.UserVariables.empty()) << record.substr(0, 40);
    }
    struct Case {
        std::string record;
        std::optional<std::string> value;
    } cases[] = {
        // A root with nothing after it opens the root itself.
        {Rec("HKCU\\", "QVNoSuchValue", "STRING", "d"), "d"},
        // A view of no known kind still reads where the user may write.
        {Rec(k, "Dir", "STRING", "d", "???"), "C:\\App"},
        {Rec(k, std::string(100000, 'n'), "STRING", "d"), "d"},
        // A found empty value is a value: no stop.
        {Rec(k, "Empty", "STRING", "HALT(not empty)"), ""},
        // A default naming the variable itself is taken as written, and expanding
        // it later does not loop.
        {Rec(k, "Missing", "STRING", "[<V>]"), "[<V>]"},
    };
    for (const Case& c : cases) {
        std::optional<std::string> v;
        EXPECT_EQ(EndCodeOf([&] { v = Eval(c.record); }), std::nullopt);
        EXPECT_EQ(v, c.value) << c.record.substr(0, 60);
    }
    EXPECT_EQ(ExpandText(ctx, "<V>"), "[<V>]");

    // A record without a name still adds its entry, which expansion passes over.
    ctx.UserVariables.clear();
    EvaluateVariable(ctx, "*?" + k + "*?Dir*?STRING*?d*?DEFAULT");
    EXPECT_EQ(ctx.UserVariables, std::vector<std::string>{"?C:\\App"});
    EXPECT_EQ(ExpandText(ctx, "?C:"), "?C:");
    EXPECT_TRUE(prompt.boxes.empty());

    // The stop rule looks at the expanded default, so an earlier variable can hold
    // the request.
    ctx.UserVariables = {"<Stop>?HALT(from a variable)"};
    EXPECT_EQ(EndCodeOf([&] { EvaluateVariable(ctx, Rec(k, "Missing", "STRING", "<Stop>")); }), 0u);
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].text, "from a variable");
}

} // namespace
