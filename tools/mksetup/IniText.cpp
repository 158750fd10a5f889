#include "IniText.h"

#include "Builder.h"
#include "common/WinPath.h"

namespace mksetup {

namespace {

using qvcommon::SameText;

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

[[noreturn]] void Fail(const std::string& source, int line, const std::string& what) {
    throw BuildError(source + " line " + std::to_string(line) + ": " + what);
}

size_t SectionNamesSize(const IniSection& section) {
    size_t total = 1; // the list's final zero
    for (const auto& item : section.items)
        total += item.first.size() + 1;
    return total;
}

} // namespace

int IniSection::Find(const std::string& key) const {
    for (size_t i = 0; i < items.size(); ++i)
        if (SameText(items[i].first, key)) return static_cast<int>(i);
    return -1;
}

void IniSection::Set(const std::string& key, const std::string& value) {
    int i = Find(key);
    if (i >= 0)
        items[static_cast<size_t>(i)].second = value;
    else
        items.emplace_back(key, value);
}

int FindSection(const std::vector<IniSection>& sections, const std::string& name) {
    for (size_t i = 0; i < sections.size(); ++i)
        if (SameText(sections[i].name, name)) return static_cast<int>(i);
    return -1;
}

std::vector<IniSection> ParseIniText(const std::string& text, const std::string& sourceName) {
    if (text.size() >= 2 &&
        ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF')))
        throw BuildError(sourceName + " is UTF-16 text; save it as 8-bit (ANSI) text");
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;

    std::vector<IniSection> sections;
    IniSection* current = nullptr;
    int lineNo = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string raw = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (raw.find('\r') != std::string::npos || raw.find('\0') != std::string::npos)
            Fail(sourceName, lineNo, "stray control character");
        std::string line = Trim(raw);
        if (line.empty() || line[0] == ';') continue;

        if (line[0] == '[') {
            if (line.back() != ']') Fail(sourceName, lineNo, "section header without ']'");
            std::string name = Trim(line.substr(1, line.size() - 2));
            if (name.empty()) Fail(sourceName, lineNo, "empty section name");
            int found = FindSection(sections, name);
            if (found >= 0) {
                current = &sections[static_cast<size_t>(found)];
            } else {
                sections.push_back(IniSection{name, {}, lineNo});
                current = &sections.back();
            }
            continue;
        }

        if (!current) Fail(sourceName, lineNo, "text before the first [section]");
        size_t eq = line.find('=');
        if (eq == std::string::npos) Fail(sourceName, lineNo, "expected Key=Value");
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (key.empty()) Fail(sourceName, lineNo, "key name missing before '='");
        // The runtime would only ever see the first of two equal keys.
        if (current->Find(key) >= 0)
            Fail(sourceName, lineNo, "key '" + key + "' appears twice in [" + current->name + "]");
        if (value.size() > kMaxIniValue)
            Fail(sourceName, lineNo,
                 "value longer than " + std::to_string(kMaxIniValue) + " characters");
        current->lines.resize(current->items.size());
        current->items.emplace_back(key, value);
        current->lines.push_back(lineNo);
        if (SectionNamesSize(*current) > kMaxSectionNames)
            Fail(sourceName, lineNo,
                 "the key names of [" + current->name + "] exceed " +
                     std::to_string(kMaxSectionNames) + " bytes; use shorter keys");
    }
    return sections;
}

std::string FormatIniText(const std::vector<IniSection>& sections) {
    std::string out;
    for (size_t i = 0; i < sections.size(); ++i) {
        if (i > 0) out += "\r\n";
        out += "[" + sections[i].name + "]\r\n";
        for (const auto& [key, value] : sections[i].items)
            out += key + "=" + value + "\r\n";
    }
    return out;
}

} // namespace mksetup
