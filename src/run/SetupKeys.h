// The scalar settings of the configuration's [Setup] section, read with the
// defaults every part of the runtime assumes for a key that is absent.
#pragma once

#include <cstdint>
#include <string>

struct RunContext;

inline constexpr const char* kSetupSection = "Setup";

// The default of a [Setup] key as text ("3.0", "1", "English", ...). Keys are matched
// ignoring case; every key without an entry of its own defaults to empty text or 0.
std::string SetupKeyDefault(const std::string& key);

// The key's value from ctx.Config, or its default when the key is absent (or, for the
// integer and boolean forms, not a number). Without a configuration reader: the default.
std::string ReadSetupString(const RunContext& ctx, const std::string& key);
int32_t ReadSetupInteger(const RunContext& ctx, const std::string& key);
bool ReadSetupBool(const RunContext& ctx, const std::string& key);
