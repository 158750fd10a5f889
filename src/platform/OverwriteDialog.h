// The overwrite question: a warning dialog with the buttons "Yes", "No", "No to All"
// and "Yes to All", built from an in-memory template (no resource file needed).
#pragma once

#include "platform/UserPrompt.h"

#include <windows.h>

#include <string>

// Control identifiers of the two buttons that message boxes do not have.
inline constexpr int kIdNoToAll = 1001;
inline constexpr int kIdYesToAll = 1002;

// Shows the dialog modally over owner (may be null) and returns the button chosen;
// Closed when it was dismissed otherwise or could not be shown.
OverwriteAnswer ShowOverwriteDialog(HWND owner, const std::string& text,
                                    const std::string& caption);
