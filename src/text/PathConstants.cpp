#include "text/PathConstants.h"

#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "run/RunContext.h"

#include <shlobj.h>
#include <windows.h>

#include <cctype>
#include <iterator>
#include <vector>

namespace {

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

using P = PathConstant;

// One row per constant, in the order of replacement: its name and how its value is
// obtained. The rows' order is the enum's (checked below), so a constant is added in
// one place here and once in the enum.
struct Row {
    PathConstant constant;
    const char* name;
    Value (*compute)(const RunContext&);
};

constexpr Row kTable[] = {
    {P::ProgramFiles, "<ProgramFiles>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir");
     }},
    {P::CommonFiles, "<CommonFiles>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_LOCAL_MACHINE, kCurrentVersion, "CommonFilesDir");
     }},
    {P::WindowsDir, "<WindowsDir>",
     [](const RunContext&) -> Value {
         return SystemFolder([](char* b, UINT n) { return GetWindowsDirectoryA(b, n); });
     }},
    // The same call for both: the caller switches file-system redirection off when it
    // needs the native folder behind the name.
    {P::SystemDir, "<SystemDir>",
     [](const RunContext&) -> Value {
         return SystemFolder([](char* b, UINT n) { return GetSystemDirectoryA(b, n); });
     }},
    {P::TempDir, "<TempDir>",
     [](const RunContext&) -> Value {
         return SystemFolder([](char* b, UINT n) { return static_cast<UINT>(GetTempPathA(n, b)); });
     }},
    {P::FontsDir, "<FontsDir>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_FONTS); }},
    {P::MyDocuments, "<MyDocuments>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_PERSONAL); }},
    {P::SystemDrive, "<SystemDrive>",
     [](const RunContext& ctx) -> Value {
         Value w = Compute(ctx, P::WindowsDir);
         return w ? Value(w->substr(0, 2)) : std::nullopt;
     }},
    {P::CurrentDir, "<CurrentDir>",
     [](const RunContext& ctx) -> Value { return ExtractFilePath(RunningSetupFile(ctx)); }},
    {P::InstallDir, "<InstallDir>",
     [](const RunContext& ctx) -> Value { return ctx.Wizard.Edit1; }},
    {P::SentTo, "<SentTo>", [](const RunContext&) -> Value { return ShellFolder(CSIDL_SENDTO); }},
    {P::Favorites, "<Favorites>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_FAVORITES); }},
    {P::CommonFavorites, "<CommonFavorites>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_COMMON_FAVORITES); }},
    {P::Templates, "<Templates>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_TEMPLATES); }},
    {P::AppData, "<AppData>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_APPDATA); }},
    {P::LocalSettings, "<LocalSettings>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_CURRENT_USER, kUserShellFolders, "Local Settings",
                             "Local AppData");
     }},
    {P::UserProfile, "<UserProfile>",
     [](const RunContext& ctx) -> Value { return ParentFolder(Of(ctx, P::Desktop)); }},
    {P::Desktop, "<Desktop>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_DESKTOP); }},
    {P::StartMenu, "<StartMenu>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_STARTMENU); }},
    {P::ProgramsMenu, "<ProgramsMenu>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_PROGRAMS); }},
    {P::StartUp, "<StartUp>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_STARTUP); }},
    {P::CommonDesktop, "<CommonDesktop>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY); }},
    {P::CommonStartMenu, "<CommonStartMenu>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_COMMON_STARTMENU); }},
    {P::CommonProgramsMenu, "<CommonProgramsMenu>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_COMMON_PROGRAMS); }},
    {P::CommonStartUp, "<CommonStartUp>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_COMMON_STARTUP); }},
    {P::ProgramGroup, "<ProgramGroup>",
     [](const RunContext& ctx) -> Value {
         return Of(ctx, ctx.PerUser ? P::ProgramsMenu : P::CommonProgramsMenu) + "\\" +
                ctx.Wizard.ComboBox1;
     }},
    {P::QuickLaunch, "<QuickLaunch>",
     [](const RunContext& ctx) -> Value {
         return Of(ctx, P::AppData) + "\\Microsoft\\Internet Explorer\\Quick Launch";
     }},
    {P::AppName, "<AppName>",
     [](const RunContext& ctx) -> Value { return SetupKey(ctx, "AppName"); }},
    {P::AppVersion, "<AppVersion>",
     [](const RunContext& ctx) -> Value { return SetupKey(ctx, "AppVersion"); }},
    {P::CompanyName, "<CompanyName>",
     [](const RunContext& ctx) -> Value { return SetupKey(ctx, "CompanyName"); }},
    {P::WebSite, "<WebSite>",
     [](const RunContext& ctx) -> Value { return SetupKey(ctx, "WebSite"); }},
    {P::SupportLink, "<SupportLink>",
     [](const RunContext& ctx) -> Value { return SetupKey(ctx, "SupportLink"); }},
    {P::UserName, "<UserName>", [](const RunContext& ctx) -> Value { return ctx.Wizard.EUser; }},
    {P::UserCompany, "<UserCompany>",
     [](const RunContext& ctx) -> Value { return ctx.Wizard.ECompany; }},
    {P::Date, "<Date>", [](const RunContext&) -> Value { return ShortDate(); }},
    {P::LocalAppData, "<LocalAppData>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_LOCAL_APPDATA); }},
    {P::CommonAppData, "<CommonAppData>",
     [](const RunContext&) -> Value { return ShellFolder(CSIDL_COMMON_APPDATA); }},
    {P::CommonMyDocuments, "<CommonMyDocuments>",
     [](const RunContext& ctx) -> Value { return Compute(ctx, P::CommonDocuments); }},
    {P::CommonTemplates, "<CommonTemplates>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Templates");
     }},
    {P::AllUserProfile, "<AllUserProfile>",
     [](const RunContext& ctx) -> Value { return ParentFolder(Of(ctx, P::CommonDesktop)); }},
    {P::CustomUserInfo, "<CustomUserInfo>",
     [](const RunContext& ctx) -> Value { return ctx.Wizard.ECustomInfo; }},
    {P::Language, "<Language>", [](const RunContext& ctx) -> Value { return ctx.Wizard.ComboLng; }},
    {P::Lng, "<Lng>", [](const RunContext& ctx) -> Value { return LanguageInfo(ctx, "lng"); }},
    {P::LngID, "<LngID>", [](const RunContext& ctx) -> Value { return LanguageInfo(ctx, "id"); }},
    {P::SetupTempDir, "<SetupTempDir>",
     [](const RunContext& ctx) -> Value { return ctx.SetupTempDir; }},
    {P::SystemLngID, "<SystemLngID>",
     [](const RunContext&) -> Value { return std::to_string(GetSystemDefaultLangID()); }},
    {P::BuildDate, "<BuildDate>",
     [](const RunContext& ctx) -> Value { return SetupKey(ctx, "BuildDate"); }},
    {P::SetupExe, "<SetupExe>",
     [](const RunContext& ctx) -> Value { return RunningSetupFile(ctx); }},
    {P::ProgramFiles64, "<ProgramFiles64>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramW6432Dir",
                             "ProgramFilesDir");
     }},
    {P::InstallDrive, "<InstallDrive>",
     [](const RunContext& ctx) -> Value { return InstallDrive(ctx.Wizard.Edit1); }},
    {P::SystemDir64, "<SystemDir64>",
     [](const RunContext&) -> Value {
         return SystemFolder([](char* b, UINT n) { return GetSystemDirectoryA(b, n); });
     }},
    {P::ProgramFiles86, "<ProgramFiles86>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir (x86)",
                             "ProgramFilesDir");
     }},
    {P::UserProfileName, "<UserProfileName>",
     [](const RunContext& ctx) -> Value { return ExtractFileName(Of(ctx, P::UserProfile)); }},
    {P::GUID, "<GUID>", [](const RunContext& ctx) -> Value { return SetupKey(ctx, "GUID"); }},
    {P::MyPictures, "<MyPictures>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_CURRENT_USER, kUserShellFolders, "My Pictures");
     }},
    {P::MyMusic, "<MyMusic>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_CURRENT_USER, kUserShellFolders, "My Music");
     }},
    {P::CommonPictures, "<CommonPictures>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_LOCAL_MACHINE, kMachineShellFolders, "CommonPictures");
     }},
    {P::CommonMusic, "<CommonMusic>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_LOCAL_MACHINE, kMachineShellFolders, "CommonMusic");
     }},
    {P::CommonDocuments, "<CommonDocuments>",
     [](const RunContext& ctx) -> Value {
         return RegistryText(ctx, HKEY_LOCAL_MACHINE, kMachineShellFolders, "Common Documents");
     }},
    {P::FormatDate, "<FormatDate>", [](const RunContext&) -> Value { return CompactDate(); }},
    {P::SetupFile, "<SetupFile>",
     [](const RunContext& ctx) -> Value { return ExtractFileName(RunningSetupFile(ctx)); }},
};

static_assert(std::size(kTable) == PathConstantCount);

constexpr bool RowsInEnumOrder() {
    for (size_t i = 0; i < std::size(kTable); ++i)
        if (static_cast<size_t>(kTable[i].constant) != i + 1) return false;
    return true;
}
static_assert(RowsInEnumOrder(), "kTable's rows must follow PathConstant's order");

Value Compute(const RunContext& ctx, PathConstant c) {
    Value v = kTable[static_cast<int>(c) - 1].compute(ctx);
    if (v) *v = ExcludeTrailingBackslash(*v);
    return v;
}

} // namespace

std::string PathConstantName(PathConstant c) {
    int n = static_cast<int>(c);
    if (n < 1 || n > PathConstantCount) return {};
    return kTable[n - 1].name;
}

std::optional<PathConstant> FindPathConstant(const std::string& name) {
    for (const Row& row : kTable)
        if (SameText(name, row.name)) return row.constant;
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
