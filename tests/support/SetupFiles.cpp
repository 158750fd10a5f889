#include "SetupFiles.h"

#include "Builder.h"
#include "CabWriter.h"
#include "TestSupport.h"
#include "package/CabSTComps.h"
#include "package/SetupPackage.h"

#include <windows.h>

#include <gtest/gtest.h>

bool BuildTestSetup(const std::string& projectDir, const std::string& setupPath,
                    bool requireSetupFiles, mksetup::CheckLevel checks) {
    mksetup::BuildOptions o;
    o.checks = checks;
    o.projectDir = projectDir;
    o.outputPath = setupPath;
    o.stubPath = QV_SETUPSTUB_PATH;
    o.requireSetupFiles = requireSetupFiles;
    try {
        mksetup::BuildSetup(o);
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
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            entries.push_back({dir + "\\" + fd.cFileName, fd.cFileName});
    } while (FindNextFileA(h, &fd));
    FindClose(h);
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

void SetFileTimeLocal(const std::string& path, int y, int mo, int d, int h, int mi, int s) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    FILETIME local, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    HANDLE f = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << "cannot open " << path;
    BOOL ok = SetFileTime(f, nullptr, nullptr, &utc);
    CloseHandle(f);
    ASSERT_TRUE(ok) << "cannot set the time of " << path;
}

unsigned long long FileWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return 0;
    return (static_cast<unsigned long long>(a.ftLastWriteTime.dwHighDateTime) << 32) |
           a.ftLastWriteTime.dwLowDateTime;
}
