#include "common/WinPath.h"

namespace qvcommon {

namespace {

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

size_t LastDelimiter(const std::string& path) {
    return path.find_last_of("\\/:");
}

} // namespace

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

std::string UpperCase(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        c = AsciiUpper(c);
    return r;
}

std::string IncludeTrailingBackslash(const std::string& path) {
    if (!path.empty() && path.back() == '\\') return path;
    return path + '\\';
}

std::string ExcludeTrailingBackslash(const std::string& path) {
    if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
    return path;
}

std::string ExtractFileName(const std::string& path) {
    size_t p = LastDelimiter(path);
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFilePath(const std::string& path) {
    size_t p = LastDelimiter(path);
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    size_t skip = 0;
    while (skip < name.size() && name[skip] == '\\')
        ++skip;
    return IncludeTrailingBackslash(folder) + name.substr(skip);
}

bool HasCharacterNotAllowedInNames(const std::string& name) {
    for (unsigned char c : name)
        if (c < 0x20 || std::string("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
            return true;
    return false;
}

} // namespace qvcommon
