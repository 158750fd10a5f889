// The item sections: every record must split into the fields its handler expects
// (the runtime drops any other record without a word), fixed fields must hold words
// the runtime knows, and the fields that carry numbers, registry data or names must
// hold what the runtime can use.
#include "CheckContext.h"
#include "CheckText.h"

#include <algorithm>

namespace mksetup {

namespace {

// Text fields that name a file, folder, program or address.
const char* const kPathFields[] = {"target",  "working folder", "icon file",
                                   "program", "path",           "link"};

// What the runtime does instead with a word it does not know, for the fields where
// that is a sensible default.
std::string Fallback(const std::string& field) {
    if (field == "show state" || field == "window") return "a normal window";
    if (field == "platform") return "every platform";
    if (field == "value kind") return "an integer (DWORD)";
    return "its default";
}

std::string JoinWords(const std::vector<std::string>& words) {
    std::string out;
    for (size_t i = 0; i < words.size(); ++i)
        out += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    return out;
}

std::string FieldList(const RecordRule& rule) {
    std::string out;
    for (size_t i = 0; i < rule.fields.size(); ++i)
        out += std::string(i ? "*?" : "") + rule.fields[i].name;
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// REG_DWORD data as the registry handler reads it: blanks and a sign, then decimal
// within 32 bits, or "$"/"0x" and at most eight significant hexadecimal digits.
bool IsDwordText(const std::string& text) {
    size_t i = 0, n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool hex = false;
    if (i < n && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == n) return false;
    if (hex) {
        int significant = 0;
        bool leading = true;
        for (; i < n; ++i) {
            int h = HexValue(text[i]);
            if (h < 0) return false;
            if (!leading || h != 0) {
                leading = false;
                if (++significant > 8) return false;
            }
        }
        return true;
    }
    const unsigned long long limit = negative ? 2147483648ULL : 2147483647ULL;
    unsigned long long v = 0;
    for (; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + static_cast<unsigned>(text[i] - '0');
        if (v > limit) return false;
    }
    return true;
}

bool IsDecimalDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

bool HasName(const std::string& text) {
    return text.find('<') != std::string::npos;
}

} // namespace

void ProjectChecker::CheckRecords() {
    for (const IniSection& section : project_.sections) {
        const RecordRule* rule = FindRecordRule(section.name);
        if (!rule) continue;
        for (size_t i = 0; i < section.items.size(); ++i)
            CheckRecord(*rule, section.items[i].second, section.LineOf(i));
    }
}

void ProjectChecker::CheckRecord(const RecordRule& rule, const std::string& value, int line) {
    const std::string section = std::string("[") + rule.section + "]";
    // File placement blanks [Others] records of files it did not install; an empty one
    // written here is simply passed over as well.
    if (value.empty()) {
        if (!EqualsIgnoreCase(rule.section, "Others"))
            Report(Severity::Warning, line, section + " record is empty and does nothing");
        return;
    }
    std::vector<std::string> f = SplitFields(value, "*?");
    const size_t want = rule.fields.size();
    if (f.size() != want && !(f.size() >= rule.minFields && f.size() < want)) {
        std::string text = section + " record has " + std::to_string(f.size()) + " field" +
                           (f.size() == 1 ? "" : "s") + "; it needs " + std::to_string(want) +
                           ": " + FieldList(rule) + ". The setup would skip it";
        if (value.size() >= 2 && value.compare(value.size() - 2, 2, "*?") == 0)
            text += " (an empty last field is lost: the last field must hold something)";
        else if (value.find("*?") == std::string::npos && value.find('?') != std::string::npos)
            text += " (fields are separated by *?, not ?)";
        Report(Severity::Error, line, text);
        return;
    }
    while (f.size() < want)
        f.emplace_back();
    for (size_t i = 0; i < want; ++i)
        CheckField(rule, i, f[i], line);
    CheckRecordSpecifics(rule, f, line);
}

void ProjectChecker::CheckField(const RecordRule& rule, size_t index, const std::string& value,
                                int line) {
    const FieldRule& field = rule.fields[index];
    const std::string where = std::string("[") + rule.section + "] " + field.name;
    switch (field.kind) {
    case FieldKind::Text: {
        bool path = std::any_of(std::begin(kPathFields), std::end(kPathFields),
                                [&](const char* p) { return field.name == std::string(p); });
        CheckNames(value, path ? TextUse::Path : TextUse::Display, where, line);
        break;
    }
    case FieldKind::Path:
        CheckNames(value, TextUse::Path, where, line);
        CheckFullPath(value, true, where, line, Severity::Error);
        break;
    case FieldKind::Literal:
        break;
    case FieldKind::Words: {
        const std::string up = AsciiUpper(value);
        if (std::find(field.words.begin(), field.words.end(), up) != field.words.end()) break;
        if (value.empty() && field.unknownWord == Severity::Warning) break;
        std::string text = where + " '" + value + "' is not " + JoinWords(field.words);
        if (std::find(field.words.begin(), field.words.end(), TrimBlanks(up)) != field.words.end())
            text += " (blanks around a word make it another word)";
        else
            text += DidYouMean(value, field.words);
        if (field.unknownWord == Severity::Warning)
            text += "; the setup takes it as " + Fallback(field.name);
        else
            text += "; the setup would not act on this record as meant";
        Report(field.unknownWord, line, text);
        break;
    }
    case FieldKind::Flag: {
        const std::string up = AsciiUpper(value);
        if (up != "YES" && up != "NO")
            Report(Severity::Warning, line,
                   where + " '" + value + "' is neither Yes nor No: it counts as No");
        break;
    }
    case FieldKind::Number:
        if (!IsDecimalDigits(value))
            Report(Severity::Warning, line,
                   where + " '" + value + "' is not a number: it counts as 0");
        break;
    case FieldKind::RegistryKey:
        CheckRegistryKey(value, where, line);
        break;
    }
}

void ProjectChecker::CheckRegistryKey(const std::string& field, const std::string& where,
                                      int line) {
    std::string key = field;
    while (!key.empty() && key.back() == '\\')
        key.pop_back();
    size_t slash = key.find('\\');
    if (slash == std::string::npos) {
        Report(Severity::Error, line,
               where + " '" + field +
                   "' needs a root and a key path, such as HKCU\\Software\\Vendor\\Product");
        return;
    }
    const std::string root = AsciiUpper(key.substr(0, slash));
    const std::vector<std::string>& roots = RegistryRoots();
    if (std::find(roots.begin(), roots.end(), root) == roots.end() && !HasName(root))
        Report(Severity::Error, line,
               where + " root '" + key.substr(0, slash) +
                   "' is not HKCR, HKCU, HKLM or HKU (or their long names)" +
                   DidYouMean(root, roots) + "; the setup would skip the record");
    CheckNames(key.substr(slash + 1), TextUse::Path, where, line);
}

void ProjectChecker::CheckRegistryData(const std::vector<std::string>& f, int line) {
    const std::string type = AsciiUpper(f[2]);
    const std::string& data = f[3];
    if (HasName(data)) return; // known only on the target machine
    if (type == "REG_DWORD" && !IsDwordText(data)) {
        Report(Severity::Error, line,
               "[Registry] data '" + data +
                   "' is not a 32-bit number (decimal, or hexadecimal after $ or 0x); writing "
                   "the value would fail");
    } else if (type == "REG_BINARY") {
        for (size_t i = 0; i + 2 <= data.size(); i += 3) {
            if (HexValue(data[i]) < 0 || HexValue(data[i + 1]) < 0) {
                Report(Severity::Error, line,
                       "[Registry] data '" + data + "': '" + data.substr(i, 2) +
                           "' is not a hexadecimal byte; REG_BINARY data is written as pairs "
                           "such as 01 a0 ff");
                return;
            }
            if (i + 2 < data.size() && HexValue(data[i + 2]) >= 0) {
                Report(Severity::Warning, line,
                       "[Registry] data '" + data +
                           "': the bytes must be separated (01 a0 ff); the character after "
                           "each pair is skipped, so '" +
                           data.substr(i, 3) + "' gives only the byte " + data.substr(i, 2));
                return;
            }
        }
        // (A record cannot hold more than the 4096 bytes a value may take: the
        // configuration cuts values at 2047 characters, and setup.ini refuses longer.)
        if (data.size() % 3 == 1)
            Report(Severity::Warning, line,
                   "[Registry] data '" + data + "' ends in a lone character, which is skipped");
    }
}

void ProjectChecker::CheckRecordSpecifics(const RecordRule& rule, const std::vector<std::string>& f,
                                          int line) {
    const std::string s = rule.section;
    if (s == "Variables") {
        if (f[0].empty())
            Report(Severity::Error, line, "[Variables] name is empty");
        else if (f[0].front() != '<' || f[0].back() != '>')
            Report(Severity::Warning, line,
                   "[Variables] name '" + f[0] +
                       "' is not written in angle brackets: the setup replaces this text "
                       "wherever it occurs");
    } else if (s == "Shortcuts") {
        if (!EndsWithIgnoreCase(f[0], ".lnk"))
            Report(Severity::Warning, line,
                   "[Shortcuts] shortcut file '" + f[0] +
                       "' does not end in .lnk: Windows does not show it as a shortcut");
        CheckProvided(f[1], "[Shortcuts] target", line);
        CheckProvided(f[5], "[Shortcuts] icon file", line);
    } else if (s == "Extensions") {
        const std::string& ext = f[0];
        if (ext.empty() || ext.front() == '.')
            Report(Severity::Error, line,
                   "[Extensions] extension '" + ext +
                       "' must be written without its dot, such as 'txt'");
        else if (ext.find_first_of("\\/ <>:\"|?*") != std::string::npos)
            Report(Severity::Error, line,
                   "[Extensions] extension '" + ext + "' is not a file extension");
        CheckProvided(f[1], "[Extensions] program", line);
        CheckProvided(f[3], "[Extensions] icon file", line);
    } else if (s == "Registry") {
        CheckRegistryData(f, line);
    } else if (s == "INI") {
        if (f[1].empty() || f[1].find(']') != std::string::npos)
            Report(Severity::Error, line,
                   "[INI] section '" + f[1] + "' must be a name without ']'; the setup refuses it");
        if (f[2].empty() || f[2].find('=') != std::string::npos)
            Report(Severity::Error, line,
                   "[INI] key '" + f[2] + "' must be a name without '='; the setup refuses it");
    } else if (s == "Environments") {
        if (f[0].empty() || f[0].find('=') != std::string::npos)
            Report(Severity::Error, line,
                   "[Environments] name '" + f[0] + "' is not an environment variable name");
    } else if (s == "Others") {
        CheckProvided(f[1], "[Others] file", line);
    } else if (s == "Commands") {
        const std::string stage = AsciiUpper(f[3]);
        if (f[0].empty()) {
            Report(Severity::Error, line, "[Commands] program is empty");
        } else if (StartsWithIgnoreCase(f[0], "<InstallDir>") &&
                   (stage == "BEFORE INSTALLATION" || stage == "AT USER INFORMATION DIALOG" ||
                    stage == "AT FOLDER SELECT DIALOG")) {
            Report(Severity::Warning, line,
                   "[Commands] program '" + f[0] + "' runs at '" + f[3] +
                       "', before the files are installed");
        } else if (stage == "AFTER INSTALLATION" || stage == "BEFORE UNINSTALLATION") {
            CheckProvided(f[0], "[Commands] program", line);
        }
    } else if (s == "Prerequisites") {
        const std::string condition = AsciiUpper(f[3]);
        if (condition.rfind("REGISTRY", 0) == 0) {
            size_t slash = f[4].find('\\');
            const std::string root = AsciiUpper(f[4].substr(0, slash));
            const std::vector<std::string>& roots = RegistryRoots();
            if (slash == std::string::npos ||
                std::find(roots.begin(), roots.end(), root) == roots.end())
                Report(Severity::Warning, line,
                       "[Prerequisites] path '" + f[4] +
                           "' does not start with HKCR, HKCU, HKLM or HKU: the setup looks in "
                           "the current user's hive");
        } else if (condition.rfind("FILE", 0) == 0 || condition.rfind("FOLDER", 0) == 0) {
            CheckFullPath(f[4], condition.rfind("FILE", 0) == 0, "[Prerequisites] path", line,
                          Severity::Warning);
        }
        if (condition == "REGISTRY VALUE CONTENTS" && f[5].empty())
            Report(Severity::Warning, line,
                   "[Prerequisites] 'REGISTRY VALUE CONTENTS' with an empty value is never met");
    }
}

} // namespace mksetup
