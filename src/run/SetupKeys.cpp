#include "run/SetupKeys.h"

#include "platform/FileUtil.h"
#include "run/RunContext.h"

namespace {

struct KeyDefault {
    const char* key;
    const char* value;
};

// Only the keys whose default is neither empty text nor 0.
constexpr KeyDefault kDefaults[] = {
    {"Admin", "1"}, // requires administrator rights unless told otherwise
    {"IEVersion", "3.0"},   {"ARVersion", "5.0"},
    {"JavaVersion", "1.2"}, {"PromptUninstall", "1"},
    {"InstallLevel", "1"}, // all users
    {"UpdateDay", "1"},     {"DefaultLanguage", "English"},
    {"Rollback", "1"}, // an installation that does not finish is undone
};

} // namespace

std::string SetupKeyDefault(const std::string& key) {
    for (const KeyDefault& d : kDefaults)
        if (SameText(key, d.key)) return d.value;
    return {};
}

std::string ReadSetupString(const RunContext& ctx, const std::string& key) {
    std::string def = SetupKeyDefault(key);
    return ctx.Config ? ctx.Config->ReadString(kSetupSection, key, def) : def;
}

int32_t ReadSetupInteger(const RunContext& ctx, const std::string& key) {
    int32_t def = 0;
    ParseIniInteger(SetupKeyDefault(key), def);
    return ctx.Config ? ctx.Config->ReadInteger(kSetupSection, key, def) : def;
}

bool ReadSetupBool(const RunContext& ctx, const std::string& key) {
    return ReadSetupInteger(ctx, key) != 0;
}
