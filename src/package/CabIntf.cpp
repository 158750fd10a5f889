#include "package/CabIntf.h"

#include "package/CabSTComps.h"
#include "package/CabSTConsts.h"
#include "platform/FileUtil.h"
#include "platform/SystemLibrary.h"

#include <string>

namespace cabintf {

uint32_t LastOsError = 0;

namespace {

HMODULE g_library = nullptr;
TCabinetEntryPoints g_entries{};

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

[[noreturn]] void RaiseOsError(uint32_t error, const std::string& what) {
    LastOsError = error;
    std::string message = what;
    std::string sys = SystemErrorMessage(error);
    if (!sys.empty()) message += ".\r\n" + sys;
    message += " [0x" + HexText(error, 4) + "].";
    throw ESTCabinet(message, 0, error, false, false);
}

template <typename T> bool Bind(HMODULE h, const char* name, T& target) {
    target = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(h, name)));
    return target != nullptr;
}

} // namespace

// The runtime has one thread, so the binding needs no lock.
const TCabinetEntryPoints& LoadCabinetLibrary() {
    if (g_library) return g_entries;
    HMODULE h = LoadSystemLibrary("cabinet.dll");
    if (!h) RaiseOsError(GetLastError(), "Cannot load the cabinet library cabinet.dll");
    TCabinetEntryPoints e{};
    const char* missing = nullptr;
    if (!Bind(h, "FCICreate", e.FCICreate))
        missing = "FCICreate";
    else if (!Bind(h, "FCIAddFile", e.FCIAddFile))
        missing = "FCIAddFile";
    else if (!Bind(h, "FCIFlushCabinet", e.FCIFlushCabinet))
        missing = "FCIFlushCabinet";
    else if (!Bind(h, "FCIFlushFolder", e.FCIFlushFolder))
        missing = "FCIFlushFolder";
    else if (!Bind(h, "FCIDestroy", e.FCIDestroy))
        missing = "FCIDestroy";
    else if (!Bind(h, "FDICreate", e.FDICreate))
        missing = "FDICreate";
    else if (!Bind(h, "FDIIsCabinet", e.FDIIsCabinet))
        missing = "FDIIsCabinet";
    else if (!Bind(h, "FDICopy", e.FDICopy))
        missing = "FDICopy";
    else if (!Bind(h, "FDIDestroy", e.FDIDestroy))
        missing = "FDIDestroy";
    if (missing) {
        DWORD error = GetLastError();
        FreeLibrary(h);
        RaiseOsError(error, std::string("The cabinet library has no entry point ") + missing);
    }
    g_entries = e;
    g_library = h;
    return g_entries;
}

bool CabinetLibraryLoaded() {
    return g_library != nullptr;
}

} // namespace cabintf
