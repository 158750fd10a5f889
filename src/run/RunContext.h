// The run context: all run-wide state of one setup run, owned by the form and handed
// explicitly to every subsystem (no hidden globals). The flags and readers of the run
// sit at the top; the rest is kept in named parts, each filled by one module:
//
//   Wizard  the wizard's field values          wizard/ (start-up sets their first values)
//   Lang    the chosen language's texts        text/Language
//   Record  the uninstall record being built   record/UninstallRecord
//   View    the Install page's status          engine/ (the wizard shows it)
//   System  facts about the machine            sysinfo/SystemInfo
#pragma once

#include "config/IniFile.h"
#include "platform/Redirection.h"
#include "platform/UserPrompt.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class UndoJournal;

// The wizard's field values, named after the controls that show them. The window keeps
// them in step with its controls; a silent run uses them as start-up filled them in.
struct WizardFields {
    std::string Edit1;       // destination folder (<InstallDir>)
    std::string ComboBox1;   // program group
    std::string EUser;       // user name
    std::string ECompany;    // user company
    std::string ECustomInfo; // custom user information
    std::string ComboLng;    // chosen language's name
    bool CheckDesktop = false;
    bool CheckPrograms = false; // "do not create a program group" is ticked
    bool CheckQuickLaunch = false;
    bool CheckAssociate = false;
    bool CheckDesktopVisible = false;
    bool CheckQuickLaunchVisible = false;
    // Update mode: start-up fixed the destination to an installed copy's folder and
    // disabled the field (and its browse button).
    bool Edit1Disabled = false;
    // The program-group list (ComboBox1's items); the installed copy's group alone,
    // and disabled, in update mode.
    std::vector<std::string> ProgramGroups;
    bool ComboBox1Disabled = false;
    // The data file chosen at start-up in place of "<CurrentDir>\data.zip".
    std::string OpenDialogFile;
    // Pages shown: Language, Welcome, Licence, Readme, User information,
    // Destination, Program group, Ready, Finish.
    bool PageTable[9] = {};
};

// The chosen language's texts that the window shows outside its pages; set by
// ChooseLanguage and ApplyLanguage.
struct LanguageState {
    std::vector<std::string> Languages; // language names in listing order (ComboLng's items)
    int LanguageIndex = -1;             // selected entry of Languages; -1 before the choice
    std::string TitleCaption;           // [Title] 0, expanded: window caption, task-bar title
    std::string LanguageLabel1;         // [Language] 0, expanded: Label1 of the Language page
    std::string LanguageLabel2;         // [Language] 1, expanded: Label2 of the Language page
    std::string BtnBackCaption;         // [Buttons] 0, as it stands
    std::string BtnNextCaption;         // [Buttons] 1, as it stands
    std::string BtnCancelCaption;       // [Buttons] 2, as it stands
    std::string AssociateCaption;       // CheckAssociate's caption; shown when [Extensions] exists
    bool ShowAssociate = false;         // CheckAssociate is shown (and was ticked with it)
};

// The uninstall record while the run builds it.
struct RecordState {
    // "qvuninstall.ini" in the setup temp folder while the run builds it.
    std::string UninstallRecordPath;
    bool UninstallRecordOpen = false;
    // The record carries on an installed copy's record (update mode with its
    // Uninstall.ini copied in), which already lists the uninstaller's files.
    bool UninstallRecordContinued = false;
    // The next key of each counted section of the record.
    int UninstallFilesCount = 0;
    int UninstallFoldersCount = 0;
    int UninstallRegistryKeysCount = 0;
    int UninstallRegistryValuesCount = 0;
    int UninstallINIValuesCount = 0;
    // Record writes held back while an UninstallRecordBatch is open: section, key,
    // value (already on one line).
    int UninstallBatchDepth = 0;
    std::vector<std::vector<std::string>> UninstallPending;
};

// The Install page: status text, current item and progress (0..100). A silent run
// keeps them too; the wizard repaints when InstallViewChanged is called. The window
// also lends the run its Back action here, for commands that keep the wizard on its
// page; both are unset in a silent run.
struct InstallView {
    std::string LTask;
    std::string LFile;
    int ProgressBar1 = 0;
    std::function<void()> InstallViewChanged;
    std::function<void()> WizardBack;
};

// What the setup learnt about the machine at start-up (TOSInfo::GatherSystemInfo).
struct SystemFacts {
    // Initial value of OsName, and its value for any system the name table does not
    // know. The missing "n" is part of the configuration format: setups name their
    // system requirements by these texts.
    static constexpr const char* UnknownOsName = "Windows Unknow";
    std::string OsName = UnknownOsName;
    std::string OwnerName;
    std::string OrganizationName;
};

// The event log asked for with "/LOG=file": the five header lines, then one line per
// event with its time since the start of the run, written as the run goes so that a
// run that is killed leaves its log up to that point.
struct EventLogState {
    std::string Path; // empty: no event log
    HANDLE File = INVALID_HANDLE_VALUE;
    bool Started = false;             // the file was created and the header written
    bool Ended = false;               // the last line is written and the file closed
    std::vector<std::string> Pending; // events that came before the header
    int64_t Origin = 0;               // performance counter at the start of the run
    std::string Phase;                // the phase running now; empty between phases
    int64_t PhaseStart = 0;
};

struct RunContext {
    RunContext();
    ~RunContext();
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    // Flags of the run.
    bool Silent = false;      // "/S" or SilentInstall: no wizard, no boxes but the few allowed
    bool Logging = false;     // "/L": write the log file at the end
    bool Admin = false;       // the user has administrator rights
    bool PerUser = false;     // install for the current user only
    bool Is64 = false;        // the setup requires 64-bit Windows ([Setup] 64-bit)
    bool UninstallOn = false; // [Setup] Uninstall
    bool Errors = false;      // an item failed and the run went on
    bool Cancel = false;      // the user confirmed cancelling
    // "/Q" in a silent run: no box is ever shown; every question takes the answer that
    // keeps the machine safe, and what was asked goes to the event log.
    bool Quiet = false;
    // The installation is complete but takes effect only after a restart (the setup
    // asks for one, or a file waits for its replacement at the restart).
    bool RestartNeeded = false;

    std::vector<std::string> Args; // command-line arguments, without the program
    std::string ProductTitle;      // <AppName> + " " + <AppVersion>

    std::string SetupFile;            // full path of the running setup program
    std::string SetupTempDir;         // <SetupTempDir>: where the setup cabinet was unpacked
    bool SetupTempDirCreated = false; // this run made it (only then is it cleaned up)
    uint32_t PayloadOffset = 0;

    // Readers open for the whole run: the configuration "qvsetup.ini" and the
    // chosen language file.
    std::unique_ptr<TIniFile> Config;
    std::unique_ptr<TIniFile> Language;

    // User variables, each "name?value", in the order they were defined.
    std::vector<std::string> UserVariables;

    WizardFields Wizard;
    LanguageState Lang;
    RecordState Record;
    InstallView View;
    SystemFacts System;

    // File-system redirection, switched off for a 64-bit setup while it needs the
    // real system folders.
    FsRedirection Redirection;

    // The setup log (the form's hidden list): collected in every run.
    std::vector<std::string> LogList;
    // What the log's lines leave out: the cause of each failure (the failed call and
    // the system's error), in the order they happened. Kept beside LogList, whose lines
    // keep their fixed form.
    std::vector<std::string> LogDetails;

    // The two wizard pictures loaded when the package was opened.
    HBITMAP WizardPicture = nullptr;
    HBITMAP HeaderPicture = nullptr;

    // Every question and message to the user goes through here.
    IUserPrompt* Prompt;
    // A prompt the run made for itself (the quiet and logging one), which Prompt then
    // points at.
    std::unique_ptr<IUserPrompt> OwnPrompt;

    EventLogState EventLog;

    // Ends the process with the exit code once the run has been cleaned up. The
    // program uses ExitProcess; tests replace it to observe the end instead.
    std::function<void(uint32_t)> Terminate;

    // The undo journal of an installation run in progress (none when [Setup] Rollback
    // is off or no installation runs), and what puts the machine back when the run
    // ends early. The engine sets both when the installation starts and clears them
    // when it has finished; the ends of the run call Rollback while it is set.
    std::shared_ptr<UndoJournal> Journal;
    std::function<void()> Rollback;

    void ShowInstallView() {
        if (View.InstallViewChanged) View.InstallViewChanged();
    }

    // Releases what the run holds open (readers, pictures). Safe to call twice.
    void ReleaseResources();
};
