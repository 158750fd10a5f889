// File access of the builder, one interface on Windows and on Linux: host paths,
// folder listings, whole small files, streamed reads and writes, and a file's date,
// time and attributes as a cabinet stores them. FileIoWin32.cpp and FileIoPosix.cpp
// implement the host's half; no system header shows through here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mksetup {

#ifdef _WIN32
constexpr char kHostSeparator = '\\';
constexpr size_t kMaxHostPath = 260; // the ANSI file functions' limit
#else
constexpr char kHostSeparator = '/';
constexpr size_t kMaxHostPath = 4096;
#endif

// The code of the last failed system call (GetLastError, errno) and its text.
int LastSystemError();
std::string SystemErrorText(int code);

// ---- host paths ---------------------------------------------------------------------
// Input paths may use '\' or '/' on either host.

// The path with every '\' and '/' turned into the host's separator.
std::string HostPath(const std::string& path);
bool IsAbsoluteHostPath(const std::string& path);
// folder + separator + rel, rel's separators made the host's.
std::string JoinHostPath(const std::string& folder, const std::string& rel);
// The absolute form of a path (relative to the current folder), "." and ".." parts
// resolved, no trailing separator unless it is the root.
std::string FullHostPath(const std::string& path);
// The part before the last separator (the root stays the root).
std::string HostFolderOf(const std::string& path);
// The part after the last separator.
std::string HostFileName(const std::string& path);

bool FileExists(const std::string& path);   // an existing file, not a folder
bool FolderExists(const std::string& path); // an existing folder
bool IsReadOnlyFile(const std::string& path);
// Full path of the running program.
std::string ProgramPath();

struct FolderEntry {
    std::string name;
    bool folder = false;
};
// The entries of a folder in no particular order, without "." and "..", and without
// links to folders (they may lead back up the tree). Throws BuildError; a missing
// folder gives an empty list.
std::vector<FolderEntry> ListFolder(const std::string& folder);

// ---- whole files ----------------------------------------------------------------------

// Size of an existing file. Throws BuildError.
uint64_t FileSize64(const std::string& path);
// Reads a whole file of at most maxSize bytes. Throws BuildError.
std::string ReadSmallFile(const std::string& path, uint64_t maxSize);
// Writes (replaces) a whole file. Throws BuildError.
void WriteWholeFile(const std::string& path, const std::string& bytes);
// Deletes a file; failures are ignored.
void RemoveFile(const std::string& path);
// Deletes a folder tree, read-only files included. Failures are ignored.
void RemoveFolderTree(const std::string& path);

// ---- streams --------------------------------------------------------------------------

// A file's last-write time as a cabinet keeps it: the packed DOS date and time of
// local time, with the offset from UTC that holds now (as the system's own
// conversion of file times does), and its attributes read-only (0x01), hidden
// (0x02), system (0x04) and archive (0x20).
struct FileStamp {
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attributes = 0;
};

// Packs seconds since 1970-01-01 of local time into the DOS date and time format
// (two-second steps). Times before 1980 give 1980-01-01 00:00:00, times after 2107
// the last representable moment.
void PackDosDateTime(int64_t localSeconds, uint16_t& date, uint16_t& time);
// The offset of local time from UTC in seconds as it holds now.
int64_t LocalOffsetNow();

// A file opened for reading, closed when the object goes away.
class InputFile {
  public:
    explicit InputFile(const std::string& path); // throws BuildError
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Reads up to size bytes; fewer only at the end of the file. Throws BuildError.
    size_t Read(void* data, size_t size);
    uint64_t Size() const { return size_; }
    FileStamp Stamp() const { return stamp_; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    intptr_t handle_;
    uint64_t size_ = 0;
    FileStamp stamp_;
};

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
    // Overwrites bytes already written (a header completed afterwards); the next
    // Write goes on at the end.
    void WriteAt(uint64_t offset, const void* data, size_t size);
    // Appends the whole of another file, in blocks; returns the bytes appended.
    uint64_t Append(const std::string& path);
    void Close();
    uint64_t Size() const { return size_; }
    const std::string& Path() const { return path_; }

  private:
    void Seek(uint64_t offset);
    intptr_t handle_ = -1;
    std::string path_;
    uint64_t size_ = 0;
};

// A new file beside `output` that receives it while it is written; removed when the
// object goes away unless Commit moved it over the output.
class TempOutput {
  public:
    explicit TempOutput(const std::string& output); // throws BuildError
    ~TempOutput();
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;
    const std::string& Path() const { return path_; }
    void Commit(const std::string& output);

  private:
    std::string path_;
};

} // namespace mksetup
