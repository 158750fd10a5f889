#include "common/SetupLayout.h"

namespace qvcommon {

bool ParseTrailerNumber(const char* digits, uint32_t& value) {
    uint64_t v = 0;
    for (int i = 0; i < 10; ++i) {
        if (digits[i] < '0' || digits[i] > '9') return false;
        v = v * 10 + static_cast<uint64_t>(digits[i] - '0');
    }
    if (v > kMaxSetupFile) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

std::string FormatTrailer(uint32_t cabSize) {
    std::string digits(10, '0');
    for (size_t i = digits.size(); i-- > 0 && cabSize > 0; cabSize /= 10)
        digits[i] = static_cast<char>('0' + cabSize % 10);
    return std::string(kTrailerMagic) + digits;
}

} // namespace qvcommon
