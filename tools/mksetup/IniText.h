// An order-preserving reader and writer of INI text, used for the project's
// setup.ini and the generated "qvsetup.ini". Unlike the profile functions it keeps
// every section and key in the order written and reports what the runtime would
// silently get wrong (duplicate keys, values it would cut, lines it cannot read).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace mksetup {

struct IniSection {
    IniSection() = default;
    IniSection(std::string sectionName,
               std::vector<std::pair<std::string, std::string>> sectionItems, int headerLine)
        : name(std::move(sectionName)), items(std::move(sectionItems)), line(headerLine) {}

    std::string name;                                       // as written, without brackets
    std::vector<std::pair<std::string, std::string>> items; // key, value; in file order
    int line = 0;                                           // line of the header; 0 if made up
    std::vector<int> lines; // line of each item, parallel to items; may be shorter

    // The line an item was read from; 0 for an item the builder added.
    int LineOf(size_t item) const { return item < lines.size() ? lines[item] : 0; }

    // Index of a key (ASCII case-insensitive), or -1.
    int Find(const std::string& key) const;
    // Replaces the value of an existing key in place, else appends the key.
    void Set(const std::string& key, const std::string& value);
};

// The runtime reads at most this many characters of a value.
constexpr size_t kMaxIniValue = 2047;
// The key names of one section, each with a terminating zero, must fit this buffer
// (plus the list's final zero) for the runtime to see all of them.
constexpr size_t kMaxSectionNames = 16384;

// Parses INI text. Blank lines and lines starting with ';' are skipped; blanks
// around section names, keys and values are removed; a repeated section header
// continues the earlier section. Throws BuildError naming `sourceName` and the
// line for: text before the first section, a line that is neither a header nor
// Key=Value, an empty key, a key given twice in one section, a value longer than
// the runtime reads, a section whose key names the runtime could not list, and
// UTF-16 text. A UTF-8 byte-order mark is dropped.
std::vector<IniSection> ParseIniText(const std::string& text, const std::string& sourceName);

// Index of a section (ASCII case-insensitive), or -1.
int FindSection(const std::vector<IniSection>& sections, const std::string& name);

// "[Name]" + CRLF + "Key=Value" CRLF lines, sections separated by an empty line.
std::string FormatIniText(const std::vector<IniSection>& sections);

} // namespace mksetup
