#include "Builder.h"

#include "CabWriter.h"
#include "FileIo.h"
#include "Project.h"
#include "package/SetupPackage.h"
#include "platform/FileUtil.h"

#include <windows.h>

#include <climits>

namespace mksetup {

namespace {

// The runtime keeps every offset and size of its own file in signed 32-bit integers.
constexpr uint64_t kMaxSetupFile = INT32_MAX;

// A file beside the output that receives the setup while it is written. It is
// deleted when the object goes away unless the build moved it over the output.
class TempOutput {
  public:
    explicit TempOutput(const std::string& output) {
        std::string folder = ExcludeTrailingBackslash(ExtractFilePath(output));
        char buf[MAX_PATH + 1];
        if (folder.empty() || !GetTempFileNameA(folder.c_str(), "mks", 0, buf))
            throw BuildError("cannot write " + output + ": " + SystemErrorText(GetLastError()));
        path_ = buf;
    }
    ~TempOutput() {
        if (path_.empty()) return;
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_.c_str());
    }
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;
    const std::string& Path() const { return path_; }
    void Commit(const std::string& output) {
        if (!MoveFileExA(path_.c_str(), output.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            throw BuildError("cannot write " + output + ": " + SystemErrorText(GetLastError()));
        path_.clear();
    }

  private:
    std::string path_;
};

void CheckLimit(uint64_t total) {
    if (total > kMaxSetupFile)
        throw BuildError("the setup would be larger than " + std::to_string(kMaxSetupFile) +
                         " bytes, which the runtime cannot address");
}

void PackCabinet(const std::string& cabPath, const std::vector<CabEntry>& entries,
                 const std::string& what) {
    try {
        WriteCabinet(cabPath, entries);
    } catch (const std::exception& e) {
        throw BuildError("cannot pack " + what + ": " + e.what());
    }
}

std::string ResolveStub(const BuildOptions& options) {
    std::string stub = options.stubPath.empty()
                           ? JoinPath(ExtractFilePath(ModulePath()), "setupstub.exe")
                           : FullPath(options.stubPath);
    if (!FileExists(stub)) throw BuildError("runtime not found: " + stub);
    return stub;
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

} // namespace

BuildReport BuildSetup(const BuildOptions& options) {
    Project project = ReadProject(options.projectDir, options.requireSetupFiles);
    // FilesSize is read back as a signed 32-bit integer.
    if (project.payloadSize > uint64_t{INT32_MAX})
        throw BuildError("the payload files total " + std::to_string(project.payloadSize) +
                         " bytes; at most " + std::to_string(INT32_MAX) + " are supported");
    std::string stub = ResolveStub(options);
    uint64_t stubSize = FileSize64(stub);
    if (stubSize == 0) throw BuildError("runtime is empty: " + stub);
    CheckLimit(stubSize);

    if (options.outputPath.empty()) throw BuildError("no output file given");
    std::string output = FullPath(options.outputPath);
    if (DirectoryExists(output)) throw BuildError("output is a folder: " + output);
    // Replacing a read-only file by renaming over it succeeds on some systems; a
    // read-only output is a request to keep it, so it is refused everywhere.
    DWORD attrs = GetFileAttributesA(output.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY))
        throw BuildError("cannot write " + output + ": the file is read-only");

    BuildReport report;
    report.totalFiles = static_cast<uint32_t>(project.payload.size());
    report.filesSize = project.payloadSize;

    WorkFolder work;
    TempOutput temp(output);
    OutputFile out;
    out.Open(temp.Path());

    out.Append(stub);
    if (out.Size() < kTrailerSearchFloor) out.WriteZeros(kTrailerSearchFloor - out.Size());
    CheckLimit(out.Size());
    report.engineSize = static_cast<uint32_t>(out.Size());

    const std::string payloadCab = work.Path() + "\\payload.cab";
    for (const PayloadFile& file : project.payload) {
        PackCabinet(payloadCab, {{file.sourcePath, file.NameInCab()}}, file.sourcePath);
        uint64_t size = FileSize64(payloadCab);
        CheckLimit(out.Size() + size + kTrailerSize);
        out.Append(payloadCab);
        DeleteFileA(payloadCab.c_str());
        report.cabinetSizes.push_back(static_cast<uint32_t>(size));
    }

    const std::string iniPath = work.Path() + "\\qvsetup.ini";
    WriteWholeFile(iniPath, FormatIniText(MakeConfiguration(project, report)));
    std::vector<CabEntry> setupEntries{{iniPath, "qvsetup.ini"}};
    for (const std::string& path : project.setupFiles)
        setupEntries.push_back({path, ExtractFileName(path)});
    const std::string setupCab = work.Path() + "\\qvsetup.cab";
    PackCabinet(setupCab, setupEntries, "the setup files");
    uint64_t setupSize = FileSize64(setupCab);
    CheckLimit(out.Size() + setupSize + kTrailerSize);
    out.Append(setupCab);
    report.setupCabinetSize = static_cast<uint32_t>(setupSize);

    std::string trailer = FormatTrailer(report.setupCabinetSize);
    out.Write(trailer.data(), trailer.size());
    report.setupFileSize = out.Size();
    out.Close();
    temp.Commit(output);
    return report;
}

} // namespace mksetup
