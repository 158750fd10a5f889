#include "Builder.h"

#include "CabWriter.h"
#include "Checks.h"
#include "FileIo.h"
#include "Project.h"
#include "common/SetupLayout.h"
#include "common/WinPath.h"

namespace mksetup {

namespace {

using qvcommon::kMaxSetupFile;
using qvcommon::kTrailerSearchFloor;
using qvcommon::kTrailerSize;

constexpr char kUninstallerInCab[] = "QVUninstall.exe";
constexpr char kUninstallerBeside[] = "uninstall.exe";

void CheckLimit(uint64_t total) {
    if (total > kMaxSetupFile)
        throw BuildError("the setup would be larger than " + std::to_string(kMaxSetupFile) +
                         " bytes, which the runtime cannot address");
}

std::string Beside(const std::string& program, const std::string& name) {
    const std::string folder = HostFolderOf(program);
    return folder.empty() ? name : JoinHostPath(folder, name);
}

std::string ResolveStub(const BuildOptions& options) {
    std::string stub = options.stubPath.empty() ? Beside(ProgramPath(), "setupstub.exe")
                                                : FullHostPath(options.stubPath);
    if (!FileExists(stub)) throw BuildError("runtime not found: " + stub);
    return stub;
}

// The uninstaller the setup carries: the project's own QVUninstall.exe, else the one
// given, else uninstall.exe beside the builder. Empty when there is none (a warning).
std::string ResolveUninstaller(const BuildOptions& options, const Project& project,
                               BuildReport& report) {
    for (const std::string& path : project.setupFiles)
        if (qvcommon::SameText(HostFileName(path), kUninstallerInCab)) return {};
    if (!options.uninstallerPath.empty()) {
        std::string given = FullHostPath(options.uninstallerPath);
        if (!FileExists(given)) throw BuildError("uninstaller not found: " + given);
        return given;
    }
    std::string beside = Beside(ProgramPath(), kUninstallerBeside);
    if (FileExists(beside)) return beside;
    report.warnings.push_back("no uninstaller: the setup folder has no " +
                              std::string(kUninstallerInCab) + " and there is no " + beside +
                              " (--uninstaller names one); the setup is built without it");
    return {};
}

// The configuration as written in the setup cabinet: the project's sections with
// the layout numbers filled in, and [Files] right after [Setup].
std::vector<IniSection> MakeConfiguration(const Project& project, const BuildReport& report) {
    std::vector<IniSection> sections = project.sections;
    int setupIndex = FindSection(sections, "Setup");
    if (setupIndex < 0) {
        sections.insert(sections.begin(), IniSection{"Setup", {}, 0});
        setupIndex = 0;
    }
    IniSection& setup = sections[static_cast<size_t>(setupIndex)];
    setup.Set("EngineSize", std::to_string(report.engineSize));
    setup.Set("TotalFiles", std::to_string(report.totalFiles));
    setup.Set("FilesSize", std::to_string(report.filesSize));

    IniSection files{"Files", {}, 0};
    for (size_t i = 0; i < project.payload.size(); ++i) {
        const PayloadFile& file = project.payload[i];
        std::string record = file.destination + "?" + std::to_string(report.cabinetSizes[i]) + "?" +
                             file.existMode + "?" + (file.uninstall ? "Yes" : "No");
        if (record.size() > kMaxIniValue)
            throw BuildError("payload destination too long: " + file.destination);
        files.items.emplace_back(std::to_string(i), record);
    }
    sections.insert(sections.begin() + setupIndex + 1, std::move(files));
    return sections;
}

uint64_t PackCabinet(OutputFile& out, const std::vector<CabEntry>& entries, const std::string& what,
                     const CabWriterOptions& cabOptions) {
    try {
        return AppendCabinet(out, entries, cabOptions);
    } catch (const std::exception& e) {
        throw BuildError("cannot pack " + what + ": " + e.what());
    }
}

} // namespace

BuildReport BuildSetup(const BuildOptions& options) {
    Project project = ReadProject(options.projectDir, options.requireSetupFiles);
    ApplyProjectChecks(project, options);
    // FilesSize is read back as a signed 32-bit integer.
    if (project.payloadSize > kMaxSetupFile)
        throw BuildError("the payload files total " + std::to_string(project.payloadSize) +
                         " bytes; at most " + std::to_string(kMaxSetupFile) + " are supported");
    std::string stub = ResolveStub(options);
    uint64_t stubSize = FileSize64(stub);
    if (stubSize == 0) throw BuildError("runtime is empty: " + stub);
    CheckLimit(stubSize);

    if (options.outputPath.empty()) throw BuildError("no output file given");
    std::string output = FullHostPath(options.outputPath);
    if (FolderExists(output)) throw BuildError("output is a folder: " + output);
    // Replacing a read-only file by renaming over it succeeds on some systems; a
    // read-only output is a request to keep it, so it is refused everywhere.
    if (IsReadOnlyFile(output))
        throw BuildError("cannot write " + output + ": the file is read-only");

    BuildReport report;
    report.totalFiles = static_cast<uint32_t>(project.payload.size());
    report.filesSize = project.payloadSize;
    const std::string uninstaller = ResolveUninstaller(options, project, report);

    TempOutput temp(output);
    OutputFile out;
    out.Open(temp.Path());

    out.Append(stub);
    if (out.Size() < kTrailerSearchFloor) out.WriteZeros(kTrailerSearchFloor - out.Size());
    CheckLimit(out.Size());
    report.engineSize = static_cast<uint32_t>(out.Size());

    BuildProgress progress;
    progress.totalFiles = report.totalFiles;
    progress.totalBytes = project.payloadSize;
    CabWriterOptions cabOptions;
    if (options.progress) {
        cabOptions.progress = [&](uint64_t bytes) {
            progress.bytesDone += bytes;
            options.progress(progress);
        };
    }
    for (const PayloadFile& file : project.payload) {
        const uint64_t size =
            PackCabinet(out, {{file.sourcePath, file.NameInCab()}}, file.sourcePath, cabOptions);
        CheckLimit(out.Size() + kTrailerSize);
        report.cabinetSizes.push_back(static_cast<uint32_t>(size));
        ++progress.filesDone;
        if (options.progress) options.progress(progress);
    }

    // The configuration is made here; its date and time are setup.ini's, so that
    // nothing of the moment of the build goes into the setup.
    CabEntry ini{JoinHostPath(project.dir, "setup.ini"), "qvsetup.ini"};
    ini.contents = FormatIniText(MakeConfiguration(project, report));
    std::vector<CabEntry> setupEntries{ini};
    for (const std::string& path : project.setupFiles)
        setupEntries.push_back({path, HostFileName(path)});
    if (!uninstaller.empty()) setupEntries.push_back({uninstaller, kUninstallerInCab});
    const uint64_t setupSize = PackCabinet(out, setupEntries, "the setup files", {});
    CheckLimit(out.Size() + kTrailerSize);
    report.setupCabinetSize = static_cast<uint32_t>(setupSize);

    std::string trailer = qvcommon::FormatTrailer(report.setupCabinetSize);
    out.Write(trailer.data(), trailer.size());
    report.setupFileSize = out.Size();
    out.Close();
    temp.Commit(output);
    return report;
}

} // namespace mksetup
