// The wizard of real setups, driven from outside the way a user would: find the window,
// read its page texts and buttons, click, answer the questions, and check what the run
// left behind (installed files, setup temp folder, exit code). Screenshots of the pages
// are saved as BMP files in the test's scratch folder, and also in the folder named by
// QV_SCREENSHOTS when that is set.
//
// Checks where the keyboard focus is, which only the active window has: a window of a
// test running beside it (a setup's question, say) would take it away.
// qv-test-locks: desktop
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "WindowText.h"
#include "WizardDriver.h"
#include "wizard/ControlIds.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

using wizard_driver::Box;
using wizard_driver::Wizard;

// A question or message box that the step must bring up, read and answered by its
// button text; a failure of the test when none came within 20 seconds.
Box ExpectBox(const Wizard& w, const char* button) {
    const Box box = wizard_driver::Answer(w, button, 20000);
    if (!box.seen) ADD_FAILURE() << "no box appeared";
    return box;
}

// Lines in a log file, waiting up to 10 seconds for at least `atLeast` of them.
int LogLines(const std::string& file, int atLeast) {
    int lines = 0;
    for (int i = 0; i < 1000; ++i, Sleep(10)) {
        const std::string text = ReadFileBytes(file);
        lines = 0;
        for (char c : text)
            lines += c == '\n';
        if (lines >= atLeast) break;
    }
    return lines;
}

class WizardTest : public SetupFixture {
  protected:
    std::string dest = work / "dest";

    void SetUp() override {
        SetupFixture::SetUp();
        CreateDirectoryA(project.c_str(), nullptr);
        CreateDirectoryA((project + "\\payload").c_str(), nullptr);
    }
    // A setup with the [Setup] keys and one payload file per name given.
    void Build(const std::string& keys, const std::string& payload) {
        WriteMinimalProject(project, keys + "\r\n[Payload]\r\n" + payload);
        ASSERT_TRUE(BuildTestSetup(project, setup));
    }
    bool NoSetupTempLeft() const { return ListFolders(temp, "QVTMP").empty(); }
    // The setup temp folder of the running setup.
    std::string SetupTemp() const {
        const auto found = ListFolders(temp, "QVTMP");
        return found.empty() ? std::string() : temp + "\\" + found.front();
    }
    // A [Commands] record that starts the logging stand-in program at a stage and
    // waits for it; each run adds one line to the log below.
    static std::string Command(const std::string& stage, const std::string& tag) {
        return std::string(QV_FAKE_UNINSTALLER_PATH) + "*?" + tag + "*?HIDE*?" + stage +
               "*?YES*?ALL*?NO";
    }
    std::string CommandLog() const { return temp + "\\fake-uninstaller.log"; }
    // The whole wizard window, frame and caption included, as name.bmp in the test's
    // folder, and in the folder QV_SCREENSHOTS names when that is set.
    void Screenshot(const Wizard& w, const std::string& name) const {
        const std::string bmp = w.Pixels(true);
        WriteFileBytes(work / (name + ".bmp"), bmp);
        if (const char* extra = std::getenv("QV_SCREENSHOTS"))
            WriteFileBytes(std::string(extra) + "\\" + name + ".bmp", bmp);
    }
};

TEST_F(WizardTest, WalkToFinishInstallsAndRunsTheLaunchAction) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    CopyFileA(QV_FAKE_UNINSTALLER_PATH, (project + "\\payload\\tool.exe").c_str(), FALSE);
    // A licence longer than a text control holds by default (a GPL text is longer).
    std::string licence = "{\\rtf1\\ansi ";
    for (int i = 0; i < 4000; ++i)
        licence += "term " + std::to_string(10000 + i) + "\\par\n";
    licence += "LAST LINE}";
    CreateDirectoryA((project + "\\setup").c_str(), nullptr);
    WriteFileBytes(project + "\\setup\\L(Default).rtf", licence);
    Build("DialogWelcome=1\r\nDialogLicense=1\r\nAcceptAgreement=1\r\n"
          "DialogDestinationFolder=1\r\nDialogReady=1\r\nDialogFinish=1\r\n"
          "LaunchFile=1\r\nLaunchFileChecked=1\r\nLaunchFileName=<InstallDir>\\tool.exe /S\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n"
          "1=payload\\tool.exe?<InstallDir>\\tool.exe?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.Form());
    EXPECT_EQ(TextOf(w.Form()), "Test Product 1.0 Installation");

    // Welcome: nothing before it, so no Back.
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    EXPECT_FALSE(w.Visible(kIdBtnBack));
    EXPECT_EQ(w.Text(kIdBtnNext), "&Next >");
    EXPECT_EQ(w.Text(kIdBtnCancel), "Cancel");
    Screenshot(w, "1-welcome");

    // Licence: Next waits for the tick, and the tick is asked again on every visit.
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "License Agreement"));
    EXPECT_TRUE(w.Visible(kIdBtnBack));
    EXPECT_FALSE(w.Enabled(kIdBtnNext));
    // The whole licence is shown, not only its first 32767 characters.
    const LRESULT shown = SendMessageA(w.Ctl(kIdRichEdit1), WM_GETTEXTLENGTH, 0, 0);
    EXPECT_GT(shown, 44000) << "licence cut to " << shown << " characters";
    w.Click(kIdCheckBox1);
    for (int i = 0; i < 200 && !w.Enabled(kIdBtnNext); ++i)
        Sleep(10);
    EXPECT_TRUE(w.Enabled(kIdBtnNext));
    w.Click(kIdBtnNext);

    ASSERT_TRUE(w.WaitText(kIdText1, "Select Application Folder"));
    EXPECT_EQ(w.Text(kIdEdit1), dest);
    EXPECT_EQ(w.Text(kIdBtnNext), "&Next >"); // the Ready page follows
    EXPECT_EQ(w.Text(kIdButton4), "&Browse...");
    Screenshot(w, "2-destination");
    w.Click(kIdBtnBack);
    ASSERT_TRUE(w.WaitText(kIdText1, "License Agreement"));
    EXPECT_FALSE(w.Enabled(kIdBtnNext));
    w.Click(kIdCheckBox1);
    for (int i = 0; i < 200 && !w.Enabled(kIdBtnNext); ++i)
        Sleep(10);
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "Select Application Folder"));
    w.Click(kIdBtnNext);

    ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
    EXPECT_EQ(w.Text(kIdBtnNext), "&Install");
    EXPECT_EQ(w.Text(kIdMemo1).rfind("Destination directory:\r\n\t" + dest + "\r\n", 0), 0u);
    w.Click(kIdBtnNext);

    ASSERT_TRUE(w.WaitText(kIdLabel1, "Completing the Test Product Setup Wizard"));
    EXPECT_EQ(w.Text(kIdBtnNext), "&Finish");
    EXPECT_FALSE(w.Visible(kIdBtnBack));
    EXPECT_FALSE(w.Visible(kIdBtnCancel));
    EXPECT_TRUE(w.Visible(kIdCheckLaunchFile));
    EXPECT_EQ(w.Text(kIdCheckLaunchFile), "Launch Test Product");
    EXPECT_NE(w.Text(kIdLabel2).find("Click Finish to exit Setup."), std::string::npos);
    Screenshot(w, "4-finish");
    w.Click(kIdBtnNext);

    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
    EXPECT_TRUE(NoSetupTempLeft());
    // The launch action started the installed tool with its parameter text.
    std::string log;
    for (int i = 0; i < 300 && log.empty(); ++i, Sleep(10))
        log = ReadFileBytes(temp + "\\fake-uninstaller.log");
    EXPECT_NE(log.find("/S"), std::string::npos) << log;
}

TEST_F(WizardTest, CancelAsksFirstAndNoKeepsThePage) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    Build("DialogWelcome=1\r\nDialogReady=1\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));

    w.Click(kIdBtnCancel);
    Box box = ExpectBox(w, "&No");
    EXPECT_EQ(box.caption, "Exit Setup");
    EXPECT_EQ(box.text, "Are you sure you want to abort the installation?");
    EXPECT_EQ(box.owner, w.Form());
    EXPECT_FALSE(w.Exited());
    EXPECT_EQ(w.Text(kIdLabel1), "Welcome to the Test Product Setup Wizard");

    // The close box goes through the same question; Yes ends the run normally.
    PostMessageA(w.Form(), WM_CLOSE, 0, 0);
    ExpectBox(w, "&Yes");
    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
    EXPECT_TRUE(NoSetupTempLeft());
}

TEST_F(WizardTest, CancelWhileCopyingEndsWithCodeOne) {
    // Enough data that the copy is still running when Cancel is clicked (a 64-bit build
    // extracts 24 MB in about 0.2 s under Wine).
    WriteFileBytes(project + "\\payload\\big.bin", RandomBytes(64 << 20, 7));
    Build("DialogReady=1\r\n", "0=payload\\big.bin?<InstallDir>\\big.bin?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
    EXPECT_FALSE(w.Visible(kIdBtnBack)); // the only page: nothing to go back to
    EXPECT_EQ(w.Text(kIdBtnNext), "&Install");
    w.Click(kIdBtnNext);

    ASSERT_TRUE(w.WaitText(kIdText1, "Installing..."));
    EXPECT_FALSE(w.Visible(kIdBtnNext));
    EXPECT_FALSE(w.Visible(kIdBtnBack));
    // Clicked first: the copy pauses while the question is open, so the picture
    // still shows the page in the middle of the copy.
    w.Click(kIdBtnCancel);
    Screenshot(w, "3-install");
    ExpectBox(w, "&Yes");
    EXPECT_EQ(w.ExitCode(), 1u);
    EXPECT_TRUE(NoSetupTempLeft());
}

TEST_F(WizardTest, PageChecksKeepTheUserOnThePage) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    // No Finish page: the window closes by itself after the installation.
    Build("DialogWelcome=1\r\nDialogUserInfo=1\r\nInfoUserName=1\r\nInfoUserNameReq=1\r\n"
          "InfoCustom=1\r\nInfoCustomReq=1\r\nInfoCustomName=Customer number\r\n"
          "DialogDestinationFolder=1\r\nInstallationPath=" +
              dest + "\\<UserName>\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    Wizard w(setup, "", temp);
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    w.Click(kIdBtnNext);

    // A required name of blanks keeps the page, without a message.
    ASSERT_TRUE(w.WaitText(kIdText1, "User Information"));
    EXPECT_EQ(w.Text(kIdLUser), "Name:*");
    EXPECT_EQ(w.Text(kIdLCustomInfo), "Customer number:*");
    EXPECT_FALSE(w.Visible(kIdECompany));
    w.Type(kIdEUser, "   ");
    w.Click(kIdBtnNext);
    Sleep(500);
    EXPECT_EQ(w.Text(kIdText1), "User Information");
    EXPECT_EQ(w.FindWindowOf("#32770"), nullptr);
    EXPECT_EQ(w.WaitFocus(w.Ctl(kIdEUser)), w.Ctl(kIdEUser));
    // The name is there now; the next empty required field gets the focus.
    w.Type(kIdEUser, "Ann");
    w.Click(kIdBtnNext);
    Sleep(500);
    EXPECT_EQ(w.Text(kIdText1), "User Information");
    EXPECT_EQ(w.WaitFocus(w.Ctl(kIdECustomInfo)), w.Ctl(kIdECustomInfo));
    w.Type(kIdECustomInfo, "42");
    w.Click(kIdBtnNext);

    // The folder follows the typed name; Next is the last step before installing.
    ASSERT_TRUE(w.WaitText(kIdText1, "Select Application Folder"));
    EXPECT_EQ(w.Text(kIdEdit1), dest + "\\Ann");
    EXPECT_EQ(w.Text(kIdBtnNext), "&Install");
    w.Type(kIdEdit1, " x ");
    PostMessageA(w.Ctl(kIdEdit1), WM_KEYDOWN, VK_RETURN, 0); // Enter acts as Next
    Box box = ExpectBox(w, "OK");
    EXPECT_EQ(box.text, "Please choose the directory for the installation.");
    EXPECT_EQ(box.caption, "Test Product 1.0 Installation");
    EXPECT_EQ(w.Text(kIdEdit1), "x"); // trimmed in place
    EXPECT_EQ(w.Text(kIdText1), "Select Application Folder");

    w.Type(kIdEdit1, dest + "\\Ann");
    w.Click(kIdBtnBack);
    ASSERT_TRUE(w.WaitText(kIdText1, "User Information"));
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "Select Application Folder"));
    w.Click(kIdBtnNext);
    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\Ann\\a.txt"), "alpha");
    EXPECT_TRUE(NoSetupTempLeft());
}

TEST_F(WizardTest, PageCommandStopSignalAndRepeatedClicks) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    // The marker file comes with the setup: the command keeps the wizard on the page.
    CreateDirectoryA((project + "\\setup").c_str(), nullptr);
    WriteFileBytes(project + "\\setup\\donotcontinue.txt", "");
    // The Destination page is the first page shown: the Back of the stop signal has
    // no earlier page to go to.
    Build("DialogDestinationFolder=1\r\nDialogReady=1\r\n\r\n[Commands]\r\n0=" +
              Command("AT FOLDER SELECT DIALOG", "folder") + "\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.WaitText(kIdText1, "Select Application Folder"));
    EXPECT_FALSE(w.Visible(kIdBtnBack));

    w.Click(kIdBtnNext);
    EXPECT_EQ(LogLines(CommandLog(), 1), 1);
    Sleep(500);
    EXPECT_EQ(w.Text(kIdText1), "Select Application Folder");
    EXPECT_TRUE(w.Visible(kIdEdit1));
    EXPECT_EQ(w.Text(kIdBtnNext), "&Next >");
    EXPECT_EQ(w.WaitFocus(w.Ctl(kIdEdit1)), w.Ctl(kIdEdit1));

    // Once the marker is gone, Next goes on. A second click that arrives while the
    // page's command still runs does not advance a second time (it would skip the
    // Ready page and start the installation).
    ASSERT_TRUE(DeleteFileA((SetupTemp() + "\\donotcontinue.txt").c_str()));
    w.Click(kIdBtnNext);
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
    Sleep(1000);
    EXPECT_FALSE(w.Exited());
    EXPECT_EQ(w.Text(kIdText1), "Ready to Install");
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
    // The command ran once per accepted Next (a third run would be logged by now).
    EXPECT_EQ(LogLines(CommandLog(), 2), 2);

    w.Click(kIdBtnNext);
    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
}

TEST_F(WizardTest, CancelWhileAPageCommandRunsEndsTheRunCleanly) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    Build("DialogWelcome=1\r\nDialogUserInfo=1\r\nInfoUserName=1\r\nDialogReady=1\r\n"
          "\r\n[Commands]\r\n0=" +
              Command("AT USER INFORMATION DIALOG", "first") +
              "\r\n1=" + Command("AT USER INFORMATION DIALOG", "second") + "\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.WaitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "User Information"));

    // Cancel is taken while the first command runs; confirming it ends the run there.
    w.Click(kIdBtnNext);
    w.Click(kIdBtnCancel);
    Box box = ExpectBox(w, "&Yes");
    EXPECT_EQ(box.text, "Are you sure you want to abort the installation?");
    EXPECT_EQ(w.ExitCode(), 0u);
    const std::string log = ReadFileBytes(CommandLog());
    EXPECT_NE(log.find("first"), std::string::npos) << log;
    EXPECT_EQ(log.find("second"), std::string::npos) << log;
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
    EXPECT_TRUE(NoSetupTempLeft());
}

TEST_F(WizardTest, ProgramGroupPageAndReadySummary) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    Build("DialogProgramGroup=1\r\nDialogReady=1\r\nProgramGroup=<AppName> Group\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.WaitText(kIdText1, "Select Programs Menu Folder"));
    EXPECT_EQ(w.Text(kIdComboBox1), "Test Product Group");
    EXPECT_EQ(w.Text(kIdCheckPrograms), "Don't create a Program Group");
    EXPECT_FALSE(w.Visible(kIdCheckDesktop)); // no desktop shortcut is configured
    EXPECT_FALSE(w.Visible(kIdBtnBack));
    EXPECT_EQ(w.Text(kIdBtnNext), "&Next >");

    // A group of blanks is refused; Enter in the group field acts as Next.
    w.Type(kIdComboBox1, "  ");
    HWND field = GetWindow(w.Ctl(kIdComboBox1), GW_CHILD);
    ASSERT_NE(field, nullptr);
    PostMessageA(field, WM_KEYDOWN, VK_RETURN, 0);
    Box box = ExpectBox(w, "OK");
    EXPECT_EQ(box.text, "Select Programs Menu Folder");
    EXPECT_EQ(box.caption, "Test Product 1.0 Installation");
    EXPECT_EQ(box.owner, w.Form());
    EXPECT_EQ(w.Text(kIdText1), "Select Programs Menu Folder");

    // Ticking "no group" puts the configured group back and locks the field.
    w.Type(kIdComboBox1, "Other");
    w.Click(kIdCheckPrograms);
    for (int i = 0; i < 200 && w.Enabled(kIdComboBox1); ++i)
        Sleep(10);
    EXPECT_FALSE(w.Enabled(kIdComboBox1));
    EXPECT_EQ(w.Text(kIdComboBox1), "Test Product Group");
    w.Click(kIdCheckPrograms);
    for (int i = 0; i < 200 && !w.Enabled(kIdComboBox1); ++i)
        Sleep(10);
    EXPECT_TRUE(w.Enabled(kIdComboBox1));

    w.Type(kIdComboBox1, "Mine");
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
    EXPECT_TRUE(w.Visible(kIdBtnBack));
    EXPECT_EQ(w.Text(kIdMemo1),
              "Destination directory:\r\n\t" + dest + "\r\n\r\nStart Menu folder:\r\n\tMine\r\n");

    // Back keeps the typed group; without a group the summary leaves it out.
    w.Click(kIdBtnBack);
    ASSERT_TRUE(w.WaitText(kIdText1, "Select Programs Menu Folder"));
    EXPECT_EQ(w.Text(kIdComboBox1), "Mine");
    w.Click(kIdCheckPrograms);
    w.Click(kIdBtnNext);
    ASSERT_TRUE(w.WaitText(kIdText1, "Ready to Install"));
    EXPECT_EQ(w.Text(kIdMemo1), "Destination directory:\r\n\t" + dest + "\r\n\r\n");

    w.Click(kIdBtnCancel);
    ExpectBox(w, "&Yes");
    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
}

TEST_F(WizardTest, LanguagePageAppliesTheChosenLanguage) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    // A second language file: its texts differ from the English ones.
    std::string french = ReadFileBytes(kDemoLanguageFile);
    for (auto [from, to] :
         {std::pair<const char*, const char*>{"0=<AppName> <AppVersion> Installation",
                                              "0=Installation de <AppName>"},
          {"1=Select the setup language:", "1=Choisissez la langue :"},
          {"1=&Next >", "1=&Suivant >"},
          {"0=Welcome to the <AppName> Setup Wizard", "0=Bienvenue dans <AppName>"},
          {"1=This will install <AppName> <AppVersion> on your computer.",
           "1=Ceci installera <AppName>."}}) {
        const size_t at = french.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        french.replace(at, std::strlen(from), to);
    }
    CreateDirectoryA((project + "\\setup").c_str(), nullptr);
    WriteFileBytes(project + "\\setup\\Frenchqv.lng", french);
    Build("DialogWelcome=1\r\nShowPublisher=1\r\nCompanyName=Acme & Sons\r\n",
          "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    Wizard w(setup, "/D \"" + dest + "\"", temp);

    // Two language files: the Language page comes first, in the default language.
    ASSERT_TRUE(w.WaitText(kIdLabel2, "Select the setup language:"));
    EXPECT_TRUE(w.Visible(kIdComboLng));
    EXPECT_FALSE(w.Visible(kIdBtnBack));
    EXPECT_FALSE(w.Visible(kIdLPublisher));
    EXPECT_EQ(w.Text(kIdComboLng), "English");
    EXPECT_EQ(w.Text(kIdBtnNext), "&Next >");

    // Choosing another language applies it at once.
    SendMessageA(w.Ctl(kIdComboLng), CB_SETCURSEL, 1, 0);
    PostMessageA(w.Form(), WM_COMMAND, MAKEWPARAM(kIdComboLng, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(w.Ctl(kIdComboLng)));
    ASSERT_TRUE(w.WaitText(kIdLabel2, "Choisissez la langue :"));
    EXPECT_EQ(w.Text(kIdLabel1), "Bienvenue dans Test Product");
    EXPECT_EQ(TextOf(w.Form()), "Installation de Test Product");
    EXPECT_EQ(w.Text(kIdBtnNext), "&Suivant >");

    // Later pages read their texts from the chosen language; Back returns to the list.
    PostMessageA(w.Ctl(kIdComboLng), WM_KEYDOWN, VK_RETURN, 0); // Enter acts as Next
    for (int i = 0; i < 2000 && w.Visible(kIdComboLng); ++i)
        Sleep(10);
    EXPECT_EQ(w.Text(kIdLabel2).rfind("Ceci installera Test Product.", 0), 0u) << w.Text(kIdLabel2);
    EXPECT_FALSE(w.Visible(kIdComboLng));
    EXPECT_TRUE(w.Visible(kIdBtnBack));
    // The publisher shows on the Welcome page only.
    EXPECT_TRUE(w.Visible(kIdLabel9));
    EXPECT_EQ(w.Text(kIdLabel9), "Publisher:");
    EXPECT_TRUE(w.Visible(kIdLPublisher));
    EXPECT_EQ(w.Text(kIdLPublisher), "Acme & Sons");
    EXPECT_EQ(w.Text(kIdBtnNext), "&Install"); // the last page before installing
    w.Click(kIdBtnBack);
    ASSERT_TRUE(w.WaitText(kIdLabel2, "Choisissez la langue :"));
    EXPECT_EQ(w.Text(kIdComboLng), "French");

    w.Click(kIdBtnCancel);
    ExpectBox(w, "&Yes");
    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_TRUE(NoSetupTempLeft());
}

// Every text of the language file made long and full of printf-style marks, access-key
// ampersands and a line break: the pages show them as they stand and the wizard still
// installs. A text used anywhere as a C format string would crash on "%n" or "%s".
TEST_F(WizardTest, HostileLanguageTextsAreShownAsTheyStand) {
    WriteFileBytes(project + "\\payload\\a.txt", "alpha");
    WriteMinimalProject(project,
                        "DialogWelcome=1\r\nDialogDestinationFolder=1\r\nDialogFinish=1\r\n"
                        "\r\n[Payload]\r\n0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
    const std::string marks = " %n%x%p%d%s%% &&& <#> ";
    const std::string lng = ReadFileBytes(project + "\\setup\\Englishqv.lng");
    std::string hostile;
    bool inInfo = false;
    for (size_t at = 0; at < lng.size();) {
        size_t end = lng.find("\r\n", at);
        if (end == std::string::npos) end = lng.size();
        std::string line = lng.substr(at, end - at);
        at = end + 2;
        if (!line.empty() && line[0] == '[') inInfo = line == "[Info]";
        // The [Info] keys pick the language; every other value is a text.
        if (!inInfo && line.find('=') != std::string::npos) line += marks + std::string(1500, 'W');
        hostile += line + "\r\n";
    }
    WriteFileBytes(project + "\\setup\\Englishqv.lng", hostile);
    ASSERT_TRUE(BuildTestSetup(project, setup));

    Wizard w(setup, "/D \"" + dest + "\"", temp);
    ASSERT_TRUE(w.Form());
    for (int i = 0; i < 100 && !w.Visible(kIdLabel1); ++i)
        Sleep(50);
    const std::string title = w.Text(kIdLabel1);
    EXPECT_EQ(title.rfind("Welcome to the Test Product Setup Wizard %n%x%p%d%s", 0), 0u) << title;
    // Next until the wizard has closed; a question box of any kind is a failure.
    for (int i = 0; i < 60 && !w.Exited(); ++i) {
        if (HWND box = w.FindWindowOf("#32770")) {
            ADD_FAILURE() << "unexpected box: " << TextOf(box);
            break;
        }
        if (w.Enabled(kIdBtnNext)) w.Click(kIdBtnNext);
        Sleep(300);
    }
    EXPECT_EQ(w.ExitCode(), 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
    EXPECT_TRUE(NoSetupTempLeft());
}

} // namespace
