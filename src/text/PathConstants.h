// The fixed table of path constants ("<ProgramFiles>", "<InstallDir>", ...) and
// how each one's value is obtained on this machine for this run.
#pragma once

#include <optional>
#include <string>

struct RunContext;

// Constant numbers in table order; the order is also the order of replacement.
enum class PathConstant : int {
    ProgramFiles = 1,
    CommonFiles,
    WindowsDir,
    SystemDir,
    TempDir,
    FontsDir,
    MyDocuments,
    SystemDrive,
    CurrentDir,
    InstallDir,
    SentTo,
    Favorites,
    CommonFavorites,
    Templates,
    AppData,
    LocalSettings,
    UserProfile,
    Desktop,
    StartMenu,
    ProgramsMenu,
    StartUp,
    CommonDesktop,
    CommonStartMenu,
    CommonProgramsMenu,
    CommonStartUp,
    ProgramGroup,
    QuickLaunch,
    AppName,
    AppVersion,
    CompanyName,
    WebSite,
    SupportLink,
    UserName,
    UserCompany,
    Date,
    LocalAppData,
    CommonAppData,
    CommonMyDocuments,
    CommonTemplates,
    AllUserProfile,
    CustomUserInfo,
    Language,
    Lng,
    LngID,
    SetupTempDir,
    SystemLngID,
    BuildDate,
    SetupExe,
    ProgramFiles64,
    InstallDrive,
    SystemDir64,
    ProgramFiles86,
    UserProfileName,
    GUID,
    MyPictures,
    MyMusic,
    CommonPictures,
    CommonMusic,
    CommonDocuments,
    FormatDate,
    SetupFile,
};

// The last constant's number: the table holds this many rows.
constexpr int PathConstantCount = static_cast<int>(PathConstant::SetupFile);

// The constant's name with its angle brackets, as written in the table
// ("<ProgramFiles>"); empty for a number outside 1..PathConstantCount.
std::string PathConstantName(PathConstant c);

// The constant's number for a name, compared without regard to case; nullopt for
// a text that names no constant.
std::optional<PathConstant> FindPathConstant(const std::string& name);

// The value of one constant with one trailing backslash removed. A value the
// machine does not have (a missing registry value, an unknown shell folder) is
// empty text; nullopt means the value could not be computed at all (no
// configuration or language file loaded, a failing system call), in which case
// expansion leaves the name in the text.
std::optional<std::string> ComputePathConstant(const RunContext& ctx, PathConstant c);

// The file-system path of a shell folder (a CSIDL number) of the current user;
// empty when the shell does not know it.
std::string ShellFolder(int csidl);

// A variable of the process environment, read in full; empty when it is not set.
std::string EnvironmentValue(const std::string& name);
