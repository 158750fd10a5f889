#include "ShellLink.h"

#include "TestSupport.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

Link ReadLink(const std::string& path) {
    Link l;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return l;
    link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    const std::wstring wpath(path.begin(), path.end());
    if (file && SUCCEEDED(file->Load(wpath.c_str(), STGM_READ))) {
        char b[5][MAX_PATH * 2] = {};
        l.loaded = true;
        link->GetPath(b[0], sizeof b[0], nullptr, SLGP_RAWPATH);
        link->GetArguments(b[1], sizeof b[1]);
        link->GetWorkingDirectory(b[2], sizeof b[2]);
        link->GetDescription(b[3], sizeof b[3]);
        link->GetIconLocation(b[4], sizeof b[4], &l.iconIndex);
        l.target = b[0], l.arguments = b[1], l.workDir = b[2], l.description = b[3];
        l.iconFile = b[4];
    }
    if (file) file->Release();
    link->Release();
    // The shell object here does not hand the show command back after loading, so it
    // is read where the link format keeps it: the 32-bit field at offset 0x3C.
    const std::string bytes = ReadFileBytes(path);
    if (bytes.size() >= 0x40)
        l.showCmd =
            static_cast<unsigned char>(bytes[0x3C]) | static_cast<unsigned char>(bytes[0x3D]) << 8;
    return l;
}
