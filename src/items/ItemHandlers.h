// The installation item handlers: each takes one raw record of its configuration
// section, expands its own fields, does its work, records what it created and
// reports its own failures.
#pragma once

#include <string>

struct RunContext;

void CreateShortcut(RunContext& ctx, const std::string& record);       // [Shortcuts]
void CreateAssociation(RunContext& ctx, const std::string& record);    // [Extensions]
void WriteRegistryItem(RunContext& ctx, const std::string& record);    // [Registry]
void WriteIniItem(RunContext& ctx, const std::string& record);         // [INI]
void WriteEnvironmentItem(RunContext& ctx, const std::string& record); // [Environments]
void ProcessOtherItem(RunContext& ctx, const std::string& record);     // [Others]

// Hands the updater records (BuildUpdaterRecords) to WriteRegistryItem and WriteIniItem.
void WriteUpdaterSettings(RunContext& ctx);
