#include "config/IniFile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace {

// One more than the longest value a reader returns.
constexpr DWORD kValueBuffer = 2048;
// The key-name list may take this many bytes, names and their terminators together.
constexpr size_t kSectionLimit = 16384;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

KeyList ReadKeyList(const std::string& path, const std::string& section) {
    KeyList list;
    std::vector<char> buf(4096);
    DWORD n;
    for (;;) {
        n = GetPrivateProfileStringA(section.c_str(), nullptr, "", buf.data(),
                                     static_cast<DWORD>(buf.size()), path.c_str());
        // size - 2 means the list was cut: ask again with room to spare.
        if (n + 2 < buf.size()) break;
        if (buf.size() >= kKeyListLimit) {
            list.complete = false;
            break;
        }
        buf.resize(std::min(buf.size() * 4, kKeyListLimit));
    }
    // A cut list ends in a name the system had to shorten: it is left out.
    const char* end = buf.data() + n;
    for (const char* p = buf.data(); p < end && *p;) {
        const size_t len = strnlen(p, static_cast<size_t>(end - p));
        if (p + len >= end && !list.complete) break;
        list.names.emplace_back(p, len);
        p += len + 1;
    }
    return list;
}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

TIniFile::~TIniFile() = default;
// The kept sections point back at the file object they were read for: a moved-to
// object starts without them.
TIniFile::TIniFile(TIniFile&& other) noexcept : path_(std::move(other.path_)) {
    other.sections_.clear();
}
TIniFile& TIniFile::operator=(TIniFile&& other) noexcept {
    path_ = std::move(other.path_);
    sections_.clear();
    other.sections_.clear();
    return *this;
}

void TIniFile::Invalidate() const {
    sections_.clear();
}

std::string TIniFile::ReadStringFromFile(const std::string& section, const std::string& key,
                                         const std::string& def) const {
    char buf[kValueBuffer];
    // The system copies at most kValueBuffer - 1 characters and always terminates, so a
    // longer value arrives cut at 2047 characters.
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf, kValueBuffer,
                                       path_.c_str());
    if (n >= kValueBuffer) n = kValueBuffer - 1;
    return std::string(buf, n);
}

bool ParseIniInteger(const std::string& text, int32_t& value) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    if (b == e) return false;

    // Hexadecimal: "$" or "0x" followed by at most eight significant digits, taken as
    // the 32-bit pattern ("$FFFFFFFF" is -1). No sign.
    size_t hexStart = std::string::npos;
    if (text[b] == '$')
        hexStart = b + 1;
    else if (e - b >= 2 && text[b] == '0' && (text[b + 1] == 'x' || text[b + 1] == 'X'))
        hexStart = b + 2;
    if (hexStart != std::string::npos) {
        if (hexStart == e) return false;
        uint32_t v = 0;
        int significant = 0;
        for (size_t i = hexStart; i < e; ++i) {
            int d = HexDigit(text[i]);
            if (d < 0) return false;
            if (v != 0 || d != 0) ++significant;
            if (significant > 8) return false; // would not fit 32 bits
            v = (v << 4) | static_cast<uint32_t>(d);
        }
        value = static_cast<int32_t>(v);
        return true;
    }

    // Decimal: an optional sign, then digits only; outside the 32-bit range is no number.
    bool negative = false;
    if (text[b] == '+' || text[b] == '-') {
        negative = text[b] == '-';
        ++b;
    }
    if (b == e) return false;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t v = 0;
    for (size_t i = b; i < e; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > limit) return false;
    }
    value = static_cast<int32_t>(negative ? -v : v);
    return true;
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t def) const {
    int32_t value = 0;
    return ParseIniInteger(ReadString(section, key, ""), value) ? value : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
    if (KnownEmpty(section)) return {};
    std::vector<std::string> names;
    size_t used = 0;
    for (std::string& name : ReadKeyList(path_, section).names) {
        if (used + name.size() + 1 > kSectionLimit) break;
        used += name.size() + 1;
        names.push_back(std::move(name));
    }
    return names;
}

bool TIniFile::SectionExists(const std::string& section) const {
    // A section counts only when it holds a key: a bare header names nothing to act on.
    if (KnownEmpty(section)) return false;
    char buf[4] = {};
    return GetPrivateProfileStringA(section.c_str(), nullptr, "", buf, sizeof buf, path_.c_str()) >
           0;
}

std::vector<std::string> SplitRecord(const std::string& record, const std::string& separator) {
    std::vector<std::string> fields;
    if (separator.empty()) {
        if (!record.empty()) fields.push_back(record);
        return fields;
    }
    // A record of nothing but separators carries no data: no fields, so every handler
    // rejects it for its field count instead of acting on a row of empty fields.
    bool onlySeparators = true;
    for (size_t i = 0; i < record.size(); i += separator.size()) {
        if (record.compare(i, separator.size(), separator) != 0) {
            onlySeparators = false;
            break;
        }
    }
    if (onlySeparators) return fields;

    // Every separator and every line break already in the text ends a field ("\r\n"
    // counts once); text after the last break is the last field, so an empty last field
    // is lost.
    std::string current;
    bool open = false; // current holds a field that has not ended yet
    for (size_t i = 0; i < record.size();) {
        if (record.compare(i, separator.size(), separator) == 0) {
            fields.push_back(std::move(current));
            current.clear();
            open = false;
            i += separator.size();
        } else if (record[i] == '\r' || record[i] == '\n') {
            fields.push_back(std::move(current));
            current.clear();
            open = false;
            i += (record[i] == '\r' && i + 1 < record.size() && record[i + 1] == '\n') ? 2 : 1;
        } else {
            current += record[i++];
            open = true;
        }
    }
    if (open) fields.push_back(std::move(current));
    return fields;
}

namespace {

// Sections larger than this are not held in memory; their keys are read one by one.
constexpr DWORD kSnapshotLimit = 64u << 20;

// A name the snapshot compares exactly as the system does: ASCII letters ignore case,
// inner blanks count; no blank at either end (the system trims it), no other bytes
// (compared by the system's locale), no comment or section mark in front.
bool IsPlainKey(const std::string& key) {
    if (key.empty() || key.front() == ' ' || key.back() == ' ') return false;
    if (key.front() == ';' || key.front() == '[') return false;
    for (char c : key) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < ' ' || u >= 0x80) return false;
    }
    return true;
}

std::string AsciiUpper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

} // namespace

bool IsPlainIniValue(const std::string& v) {
    if (v.empty()) return true;
    auto edge = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
    return !edge(v.front()) && !edge(v.back());
}

std::optional<std::vector<std::string>> ReadSectionLines(const std::string& path,
                                                         const std::string& section) {
    std::vector<char> buf(64 * 1024);
    for (;;) {
        const DWORD n = GetPrivateProfileSectionA(section.c_str(), buf.data(),
                                                  static_cast<DWORD>(buf.size()), path.c_str());
        if (n + 2 < buf.size()) break; // n == size - 2 means the section was cut
        if (buf.size() >= kSnapshotLimit) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
    std::vector<std::string> lines;
    for (const char* p = buf.data(); *p; p += std::strlen(p) + 1)
        lines.emplace_back(p);
    return lines;
}

TIniSection::TIniSection(const TIniFile& file, std::string section)
    : file_(file), section_(std::move(section)) {
    const std::optional<std::vector<std::string>> lines = ReadSectionLines(file_.Path(), section_);
    if (!lines) return; // too large to hold: every key is read on its own
    std::map<std::string, std::optional<std::string>> entries;
    for (const std::string& line : *lines) {
        const char* p = line.c_str();
        const char* eq = std::strchr(p, '=');
        const std::string key = eq ? std::string(p, eq) : std::string(p);
        // A key the system may read differently (blanks it trims, other letters it
        // compares in its own way) could stand for an earlier or a later one.
        if (!IsPlainKey(key)) return;
        const std::string value = eq ? std::string(eq + 1) : std::string();
        // The first entry of a key is the one the system reads; a value it would
        // trim or unquote is left to it, and one it would cut is cut alike.
        std::optional<std::string> known;
        if (eq && IsPlainIniValue(value)) known = value.substr(0, kValueBuffer - 1);
        entries.emplace(AsciiUpper(key), std::move(known));
    }
    entries_ = std::move(entries);
    complete_ = true;
}

std::string TIniSection::ReadString(const std::string& key, const std::string& def) const {
    if (IsPlainKey(key)) {
        auto it = entries_.find(AsciiUpper(key));
        if (it != entries_.end() && it->second) return *it->second;
        // The whole section was read: a key it does not hold is not in the file.
        if (it == entries_.end() && complete_) return def;
    }
    return file_.ReadStringFromFile(section_, key, def);
}

const TIniSection* TIniFile::Section(const std::string& section) const {
    // A section name the system may compare in its own way is not kept.
    if (!IsPlainKey(section)) return nullptr;
    std::unique_ptr<TIniSection>& cached = sections_[AsciiUpper(section)];
    if (!cached) cached = std::make_unique<TIniSection>(*this, section);
    return cached.get();
}

bool TIniFile::KnownEmpty(const std::string& section) const {
    const TIniSection* s = Section(section);
    return s && s->KnownEmpty();
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    const TIniSection* s = Section(section);
    return s ? s->ReadString(key, def) : ReadStringFromFile(section, key, def);
}
