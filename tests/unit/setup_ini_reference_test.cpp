// docs/setup-ini.md, the product makers' reference, documents exactly what the
// builder's checks know: every [Setup] key with its kind and default, every path
// constant in the runtime's order, every section, every record field with its
// accepted words; and each example record it shows passes the checks.
#include "CheckText.h"
#include "Checks.h"
#include "IniText.h"
#include "Project.h"
#include "SetupIniRules.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines ReadDoc() {
    const std::string text = ReadFileBytes(QV_SOURCE_DIR "\\docs\\setup-ini.md");
    Lines lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

// The lines after a heading up to the next heading of the same or a higher level.
Lines Part(const Lines& doc, const std::string& heading) {
    const size_t level = heading.find(' ');
    auto ends = [&](const std::string& line) {
        const size_t hashes = line.find_first_not_of('#');
        return hashes != std::string::npos && hashes > 0 && hashes <= level && line[hashes] == ' ';
    };
    Lines out;
    bool in = false;
    for (const std::string& line : doc) {
        if (in && ends(line)) break;
        if (in) out.push_back(line);
        if (line == heading) in = true;
    }
    EXPECT_TRUE(in) << "no heading " << heading;
    return out;
}

std::vector<std::string> Cells(const std::string& row) {
    std::vector<std::string> cells;
    size_t start = 1;
    for (size_t bar = row.find('|', start); bar != std::string::npos; bar = row.find('|', start)) {
        cells.push_back(mksetup::TrimBlanks(row.substr(start, bar - start)));
        start = bar + 1;
    }
    return cells;
}

// The texts in backticks.
std::vector<std::string> Quoted(const std::string& cell) {
    std::vector<std::string> out;
    for (size_t open = cell.find('`'); open != std::string::npos; open = cell.find('`', open + 1)) {
        size_t close = cell.find('`', open + 1);
        if (close == std::string::npos) break;
        out.push_back(cell.substr(open + 1, close - open - 1));
        open = close;
    }
    return out;
}

// Table rows whose first cell starts as given ("`" for key tables, a digit for fields).
std::vector<std::vector<std::string>> Rows(const Lines& part, bool numbered) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : part) {
        if (line.rfind("| ", 0) != 0) continue;
        std::vector<std::string> cells = Cells(line);
        if (cells.empty() || cells[0].empty()) continue;
        const bool digit = cells[0][0] >= '0' && cells[0][0] <= '9';
        if (numbered ? digit : cells[0][0] == '`') rows.push_back(cells);
    }
    return rows;
}

std::set<std::string> Upper(const std::vector<std::string>& words) {
    std::set<std::string> out;
    for (const std::string& w : words)
        out.insert(mksetup::AsciiUpper(w));
    return out;
}

TEST(SetupIniReference, DocumentsEverySetupKeyWithItsKindAndDefault) {
    const Lines doc = ReadDoc();
    std::set<std::string> documented;
    for (const auto& row : Rows(Part(doc, "## [Setup] keys"), false)) {
        ASSERT_EQ(row.size(), 4u) << row[0];
        for (const std::string& key : Quoted(row[0])) {
            EXPECT_TRUE(documented.insert(key).second) << key << " documented twice";
            const mksetup::SetupKeyRule* rule = mksetup::FindSetupKey(key);
            if (!rule) {
                ADD_FAILURE() << "the reference documents " << key
                              << ", which the checks do not know";
                continue;
            }
            EXPECT_EQ(std::string(rule->name), key) << "spelling";
            const char* kind = rule->kind == mksetup::KeyKind::Boolean   ? "yes/no"
                               : rule->kind == mksetup::KeyKind::Integer ? "number"
                               : rule->expanded                          ? "text, expanded"
                                                                         : "text";
            EXPECT_EQ(row[1], kind) << key;
            const std::vector<std::string> def = Quoted(row[2]);
            EXPECT_EQ(def.empty() ? std::string() : def[0], rule->def) << key;
            if (def.empty()) {
                EXPECT_EQ(row[2], "empty") << key;
            }
        }
    }
    for (const mksetup::SetupKeyRule& rule : mksetup::SetupKeyRules())
        EXPECT_TRUE(documented.count(rule.name)) << rule.name << " is not documented";
}

TEST(SetupIniReference, DocumentsEveryPathConstantInTheRuntimesOrder) {
    std::vector<std::string> documented;
    for (const auto& row : Rows(Part(ReadDoc(), "## Path constants"), false))
        documented.push_back(Quoted(row[0]).at(0));
    std::vector<std::string> known;
    for (const mksetup::PathConstantRule& c : mksetup::PathConstantRules())
        known.push_back(c.name);
    EXPECT_EQ(documented, known);
}

TEST(SetupIniReference, DocumentsEverySectionAndRecordField) {
    const Lines doc = ReadDoc();
    const Lines items = Part(doc, "## Item sections");
    std::set<std::string> sections = {"Setup", "Payload"};
    for (const std::string& line : items)
        if (line.rfind("### [", 0) == 0) sections.insert(line.substr(5, line.size() - 6));
    EXPECT_EQ(sections, std::set<std::string>(mksetup::KnownSections().begin(),
                                              mksetup::KnownSections().end()));

    for (const mksetup::RecordRule& rule : mksetup::RecordRules()) {
        SCOPED_TRACE(rule.section);
        const auto rows = Rows(Part(items, std::string("### [") + rule.section + "]"), true);
        ASSERT_EQ(rows.size(), rule.fields.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const mksetup::FieldRule& field = rule.fields[i];
            EXPECT_EQ(rows[i][0], std::to_string(i + 1));
            EXPECT_EQ(rows[i][1], field.name);
            if (field.kind == mksetup::FieldKind::Words) {
                EXPECT_EQ(Upper(Quoted(rows[i][2])),
                          std::set<std::string>(field.words.begin(), field.words.end()))
                    << field.name;
            }
            if (field.kind == mksetup::FieldKind::Flag) {
                EXPECT_EQ(rows[i][2], "`Yes` or `No`");
            }
        }
    }

    const auto payload = Rows(Part(doc, "## [Payload]"), true);
    ASSERT_EQ(payload.size(), 4u);
    EXPECT_EQ(Upper(Quoted(payload[2][2])),
              std::set<std::string>(mksetup::ExistModes().begin(), mksetup::ExistModes().end()));
}

// Every example record of the reference passes the checks without an error.
TEST(SetupIniReference, ExampleRecordsPassTheChecks) {
    const Lines items = Part(ReadDoc(), "## Item sections");
    for (const mksetup::RecordRule& rule : mksetup::RecordRules()) {
        const Lines part = Part(items, std::string("### [") + rule.section + "]");
        std::string records;
        bool code = false;
        for (const std::string& line : part) {
            if (line.rfind("```", 0) == 0)
                code = !code;
            else if (code && !line.empty() && line[0] >= '0' && line[0] <= '9')
                records += line + "\r\n";
        }
        ASSERT_FALSE(records.empty()) << "no example for [" << rule.section << "]";
        mksetup::Project p;
        p.sections = mksetup::ParseIniText(
            "[Setup]\r\nAppName=A\r\nWindows 7=1\r\nInstallationPath=C:\\A\r\n[Variables]\r\n"
            "v0=<OldDir>*?HKCU\\Software\\A*?Dir*?String*?C:\\A*?Default\r\n[" +
                std::string(rule.section) + "]\r\n" + records,
            "setup.ini");
        for (const mksetup::Diagnostic& d : mksetup::CheckProject(p, "setup.ini", "setup", false))
            EXPECT_NE(d.severity, mksetup::Severity::Error)
                << "[" << rule.section << "] " << mksetup::FormatDiagnostic(d);
    }
}

} // namespace
