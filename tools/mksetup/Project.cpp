#include "Project.h"

#include "Builder.h"
#include "FileIo.h"
#include "common/WinPath.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace mksetup {

namespace {

using qvcommon::ExtractFileName;
using qvcommon::HasCharacterNotAllowedInNames;
using qvcommon::JoinPath;
using qvcommon::SameText;
using qvcommon::UpperCase;

constexpr uint64_t kMaxSetupIni = 16 * 1024 * 1024;

// Names the runtime creates itself in its temp folder; a setup file of the same
// name would be overwritten there (or, for the cabinet, overwrite the very file
// being unpacked).
const char* const kReservedSetupNames[] = {"qvsetup.ini", "qvsetup.cab", "qvfile.dat",
                                           "qvuninstall.ini"};

const char* const kExistModes[] = {"OVERWRITE", "SKIP", "ASK", "OVERWRITE ONLY IF NEWER"};

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool EndsWithText(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && SameText(s.substr(s.size() - tail.size()), tail);
}

// The cabinet stores the file under this name and the runtime extracts it into the
// destination folder under it, so it must be a literal, valid file name.
void CheckFileName(const std::string& name, const std::string& destination) {
    auto fail = [&](const std::string& why) {
        throw BuildError("payload destination '" + destination + "': " + why);
    };
    if (name.empty()) fail("no file name after the last backslash");
    if (name == "." || name == "..") fail("'" + name + "' is not a file name");
    for (unsigned char c : name)
        if (c < 32 || std::string("<>:\"/|?*").find(static_cast<char>(c)) != std::string::npos)
            fail("the file name must be literal (no path constants) and valid");
    if (name.back() == ' ' || name.back() == '.') fail("the file name ends in a blank or dot");
}

void CheckDestination(const std::string& destination) {
    bool drive = destination.size() >= 3 &&
                 std::isalpha(static_cast<unsigned char>(destination[0])) &&
                 destination[1] == ':' && destination[2] == '\\';
    bool unc = destination.rfind("\\\\", 0) == 0;
    bool constant = !destination.empty() && destination[0] == '<';
    if (!drive && !unc && !constant)
        throw BuildError("payload destination '" + destination +
                         "': must be a full path such as <InstallDir>\\name.ext");
    for (unsigned char c : destination)
        if (c < 32)
            throw BuildError("payload destination '" + destination + "': control character");
    CheckFileName(ExtractFileName(destination), destination);
}

// Relative paths use backslashes on every host: they become destinations.
void ListInto(const std::string& folder, const std::string& prefix, std::vector<std::string>& out) {
    std::vector<FolderEntry> entries = ListFolder(folder);
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        std::string ua = UpperCase(a.name), ub = UpperCase(b.name);
        return ua != ub ? ua < ub : a.name < b.name;
    });
    for (const FolderEntry& e : entries) {
        std::string full = JoinHostPath(folder, e.name);
        if (full.size() >= kMaxHostPath) throw BuildError("path too long: " + full);
        if (e.folder)
            ListInto(full, prefix + e.name + "\\", out);
        else
            out.push_back(prefix + e.name);
    }
}

void AddPayload(Project& project, const PayloadRecord& record) {
    // Sources are host paths, written with '\\' or '/' alike.
    std::string source = IsAbsoluteHostPath(record.source)
                             ? record.source
                             : JoinHostPath(project.dir, record.source);
    source = FullHostPath(source);
    if (FolderExists(source)) {
        std::vector<std::string> files = ListFilesRecursive(source);
        if (files.empty()) throw BuildError("payload folder holds no files: " + source);
        for (const std::string& rel : files) {
            PayloadFile file;
            file.sourcePath = JoinHostPath(source, rel);
            file.destination = JoinPath(record.destination, rel);
            file.existMode = record.existMode;
            file.uninstall = record.uninstall;
            file.line = record.line;
            project.payload.push_back(file);
        }
    } else if (FileExists(source)) {
        PayloadFile file;
        file.sourcePath = source;
        file.destination = record.destination;
        file.existMode = record.existMode;
        file.uninstall = record.uninstall;
        file.line = record.line;
        project.payload.push_back(file);
    } else {
        throw BuildError("payload source not found: " + source);
    }
}

void ReadSetupFolder(Project& project, bool requireSetupFiles) {
    std::string folder = JoinHostPath(project.dir, "setup");
    if (!FolderExists(folder)) {
        if (requireSetupFiles) throw BuildError("project has no setup folder: " + folder);
        return;
    }
    bool wizard = false, header = false, language = false;
    std::vector<std::string> names;
    for (const FolderEntry& e : ListFolder(folder))
        if (!e.folder) names.push_back(e.name);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        std::string ua = UpperCase(a), ub = UpperCase(b);
        return ua != ub ? ua < ub : a < b;
    });
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        // Names another system allows but a Windows folder cannot hold: the setup would
        // refuse its own cabinet at start-up.
        if (HasCharacterNotAllowedInNames(name))
            throw BuildError("setup folder file name is not valid on Windows: " + name);
        if (i > 0 && SameText(names[i - 1], name))
            throw BuildError("setup folder holds " + names[i - 1] + " and " + name +
                             ", one file on Windows");
        for (const char* reserved : kReservedSetupNames)
            if (SameText(name, reserved))
                throw BuildError("setup folder must not contain " + name +
                                 " (the builder or the runtime makes that file)");
        wizard = wizard || SameText(name, "qvwizard.bmp");
        header = header || SameText(name, "qvheader.bmp");
        language = language || EndsWithText(name, "qv.lng");
        project.setupFiles.push_back(JoinHostPath(folder, name));
    }
    if (!requireSetupFiles) return;
    if (!wizard) throw BuildError("setup folder lacks qvwizard.bmp: " + folder);
    if (!header) throw BuildError("setup folder lacks qvheader.bmp: " + folder);
    if (!language) throw BuildError("setup folder has no language file (*qv.lng): " + folder);
}

} // namespace

std::string PayloadFile::NameInCab() const {
    return ExtractFileName(destination);
}

PayloadRecord ParsePayloadRecord(const std::string& value) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t q = value.find('?', start);
        fields.push_back(Trim(value.substr(start, q == std::string::npos ? q : q - start)));
        if (q == std::string::npos) break;
        start = q + 1;
    }
    auto fail = [&](const std::string& why) {
        throw BuildError("[Payload] record '" + value + "': " + why);
    };
    if (fields.size() != 4)
        fail("expected source?destination?exist mode?uninstall flag, found " +
             std::to_string(fields.size()) + " field(s)");
    PayloadRecord record;
    record.source = fields[0];
    record.destination = fields[1];
    record.existMode = UpperCase(fields[2]);
    if (record.source.empty()) fail("empty source");
    if (record.destination.empty()) fail("empty destination");
    if (std::none_of(std::begin(kExistModes), std::end(kExistModes),
                     [&](const char* m) { return record.existMode == m; }))
        fail("exist mode must be OVERWRITE, SKIP, ASK or OVERWRITE ONLY IF NEWER");
    if (SameText(fields[3], "Yes"))
        record.uninstall = true;
    else if (!SameText(fields[3], "No"))
        fail("uninstall flag must be Yes or No");
    return record;
}

std::vector<std::string> ListFilesRecursive(const std::string& folder) {
    std::vector<std::string> out;
    ListInto(FullHostPath(folder), "", out);
    return out;
}

Project ReadProject(const std::string& projectDir, bool requireSetupFiles) {
    Project project;
    if (projectDir.empty()) throw BuildError("no project folder given");
    project.dir = FullHostPath(projectDir);
    if (!FolderExists(project.dir)) throw BuildError("project folder not found: " + project.dir);
    std::string iniPath = JoinHostPath(project.dir, "setup.ini");
    if (!FileExists(iniPath)) throw BuildError("project has no setup.ini: " + iniPath);

    std::vector<IniSection> sections = ParseIniText(ReadSmallFile(iniPath, kMaxSetupIni), iniPath);
    if (FindSection(sections, "Files") >= 0)
        throw BuildError(iniPath + ": [Files] is written by the builder; list the files to "
                                   "install in [Payload]");
    for (IniSection& section : sections) {
        if (!SameText(section.name, "Payload")) {
            project.sections.push_back(std::move(section));
            continue;
        }
        for (size_t i = 0; i < section.items.size(); ++i) {
            const int line = section.LineOf(i);
            try {
                PayloadRecord record = ParsePayloadRecord(section.items[i].second);
                record.line = line;
                AddPayload(project, record);
            } catch (const BuildError& e) {
                throw BuildError(iniPath + ":" + std::to_string(line) + ": " + e.what());
            }
        }
    }

    std::set<std::string> seen;
    for (PayloadFile& file : project.payload) {
        CheckDestination(file.destination);
        if (!seen.insert(UpperCase(file.destination)).second)
            throw BuildError("two payload files have the destination " + file.destination);
        file.size = FileSize64(file.sourcePath);
        project.payloadSize += file.size;
    }
    ReadSetupFolder(project, requireSetupFiles);
    return project;
}

} // namespace mksetup
