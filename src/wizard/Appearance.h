// Appearance of the wizard: the optional font file and font settings of the setup
// cabinet.
#pragma once

#include <string>

struct RunContext;

// The wizard's font as the setup's data asks for it. Sizes are in points.
struct WizardFont {
    std::string face = "Tahoma"; // the UI font file's name without extension, when there is one
    int textSize = 8;            // the form and every control that follows it
    int largeTitleSize = 10;     // Label1, the large bold title of the full-size pages
    int pageTitleSize = 8;       // Text1, the bold page title of the inner pages
    int charset = 1;             // DEFAULT_CHARSET
};

// The "*.ttf" file of the setup temp folder that becomes the wizard's font: the last
// one the folder listing returns; empty when there is none.
std::string UiFontFile(const RunContext& ctx);

// The font settings: face from UiFontFile, sizes and character set from "font.ini".
// A value that is missing, not a number or outside 1..72 points keeps its default.
WizardFont ReadWizardFont(const RunContext& ctx);

// Start-up's font step: registers the UI font file for this session and tells the
// other windows. Failures are ignored; it returns true (nothing here stops a setup).
bool ApplyAppearance(RunContext& ctx);

// The normal end: unregisters the UI font file again when it still exists.
void RemoveWizardFont(const RunContext& ctx);
