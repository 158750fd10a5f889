// The small rules of file placement: the cabinet-size field, the destination check,
// the per-user folders, the progress position, the shortened display path and the
// cancellation of [Others] items for a file that was not installed.
#include "engine/FilePlacement.h"

#include "config/IniFile.h"
#include "platform/FileUtil.h"
#include "run/RunContext.h"
#include "text/ExpandText.h"

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Rounds to the nearest integer, halves to the even neighbour.
double RoundHalfEven(double x) {
    double f = std::floor(x);
    double diff = x - f;
    if (diff > 0.5) return f + 1;
    if (diff < 0.5) return f;
    return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

// Replaces the first occurrence of what (ignoring ASCII case) in s.
std::string ReplaceFirstIgnoreCase(const std::string& s, const std::string& what,
                                   const std::string& with) {
    size_t p = UpperCase(s).find(UpperCase(what));
    if (p == std::string::npos) return s;
    return s.substr(0, p) + with + s.substr(p + what.size());
}

} // namespace

std::string PerUserDestination(const std::string& field) {
    static const char* const kSwaps[][2] = {
        {"<ProgramFiles>", "<AppData>"},        {"<CommonFiles>", "<CommonAppData>"},
        {"<CommonDocuments>", "<MyDocuments>"}, {"<CommonPictures>", "<MyPictures>"},
        {"<CommonMusic>", "<MyMusic>"},
    };
    std::string s = field;
    for (const auto& swap : kSwaps)
        s = ReplaceFirstIgnoreCase(s, swap[0], swap[1]);
    return s;
}

bool ParseCabinetSize(const std::string& field, uint32_t& size) {
    size_t b = 0, e = field.size();
    while (b < e && IsBlank(field[b]))
        ++b;
    while (e > b && IsBlank(field[e - 1]))
        --e;
    if (b == e) return false;
    uint64_t v = 0;
    for (size_t i = b; i < e; ++i) {
        char c = field[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0x7FFFFFFF) return false;
    }
    size = static_cast<uint32_t>(v);
    return true;
}

int ProgressPosition(int i, int totalFiles, uint32_t copied, uint32_t size) {
    if (totalFiles <= 0) return 0;
    const double base = RoundHalfEven(static_cast<double>(i) * 100.0 / totalFiles);
    const int64_t share = static_cast<int64_t>(RoundHalfEven(100.0 / totalFiles));
    const int64_t product = static_cast<int64_t>(copied) * share;
    const double within =
        RoundHalfEven(static_cast<double>(product) / (static_cast<double>(size) + 1.0));
    return static_cast<int>(base + within);
}

void CancelOtherItems(RunContext& ctx, const std::string& path) {
    // An empty path is in every record; it must not cancel them all.
    if (!ctx.Config || path.empty()) return;
    const std::string wanted = UpperCase(path);
    for (const std::string& key : ctx.Config->ReadSection("Others")) {
        std::string record = ExpandText(ctx, ctx.Config->ReadString("Others", key, ""));
        if (UpperCase(record).find(wanted) == std::string::npos) continue;
        WritePrivateProfileStringA("Others", key.c_str(), "", ctx.Config->Path().c_str());
        ctx.Config->Invalidate();
    }
}
