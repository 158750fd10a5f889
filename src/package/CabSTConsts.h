// CabSTConsts: the message texts of the cabinet layer.
#pragma once

#include "platform/Error.h"

#include <cstdint>
#include <string>

// Text of an FDI error number; any unknown number gives "FDI error".
const char* FdiErrorText(int32_t errorNumber);
