#include "SetupIniRules.h"

#include "CheckText.h"

namespace mksetup {

namespace {

constexpr KeyKind S = KeyKind::String;
constexpr KeyKind I = KeyKind::Integer;
constexpr KeyKind B = KeyKind::Boolean;

SetupKeyRule Str(const char* name, const char* def = "") {
    return {name, S, false, def};
}
SetupKeyRule Expanded(const char* name) {
    return {name, S, true, ""};
}
SetupKeyRule Bool(const char* name, const char* def = "0") {
    return {name, B, false, def};
}
SetupKeyRule Int(const char* name, const char* def = "0", int min = 1, int max = 0) {
    return {name, I, false, def, min, max};
}

std::vector<SetupKeyRule> MakeSetupKeys() {
    std::vector<SetupKeyRule> k = {
        // The product.
        Str("AppName"),
        Str("AppVersion"),
        Str("GUID"),
        Str("CompanyName"),
        Str("WebSite"),
        Str("SupportLink"),
        Str("BuildDate"),
        // Written by the builder from the payload.
        {"EngineSize", I, false, "0", 1, 0, true},
        {"TotalFiles", I, false, "0", 1, 0, true},
        {"FilesSize", I, false, "0", 1, 0, true},
        // Requirements.
        Bool("Windows XP"),
        Bool("Windows Vista"),
        Bool("Windows 7"),
        Bool("Windows 8"),
        Bool("Windows 8.1"),
        Bool("Windows Server 2003"),
        Bool("Windows Server 2008"),
        Bool("Windows Server 2008 R2"),
        Bool("Windows Server 2012"),
        Bool("Windows Server 2012 R2"),
        Bool("64-bit"),
        Bool("Admin", "1"),
        Bool("RequestElevation"),
        Bool("Internet"),
        Bool("CloseApp"),
        Expanded("CloseAppFile"),
        Expanded("CloseAppText"),
        // Prerequisite products.
        Bool("dotNET"),
        Bool("IE"),
        Bool("AR"),
        Bool("Java"),
        Bool("SQL"),
        Bool("SQLE"),
        Int("dotNETVersion", "0", 0, 11),
        Int("SQLVersion", "0", 0, 3),
        Int("SQLEVersion", "0", 0, 14),
        Str("IEVersion", "3.0"),
        Str("ARVersion", "5.0"),
        Str("JavaVersion", "1.2"),
        Expanded("LinkDN"),
        Expanded("LinkIE"),
        Expanded("LinkAR"),
        Expanded("LinkJR"),
        Expanded("LinkSQL"),
        Expanded("LinkSQLE"),
        // Where and how.
        Expanded("InstallationPath"),
        Expanded("ProgramGroup"),
        Int("SelectFolderMode", "0", 0, 2),
        Int("InstallMode", "0", 0, 2),
        Bool("CheckVersions"),
        Str("CheckMinVer"),
        Str("CheckMaxVer"),
        Bool("PromptUninstall", "1"),
        Bool("PromptSilentUninstall"),
        Int("InstallLevel", "1", 0, 2),
        Bool("SilentInstall"),
        Expanded("MainExecutable"),
        Bool("Rollback", "1"),
        // Uninstaller and updater.
        Bool("Uninstall"),
        Bool("ShowAddRemove"),
        Bool("SilentUninstall"),
        Bool("UninstallForce"),
        Bool("UninstallRestart"),
        Bool("VisitUninstallPage"),
        Expanded("UninstallURL"),
        Bool("Updater"),
        Expanded("UpdateURL"),
        Bool("AutoCheckUpdate"),
        Str("UpdateDay", "1"),
        Bool("AutoSilentUpdate"),
        // Wizard pages.
        Bool("DialogWelcome"),
        Bool("DialogLicense"),
        Bool("DialogReadme"),
        Bool("DialogUserInfo"),
        Bool("DialogDestinationFolder"),
        Bool("DialogProgramGroup"),
        Bool("DialogReady"),
        Bool("DialogFinish"),
        Bool("ShowPublisher"),
        Bool("AcceptAgreement"),
        Bool("InfoUserName"),
        Bool("InfoCompany"),
        Bool("InfoCustom"),
        Bool("InfoUserNameReq"),
        Bool("InfoCompanyReq"),
        Bool("InfoCustomReq"),
        Expanded("InfoCustomName"),
        // Language.
        Str("DefaultLanguage", "English"),
        Bool("AutoDetectLanguage"),
        // Finish page.
        Bool("RestartComputer"),
        Bool("LaunchFile"),
        Bool("ViewReadme"),
        Bool("CustomAction"),
        Bool("LaunchFileChecked"),
        Bool("ViewReadmeChecked"),
        Bool("CustomActionChecked"),
        Expanded("LaunchFileName"),
        Expanded("ViewReadmeFile"),
        Expanded("CustomActionCommand"),
        Expanded("CustomActionName"),
    };
    // Older builders wrote these; the runtime reads none of them.
    for (const char* old :
         {"Version", "ListFiles", "ExistMode", "NotRemove", "CheckUpdateBefore"}) {
        SetupKeyRule r = Str(old);
        r.ignored = true;
        k.push_back(r);
    }
    return k;
}

const std::vector<std::string> kRoots = {"HKCR", "HKEY_CLASSES_ROOT",  "HKCU", "HKEY_CURRENT_USER",
                                         "HKLM", "HKEY_LOCAL_MACHINE", "HKU",  "HKEY_USERS"};

const std::vector<std::string> kViews = {"DEFAULT", "32-BIT", "64-BIT"};
const std::vector<std::string> kPlatforms = {"ALL", "X86", "X64"};

FieldRule Text(const char* name) {
    return {name, FieldKind::Text};
}
FieldRule Literal(const char* name) {
    return {name, FieldKind::Literal};
}
FieldRule Path(const char* name) {
    return {name, FieldKind::Path};
}
FieldRule Flag(const char* name) {
    return {name, FieldKind::Flag};
}
FieldRule Number(const char* name) {
    return {name, FieldKind::Number};
}
FieldRule Words(const char* name, std::vector<std::string> words,
                Severity unknown = Severity::Error) {
    return {name, FieldKind::Words, std::move(words), unknown};
}

std::vector<RecordRule> MakeRecordRules() {
    return {
        {"Variables",
         {Literal("name"),
          {"registry key", FieldKind::RegistryKey},
          Text("value name"),
          Words("value kind", {"STRING", "DWORD"}, Severity::Warning),
          Text("default"),
          Words("view", kViews)},
         6},
        {"Shortcuts",
         {Path("shortcut file"), Text("target"), Text("description"), Text("arguments"),
          Text("working folder"), Text("icon file"), Number("icon index"),
          Words("show state", {"NORMAL", "MAXIMIZE", "MAXIMIZED", "MINIMIZE", "MINIMIZED", "HIDE"},
                Severity::Warning)},
         8},
        {"Extensions",
         {Literal("extension"), Text("program"), Text("description"), Text("icon file"),
          Number("icon index")},
         5},
        {"Registry",
         {{"key", FieldKind::RegistryKey},
          Text("value name"),
          Words("type", {"REG_SZ", "REG_EXPAND_SZ", "REG_DWORD", "REG_BINARY"}),
          Text("data"),
          Flag("overwrite"),
          Flag("remove on uninstall"),
          Words("view", kViews)},
         7},
        {"INI",
         {Path("file"), Text("section"), Text("key"), Text("value"), Flag("overwrite"),
          Flag("remove on uninstall")},
         6},
        {"Environments",
         {Text("name"), Text("value"),
          Words("action", {"OVERWRITE", "APPEND", "PREPEND", "REMOVE"}),
          Flag("remove on uninstall")},
         4},
        {"Others",
         {Words("kind", {"FONT", "DLL/ACTIVEX", "TYPE LIBRARY", "SCREENSAVER", "WALLPAPER"}),
          Path("file"), Flag("keep")},
         3},
        {"Commands",
         {Text("program"), Text("parameters"),
          Words("window", {"NORMAL", "MAXIMIZE", "MINIMIZE", "HIDE"}, Severity::Warning),
          Words("stage",
                {"BEFORE INSTALLATION", "AT USER INFORMATION DIALOG", "AT FOLDER SELECT DIALOG",
                 "AFTER INSTALLATION", "BEFORE UNINSTALLATION", "AFTER UNINSTALLATION"}),
          Flag("wait"), Words("platform", kPlatforms, Severity::Warning), Flag("elevate")},
         7},
        {"Prerequisites",
         {Text("name"), Text("link"), Words("platform", kPlatforms, Severity::Warning),
          Words("condition",
                {"FILE EXISTS", "FILE DOESN'T EXIST", "FOLDER EXISTS", "FOLDER DOESN'T EXIST",
                 "REGISTRY KEY EXISTS", "REGISTRY KEY DOESN'T EXIST", "REGISTRY VALUE EXISTS",
                 "REGISTRY VALUE DOESN'T EXIST", "REGISTRY VALUE CONTENTS",
                 "REGISTRY VALUE DOESN'T CONTENT", "REGISTRY VALUE GREATER OR EQUAL",
                 "REGISTRY VALUE LESS OR EQUAL"}),
          Text("path"), Text("value")},
         5},
    };
}

} // namespace

const std::vector<SetupKeyRule>& SetupKeyRules() {
    static const std::vector<SetupKeyRule> rules = MakeSetupKeys();
    return rules;
}

const SetupKeyRule* FindSetupKey(const std::string& name) {
    for (const SetupKeyRule& r : SetupKeyRules())
        if (EqualsIgnoreCase(name, r.name)) return &r;
    return nullptr;
}

const std::vector<PathConstantRule>& PathConstantRules() {
    static const std::vector<PathConstantRule> rules = {
        {"<ProgramFiles>", true},
        {"<CommonFiles>", true},
        {"<WindowsDir>", true},
        {"<SystemDir>", true},
        {"<TempDir>", true},
        {"<FontsDir>", true},
        {"<MyDocuments>", true},
        {"<SystemDrive>", true},
        {"<CurrentDir>", true},
        {"<InstallDir>", true},
        {"<SentTo>", true},
        {"<Favorites>", true},
        {"<CommonFavorites>", true},
        {"<Templates>", true},
        {"<AppData>", true},
        {"<LocalSettings>", true},
        {"<UserProfile>", true},
        {"<Desktop>", true},
        {"<StartMenu>", true},
        {"<ProgramsMenu>", true},
        {"<StartUp>", true},
        {"<CommonDesktop>", true},
        {"<CommonStartMenu>", true},
        {"<CommonProgramsMenu>", true},
        {"<CommonStartUp>", true},
        {"<ProgramGroup>", true},
        {"<QuickLaunch>", true},
        {"<AppName>", false},
        {"<AppVersion>", false},
        {"<CompanyName>", false},
        {"<WebSite>", false},
        {"<SupportLink>", false},
        {"<UserName>", false},
        {"<UserCompany>", false},
        {"<Date>", false},
        {"<LocalAppData>", true},
        {"<CommonAppData>", true},
        {"<CommonMyDocuments>", true},
        {"<CommonTemplates>", true},
        {"<AllUserProfile>", true},
        {"<CustomUserInfo>", false},
        {"<Language>", false},
        {"<Lng>", false},
        {"<LngID>", false},
        {"<SetupTempDir>", true},
        {"<SystemLngID>", false},
        {"<BuildDate>", false},
        {"<SetupExe>", false},
        {"<ProgramFiles64>", true},
        {"<InstallDrive>", true},
        {"<SystemDir64>", true},
        {"<ProgramFiles86>", true},
        {"<UserProfileName>", false},
        {"<GUID>", false},
        {"<MyPictures>", true},
        {"<MyMusic>", true},
        {"<CommonPictures>", true},
        {"<CommonMusic>", true},
        {"<CommonDocuments>", true},
        {"<FormatDate>", false},
        {"<SetupFile>", false},
    };
    return rules;
}

const PathConstantRule* FindPathConstant(const std::string& name) {
    for (const PathConstantRule& r : PathConstantRules())
        if (EqualsIgnoreCase(name, r.name)) return &r;
    return nullptr;
}

const std::vector<std::string>& KnownSections() {
    static const std::vector<std::string> sections = {
        "Setup", "Payload",      "Variables", "Shortcuts", "Extensions",   "Registry",
        "INI",   "Environments", "Others",    "Commands",  "Prerequisites"};
    return sections;
}

const std::vector<RecordRule>& RecordRules() {
    static const std::vector<RecordRule> rules = MakeRecordRules();
    return rules;
}

const RecordRule* FindRecordRule(const std::string& section) {
    for (const RecordRule& r : RecordRules())
        if (EqualsIgnoreCase(section, r.section)) return &r;
    return nullptr;
}

const std::vector<std::string>& RegistryRoots() {
    return kRoots;
}

const std::vector<std::string>& ExistModes() {
    static const std::vector<std::string> modes = {"OVERWRITE", "SKIP", "ASK",
                                                   "OVERWRITE ONLY IF NEWER"};
    return modes;
}

} // namespace mksetup
