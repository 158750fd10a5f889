#include "items/ItemHandlers.h"

void CreateAssociation(RunContext&, const std::string&) {
    // The file associations kind is not built yet: its records are passed over.
}
