#include "items/ItemHandlers.h"

void CreateShortcut(RunContext&, const std::string&) {
    // The shortcuts kind is not built yet: its records are passed over.
}
