#include "wizard/Appearance.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "run/RunContext.h"

#include <windows.h>

namespace {

void AnnounceFontChange() {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
}

void ReadSize(const TIniFile& ini, const char* key, int& size) {
    int32_t v = ini.ReadInteger("Font", key, size);
    if (v >= 1 && v <= 72) size = v;
}

} // namespace

std::string UiFontFile(const RunContext& ctx) {
    if (ctx.SetupTempDir.empty()) return {};
    std::string found;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(JoinPath(ctx.SetupTempDir, "*.ttf").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return {};
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            found = JoinPath(ctx.SetupTempDir, fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return found;
}

WizardFont ReadWizardFont(const RunContext& ctx) {
    WizardFont font;
    const std::string file = UiFontFile(ctx);
    if (!file.empty()) {
        // The face name is taken from the file name: a file named after its face.
        std::string name = ExtractFileName(file);
        if (name.size() > 4) font.face = name.substr(0, name.size() - 4);
    }
    const std::string settings = JoinPath(ctx.SetupTempDir, "font.ini");
    if (!ctx.SetupTempDir.empty() && FileExists(settings)) {
        TIniFile ini(settings);
        ReadSize(ini, "TextSize", font.textSize);
        font.pageTitleSize = font.textSize;
        ReadSize(ini, "HeaderSize", font.largeTitleSize);
        int32_t charset = ini.ReadInteger("Font", "Charset", font.charset);
        if (charset >= 0 && charset <= 255) font.charset = charset;
    }
    return font;
}

bool ApplyAppearance(RunContext& ctx) {
    const std::string file = UiFontFile(ctx);
    if (!file.empty() && AddFontResourceA(file.c_str()) > 0) {
        AnnounceFontChange();
        ProcessMessages();
    }
    return true;
}

void RemoveWizardFont(const RunContext& ctx) {
    const std::string file = UiFontFile(ctx);
    if (file.empty()) return;
    if (RemoveFontResourceA(file.c_str())) AnnounceFontChange();
}
