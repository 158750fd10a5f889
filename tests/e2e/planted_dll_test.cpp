// DLL planting: the programs we ship are started from a folder (a Downloads folder)
// that also holds copies of a test DLL named after every library that is not a known
// DLL. Wine is told to prefer native DLLs of exactly those names, which is what
// Windows' search order does for them: the program's own folder is searched first.
// A copy that is loaded leaves a marker beside itself (tests/fixtures/planted_dll.cpp);
// no run of ours may leave one. Two control runs show that the planted copies are
// found and loaded where nothing protects against them.
//
// Wine takes WINEDLLOVERRIDES from the Unix environment, which a Windows program passes
// on to its children unchanged whatever environment block it gives them. So the
// preference is set per program in Wine's registry (AppDefaults), for copies of the
// programs under names that only this test uses.
//
// Its setups show windows (questions, boxes), which would take the active window away
// from a window test running beside it, and the window tests check where the focus is.
// qv-test-locks: desktop
#include "PeImports.h"
#include "SetupFiles.h"
#include "SetupRunner.h"
#include "TestSupport.h"
#include "wizard/ControlIds.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Libraries that are not known DLLs on some Windows from 7 to 11, and that the
// programs, or the system libraries they use, may load.
const char* const kPlanted[] = {
    "version",  "uxtheme",  "dwmapi",   "cryptbase", "cryptsp",  "winmm",    "propsys",
    "profapi",  "userenv",  "wininet",  "cabinet",   "sspicli",  "urlmon",   "secur32",
    "msimg32",  "riched20", "riched32", "msftedit",  "usp10",    "wintrust", "crypt32",
    "comctl32", "shfolder", "oleacc",   "mpr",       "netapi32", "dbghelp"};
constexpr size_t kPlantedCount = sizeof kPlanted / sizeof kPlanted[0];

// Loads that only Wine's own libraries make, through paths Windows does not take.
// Such a load is accepted only from exactly the module named here, in the system
// folder:
// - Wine's user32.dll imports version.dll, so every window program loads version.dll
//   while its imports are resolved, searching the program's folder first. Windows'
//   user32.dll imports no version.dll, and as a known DLL its imports are never
//   searched for in the program's folder. The importer's table, read here, must list it.
// - Wine resolves the delay-loaded imports of its own libraries with the program's
//   search path, ignoring the system-folder-only default the program set with
//   SetDefaultDllDirectories: its uxtheme.dll loads msimg32.dll (AlphaBlend) from the
//   program's folder while the wizard paints. Windows loads delay-loaded DLLs through
//   LoadLibraryEx, which keeps to that default.
enum class Via { Import, Caller };
struct WineOnlyPath {
    const char* planted;
    const char* module;
    Via via;
};
const WineOnlyPath kWineOnly[] = {{"version", "user32.dll", Via::Import},
                                  {"msimg32", "uxtheme.dll", Via::Caller}};

// A planted copy that was loaded: by which program, which modules import it, and
// which module asked for it at run time (none for an import of the program).
struct Marker {
    std::string planted, program, caller;
    std::vector<std::string> importers;
};

std::string FileNameOf(const std::string& path) {
    return path.substr(path.find_last_of("\\/") + 1);
}

bool InSystemFolder(const std::string& path) {
    char dir[MAX_PATH];
    const UINT n = GetSystemDirectoryA(dir, MAX_PATH);
    return n > 0 && path.size() > n && _strnicmp(path.c_str(), dir, n) == 0 && path[n] == '\\' &&
           path.find('\\', n + 1) == std::string::npos;
}

bool IsSystemModule(const std::string& path, const char* name) {
    return _stricmp(FileNameOf(path).c_str(), name) == 0 && InSystemFolder(path);
}

bool ImportTableLists(const std::string& module, const std::string& dll) {
    const PeImports imports = ReadPeImports(ReadFileBytes(module));
    for (const std::string& d : imports.imported)
        if (_stricmp(d.c_str(), dll.c_str()) == 0) return true;
    return false;
}

bool IsWineOnlyPath(const Marker& m) {
    for (const WineOnlyPath& w : kWineOnly) {
        if (m.planted != w.planted) continue;
        if (w.via == Via::Import && m.importers.size() == 1 &&
            IsSystemModule(m.importers[0], w.module) &&
            ImportTableLists(m.importers[0], m.planted + ".dll"))
            return true;
        if (w.via == Via::Caller && m.importers.empty() && IsSystemModule(m.caller, w.module))
            return true;
    }
    return false;
}

std::string Describe(const Marker& m) {
    std::string d = m.planted + ".dll loaded in " + m.program;
    for (const std::string& i : m.importers)
        d += ", imported by " + i;
    if (!m.caller.empty()) d += ", asked for by " + m.caller;
    return d;
}

class PlantedDll : public ::testing::Test {
  protected:
    ScratchDir work;
    const std::string downloads = work / "Downloads";
    const std::string temp = work / "temp";
    const std::string project = work / "project";
    const std::string setup = downloads + "\\qvplanted-setup.exe";
    const std::string dest = work / "dest";

    void SetUp() override {
        CreateDirectoryA(downloads.c_str(), nullptr);
        CreateDirectoryA(temp.c_str(), nullptr);
        for (const char* name : kPlanted)
            ASSERT_TRUE(CopyFileA(QV_PLANTED_DLL_PATH, Planted(name).c_str(), FALSE)) << name;
    }

    std::string Planted(const char* name) const { return downloads + "\\" + name + ".dll"; }

    // Every planted copy that was loaded; the markers go.
    std::vector<Marker> TakeMarkers() const {
        std::vector<Marker> seen;
        for (const char* name : kPlanted) {
            const std::string file = Planted(name) + ".loaded";
            if (!PathExists(file)) continue;
            const std::string text = ReadFileBytes(file);
            DeleteFileA(file.c_str());
            Marker m;
            m.planted = name;
            for (size_t start = 0; start <= text.size();) {
                size_t end = text.find("\r\n", start);
                if (end == std::string::npos) end = text.size();
                const std::string line = text.substr(start, end - start);
                if (m.program.empty())
                    m.program = line;
                else if (line.rfind("import ", 0) == 0)
                    m.importers.push_back(line.substr(7));
                else if (line.rfind("caller ", 0) == 0)
                    m.caller = line.substr(7);
                start = end + 2;
            }
            seen.push_back(m);
        }
        return seen;
    }

    // No planted copy was loaded but through a path only Wine takes (reported).
    void ExpectNoneLoaded() {
        for (const Marker& m : TakeMarkers()) {
            if (IsWineOnlyPath(m))
                std::cout << "note: Wine's own path, not Windows': " << Describe(m) << "\n";
            else
                ADD_FAILURE() << Describe(m);
        }
    }

    // This process's environment with TEMP and TMP set to the test's folder.
    std::string Environment() const {
        std::string block;
        char* all = GetEnvironmentStringsA();
        for (const char* p = all; *p; p += std::strlen(p) + 1) {
            if (_strnicmp(p, "TEMP=", 5) == 0 || _strnicmp(p, "TMP=", 4) == 0) continue;
            block.append(p).push_back('\0');
        }
        FreeEnvironmentStringsA(all);
        for (const std::string& v : {"TEMP=" + temp, "TMP=" + temp})
            block.append(v).push_back('\0');
        block.push_back('\0');
        return block;
    }

    // Starts program in the Downloads folder (also its working folder), as a double
    // click there would.
    PROCESS_INFORMATION Start(const std::string& program, const std::string& args) {
        std::string cmd = "\"" + program + "\" " + args;
        std::string env = Environment();
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessA(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, env.data(),
                            downloads.c_str(), &si, &pi))
            ADD_FAILURE() << "cannot start " << program << ": " << GetLastError();
        return pi;
    }

    // The exit code, or 0xDEAD when the program did not end in time (it is then ended).
    static DWORD Finish(PROCESS_INFORMATION& pi, DWORD timeoutMs = 60000) {
        if (!pi.hProcess) return 0xDEADu;
        DWORD code = 0xDEADu;
        if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        else
            TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        pi = {};
        return code;
    }

    DWORD Run(const std::string& program, const std::string& args) {
        PROCESS_INFORMATION pi = Start(program, args);
        return Finish(pi);
    }

    // A copy of program in the Downloads folder, under a name of this test's own,
    // for which Wine prefers the native DLLs of the planted names.
    std::string CopyIntoDownloads(const std::string& program, const std::string& name) {
        const std::string copy = downloads + "\\" + name;
        EXPECT_TRUE(CopyFileA(program.c_str(), copy.c_str(), FALSE)) << program;
        PreferNative(name);
        return copy;
    }

    void PreferNative(const std::string& programName) {
        const std::string key = kAppDefaults + programName;
        HKEY h = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str(), 0, nullptr,
                                  0, KEY_SET_VALUE, nullptr, &h, nullptr),
                  ERROR_SUCCESS);
        for (const char* name : kPlanted)
            RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>("native,builtin"), 15);
        RegCloseKey(h);
        overridden_.push_back(key);
    }

    void TearDown() override {
        for (const std::string& key : overridden_)
            RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    }

    static constexpr const char* kAppDefaults = "Software\\Wine\\AppDefaults\\";
    std::vector<std::string> overridden_;

    void BuildSetup(const std::string& keys) {
        CreateDirectoryA(project.c_str(), nullptr);
        CreateDirectoryA((project + "\\payload").c_str(), nullptr);
        CreateDirectoryA((project + "\\setup").c_str(), nullptr);
        ASSERT_TRUE(
            CopyFileA(QV_UNINSTALLER_PATH, (project + "\\setup\\QVUninstall.exe").c_str(), FALSE));
        WriteFileBytes(project + "\\payload\\a.txt", "alpha");
        WriteMinimalProject(project, keys +
                                         "\r\n[Payload]\r\n"
                                         "0=payload\\a.txt?<InstallDir>\\a.txt?OVERWRITE?Yes\r\n");
        ASSERT_TRUE(BuildTestSetup(project, setup));
        PreferNative("qvplanted-setup.exe");
    }
};

TEST_F(PlantedDll, ControlEveryPlantedCopyLoadsWhereNothingProtects) {
    const std::string probe = CopyIntoDownloads(QV_DLL_PROBE_PATH, "qvplanted-probe.exe");
    std::string names;
    for (const char* name : kPlanted)
        names += std::string(name) + ".dll ";
    // Every copy refuses to load after leaving its marker.
    EXPECT_EQ(Run(probe, names), kPlantedCount);
    const std::vector<Marker> markers = TakeMarkers();
    EXPECT_EQ(markers.size(), kPlantedCount);
    for (const Marker& m : markers) {
        EXPECT_TRUE(m.importers.empty()) << Describe(m);
        EXPECT_EQ(FileNameOf(m.program), "qvplanted-probe.exe");
        EXPECT_EQ(FileNameOf(m.caller), "qvplanted-probe.exe") << Describe(m);
        EXPECT_FALSE(IsWineOnlyPath(m)) << Describe(m);
    }
}

TEST_F(PlantedDll, ControlAnImportOfVersionDllLoadsThePlantedCopy) {
    // What setupstub.exe did while it imported version.dll: the copy beside it is
    // loaded before the program's first line, and refusing, stops the program.
    const std::string importer =
        CopyIntoDownloads(QV_VERSION_IMPORTER_PATH, "qvplanted-importer.exe");
    EXPECT_NE(Run(importer, ""), 0u);
    const std::vector<Marker> markers = TakeMarkers();
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(markers[0].planted, "version");
    ASSERT_EQ(markers[0].importers.size(), 1u) << Describe(markers[0]);
    EXPECT_EQ(FileNameOf(markers[0].importers[0]), "qvplanted-importer.exe");
    EXPECT_TRUE(markers[0].caller.empty()) << Describe(markers[0]);
    EXPECT_FALSE(IsWineOnlyPath(markers[0]));
}

TEST_F(PlantedDll, SilentSetupLoadsNone) {
    BuildSetup("");
    EXPECT_EQ(Run(setup, "/S /D \"" + dest + "\""), 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
    ExpectNoneLoaded();
}

TEST_F(PlantedDll, WizardWithRichTextLicenceWalkedToFinishLoadsNone) {
    CreateDirectoryA(project.c_str(), nullptr);
    CreateDirectoryA((project + "\\setup").c_str(), nullptr);
    WriteFileBytes(project + "\\setup\\L(Default).rtf",
                   "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\b LICENCE} {\\i terms}\\par "
                   "\\ul second line\\ulnone\\par}");
    WriteFileBytes(project + "\\setup\\R(Default).rtf", "{\\rtf1\\ansi {\\b Readme}\\par}");
    BuildSetup("DialogWelcome=1\r\nDialogLicense=1\r\nAcceptAgreement=1\r\nDialogReadme=1\r\n"
               "DialogReady=1\r\nDialogFinish=1\r\n");
    PROCESS_INFORMATION pi = Start(setup, "/D \"" + dest + "\"");
    HWND form = nullptr;
    for (int i = 0; i < 3000 && !form; ++i, Sleep(10))
        form = FindProcessWindow(pi.dwProcessId, kFormClassName);
    if (!form) {
        ADD_FAILURE() << "no wizard window; exit code " << Finish(pi, 1000);
        return ExpectNoneLoaded();
    }
    auto ctl = [&](int id) { return GetDlgItem(form, id); };
    auto waitText = [&](int id, const std::string& text) {
        for (int i = 0; i < 2000; ++i, Sleep(10))
            if (IsWindowVisible(ctl(id)) && TextOf(ctl(id)) == text) return true;
        return false;
    };
    auto next = [&] { PostMessageA(ctl(kIdBtnNext), BM_CLICK, 0, 0); };

    ASSERT_TRUE(waitText(kIdLabel1, "Welcome to the Test Product Setup Wizard"));
    next();
    ASSERT_TRUE(waitText(kIdText1, "License Agreement"));
    // The licence is shown by the rich-text control, formatting and all.
    char cls[64] = {};
    GetClassNameA(ctl(kIdRichEdit1), cls, sizeof cls);
    EXPECT_EQ(_strnicmp(cls, "RichEdit", 8), 0) << cls;
    EXPECT_NE(TextOf(ctl(kIdRichEdit1)).find("LICENCE terms"), std::string::npos);
    PostMessageA(ctl(kIdCheckBox1), BM_CLICK, 0, 0);
    for (int i = 0; i < 500 && !IsWindowEnabled(ctl(kIdBtnNext)); ++i)
        Sleep(10);
    next();
    ASSERT_TRUE(waitText(kIdText1, "Readme Information"));
    next();
    ASSERT_TRUE(waitText(kIdText1, "Ready to Install"));
    next();
    ASSERT_TRUE(waitText(kIdLabel1, "Completing the Test Product Setup Wizard"));
    next();
    EXPECT_EQ(Finish(pi, 30000), 0u);
    EXPECT_EQ(ReadFileBytes(dest + "\\a.txt"), "alpha");
    ExpectNoneLoaded();
}

TEST_F(PlantedDll, UninstallerLoadsNone) {
    BuildSetup("Uninstall=1\r\n");
    ASSERT_EQ(Run(setup, "/S /D \"" + dest + "\""), 0u);
    ExpectNoneLoaded();
    // The product's uninstaller and its record, started from the Downloads folder.
    const std::string uninstaller =
        CopyIntoDownloads(dest + "\\Uninstall.exe", "qvplanted-uninstall.exe");
    ASSERT_TRUE(CopyFileA((dest + "\\Uninstall.ini").c_str(),
                          (downloads + "\\Uninstall.ini").c_str(), FALSE));
    EXPECT_EQ(Run(uninstaller, "/S"), 0u);
    EXPECT_FALSE(PathExists(dest + "\\a.txt"));
    ExpectNoneLoaded();
}

TEST_F(PlantedDll, BuilderLoadsNone) {
    const std::string builder = CopyIntoDownloads(QV_MKSETUP_PATH, "qvplanted-mksetup.exe");
    WriteMinimalProject(project, "");
    const std::string out = work / "built.exe";
    EXPECT_EQ(Run(builder, "\"" + project + "\" \"" + out + "\" --stub \"" QV_SETUPSTUB_PATH "\""),
              0u);
    EXPECT_TRUE(PathExists(out));
    ExpectNoneLoaded();
}

} // namespace
