// Link files (.lnk) as the shell reads them back, for tests of the shortcuts a setup
// makes.
#pragma once

#include <string>

// What a link file holds; loaded is false (and the rest empty) when the shell cannot
// read it.
struct Link {
    bool loaded = false;
    std::string target, arguments, workDir, iconFile, description;
    int iconIndex = -1, showCmd = -1;
};

// Reads the link file at path through the shell-link object (initialising COM for the
// calling thread as needed); the target as stored, without its variables expanded.
Link ReadLink(const std::string& path);
