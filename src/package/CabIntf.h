// CabIntf: binds the system's cabinet library ("cabinet.dll") at run time and
// publishes its nine entry points with the types of the platform's <fdi.h>/<fci.h>.
//
// The library is loaded from the system folder only (never from the program's
// folder or the current folder, where a planted copy could sit next to a
// downloaded setup). It is loaded on first use and stays loaded until the process
// ends.
#pragma once

#include <windows.h>

#include <fci.h>
#include <fdi.h>

#include <cstdint>

namespace cabintf {

using TFCICreate = HFCI(DIAMONDAPI*)(PERF, PFNFCIFILEPLACED, PFNFCIALLOC, PFNFCIFREE, PFNFCIOPEN,
                                     PFNFCIREAD, PFNFCIWRITE, PFNFCICLOSE, PFNFCISEEK, PFNFCIDELETE,
                                     PFNFCIGETTEMPFILE, PCCAB, void*);
using TFCIAddFile = WINBOOL(DIAMONDAPI*)(HFCI, char*, char*, WINBOOL, PFNFCIGETNEXTCABINET,
                                         PFNFCISTATUS, PFNFCIGETOPENINFO, TCOMP);
using TFCIFlushCabinet = WINBOOL(DIAMONDAPI*)(HFCI, WINBOOL, PFNFCIGETNEXTCABINET, PFNFCISTATUS);
using TFCIFlushFolder = WINBOOL(DIAMONDAPI*)(HFCI, PFNFCIGETNEXTCABINET, PFNFCISTATUS);
using TFCIDestroy = WINBOOL(DIAMONDAPI*)(HFCI);
using TFDICreate = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                     PFNSEEK, int, PERF);
using TFDIIsCabinet = WINBOOL(DIAMONDAPI*)(HFDI, INT_PTR, PFDICABINETINFO);
using TFDICopy = WINBOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using TFDIDestroy = WINBOOL(DIAMONDAPI*)(HFDI);

// The bound entry points; all null until LoadCabinetLibrary succeeded.
struct TCabinetEntryPoints {
    TFCICreate FCICreate;
    TFCIAddFile FCIAddFile;
    TFCIFlushCabinet FCIFlushCabinet;
    TFCIFlushFolder FCIFlushFolder;
    TFCIDestroy FCIDestroy;
    TFDICreate FDICreate;
    TFDIIsCabinet FDIIsCabinet;
    TFDICopy FDICopy;
    TFDIDestroy FDIDestroy;
};

// Loads "cabinet.dll" from the system folder (once per process) and looks up all
// nine entry points. Throws ESTCabinet (declared in CabSTComps.h) carrying the OS
// error when the library or an entry point is missing; a later call tries again.
const TCabinetEntryPoints& LoadCabinetLibrary();

// True once the library is bound.
bool CabinetLibraryLoaded();

// The process-wide last OS error of the cabinet layer's file callbacks.
extern uint32_t LastOsError;

} // namespace cabintf
