// The wizard's scale: the screen's dots per inch at start-up, and the pictures that
// suit it. The layout figures are those of 96 dots per inch; every figure, font and
// picture is scaled once, when the window is made.
#pragma once

#include <string>
#include <vector>

inline constexpr int kBaseDpi = 96;

// The dots per inch of the monitor the wizard opens on (the primary one, where it is
// centred). Where the system cannot tell a monitor's own figure (before Windows 8.1),
// the system's figure; 96 when even that fails.
int StartupDpi();

// A layout figure of 96 dots per inch at dpi, rounded to the nearest pixel.
int ScaleToDpi(int value, int dpi);

// The scale in percent (96 dots per inch is 100).
int DpiPercent(int dpi);

// The picture to load for base ("qvwizard.bmp") at dpi, among the names present in
// the setup temp folder: a larger copy is named after the base with the scale it was
// drawn for, "qvwizard-200.bmp". Above 100% the smallest copy drawn for at least the
// scale wins, else the largest copy there is; at 100%, or with no copy, base itself.
std::string PictureForDpi(const std::string& base, int dpi,
                          const std::vector<std::string>& present);
