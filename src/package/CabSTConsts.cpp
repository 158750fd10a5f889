#include "package/CabSTConsts.h"

#include <windows.h>

namespace {

const char* const kFdiErrorTexts[] = {
    "No error",
    "Cabinet not found",
    "Cabinet file does not have the correct format",
    "Cabinet file has an unknown version number",
    "Cabinet file is corrupt",
    "Could not allocate enough memory",
    "Unknown compression type in a cabinet folder",
    "Failure decompressing data from a cabinet file",
    "Failure writing to target file",
    "Cabinets in a set do not have the same RESERVE sizes",
    "Cabinet returned on fdintNEXT_CABINET is incorrect",
    "FDI aborted",
};

} // namespace

const char* FdiErrorText(int32_t errorNumber) {
    if (errorNumber < 0 ||
        errorNumber >= static_cast<int32_t>(sizeof kFdiErrorTexts / sizeof kFdiErrorTexts[0]))
        return "FDI error";
    return kFdiErrorTexts[errorNumber];
}
