#include "text/PathConstants.h"

#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "run/RunContext.h"

#include <shlobj.h>
#include <windows.h>

#include <cctype>
#include <vector>

namespace {

const char* const kNames[PathConstantCount] = {
    "<ProgramFiles>",
    "<CommonFiles>",
    "<WindowsDir>",
    "<SystemDir>",
    "<TempDir>",
    "<FontsDir>",
    "<MyDocuments>",
    "<SystemDrive>",
    "<CurrentDir>",
    "<InstallDir>",
    "<SentTo>",
    "<Favorites>",
    "<CommonFavorites>",
    "<Templates>",
    "<AppData>",
    "<LocalSettings>",
    "<UserProfile>",
    "<Desktop>",
    "<StartMenu>",
    "<ProgramsMenu>",
    "<StartUp>",
    "<CommonDesktop>",
    "<CommonStartMenu>",
    "<CommonProgramsMenu>",
    "<CommonStartUp>",
    "<ProgramGroup>",
    "<QuickLaunch>",
    "<AppName>",
    "<AppVersion>",
    "<CompanyName>",
    "<WebSite>",
    "<SupportLink>",
    "<UserName>",
    "<UserCompany>",
    "<Date>",
    "<LocalAppData>",
    "<CommonAppData>",
    "<CommonMyDocuments>",
    "<CommonTemplates>",
    "<AllUserProfile>",
    "<CustomUserInfo>",
    "<Language>",
    "<Lng>",
    "<LngID>",
    "<SetupTempDir>",
    "<SystemLngID>",
    "<BuildDate>",
    "<SetupExe>",
    "<ProgramFiles64>",
    "<InstallDrive>",
    "<SystemDir64>",
    "<ProgramFiles86>",
    "<UserProfileName>",
    "<GUID>",
    "<MyPictures>",
    "<MyMusic>",
    "<CommonPictures>",
    "<CommonMusic>",
    "<CommonDocuments>",
    "<FormatDate>",
    "<SetupFile>",
};

const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const char kMachineShellFolders[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kUserShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

using Value = std::optional<std::string>;

// A text value of the registry, read-only, in the view the setup asks for. When
// the first value is absent the fallback value is read instead (if given). A
// missing key or value gives empty text.
std::string RegistryText(const RunContext& ctx, HKEY root, const char* key, const char* name,
                         const char* fallback = nullptr) {
    TRegistry reg(RegistryReadAccess(ctx.Is64));
    reg.SetRootKey(root);
    std::string out;
    if (!reg.OpenKeyReadOnly(key)) return out;
    if (fallback && !reg.ValueExists(name)) name = fallback;
    if (!reg.ReadString(name, out)) out.clear();
    return out;
}

// Buffers of the fixed system folders grow when a path does not fit.
template <typename Fn> Value SystemFolder(Fn get) {
    std::vector<char> buf(256);
    for (int tries = 0; tries < 3; ++tries) {
        UINT n = get(buf.data(), static_cast<UINT>(buf.size()));
        if (n == 0) return std::nullopt;
        if (n < buf.size()) return std::string(buf.data(), n);
        buf.resize(n + 1);
    }
    return std::nullopt;
}

std::string ParentFolder(const std::string& path) {
    return ExcludeTrailingBackslash(ExtractFilePath(path));
}

// A [Setup] key of the configuration as stored; no configuration loaded is an
// error, so the name stays in the text.
Value SetupKey(const RunContext& ctx, const char* key) {
    if (!ctx.Config) return std::nullopt;
    return ctx.Config->ReadString("Setup", key, "");
}

Value LanguageInfo(const RunContext& ctx, const char* key) {
    if (!ctx.Language) return std::nullopt;
    return ctx.Language->ReadString("Info", key, "");
}

std::string RunningSetupFile(const RunContext& ctx) {
    return ctx.SetupFile.empty() ? ModulePath() : ctx.SetupFile;
}

// The drive part of the destination field: "C:" while the field is empty,
// otherwise everything before its first backslash. A field that holds only a
// drive ("D:") still names that drive; any other text without a backslash names
// none.
std::string InstallDrive(const std::string& dest) {
    if (dest.empty()) return "C:";
    size_t p = dest.find('\\');
    if (p != std::string::npos) return dest.substr(0, p);
    if (dest.size() == 2 && dest[1] == ':' && std::isalpha(static_cast<unsigned char>(dest[0])))
        return dest;
    return {};
}

Value ShortDate() {
    char buf[128];
    int n = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buf, sizeof buf);
    if (n <= 0) return std::nullopt;
    return std::string(buf, n - 1);
}

Value Compute(const RunContext& ctx, PathConstant c);

// Values built from other constants use those constants' finished values, so a
// trailing backslash never doubles up.
std::string Of(const RunContext& ctx, PathConstant c) {
    return Compute(ctx, c).value_or(std::string());
}

Value Compute(const RunContext& ctx, PathConstant c) {
    using P = PathConstant;
    Value v;
    switch (c) {
    case P::ProgramFiles:
        v = RegistryText(ctx, HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir");
        break;
    case P::CommonFiles:
        v = RegistryText(ctx, HKEY_LOCAL_MACHINE, kCurrentVersion, "CommonFilesDir");
        break;
    case P::WindowsDir:
        v = SystemFolder([](char* b, UINT n) { return GetWindowsDirectoryA(b, n); });
        break;
    case P::SystemDir:
    case P::SystemDir64:
        // The same call for both: the caller switches file-system redirection off
        // when it needs the native folder behind the name.
        v = SystemFolder([](char* b, UINT n) { return GetSystemDirectoryA(b, n); });
        break;
    case P::TempDir:
        v = SystemFolder([](char* b, UINT n) { return static_cast<UINT>(GetTempPathA(n, b)); });
        break;
    case P::FontsDir:
        v = ShellFolder(CSIDL_FONTS);
        break;
    case P::MyDocuments:
        v = ShellFolder(CSIDL_PERSONAL);
        break;
    case P::SystemDrive: {
        Value w = Compute(ctx, P::WindowsDir);
        if (w) v = w->substr(0, 2);
        break;
    }
    case P::CurrentDir:
        v = ExtractFilePath(RunningSetupFile(ctx));
        break;
    case P::InstallDir:
        v = ctx.Wizard.Edit1;
        break;
    case P::SentTo:
        v = ShellFolder(CSIDL_SENDTO);
        break;
    case P::Favorites:
        v = ShellFolder(CSIDL_FAVORITES);
        break;
    case P::CommonFavorites:
        v = ShellFolder(CSIDL_COMMON_FAVORITES);
        break;
    case P::Templates:
        v = ShellFolder(CSIDL_TEMPLATES);
        break;
    case P::AppData:
        v = ShellFolder(CSIDL_APPDATA);
        break;
    case P::LocalSettings:
        v = RegistryText(ctx, HKEY_CURRENT_USER, kUserShellFolders, "Local Settings",
                         "Local AppData");
        break;
    case P::UserProfile:
        v = ParentFolder(Of(ctx, P::Desktop));
        break;
    case P::Desktop:
        v = ShellFolder(CSIDL_DESKTOP);
        break;
    case P::StartMenu:
        v = ShellFolder(CSIDL_STARTMENU);
        break;
    case P::ProgramsMenu:
        v = ShellFolder(CSIDL_PROGRAMS);
        break;
    case P::StartUp:
        v = ShellFolder(CSIDL_STARTUP);
        break;
    case P::CommonDesktop:
        v = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
        break;
    case P::CommonStartMenu:
        v = ShellFolder(CSIDL_COMMON_STARTMENU);
        break;
    case P::CommonProgramsMenu:
        v = ShellFolder(CSIDL_COMMON_PROGRAMS);
        break;
    case P::CommonStartUp:
        v = ShellFolder(CSIDL_COMMON_STARTUP);
        break;
    case P::ProgramGroup:
        v = Of(ctx, ctx.PerUser ? P::ProgramsMenu : P::CommonProgramsMenu) + "\\" +
            ctx.Wizard.ComboBox1;
        break;
    case P::QuickLaunch:
        v = Of(ctx, P::AppData) + "\\Microsoft\\Internet Explorer\\Quick Launch";
        break;
    case P::AppName:
        v = SetupKey(ctx, "AppName");
        break;
    case P::AppVersion:
        v = SetupKey(ctx, "AppVersion");
        break;
    case P::CompanyName:
        v = SetupKey(ctx, "CompanyName");
        break;
    case P::WebSite:
        v = SetupKey(ctx, "WebSite");
        break;
    case P::SupportLink:
        v = SetupKey(ctx, "SupportLink");
        break;
    case P::UserName:
        v = ctx.Wizard.EUser;
        break;
    case P::UserCompany:
        v = ctx.Wizard.ECompany;
        break;
    case P::Date:
        v = ShortDate();
        break;
    case P::LocalAppData:
        v = ShellFolder(CSIDL_LOCAL_APPDATA);
        break;
    case P::CommonAppData:
        v = ShellFolder(CSIDL_COMMON_APPDATA);
        break;
    case P::CommonMyDocuments:
        v = Compute(ctx, P::CommonDocuments);
        break;
    case P::CommonTemplates:
        v = RegistryText(ctx, HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Templates");
        break;
    case P::AllUserProfile:
        v = ParentFolder(Of(ctx, P::CommonDesktop));
        break;
    case P::CustomUserInfo:
        v = ctx.Wizard.ECustomInfo;
        break;
    case P::Language:
        v = ctx.Wizard.ComboLng;
        break;
    case P::Lng:
        v = LanguageInfo(ctx, "lng");
        break;
    case P::LngID:
        v = LanguageInfo(ctx, "id");
        break;
    case P::SetupTempDir:
        v = ctx.SetupTempDir;
        break;
    case P::SystemLngID:
        v = std::to_string(GetSystemDefaultLangID());
        break;
    case P::BuildDate:
        v = SetupKey(ctx, "BuildDate");
        break;
    case P::SetupExe:
        v = RunningSetupFile(ctx);
        break;
    case P::ProgramFiles64:
        v = RegistryText(ctx, HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramW6432Dir",
                         "ProgramFilesDir");
        break;
    case P::InstallDrive:
        v = InstallDrive(ctx.Wizard.Edit1);
        break;
    case P::ProgramFiles86:
        v = RegistryText(ctx, HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir (x86)",
                         "ProgramFilesDir");
        break;
    case P::UserProfileName:
        v = ExtractFileName(Of(ctx, P::UserProfile));
        break;
    case P::GUID:
        v = SetupKey(ctx, "GUID");
        break;
    case P::MyPictures:
        v = RegistryText(ctx, HKEY_CURRENT_USER, kUserShellFolders, "My Pictures");
        break;
    case P::MyMusic:
        v = RegistryText(ctx, HKEY_CURRENT_USER, kUserShellFolders, "My Music");
        break;
    case P::CommonPictures:
        v = RegistryText(ctx, HKEY_LOCAL_MACHINE, kMachineShellFolders, "CommonPictures");
        break;
    case P::CommonMusic:
        v = RegistryText(ctx, HKEY_LOCAL_MACHINE, kMachineShellFolders, "CommonMusic");
        break;
    case P::CommonDocuments:
        v = RegistryText(ctx, HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Documents");
        break;
    case P::FormatDate:
        v = CompactDate();
        break;
    case P::SetupFile:
        v = ExtractFileName(RunningSetupFile(ctx));
        break;
    }
    if (v) *v = ExcludeTrailingBackslash(*v);
    return v;
}

} // namespace

std::string PathConstantName(PathConstant c) {
    int n = static_cast<int>(c);
    if (n < 1 || n > PathConstantCount) return {};
    return kNames[n - 1];
}

std::optional<PathConstant> FindPathConstant(const std::string& name) {
    for (int n = 1; n <= PathConstantCount; ++n)
        if (SameText(name, kNames[n - 1])) return static_cast<PathConstant>(n);
    return std::nullopt;
}

std::optional<std::string> ComputePathConstant(const RunContext& ctx, PathConstant c) {
    int n = static_cast<int>(c);
    if (n < 1 || n > PathConstantCount) return std::nullopt;
    return Compute(ctx, c);
}

std::string ShellFolder(int csidl) {
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &pidl)) || !pidl) return {};
    char buf[MAX_PATH + 1] = {};
    BOOL ok = SHGetPathFromIDListA(pidl, buf);
    CoTaskMemFree(pidl);
    return ok ? std::string(buf) : std::string();
}

std::string EnvironmentValue(const std::string& name) {
    if (name.empty()) return {};
    // A long value (PATH often is) is read in full rather than cut at the first
    // buffer's size; a retry covers a value that grew in between.
    std::vector<char> buf(260);
    for (int tries = 0; tries < 3; ++tries) {
        DWORD n = GetEnvironmentVariableA(name.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return std::string(buf.data(), n);
        buf.resize(n + 1);
    }
    return {};
}
