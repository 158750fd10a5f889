// The state of one check of a project, shared by the check files: the project,
// the names findings are reported under, and what the configuration defines.
// Internal to the checks (Checks.h is the public face).
#pragma once

#include "Diagnostics.h"
#include "Project.h"
#include "SetupIniRules.h"

#include <set>
#include <string>
#include <vector>

namespace mksetup {

// Where a text ends up, which decides how hard an unknown name in it weighs.
enum class TextUse {
    Path,    // a file, folder or program: an unknown name makes it point nowhere
    Display, // shown or stored as text: an unknown name is shown as written
};

class ProjectChecker {
  public:
    ProjectChecker(const Project& project, std::string iniName, std::string setupDirName);
    std::vector<Diagnostic> Run(bool setupFolder);

    // Checks.cpp
    void Report(Severity severity, int line, const std::string& text);
    void ReportIn(const std::string& file, Severity severity, int line, const std::string& text);
    // A [Setup] value as written, or the runtime's default when the key is absent.
    std::string SetupValue(const std::string& key) const;
    bool SetupBool(const std::string& key) const;
    bool HasSection(const std::string& name) const;
    const IniSection* Section(const std::string& name) const;

  private:
    void CheckSections();
    void CheckSetupKeys();
    void CheckSetupValue(const SetupKeyRule& rule, const std::string& value, int line);
    void CheckSetupCombinations();
    void CheckSupportedSystems();

    // CheckRecords.cpp
    void CheckRecords();
    void CheckRecord(const RecordRule& rule, const std::string& value, int line);
    void CheckField(const RecordRule& rule, size_t index, const std::string& value, int line);
    void CheckRegistryKey(const std::string& field, const std::string& what, int line);
    void CheckRegistryData(const std::vector<std::string>& f, int line);
    void CheckRecordSpecifics(const RecordRule& rule, const std::vector<std::string>& f, int line);

  public:
    // CheckPaths.cpp
    void CollectNames();
    // Reports every <Name> in text that is neither a path constant nor a user variable.
    void CheckNames(const std::string& text, TextUse use, const std::string& where, int line);
    // A full path of a file (or, with isFile false, a folder) as the runtime needs it.
    void CheckFullPath(const std::string& text, bool isFile, const std::string& where, int line,
                       Severity severity);
    // A reference below <InstallDir> to a file that no payload file installs.
    void CheckProvided(const std::string& reference, const std::string& where, int line);
    void CheckPayload();

    // CheckSetupFiles.cpp
    void CheckSetupFiles();

  private:
    void CheckLanguages(const std::vector<std::string>& languageFiles);
    void CheckLanguageFile(const std::string& path, const std::string& shownName);
    void CheckRichTexts(const std::vector<std::string>& languages);
    void CheckPicture(const std::string& path, const std::string& name, int width, int height);
    void CheckDefaultLanguage(const std::vector<std::string>& languages);
    std::string SetupFileName(const std::string& name) const;
    std::string ResolveStatic(const std::string& text) const;

    const Project& project_;
    std::string iniName_;
    std::string setupDirName_;
    std::vector<std::string> variables_; // user-variable names as defined
    std::set<std::string> provided_;     // upper-case "<INSTALLDIR>\..." of payload files
    std::vector<Diagnostic> findings_;
};

} // namespace mksetup
