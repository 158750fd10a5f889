// Building and reshaping setup files for end-to-end tests, and the folders of one case.
#pragma once

#include "Builder.h"
#include "Diagnostics.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

// Builds projectDir into setupPath with the freshly built runtime (or the program at
// stubPath); throws the builder's error. A deliberately broken project, which the
// builder's checks would refuse, is built with the checks off.
mksetup::BuildReport BuildSetupFile(const std::string& projectDir, const std::string& setupPath,
                                    bool requireSetupFiles = true,
                                    const std::string& stubPath = QV_SETUPSTUB_PATH,
                                    mksetup::CheckLevel checks = mksetup::CheckLevel::Normal);
// The same, but a refusal fails the test (and returns false).
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

// The places of one end-to-end case, all in one scratch folder: the TEMP its setups run
// with (created before the test), the project and the setup file.
class SetupFixture : public ::testing::Test {
  protected:
    void SetUp() override { CreateDirectoryA(temp.c_str(), nullptr); }

    ScratchDir work;
    std::string temp = work / "temp";
    std::string project = work / "project";
    std::string setup = work / "setup.exe";
};
