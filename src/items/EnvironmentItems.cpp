#include "items/ItemHandlers.h"

void WriteEnvironmentItem(RunContext&, const std::string&) {
    // The environment variables kind is not built yet: its records are passed over.
}
