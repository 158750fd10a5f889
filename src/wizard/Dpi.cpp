#include "wizard/Dpi.h"

#include "platform/SystemLibrary.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

namespace {

// MDT_EFFECTIVE_DPI of shellscalingapi.h: the figure the user chose for the monitor.
constexpr int kEffectiveDpi = 0;

bool Plausible(int dpi) {
    return dpi >= 48 && dpi <= 960;
}

// Case-insensitive comparison of ASCII names.
bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

int StartupDpi() {
    // Windows 8.1 and later know each monitor's figure; Windows 7 has one for all.
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    if (auto forMonitor = SystemFunction<GetDpiForMonitorFn>("shcore.dll", "GetDpiForMonitor")) {
        const POINT centre{GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2};
        UINT x = 0, y = 0;
        HMONITOR monitor = MonitorFromPoint(centre, MONITOR_DEFAULTTOPRIMARY);
        if (SUCCEEDED(forMonitor(monitor, kEffectiveDpi, &x, &y)) && Plausible(static_cast<int>(x)))
            return static_cast<int>(x);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return Plausible(dpi) ? dpi : kBaseDpi;
}

int ScaleToDpi(int value, int dpi) {
    return MulDiv(value, dpi, kBaseDpi);
}

int DpiPercent(int dpi) {
    return MulDiv(dpi, 100, kBaseDpi);
}

std::string PictureForDpi(const std::string& base, int dpi,
                          const std::vector<std::string>& present) {
    const int wanted = DpiPercent(dpi);
    if (wanted <= 100) return base;
    const size_t dot = base.rfind('.');
    const std::string stem = base.substr(0, dot),
                      ext = dot == std::string::npos ? "" : base.substr(dot);
    std::string best, largest;
    int bestPercent = 0, largestPercent = 0;
    for (const std::string& name : present) {
        // stem + "-" + digits + ext
        if (name.size() <= stem.size() + 1 + ext.size()) continue;
        if (!SameName(name.substr(0, stem.size() + 1), stem + "-")) continue;
        if (!SameName(name.substr(name.size() - ext.size()), ext)) continue;
        const std::string digits =
            name.substr(stem.size() + 1, name.size() - stem.size() - 1 - ext.size());
        if (digits.empty() || digits.size() > 3) continue;
        bool numeric = true;
        for (char c : digits)
            numeric = numeric && std::isdigit(static_cast<unsigned char>(c));
        if (!numeric) continue;
        const int percent = std::atoi(digits.c_str());
        if (percent <= 100) continue;
        if (percent >= wanted && (best.empty() || percent < bestPercent)) {
            best = name;
            bestPercent = percent;
        }
        if (percent > largestPercent) {
            largest = name;
            largestPercent = percent;
        }
    }
    if (!best.empty()) return best;
    return largest.empty() ? base : largest;
}
