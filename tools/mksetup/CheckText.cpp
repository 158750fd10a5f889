#include "CheckText.h"

#include <algorithm>

namespace mksetup {

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Upper(c);
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string AsciiUpper(std::string s) {
    for (char& c : s)
        c = Upper(c);
    return s;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && AsciiUpper(a) == AsciiUpper(b);
}

bool StartsWithIgnoreCase(const std::string& s, const std::string& head) {
    return s.size() >= head.size() && EqualsIgnoreCase(s.substr(0, head.size()), head);
}

bool EndsWithIgnoreCase(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && EqualsIgnoreCase(s.substr(s.size() - tail.size()), tail);
}

std::string TrimBlanks(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

size_t EditDistance(const std::string& a, const std::string& b) {
    const std::string ua = AsciiUpper(a), ub = AsciiUpper(b);
    std::vector<size_t> row(ub.size() + 1);
    for (size_t j = 0; j <= ub.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= ua.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= ub.size(); ++j) {
            size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (ua[i - 1] == ub[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[ub.size()];
}

std::string NearestName(const std::string& name, const std::vector<std::string>& candidates) {
    // A word cut short ("AFTER INSTALL") names the one candidate it begins.
    if (name.size() >= 4) {
        std::string only;
        int starts = 0;
        for (const std::string& c : candidates)
            if (c.size() > name.size() && StartsWithIgnoreCase(c, name)) {
                only = c;
                ++starts;
            }
        if (starts == 1) return only;
    }
    std::string best;
    size_t bestDistance = 0;
    for (const std::string& c : candidates) {
        size_t d = EditDistance(name, c);
        if (best.empty() || d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    // Two slips in any name, more in long ones; a quarter of the name at most, so
    // that short names are not "corrected" into unrelated ones.
    const size_t allowed = std::max<size_t>(2, name.size() / 4);
    if (best.empty() || bestDistance == 0 || bestDistance > allowed ||
        bestDistance * 2 > name.size())
        return {};
    return best;
}

std::string DidYouMean(const std::string& name, const std::vector<std::string>& candidates) {
    std::string nearest = NearestName(name, candidates);
    return nearest.empty() ? std::string() : " (did you mean '" + nearest + "'?)";
}

std::vector<std::string> SplitFields(const std::string& record, const std::string& separator) {
    std::vector<std::string> fields;
    bool onlySeparators = true;
    for (size_t i = 0; i < record.size(); i += separator.size())
        if (record.compare(i, separator.size(), separator) != 0) {
            onlySeparators = false;
            break;
        }
    if (onlySeparators) return fields;

    std::string current;
    bool open = false;
    for (size_t i = 0; i < record.size();) {
        if (record.compare(i, separator.size(), separator) == 0) {
            fields.push_back(current);
            current.clear();
            open = false;
            i += separator.size();
        } else if (record[i] == '\r' || record[i] == '\n') {
            fields.push_back(current);
            current.clear();
            open = false;
            i += (record[i] == '\r' && i + 1 < record.size() && record[i + 1] == '\n') ? 2 : 1;
        } else {
            current += record[i++];
            open = true;
        }
    }
    if (open) fields.push_back(current);
    return fields;
}

bool ParseConfigInteger(const std::string& text, long long& value) {
    const std::string t = TrimBlanks(text);
    if (t.empty()) return false;
    size_t hexStart = std::string::npos;
    if (t[0] == '$')
        hexStart = 1;
    else if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        hexStart = 2;
    if (hexStart != std::string::npos) {
        if (hexStart == t.size()) return false;
        unsigned long long v = 0;
        int significant = 0;
        for (size_t i = hexStart; i < t.size(); ++i) {
            int d = HexDigit(t[i]);
            if (d < 0) return false;
            if (v != 0 || d != 0) ++significant;
            if (significant > 8) return false;
            v = (v << 4) | static_cast<unsigned>(d);
        }
        // The 32-bit pattern: "$FFFFFFFF" reads as -1.
        value = static_cast<long long>(static_cast<int>(static_cast<unsigned>(v)));
        return true;
    }
    size_t i = 0;
    bool negative = false;
    if (t[0] == '+' || t[0] == '-') {
        negative = t[0] == '-';
        i = 1;
    }
    if (i == t.size()) return false;
    const long long limit = negative ? 2147483648LL : 2147483647LL;
    long long v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
        if (v > limit) return false;
    }
    value = negative ? -v : v;
    return true;
}

} // namespace mksetup
