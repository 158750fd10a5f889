#include "items/ItemHandlers.h"

void WriteIniItem(RunContext&, const std::string&) {
    // The INI values kind is not built yet: its records are passed over.
}
