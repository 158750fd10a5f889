#include "SetupFiles.h"

#include "CabWriter.h"
#include "TestSupport.h"
#include "package/CabSTComps.h"
#include "package/SetupPackage.h"

#include <windows.h>

#include <gtest/gtest.h>

mksetup::BuildReport BuildSetupFile(const std::string& projectDir, const std::string& setupPath,
                                    bool requireSetupFiles, const std::string& stubPath,
                                    mksetup::CheckLevel checks) {
    mksetup::BuildOptions o;
    o.checks = checks;
    o.projectDir = projectDir;
    o.outputPath = setupPath;
    o.stubPath = stubPath;
    o.requireSetupFiles = requireSetupFiles;
    return mksetup::BuildSetup(o);
}

bool BuildTestSetup(const std::string& projectDir, const std::string& setupPath,
                    bool requireSetupFiles, mksetup::CheckLevel checks) {
    try {
        BuildSetupFile(projectDir, setupPath, requireSetupFiles, QV_SETUPSTUB_PATH, checks);
        return true;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "mksetup: " << e.what();
        return false;
    }
}

void RewriteSetupIni(const std::string& setupPath,
                     const std::function<void(std::string& ini)>& edit) {
    const std::string file = ReadFileBytes(setupPath);
    ASSERT_GT(file.size(), kTrailerSize);
    uint32_t size = 0;
    ASSERT_TRUE(ParseTrailerNumber(file.data() + file.size() - 10, size));
    const size_t cabStart = file.size() - kTrailerSize - size;

    ScratchDir work;
    const std::string cab = work / "setup.cab";
    const std::string dir = work / "files";
    CreateDirectoryA(dir.c_str(), nullptr);
    WriteFileBytes(cab, file.substr(cabStart, size));
    TSTCabReader reader;
    reader.ExtractFiles(cab, dir);

    std::string ini = ReadFileBytes(dir + "\\qvsetup.ini");
    edit(ini);
    WriteFileBytes(dir + "\\qvsetup.ini", ini);

    std::vector<mksetup::CabEntry> entries;
    for (const std::string& name : ListFiles(dir))
        entries.push_back({dir + "\\" + name, name});
    ASSERT_FALSE(entries.empty());
    const std::string newCab = work / "new.cab";
    mksetup::WriteCabinet(newCab, entries);
    const std::string cabBytes = ReadFileBytes(newCab);
    WriteFileBytes(setupPath, file.substr(0, cabStart) + cabBytes +
                                  FormatTrailer(static_cast<uint32_t>(cabBytes.size())));
}

void SetIniValue(std::string& ini, const std::string& key, const std::string& value) {
    const std::string marker = "\n" + key + "=";
    size_t at = ini.find(marker);
    ASSERT_NE(at, std::string::npos) << "no key " << key;
    at += marker.size();
    size_t end = ini.find_first_of("\r\n", at);
    ini.replace(at, end == std::string::npos ? std::string::npos : end - at, value);
}
