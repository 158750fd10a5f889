// Choosing and applying a language file, reading texts with fallbacks, FormatText, and
// the end of a run without any language file.
#include "TestContext.h"
#include "TestSupport.h"
#include "run/RunContext.h"
#include "text/Language.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

const std::string kSystemId = std::to_string(GetSystemDefaultLangID());

class LanguageTest : public ::testing::Test {
  protected:
    LanguageTest() {
        ctx_.SetupTempDir = dir_.Path();
        ctx_.Prompt = &prompt_;
        ObserveRunEnd(ctx_);
    }
    void Config(const std::string& text) { UseConfig(ctx_, dir_ / "qvsetup.ini", text); }
    // A language file whose title names the language and whose [Info] id is given.
    void Lang(const std::string& name, const std::string& id) {
        WriteFileBytes(dir_ / (name + "qv.lng"),
                       "[Info]\r\nid=" + id + "\r\n[Title]\r\n0=" + name + " title\r\n");
    }
    uint32_t EndCode() {
        return EndCodeOf([&] { ChooseLanguage(ctx_); }).value_or(0xFFFFFFFF);
    }
    ScratchDir temp_; // the user's temporary folder during the test
    TempEnvironment env_{temp_.Path()};
    ScratchDir dir_; // the setup temp folder
    RecordingPrompt prompt_;
    RunContext ctx_;
};

TEST_F(LanguageTest, ListingKeepsDirectoryOrderAndSkipsNonFiles) {
    for (const char* n : {"Zulu", "English", "Alpha", "German"})
        Lang(n, "1");
    CreateDirectoryA((dir_ / "Folderqv.lng").c_str(), nullptr);
    WriteFileBytes(dir_ / "Otherqv.lngx", "x");
    WriteFileBytes(dir_ / "readme.txt", "x");

    std::vector<std::string> expected;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir_ / "*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    do {
        std::string f = fd.cFileName;
        if (f.size() > 6 && f.substr(f.size() - 6) == "qv.lng" && f != "Folderqv.lng")
            expected.push_back(f.substr(0, f.size() - 6));
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    EXPECT_EQ(expected.size(), 4u);
    EXPECT_EQ(ListLanguages(dir_.Path()), expected);
}

TEST_F(LanguageTest, NoLanguageFileFailsWithCode4) {
    Config("[Setup]\r\n");
    EXPECT_EQ(EndCode(), 4u);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "The setup file is corrupt.\r\n\r\nError code: 4");
    EXPECT_EQ(prompt_.boxes[0].caption, "Error");
    EXPECT_EQ(prompt_.boxes[0].owner, nullptr);
    EXPECT_TRUE(prompt_.boxes[0].type & MB_ICONERROR);
    EXPECT_FALSE(ctx_.Config); // released before the end
}

TEST_F(LanguageTest, NoLanguageFileSilentShowsNoBox) {
    ctx_.Silent = true;
    WriteFileBytes(dir_ / "qv.lngx", "not a language");
    EXPECT_EQ(EndCode(), 4u);
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(LanguageTest, DefaultLanguageIgnoresCase) {
    Lang("German", "1031");
    Lang("English", "1033");
    Lang("French", "1036");
    Config("[Setup]\r\nDefaultLanguage=english\r\n");
    ChooseLanguage(ctx_);
    EXPECT_EQ(ctx_.Wizard.ComboLng, "English");
    EXPECT_EQ(ctx_.Lang.Languages[ctx_.Lang.LanguageIndex], "English");
    EXPECT_EQ(ctx_.Lang.TitleCaption, "English title");

    // Without the key the default is "English" too.
    Config("[Setup]\r\n");
    ChooseLanguage(ctx_);
    EXPECT_EQ(ctx_.Wizard.ComboLng, "English");
}

TEST_F(LanguageTest, NothingSelectedTakesTheFirstEntry) {
    Lang("German", "1031");
    Lang("French", "1036");
    Config("[Setup]\r\nDefaultLanguage=Klingon\r\n");
    ChooseLanguage(ctx_);
    ASSERT_EQ(ctx_.Lang.LanguageIndex, 0);
    EXPECT_EQ(ctx_.Wizard.ComboLng, ctx_.Lang.Languages[0]);
    ASSERT_TRUE(ctx_.Language);
    EXPECT_EQ(ctx_.Language->Path(), dir_ / (ctx_.Lang.Languages[0] + "qv.lng"));
    EXPECT_EQ(ctx_.Lang.TitleCaption, ctx_.Lang.Languages[0] + " title");
}

TEST_F(LanguageTest, AutoDetectLastMatchWins) {
    Lang("One", kSystemId);
    Lang("Two", "0" + kSystemId); // compared as text: no match
    Lang("Three", kSystemId);
    Lang("English", "1");
    Config("[Setup]\r\nDefaultLanguage=English\r\nAutoDetectLanguage=1\r\n");
    ChooseLanguage(ctx_);
    std::string last;
    for (const std::string& n : ctx_.Lang.Languages)
        if (n == "One" || n == "Three") last = n;
    EXPECT_EQ(ctx_.Wizard.ComboLng, last);

    Config("[Setup]\r\nDefaultLanguage=English\r\nAutoDetectLanguage=0\r\n");
    ChooseLanguage(ctx_);
    EXPECT_EQ(ctx_.Wizard.ComboLng, "English");
}

TEST_F(LanguageTest, UnreadableFilesArePassedOver) {
    Lang("One", kSystemId);
    Lang("Two", kSystemId);
    std::vector<std::string> order = ListLanguages(dir_.Path());
    ASSERT_EQ(order.size(), 2u);
    // Lock the file automatic detection would pick; the other one matches instead.
    HANDLE lock = CreateFileA((dir_ / (order[1] + "qv.lng")).c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    Config("[Setup]\r\nDefaultLanguage=" + order[1] + "\r\nAutoDetectLanguage=1\r\n");
    ChooseLanguage(ctx_);
    EXPECT_EQ(ctx_.Wizard.ComboLng, order[0]); // also over the default language, which is locked

    // With every file unreadable the run cannot go on.
    HANDLE lock2 = CreateFileA((dir_ / (order[0] + "qv.lng")).c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock2, INVALID_HANDLE_VALUE);
    ctx_.Silent = true;
    EXPECT_EQ(EndCode(), 4u);
    CloseHandle(lock);
    CloseHandle(lock2);
}

TEST_F(LanguageTest, ApplySetsCaptionsAndSwitchesLanguage) {
    WriteFileBytes(dir_ / "Englishqv.lng",
                   "[Title]\r\n0=<AppName> <AppVersion> Installation\r\n"
                   "[Language]\r\n0=Welcome to <AppName><#>Setup\r\n1=Select:\r\n"
                   "[Buttons]\r\n0=< &Back <AppName>\r\n1=&Next >\r\n2=Cancel\r\n"
                   "[ShortcutsFolder]\r\n6=Associate the program with file type(s): %s\r\n");
    WriteFileBytes(dir_ / "Germanqv.lng", "[Title]\r\n0=<AppName> Installation\r\n"
                                          "[Buttons]\r\n2=Abbrechen\r\n");
    Config("[Setup]\r\nAppName=Demo\r\nAppVersion=1.2\r\n"
           "[Extensions]\r\n0=txt*?Demo.File*?x.exe*?Text*?\r\n1=doc*?Demo.Doc\r\n");
    ChooseLanguage(ctx_);
    ASSERT_EQ(ctx_.Wizard.ComboLng, "English");
    EXPECT_EQ(ctx_.Lang.TitleCaption, "Demo 1.2 Installation");
    EXPECT_EQ(ctx_.Lang.LanguageLabel1, "Welcome to Demo\r\nSetup");
    EXPECT_EQ(ctx_.Lang.LanguageLabel2, "Select:");
    EXPECT_EQ(ctx_.Lang.BtnBackCaption, "< &Back <AppName>"); // buttons are not expanded
    EXPECT_EQ(ctx_.Lang.BtnNextCaption, "&Next >");
    EXPECT_EQ(ctx_.Lang.BtnCancelCaption, "Cancel");
    EXPECT_EQ(ctx_.Lang.AssociateCaption, "Associate the program with file type(s):  .txt .doc");
    EXPECT_TRUE(ctx_.Lang.ShowAssociate);
    EXPECT_TRUE(ctx_.Wizard.CheckAssociate);

    int german = ctx_.Lang.Languages[0] == "German" ? 0 : 1;
    SelectLanguage(ctx_, german);
    EXPECT_EQ(ctx_.Wizard.ComboLng, "German");
    EXPECT_EQ(ctx_.Lang.TitleCaption, "Demo Installation");
    EXPECT_EQ(ctx_.Lang.BtnBackCaption, "");
    EXPECT_EQ(ctx_.Lang.BtnCancelCaption, "Abbrechen");
    SelectLanguage(ctx_, 5); // outside the list: nothing changes
    EXPECT_EQ(ctx_.Wizard.ComboLng, "German");
}

TEST_F(LanguageTest, TextsAndFallbacks) {
    EXPECT_EQ(LanguageText(ctx_, "Install", 2), "Installing files..."); // no file applied yet
    WriteFileBytes(dir_ / "Xqv.lng", "[Install]\r\n3=Links...\r\n5=\r\n[Messages]\r\n1=Sure?\r\n");
    ApplyLanguage(ctx_, dir_ / "Xqv.lng");
    EXPECT_EQ(LanguageText(ctx_, "install", 2), "Installing files...");
    EXPECT_EQ(LanguageText(ctx_, "Install", 3), "Links...");
    EXPECT_EQ(LanguageText(ctx_, "Install", 5), ""); // present, though empty
    EXPECT_EQ(LanguageText(ctx_, "Install", 10), "Finishing setup...");
    EXPECT_EQ(LanguageText(ctx_, "Install", 7), ""); // no fallback
    EXPECT_EQ(LanguageText(ctx_, "Messages", 1), "Sure?");
    EXPECT_EQ(LanguageText(ctx_, "Messages", 17), "Error creating registry key:");
    EXPECT_EQ(LanguageText(ctx_, "Messages", 19), "");
    std::string newer = FormatText(LanguageText(ctx_, "Messages", 30), "Demo 2.0", "1.5");
    EXPECT_NE(newer.find("Demo 2.0"), std::string::npos);
    EXPECT_GT(newer.find("1.5"), newer.find("Demo 2.0"));
    EXPECT_NE(newer.find("\r\n\r\n"), std::string::npos);
}

TEST_F(LanguageTest, EveryReadSeesTheFileAsItIsNow) {
    WriteFileBytes(dir_ / "Englishqv.lng", "[Readme]\r\n0=Readme Information\r\n");
    ApplyLanguage(ctx_, dir_ / "Englishqv.lng");
    EXPECT_EQ(LanguageText(ctx_, "Readme", 0), "Readme Information");
    EXPECT_EQ(LanguageText(ctx_, "Install", 4), "Creating registry entries...");
    // Rewritten during the run (a start-up command unpacking newer texts, say).
    WriteFileBytes(dir_ / "Englishqv.lng",
                   "[Readme]\r\n0=Read me first\r\n[Install]\r\n4=Registry...\r\n");
    EXPECT_EQ(LanguageText(ctx_, "Readme", 0), "Read me first");
    EXPECT_EQ(LanguageText(ctx_, "Install", 4), "Registry...");
    DeleteFileA((dir_ / "Englishqv.lng").c_str());
    EXPECT_EQ(LanguageText(ctx_, "Readme", 0), "");
    EXPECT_EQ(LanguageText(ctx_, "Install", 4), "Creating registry entries...");
}

TEST(FormatText, ArgumentsPercentsAndLineBreaks) {
    EXPECT_EQ(FormatText("Drive %s is full.<#><#>Go on?", "C:"), "Drive C: is full.\r\n\r\nGo on?");
    EXPECT_EQ(FormatText("100%% of %s", "x"), "100% of x");
    EXPECT_EQ(FormatText("%d %n %", "x"), "%d %n %"); // other directives stay as they stand
    EXPECT_EQ(FormatText("%s and %s", "a"), "a and ");
    EXPECT_EQ(FormatText("[%s]", "%s<#>k"), "[%s\r\nk]"); // not formatted again; <#> breaks
    EXPECT_EQ(FormatText("%s is newer than %s", "A 2", "1"), "A 2 is newer than 1");
    EXPECT_EQ(FormatText("no argument", "x"), "no argument");
}

TEST_F(LanguageTest, BuiltInFallbacksAreExactlyTheseTexts) {
    WriteFileBytes(dir_ / "Emptyqv.lng", "[Info]\r\nid=1033\r\nlng=en\r\n");
    ApplyLanguage(ctx_, dir_ / "Emptyqv.lng");
    struct Expected {
        const char* section;
        int index;
        const char* text;
    } fallbacks[] = {
        {"Install", 2, "Installing files..."},
        {"Install", 3, "Creating shortcuts..."},
        {"Install", 4, "Creating registry entries..."},
        {"Install", 5, "Modifying INI files..."},
        {"Install", 6, "Creating associations..."},
        {"Install", 10, "Finishing setup..."},
        {"Messages", 13, "Error creating directory:"},
        {"Messages", 14, "Error creating file:"},
        {"Messages", 16, "Error creating shortcut:"},
        {"Messages", 17, "Error creating registry key:"},
        {"Messages", 18, "Error creating registry value:"},
        {"Messages", 20, "Error creating association for:"},
    };
    for (const Expected& e : fallbacks) {
        EXPECT_EQ(LanguageText(ctx_, e.section, e.index), e.text) << e.section << " " << e.index;
        EXPECT_EQ(LanguageTextFallback(e.section, e.index), e.text);
    }
    // Every other text the runtime reads is empty when the file lacks it.
    for (int i : {0, 1, 7, 8, 9, 11})
        EXPECT_EQ(LanguageText(ctx_, "Install", i), "") << "Install " << i;
    for (int i = 0; i <= 29; ++i) {
        if (i == 13 || i == 14 || (i >= 16 && i <= 18) || i == 20) continue;
        EXPECT_EQ(LanguageText(ctx_, "Messages", i), "") << "Messages " << i;
    }
    for (const char* section : {"Title", "Buttons", "Language", "Welcome", "LicenseAgreement",
                                "Readme", "UserInformation", "DestinationFolder", "ShortcutsFolder",
                                "ReadyToInstall", "Setup", "SetupComplete", "Uninstall", "Updater"})
        for (int i = 0; i <= 11; ++i)
            EXPECT_EQ(LanguageText(ctx_, section, i), "") << section << " " << i;

    // The file's own text wins over the fallback, even an empty one.
    WriteFileBytes(dir_ / "Ownqv.lng", "[Messages]\r\n13=Ordner:\r\n14=\r\n");
    ApplyLanguage(ctx_, dir_ / "Ownqv.lng");
    EXPECT_EQ(LanguageText(ctx_, "Messages", 13), "Ordner:");
    EXPECT_EQ(LanguageText(ctx_, "Messages", 14), "");
    EXPECT_EQ(LanguageText(ctx_, "Messages", 16), "Error creating shortcut:");
}

TEST_F(LanguageTest, HostileLanguageFilesGiveDefinedTexts) {
    // A value far beyond the limit is cut to 2047 characters.
    const std::string huge(100000, 'w');
    WriteFileBytes(dir_ / "Hugeqv.lng", "[Title]\r\n0=" + huge + "\r\n[Buttons]\r\n1=" + huge +
                                            "%s\r\n[Install]\r\n2=" + huge + "\r\n");
    ApplyLanguage(ctx_, dir_ / "Hugeqv.lng");
    EXPECT_EQ(ctx_.Lang.TitleCaption, huge.substr(0, 2047));
    EXPECT_EQ(ctx_.Lang.BtnNextCaption, huge.substr(0, 2047));
    EXPECT_EQ(LanguageText(ctx_, "Install", 2), huge.substr(0, 2047));
    EXPECT_EQ(FormatText(LanguageText(ctx_, "Buttons", 1), huge).size(), 2047u);

    // Binary rubbish: no section is recognised, so every text is empty or its fallback.
    std::string rubbish;
    for (int i = 0; i < 4096; ++i)
        rubbish += static_cast<char>((i * 7919) & 0xFF);
    WriteFileBytes(dir_ / "Rubbishqv.lng", rubbish);
    ApplyLanguage(ctx_, dir_ / "Rubbishqv.lng");
    EXPECT_EQ(ctx_.Lang.TitleCaption, "");
    EXPECT_EQ(ctx_.Lang.BtnCancelCaption, "");
    EXPECT_EQ(LanguageText(ctx_, "Install", 10), "Finishing setup...");

    // A file of UTF-16 text with its byte-order mark is read by the profile functions
    // and handed over in the system code page.
    const std::string ascii = "[Title]\r\n0=<AppName> Setup\r\n[Buttons]\r\n2=Quit\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : ascii) {
        utf16 += c;
        utf16 += '\0';
    }
    WriteFileBytes(dir_ / "Wideqv.lng", utf16);
    Config("[Setup]\r\nAppName=Demo\r\n");
    ApplyLanguage(ctx_, dir_ / "Wideqv.lng");
    EXPECT_EQ(ctx_.Lang.TitleCaption, "Demo Setup");
    EXPECT_EQ(ctx_.Lang.BtnCancelCaption, "Quit");

    // Sections missing altogether, and texts that only look like directives.
    WriteFileBytes(dir_ / "Oddqv.lng", "[Buttons]\r\n0=100%\r\n[ShortcutsFolder]\r\n6=%d%%%s%\r\n");
    Config("[Setup]\r\n[Extensions]\r\n0=txt*?T\r\n");
    ApplyLanguage(ctx_, dir_ / "Oddqv.lng");
    EXPECT_EQ(ctx_.Lang.BtnBackCaption, "100%");
    EXPECT_EQ(ctx_.Lang.LanguageLabel1, "");
    EXPECT_EQ(ctx_.Lang.AssociateCaption, "%d% .txt%");
}

TEST_F(LanguageTest, FileNamedOnlyBySuffixAndFilesWithoutInfo) {
    // "qv.lng" alone is a language whose name is empty.
    WriteFileBytes(dir_ / "qv.lng", "[Title]\r\n0=Nameless\r\n");
    Config("[Setup]\r\nDefaultLanguage=\r\nAutoDetectLanguage=1\r\n");
    ChooseLanguage(ctx_);
    ASSERT_EQ(ctx_.Lang.Languages, std::vector<std::string>{""});
    EXPECT_EQ(ctx_.Wizard.ComboLng, "");
    EXPECT_EQ(ctx_.Lang.TitleCaption, "Nameless");

    // No [Info] in any file: automatic detection matches nothing and the default stands.
    WriteFileBytes(dir_ / "Englishqv.lng", "[Title]\r\n0=English\r\n");
    WriteFileBytes(dir_ / "Germanqv.lng", "[Title]\r\n0=Deutsch\r\n[Info]\r\nid=\r\n");
    Config("[Setup]\r\nDefaultLanguage=ENGLISH\r\nAutoDetectLanguage=1\r\n");
    ChooseLanguage(ctx_);
    EXPECT_EQ(ctx_.Lang.Languages.size(), 3u);
    EXPECT_EQ(ctx_.Wizard.ComboLng, "English");
    EXPECT_EQ(ctx_.Lang.TitleCaption, "English");
}

TEST(FormatText, HugeArgumentsAndEveryPercentForm) {
    const std::string big(200000, 'a');
    EXPECT_EQ(FormatText("<#>%s<#>", big), "\r\n" + big + "\r\n");
    EXPECT_EQ(FormatText("%S", "up"), "up"); // the directive letter in either case
    EXPECT_EQ(FormatText("%", "x"), "%");
    EXPECT_EQ(FormatText("%%s", "x"), "%s");
    EXPECT_EQ(FormatText("%%%s", "x"), "%x");
    EXPECT_EQ(FormatText("<#<#>>", ""), "<#\r\n>");
    EXPECT_EQ(FormatText("a%sb", "<#"), "a<#b");
    EXPECT_EQ(FormatText("%s%s%s", "1", "2"), "12");
    EXPECT_EQ(FormatText("", "x"), "");
}

} // namespace
