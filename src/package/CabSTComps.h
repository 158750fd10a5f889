// TSTCabReader: extracts every file of a Microsoft Cabinet (and the following
// cabinets of a set) into a folder through the system's cabinet library (FDI),
// restoring date, time and attributes. Every failure becomes one ESTCabinet.
#pragma once

#include "package/CabIntf.h"
#include "platform/Error.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

// Raised for every failure of the cabinet layer; keeps the library's error record.
class ESTCabinet : public RuntimeError {
  public:
    ESTCabinet(const std::string& message, int32_t errorNumber, uint32_t osError, bool errorFlag,
               bool compressionSide = false)
        : RuntimeError(message), ErrorNumber(errorNumber), OsError(osError), ErrorFlag(errorFlag),
          CompressionSide(compressionSide) {}
    int32_t ErrorNumber;
    uint32_t OsError;
    bool ErrorFlag;
    bool CompressionSide; // the error comes from FCI rather than FDI
};

enum class TSTCabReaderOption : uint8_t {
    croExecuteOnExtract = 1,
    croDontOverwriteReadOnlyFiles = 2,
};
using TSTCabReaderOptions = uint8_t; // set of TSTCabReaderOption bits

// The option bits as set members: reader.Options = croDontOverwriteReadOnlyFiles;
inline constexpr TSTCabReaderOptions croExecuteOnExtract =
    static_cast<TSTCabReaderOptions>(TSTCabReaderOption::croExecuteOnExtract);
inline constexpr TSTCabReaderOptions croDontOverwriteReadOnlyFiles =
    static_cast<TSTCabReaderOptions>(TSTCabReaderOption::croDontOverwriteReadOnlyFiles);

// The FDI interface's own types, as the library publishes them.
using TFDIERROR = FDIERROR;
using TFDINOTIFICATIONTYPE = FDINOTIFICATIONTYPE;
using TFDINOTIFICATION = FDINOTIFICATION;

class TSTCabReader; // the Sender of every event

// Events. "const" texts are read-only, references are values the handler
// may change. An event that throws aborts the extraction: the exception is kept,
// the library is told to abort, and the exception is rethrown by ExtractFiles.
using TSTCabReaderCabinetInfoEvent = std::function<void(
    TSTCabReader& sender, const std::string& aNextCabName, const std::string& aNextDiskName,
    const std::string& aCabPath, uint16_t aSetID, uint16_t aCabNo, bool& anAbort)>;
using TSTCabReaderCopyFileEvent =
    std::function<void(TSTCabReader& sender, const std::string& aSrcFileName,
                       int32_t anUncompressedSize, uint16_t aDate, uint16_t aTime, uint16_t anAttrs,
                       uint16_t aFolderNo, std::string& aDstFullFileName, bool& anAbort)>;
using TSTCabReaderCopyPartialFileEvent = std::function<void(
    TSTCabReader& sender, const std::string& aSrcFileName, const std::string& aStartCabName,
    const std::string& aStartDiskName, const std::string& aDstFullFileName, bool& anAbort)>;
using TSTCabReaderCloseFileEvent =
    std::function<void(TSTCabReader& sender, const std::string& aSrcFileName, uint16_t aDate,
                       uint16_t aTime, uint16_t anAttrs, uint16_t aFolderNo, bool& anExec,
                       const std::string& aDstFullFileName, bool& anAbort)>;
using TSTCabReaderNextCabinetEvent = std::function<void(
    TSTCabReader& sender, const std::string& aCabName, const std::string& aDiskName,
    std::string& aCabPath, TFDIERROR anError, bool& anAbort)>;
using TSTCabReaderUnrecognizedNotifyEvent =
    std::function<void(TSTCabReader& sender, TFDINOTIFICATIONTYPE aNotifyType,
                       TFDINOTIFICATION& aNotify, int32_t& aResult)>;

class TSTCabReader {
  public:
    explicit TSTCabReader(void* owner = nullptr);
    // Destroys the FDI context; a failure to do so is ignored (destructors do not throw).
    ~TSTCabReader();
    TSTCabReader(const TSTCabReader&) = delete;
    TSTCabReader& operator=(const TSTCabReader&) = delete;

    // Extracts all files of cabinetFile into destFolder. flags bit 0: only this
    // cabinet; clear: also the following cabinets of a set while their files exist.
    // Throws ESTCabinet on any failure. A name stored in the cabinet that would leave
    // destFolder (absolute, with a drive or colon, rooted, UNC, or with ".."
    // components) is refused: the extraction aborts with ESTCabinet. A set is only
    // followed to cabinets in the same folder: a next cabinet named with a folder
    // part, drive or dots ends the set, and a file whose data runs on into such a
    // cabinet fails the extraction.
    void ExtractFiles(const std::string& cabinetFile, const std::string& destFolder,
                      uint8_t flags = 0);

    // Told the furthest byte of the cabinet read so far; false stops the extraction
    // (it then fails with ESTCabinet).
    using ReadProgress = std::function<bool(uint32_t furthest)>;
    // Extracts the one cabinet stored at [offset, offset + size) of container (open
    // for reading, not taken over; the range may run past the end of the file, which
    // then reads as a cut cabinet; data said to go on in a next cabinet fails the
    // extraction). The cabinet is read in place: a setup file holds
    // its cabinets back to back, and copying each one out first would double the bytes
    // moved. containerPath names the container in messages.
    void ExtractRange(HANDLE container, const std::string& containerPath, uint64_t offset,
                      uint32_t size, const std::string& destFolder,
                      const ReadProgress& onRead = nullptr);

    void* Owner() const { return owner_; }
    // Paths of the extraction in progress (valid inside the events).
    const std::string& CabinetFile() const { return cabinetFile_; }
    const std::string& DestinationFolder() const { return destFolder_; }
    const std::string& CurrentCabinet() const { return currentCabinet_; }
    const std::string& NextCabinet() const { return nextCabinet_; }
    const std::string& NextDisk() const { return nextDisk_; }

    // Published properties, in their published order.
    TSTCabReaderOptions Options = 0;
    TSTCabReaderCabinetInfoEvent OnCabinetInfo;
    TSTCabReaderCopyFileEvent OnCopyFile;
    TSTCabReaderCopyPartialFileEvent OnCopyPartialFile;
    TSTCabReaderCloseFileEvent OnCloseFile;
    TSTCabReaderNextCabinetEvent OnNextCabinet;
    TSTCabReaderUnrecognizedNotifyEvent OnUnrecognizedNotify;

  private:
    static INT_PTR DIAMONDAPI Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);
    INT_PTR HandleNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n);
    INT_PTR DoCabinetInfo(FDINOTIFICATION& n);
    INT_PTR DoPartialFile(FDINOTIFICATION& n);
    INT_PTR DoCopyFile(FDINOTIFICATION& n);
    INT_PTR DoCloseFile(FDINOTIFICATION& n);
    INT_PTR DoNextCabinet(FDINOTIFICATION& n);
    void CreateContext();
    [[noreturn]] void RaiseError();

    void* owner_;
    HFDI context_ = nullptr;
    ERF error_{};
    std::string cabinetFile_;
    std::string destFolder_;
    std::string currentCabinet_;
    std::string nextCabinet_;
    std::string nextDisk_;
    std::string continuationPath_;
    bool continuationSeen_ = false;
    // The destination files FDI holds open: the name stored in the cabinet, where it
    // goes, and whether that file was there before it was opened.
    struct OpenFile {
        std::string name, dst;
        bool existed;
    };
    std::vector<OpenFile> open_;
    std::exception_ptr pending_; // an exception caught inside a callback
    // A notification of this copy has stopped it, and the last OS error it left.
    bool aborted_ = false;
    uint32_t abortError_ = 0;
};

// True when a name stored in a cabinet stays inside the destination folder: relative,
// no drive or colon, not rooted, no component made only of dots (".." and its
// Win32-normalised look-alikes such as "..." or ". ."), either slash.
bool IsSafeCabinetName(const std::string& name);
