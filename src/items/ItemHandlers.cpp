#include "items/ItemHandlers.h"

// The item kinds are built one by one; a kind that is not built yet leaves its
// records untouched, so a setup that uses it installs its files and nothing more.
void CreateShortcut(RunContext&, const std::string&) {}
void CreateAssociation(RunContext&, const std::string&) {}
void WriteRegistryItem(RunContext&, const std::string&) {}
void WriteIniItem(RunContext&, const std::string&) {}
void WriteEnvironmentItem(RunContext&, const std::string&) {}
void ProcessOtherItem(RunContext&, const std::string&) {}
