// Building and reshaping setup files for end-to-end tests.
#pragma once

#include "Diagnostics.h"

#include <functional>
#include <string>

// Builds projectDir into setupPath with the freshly built runtime. Fails the test
// (and returns false) when the builder refuses. A deliberately broken project, which
// the builder's checks would refuse, is built with the checks off.
bool BuildTestSetup(const std::string& projectDir, const std::string& setupPath,
                    bool requireSetupFiles = true,
                    mksetup::CheckLevel checks = mksetup::CheckLevel::Normal);

// Unpacks the setup cabinet of setupPath, lets edit change the text of its
// "qvsetup.ini", and writes the setup file again with the new setup cabinet.
// The engine and payload bytes stay as they are.
void RewriteSetupIni(const std::string& setupPath,
                     const std::function<void(std::string& ini)>& edit);

// Replaces the text between "key=" and the end of its line in an INI text.
void SetIniValue(std::string& ini, const std::string& key, const std::string& value);

// Sets a file's last-write time (local time, given as y m d h m s; even seconds survive
// the cabinets' DOS time format exactly). Fails the test when it cannot.
void SetFileTimeLocal(const std::string& path, int y, int mo, int d, int h, int mi, int s);
// A file's last-write time as a 64-bit count of 100 ns units (UTC).
unsigned long long FileWriteTime(const std::string& path);
