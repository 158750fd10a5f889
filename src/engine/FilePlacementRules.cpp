// The small rules of file placement: the cabinet-size field, the destination check,
// the per-user folders, the progress position, the shortened display path and the
// cancellation of [Others] items for a file that was not installed.
#include "engine/FilePlacement.h"

#include "app/RunContext.h"
#include "config/IniFile.h"
#include "platform/FileUtil.h"
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

bool IsDotsOnly(const std::string& component) {
    for (char c : component)
        if (c != '.' && c != ' ') return false;
    return true;
}

bool IsValidComponent(const std::string& c) {
    if (c.empty() || IsDotsOnly(c)) return false;
    for (unsigned char ch : c)
        if (ch < 0x20 || ch == ':' || ch == '*' || ch == '?' || ch == '"' || ch == '<' ||
            ch == '>' || ch == '|' || ch == '/')
            return false;
    return true;
}

// Whether the system reads the path as a device rather than a file: a reserved name
// (NUL, COM1, CONIN$, ...) as the last component, with an extension or trailing dots
// and blanks, in any folder, is opened as the device. The system's own reading is
// asked, since that is what opening the file will do.
bool NamesDevice(const std::string& path) {
    const std::string full = FullPath(path);
    return full.compare(0, 4, "\\\\.\\") == 0 || full.compare(0, 4, "\\\\?\\") == 0;
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

bool IsSafeDestination(const std::string& path) {
    size_t rest;
    if (path.size() >= 3 &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':' && path[2] == '\\') {
        rest = 3;
    } else if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
        // \\server\share\...: a real server name ("\\?\" and "\\.\" are device paths).
        size_t serverEnd = path.find('\\', 2);
        if (serverEnd == std::string::npos) return false;
        std::string server = path.substr(2, serverEnd - 2);
        if (!IsValidComponent(server)) return false;
        size_t shareEnd = path.find('\\', serverEnd + 1);
        if (shareEnd == std::string::npos) return false; // no file below the share
        if (!IsValidComponent(path.substr(serverEnd + 1, shareEnd - serverEnd - 1))) return false;
        rest = shareEnd + 1;
    } else {
        return false;
    }
    // Every folder and the file name: none empty, none made of dots.
    for (;;) {
        size_t end = path.find('\\', rest);
        std::string component = path.substr(rest, end == std::string::npos ? end : end - rest);
        if (!IsValidComponent(component)) return false;
        if (end == std::string::npos) return !NamesDevice(path);
        rest = end + 1;
    }
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

std::string ShortDisplayPath(const std::string& path) {
    if (path.size() <= 60) return path;
    // F\D1\D2\N shows as F\..\N; a path without that shape is shown whole.
    size_t name = path.rfind('\\');
    if (name == std::string::npos || name == 0) return path;
    size_t d2 = path.rfind('\\', name - 1);
    if (d2 == std::string::npos || d2 == 0) return path;
    size_t d1 = path.rfind('\\', d2 - 1);
    if (d1 == std::string::npos || d1 == 0) return path;
    return path.substr(0, d1) + "\\..\\" + path.substr(name + 1);
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
