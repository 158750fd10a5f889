// An installed copy of the product: found through its installed-programs entry,
// offered for removal before a new installation, or required by an update.
#pragma once

#include <string>

struct RunContext;

struct InstalledCopy {
    std::string uninstallString; // empty when no entry was found
    std::string version;         // [General] AppVersion of its Uninstall.ini
};

// Looks the installed copy up by <GUID>, then by <AppName>.
InstalledCopy FindInstalledCopy(RunContext& ctx);

// Removes an installed copy before a new installation (InstallMode 0), asking as
// configured. May end the run through QuitSetup.
void HandlePreviousInstallation(RunContext& ctx);

// Update mode (InstallMode 1): an installed copy must exist, within the configured
// versions; the destination is fixed to its folder. May end the run.
void EnterUpdateMode(RunContext& ctx);

// How often an installed copy is uninstalled without asking before the setup gives
// up waiting for it to disappear and installs over it.
constexpr int kMaxUnattendedUninstalls = 3;
