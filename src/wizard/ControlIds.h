// Control IDs of the wizard window, shared with the tests that drive it.
#pragma once

// The window class of the wizard form.
inline constexpr const char* kFormClassName = "TForm1";

enum ControlId : int {
    // Bottom row.
    kIdBtnBack = 100,
    kIdBtnNext,
    kIdBtnCancel,
    // Full-size panel (Language, Welcome, Finish).
    kIdLabel1 = 110,
    kIdLabel2,
    kIdLabel9,
    kIdLPublisher,
    kIdComboLng,
    kIdCheckLaunchFile,
    kIdCheckViewReadme,
    kIdCheckCustomRun,
    kIdRadioGroup1,
    kIdRadioRestartNow,
    kIdRadioRestartLater,
    // Header of the inner pages.
    kIdText1 = 130,
    kIdText2,
    // Licence.
    kIdLabel4 = 140,
    kIdRichEdit1,
    kIdLabel11,
    kIdCheckBox1,
    // Readme.
    kIdLabel18 = 150,
    kIdRichEdit2,
    // User information.
    kIdLabel5 = 160,
    kIdLUser,
    kIdEUser,
    kIdLCompany,
    kIdECompany,
    kIdLCustomInfo,
    kIdECustomInfo,
    // Destination.
    kIdImage5 = 170,
    kIdLabel10,
    kIdLabel6,
    kIdGroupBox1,
    kIdEdit1,
    kIdButton4,
    kIdLSpaceRequired,
    kIdLSpaceFree,
    // Program group.
    kIdImage3 = 180,
    kIdLabel3,
    kIdComboBox1,
    kIdCheckPrograms,
    kIdCheckDesktop,
    kIdCheckQuick,
    kIdCheckAssociate,
    // Ready.
    kIdLabel7 = 190,
    kIdMemo1,
    // Install.
    kIdLTask = 200,
    kIdLFile,
    kIdProgressBar1,
};
