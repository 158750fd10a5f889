// TSTCabReader: extracts every file of a Microsoft Cabinet (and the following
// cabinets of a set) into a folder through the system's cabinet library (FDI),
// restoring date, time and attributes. Every failure becomes one ESTCabinet.
#pragma once

#include "package/CabIntf.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Raised for every failure of the cabinet layer; keeps the library's error record.
class ESTCabinet : public std::runtime_error {
public:
    ESTCabinet(const std::string& message, int32_t errorNumber, uint32_t osError, bool errorFlag,
               bool compressionSide = false)
        : std::runtime_error(message), ErrorNumber(errorNumber), OsError(osError),
          ErrorFlag(errorFlag), CompressionSide(compressionSide) {}
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

class TSTCabReader; // defined below; the event types refer to it as Sender

using TSTCabReaderCabinetInfoEvent = void (*)(void* user, TSTCabReader& sender,
                                              const std::string& aNextCabName,
                                              const std::string& aNextDiskName,
                                              const std::string& aCabPath, uint16_t aSetID,
                                              uint16_t aCabNo, bool& anAbort);
// ... the remaining five event types are declared by the implementation of this header.

class TSTCabReader {
public:
    explicit TSTCabReader(void* owner = nullptr);
    ~TSTCabReader();
    TSTCabReader(const TSTCabReader&) = delete;
    TSTCabReader& operator=(const TSTCabReader&) = delete;

    // Extracts all files of cabinetFile into destFolder. flags bit 0: only this
    // cabinet; clear: also the following cabinets of a set while their files exist.
    // Throws ESTCabinet on any failure.
    void ExtractFiles(const std::string& cabinetFile, const std::string& destFolder,
                      uint8_t flags = 0);

    TSTCabReaderOptions Options = 0;
};
