// [Shortcuts] records against real link files of the Wine prefix, read back
// through the shell-link object, with the uninstall record read back from disk.
#include "ShellLink.h"
#include "TestContext.h"
#include "TestSupport.h"
#include "config/IniFile.h"
#include "items/ItemHandlers.h"
#include "platform/FileUtil.h"
#include "record/UninstallRecord.h"
#include "run/RunContext.h"
#include "text/Language.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

// A record of eight fields: the link file, then what differs from a plain one.
std::string Record(const std::string& link, const std::string& target = "x.exe",
                   const std::string& args = "", const std::string& work = "",
                   const std::string& icon = "", const std::string& index = "0",
                   const std::string& show = "Normal", const std::string& description = "") {
    return link + "*?" + target + "*?" + description + "*?" + args + "*?" + work + "*?" + icon +
           "*?" + index + "*?" + show;
}

// Removes what a test made in a real shell folder: files, then folders innermost first.
struct Cleanup {
    Strings files, folders;
    ~Cleanup() {
        for (const auto& f : files)
            DeleteFileA(f.c_str());
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            RemoveDirectoryA(it->c_str());
    }
};

class ShortcutTest : public ::testing::Test {
  protected:
    ShortcutTest() {
        dest_ = root_ / "Dest";
        CreateDirectoryA(dest_.c_str(), nullptr);
        UseConfig(ctx_, temp_ / "qvsetup.ini",
                  "[Setup]\r\nAppName=Shortcut Test\r\nAppVersion=1.0\r\nUninstall=1\r\n");
        ctx_.Language = std::make_unique<TIniFile>(kDemoLanguageFile);
        ctx_.SetupTempDir = temp_.Path();
        ctx_.Wizard.Edit1 = dest_;
        ctx_.Prompt = &prompt_;
        ctx_.UninstallOn = ctx_.PerUser = true;
        ctx_.Wizard.ComboBox1 = "QV Shortcut Test " + std::to_string(GetCurrentProcessId());
        ObserveRunEnd(ctx_);
        OpenUninstallRecord(ctx_);
    }
    ~ShortcutTest() override { CloseUninstallRecord(ctx_); }

    Strings Recorded(const std::string& section) {
        return RecordedValues(ctx_.Record.UninstallRecordPath, section);
    }
    void ResetReports() {
        ctx_.LogList.clear();
        prompt_.boxes.clear();
        ctx_.Errors = false;
    }
    // One failure reported: the log line, the box (unless silent), the errors flag.
    void ExpectReported(const std::string& prefix, int message, const std::string& item) {
        EXPECT_TRUE(ctx_.Errors);
        EXPECT_EQ(ctx_.LogList, Strings{prefix + item});
        if (ctx_.Silent) {
            EXPECT_TRUE(prompt_.boxes.empty());
            return;
        }
        ASSERT_EQ(prompt_.boxes.size(), 1u);
        EXPECT_EQ(prompt_.boxes[0].caption, "Setup");
        EXPECT_EQ(prompt_.boxes[0].text, FormatText(LanguageText(ctx_, "Messages", message), item));
        EXPECT_NE(prompt_.boxes[0].text.find(item), std::string::npos);
        EXPECT_EQ(prompt_.boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    }

    ScratchDir temp_, root_;
    std::string dest_;
    RecordingPrompt prompt_;
    RunContext ctx_;
};

TEST_F(ShortcutTest, WritesEveryFieldIntoTheLink) {
    WriteFileBytes(dest_ + "\\App.exe", "MZ");
    struct Row {
        const char *index, *show;
        int wantIndex, wantShow;
    } rows[] = {
        {"5", "MAXIMIZED", 5, SW_SHOWMAXIMIZED},       {"abc", "maximize", 0, SW_SHOWMAXIMIZED},
        {"-1", "Minimize", 65535, SW_SHOWMINNOACTIVE}, {"2", "minimized", 2, SW_SHOWMINNOACTIVE},
        {"3", "HIDE", 3, SW_SHOWMINNOACTIVE},          {"7", "Normal please", 7, SW_SHOWNORMAL},
        {"70000", "hide ", 4464, SW_SHOWNORMAL},      // the index wraps at 16 bits
        {"99999999999", "Restore", 0, SW_SHOWNORMAL}, // beyond any integer: not a number
    };
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.show);
        const std::string name = "\\Link" + std::to_string(n++) + ".lnk";
        CreateShortcut(ctx_, Record("<InstallDir>" + name, "<InstallDir>\\App.exe",
                                    "/x <AppVersion>", "<InstallDir>\\Work",
                                    "<InstallDir>\\App.ico", r.index, r.show, "About <AppName>"));
        const Link l = ReadLink(dest_ + name);
        ASSERT_TRUE(l.loaded);
        EXPECT_TRUE(SameText(l.target, dest_ + "\\App.exe")) << l.target;
        EXPECT_EQ(l.arguments, "/x 1.0");
        EXPECT_EQ(l.description, "About Shortcut Test");
        EXPECT_EQ(l.workDir, dest_ + "\\Work");
        EXPECT_EQ(l.iconFile, dest_ + "\\App.ico");
        EXPECT_EQ(l.iconIndex, r.wantIndex);
        EXPECT_EQ(l.showCmd, r.wantShow);
    }
    EXPECT_EQ(ctx_.View.LFile, dest_ + "\\Link7.lnk");
    EXPECT_FALSE(ctx_.Errors);
    EXPECT_TRUE(prompt_.boxes.empty());
}

TEST_F(ShortcutTest, WorkingFolderDefaultsToAnExistingTargetsFolder) {
    WriteFileBytes(dest_ + "\\Here.exe", "MZ");
    CreateShortcut(ctx_, Record("<InstallDir>\\Here.lnk", "<InstallDir>\\Here.exe"));
    CreateShortcut(ctx_, Record("<InstallDir>\\Gone.lnk", "<InstallDir>\\Gone.exe"));
    const Link here = ReadLink(dest_ + "\\Here.lnk"), gone = ReadLink(dest_ + "\\Gone.lnk");
    ASSERT_TRUE(here.loaded && gone.loaded);
    EXPECT_EQ(here.workDir, dest_);
    EXPECT_EQ(gone.workDir, "");
    EXPECT_EQ(Recorded("Files"), (Strings{dest_ + "\\Here.lnk", dest_ + "\\Gone.lnk"}));
}

TEST_F(ShortcutTest, CreatesMissingFoldersOutermostFirstAndRecordsThem) {
    const std::string link = dest_ + "\\A\\B\\C\\x.lnk";
    CreateShortcut(ctx_, Record("<InstallDir>\\A\\B\\C\\x.lnk"));
    EXPECT_TRUE(ReadLink(link).loaded);
    EXPECT_EQ(Recorded("Folders"), (Strings{dest_ + "\\A", dest_ + "\\A\\B", dest_ + "\\A\\B\\C"}));
    EXPECT_EQ(Recorded("Files"), Strings{link});

    // Existing folders are not recorded again; with Uninstall off nothing is.
    CreateShortcut(ctx_, Record("<InstallDir>\\A\\B\\y.lnk"));
    ctx_.UninstallOn = false;
    CreateShortcut(ctx_, Record("<InstallDir>\\A\\D\\z.lnk"));
    EXPECT_TRUE(PathExists(dest_ + "\\A\\D\\z.lnk"));
    EXPECT_EQ(Recorded("Folders").size(), 3u);
    EXPECT_EQ(Recorded("Files"), (Strings{link, dest_ + "\\A\\B\\y.lnk"}));
}

TEST_F(ShortcutTest, TaskBoxesGovernTheWholeRecord) {
    struct Row {
        const char* mention; // placed in the arguments field
        bool programs, desktop, quick, created;
    } rows[] = {
        {"<ProgramGroup>", false, false, false, true},
        {"<ProgramGroup>", true, true, true, false},
        {"<programsmenu>", true, true, true, false},
        {"<CommonProgramsMenu>", true, true, true, false},
        {"<Desktop>", false, false, true, false},
        {"<CommonDesktop>", false, false, true, false},
        {"<desktop>", false, true, false, true},
        {"<QuickLaunch>", false, true, false, false},
        {"<QUICKLAUNCH>", false, false, true, true},
        {"<StartMenu> <CommonStartUp>", true, false, false, true},
    };
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mention);
        ctx_.Wizard.CheckPrograms = r.programs;
        ctx_.Wizard.CheckDesktop = r.desktop;
        ctx_.Wizard.CheckQuickLaunch = r.quick;
        const std::string name = "\\Box" + std::to_string(n++) + ".lnk";
        CreateShortcut(ctx_, Record("<InstallDir>" + name, "x.exe", r.mention));
        EXPECT_EQ(PathExists(dest_ + name), r.created);
    }
    EXPECT_FALSE(ctx_.Errors);
}

TEST_F(ShortcutTest, WrongFieldCountsAreIgnored) {
    for (const char* r : {"<InstallDir>\\Bad.lnk*?x.exe*?d*?a*?w*?i*?0*?", // empty last field
                          "<InstallDir>\\Bad.lnk*?x.exe*?d*?a*?w*?i*?0",   // seven
                          "<InstallDir>\\Bad.lnk*?x.exe*?d*?a*?w*?i*?0*?Normal*?x", // nine
                          ""})
        CreateShortcut(ctx_, r);
    EXPECT_FALSE(PathExists(dest_ + "\\Bad.lnk"));
    EXPECT_TRUE(Recorded("Files").empty() && Recorded("Folders").empty());
    EXPECT_TRUE(ctx_.LogList.empty() && prompt_.boxes.empty() && ctx_.View.LFile.empty());
    EXPECT_FALSE(ctx_.Errors);
}

TEST_F(ShortcutTest, FailuresAreReportedAndNothingIsRecorded) {
    const std::string blocked = dest_ + "\\Blocked";
    WriteFileBytes(blocked, "a file where a folder should go");
    const std::string taken = dest_ + "\\Taken.lnk";
    CreateDirectoryA(taken.c_str(), nullptr); // a folder holds the link's name
    for (bool silent : {false, true}) {
        SCOPED_TRACE(silent);
        ctx_.Silent = silent;
        ResetReports();
        CreateShortcut(ctx_, Record("<InstallDir>\\Blocked\\Sub\\x.lnk"));
        ExpectReported("Error creating directory: ", 13, blocked);
        ResetReports();
        CreateShortcut(ctx_, Record("<InstallDir>\\Taken.lnk"));
        ExpectReported("Error creating file: ", 16, taken);
    }
    EXPECT_TRUE(Recorded("Folders").empty() && Recorded("Files").empty());

    // A network path's first folder tested is the share, never the server alone.
    ResetReports();
    CreateShortcut(ctx_, Record("\\\\qv-no-such-server\\share\\sub\\x.lnk"));
    ExpectReported("Error creating directory: ", 13, "\\\\qv-no-such-server\\share");
}

// Fields far longer than any path or text the shell keeps still give a link, or a
// reported failure, and never a crash or a half-made record.
TEST_F(ShortcutTest, OversizedFieldsGiveADefinedResult) {
    const std::string big(20000, 'a');
    CreateShortcut(ctx_, Record("<InstallDir>\\Big.lnk", "C:\\" + big + ".exe", big, big,
                                "C:\\" + big, "1", "Normal", big));
    EXPECT_TRUE(ReadLink(dest_ + "\\Big.lnk").loaded);
    EXPECT_FALSE(ctx_.Errors);
    EXPECT_EQ(Recorded("Files"), Strings{dest_ + "\\Big.lnk"});

    // A folder name beyond what the file system allows is the folder failure.
    const std::string longName(300, 'f');
    CreateShortcut(ctx_, Record("<InstallDir>\\" + longName + "\\x.lnk"));
    ExpectReported("Error creating directory: ", 13, dest_ + "\\" + longName);
    EXPECT_TRUE(Recorded("Folders").empty());
}

// A shortcut path must name its place exactly: dot-only parts (however the system
// would read them), relative paths and paths without a file name are refused as a
// failed shortcut, before any folder is made.
TEST_F(ShortcutTest, PathsThatLeaveTheirFolderAreRefused) {
    for (const char* f0 :
         {"<InstallDir>\\..\\Escaped.lnk", "<InstallDir>\\New\\..\\..\\Escaped.lnk",
          "<InstallDir>/New/../../Escaped.lnk", "<InstallDir>\\New\\. .\\..\\Escaped.lnk",
          "<InstallDir>\\New\\...\\Escaped.lnk", "Escaped.lnk", "<InstallDir>\\New\\",
          "<InstallDir>\\New\\."}) {
        SCOPED_TRACE(f0);
        ResetReports();
        CreateShortcut(ctx_, Record(f0));
        std::string path = f0;
        if (path.rfind("<InstallDir>", 0) == 0) path = dest_ + path.substr(12);
        ExpectReported("Error creating file: ", 16, path);
    }
    EXPECT_FALSE(PathExists(root_ / "Escaped.lnk"));
    EXPECT_FALSE(PathExists(dest_ + "\\New"));
    EXPECT_TRUE(Recorded("Folders").empty() && Recorded("Files").empty());

    // The same guard covers a program group typed in the wizard.
    ctx_.Wizard.ComboBox1 = "..\\..\\Escaped";
    ResetReports();
    CreateShortcut(ctx_, Record("<ProgramGroup>\\App.lnk"));
    EXPECT_TRUE(ctx_.Errors);
    EXPECT_FALSE(PathExists(ShellPath(CSIDL_STARTMENU) + "\\..\\Escaped"));
}

// The real shell folders of the prefix, each cleaned up afterwards.
TEST_F(ShortcutTest, ProgramGroupShortcutGoesToTheChosenGroup) {
    for (bool perUser : {true, false}) {
        SCOPED_TRACE(perUser);
        ctx_.PerUser = perUser;
        const std::string group = ShellPath(perUser ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS) +
                                  "\\" + ctx_.Wizard.ComboBox1;
        ASSERT_FALSE(PathExists(group));
        Cleanup clean{{group + "\\App.lnk"}, {group}};
        const size_t folders = Recorded("Folders").size();
        CreateShortcut(ctx_, Record("<ProgramGroup>\\App.lnk", "<InstallDir>\\App.exe"));
        EXPECT_TRUE(ReadLink(group + "\\App.lnk").loaded);
        ASSERT_EQ(Recorded("Folders").size(), folders + 1);
        EXPECT_EQ(Recorded("Folders").back(), group);
        EXPECT_EQ(Recorded("Files").back(), group + "\\App.lnk");
    }
}

TEST_F(ShortcutTest, DesktopShortcutsFollowTheBoxAndThePerUserRewrite) {
    const std::string name = "QV Shortcut Test " + std::to_string(GetCurrentProcessId()) + ".lnk";
    const std::string user = ShellPath(CSIDL_DESKTOPDIRECTORY) + "\\" + name;
    const std::string common = ShellPath(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\" + name;
    Cleanup clean{{user, common}, {}};
    struct Row {
        const char* field0;
        bool checked, perUser, admin;
        const std::string* where; // null: nowhere
    } rows[] = {
        {"<Desktop>\\", false, true, false, nullptr},
        {"<Desktop>\\", true, true, false, &user},
        {"<commondesktop>\\", true, true, false, &user},
        {"<CommonDesktop>\\", true, true, true, &common},
        {"<CommonDesktop>\\", true, false, false, &common},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.field0) + (r.admin ? " admin" : "") +
                     (r.perUser ? " per-user" : ""));
        DeleteFileA(user.c_str());
        DeleteFileA(common.c_str());
        ctx_.Wizard.CheckDesktop = r.checked;
        ctx_.PerUser = r.perUser;
        ctx_.Admin = r.admin;
        CreateShortcut(ctx_, Record(r.field0 + name));
        EXPECT_EQ(PathExists(user), r.where == &user);
        EXPECT_EQ(PathExists(common), r.where == &common);
    }
    EXPECT_FALSE(ctx_.Errors);
}

TEST_F(ShortcutTest, QuickLaunchShortcutNeedsItsBox) {
    const std::string name = "QV Test " + std::to_string(GetCurrentProcessId()) + ".lnk";
    const std::string folder =
        ShellPath(CSIDL_APPDATA) + "\\Microsoft\\Internet Explorer\\Quick Launch";
    CreateShortcut(ctx_, Record("<QuickLaunch>\\" + name));
    EXPECT_FALSE(PathExists(folder + "\\" + name));
    EXPECT_TRUE(Recorded("Files").empty());

    ctx_.Wizard.CheckQuickLaunch = true;
    CreateShortcut(ctx_, Record("<QuickLaunch>\\" + name));
    Cleanup clean{{folder + "\\" + name}, Recorded("Folders")};
    EXPECT_TRUE(ReadLink(folder + "\\" + name).loaded);
    EXPECT_EQ(Recorded("Files"), Strings{folder + "\\" + name});
    for (const auto& f : Recorded("Folders"))
        EXPECT_EQ(folder.rfind(f, 0), 0u) << f;
    EXPECT_FALSE(ctx_.Errors);
}

} // namespace
