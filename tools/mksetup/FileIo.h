// File helpers of the builder: whole small files, file sizes, a write handle that
// streams other files into it, and a private work folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace mksetup {

// The system's text for an error code, without the trailing line break.
std::string SystemErrorText(DWORD code);

// Reads a whole file of at most maxSize bytes. Throws BuildError.
std::string ReadSmallFile(const std::string& path, uint64_t maxSize);
// Writes (replaces) a whole file. Throws BuildError.
void WriteWholeFile(const std::string& path, const std::string& bytes);
// Size of an existing file. Throws BuildError.
uint64_t FileSize64(const std::string& path);

// A file opened for writing; closed when the object goes away.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or empties an existing one, for writing.
    void Open(const std::string& path);
    void Write(const void* data, size_t size);
    void WriteZeros(uint64_t count);
    // Appends the whole of another file, in blocks; returns the bytes appended.
    uint64_t Append(const std::string& path);
    void Close();
    uint64_t Size() const { return size_; }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string path_;
    uint64_t size_ = 0;
};

// Deletes a folder tree, read-only files included. Failures are ignored.
void RemoveFolderTree(const std::string& path);

// A new, empty folder below the user's temporary folder, removed with everything
// in it when the object goes away.
class WorkFolder {
  public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

} // namespace mksetup
