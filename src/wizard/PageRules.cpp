#include "wizard/PageRules.h"

#include "platform/FileUtil.h"

namespace {

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The folder part of a path: everything before its last backslash.
std::string ParentOf(const std::string& path) {
    size_t p = path.find_last_of('\\');
    return p == std::string::npos ? std::string() : path.substr(0, p);
}

} // namespace

std::string FormatSize(int64_t bytes, char decimalSeparator) {
    static const char* const kUnits[] = {"GB", "MB", "KB"};
    for (int i = 0; i < 3; ++i) {
        const int64_t unit = int64_t{1} << (30 - 10 * i);
        if (bytes < unit) continue;
        // Two decimals, rounded half up (the unit is a power of two, so the
        // quotient is exact and a half is a true half).
        uint64_t whole = static_cast<uint64_t>(bytes / unit);
        uint64_t hundredths = static_cast<uint64_t>((bytes % unit) * 200 + unit) / (2 * unit);
        if (hundredths == 100) {
            ++whole;
            hundredths = 0;
        }
        return DecimalText(whole) + decimalSeparator + DecimalText(hundredths, 2) + " " + kUnits[i];
    }
    if (bytes == 0) return "0 byte";
    return std::to_string(static_cast<int>(bytes)) + " bytes";
}

DestinationCheck ClassifyDestination(const std::string& trimmed) {
    if (trimmed.size() < 2) return DestinationCheck::TooShort;
    if (trimmed[1] == ':' && IsDriveLetter(trimmed[0])) return DestinationCheck::DriveSpace;
    return DestinationCheck::NotTested;
}

std::string SpaceDriveRoot(const std::string& folder) {
    if (folder.size() > 1 && folder[1] == ':') return folder.substr(0, 1) + ":\\";
    return {};
}

int FirstMissingField(const InfoField (&fields)[3]) {
    for (int i = 0; i < 3; ++i)
        if (fields[i].shown && fields[i].required && Trim(fields[i].text).empty()) return i;
    return -1;
}

std::string BrowseLastComponent(const std::string& edit1) {
    const std::string folder = ExcludeTrailingBackslash(Trim(edit1));
    size_t p = folder.find_last_of('\\');
    return p == std::string::npos ? folder : folder.substr(p + 1);
}

std::string BrowseStart(const std::string& edit1, bool (*folderExists)(const std::string&)) {
    std::string start = ParentOf(Trim(edit1));
    if (!folderExists(start)) start = ParentOf(start);
    return start;
}

std::string BrowseResult(const std::string& chosen, const std::string& last, int mode) {
    if (chosen.size() < 2) return {};
    std::string path = ExcludeTrailingBackslash(chosen);
    if (mode == 0) {
        path += "\\" + last;
    } else if (mode == 2) {
        // The drive root: the chosen folder's text up to and including its first
        // backslash ("D:" alone when a root was chosen, completed below).
        size_t p = path.find('\\');
        if (p != std::string::npos) path = path.substr(0, p + 1);
    }
    if (path.size() == 2 && path[1] == ':') path += "\\";
    return path;
}

std::string ReadySummary(const ReadyInput& in) {
    std::string s;
    auto line = [&s](const char* indent, const std::string& text) {
        s += indent;
        s += text;
        s += "\r\n";
    };
    line("", in.destinationLabel);
    line("\t", in.destination);
    line("", "");
    if (!in.noProgramGroup) {
        line("", in.groupLabel);
        line("\t", in.group);
    }
    if (in.desktop || in.quickLaunch || in.associate) {
        line("", "");
        line("", in.tasksLabel);
        if (in.desktop) line("\t", in.desktopCaption);
        if (in.quickLaunch) line("\t", in.quickLaunchCaption);
        if (in.associate) line("\t", in.associateCaption);
    }
    return s;
}
