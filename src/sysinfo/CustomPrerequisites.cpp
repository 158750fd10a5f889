#include "sysinfo/CustomPrerequisites.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/MessagePump.h"
#include "platform/Registry.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "sysinfo/OpenLink.h"
#include "sysinfo/SystemInfo.h"
#include "text/ExpandText.h"
#include "text/Language.h"
#include "text/Versions.h"

#include <windows.h>

#include <vector>

namespace {

// The text after the first "\" (the whole text when there is none).
std::string AfterRoot(const std::string& path) {
    size_t slash = path.find('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A read-only accessor rooted at the path's hive; an unknown root (or none) means
// the current user's hive.
void SetRoot(TRegistry& reg, const std::string& path) {
    size_t slash = path.find('\\');
    HKEY root = HKEY_CURRENT_USER;
    if (slash == std::string::npos || !ParseRegistryRoot(path.substr(0, slash), root))
        root = HKEY_CURRENT_USER;
    reg.SetRootKey(root);
}

enum class Value { NoKey, NoValue, NotText, Text };

// Reads the value a value condition names. A value that is not text cannot be
// compared, so the conditions reading it treat it as unmet.
Value ReadValue(const std::string& path, bool view64, std::string& text) {
    TRegistry reg(RegistryReadAccess(view64));
    SetRoot(reg, path);
    if (!reg.OpenKey(RegistryPathPart(path, true), false)) return Value::NoKey;
    const std::string name = RegistryPathPart(path, false);
    if (!reg.ValueExists(name)) return Value::NoValue;
    return reg.ReadString(name, text) ? Value::Text : Value::NotText;
}

} // namespace

std::string RegistryPathPart(const std::string& path, bool wantKeyPath) {
    std::string rest = AfterRoot(path);
    size_t last = rest.rfind('\\');
    if (last == std::string::npos) return rest;
    return wantKeyPath ? rest.substr(0, last) : rest.substr(last + 1);
}

bool CustomConditionMet(const std::string& condition, const std::string& path,
                        const std::string& value, bool view64) {
    if (condition == "FILE EXISTS") return FileExists(path);
    if (condition == "FILE DOESN'T EXIST") return !FileExists(path);
    if (condition == "FOLDER EXISTS") return DirectoryExists(path);
    if (condition == "FOLDER DOESN'T EXIST") return !DirectoryExists(path);
    if (condition == "REGISTRY KEY EXISTS" || condition == "REGISTRY KEY DOESN'T EXIST") {
        TRegistry reg(RegistryReadAccess(view64));
        SetRoot(reg, path);
        return reg.KeyExists(AfterRoot(path)) == (condition == "REGISTRY KEY EXISTS");
    }
    static const char* const kValueConditions[] = {
        "REGISTRY VALUE EXISTS",           "REGISTRY VALUE DOESN'T EXIST",
        "REGISTRY VALUE CONTENTS",         "REGISTRY VALUE DOESN'T CONTENT",
        "REGISTRY VALUE GREATER OR EQUAL", "REGISTRY VALUE LESS OR EQUAL"};
    int kind = 0;
    while (kind < 6 && condition != kValueConditions[kind])
        ++kind;
    if (kind == 6) return true; // a condition that needs no test
    std::string text;
    const Value got = ReadValue(path, view64, text);
    if (kind < 2) return (got >= Value::NotText) == (kind == 0);
    if (got == Value::NotText) return false;
    if (got != Value::Text) return kind == 3; // no key or no value: only "doesn't content"
    // An empty value field is found in no text.
    const bool found = !value.empty() && text.find(value) != std::string::npos;
    switch (kind) {
    case 2:
        return found;
    case 3:
        return !found;
    case 4:
        return !IsNewerVersion(value, text);
    default:
        return !IsNewerVersion(text, value);
    }
}

void CheckCustomPrerequisite(RunContext& ctx, const std::string& record) {
    std::vector<std::string> f = SplitRecord(record, "*?");
    if (f.size() == 5) f.emplace_back(); // the split loses an empty value field
    if (f.size() != 6) return;
    const std::string platform = UpperCase(f[2]);
    if ((platform == "X64" && !TOSInfo::IsWow64()) || (platform == "X86" && TOSInfo::IsWow64()))
        return;
    const std::string name = ExpandText(ctx, f[0]), link = ExpandText(ctx, f[1]);
    const std::string condition = UpperCase(f[3]);
    const std::string path = ExpandText(ctx, f[4]), value = ExpandText(ctx, f[5]);
    const bool view64 = ctx.Is64 && platform == "X64";
    while (!CustomConditionMet(condition, path, value, view64)) {
        const std::string text = FormatText(LanguageText(ctx, "Messages", 27), name);
        if (ctx.Prompt->MessageBox(nullptr, text, ctx.Lang.TitleCaption,
                                   MB_YESNO | MB_ICONWARNING) != IDYES ||
            !OpenLink(ctx, link, true, true))
            return RefuseSetup(ctx);
        // The pause lets the installer that just ran settle before the condition is
        // tested again; the first test needs none (it cost every setup half a second
        // for each record).
        Sleep(500);
        ProcessMessages();
    }
}
