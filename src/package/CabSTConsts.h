// CabSTConsts: the message texts of the cabinet layer.
#pragma once

#include <cstdint>
#include <string>

// Text of an FDI error number; any unknown number gives "FDI error".
const char* FdiErrorText(int32_t errorNumber);

// The system's own message for an OS error code, without trailing line break or
// period; empty when the system has no text for it.
std::string SystemErrorMessage(uint32_t osError);
