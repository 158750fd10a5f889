// File-system redirection of the 32-bit process on 64-bit Windows, switched off so
// that a 64-bit setup sees the real system folders. The two functions are looked up
// by name: they do not exist on every system, and every failure is ignored.
#pragma once

// Whether this process switched redirection off, and the state to put back.
struct FsRedirection {
    bool Off = false;
    void* State = nullptr;
};

// Switches redirection off when it is not already off through r.
void DisableRedirection(FsRedirection& r);
// Restores the state saved by DisableRedirection, if it switched anything off.
void RestoreRedirection(FsRedirection& r);
