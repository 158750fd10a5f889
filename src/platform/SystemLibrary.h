// System DLLs loaded when first needed. A silent run never shows a window, so the
// libraries of the wizard (common controls, common dialogs) stay unloaded: under Wine
// importing them costs a silent setup some 50 ms before its first line runs.
#pragma once

#include <windows.h>

// Loads a DLL from the system folder only: a setup usually runs from a Downloads
// folder, where a planted copy must never be picked up. Null (with the last error
// set) when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// From here on, DLLs loaded by name come from the system folder only, never from the
// program's own or the current folder (where a planted copy may lie). Called first
// thing in a program's entry; does what the system allows where the call is missing.
void RestrictDllSearchToSystemFolder();

// The entry point of a system DLL, or null. The common controls are loaded by bare
// name so that the program's manifest selects version 6.
FARPROC SystemProc(const char* dll, const char* name);

template <typename Fn> Fn SystemFunction(const char* dll, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(SystemProc(dll, name)));
}

// Sets up COM once, on the one user-interface thread, for the shell calls that need it
// (shell links, ShellExecute, the folder browser). Not done at start: an apartment
// makes a hidden window, which under Wine connects to the display (~30 ms) in silent
// runs that never need it. A thread already set up in another mode still serves.
void EnsureCom();
