#include "platform/SafePath.h"

#include "platform/FileUtil.h"

#include <string>

namespace {

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
