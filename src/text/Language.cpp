#include "text/Language.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "run/SetupKeys.h"
#include "text/ExpandText.h"

#include <windows.h>

#include <memory>

namespace {

struct Fallback {
    const char* section;
    int index;
    const char* text;
};

// Texts a language file may lack without leaving a status line or an error box blank.
constexpr Fallback kFallbacks[] = {
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
    // The English file has no text for the newer-installed-copy question; its two
    // arguments are the product with the installed version, then this setup's version.
    {"Messages", 30,
     "%s is already installed on this computer and is newer than the version of this "
     "setup (%s).<#><#>Do you want to continue anyway?"},
};

// Whether the file can be opened for reading now (it exists and nobody locks it).
bool CanRead(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool EndsWithIgnoringCase(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && SameText(s.substr(s.size() - tail.size()), tail);
}

std::string FormatWith(const std::string& text, const std::string* args, size_t count) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 1 < text.size()) {
            char d = text[i + 1];
            if (d == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (d == 's' || d == 'S') {
                if (next < count) out += args[next];
                ++next;
                ++i;
                continue;
            }
        }
        out += c;
    }
    std::string result;
    result.reserve(out.size());
    for (size_t i = 0; i < out.size();) {
        if (out.compare(i, 3, "<#>") == 0) {
            result += "\r\n";
            i += 3;
        } else {
            result += out[i++];
        }
    }
    return result;
}

} // namespace

std::vector<std::string> ListLanguages(const std::string& folder) {
    std::vector<std::string> names;
    const std::string suffix = kLanguageFileSuffix;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(JoinPath(folder, "*" + suffix).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        // The pattern also matches through short names ("Aqv.lngx" is "AQV~1.LNG"), so
        // the long name must really end in the suffix.
        std::string file = fd.cFileName;
        if (!EndsWithIgnoringCase(file, suffix)) continue;
        names.push_back(file.substr(0, file.size() - suffix.size()));
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

std::string LanguageFilePath(const RunContext& ctx, const std::string& name) {
    return JoinPath(ctx.SetupTempDir, name + kLanguageFileSuffix);
}

void ChooseLanguage(RunContext& ctx) {
    ctx.Lang.Languages = ListLanguages(ctx.SetupTempDir);
    ctx.Lang.LanguageIndex = -1;
    if (ctx.Lang.Languages.empty()) {
        FailSetup(ctx, kExitNoLanguage);
        return;
    }

    int selected = -1;
    const std::string wanted = ReadSetupString(ctx, "DefaultLanguage");
    for (size_t i = 0; i < ctx.Lang.Languages.size(); ++i) {
        if (SameText(ctx.Lang.Languages[i], wanted)) {
            selected = static_cast<int>(i);
            break;
        }
    }

    if (ReadSetupBool(ctx, "AutoDetectLanguage")) {
        // Compared as text: "01033" is not 1033.
        const std::string system = std::to_string(GetSystemDefaultLangID());
        for (size_t i = 0; i < ctx.Lang.Languages.size(); ++i) {
            TIniFile file(LanguageFilePath(ctx, ctx.Lang.Languages[i]));
            if (file.ReadString("Info", "id", "") == system) selected = static_cast<int>(i);
        }
    }

    // Neither rule chose, or the chosen file went unreadable: the first readable entry,
    // so every text of the run comes from a real language file.
    if (selected < 0 || !CanRead(LanguageFilePath(ctx, ctx.Lang.Languages[selected]))) {
        selected = -1;
        for (size_t i = 0; i < ctx.Lang.Languages.size() && selected < 0; ++i)
            if (CanRead(LanguageFilePath(ctx, ctx.Lang.Languages[i])))
                selected = static_cast<int>(i);
    }
    if (selected < 0) {
        FailSetup(ctx, kExitNoLanguage);
        return;
    }
    SelectLanguage(ctx, selected);
}

void SelectLanguage(RunContext& ctx, int index) {
    if (index < 0 || static_cast<size_t>(index) >= ctx.Lang.Languages.size()) return;
    ctx.Lang.LanguageIndex = index;
    ctx.Wizard.ComboLng = ctx.Lang.Languages[index];
    ApplyLanguage(ctx, LanguageFilePath(ctx, ctx.Wizard.ComboLng));
}

void ApplyLanguage(RunContext& ctx, const std::string& path) {
    ctx.Language = std::make_unique<TIniFile>(path);
    ctx.Lang.TitleCaption = ExpandText(ctx, LanguageText(ctx, "Title", 0));
    ctx.Lang.LanguageLabel1 = ExpandText(ctx, LanguageText(ctx, "Language", 0));
    ctx.Lang.LanguageLabel2 = ExpandText(ctx, LanguageText(ctx, "Language", 1));
    ctx.Lang.BtnBackCaption = LanguageText(ctx, "Buttons", 0);
    ctx.Lang.BtnNextCaption = LanguageText(ctx, "Buttons", 1);
    ctx.Lang.BtnCancelCaption = LanguageText(ctx, "Buttons", 2);
    if (ctx.Config && ctx.Config->SectionExists("Extensions")) {
        ctx.Lang.AssociateCaption = AssociationCaption(ctx);
        ctx.Lang.ShowAssociate = true;
        ctx.Wizard.CheckAssociate = true;
    }
}

std::string LanguageTextFallback(const std::string& section, int index) {
    for (const Fallback& f : kFallbacks)
        if (f.index == index && SameText(section, f.section)) return f.text;
    return {};
}

std::string LanguageText(const RunContext& ctx, const std::string& section, int index) {
    std::string fallback = LanguageTextFallback(section, index);
    if (!ctx.Language) return fallback;
    // Asked of the file itself each time, never of a kept copy: a start-up command or
    // an item of the run may rewrite the language file, and what is shown afterwards
    // must be the file as it is then.
    return ctx.Language->ReadStringFromFile(section, std::to_string(index), fallback);
}

std::string FormatText(const std::string& text, const std::string& arg) {
    return FormatWith(text, &arg, 1);
}

std::string FormatText(const std::string& text, const std::string& arg1, const std::string& arg2) {
    const std::string args[2] = {arg1, arg2};
    return FormatWith(text, args, 2);
}

std::string ExtensionList(const RunContext& ctx) {
    std::string list;
    if (!ctx.Config) return list;
    for (const std::string& key : ctx.Config->ReadSection("Extensions")) {
        std::string record = ctx.Config->ReadString("Extensions", key, "");
        list += " ." + record.substr(0, record.find("*?"));
    }
    return list;
}

std::string AssociationCaption(const RunContext& ctx) {
    return FormatText(LanguageText(ctx, "ShortcutsFolder", 6), ExtensionList(ctx));
}
