// The checks' driver and the [Setup] section: unknown sections and keys (with the
// nearest known name), values of the wrong kind, and settings that only work
// together with others.
#include "Checks.h"

#include "Builder.h"
#include "CheckContext.h"
#include "CheckText.h"

#include <algorithm>

namespace mksetup {

namespace {

// [Setup] strings that name a file, folder, program or address: an unknown name
// in them makes the setup open or create something that does not exist.
const char* const kPathKeys[] = {"InstallationPath", "ProgramGroup",   "MainExecutable",
                                 "LaunchFileName",   "ViewReadmeFile", "CustomActionCommand",
                                 "CloseAppFile",     "LinkDN",         "LinkIE",
                                 "LinkAR",           "LinkJR",         "LinkSQL",
                                 "LinkSQLE",         "UninstallURL",   "UpdateURL"};

// Opened through the finish actions: the text before " /" is the file.
const char* const kFinishTargets[] = {"LaunchFileName", "ViewReadmeFile", "CustomActionCommand"};

bool IsOneOf(const std::string& name, const char* const* first, const char* const* last) {
    return std::any_of(first, last, [&](const char* k) { return EqualsIgnoreCase(name, k); });
}

std::vector<std::string> SetupKeyNames() {
    std::vector<std::string> names;
    for (const SetupKeyRule& r : SetupKeyRules())
        names.push_back(r.name);
    return names;
}

// Whether the runtime's product comparison can read a version text: it keeps the text
// up to the character after its first "." and reads that as a decimal number.
bool ComparableVersion(std::string v) {
    if (v == "X (10.0)" || v == "XI (11.0)" || v == "XII (12.0)") return true;
    size_t dot = v.find('.');
    if (dot != std::string::npos) v = v.substr(0, dot + 2);
    bool digits = false, point = false;
    for (char c : v) {
        if (c == '.' && !point)
            point = true;
        else if (c >= '0' && c <= '9')
            digits = true;
        else
            return false;
    }
    return digits;
}

const char* KindWord(KeyKind kind) {
    return kind == KeyKind::Boolean ? "a yes/no setting written 1 or 0" : "a number";
}

} // namespace

std::string FormatDiagnostic(const Diagnostic& d) {
    std::string where = d.file;
    if (d.line > 0) where += ":" + std::to_string(d.line);
    return where + (d.severity == Severity::Error ? ": error: " : ": warning: ") + d.text;
}

std::string ProjectFileName(const std::string& projectDir, const std::string& name) {
    std::string dir = projectDir;
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\'))
        dir.pop_back();
    if (dir.empty()) return name;
    if (dir.back() == '/' || dir.back() == '\\') return dir + name;
    char sep = '\\';
    if (dir.find('\\') == std::string::npos) {
#ifdef _WIN32
        sep = dir.find('/') != std::string::npos ? '/' : '\\';
#else
        sep = '/';
#endif
    }
    return dir + sep + name;
}

ProjectChecker::ProjectChecker(const Project& project, std::string iniName,
                               std::string setupDirName)
    : project_(project), iniName_(std::move(iniName)), setupDirName_(std::move(setupDirName)) {}

std::vector<Diagnostic> ProjectChecker::Run(bool setupFolder) {
    findings_.clear();
    CollectNames();
    CheckSections();
    CheckSetupKeys();
    CheckSetupCombinations();
    CheckSupportedSystems();
    CheckRecords();
    CheckPayload();
    if (setupFolder) CheckSetupFiles();
    return findings_;
}

void ProjectChecker::Report(Severity severity, int line, const std::string& text) {
    ReportIn(iniName_, severity, line, text);
}

void ProjectChecker::ReportIn(const std::string& file, Severity severity, int line,
                              const std::string& text) {
    // The files of one payload folder share their record's line and its findings.
    for (const Diagnostic& d : findings_)
        if (d.line == line && d.text == text && d.file == file) return;
    findings_.push_back(Diagnostic{file, line, severity, text});
}

const IniSection* ProjectChecker::Section(const std::string& name) const {
    int i = FindSection(project_.sections, name);
    return i < 0 ? nullptr : &project_.sections[static_cast<size_t>(i)];
}

bool ProjectChecker::HasSection(const std::string& name) const {
    return Section(name) != nullptr;
}

std::string ProjectChecker::SetupValue(const std::string& key) const {
    if (const IniSection* setup = Section("Setup")) {
        int i = setup->Find(key);
        if (i >= 0) return setup->items[static_cast<size_t>(i)].second;
    }
    const SetupKeyRule* rule = FindSetupKey(key);
    return rule ? rule->def : "";
}

bool ProjectChecker::SetupBool(const std::string& key) const {
    long long v = 0;
    if (ParseConfigInteger(SetupValue(key), v)) return v != 0;
    const SetupKeyRule* rule = FindSetupKey(key);
    return rule && std::string(rule->def) == "1";
}

// The line of a [Setup] key, else of the section's header, else 0.
static int SetupLine(const IniSection* setup, const std::string& key) {
    if (!setup) return 0;
    int i = setup->Find(key);
    return i >= 0 ? setup->LineOf(static_cast<size_t>(i)) : setup->line;
}

void ProjectChecker::CheckSections() {
    for (const IniSection& s : project_.sections) {
        bool known = std::any_of(KnownSections().begin(), KnownSections().end(),
                                 [&](const std::string& k) { return EqualsIgnoreCase(k, s.name); });
        if (!known)
            Report(Severity::Error, s.line,
                   "unknown section [" + s.name + "]: the setup never reads it" +
                       DidYouMean(s.name, KnownSections()));
    }
}

void ProjectChecker::CheckSetupKeys() {
    const IniSection* setup = Section("Setup");
    if (!setup) {
        Report(Severity::Warning, 0, "no [Setup] section: the product has no name or settings");
        return;
    }
    for (size_t i = 0; i < setup->items.size(); ++i) {
        const auto& [key, value] = setup->items[i];
        const int line = setup->LineOf(i);
        const SetupKeyRule* rule = FindSetupKey(key);
        if (!rule) {
            if (EqualsIgnoreCase(key, "Windows 10") || EqualsIgnoreCase(key, "Windows 11")) {
                // Setups see these systems as Windows 8.1 (the runtime declares no
                // later system in its manifest), so the key for 8.1 decides.
                const bool covered = SetupBool("Windows 8.1");
                Report(covered ? Severity::Warning : Severity::Error, line,
                       "'" + key +
                           "' is never read: Windows 10 and 11 present themselves to setups "
                           "as Windows 8.1 (servers as Windows Server 2012 R2)" +
                           (covered ? ", which 'Windows 8.1=1' already supports"
                                    : "; set 'Windows 8.1=1' to support them"));
                continue;
            }
            Report(Severity::Error, line,
                   "unknown [Setup] key '" + key + "': the setup never reads it" +
                       DidYouMean(key, SetupKeyNames()));
            continue;
        }
        if (rule->builderWritten) {
            Report(Severity::Warning, line,
                   "'" + key + "' is written by the builder; the value given here is replaced");
            continue;
        }
        if (rule->ignored) {
            Report(Severity::Warning, line, "'" + key + "' is not read by this setup runtime");
            continue;
        }
        CheckSetupValue(*rule, value, line);
    }
}

void ProjectChecker::CheckSetupValue(const SetupKeyRule& rule, const std::string& value, int line) {
    const std::string key = rule.name;
    if (rule.kind != KeyKind::String) {
        long long v = 0;
        if (TrimBlanks(value).empty()) {
            Report(Severity::Warning, line,
                   "'" + key + "' is empty: the setup uses its default " + rule.def);
        } else if (!ParseConfigInteger(value, v)) {
            Report(Severity::Error, line,
                   "'" + key + "' is " + KindWord(rule.kind) + ", not '" + value +
                       "'; the setup would read it as " + rule.def);
        } else if (rule.kind == KeyKind::Boolean && v != 0 && v != 1) {
            Report(Severity::Warning, line,
                   "'" + key + "=" + value + "' counts as 1; write 1 or 0");
        } else if (rule.min <= rule.max && (v < rule.min || v > rule.max)) {
            Report(Severity::Warning, line,
                   "'" + key + "=" + value + "' is outside " + std::to_string(rule.min) + ".." +
                       std::to_string(rule.max) + ", the values that have a meaning of their own");
        }
        return;
    }

    if (rule.expanded) {
        const bool path = IsOneOf(key, std::begin(kPathKeys), std::end(kPathKeys));
        CheckNames(value, path ? TextUse::Path : TextUse::Display, "'" + key + "'", line);
    }
    if (EqualsIgnoreCase(key, "InstallationPath") && !TrimBlanks(value).empty())
        CheckFullPath(TrimBlanks(value), false, "'InstallationPath'", line, Severity::Error);
    if (EqualsIgnoreCase(key, "MainExecutable")) {
        // Used as the installed program's icon, which may carry ",index".
        std::string file = value;
        size_t comma = file.rfind(',');
        if (comma != std::string::npos &&
            file.find_first_not_of("-0123456789", comma + 1) == std::string::npos)
            file.resize(comma);
        CheckProvided(file, "'MainExecutable'", line);
    }
    if (IsOneOf(key, std::begin(kFinishTargets), std::end(kFinishTargets))) {
        size_t params = value.find(" /");
        CheckProvided(value.substr(0, params), "'" + key + "'", line);
    }
    if ((EqualsIgnoreCase(key, "IEVersion") || EqualsIgnoreCase(key, "ARVersion") ||
         EqualsIgnoreCase(key, "JavaVersion")) &&
        !ComparableVersion(value))
        Report(Severity::Error, line,
               "'" + key + "=" + value +
                   "' is not a version such as 9.0: every installed version would count as "
                   "too old");
    if (EqualsIgnoreCase(key, "GUID") && value.find('\\') != std::string::npos)
        Report(Severity::Error, line,
               "'GUID' must not contain a backslash: the setup would neither list the product "
               "nor find an installed copy");
}

void ProjectChecker::CheckSetupCombinations() {
    const IniSection* setup = Section("Setup");
    auto line = [&](const std::string& key) { return SetupLine(setup, key); };
    auto on = [&](const std::string& key) { return SetupBool(key); };
    auto empty = [&](const std::string& key) { return TrimBlanks(SetupValue(key)).empty(); };

    if (setup && empty("AppName"))
        Report(Severity::Warning, line("AppName"),
               "'AppName' is empty: titles and messages name no product");
    if (on("Uninstall") && on("ShowAddRemove") && empty("GUID"))
        Report(Severity::Error, line("ShowAddRemove"),
               "'ShowAddRemove=1' needs a 'GUID': it names the product's entry among the "
               "installed programs");
    if (on("ShowAddRemove") && !on("Uninstall"))
        Report(Severity::Warning, line("ShowAddRemove"),
               "'ShowAddRemove=1' does nothing without 'Uninstall=1'");

    const char* const pairs[][2] = {
        {"LaunchFile", "LaunchFileName"},        {"ViewReadme", "ViewReadmeFile"},
        {"CustomAction", "CustomActionCommand"}, {"CloseApp", "CloseAppFile"},
        {"VisitUninstallPage", "UninstallURL"},  {"Updater", "UpdateURL"}};
    for (const auto& [flag, text] : pairs)
        if (on(flag) && empty(text))
            Report(Severity::Warning, line(flag),
                   "'" + std::string(flag) + "=1' but '" + text + "' is empty");

    const char* const required[][2] = {{"InfoUserNameReq", "InfoUserName"},
                                       {"InfoCompanyReq", "InfoCompany"},
                                       {"InfoCustomReq", "InfoCustom"}};
    for (const auto& [req, shown] : required)
        if (on(req) && !on(shown))
            Report(Severity::Warning, line(req),
                   "'" + std::string(req) + "=1' has no effect while '" + shown +
                       "' is off (the field is not shown)");
    if (on("AutoCheckUpdate") && !on("Updater"))
        Report(Severity::Warning, line("AutoCheckUpdate"),
               "'AutoCheckUpdate=1' registers an updater that 'Updater=0' does not install");
    long long mode = 0;
    ParseConfigInteger(SetupValue("InstallMode"), mode);
    if (on("CheckVersions") && mode != 1)
        Report(Severity::Warning, line("CheckVersions"),
               "'CheckVersions=1' applies only to updates ('InstallMode=1')");
    if (setup && empty("InstallationPath") && !on("DialogDestinationFolder"))
        Report(Severity::Warning, line("InstallationPath"),
               "'InstallationPath' is empty and the Destination page is off: files under "
               "<InstallDir> have nowhere to go unless the setup is started with /D or /P");
}

void ProjectChecker::CheckSupportedSystems() {
    const IniSection* setup = Section("Setup");
    if (!setup) return;
    for (const SetupKeyRule& r : SetupKeyRules())
        if (std::string(r.name).rfind("Windows ", 0) == 0 && SetupBool(r.name)) return;
    Report(Severity::Warning, setup->line,
           "no Windows version is marked as supported (such as 'Windows 7=1', 'Windows 8.1=1'): "
           "every system gets the 'requires Windows' question, and silent runs end with exit "
           "code 5");
}

std::vector<Diagnostic> CheckProject(const Project& project, const std::string& iniName,
                                     const std::string& setupDirName, bool setupFolder) {
    ProjectChecker checker(project, iniName, setupDirName);
    std::vector<Diagnostic> findings = checker.Run(setupFolder);
    // setup.ini first, then the setup folder's files in the order they were looked at;
    // within a file by line.
    std::vector<std::string> files{iniName};
    for (const Diagnostic& d : findings)
        if (std::find(files.begin(), files.end(), d.file) == files.end()) files.push_back(d.file);
    auto rank = [&](const Diagnostic& d) {
        return std::find(files.begin(), files.end(), d.file) - files.begin();
    };
    std::stable_sort(findings.begin(), findings.end(),
                     [&](const Diagnostic& a, const Diagnostic& b) {
                         if (rank(a) != rank(b)) return rank(a) < rank(b);
                         return a.line < b.line;
                     });
    return findings;
}

void ApplyProjectChecks(const Project& project, const BuildOptions& options) {
    if (options.checks == CheckLevel::Off) return;
    std::vector<Diagnostic> findings =
        CheckProject(project, ProjectFileName(options.projectDir, "setup.ini"),
                     ProjectFileName(options.projectDir, "setup"), options.requireSetupFiles);
    size_t errors = 0;
    std::string all;
    for (Diagnostic& d : findings) {
        if (options.checks == CheckLevel::Strict) d.severity = Severity::Error;
        if (d.severity == Severity::Error) ++errors;
        if (options.onDiagnostic) options.onDiagnostic(d);
        all += (all.empty() ? "" : "\n") + FormatDiagnostic(d);
    }
    if (errors == 0) return;
    std::string count = std::to_string(errors) + (errors == 1 ? " error" : " errors");
    throw BuildError(options.onDiagnostic ? count + " in the project; no setup was written" : all);
}

} // namespace mksetup
