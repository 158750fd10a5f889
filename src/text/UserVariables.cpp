#include "text/UserVariables.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "platform/Registry.h"
#include "run/RunContext.h"
#include "run/RunEnd.h"
#include "text/ExpandText.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace {

constexpr size_t kFieldCount = 6;

// The access a view field asks for. Anything but the three known views keeps the
// accessor's default full access in the process's own view, so such a record can
// only be read where the user may write.
REGSAM ViewAccess(const RunContext& ctx, const std::string& view) {
    if (view == "DEFAULT") return RegistryReadAccess(ctx.Is64);
    if (view == "32-BIT") return KEY_READ | KEY_WOW64_32KEY;
    if (view == "64-BIT") return RegistryReadAccess(true);
    return RegistryFullAccess(false);
}

// Reads the variable's registry value into value. False (value untouched) when the
// root is unknown; found tells whether the registry value was read.
bool ReadRegistryValue(const RunContext& ctx, const std::string& keyPath,
                       const std::string& valueName, const std::string& kind,
                       const std::string& view, std::string& value, bool& found) {
    found = false;
    const size_t slash = keyPath.find('\\');
    if (slash == std::string::npos) return false;
    HKEY root;
    if (!ParseRegistryRoot(keyPath.substr(0, slash), root)) return false;

    TRegistry reg(ViewAccess(ctx, view));
    reg.SetRootKey(root);
    if (!reg.OpenKey(keyPath.substr(slash + 1), false)) return true;
    if (reg.ValueExists(valueName)) {
        // A value of the wrong type (text where a number is wanted, binary data
        // anywhere) fails to read and leaves the default.
        if (UpperCase(kind) == "STRING") {
            std::string text;
            if (reg.ReadString(valueName, text)) {
                value = std::move(text);
                found = true;
            }
        } else {
            int32_t number = 0;
            if (reg.ReadInteger(valueName, number)) {
                value = std::to_string(number);
                found = true;
            }
        }
    }
    reg.CloseKey();
    return true;
}

bool IsStopRequest(const std::string& value) {
    return value.size() > 6 && UpperCase(value.substr(0, 5)) == "HALT(";
}

} // namespace

void EvaluateVariable(RunContext& ctx, const std::string& record) {
    const std::vector<std::string> fields = SplitRecord(record, "*?");
    if (fields.size() != kFieldCount) return;

    std::string value = ExpandText(ctx, fields[4]);
    const std::string keyPath = ExpandText(ctx, fields[1]);
    const std::string valueName = ExpandText(ctx, fields[2]);
    const std::string view = UpperCase(fields[5]);

    bool found = false;
    if (!ReadRegistryValue(ctx, keyPath, valueName, fields[3], view, value, found)) return;

    if (!found && IsStopRequest(value)) {
        // The message sits between "HALT(" and the default's last character.
        if (!ctx.Silent)
            ctx.Prompt->MessageBox(nullptr, value.substr(5, value.size() - 6), ctx.ProductTitle,
                                   MB_OK | MB_ICONWARNING);
        QuitSetup(ctx);
        return;
    }
    // The list splits each entry at its first "?": a name holding one would be cut,
    // and the piece before it replaced in every text. Such a name defines nothing.
    if (fields[0].find('?') != std::string::npos) return;
    ctx.UserVariables.push_back(fields[0] + "?" + value);
}

void EvaluateVariables(RunContext& ctx) {
    if (!ctx.Config) return;
    for (const std::string& key : ctx.Config->ReadSection("Variables")) {
        // Each record sees the variables defined before it; a stop ends the run here.
        EvaluateVariable(ctx, ctx.Config->ReadString("Variables", key, ""));
        if (!ctx.Config) return;
    }
}
