// The programs we ship import only known DLLs. Windows resolves a program's imports
// before its first line runs, searching the program's own folder first for every DLL
// that is not a known DLL; a setup run from a Downloads folder would load a planted
// copy from there, and nothing the program does later can undo it. Everything else is
// bound at run time from the system folder (platform/SystemLibrary).
#include "PeImports.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Known DLLs: Windows maps the libraries named in the registry key
// "HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs" from its own
// folder at start and never searches for them. Only names on that list in every Windows from 7 to
// 11 belong here (urlmon, wininet and usp10 were dropped after Windows 7 and are not known on 10).
// Each entry says why a shipped program may import it.
struct Allowed {
    const char* dll;
    const char* why;
};
const Allowed kAllowed[] = {
    // The loader itself: mapped into every process before any search.
    {"ntdll.dll", "always loaded, never searched for"},
    {"kernel32.dll", "known DLL: files, processes, the loader's own calls"},
    {"msvcrt.dll", "known DLL: MinGW's C runtime"},
    {"user32.dll", "known DLL: windows, message boxes"},
    {"gdi32.dll", "known DLL: pictures and fonts of the wizard"},
    {"advapi32.dll", "known DLL: registry, tokens, security descriptors"},
    {"shell32.dll", "known DLL: special folders, shell links, ShellExecute"},
    {"ole32.dll", "known DLL: COM for shell links and the folder browser"},
    {"oleaut32.dll", "known DLL: type-library registration"},
    {"shlwapi.dll", "known DLL: path helpers of the shell"},
    {"comdlg32.dll", "known DLL: the open-file dialog"},
};

bool IsAllowed(const std::string& dll) {
    return std::any_of(std::begin(kAllowed), std::end(kAllowed),
                       [&](const Allowed& a) { return _stricmp(a.dll, dll.c_str()) == 0; });
}

// Every imported or delay-loaded DLL that is not on the list.
std::vector<std::string> NotAllowed(const PeImports& imports) {
    std::vector<std::string> out;
    for (const auto* list : {&imports.imported, &imports.delayLoaded})
        for (const std::string& dll : *list)
            if (!IsAllowed(dll)) out.push_back(dll);
    return out;
}

std::string WinePath(std::string hostPath) {
    std::replace(hostPath.begin(), hostPath.end(), '/', '\\');
    return "Z:" + hostPath;
}

// The shipped programs the build names, then every other program in its bin folder.
std::vector<std::string> ShippedPrograms() {
    std::vector<std::string> programs;
    std::string list = QV_SHIPPED_PROGRAMS;
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find('|', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) programs.push_back(WinePath(list.substr(start, end - start)));
        start = end + 1;
    }
    const std::string bin = WinePath(QV_BIN_DIR);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((bin + "\\*.exe").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string path = bin + "\\" + fd.cFileName;
            if (std::none_of(programs.begin(), programs.end(), [&](const std::string& p) {
                    return _stricmp(p.c_str(), path.c_str()) == 0;
                }))
                programs.push_back(path);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    return programs;
}

bool Contains(const std::vector<std::string>& list, const char* dll) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& d) { return _stricmp(d.c_str(), dll) == 0; });
}

TEST(ImportTable, ShippedProgramsImportOnlyKnownDlls) {
    const std::vector<std::string> programs = ShippedPrograms();
    for (const char* name : {"setupstub.exe", "mksetup.exe"})
        EXPECT_TRUE(std::any_of(programs.begin(), programs.end(),
                                [&](const std::string& p) { return p.ends_with(name); }))
            << name << " is not among the programs checked";
    for (const std::string& program : programs) {
        SCOPED_TRACE(program);
        ASSERT_TRUE(PathExists(program));
        const PeImports imports = ReadPeImports(ReadFileBytes(program));
        ASSERT_TRUE(imports.valid) << imports.error;
        // A reader that found nothing would pass any program.
        EXPECT_TRUE(Contains(imports.imported, "kernel32.dll"));
        for (const std::string& dll : NotAllowed(imports))
            ADD_FAILURE() << program << " imports " << dll
                          << ", which is not a known DLL: bind it at run time with "
                             "LoadSystemLibrary, or add it to kAllowed with the reason";
    }
}

TEST(ImportTable, AProgramImportingVersionDllIsRejected) {
    const PeImports imports = ReadPeImports(ReadFileBytes(QV_VERSION_IMPORTER_PATH));
    ASSERT_TRUE(imports.valid) << imports.error;
    const std::vector<std::string> bad = NotAllowed(imports);
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(_stricmp(bad[0].c_str(), "version.dll"), 0) << bad[0];
    EXPECT_TRUE(Contains(imports.imported, "kernel32.dll"));
}

TEST(ImportTable, DamagedFilesAreReportedNotMisread) {
    const std::string stub = ReadFileBytes(QV_SETUPSTUB_PATH);
    ASSERT_GT(stub.size(), 4096u);
    EXPECT_FALSE(ReadPeImports("").valid);
    EXPECT_FALSE(ReadPeImports("MZ").valid);
    EXPECT_FALSE(ReadPeImports(std::string(4096, 'A')).valid);
    // Cut inside the headers: an error, never names read from beyond the file.
    for (size_t cut : {size_t{0x40}, size_t{0x100}, size_t{0x200}})
        EXPECT_FALSE(ReadPeImports(stub.substr(0, cut)).valid) << "cut at " << cut;
    // Cut in the middle: an error, or (when the table lies in the first half) the
    // whole list, never a part of it.
    const PeImports full = ReadPeImports(stub);
    const PeImports half = ReadPeImports(stub.substr(0, stub.size() / 2));
    EXPECT_TRUE(!half.valid || half.imported == full.imported);
    // A PE signature pointer far beyond the file.
    std::string bent = stub.substr(0, 0x400);
    bent[0x3C] = '\xF0';
    bent[0x3D] = '\xFF';
    bent[0x3E] = '\xFF';
    bent[0x3F] = '\x7F';
    EXPECT_FALSE(ReadPeImports(bent).valid);
}

// The common controls come from the side-by-side store through the manifest, not from
// a search of the setup's folder.
TEST(ImportTable, RuntimeManifestKeepsTheCommonControlsDependency) {
    HMODULE image = LoadLibraryExA(QV_SETUPSTUB_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(image);
    HRSRC res = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
    ASSERT_TRUE(res);
    const char* data = static_cast<const char*>(LockResource(LoadResource(image, res)));
    const std::string manifest(data, SizeofResource(image, res));
    FreeLibrary(image);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos) << manifest;
}

} // namespace
