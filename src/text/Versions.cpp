#include "text/Versions.h"

#include <cstddef>

namespace {

// Replaces every occurrence of what (non-overlapping, left to right, text inserted
// is not looked at again).
std::string ReplaceAll(const std::string& s, const std::string& what, const std::string& with) {
    std::string out;
    size_t pos = 0;
    for (;;) {
        size_t hit = s.find(what, pos);
        if (hit == std::string::npos) break;
        out.append(s, pos, hit - pos);
        out += with;
        pos = hit + what.size();
    }
    out.append(s, pos, std::string::npos);
    return out;
}

// A part made only of digits as a signed 32-bit number; 0 when empty or too large.
int32_t PartNumber(const std::string& part) {
    if (part.empty()) return 0;
    int64_t value = 0;
    for (char c : part) {
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return 0;
    }
    return static_cast<int32_t>(value);
}

} // namespace

TVersionNumbers ParseVersion(const std::string& text) {
    TVersionNumbers numbers{0, 0, 0, 0};
    std::string s = text;
    if (s.find_first_of(",_ ") != std::string::npos) {
        s = ReplaceAll(s, ",", ".");
        s = ReplaceAll(s, "_", ".");
        s = ReplaceAll(s, " ", "");
        s = ReplaceAll(s, "..", ".");
    }
    std::string kept;
    for (char c : s)
        if ((c >= '0' && c <= '9') || c == '.') kept += c;
    if (kept.empty()) return numbers;
    kept += '.';
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t dot = kept.find('.', start);
        if (dot == std::string::npos) break;
        numbers[i] = PartNumber(kept.substr(start, dot - start));
        start = dot + 1;
    }
    return numbers;
}

bool IsNewerVersion(const std::string& first, const std::string& second) {
    TVersionNumbers a = ParseVersion(first), b = ParseVersion(second);
    for (int i = 0; i < 4; ++i) {
        if (a[i] > b[i]) return true;
        if (a[i] < b[i]) return false;
    }
    return false;
}
