#include "items/ItemHandlers.h"

void WriteRegistryItem(RunContext&, const std::string&) {
    // The registry entries kind is not built yet: its records are passed over.
}
