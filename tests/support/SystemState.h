// What the system holds, read and set with its own plain calls and not with the
// runtime's accessors, so that a test checks the real registry and the real files:
// registry values and keys (set up before a case, removed after it), profile values
// and key lists.
#pragma once

#include "TestSupport.h"

#include <windows.h>

#include <string>
#include <vector>

// A registry value as stored.
struct RegValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::string data; // the bytes
    std::string text; // the bytes without one terminating NUL
    DWORD number = 0; // a REG_DWORD's number
};

// The value name of root\key in the view (KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0),
// whatever its size.
RegValue ReadRegValue(HKEY root, const std::string& key, const std::string& name,
                      REGSAM view = kRuntimeView);
// The value as a person reads it (a number in decimal, else its text up to the first
// NUL); false when it is missing.
bool ReadRegText(HKEY root, const std::string& key, const std::string& name, std::string& out,
                 REGSAM view = kRuntimeView);
bool RegKeyExists(HKEY root, const std::string& key, REGSAM view = kRuntimeView);
// Creates root\key as needed and sets the text value name (REG_SZ); false when the
// system refuses either.
bool WriteRegText(HKEY root, const std::string& key, const std::string& name,
                  const std::string& text, REGSAM view = kRuntimeView);

// Removes root\key with everything below it from the view; nothing when it is missing.
void DeleteKeyTree(HKEY root, const std::string& key, REGSAM view = kRuntimeView);
// The same in the 32-bit and the 64-bit view.
void DeleteKeyTreeInBothViews(HKEY root, const std::string& key);

// The value of section/key as the system's profile functions read it from file: def
// when the key is missing, cut to bufferSize - 1 characters as a caller's buffer of
// that size would cut it.
std::string IniValue(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& def = "<absent>", size_t bufferSize = 4096);
// The key names of a section as the system's profile functions list them, in file order.
std::vector<std::string> IniKeys(const std::string& file, const std::string& section);
